#!/usr/bin/env python3
"""The grid tool end to end on a 0.5° global grid x 30 years (figures in
bench/RESULTS.md).

    python bench_grid.py make build/bench-data/grid05     # the inputs, once (about 750 MB)
    python bench_grid.py run build/bench-data/grid05 [--workers 1 2] [--formats nc zarr] [--monthly]

make: writes PREFIX_tas.nc and PREFIX_pr.nc, 720 x 360 cells, 1991-2020
monthly, float32 (as CRU TS stores them: classic NetCDF, uncompressed),
about 28% of the cells land and the rest _FillValue. The climate is made
from published zonal figures: annual mean temperature falling from 27 °C at
the equator to -25 °C near the poles, a seasonal range growing from 1 °C in
the tropics to 40 °C in continental high latitudes, precipitation wet at the
equator, dry in the subtropics and moderate in mid-latitudes; seeded
anomalies per cell and year. Synthetic, for timing only.

run: for each format and worker count, runs python3 -m vadoset.grid in a
child process and reports its wall time, CPU time (user + system), peak
resident memory, and records (land cell-years) per CPU-second; and first
the engine's own records per CPU-second on the same cells (the package's
compiled module on one thread, records in memory).
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

import numpy as np

NX, NY = 720, 360
YEARS = range(1991, 2021)
LAND = 0.28
SEED = 19910101


def _land_mask(rng):
    # A smooth random field, cut at its 72nd percentile: continents of a
    # few thousand kilometres, 28% of the cells (not of the area).
    k = rng.normal(size=(NY // 8 + 2, NX // 8 + 2))
    for _ in range(3):
        k = (k + np.roll(k, 1, 0) + np.roll(k, -1, 0) + np.roll(k, 1, 1) + np.roll(k, -1, 1)) / 5
    field = np.kron(k, np.ones((8, 8)))[:NY, :NX]
    return field > np.quantile(field, 1 - LAND)


def make(prefix):
    import xarray as xr

    rng = np.random.default_rng(SEED)
    lat = -89.75 + 0.5 * np.arange(NY)
    lon = -179.75 + 0.5 * np.arange(NX)
    land = _land_mask(rng)
    a = np.abs(lat)[:, None]
    mean = 27.0 - 0.0065 * a**2 + rng.normal(0, 1.5, (NY, NX))  # °C
    amplitude = np.clip(0.5 + 0.45 * a, 0.5, 22.0) * rng.uniform(0.6, 1.0, (NY, NX))  # half the seasonal range
    wet = 60 + 180 * np.exp(-(lat[:, None] / 8) ** 2) - 40 * np.exp(-((a - 25) / 8) ** 2) + 25 * np.exp(-((a - 50) / 12) ** 2)
    wet = np.clip(wet, 3, None) * rng.uniform(0.3, 1.6, (NY, NX))  # mm a month
    sign = np.where(lat[:, None] >= 0, 1.0, -1.0)
    months = len(YEARS) * 12
    tas = np.empty((months, NY, NX), np.float32)
    pr = np.empty((months, NY, NX), np.float32)
    for y in range(len(YEARS)):
        shift = rng.normal(0, 0.6, (NY, NX))
        for m in range(12):
            season = -np.cos(2 * np.pi * (m + 0.5 - 0.5) / 12) * sign  # coldest in January (north)
            k = 12 * y + m
            tas[k] = mean + amplitude * season + shift + rng.normal(0, 0.8)
            pr[k] = np.round(wet * np.exp(rng.normal(0, 0.35) + 0.3 * season * sign) * rng.uniform(0.7, 1.3), 1)
    tas[:, ~land] = np.nan
    pr[:, ~land] = np.nan
    time_values = np.array([np.datetime64(f"{y}-{m:02d}-16") for y in YEARS for m in range(1, 13)],
                           dtype="datetime64[ns]")
    coords = {"time": time_values,
              "lat": ("lat", lat, {"standard_name": "latitude", "units": "degrees_north", "axis": "Y"}),
              "lon": ("lon", lon, {"standard_name": "longitude", "units": "degrees_east", "axis": "X"})}
    for name, data, attrs in (("tas", tas, {"standard_name": "air_temperature", "units": "degC"}),
                              ("pr", pr, {"standard_name": "precipitation_amount", "units": "mm"})):
        ds = xr.Dataset({name: (("time", "lat", "lon"), data, attrs)}, coords=coords,
                        attrs={"title": "bench_grid.py synthetic 0.5 degree grid", "history": "synthetic"})
        ds.to_netcdf(f"{prefix}_{name}.nc", format="NETCDF4_CLASSIC",
                     encoding={name: {"_FillValue": np.float32(9.96921e36)},
                               "time": {"units": "days since 1900-01-01", "_FillValue": None},
                               "lat": {"_FillValue": None}, "lon": {"_FillValue": None}})
    print(f"wrote {prefix}_tas.nc and {prefix}_pr.nc: {NY}x{NX} cells, {int(land.sum())} land "
          f"({land.mean():.1%}), {len(YEARS)} years")


def engine_rate(prefix, cells=20000):
    """The engine's records per CPU-second on the grid's own land cells,
    through the package's compiled module on one thread (records in
    memory, nothing read or written)."""
    import xarray as xr

    from vadoset import _core

    with xr.open_dataset(f"{prefix}_tas.nc") as t, xr.open_dataset(f"{prefix}_pr.nc") as p:
        land = np.flatnonzero(np.isfinite(t.tas.isel(time=0).values).ravel())[:cells]
        ny, nx = t.sizes["lat"], t.sizes["lon"]
        tv = t.tas.values.reshape(-1, ny * nx)[:, land].astype(np.float64)
        pv = p.pr.values.reshape(-1, ny * nx)[:, land].astype(np.float64)
        lat = np.repeat(t.lat.values, nx)[land]
    years = tv.shape[0] // 12
    tr = np.ascontiguousarray(np.moveaxis(tv.reshape(years, 12, -1), 2, 1).reshape(-1, 12))
    pr = np.ascontiguousarray(np.trunc(np.moveaxis(pv.reshape(years, 12, -1), 2, 1).reshape(-1, 12)))
    la = np.ascontiguousarray(np.tile(lat, years))
    fc = np.full(la.shape, 100.0)
    best = None
    for _ in range(3):
        c0 = time.process_time()
        _core.compute(tr, pr, la, fc, 6, False, False, len(la), 1)
        cpu = time.process_time() - c0
        best = cpu if best is None else min(best, cpu)
    return len(la), best


def run(args):
    prefix = args.prefix
    n, cpu = engine_rate(prefix)
    engine = n / cpu
    print(f"engine: {n} records in {cpu:.2f} CPU-s: {engine:,.0f} records per CPU-second (one thread)")
    results = {}
    with tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(prefix))) as tmp:
        for fmt in args.formats:
            for workers in args.workers:
                out = os.path.join(tmp, f"wb.{fmt}")
                cmd = [sys.executable, "-m", "vadoset.grid", "-t", f"{prefix}_tas.nc", "-p", f"{prefix}_pr.nc",
                       "-o", out, "--workers", str(workers), "--quiet"]
                if args.monthly:
                    cmd += ["--monthly", os.path.join(tmp, f"wbm.{fmt}")]
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                start = time.perf_counter()
                # /usr/bin/time for the child's own peak memory.
                proc = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, capture_output=True, text=True)
                wall = time.perf_counter() - start
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                if proc.returncode != 0:
                    print(proc.stderr, file=sys.stderr)
                    raise SystemExit(f"the run failed: {' '.join(cmd)}")
                peak_kb = int(proc.stderr.strip().splitlines()[-1])
                cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
                records = _records(prefix)
                size = _size(out)
                results[(fmt, workers)] = wall
                print(f"{fmt} workers={workers}: wall {wall:.1f} s, CPU {cpu:.1f} s, "
                      f"{records / cpu:,.0f} records per CPU-second ({records / cpu / engine:.2f} of the engine), "
                      f"peak {peak_kb / 1024:.0f} MB, output {size / 2**20:.0f} MB")
                _remove(out)
                if args.monthly:
                    _remove(os.path.join(tmp, f"wbm.{fmt}"))
    for fmt in args.formats:
        if (fmt, 1) in results and (fmt, 2) in results:
            print(f"{fmt}: two workers {results[(fmt, 1)] / results[(fmt, 2)]:.2f}x one (wall)")


_records_cache = {}


def _records(prefix):
    if prefix not in _records_cache:
        import xarray as xr

        with xr.open_dataset(f"{prefix}_tas.nc") as t:
            _records_cache[prefix] = int(np.isfinite(t.tas.isel(time=0).values).sum()) * (t.sizes["time"] // 12)
    return _records_cache[prefix]


def _size(path):
    if os.path.isdir(path):
        return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(path) for f in fs)
    return os.path.getsize(path)


def _remove(path):
    import shutil

    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="what", required=True)
    m = sub.add_parser("make")
    m.add_argument("prefix")
    r = sub.add_parser("run")
    r.add_argument("prefix")
    r.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    r.add_argument("--formats", nargs="+", default=["nc", "zarr"])
    r.add_argument("--monthly", action="store_true", help="also write the monthly outputs")
    args = ap.parse_args()
    if args.what == "make":
        os.makedirs(os.path.dirname(os.path.abspath(args.prefix)), exist_ok=True)
        make(args.prefix)
    else:
        run(args)


if __name__ == "__main__":
    main()
