#!/usr/bin/env bash
# Builds the Python package from this tree into a virtual environment under
# build/ (offline, with the Debian packages' numpy, pandas, xarray, Dask) and
# runs its tests, which compare it with vadoset-cli of the ci preset.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${VADOSET_CLI:-}" ]; then
  [ -f build/ci/build.ninja ] || cmake --preset ci
  cmake --build --preset ci --target vadoset-cli
  VADOSET_CLI="$PWD/build/ci/bin/vadoset-cli"
fi
export VADOSET_CLI VADOSET_REQUIRE_CLI=1

venv=build/python-venv
if [ ! -x "$venv/bin/python" ]; then
  /usr/bin/python3 -m venv --system-site-packages "$venv"
fi
"$venv/bin/python" -m pip install --quiet --no-build-isolation --no-index --no-cache-dir ./python

# From the repository root, so that the installed package is the one tested
# (not python/vadoset); no cache written into the source tree.
status=0
"$venv/bin/python" -m pytest -q -p no:cacheprovider python/tests || status=$?
if [ "$status" -eq 5 ]; then
  echo "test-python.sh: pytest collected no tests" >&2
  exit 1
fi
exit "$status"
