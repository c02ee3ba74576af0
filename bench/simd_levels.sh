#!/usr/bin/env bash
# Compute-only records/s of every function at every SIMD level of the lane
# engine (scalar is the record engine, one record after another), one thread,
# medians of 5 back to back, as a Markdown table. CPU seconds are quoted with
# the wall time: on a shared machine they are the steadier figure.
#
#   bench/simd_levels.sh [TEMP PREC]   (default: build/bench-data/100k_*.txt)
set -euo pipefail
cd "$(dirname "$0")/.."
temp=${1:-build/bench-data/100k_temp.txt}
prec=${2:-build/bench-data/100k_prec.txt}
bin=build/bench/bin/vadoset-compute-only
printf '| function | level | records/s (wall) | wall s | CPU s | records/s (CPU) | ns per simulated day (CPU) |\n'
printf '|---|---|---|---|---|---|---|\n'
for f in A B C D E F G H; do
  for level in scalar avx2 avx512; do
    out=$("$bin" -t "$temp" -p "$prec" --function "$f" --simd "$level" --repeat 5) || continue
    get() { sed -n "s/^$1=//p" <<<"$out"; }
    awk -v f="$f" -v l="$level" -v n="$(get records)" -v w="$(get median_seconds)" -v c="$(get median_cpu_seconds)" \
        -v d="$(get simulated_days)" \
        'BEGIN { printf "| %s | %s | %.0f | %.3f | %.3f | %.0f | %.2f |\n", f, l, n / w, w, c, n / c, c * 1e9 / d }'
  done
done
