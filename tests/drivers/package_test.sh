#!/usr/bin/env bash
# The Debian package as a user gets it: built by cpack from the build tree,
# unpacked with dpkg-deb, its file name, control fields and contents checked
# (the README and the licence as in the sources, Debian's copyright file),
# the packaged program run on the example data and its manual page rendered
# with man. Exits with 77 (skipped) where dpkg-deb or man is not installed.
#
# Usage: package_test.sh CPACK CPACK_CONFIG IRIS_DAT VERSION SOURCE_DIR
set -u
if [ $# -ne 5 ]; then
  echo "usage: $0 CPACK CPACK_CONFIG IRIS_DAT VERSION SOURCE_DIR" >&2
  exit 2
fi
cpack=$1 config=$2 iris=$3 version=$4 source=$5

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

# Debian's file name: package_version_architecture.deb.
if command -v dpkg >/dev/null; then
  arch=$(dpkg --print-architecture)
  check "file name kmeans_${version}_${arch}.deb (got ${deb##*/})" test "${deb##*/}" = "kmeans_${version}_${arch}.deb"
fi

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
  check "Depends names the decompressors zlib1g and libzstd1" \
    grep -Eq 'zlib1g.*libzstd1|libzstd1.*zlib1g' <<<"$(field Depends)"
fi

# Contents: the programs, their manual pages, the README and the licence,
# nothing else (no test binary, no library). kmeans-plot and kmeans-summary
# are there when the tree builds them.
dpkg-deb -x "$deb" "$tmp/root"
doc=./usr/share/doc/kmeans
required="./usr/bin/kmeans ./usr/share/man/man1/kmeans.1.gz $doc/README.md $doc/LICENSE $doc/copyright"
optional="./usr/bin/kmeans-plot ./usr/share/man/man1/kmeans-plot.1.gz ./usr/bin/kmeans-summary ./usr/share/man/man1/kmeans-summary.1.gz"
for f in $required; do
  check "package holds $f" test -f "$tmp/root/$f"
done
while IFS= read -r f; do
  case " $required $optional " in
    *" $f "*) ;;
    *) check "package holds no other file than the programs, pages and documents: $f" false ;;
  esac
done < <(cd "$tmp/root" && find . -type f -o -type l)

# The documents: README and licence as in the sources, readable by all; the
# copyright file in Debian's machine-readable format 1.0, its licence text
# exactly the permission text of LICENSE.
check "README.md is the source's" cmp -s "$tmp/root/$doc/README.md" "$source/README.md"
check "LICENSE is the source's" cmp -s "$tmp/root/$doc/LICENSE" "$source/LICENSE"
check "LICENSE is the MIT licence of the kmeans developers" \
  grep -qx 'Copyright (c) 2026 the kmeans developers' "$source/LICENSE"
for f in README.md LICENSE copyright; do
  check "$f has mode 644" test "$(stat -c %a "$tmp/root/$doc/$f" 2>/dev/null)" = 644
done
copyright=$tmp/root/$doc/copyright
check "copyright names format 1.0" \
  test "$(head -1 "$copyright" 2>/dev/null)" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
check "copyright: Files: * under the MIT licence of the kmeans developers" \
  grep -Pzq '\nFiles: \*\nCopyright: 2026 the kmeans developers\nLicense: MIT\n' "$copyright"
# The stand-alone "License: MIT" paragraph, its lines unindented (" ." is an
# empty line), against LICENSE after its copyright line.
awk 'BEGIN { RS = ""; ORS = "\n" } /^License: MIT\n/' "$copyright" 2>/dev/null | tail -n +2 |
  sed 's/^ \.$//; s/^ //' >"$tmp/licence.txt"
tail -n +5 "$source/LICENSE" >"$tmp/licence.want"
check "copyright's licence text is that of LICENSE" cmp -s "$tmp/licence.txt" "$tmp/licence.want"

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
