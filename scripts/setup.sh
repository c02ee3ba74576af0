#!/usr/bin/env bash
# Installs the Debian packages that building and testing Vadoset needs, when
# they are missing. Safe to run again: it does nothing when all are present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libdragonbox-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # Qt Charts' CMake files need Qt OpenGL's, which Debian does not pull in.
  qt6-charts-dev qt6-svg-dev libqt6opengl6-dev
  xvfb xauth
  python3 time
  clang libclang-rt-14-dev clang-format clang-tidy
  python3-pybind11 python3-setuptools python3-numpy python3-pandas python3-xarray python3-netcdf4
  python3-dask python3-distributed python3-pytest python3-venv python3-pip python3-dev
  # The grid tool: Zarr output, GeoTIFF in and out, projected grids; CDO
  # reads its output in the tests.
  python3-zarr python3-rioxarray python3-rasterio python3-pyproj python3-psutil cdo
  # The R package (r/): R CMD check wants codetools; roxygen2 writes r/man.
  r-base-dev r-cran-rcpp r-cran-terra r-cran-testthat r-cran-codetools r-cran-roxygen2
  # Where a run's time goes (bench/whole_runs.sh --stages perf or callgrind).
  linux-perf valgrind
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} > 0)); then
  echo "Installing missing packages: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
