#!/usr/bin/env bash
# Whole runs of vadoset-cli against reference builds, interleaved run by run,
# and where a run's time goes by stage.
#
#   bench/whole_runs.sh --cli NEW [--ref OLD]... [--runs N] [--sizes 100k,1m]
#       [--functions G|ABCDEFGH|all] [--threads 1,2] [--carryover off,on]
#       [--sinks file,null] [--stages perf|callgrind|none] [--report FILE]
#
# For every size, function, carry-over, thread count and sink (the table to
# a file, or to standard output sent to /dev/null) it runs NEW and each OLD
# one after the other, N times over (so that a change in the machine's load
# falls on all of them alike), and prints the medians of wall and CPU
# (user + system) seconds, and each binary's speed relative to NEW, as a
# Markdown table; --report FILE writes it there too. Inputs come from
# bench/make_inputs.py into build/bench-data (not committed).
#
# --stages (default perf) then records one NEW run, one thread, function G,
# the first size, table to a file, with perf's cpu-clock event (callgrind on
# its first 10,000 records when asked, or when perf is not allowed) and
# prints each stage's share of the samples (or instructions): parsing,
# number text, PET, the soil-water day loop, reading and writing, threads
# and the rest.
#
# Needs perf (linux-perf) or valgrind for the stages. The machine should be quiet: the script prints the load
# before and after.
set -euo pipefail
cd "$(dirname "$0")/.."

cli="" refs=() runs=5 sizes=100k,1m functions=G threads=1,2 carry=off,on sinks=file,null stages=perf report=""
while (($#)); do
  case "$1" in
    --cli) cli=$2; shift 2 ;;
    --ref) refs+=("$2"); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --functions) functions=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    --carryover) carry=$2; shift 2 ;;
    --sinks) sinks=$2; shift 2 ;;
    --stages) stages=$2; shift 2 ;;
    --report) report=$2; shift 2 ;;
    *) sed -n '2,27p' "$0" >&2; exit 2 ;;
  esac
done
[ -n "$cli" ] || { echo "whole_runs.sh: --cli NEW is required" >&2; exit 2; }
[ "$functions" = all ] && functions=ABCDEFGH
for b in "$cli" "${refs[@]}"; do
  [ -x "$b" ] || { echo "whole_runs.sh: $b is not an executable" >&2; exit 2; }
done

