#!/usr/bin/env bash
# Sets up what is missing, builds with warnings as errors, and runs every test;
# then the core tests under the sanitizers, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/check-format.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci
scripts/check-complexity.sh build/ci

# The Python package: built into a virtual environment, tested with pytest
# against the vadoset-cli just built.
VADOSET_CLI="$PWD/build/ci/bin/vadoset-cli" scripts/test-python.sh

# The R package: installed into a temporary library, its testthat tests
# against the same vadoset-cli, then R CMD check --no-manual.
VADOSET_CLI="$PWD/build/ci/bin/vadoset-cli" scripts/test-r.sh

# The core tests again under the address and undefined-behaviour sanitizers
# (a debug build without the window).
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

# A short run of every fuzz target from its seed corpus.
scripts/fuzz-smoke.sh 20
