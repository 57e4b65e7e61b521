#!/usr/bin/env bash
# End-to-end benchmark: the kmeans binary side by side with the pipeline a
# Python user would write for the same job (pandas.read_csv, then
# sklearn.cluster.KMeans, then the labels written one per line).
#
# Usage: bench/compare.sh path/to/kmeans [--quick]
#
# Three data files are generated once, deterministically, and cached in
# $BENCH_DIR (default /tmp/kmeans-bench):
#   gauss8   2,000,000 rows x 8 values, 8 Gaussian groups (136 MB)
#   big8    20,000,000 rows x 8 values, the same groups (1.4 GB)
#   wide128    100,000 rows x 128 values, 64 Gaussian groups (120 MB)
# (--quick: a tenth of the rows each, for a check of the script itself.)
# Every case runs 3 times; the table shows the median wall time and the
# largest peak resident memory of the 3 runs (GNU /usr/bin/time), and the
# ratio to the fastest peer run (1 or 2 threads) with the same file, K and
# iterations. The table goes to standard output as Markdown, progress to
# standard error, so `bench/compare.sh ... >result.md` keeps just the table.
#
# The peer runs scikit-learn's KMeans(init='random', n_init=1, max_iter=R,
# tol=0, algorithm='lloyd') on float32 data, with OpenBLAS (Debian:
# libopenblas0-pthread) as it comes: OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE
# are unset for the peer's command, so it runs its fastest kernels.
#
# Needs: GNU time at /usr/bin/time, /usr/bin/python3 with numpy (data
# generation). The peer pipeline also needs pandas and scikit-learn; without
# them it is skipped with a note. A key pressed on the terminal cancels a
# kmeans run (and so the benchmark): leave the terminal alone while it runs.
set -euo pipefail
export LC_ALL=C

die() { echo "compare.sh: $*" >&2; exit 1; }