data=build/bench-data
mkdir -p "$data"
records_of() { case $1 in *k) echo $((${1%k} * 1000)) ;; *m) echo $((${1%m} * 1000000)) ;; *) echo "$1" ;; esac; }
for s in ${sizes//,/ }; do
  [ -f "$data/${s}_prec.txt" ] || /usr/bin/python3 bench/make_inputs.py --records "$(records_of "$s")" --out "$data/$s" >/dev/null
done

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
binaries=("$cli" "${refs[@]}")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# One run: binary index, size, function, carry-over flag, threads, sink;
# appends "wall cpu" to $out/<key>.<index>.
one() {
  local i=$1 size=$2 f=$3 c=$4 t=$5 sink=$6 key=$7 line
  local args=(-t "$data/${size}_temp.txt" -p "$data/${size}_prec.txt" --function "$f" --threads "$t" --quiet)
  [ "$c" = on ] && args+=(--carryover)
  # Bash's own timer: milliseconds (/usr/bin/time gives hundredths).
  local TIMEFORMAT="%3R %3U %3S"
  if [ "$sink" = file ]; then
    line=$( { time "${binaries[$i]}" "${args[@]}" -o "$out/table.$i" >/dev/null 2>&1; } 2>&1 | tail -n 1)
  else
    line=$( { time "${binaries[$i]}" "${args[@]}" -o - >/dev/null 2>/dev/null; } 2>&1 | tail -n 1)
  fi
  awk '{ printf "%s %.3f\n", $1, $2 + $3 }' <<<"$line" >>"$out/$key.$i"
}

{
  echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "Binaries: 0 = $cli$(for i in "${!refs[@]}"; do printf '; %d = %s' $((i + 1)) "${refs[$i]}"; done)"
  echo "Runs per figure: $runs, interleaved; medians. Speed: wall time of the binary / wall time of 0 (above 1: 0 is faster)."
  echo
  echo "| records | function | carry-over | threads | table to | binary | wall s | CPU s | 0's speed-up, wall | CPU |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
} | tee "$out/report.md"

for s in ${sizes//,/ }; do
  for f in $(grep -o . <<<"$functions"); do
    for c in ${carry//,/ }; do
      for t in ${threads//,/ }; do
        for sink in ${sinks//,/ }; do
          key="$s.$f.$c.$t.$sink"
          for ((r = 0; r < runs; r++)); do
            for i in "${!binaries[@]}"; do one "$i" "$s" "$f" "$c" "$t" "$sink" "$key"; done
          done
          w0=$(cut -d' ' -f1 "$out/$key.0" | median)
          c0=$(cut -d' ' -f2 "$out/$key.0" | median)
          for i in "${!binaries[@]}"; do
            w=$(cut -d' ' -f1 "$out/$key.$i" | median)
            u=$(cut -d' ' -f2 "$out/$key.$i" | median)
            awk -v s="$s" -v f="$f" -v c="$c" -v t="$t" -v k="$sink" -v i="$i" -v w="$w" -v u="$u" -v w0="$w0" -v c0="$c0" \
              'BEGIN { printf "| %s | %s | %s | %s | %s | %d | %.3f | %.3f | %.2f | %.2f |\n", s, f, c, t, (k == "file" ? "file" : "/dev/null"), i, w, u, (w0 > 0 ? w / w0 : 0), (c0 > 0 ? u / c0 : 0) }'
          done | tee -a "$out/report.md"
        done
      done
    done
  done
done
echo | tee -a "$out/report.md"

# Stages: symbols matched to the stage they belong to.
stage_of='
  /\[k\]/ { return "kernel (reading, writing, page faults)" }
  /ParseNumber|parseTab|parseHcn|parseCsv|splitFields|NthField|ToInt32|precipitationValue|temperatureValue|readRecord|parseSlots|from_chars|strtod|InputChecks/ { return "parsing and input checks" }
  /shortestDoubleText|writeDigits|writeSixteen|formatRow|classicValues|formatSlot|to_chars|dragonbox|annualTotals/ { return "number text" }
  /pow|petKernel|petInLanes|Run_pet|dayLengths|acos|asin|sincos|__sin|__cos/ { return "PET" }
  /yearPass|yearKernel|computeIndependent|balanceFor|onePass|resumeBalance|exp|betaCurve|computeBatch|judgePass|Run_model/ { return "soil water (day loop)" }
  /appendRawLine|appendLine|TextInputStream|memchr|read|write|TextOutput|memmove|memcpy|memset/ { return "reading, writing, memory" }
  /futex|schedule|pthread|condition_variable|mutex|Main_loop|Computer|worker|computeSlots/ { return "threads and the run loop" }
'
shares() {  # reads "percent symbol" lines, prints the stage table
  awk "function stage(s) { $(sed 's/^ *\(\/.*\/\) { return \(".*"\) }$/if (s ~ \1) return \2;/' <<<"$stage_of") return \"the rest\" }"'
    { pct = $1; sub(/%/, "", pct); $1 = ""; total[stage($0)] += pct }
    END { for (k in total) printf "| %s | %.1f%% |\n", k, total[k] }' | sort -t'|' -k3 -rn
}
first=${sizes%%,*}
case $stages in
  perf)
    if perf record -q -e cpu-clock -F 2000 -o "$out/perf.data" -- "$cli" -t "$data/${first}_temp.txt" \
      -p "$data/${first}_prec.txt" -o "$out/table.stage" --function G --threads 1 --quiet 2>/dev/null; then
      {
        echo "Stages of one run of 0 (perf, cpu-clock samples; $first records, function G, one thread, table to a file):"
        echo
        echo "| stage | share |"
        echo "|---|---|"
        perf report -i "$out/perf.data" --no-children --sort symbol --stdio -g none 2>/dev/null |
          awk '/^ *[0-9.]+%/' | shares
      } | tee -a "$out/report.md"
    else
      echo "perf could not record (perf_event_paranoid?): try --stages callgrind" | tee -a "$out/report.md"
    fi
    ;;
  callgrind)
    head -n 10001 "$data/${first}_temp.txt" >"$out/t.txt"
    head -n 10001 "$data/${first}_prec.txt" >"$out/p.txt"
    valgrind --tool=callgrind --callgrind-out-file="$out/cg.out" "$cli" -t "$out/t.txt" -p "$out/p.txt" \
      -o "$out/table.stage" --function G --threads 1 --quiet 2>/dev/null
    {
      echo "Stages of one run of 0 (callgrind, instructions; the first 10,000 of $first records, function G, one thread):"
      echo
      echo "| stage | share |"
      echo "|---|---|"
      callgrind_annotate --inclusive=no "$out/cg.out" 2>/dev/null |
        awk '!/PROGRAM TOTALS/ && match($0, /\( *[0-9.]+%\)/) {
          p = substr($0, RSTART + 1, RLENGTH - 2); gsub(/ /, "", p); print p, substr($0, RSTART + RLENGTH) }' | shares
    } | tee -a "$out/report.md"
    ;;
esac
echo "Load after: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$out/report.md"
[ -z "$report" ] || cp "$out/report.md" "$report"
