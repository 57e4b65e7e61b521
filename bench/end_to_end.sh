#!/usr/bin/env bash
# End-to-end timing of a Learn run on a generated file of ROWS rows of 8
# values (default 1 000 000, about 58 MB), with hyperfine when installed.
# Usage: bench/end_to_end.sh path/to/kmeans [ROWS]
set -euo pipefail
bin=$(realpath "$1")
rows=${2:-1000000}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
python3 - "$dir/BIG.DAT" "$rows" <<'PY'
import random, sys
random.seed(1)
with open(sys.argv[1], "w") as f:
    for i in range(int(sys.argv[2])):
        c = i % 5
        f.write(" ".join("%.4f" % random.gauss(c * 3, 1) for _ in range(8)) + "\n")
PY
cd "$dir"
if command -v hyperfine >/dev/null; then
  hyperfine --warmup 1 "$bin BIG.DAT -Q3" "$bin BIG.DAT -Q3 -A" "$bin BIG.DAT -Q3 -I -K20"
else
  time "$bin" BIG.DAT -Q3
fi