[[ $# -ge 1 && $# -le 2 ]] || { echo "usage: bench/compare.sh path/to/kmeans [--quick]" >&2; exit 2; }
[[ -f $1 && -x $1 ]] || die "no executable kmeans binary at '$1' (build it first, see README.md)"
bin=$(realpath "$1")
scale=1
if [[ $# -eq 2 ]]; then
  [[ $2 == --quick ]] || die "the second argument can only be --quick, not '$2'"
  scale=10
fi
py=/usr/bin/python3
[[ -x /usr/bin/time ]] || die "GNU time is needed at /usr/bin/time (Debian package 'time')"
[[ -x $py ]] || die "$py is needed to generate the data"
"$py" -c 'import numpy' 2>/dev/null || die "$py cannot import numpy (Debian package python3-numpy)"

# Nothing from the caller's environment may change the kmeans runs: the
# program appends switches from the variable named after it (any case), and
# the KMEANS_ variables set how it works.
while IFS= read -r var; do
  [[ ${var^^} == KMEANS || ${var^^} == KMEANS_* ]] && unset "$var"
done < <(compgen -e)

# ---------------------------------------------------------------- data ----
# A file depends only on its name, its size and this generator: fixed-seed
# PCG64 streams, values printed with Python's correctly rounded "%.6g". Its
# SHA-256 is printed so files from two machines can be compared. Change the
# "v1" tag whenever the generator changes, so an old cached file is not
# reused.
cache=${BENCH_DIR:-/tmp/kmeans-bench}
mkdir -p "$cache"

# dataset KIND ROWS: the path of the file, generated when missing. KIND is
# gauss8 (8 groups at the corners of a cube of edge 4, sd 1, 8 values) or
# wide128 (64 groups uniform in [0, 10]^128, sd 1, 128 values).
dataset() {
  local kind=$1 rows=$2 file tmp
  file=$cache/$kind-v1-$rows.dat
  if [[ ! -s $file || ! -s $file.sha256 ]]; then
    echo "Generating $file ..." >&2
    tmp=$file.tmp.$$
    "$py" - "$tmp" "$kind" "$rows" <<'PY'
import hashlib, sys
import numpy as np

out, kind, rows = sys.argv[1], sys.argv[2], int(sys.argv[3])
if kind == "gauss8":
    # Group g is centred at 4 * (bit d%3 of g) in dimension d: the 8 corners
    # of a cube (edge 4, sd 1 around each), every corner repeated over the 8
    # values.
    centres = 4.0 * ((np.arange(8)[:, None] >> (np.arange(8)[None, :] % 3)) & 1)
    group_seed, noise_seed = np.random.SeedSequence(20240601).spawn(2)
else:
    centre_seed, group_seed, noise_seed = np.random.SeedSequence(20261209).spawn(3)
    centres = 10.0 * np.random.Generator(np.random.PCG64(centre_seed)).random((64, 128))
groups = np.random.Generator(np.random.PCG64(group_seed))
noise = np.random.Generator(np.random.PCG64(noise_seed))
k, width = centres.shape
line = " ".join(["%.6g"] * width) + "\n"
digest = hashlib.sha256()
chunk = 100000 if width <= 8 else 10000
with open(out, "w") as f:
    for start in range(0, rows, chunk):
        n = min(chunk, rows - start)
        x = centres[groups.integers(0, k, n)] + noise.standard_normal((n, width))
        text = (line * n) % tuple(x.ravel().tolist())
        f.write(text)
        digest.update(text.encode())
with open(out + ".sha256", "w") as f:
    f.write(digest.hexdigest() + "\n")
PY
    mv -f "$tmp.sha256" "$file.sha256"
    mv -f "$tmp" "$file"
  fi
  echo "$file"
}

rows8=$((2000000 / scale))
rows_big=$((20000000 / scale))
rows_wide=$((100000 / scale))
# short ROWS: 2000000 as 2M, 100000 as 100k.
short() { awk -v n="$1" 'BEGIN { if (n % 1000000 == 0) printf "%dM", n / 1000000; else if (n % 1000 == 0) printf "%dk", n / 1000; else print n }'; }
g8="$(short "$rows8") x 8" b8="$(short "$rows_big") x 8" w128="$(short "$rows_wide") x 128"
gauss8=$(dataset gauss8 "$rows8")
big8=$(dataset gauss8 "$rows_big")
wide128=$(dataset wide128 "$rows_wide")

# ------------------------------------------------------------- helpers ----
work=$(mktemp -d "${TMPDIR:-/tmp}/kmeans-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
# kmeans writes its results beside the data file: give each file a name in
# the scratch directory so the cache stays clean.
ln -s "$gauss8" "$work/G8.DAT"
ln -s "$big8" "$work/BIG8.DAT"
ln -s "$wide128" "$work/W128.DAT"
cd "$work"

names=() secs=() peaks=() keys=() notes=() refs=()
total_cases=0 done_cases=0

# measure NAME KEY NOTE COMMAND...: runs COMMAND 3 times (standard output
# to out.txt, standard error to err.txt) and records the median wall time
# and the largest peak resident set. KEY names the file, K and iterations
# the case is compared on ("-" for none). Stops the benchmark when a run
# fails.
measure() {
  local name=$1 key=$2 note=$3 i s kb peak=0 times=()
  shift 3
  done_cases=$((done_cases + 1))
  printf '[%2d/%d] %-48s' "$done_cases" "$total_cases" "$name" >&2
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
  names+=("$name") secs+=("$s") keys+=("$key") notes+=("$note") refs+=("")
  peaks+=("$(awk -v kb="$peak" 'BEGIN { printf "%.0f", kb * 1024 / 1e6 }')")
}

# expect_rows FILE ROWS: fails unless FILE has one line per data row.
expect_rows() {
  local n
  n=$(wc -l <"$1")
  [[ $n -eq $2 ]] || die "$1 has $n lines, expected $2"
}

# -------------------------------------------------------------- machine ----
cpu=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo | head -n 1)
mem=$(awk '/^MemTotal:/ { printf "%.1f GB", $2 * 1024 / 1e9 }' /proc/meminfo)
version=$("$bin" --version 2>/dev/null || "$bin" </dev/null 2>&1 | grep -m 1 -i 'version' | sed 's/^[[:space:]]*//' || true)

peer=yes
peer_versions=
if ! "$py" -c 'import pandas, sklearn.cluster' 2>/dev/null; then
  peer=
else
  peer_versions=$(env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE "$py" -c 'import sys, numpy, pandas, sklearn
blas = "?"
try:
    from threadpoolctl import threadpool_info
    blas = ", ".join("%s %s" % (p["internal_api"], p.get("version")) for p in threadpool_info() if p["user_api"] == "blas")
except Exception:
    pass
print("Python %d.%d.%d, numpy %s, pandas %s, scikit-learn %s, BLAS %s" % (sys.version_info[:3] + (numpy.__version__, pandas.__version__, sklearn.__version__, blas)))')
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
# The peer cases: FILE K ITERATIONS ROWS, each with 1 and 2 threads.
peer_cases=("G8.DAT 8 10 $rows8" "G8.DAT 100 30 $rows8" "W128.DAT 100 10 $rows_wide" "W128.DAT 256 20 $rows_wide")
total_cases=14
[[ -n $peer ]] && total_cases=$((total_cases + 2 * ${#peer_cases[@]} + 1))
echo "Data: $gauss8, $big8, $wide128; key presses here cancel kmeans runs." >&2

# Centres for the Recall case, learned once; this run also brings the file
# into the page cache before anything is timed.
"$bin" G8.DAT -Q3 -K8 -R10 >/dev/null 2>err.txt || { cat err.txt >&2; die "learning the Recall centres failed"; }
expect_rows G8.KTF "$rows8"
cp G8.KMC CENTRES.KMC

# kmeans_case NAME KEY FILE SWITCHES...: one kmeans case at -Q3.
kmeans_case() {
  local name=$1 key=$2 file=$3
  shift 3
  measure "$name" "$key" "" "$bin" "$file" -Q3 "$@"
}

kmeans_case "$g8: SKM -K8 -R10" "G8.DAT/8/10" G8.DAT -K8 -R10
measure "$g8: SKM -K8 -R10, 1 thread" "G8.DAT/8/10" "KMEANS_THREADS=1" env KMEANS_THREADS=1 "$bin" G8.DAT -Q3 -K8 -R10
measure "$g8: SKM -K8 -R10, rows not in memory" "G8.DAT/8/10" "KMEANS_MEMORY=0" env KMEANS_MEMORY=0 "$bin" G8.DAT -Q3 -K8 -R10
measure "$g8: SKM -K8 -R10, default quiet level" "G8.DAT/8/10" "spinner on, stderr to a file" "$bin" G8.DAT -K8 -R10
kmeans_case "$g8: SKM -K100 -R30" "G8.DAT/100/30" G8.DAT -K100 -R30
kmeans_case "$g8: AKM -A -K8 -R10" - G8.DAT -A -K8 -R10
measure "$g8: AKM -A -K8 -R10, rows not in memory" - "KMEANS_MEMORY=0" env KMEANS_MEMORY=0 "$bin" G8.DAT -Q3 -A -K8 -R10
kmeans_case "$g8: AKMDI -I -K20" - G8.DAT -I -K20
kmeans_case "$g8: Recall, 8 centres" - G8.DAT +CENTRES
expect_rows G8.KMR "$rows8"
kmeans_case "$w128: SKM -K100 -R10" "W128.DAT/100/10" W128.DAT -K100 -R10
kmeans_case "$w128: SKM -K256 -R20" "W128.DAT/256/20" W128.DAT -K256 -R20
measure "$w128: SKM -K256 -R20, 1 thread" "W128.DAT/256/20" "KMEANS_THREADS=1" env KMEANS_THREADS=1 "$bin" W128.DAT -Q3 -K256 -R20
kmeans_case "$b8: SKM -K8 -R10, rows in memory" - BIG8.DAT -K8 -R10
in_memory=$((${#secs[@]} - 1))
measure "$b8: SKM -K8 -R10, 64 MB budget" - "KMEANS_MEMORY=64" env KMEANS_MEMORY=64 "$bin" BIG8.DAT -Q3 -K8 -R10
refs[-1]=$in_memory
notes[-1]+="; peak bound 64 MB + cluster numbers = $(awk -v n="$rows_big" 'BEGIN { printf "%.0f", 64 * 1048576 / 1e6 + 4 * n / 1e6 }') MB"
expect_rows BIG8.KTF "$rows_big"

if [[ -n $peer ]]; then
  # OMP_NUM_THREADS is what limits scikit-learn's k-means loops (OpenMP);
  # the BLAS variables keep the BLAS pool at the same size.
  for c in "${peer_cases[@]}"; do
    read -r file k iterations n <<<"$c"
    for t in 1 2; do
      plural=s
      [[ $t == 1 ]] && plural=
      measure "peer: $file K=$k max_iter=$iterations, $t thread$plural" "peer:$file/$k/$iterations" "" \
        env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE OMP_NUM_THREADS=$t OPENBLAS_NUM_THREADS=$t MKL_NUM_THREADS=$t \
        "$py" peer.py "$file" "$k" "$iterations" labels.txt
      expect_rows labels.txt "$n"
      read -r _ ran _ got <out.txt
      notes[-1]="$ran iterations run"
      [[ $got == "$t" ]] || notes[-1]+="; scikit-learn used $got threads"
    done
  done
  measure "peer start-up only (imports)" - "included in every peer time" \
    "$py" -c 'import numpy, pandas, sklearn.cluster'
fi

# --------------------------------------------------------------- table ----
# fastest_peer KEY: the smallest median time among the peer cases for KEY.
fastest_peer() {
  local i best=
  for i in "${!names[@]}"; do
    [[ ${keys[i]} == "peer:$1" ]] || continue
    if [[ -z $best ]] || awk -v a="${secs[i]}" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=${secs[i]}
    fi
  done
  echo "$best"
}

echo
echo "Machine: $(nproc) CPUs, ${cpu:-$(uname -m)}, $mem memory, $(uname -sr)"
echo "kmeans: ${version:-(no version line)} ($bin)"
for f in "$gauss8" "$big8" "$wide128"; do
  echo "Data: $(basename "$f"), $(awk -v b="$(stat -c %s "$f")" 'BEGIN { printf "%.1f", b / 1e6 }') MB, sha256 $(cut -c1-16 "$f.sha256")"
done
if [[ -n $peer ]]; then
  echo "Peer: $peer_versions"
else
  echo "Peer: skipped, $py cannot import pandas and sklearn (Debian: python3-pandas python3-sklearn)"
fi
echo "Median wall time of 3 runs; peak MB = largest peak resident set of the 3 (10^6 bytes)."
echo "kmeans runs use -Q3 unless noted; 'ratio' = kmeans time / fastest peer time (1 or 2 threads) with the"
echo "same file, K and iterations, or for the budget case its time / the in-memory run's."
echo
echo "| case | median s | peak MB | ratio | notes |"
echo "|---|---:|---:|---:|---|"
for i in "${!names[@]}"; do
  ratio=
  if [[ -n ${refs[i]} ]]; then
    ratio=$(awk -v a="${secs[i]}" -v b="${secs[${refs[i]}]}" 'BEGIN { if (b > 0) printf "%.2fx in memory", a / b; else print "n/a" }')
  elif [[ ${keys[i]} != - && ${keys[i]} != peer:* ]]; then
    best=$(fastest_peer "${keys[i]}")
    [[ -n $best ]] && ratio=$(awk -v a="${secs[i]}" -v b="$best" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')
  fi
  echo "| ${names[i]} | ${secs[i]} | ${peaks[i]} | $ratio | ${notes[i]#; } |"
done
