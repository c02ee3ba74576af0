"""python3 -m vadoset.grid: the water balance of a NetCDF grid.

    python3 -m vadoset.grid --temperature T.nc --precipitation P.nc --output WB.nc \\
        [--field-capacity MM|FILE.nc] [--function G] [--carryover] \\
        [--keep-precipitation-fraction] [--chunks lat=50,lon=50] [--scheduler ADDRESS]

Reads CF NetCDF files through xarray (netCDF4): _FillValue, scale_factor and
add_offset are applied; temperature in °C or kelvin, precipitation as monthly
totals (mm, kg m-2, cm, m, per month or not) or mean rates (per day, per
second) that are multiplied by the days of each month. Other units, or none,
are refused. Writes the Dataset of vadoset.xarray.water_balance as
compressed CF NetCDF (zlib), through a temporary file beside the output that
is moved into place once complete. Runs on Dask: the local threaded
scheduler, or the dask.distributed scheduler at ADDRESS (its workers need
vadoset installed and the files within reach).

Exit status: 0 when the file was written, 1 when the run failed (the
reason on standard error), 2 for a usage error.
"""

from __future__ import annotations

import argparse
import math
import os
import sys
import tempfile

from ._balance import FUNCTIONS

# Cells per chunk when --chunks is not given: each holds every month of its
# cells, and a block's memory is some 20 times its input's.
DEFAULT_CELLS_PER_CHUNK = 16384


class GridError(Exception):
    """A run that cannot go on; its message is for the user."""


def _parse_args(argv):
    ap = argparse.ArgumentParser(
        prog="python3 -m vadoset.grid",
        description="The climatic water balance of every cell of a monthly NetCDF grid.",
    )
    ap.add_argument("--temperature", "-t", required=True, metavar="FILE",
                    help="monthly mean temperature, °C or K (NetCDF)")
    ap.add_argument("--precipitation", "-p", required=True, metavar="FILE",
                    help="monthly precipitation, mm or kg m-2 (totals), or a rate per day or second (NetCDF)")
    ap.add_argument("--output", "-o", required=True, metavar="FILE", help="the NetCDF file to write")
    ap.add_argument("--field-capacity", default="100", metavar="MM|FILE",
                    help="mm for every cell (default 100), or a NetCDF soil map on the same grid")
    ap.add_argument("--function", default="G", choices=list(FUNCTIONS),
                    help="declining availability function (default G)")
    ap.add_argument("--carryover", action="store_true",
                    help="carry soil water and snow from each December to the next January, cell by cell")
    ap.add_argument("--keep-precipitation-fraction", action="store_true",
                    help="use precipitation as given (default: whole millimetres, as vadoset-cli)")
    ap.add_argument("--chunks", metavar="DIM=N,...",
                    help=f"cells per chunk along the spatial dimensions (default: about {DEFAULT_CELLS_PER_CHUNK} cells)")
    ap.add_argument("--scheduler", metavar="ADDRESS", help="a dask.distributed scheduler (default: local threads)")
    ap.add_argument("--temperature-variable", metavar="NAME", help="the variable to read (default: the only one with time)")
    ap.add_argument("--precipitation-variable", metavar="NAME", help="likewise")
    ap.add_argument("--quiet", action="store_true", help="no progress bar")
    return ap.parse_args(argv)


def _parse_chunks(text):
    chunks = {}
    for item in text.split(","):
        name, eq, size = item.partition("=")
        name = name.strip()
        try:
            n = int(size)
        except ValueError:
            n = 0
        if not eq or not name or (n < 1 and n != -1):
            raise GridError(f"--chunks must be DIM=N pairs separated by commas (N a whole number, or -1 for all), not {text!r}")
        chunks[name] = n
    return chunks


def _variable(ds, name, option, path, time):
    if name is not None:
        if name not in ds.data_vars:
            raise GridError(f"{path} has no variable {name!r} (it has {', '.join(ds.data_vars) or 'none'})")
        return ds[name]
    candidates = [v for v in ds.data_vars if time in ds[v].dims]
    if len(candidates) != 1:
        raise GridError(
            f"{path} has {len(candidates)} variables along {time!r} ({', '.join(candidates) or 'none'}): choose one with {option}"
        )
    return ds[candidates[0]]


