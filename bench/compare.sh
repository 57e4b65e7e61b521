#!/usr/bin/env bash
# End-to-end benchmark: the kmeans binary side by side with the pipeline a
# Python user would write for the same job (pandas.read_csv, then
# sklearn.cluster.KMeans, then the labels written one per line).
#
# Usage: bench/compare.sh path/to/kmeans [ROWS]
#
# ROWS (default 2000000, about 136 MB) rows of 8 values drawn from 8 Gaussian
# groups are generated once, deterministically, and cached in $BENCH_DIR
# (default /tmp/kmeans-bench). Every case runs 3 times; the table shows the
# median wall time and the largest peak resident memory of the 3 runs
# (GNU /usr/bin/time). The table goes to standard output as Markdown, progress
# to standard error, so `bench/compare.sh ... >result.md` keeps just the table.
#
# Needs: GNU time at /usr/bin/time, /usr/bin/python3 with numpy (data
# generation). The peer pipeline also needs pandas and scikit-learn; without
# them it is skipped with a note. A key pressed on the terminal cancels a
# kmeans run (and so the benchmark): leave the terminal alone while it runs.
set -euo pipefail
export LC_ALL=C

die() { echo "compare.sh: $*" >&2; exit 1; }

[[ $# -ge 1 && $# -le 2 ]] || { echo "usage: bench/compare.sh path/to/kmeans [ROWS]" >&2; exit 2; }
[[ -f $1 && -x $1 ]] || die "no executable kmeans binary at '$1' (build it first, see README.md)"
bin=$(realpath "$1")
rows=${2:-2000000}
[[ $rows =~ ^[1-9][0-9]{0,9}$ ]] || die "ROWS must be a positive whole number, not '$rows'"
py=/usr/bin/python3
[[ -x /usr/bin/time ]] || die "GNU time is needed at /usr/bin/time (Debian package 'time')"
[[ -x $py ]] || die "$py is needed to generate the data"
"$py" -c 'import numpy' 2>/dev/null || die "$py cannot import numpy (Debian package python3-numpy)"

# Nothing from the caller's environment may change the kmeans runs: the
# program appends switches from the variable named after it (any case).
while IFS= read -r var; do
  [[ ${var^^} == KMEANS || ${var^^} == KMEANS_THREADS || ${var^^} == KMEANS_MEMORY ]] && unset "$var"
done < <(compgen -e)

# ---------------------------------------------------------------- data ----
# The file depends only on ROWS and this generator: a fixed-seed PCG64 stream,
# values printed with Python's correctly rounded "%.6g". Its SHA-256 is printed
# so files from two machines can be compared. Change the "v1" tag whenever the
# generator changes, so an old cached file is not reused.
cache=${BENCH_DIR:-/tmp/kmeans-bench}
mkdir -p "$cache"
data=$cache/gauss8-v1-$rows.dat
if [[ ! -s $data || ! -s $data.sha256 ]]; then
  echo "Generating $data ..." >&2
  tmp=$data.tmp.$$
  "$py" - "$tmp" "$rows" <<'PY'
import hashlib, sys
import numpy as np

out, rows = sys.argv[1], int(sys.argv[2])
# Group g is centred at 4 * (bit d%3 of g) in dimension d: the 8 corners of a
# cube (edge 4, sd 1 around each), every corner repeated over the 8 values.
centres = 4.0 * ((np.arange(8)[:, None] >> (np.arange(8)[None, :] % 3)) & 1)
group_seed, noise_seed = np.random.SeedSequence(20240601).spawn(2)
groups = np.random.Generator(np.random.PCG64(group_seed))
noise = np.random.Generator(np.random.PCG64(noise_seed))
line = " ".join(["%.6g"] * 8) + "\n"
digest = hashlib.sha256()
chunk = 100000
with open(out, "w") as f:
    for start in range(0, rows, chunk):
        n = min(chunk, rows - start)
        x = centres[groups.integers(0, 8, n)] + noise.standard_normal((n, 8))
        text = (line * n) % tuple(x.ravel().tolist())
        f.write(text)
        digest.update(text.encode())
with open(out + ".sha256", "w") as f:
    f.write(digest.hexdigest() + "\n")
PY
  mv -f "$tmp.sha256" "$data.sha256"
  mv -f "$tmp" "$data"
fi
bytes=$(stat -c %s "$data")
sha=$(cat "$data.sha256")

# ------------------------------------------------------------- helpers ----
work=$(mktemp -d "${TMPDIR:-/tmp}/kmeans-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
# kmeans writes its results beside the data file: give it a name in the
# scratch directory so the cache stays clean.
ln -s "$data" "$work/BENCH.DAT"
cd "$work"

names=() secs=() peaks=() ks=() notes=()
total_cases=0 done_cases=0

# measure NAME K NOTE COMMAND...: runs COMMAND 3 times (standard output to
# out.txt, standard error to err.txt) and records the median wall time and the
# largest peak resident set. K is the number of clusters the case is compared
# on ("-" for none). Stops the benchmark when a run fails.
measure() {
  local name=$1 k=$2 note=$3 i s kb peak=0 times=()
  shift 3
  done_cases=$((done_cases + 1))
  printf '[%2d/%d] %-40s' "$done_cases" "$total_cases" "$name" >&2
  for i in 1 2 3; do
    if ! /usr/bin/time -o time.txt -f '%e %M' "$@" >out.txt 2>err.txt; then
      echo >&2
      echo "compare.sh: run $i of '$name' failed: $*" >&2
      tail -n 5 time.txt err.txt out.txt >&2 || true
      exit 1
    fi
    read -r s kb <time.txt
    times+=("$s")
    ((kb > peak)) && peak=$kb
  done
  s=$(printf '%s\n' "${times[@]}" | sort -g | sed -n 2p)
  printf ' %8.2f s  %s\n' "$s" "(${times[*]})" >&2
  names+=("$name") secs+=("$s") ks+=("$k") notes+=("$note")
  peaks+=("$(awk -v kb="$peak" 'BEGIN { printf "%.0f", kb * 1024 / 1e6 }')")
}

# expect_rows FILE: fails unless FILE has one line per data row.
expect_rows() {
  local n
  n=$(wc -l <"$1")
  [[ $n -eq $rows ]] || die "$1 has $n lines, expected $rows"
}

# -------------------------------------------------------------- machine ----
cpu=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo | head -n 1)
mem=$(awk '/^MemTotal:/ { printf "%.1f GB", $2 * 1024 / 1e9 }' /proc/meminfo)
version=$("$bin" </dev/null 2>&1 | grep -m 1 -i 'version' | sed 's/^[[:space:]]*//' || true)

peer=yes
peer_versions=
if ! "$py" -c 'import pandas, sklearn.cluster' 2>/dev/null; then
  peer=
else
  peer_versions=$("$py" -c 'import sys, numpy, pandas, sklearn
print("Python %d.%d.%d, numpy %s, pandas %s, scikit-learn %s" % (sys.version_info[:3] + (numpy.__version__, pandas.__version__, sklearn.__version__)))')
  cat >peer.py <<'PY'
# The peer pipeline: load, cluster, write one label per row.
import sys
import numpy
import pandas
from sklearn.cluster import KMeans

data, k, iterations, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
X = pandas.read_csv(data, sep=' ', header=None, dtype=numpy.float32)
km = KMeans(n_clusters=k, init='random', n_init=1, max_iter=iterations, tol=0,
            algorithm='lloyd', random_state=0).fit(X)
with open(out, 'w') as f:
    f.write('\n'.join(map(str, km.labels_.tolist())) + '\n')

# Not part of the pipeline: what the benchmark reports beside the time.
try:
    from threadpoolctl import threadpool_info
    threads = max(p['num_threads'] for p in threadpool_info() if p['user_api'] == 'openmp')
except Exception:
    threads = '?'
print('iterations', km.n_iter_, 'threads', threads)
PY
fi

# ---------------------------------------------------------------- runs ----
total_cases=16
[[ -n $peer ]] && total_cases=$((total_cases + 5))
echo "Data: $data ($bytes bytes); key presses here cancel kmeans runs." >&2

# Centres for the Recall cases, learned once; this run also brings the file
# into the page cache before anything is timed.
"$bin" BENCH.DAT -Q3 -K8 -R10 >/dev/null 2>err.txt || { cat err.txt >&2; die "learning the Recall centres failed"; }
expect_rows BENCH.KTF
cp BENCH.KMC CENTRES.KMC

# kmeans_cases NAME K SWITCHES...: the case as it is, with one thread, and
# with the data streamed from the file however much memory there is.
kmeans_cases() {
  local name=$1 k=$2
  shift 2
  measure "$name" "$k" "" "$bin" BENCH.DAT -Q3 "$@"
  measure "$name, 1 thread" "$k" "KMEANS_THREADS=1" env KMEANS_THREADS=1 "$bin" BENCH.DAT -Q3 "$@"
  measure "$name, streaming" "$k" "KMEANS_MEMORY=0" env KMEANS_MEMORY=0 "$bin" BENCH.DAT -Q3 "$@"
}

kmeans_cases "SKM -K8 -R10" 8 -K8 -R10
skm_q3=${secs[0]}
measure "SKM -K8 -R10, default quiet level" 8 "" "$bin" BENCH.DAT -K8 -R10
skm_default=${secs[-1]}
notes[-1]="without -Q3: $(awk -v a="$skm_default" -v b="$skm_q3" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "n/a" }') the -Q3 time"
kmeans_cases "AKM -A -K8" 8 -A -K8
kmeans_cases "AKMDI -I -K20" - -I -K20
kmeans_cases "SKM -K100 -R3" 100 -K100 -R3
kmeans_cases "Recall, 8 centres" 8 +CENTRES
expect_rows BENCH.KMR

if [[ -n $peer ]]; then
  # OMP_NUM_THREADS is what limits scikit-learn's k-means loops (OpenMP);
  # the BLAS variables keep any BLAS pool at the same size.
  for k in 8 100; do
    iterations=10
    [[ $k == 100 ]] && iterations=3
    for t in 1 2; do
      plural=s
      [[ $t == 1 ]] && plural=
      measure "peer K=$k max_iter=$iterations, $t thread$plural" "$k" "" \
        env OMP_NUM_THREADS=$t OPENBLAS_NUM_THREADS=$t MKL_NUM_THREADS=$t \
        "$py" peer.py BENCH.DAT "$k" "$iterations" labels.txt
      expect_rows labels.txt
      read -r _ ran _ got <out.txt
      notes[-1]="$ran iterations run"
      [[ $got == "$t" ]] || notes[-1]+="; scikit-learn used $got threads"
      ks[-1]=peer$k
    done
  done
  measure "peer start-up only (imports)" - "included in every peer time" \
    "$py" -c 'import numpy, pandas, sklearn.cluster'
fi

# --------------------------------------------------------------- table ----
# fastest_peer K: the smallest median time among the peer cases for K.
fastest_peer() {
  local i best=
  for i in "${!names[@]}"; do
    [[ ${ks[i]} == "peer$1" ]] || continue
    if [[ -z $best ]] || awk -v a="${secs[i]}" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=${secs[i]}
    fi
  done
  echo "$best"
}

echo
echo "Machine: $(nproc) CPUs, ${cpu:-$(uname -m)}, $mem memory, $(uname -sr)"
echo "kmeans: ${version:-(no version line)} ($bin)"
echo "Data: $rows rows x 8 values, 8 Gaussian groups, $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB, sha256 ${sha:0:16}"
if [[ -n $peer ]]; then
  echo "Peer: $peer_versions"
else
  echo "Peer: skipped, $py cannot import pandas and sklearn (Debian: python3-pandas python3-sklearn)"
fi
echo "Median wall time of 3 runs; peak MB = largest peak resident set of the 3 (10^6 bytes)."
echo "kmeans runs use -Q3 unless noted; 'vs peer' = kmeans time / fastest peer time with the same K."
echo
echo "| case | median s | peak MB | vs peer | notes |"
echo "|---|---:|---:|---:|---|"
for i in "${!names[@]}"; do
  ratio=
  if [[ ${ks[i]} =~ ^[0-9]+$ ]]; then
    best=$(fastest_peer "${ks[i]}")
    ratio=$(awk -v a="${secs[i]}" -v b="$best" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "n/a" }')
  fi
  echo "| ${names[i]} | ${secs[i]} | ${peaks[i]} | $ratio | ${notes[i]} |"
done
