#!/usr/bin/env bash
# Installs the R package (r/) from this tree into a temporary library and
# runs its testthat tests, which compare it with vadoset-cli of the ci
# preset; then R CMD check --no-manual on the package archive. Fails when a
# test fails, is skipped or none ran, and when the check gives an ERROR or a
# WARNING.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ -z "${VADOSET_CLI:-}" ]; then
  [ -f build/ci/build.ninja ] || cmake --preset ci
  cmake --build --preset ci --target vadoset-cli
  VADOSET_CLI="$root/build/ci/bin/vadoset-cli"
fi
export VADOSET_CLI VADOSET_REQUIRE_CLI=1
export MAKEFLAGS="${MAKEFLAGS:--j2}"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/lib"

R CMD INSTALL --no-multiarch -l "$tmp/lib" r

# The tests of the installed package; a skipped test fails too (every test
# can run here: vadoset-cli and terra are present).
R_LIBS="$tmp/lib" Rscript --vanilla - <<'EOF'
library(vadoset)
results <- as.data.frame(testthat::test_dir("r/tests/testthat", package = "vadoset", load_package = "installed",
                                            reporter = "summary", stop_on_failure = FALSE))
expectations <- sum(results$nb)
failed <- sum(results$failed) + sum(results$error)
skipped <- sum(results$skipped)
cat(sprintf("test-r.sh: %d tests, %d expectations, %d failed, %d skipped\n", nrow(results), expectations,
            failed, skipped))
if (expectations == 0) {
  cat("test-r.sh: no test ran\n")
  quit(status = 1)
}
if (failed > 0 || skipped > 0) quit(status = 1)
EOF

# R CMD check on the archive that R CMD build makes (it carries the engine's
# sources that configure copied when the package was installed above).
(cd "$tmp" && R CMD build --no-build-vignettes --no-manual "$root/r")
archive=$(ls "$tmp"/vadoset_*.tar.gz)
status=0
(cd "$tmp" && R CMD check --no-manual "$archive") || status=$?
log="$tmp/vadoset.Rcheck/00check.log"
if [ "$status" -ne 0 ] || ! grep -q '^Status: ' "$log" || grep '^Status: ' "$log" | grep -Eq 'ERROR|WARNING'; then
  echo "test-r.sh: R CMD check failed:" >&2
  grep -E -A12 '\.\.\. (ERROR|WARNING)$' "$log" >&2 || true
  exit 1
fi
grep '^Status: ' "$log"
