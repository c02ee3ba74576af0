#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: clang, address and undefined
# sanitizers) and gives each a short run from its seed corpus in
# fuzz/corpus/<target>. Fails when a target crashes, trips a sanitizer, runs
# out of time on one input or breaks one of its own checks.
#
#   scripts/fuzz-smoke.sh [SECONDS_PER_TARGET] [TARGET...]
#
# New inputs that a run finds go to build/fuzz/work/<target>, never into the
# repository; a failing input is kept as build/fuzz/work/crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then targets=(number tab_record hcn_record csv_record run parallel lanes); fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

work=build/fuzz/work
mkdir -p "$work/tmp"
passed=0
failed=0
for t in "${targets[@]}"; do
  mkdir -p "$work/$t"
  log="$work/$t.log"
  # Whole runs take inputs of megabytes with long lines; the record targets
  # look at a few records, for which 16 KiB is plenty.
  case $t in
    run | parallel) max_len=4194304 ;;
    *) max_len=16384 ;;
  esac
  echo "fuzz_$t: ${seconds}s"
  # -timeout: one input may take at most 10 s (a record is bounded by 1002
  # passes of the year); -rss_limit_mb keeps a leak or a runaway buffer in
  # check. TMPDIR keeps the run target's files out of /tmp.
  if TMPDIR="$PWD/$work/tmp" "build/fuzz/bin/fuzz_$t" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" \
      -print_final_stats=1 -artifact_prefix="$work/" \
      "$work/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    runs=$(grep -Eo '^stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' || echo '?')
    echo "fuzz_$t: ok, $runs inputs"
    passed=$((passed + 1))
  else
    echo "fuzz_$t: FAILED, log follows"
    tail -n 60 "$log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
