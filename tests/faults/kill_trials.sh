#!/usr/bin/env bash
# Signals vadoset-cli runs at random moments and checks, after every trial,
# each file the run writes (the table and the null report):
#   - kill -9, SIGTERM, SIGHUP: the earlier file, untouched, or the whole new
#     one, byte for byte;
#   - SIGINT (Ctrl+C): the earlier file, the whole new one, or a part of the
#     new one that ends at a line end (the complete rows);
#   - no temporary file is left, after kill -9 too (on file systems with
#     unnamed files: ext4, XFS, Btrfs, tmpfs);
#   - the exit status is the signal's (or 0 when the run ended before it).
# Too long for CI (about an hour with the defaults): run it by hand.
#
#   tests/faults/kill_trials.sh [--signals LIST] [--records N] [--cli PATH] [--data DIR] [--threads N] [--no-report]
#
#   --signals L   signals and trials, as NAME:COUNT (default "KILL:100 TERM:50 HUP:50 INT:50")
#   --records N   input records (default 1000000), made by bench/make_inputs.py
#   --cli PATH    the binary (default build/release/bin/vadoset-cli, else build/ci/bin/vadoset-cli)
#   --data DIR    where inputs and tables go (default build/kill-trials; needs ~1.5 GB;
#                 /dev/shm/kill-trials tries tmpfs)
#   --threads N   passed to vadoset-cli (default: its own default)
#   --no-report   without --null-report
set -euo pipefail
cd "$(dirname "$0")/../.."

signals="KILL:100 TERM:50 HUP:50 INT:50"
records=1000000
cli=""
data=build/kill-trials
threads=()
report=1
while (($#)); do
  case "$1" in
    --signals) signals="$2"; shift 2 ;;
    --records) records="$2"; shift 2 ;;
    --cli) cli="$2"; shift 2 ;;
    --data) data="$2"; shift 2 ;;
    --threads) threads=(--threads "$2"); shift 2 ;;
    --no-report) report=0; shift ;;
    *) sed -n '2,22p' "$0" >&2; exit 2 ;;
  esac
done
if [ -z "$cli" ]; then
  for c in build/release/bin/vadoset-cli build/ci/bin/vadoset-cli; do [ -x "$c" ] && cli=$c && break; done
fi
[ -x "$cli" ] || { echo "no vadoset-cli: build it, or give --cli PATH" >&2; exit 1; }

mkdir -p "$data"
in="$data/in$records"
if [ ! -f "${in}_prec.txt" ]; then
  /usr/bin/python3 bench/make_inputs.py --records "$records" --out "$in" >/dev/null
fi
outs=("$data/out.txt")
((report)) && outs+=("$data/nulls.tsv")
# Signals at their defaults: nohup, or a shell without job control, would
# have the run ignore SIGHUP or SIGINT, as vadoset-cli then rightly does.
# The command line, in argv, for a table at $1 and a null report at $2.
run_command() {
  argv=(env --default-signal=HUP,INT,TERM "$cli" -t "${in}_temp.txt" -p "${in}_prec.txt" -o "$1" --quiet "${threads[@]}")
  if ((report)); then argv+=(--null-report "$2"); fi
}

# The whole new files, and how long a run takes.
start=$(date +%s.%N)
run_command "$data/whole.txt" "$data/whole.tsv"
"${argv[@]}"
secs=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
wholeOf() { [ "$1" = "$data/out.txt" ] && echo "$data/whole.txt" || echo "$data/whole.tsv"; }
earlierOf() { echo "$1.earlier"; }
for f in "${outs[@]}"; do printf 'earlier %s, kept unless a whole new one replaces it\r\n' "$f" >"$(earlierOf "$f")"; done
echo "vadoset-cli: $cli; $records records; a whole run takes ${secs} s; table $(stat -c %s "$data/whole.txt") bytes" \
  "$( ((report)) && echo "; null report $(stat -c %s "$data/whole.tsv") bytes")"

temps() { find "$data" -maxdepth 1 -name '.*.vadoset-partial-*' | wc -l; }
# earlier, whole, part (a prefix of the whole file that ends at a line end), or bad
state() {
  local f=$1 whole
  whole=$(wholeOf "$f")
  if cmp -s "$f" "$(earlierOf "$f")"; then echo earlier
  elif cmp -s "$f" "$whole"; then echo whole
  elif [ -s "$f" ] && cmp -s -n "$(stat -c %s "$f")" "$f" "$whole" &&
    [[ "$(tail -c 1 "$f" | od -An -tx1 | tr -d ' ')" =~ ^(0d|0a)$ ]]; then
    echo part
  else echo bad; fi
}

failures=0
rows=()
for entry in $signals; do
  sig=${entry%%:*} trials=${entry##*:}
  declare -A seen=()
  hit=0 left=0 badStatus=0
  for ((i = 1; i <= trials; i++)); do
    for f in "${outs[@]}"; do cp "$(earlierOf "$f")" "$f"; done
    # A moment from the start to a little past the end of a run, so that some
    # signals come while the files are synced and renamed, or after.
    delay=$(awk -v r="$RANDOM$RANDOM" -v s="$secs" 'BEGIN { srand(r); printf "%.3f", rand() * s * 1.1 }')
    run_command "$data/out.txt" "$data/nulls.tsv"
    "${argv[@]}" &
    pid=$!  # env execs vadoset-cli: the same process
    sleep "$delay"
    if kill -s "$sig" "$pid" 2>/dev/null; then hit=$((hit + 1)); fi
    status=0
    wait "$pid" 2>/dev/null || status=$?
    for f in "${outs[@]}"; do
      s=$(state "$f")
      seen[$(basename "$f") $s]=$(( ${seen[$(basename "$f") $s]:-0} + 1 ))
      if [ "$s" = bad ] || { [ "$s" = part ] && [ "$sig" != INT ]; }; then
        echo "FAIL: SIG$sig after ${delay} s: $(basename "$f") is $s" >&2
        failures=$((failures + 1))
      fi
    done
    n=$(temps)
    if [ "$n" -ne 0 ]; then
      echo "FAIL: SIG$sig after ${delay} s: $n temporary file(s) left" >&2
      failures=$((failures + 1))
      find "$data" -maxdepth 1 -name '.*.vadoset-partial-*' -delete
    fi
    left=$((left + n))
    # Killed by the signal, or finished before it came.
    case "$sig:$status" in
      KILL:137 | TERM:143 | HUP:129 | INT:130 | *:0) ;;
      *) echo "FAIL: SIG$sig after ${delay} s: exit status $status" >&2
         badStatus=$((badStatus + 1)); failures=$((failures + 1)) ;;
    esac
  done
  cells=""
  for f in "${outs[@]}"; do
    b=$(basename "$f")
    cells+=" | ${seen[$b earlier]:-0} / ${seen[$b whole]:-0} / ${seen[$b part]:-0} / ${seen[$b bad]:-0}"
  done
  rows+=("| SIG$sig | $trials | $hit$cells | $left | $badStatus |")
  unset seen
done

echo
header="| signal | trials | sent while running"
for f in "${outs[@]}"; do header+=" | $(basename "$f"): earlier / whole / rows / wrong"; done
echo "$header | temporary files left | wrong exit status |"
echo "|---|---|---$(for f in "${outs[@]}"; do printf '|---'; done)|---|---|"
printf '%s\n' "${rows[@]}"
echo
if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "every trial left each file earlier or whole (or, on Ctrl+C, its complete rows), and no temporary file"
rm -f "${outs[@]}" "$data"/whole.* "$data"/*.earlier
