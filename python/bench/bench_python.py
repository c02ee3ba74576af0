#!/usr/bin/env python3
"""Timings of the Python package (figures in bench/RESULTS.md).

    python bench_python.py records build/bench-data/100k [--cli build/bench/bin/vadoset-cli]
    python bench_python.py grid [--workers 1] [--tiles 20x30] [--years 10]

records: parses the tab-delimited pair PREFIX_temp.txt / PREFIX_prec.txt into
arrays (not timed), then times vadoset.water_balance with 1 and 2 threads,
into new arrays and into an earlier result's (out=) (median of --repeat
runs, records/s) and, with --cli, whole runs of
vadoset-cli --threads 1 on the same files.

grid: tiles the sample grid (examples/grid_*.nc, 34 x 50 cells) lazily with
Dask to ROWSxCOLS times its size (20x30: 1,020,000 cells), computes every
output on a dask.distributed LocalCluster of --workers single-threaded
worker processes, reduced to sums so that nothing large comes back, and
prints the wall time and the peak memory of each worker.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")


def read_tab(path):
    lat, months = [], []
    with open(path, encoding="utf-8", newline="") as f:
        next(f)
        for line in f:
            fields = line.rstrip("\r\n").split("\t")
            lat.append(_number(fields[1]))
            months.append([_number(v) for v in fields[2:14]])
    return np.array(lat), np.array(months)


def _number(text):
    try:
        return float(text)
    except ValueError:
        return np.nan  # "NA" and the like: missing


def records(args):
    import vadoset

    lat, prec = read_tab(args.prefix + "_prec.txt")
    _, temp = read_tab(args.prefix + "_temp.txt")
    n = len(lat)
    print(f"records={n}")
    for carryover in (False, True):
        for threads in (1, 2):
            # New result arrays each call, then one result's arrays written over (out=).
            for reuse in (False, True):
                times, cpu, wb = [], [], None
                for _ in range(args.repeat):
                    start, cpu_start = time.perf_counter(), time.process_time()
                    wb = vadoset.water_balance(temp, prec, lat, carryover=carryover, threads=threads,
                                               out=wb if reuse else None)
                    times.append(time.perf_counter() - start)
                    cpu.append(time.process_time() - cpu_start)
                t, c = statistics.median(times), statistics.median(cpu)
                print(f"water_balance carryover={carryover} threads={threads} out={reuse} median_s={t:.3f} "
                      f"records_per_s={n / t:.0f} cpu_s={c:.3f} records_per_cpu_s={n / c:.0f} "
                      f"null={int(wb.null.sum())}")
    if args.cli:
        import resource

        for carryover in (False, True):
            times, cpu = [], []
            for _ in range(args.repeat):
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                start = time.perf_counter()
                subprocess.run([args.cli, "-t", args.prefix + "_temp.txt", "-p", args.prefix + "_prec.txt",
                                "-o", args.prefix + "_out.txt", "--threads", "1", "--quiet"]
                               + (["--carryover"] if carryover else []), check=True)
                times.append(time.perf_counter() - start)
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                cpu.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
            t, c = statistics.median(times), statistics.median(cpu)
            print(f"vadoset-cli carryover={carryover} threads=1 median_s={t:.3f} records_per_s={n / t:.0f} "
                  f"cpu_s={c:.3f} records_per_cpu_s={n / c:.0f}")


def _sample(kind, months):
    """The sample grid's temperature (°C) or precipitation (mm), read once
    per process."""
    cache = _sample.__dict__.setdefault("cache", {})
    if (kind, months) not in cache:
        import xarray as xr

        import vadoset.xarray as vx

        if kind == "t":
            a = vx.to_celsius(xr.open_dataset(os.path.join(EXAMPLES, "grid_temp.nc"))["tas"].load())
        else:
            a = vx.to_millimetres(xr.open_dataset(os.path.join(EXAMPLES, "grid_prec.nc"))["pr"].load())
        cache[(kind, months)] = a.values[:months].astype(np.float64)
    return cache[(kind, months)]


def _tile_block(kind, months, block_info=None):
    # A chunk is the sample grid repeated across: each worker makes its own
    # chunks from the file, so nothing large goes through the scheduler.
    shape = block_info[None]["chunk-shape"]
    base = _sample(kind, months)
    return np.tile(base, (1, shape[1] // base.shape[1], shape[2] // base.shape[2]))


def grid(args):
    import dask.array as da
    import xarray as xr
    from distributed import Client, LocalCluster

    import vadoset.xarray as vx

    rows, cols = (int(v) for v in args.tiles.split("x"))
    months = 12 * args.years
    # The sample's size from the file alone: what _sample caches here would
    # travel with every task.
    with xr.open_dataset(os.path.join(EXAMPLES, "grid_temp.nc")) as f:
        sy, sx = f.sizes["lat"], f.sizes["lon"]
    ny, nx = sy * rows, sx * cols
    # Chunks one sample high and cols/5 samples wide (about 10,000 cells).
    wide = max(1, cols // 5)
    chunks = ((months,), (sy,) * rows, (sx * wide,) * (cols // wide))
    time_coord = np.array([np.datetime64(f"{2011 + k // 12}-{k % 12 + 1:02d}-01") for k in range(months)],
                          dtype="datetime64[ns]")

    def tiled(kind):
        data = da.map_blocks(_tile_block, kind, months, dtype=np.float64, chunks=chunks, meta=np.array((), np.float64))
        return xr.DataArray(data, dims=("time", "lat", "lon"), coords={
            "time": time_coord, "lat": np.linspace(30.0, 70.0, ny), "lon": np.linspace(-10.0, 40.0, nx)})

    tt, pp = tiled("t"), tiled("p")
    ds = vx.water_balance(tt, pp, carryover=args.carryover)
    sums = [ds[v].sum() for v in ds.data_vars if v != "null_code"] + [(ds.null_code > 0).sum()]
    print(f"cells={ny * nx} years={args.years} records={ny * nx * args.years} chunks={tt.data.npartitions} "
          f"chunk_cells={tt.data.chunksize[1] * tt.data.chunksize[2]}")
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                      dashboard_address=":0") as cluster, Client(cluster) as client:
        client.run(lambda: __import__("vadoset.xarray"))  # loaded before the clock starts
        cpu_before = client.run(lambda: sum(__import__("os").times()[:2]))
        start = time.perf_counter()
        values = client.compute(sums, sync=True)
        wall = time.perf_counter() - start
        peaks = client.run(lambda: __import__("resource").getrusage(__import__("resource").RUSAGE_SELF).ru_maxrss)
        cpu_after = client.run(lambda: sum(__import__("os").times()[:2]))
        cpu = {w: cpu_after[w] - cpu_before[w] for w in cpu_after}
    print(f"workers={args.workers} wall_s={wall:.2f} records_per_s={ny * nx * args.years / wall:.0f} "
          f"worker_cpu_s={sum(cpu.values()):.1f} null_years={int(values[-1])} "
          f"peak_rss_mb_per_worker={[round(v / 1024) for v in peaks.values()]}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="what", required=True)
    r = sub.add_parser("records")
    r.add_argument("prefix")
    r.add_argument("--cli")
    r.add_argument("--repeat", type=int, default=5)
    g = sub.add_parser("grid")
    g.add_argument("--workers", type=int, default=1)
    g.add_argument("--tiles", default="20x30")
    g.add_argument("--years", type=int, default=10)
    g.add_argument("--carryover", action="store_true")
    args = ap.parse_args()
    records(args) if args.what == "records" else grid(args)


if __name__ == "__main__":
    sys.exit(main())
