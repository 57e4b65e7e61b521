#!/usr/bin/env bash
# The Debian package as a user gets it: built by cpack from the build tree,
# unpacked with dpkg-deb, its control fields and contents checked, the packaged
# program run on the example data and its manual page rendered with man.
# Exits with 77 (skipped) where dpkg-deb or man is not installed.
#
# Usage: package_test.sh CPACK CPACK_CONFIG IRIS_DAT VERSION
set -u
if [ $# -ne 4 ]; then
  echo "usage: $0 CPACK CPACK_CONFIG IRIS_DAT VERSION" >&2
  exit 2
fi
cpack=$1 config=$2 iris=$3 version=$4

for tool in dpkg-deb man; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# check WHAT COMMAND...: runs COMMAND, reports WHAT as passed or failed.
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}

# The package goes to a scratch directory, so the build tree stays as it was.
if ! "$cpack" -G DEB -B "$tmp/out" --config "$config" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log"
  echo "FAIL: cpack -G DEB"
  exit 1
fi
debs=("$tmp"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  ls -l "$tmp/out"
  echo "FAIL: cpack made not exactly one .deb"
  exit 1
fi
deb=${debs[0]}

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
check "Package: kmeans" test "$(field Package)" = kmeans
check "Version: $version" test "$(field Version)" = "$version"
check "Maintainer is a name and an address: $(field Maintainer)" \
  grep -Eq '^[^<>]*[^<> ] <[^<>@ ]+@[^<>@ ]+>$' <<<"$(field Maintainer)"
check "Description has a summary line and a long description" \
  test "$(field Description | wc -l)" -ge 2
check "Section: science" test "$(field Section)" = science
if command -v dpkg-shlibdeps >/dev/null; then
  check "Depends (from dpkg-shlibdeps) names libc6: $(field Depends)" \
    grep -q 'libc6' <<<"$(field Depends)"
fi

# Contents: the programs and their manual pages, nothing else (no test
# binary, no library). kmeans-plot is there when the tree builds it.
dpkg-deb -x "$deb" "$tmp/root"
required="./usr/bin/kmeans ./usr/share/man/man1/kmeans.1.gz"
optional="./usr/bin/kmeans-plot ./usr/share/man/man1/kmeans-plot.1.gz"
for f in $required; do
  check "package holds $f" test -f "$tmp/root/$f"
done
while IFS= read -r f; do
  case " $required $optional " in
    *" $f "*) ;;
    *) check "package holds no other file than the programs and pages: $f" false ;;
  esac
done < <(cd "$tmp/root" && find . -type f -o -type l)

# The packaged program learns the example, with a fixed random start so that
# all three clusters are used (the same start as the README's example).
bin=$tmp/root/usr/bin/kmeans
if [ -x "$bin" ]; then
  mkdir "$tmp/run"
  cp "$iris" "$tmp/run/IRIS.DAT"
  run=(env -i "PATH=$PATH" "HOME=$tmp" KMEANS_SEED=1767225600)
  # A sanitizer build keeps its settings (faketime preloads a library, which
  # AddressSanitizer refuses unless told otherwise).
  for var in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    if [ -n "${!var-}" ]; then run+=("$var=${!var}"); fi
  done
  if command -v faketime >/dev/null; then
    run+=(faketime "2026-01-01 00:00:00")
  fi
  (cd "$tmp/run" && "${run[@]}" "$bin" IRIS.DAT -K3 -Q3 </dev/null >"$tmp/run.out" 2>"$tmp/run.err")
  status=$?
  check "packaged kmeans ends with status 0 (got $status)" test "$status" -eq 0
  check "IRIS.KMC holds MaxDist and 3 centres" test "$(wc -l <"$tmp/run/IRIS.KMC")" -eq 4
  check "IRIS.KTF holds 150 rows" test "$(wc -l <"$tmp/run/IRIS.KTF")" -eq 150
  check "nothing on the console at -Q3" test ! -s "$tmp/run.out" -a ! -s "$tmp/run.err"
fi

# The manual page: compressed, and found and rendered by man.
page=$tmp/root/usr/share/man/man1/kmeans.1.gz
if [ -f "$page" ]; then
  check "kmeans.1.gz is a sound gzip file" gzip -t "$page"
  MANWIDTH=80 MANPAGER=cat PAGER=cat man -l "$page" >"$tmp/man.out" 2>"$tmp/man.err"
  check "man -l renders the NAME section" grep -q '^NAME' "$tmp/man.out"
  check "the NAME line names kmeans" grep -Eq '^ +kmeans - K-means clustering' "$tmp/man.out"
  MANWIDTH=80 MANPAGER=cat PAGER=cat man -M "$tmp/root/usr/share/man" kmeans >"$tmp/man2.out" 2>>"$tmp/man.err"
  check "man finds the page in the package's manual tree" cmp -s "$tmp/man.out" "$tmp/man2.out"
  if [ $failures -ne 0 ]; then cat "$tmp/man.err"; fi
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  cat "$tmp/run.err" 2>/dev/null
  exit 1
fi
echo "all checks passed"
