#!/usr/bin/env bash
# Rewrites every case's expected table with vadoset-cli, then checks each one
# against the independent reference calculation in tests/reference. Run it
# only after a deliberate change of the model or the output, and read the
# diff before committing.
#
#   tests/data/regenerate.sh build/dev/bin/vadoset-cli
set -euo pipefail
cli=$(realpath "$1")
cd "$(dirname "$0")"
root=$(cd ../.. && pwd)
for dir in */; do
  dir=${dir%/}
  [ -f "$dir/args" ] || continue
  mapfile -t args < <(sed -e "s|{case}|$PWD/$dir|g" -e "s|{root}|$root|g" "$dir/args")
  "$cli" "${args[@]}" -o "$dir/expected.txt"
  python3 "$root/tests/reference/vadoset_ref.py" "${args[@]}" >"/tmp/vadoset-ref-$dir.txt"
  python3 "$root/tests/reference/compare_tables.py" "$dir/expected.txt" "/tmp/vadoset-ref-$dir.txt"
  echo "$dir: $(tr '\r' '\n' <"$dir/expected.txt" | tail -n +2 | grep -c '') rows, matches the reference"
done
