#!/usr/bin/env bash
# Runs the libFuzzer harnesses of a KMEANS_FUZZ build, one after the other,
# each for a fixed time with its seed corpus (fuzz/corpus/NAME) and
# dictionary. New inputs are kept in BUILD_DIR/fuzz-corpus/NAME, so that
# later runs go on from there; a failing input is written to
# BUILD_DIR/fuzz-artifacts/NAME/ and ends the script with status 1.
#
# Usage: fuzz/run.sh BUILD_DIR SECONDS [NAME...]   (names: row_reader centre_file args)
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS [NAME...]" >&2
  exit 2
fi
build=$1 seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(row_reader centre_file args)

failed=0 passed=0
for name in "${names[@]}"; do
  bin=$build/fuzz/fuzz_$name
  if [ ! -x "$bin" ]; then
    echo "FAIL: $bin is not built (cmake --build $build --target fuzzers)"
    failed=$((failed + 1))
    continue
  fi
  corpus=$build/fuzz-corpus/$name
  artifacts=$build/fuzz-artifacts/$name
  log=$build/fuzz-$name.log
  mkdir -p "$corpus" "$artifacts"
  opts=(-max_total_time="$seconds" -timeout=10 -max_len=8192 -print_final_stats=1
        -artifact_prefix="$artifacts/")
  dict=$here/$name.dict
  [ "$name" = centre_file ] && dict=$here/row_reader.dict
  [ -f "$dict" ] && opts+=(-dict="$dict")
  start=$SECONDS
  "$bin" "${opts[@]}" "$corpus" "$here/corpus/$name" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ $status -ne 0 ]; then
    grep -v '^#[0-9]' "$log" | tail -60
    echo "FAIL: fuzz_$name (status $status after $((SECONDS - start)) s); input in $artifacts/"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
    echo "ok: fuzz_$name: ${runs:-?} inputs in $((SECONDS - start)) s, corpus of $(ls "$corpus" | wc -l)"
  fi
done
echo "fuzzers: $passed passed, $failed failed"
[ $failed -eq 0 ]
