#!/usr/bin/env bash
# Runs two builds of vadoset-cli on the benchmark inputs and compares their
# tables byte for byte: every availability function, the tab, HCN and CSV
# formats, carry-over on and off, one and two threads.
#
#   bench/compare_tables.sh REFERENCE_CLI CANDIDATE_CLI [DATA_DIR]
#
# DATA_DIR (default build/bench-data) gets the 100k inputs from
# bench/make_inputs.py when they are missing, and a CSV copy of the tab pair.
set -euo pipefail
ref=$1
new=$2
data=${3:-build/bench-data}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$data"
[ -f "$data/100k_prec.txt" ] || python3 "$here/make_inputs.py" --records 100000 --out "$data/100k"
[ -f "$data/hcn100k_prec.txt" ] || python3 "$here/make_inputs.py" --records 100000 --format hcn --out "$data/hcn100k"
for part in temp prec; do
  [ -f "$data/csv100k_$part.txt" ] || tr '\t' ',' <"$data/100k_$part.txt" >"$data/csv100k_$part.txt"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
same=0
differ=0
for format in tab hcn csv; do
  prefix=$([ "$format" = tab ] && echo 100k || echo "${format}100k")
  for function in A B C D E F G H; do
    for carry in "" --carryover; do
      for threads in 1 2; do
        args=(-t "$data/${prefix}_temp.txt" -p "$data/${prefix}_prec.txt" --format "$format" --function "$function"
          --threads "$threads" --quiet $carry)
        "$ref" "${args[@]}" -o "$tmp/ref.txt"
        "$new" "${args[@]}" -o "$tmp/new.txt"
        if cmp -s "$tmp/ref.txt" "$tmp/new.txt"; then
          same=$((same + 1))
        else
          differ=$((differ + 1))
          echo "differs: --format $format --function $function --threads $threads $carry"
        fi
      done
    done
  done
done
echo "$same tables identical, $differ different ($(wc -c <"$tmp/new.txt") bytes in the last)"
[ "$differ" -eq 0 ]
