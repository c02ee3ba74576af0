#!/usr/bin/env bash
# Fails when a function under src/ is above cognitive complexity 50
# (clang-tidy's readability-function-cognitive-complexity), on the compile
# commands of a configured build: scripts/check-complexity.sh [BUILD_DIR].
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
tool=clang-tidy-14
command -v "$tool" >/dev/null || tool=clang-tidy
config='{Checks: "-*,readability-function-cognitive-complexity",
  CheckOptions: [{key: readability-function-cognitive-complexity.Threshold, value: 50}]}'
mapfile -t files < <(git ls-files 'src/*.cpp')
# Only this check counts: clang's own complaints about code that g++, the
# compiler of record, takes are not its business.
found=$(printf '%s\n' "${files[@]}" | xargs -P 2 -n 4 "$tool" -p "$build" --quiet --config="$config" 2>/dev/null |
  grep 'readability-function-cognitive-complexity' || true)
if [ -n "$found" ]; then
  echo "$found"
  echo "check-complexity.sh: functions above cognitive complexity 50 (above); split them" >&2
  exit 1
fi