def _default_chunks(data, time):
    # Whole rows of the last dimensions first, then as many of the first
    # spatial dimension as fit.
    chunks = {time: -1}
    room = DEFAULT_CELLS_PER_CHUNK
    for dim in reversed([d for d in data.dims if d != time]):
        size = data.sizes[dim]
        chunks[dim] = max(1, min(size, room))
        room = max(1, room // size)
    return chunks


def _field_capacity(text, xr, open_kw):
    try:
        value = float(text)
    except ValueError:
        value = None
    if value is not None and math.isfinite(value):
        return value
    if not os.path.isfile(text):
        raise GridError(f"--field-capacity must be a number of millimetres or a NetCDF file, not {text!r}")
    ds = xr.open_dataset(text, **open_kw)
    names = [v for v in ds.data_vars if ds[v].ndim > 0]
    if len(names) != 1:
        raise GridError(f"{text} must hold one variable, the field capacity in mm (it has {', '.join(names) or 'none'})")
    fc = ds[names[0]]
    units = fc.attrs.get("units")
    if units is not None:
        from .xarray import _AMOUNTS, _plain_units

        factor = _AMOUNTS.get(_plain_units(units))
        if factor is None:
            raise GridError(f"{text}: the field capacity has units {units!r}; use mm (or kg m-2, cm, m)")
        if factor != 1.0:
            fc = fc * factor
    return fc


def run(args):
    import xarray as xr

    from .xarray import to_celsius, to_millimetres, water_balance

    for path in (args.temperature, args.precipitation):
        if not os.path.isfile(path):
            raise GridError(f"The file {path} doesn't exist.")
    out = os.path.abspath(args.output)
    for path in (args.temperature, args.precipitation, args.field_capacity):
        if os.path.isfile(path) and os.path.exists(out) and os.path.samefile(path, out):
            raise GridError(f"The output file {args.output} is one of the input files.")

    client = None
    if args.scheduler:
        from distributed import Client

        client = Client(args.scheduler)
    time = "time"
    try:
        # Open once unchunked to see the dimensions, then in chunks.
        with xr.open_dataset(args.temperature) as probe:
            first = _variable(probe, args.temperature_variable, "--temperature-variable", args.temperature, time)
            chunks = _default_chunks(first, time)
        if args.chunks:
            chunks.update(_parse_chunks(args.chunks))
            chunks[time] = -1
        open_kw = {"chunks": chunks}
        tds = xr.open_dataset(args.temperature, **open_kw)
        pds = xr.open_dataset(args.precipitation, **open_kw)
        try:
            temperature = to_celsius(
                _variable(tds, args.temperature_variable, "--temperature-variable", args.temperature, time),
                f"the temperature in {args.temperature}",
            )
            precipitation = to_millimetres(
                _variable(pds, args.precipitation_variable, "--precipitation-variable", args.precipitation, time),
                f"the precipitation in {args.precipitation}",
                time,
            )
        except ValueError as e:
            raise GridError(str(e)) from None
        fc = _field_capacity(args.field_capacity, xr, open_kw={"chunks": {k: v for k, v in chunks.items() if k != time}})
        try:
            ds = water_balance(
                temperature,
                precipitation,
                field_capacity=fc,
                function=args.function,
                carryover=args.carryover,
                keep_precipitation_fraction=args.keep_precipitation_fraction,
            )
        except ValueError as e:
            raise GridError(str(e)) from None
        ds.attrs["history"] = "python3 -m vadoset.grid " + " ".join(sys.argv[1:])
        _write(ds, out, client, args.quiet)
    finally:
        if client is not None:
            client.close()


def _write(ds, out, client, quiet):
    encoding = {name: {"zlib": True, "complevel": 1, "shuffle": True} for name in ds.data_vars}
    folder = os.path.dirname(out) or "."
    fd, tmp = tempfile.mkstemp(prefix=".vadoset-", suffix=".nc", dir=folder)
    os.close(fd)
    # mkstemp's file is private; the output gets the usual permissions.
    umask = os.umask(0)
    os.umask(umask)
    os.chmod(tmp, 0o666 & ~umask)
    try:
        delayed = ds.to_netcdf(tmp, engine="netcdf4", encoding=encoding, compute=False)
        if client is not None:
            future = client.compute(delayed)
            if not quiet:
                from distributed import progress

                progress(future)
                print(file=sys.stderr)
            future.result()
        elif quiet:
            delayed.compute()
        else:
            from dask.diagnostics import ProgressBar

            with ProgressBar(out=sys.stderr):
                delayed.compute()
        os.replace(tmp, out)
    except BaseException:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise


def main(argv=None):
    args = _parse_args(sys.argv[1:] if argv is None else argv)
    try:
        run(args)
    except GridError as e:
        print(f"vadoset.grid: {e}", file=sys.stderr)
        return 1
    except (OSError, RuntimeError) as e:
        print(f"vadoset.grid: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
