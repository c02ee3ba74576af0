#!/usr/bin/env bash
# Peak memory stays bounded whatever the lines: two files of long lines (a
# thousand of 256 KiB, then two of 8.5 MiB), run on two threads,
# must stay under 64 MB of resident memory.
#   memory_bound.sh VADOSET_CLI
set -euo pipefail
cli=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
python3 - "$dir" <<'PY'
import sys
d = sys.argv[1]
for name in ("t.txt", "p.txt"):
    with open(f"{d}/{name}", "w") as f:
        f.write("Site\tLat\n")
        line = "x" * (256 * 1024) + "\n"
        for _ in range(1000):
            f.write(line)
        huge = "y" * (17 * 1024 * 1024 // 2) + "\n"
        f.write(huge)
        f.write(huge)
PY
for threads in 2 1; do
  /usr/bin/time -f "%M" -o "$dir/rss" "$cli" -t "$dir/t.txt" -p "$dir/p.txt" -o "$dir/out.txt" --quiet --threads "$threads"
  kb=$(cat "$dir/rss")
  echo "threads $threads: peak $kb KB"
  if ((kb > 64 * 1000)); then
    echo "peak memory $kb KB is over 64 MB" >&2
    exit 1
  fi
done
