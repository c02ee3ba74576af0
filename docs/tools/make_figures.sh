#!/bin/sh
# Builds beta_curves and draws docs/images/availability-curves.png from the
# program's own availability curves. Run from anywhere; uses the ci preset.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
[ -f build/ci/build.ninja ] || cmake --preset ci >/dev/null
cmake --build --preset ci --target beta_curves -j2 >/dev/null
mkdir -p docs/images
build/ci/bin/beta_curves > build/ci/beta_curves.txt
/usr/bin/python3 docs/tools/plot_beta_curves.py docs/images/availability-curves.png build/ci/beta_curves.txt
echo "wrote docs/images/availability-curves.png"
