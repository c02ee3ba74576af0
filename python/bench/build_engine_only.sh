#!/usr/bin/env bash
# Builds python/bench/engine_only.cpp with the engine's sources, each lane
# kernel with its own instruction set, as python/setup.py builds the module.
#   python/bench/build_engine_only.sh build/engine-only
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-build/engine-only}
flags=(-std=c++20 -O2 -ffp-contract=off -fno-fast-math -Isrc)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
g++ "${flags[@]}" -mavx2 -c src/model/lanes_avx2.cpp -o "$tmp/avx2.o"
g++ "${flags[@]}" -mavx512f -c src/model/lanes_avx512.cpp -o "$tmp/avx512.o"
mkdir -p "$(dirname "$out")"
g++ "${flags[@]}" python/bench/engine_only.cpp src/model/engine.cpp src/model/beta.cpp src/model/lane_engine.cpp \
  "$tmp/avx2.o" "$tmp/avx512.o" -o "$out"
echo "built $out"
