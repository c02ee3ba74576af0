#!/usr/bin/env bash
# Times whole vadoset-cli runs against the compute-only limit and prints the
# figures as Markdown tables (records/s, ns per simulated day, peak RSS).
#
#   bench/run_benchmarks.sh [--runs K] [--quick] [--micro]
#
#   --runs K   runs per figure; the median is quoted (default 5)
#   --quick    100k records only (no 1M run)
#   --micro    also run the Google Benchmark of the model's parts
#
# Builds a Release tree in build/bench and writes generated inputs to
# build/bench-data (neither is committed). Needs /usr/bin/time (package time).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
quick=0
micro=0
while (($#)); do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --quick) quick=1; shift ;;
    --micro) micro=1; shift ;;
    *) echo "usage: $0 [--runs K] [--quick] [--micro]" >&2; exit 2 ;;
  esac
done

if [ ! -x /usr/bin/time ]; then
  echo "/usr/bin/time is missing: run scripts/setup.sh (Debian package time)" >&2
  exit 1
fi

build=build/bench
data=build/bench-data
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVADOSET_BUILD_BENCH=ON \
  -DVADOSET_BUILD_GUI=ON -DVADOSET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
cli="$build/bin/vadoset-cli"
only="$build/bin/vadoset-compute-only"

mkdir -p "$data"
make_input() {  # name records [format]
  [ -f "$data/$1_prec.txt" ] && return
  python3 bench/make_inputs.py --records "$2" --format "${3:-tab}" --out "$data/$1" >/dev/null
}
make_input 100k 100000
make_input hcn100k 100000 hcn
((quick)) || make_input 1m 1000000

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# compute-only NAME FORMAT ARGS... -> sets co_secs co_cpu co_days co_records
compute_only() {
  local name=$1 format=$2
  shift 2
  local out
  out=$("$only" -t "$data/${name}_temp.txt" -p "$data/${name}_prec.txt" --format "$format" --repeat "$runs" "$@")
  co_secs=$(sed -n 's/^median_seconds=//p' <<<"$out")
  co_cpu=$(sed -n 's/^median_cpu_seconds=//p' <<<"$out")
  co_days=$(sed -n 's/^simulated_days=//p' <<<"$out")
  co_records=$(sed -n 's/^records=//p' <<<"$out")
}

# whole NAME FORMAT THREADS ARGS... -> sets wh_secs wh_cpu wh_rss (medians)
whole() {
  local name=$1 format=$2 threads=$3
  shift 3
  local secs=() cpus=() rsss=() line
  for ((i = 0; i < runs; i++)); do
    line=$(/usr/bin/time -f "%e %U %S %M" "$cli" -t "$data/${name}_temp.txt" -p "$data/${name}_prec.txt" \
      -o "$data/out.txt" --format "$format" --threads "$threads" --quiet "$@" 2>&1 >/dev/null | tail -n 1)
    read -r e u s m <<<"$line"
    secs+=("$e")
    cpus+=("$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')")
    rsss+=("$m")
  done
  wh_secs=$(printf '%s\n' "${secs[@]}" | median)
  wh_cpu=$(printf '%s\n' "${cpus[@]}" | median)
  wh_rss=$(printf '%s\n' "${rsss[@]}" | median)
}

row() {  # label threads secs cpu rss days records ref
  awk -v l="$1" -v t="$2" -v s="$3" -v c="$4" -v m="$5" -v d="$6" -v n="$7" -v ref="$8" 'BEGIN {
    printf "| %s | %s | %.3f | %.3f | %.0f | %.2f | %s | %.2f |\n", l, t, s, c, n / s, s * 1e9 / d,
      (m == "" ? "-" : sprintf("%.1f", m / 1024)), s / ref }'
}

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Runs per figure: $runs (medians)"
echo

scenario() {  # title name format args...
  local title=$1 name=$2 format=$3
  shift 3
  echo "### $title"
  echo
  echo "| run | threads | wall s | CPU s | records/s | ns/simulated day | peak RSS MB | × compute-only |"
  echo "|---|---|---|---|---|---|---|---|"
  compute_only "$name" "$format" "$@"
  local ref=$co_secs days=$co_days records=$co_records
  row "compute only" 1 "$co_secs" "$co_cpu" "" "$days" "$records" "$ref"
  for t in 1 2; do
    whole "$name" "$format" "$t" "$@"
    row "whole run" "$t" "$wh_secs" "$wh_cpu" "$wh_rss" "$days" "$records" "$ref"
  done
  echo
}

scenario "Function G, 100k tab-delimited records" 100k tab --function G
scenario "Function G, 100k records, carry-over" 100k tab --function G --carryover
scenario "Function G, 100k HCN records" hcn100k hcn --function G
scenario "Function D, 100k records" 100k tab --function D
scenario "Function A, 100k records" 100k tab --function A

# The window against the command line, same input, same number of threads.
window="$build/bin/vadoset-window-bench"
if [ -x "$window" ]; then
  echo "### Window against vadoset-cli, function G, 100k records"
  echo
  echo "| threads | CLI wall s | window wall s | window throughput / CLI |"
  echo "|---|---|---|---|"
  for t in 1 2; do
    whole 100k tab "$t" --function G
    win=$(QT_QPA_PLATFORM=offscreen "$window" "$PWD/$data" 100k_temp.txt 100k_prec.txt --function G \
      --threads "$t" --repeat "$runs" 2>/dev/null | sed -n 's/^median_seconds=//p')
    awk -v t="$t" -v c="$wh_secs" -v w="$win" 'BEGIN { printf "| %s | %.3f | %.3f | %.0f%% |\n", t, c, w, 100 * c / w }'
  done
  echo
else
  echo "(The window is not built here: no window figures.)"
  echo
fi

if ((!quick)); then
  echo "### Function G, 1M records (memory)"
  echo
  echo "| run | threads | wall s | CPU s | records/s | peak RSS MB |"
  echo "|---|---|---|---|---|---|"
  for t in 1 2; do
    for c in "" --carryover; do
      # shellcheck disable=SC2086
      whole 1m tab "$t" --function G $c
      awk -v t="$t" -v c="$c" -v s="$wh_secs" -v u="$wh_cpu" -v m="$wh_rss" 'BEGIN {
        printf "| whole run %s | %s | %.3f | %.3f | %.0f | %.1f |\n", c, t, s, u, 1e6 / s, m / 1024 }'
    done
  done
  echo
fi

if ((micro)); then
  echo "### Model parts (Google Benchmark, medians of $runs)"
  echo
  echo '```'
  "$build/bin/vadoset_model_bench" --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -E '^(Benchmark|-|BM_.*_median)'
  echo '```'
fi
echo "Load after: $(cut -d' ' -f1-3 /proc/loadavg)"
