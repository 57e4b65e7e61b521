#!/bin/sh
# Checks the object files of the vector kernels (nearest_avx2.cpp.o,
# nearest_avx512.cpp.o): each defines its entry points,
# kmeans::nearest_rows_KIND, kmeans::nearest_rows_second_KIND,
# kmeans::nearest_rows_all_KIND, kmeans::nearest_screen_KIND,
# kmeans::nearest_short_KIND, kmeans::nearest_block_sums_KIND,
# kmeans::nearest_all_block_sums_KIND, kmeans::nearest_row_major_KIND and
# kmeans::sums_add_KIND (and the adaptive pass, nearest_adaptive_KIND, with
# the AVX2 one's nearest_pull_avx2 and nearest_adaptive_end_avx2), as plain
# functions, and no other global symbol, weak ones included. An inline or
# template function that another unit defines too would be one: the linker
# keeps a single copy, and if it kept the one compiled for AVX-512, a
# processor without it would die in whatever unit called it.
#
# Usage: kernel_symbols.sh OBJECT...   (exactly the two kernel objects)
status=0
if [ $# -ne 2 ]; then
  echo "expected the 2 kernel objects, got $#: $*"
  status=1
fi
for obj in "$@"; do
  case "$obj" in
    */nearest_avx2.cpp.o) kind=avx2 ;;
    */nearest_avx512.cpp.o) kind=avx512 ;;
    *) echo "$obj: not a kernel object"; status=1; continue ;;
  esac
  # nm -P: "name type value size", one line per symbol.
  if ! syms=$(nm -P -g --defined-only "$obj"); then
    status=1
    continue
  fi
  bad=$(printf '%s\n' "$syms" | grep -v -E "^_ZN6kmeans[0-9]+(nearest_(rows|rows_second|rows_all|screen|short|block_sums|all_block_sums|row_major|pull|adaptive|adaptive_end)|sums_add)_${kind}E[^ ]* T ")
  if [ -n "$bad" ]; then
    printf '%s defines more than its entry points:\n%s\n' "$obj" "$bad"
    status=1
  fi
  for entry in nearest_rows nearest_rows_second nearest_rows_all nearest_screen nearest_short nearest_block_sums \
      nearest_all_block_sums nearest_row_major sums_add; do
    if ! printf '%s\n' "$syms" | grep -q -E "^_ZN6kmeans[0-9]+${entry}_${kind}E[^ ]* T "; then
      echo "$obj: no function kmeans::${entry}_${kind}"
      status=1
    fi
  done
done
exit $status
