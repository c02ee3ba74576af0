#!/usr/bin/env bash
# Kills vadoset-cli runs at random moments and checks, after every trial, that
# the output path holds either the earlier table, untouched, or the whole new
# table, byte for byte; and that SIGTERM and SIGHUP leave no temporary file.
# kill -9 may leave one (.out.txt.vadoset-partial-XXXXXX); they are counted
# and removed. Too long for CI (about half an hour): run it by hand.
#
#   tests/faults/kill_trials.sh [--trials N] [--signals LIST] [--records N] [--cli PATH] [--data DIR] [--threads N]
#
#   --trials N    trials per signal (default 50)
#   --signals L   the signals, by name (default "KILL TERM HUP")
#   --records N   input records (default 1000000), made by bench/make_inputs.py
#   --cli PATH    the binary (default build/release/bin/vadoset-cli, else build/ci/bin/vadoset-cli)
#   --data DIR    where inputs and tables go (default build/kill-trials; needs ~1.5 GB)
#   --threads N   passed to vadoset-cli (default: its own default)
set -euo pipefail
cd "$(dirname "$0")/../.."

trials=50
signals="KILL TERM HUP"
records=1000000
cli=""
data=build/kill-trials
threads=()
while (($#)); do
  case "$1" in
    --trials) trials="$2"; shift 2 ;;
    --signals) signals="$2"; shift 2 ;;
    --records) records="$2"; shift 2 ;;
    --cli) cli="$2"; shift 2 ;;
    --data) data="$2"; shift 2 ;;
    --threads) threads=(--threads "$2"); shift 2 ;;
    *) sed -n '2,17p' "$0" >&2; exit 2 ;;
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
out="$data/out.txt"
earlier="$data/earlier.txt"
whole="$data/whole.txt"
run() { "$cli" -t "${in}_temp.txt" -p "${in}_prec.txt" -o "$1" --quiet "${threads[@]}"; }

# The whole new table, and how long a run takes.
start=$(date +%s.%N)
run "$whole"
secs=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
printf 'earlier table, kept unless a whole new one replaces it\r' >"$earlier"
echo "vadoset-cli: $cli; $records records; a whole run takes ${secs} s; table $(stat -c %s "$whole") bytes"

temps() { find "$data" -maxdepth 1 -name '.out.txt.vadoset-partial-*' | wc -l; }
failures=0
declare -A kept whole_ left status_bad hit
for sig in $signals; do
  kept[$sig]=0 whole_[$sig]=0 left[$sig]=0 status_bad[$sig]=0 hit[$sig]=0
  for ((i = 1; i <= trials; i++)); do
    cp "$earlier" "$out"
    # A moment from the start to a little past the end of a run, so that some
    # signals come while the table is synced and renamed, or after.
    delay=$(awk -v r="$RANDOM$RANDOM" -v s="$secs" 'BEGIN { srand(r); printf "%.3f", rand() * s * 1.1 }')
    # Signals at their defaults: nohup, or a shell without job control, would
    # have the run ignore SIGHUP or SIGINT, as vadoset-cli then rightly does.
    env --default-signal=HUP,INT,TERM "$cli" -t "${in}_temp.txt" -p "${in}_prec.txt" -o "$out" --quiet \
      "${threads[@]}" &
    pid=$!
    sleep "$delay"
    if kill -s "$sig" "$pid" 2>/dev/null; then hit[$sig]=$((hit[$sig] + 1)); fi
    status=0
    wait "$pid" 2>/dev/null || status=$?
    if cmp -s "$out" "$earlier"; then
      kept[$sig]=$((kept[$sig] + 1))
    elif cmp -s "$out" "$whole"; then
      whole_[$sig]=$((whole_[$sig] + 1))
    else
      echo "FAIL: SIG$sig after ${delay} s: the output is neither the earlier table nor the whole new one" >&2
      failures=$((failures + 1))
    fi
    n=$(temps)
    if [ "$sig" != KILL ] && [ "$n" -ne 0 ]; then
      echo "FAIL: SIG$sig after ${delay} s: $n temporary file(s) left" >&2
      failures=$((failures + 1))
    fi
    left[$sig]=$((left[$sig] + n))
    find "$data" -maxdepth 1 -name '.out.txt.vadoset-partial-*' -delete
    # Killed by the signal, or finished before it came.
    case "$sig:$status" in
      KILL:137 | TERM:143 | HUP:129 | *:0) ;;
      *) echo "FAIL: SIG$sig after ${delay} s: exit status $status" >&2
         status_bad[$sig]=$((status_bad[$sig] + 1)); failures=$((failures + 1)) ;;
    esac
  done
done

echo
echo "| signal | trials | sent while running | earlier table kept | whole new table | temporary files left | wrong exit status |"
echo "|---|---|---|---|---|---|---|"
for sig in $signals; do
  echo "| SIG$sig | $trials | ${hit[$sig]} | ${kept[$sig]} | ${whole_[$sig]} | ${left[$sig]} | ${status_bad[$sig]} |"
done
echo
if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "every trial left the earlier table or the whole new one"
rm -f "$out" "$whole" "$earlier"
