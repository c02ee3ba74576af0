#!/usr/bin/env bash
# Fails when a C++ file of the repository differs from what clang-format 14
# makes of it (.clang-format); `scripts/check-format.sh --fix` rewrites them.
set -euo pipefail
cd "$(dirname "$0")/.."

tool=clang-format-14
command -v "$tool" >/dev/null || tool=clang-format
# Rcpp writes r/src/RcppExports.cpp (Rcpp::compileAttributes): not ours to format.
mapfile -t files < <(git ls-files '*.cpp' '*.h' ':!:r/src/RcppExports.cpp')
if [ "${1:-}" = "--fix" ]; then
  "$tool" -i "${files[@]}"
  exit 0
fi
if ! "$tool" --dry-run -Werror "${files[@]}"; then
  echo "check-format.sh: the files above are not formatted; run scripts/check-format.sh --fix" >&2
  exit 1
fi
