"""python3 -m vadoset.grid: the water balance of every cell of a monthly grid.

    python3 -m vadoset.grid -t TEMPERATURE_FILES... -p PRECIPITATION_FILES... -o OUT.nc|OUT.zarr|OUT.tif
        [--monthly MONTHLY.nc|.zarr] [--variables LIST] [--dtype float32|float64]
        [--tmax FILES...] [--tmin FILES...] [--pet FILES...] [--field-capacity MM|FILE]
        [--function G] [--carryover] [--keep-precipitation-fraction] [--start-month M]
        [--workers N] [--chunks DIM=N,...] [--memory-limit MB] [--scheduler ADDRESS] [--quiet]

Reads the datasets as they are downloaded (CRU TS, TerraClimate,
WorldClim GeoTIFFs, ERA5, CF NetCDF in general; many files and globs),
finds the variables and units by the files' own conventions, and computes
the grid in 2-D tiles on local threads or a dask.distributed cluster. The
annual outputs go to OUT (NetCDF, Zarr, or for a climatology a GeoTIFF of
annual layers) on a CF time axis; the monthly outputs to --monthly. Every
file is written beside its target and moved into place when complete.

Exit status: 0 when written, 1 when the run failed (the reason on standard
error), 2 for a usage error.
"""

from __future__ import annotations

import argparse
import datetime
import math
import os
import queue
import shutil
import sys
import tempfile
import threading
import time as _clock

import numpy as np

from . import _cells, _checks, _datasets
from ._balance import FUNCTIONS, MAX_THREADS, NO_DATA, NULL_CODES, check_field_capacity

ANNUAL_DEFAULT = ("pet_total", "aet_total", "surplus_total", "deficit_total", "null_code")
# Bytes a cell-month takes while a tile is computed: the inputs read as
# float64, the engine's inputs and outputs, and the outputs kept.
BYTES_PER_CELL_MONTH = 160
# A tile's memory at most, and the tiles in flight per worker (one read,
# one computing, one being written).
TILE_BYTES_MAX = 192 * 2**20  # keeps each array of a tile under 32 MB
TILES_IN_FLIGHT = 3


class GridError(Exception):
    """A run that cannot go on; its message is for the user."""


def _parse_args(argv):
    ap = argparse.ArgumentParser(
        prog="python3 -m vadoset.grid",
        description="The climatic water balance of every cell of a monthly grid (NetCDF, Zarr, GeoTIFF).",
    )
    ap.add_argument("--temperature", "-t", required=True, nargs="+", metavar="FILE",
                    help="files or globs holding monthly mean temperature (or tmax and tmin, averaged)")
    ap.add_argument("--precipitation", "-p", required=True, nargs="+", metavar="FILE",
                    help="files or globs holding monthly precipitation (may be the temperature's files)")
    ap.add_argument("--output", "-o", required=True, metavar="FILE",
                    help="the annual outputs: .nc (NetCDF-4), .zarr (Zarr store), .tif (a climatology's layers)")
    ap.add_argument("--monthly", metavar="FILE", help="also write the monthly outputs here (.nc or .zarr)")
    ap.add_argument("--variables", metavar="LIST",
                    help="outputs to write, by name or group (annual, monthly, all); default: "
                    + ",".join(ANNUAL_DEFAULT) + " and, with --monthly, the monthly ones")
    ap.add_argument("--dtype", choices=["float32", "float64"], default="float32",
                    help="of the outputs (default float32; float64 keeps every bit of the engine's numbers)")
    ap.add_argument("--tmax", nargs="+", metavar="FILE", help="files of maximum temperature (with --tmin)")
    ap.add_argument("--tmin", nargs="+", metavar="FILE", help="files of minimum temperature (with --tmax)")
    ap.add_argument("--pet", nargs="+", metavar="FILE",
                    help="monthly PET of your own (Penman-Monteith, say): replaces Willmott's, same bucket")
    ap.add_argument("--field-capacity", default="100", metavar="MM|FILE",
                    help="mm for every cell (default 100), or a NetCDF/GeoTIFF soil map on the same grid")
    ap.add_argument("--function", default="G", choices=list(FUNCTIONS),
                    help="declining availability function (default G)")
    ap.add_argument("--carryover", action="store_true",
                    help="carry soil water and snow from each December to the next January, cell by cell")
    ap.add_argument("--keep-precipitation-fraction", action="store_true",
                    help="use precipitation as given (default: whole millimetres, as vadoset-cli)")
    ap.add_argument("--start-month", type=int, default=1, metavar="M",
                    help="first month of each year (10: water years from October; default 1)")
    ap.add_argument("--workers", type=int, metavar="N", help="computing threads (default: the cores)")
    ap.add_argument("--chunks", metavar="DIM=N,...", help="tile size along the spatial dimensions "
                    "(default: from the grid and the memory)")
    ap.add_argument("--memory-limit", type=float, metavar="MB",
                    help="memory for the tiles in flight (default: half the memory available)")
    ap.add_argument("--scheduler", metavar="ADDRESS", help="a dask.distributed scheduler (default: local threads)")
    for what in ("temperature", "precipitation", "pet"):
        ap.add_argument(f"--{what}-variable", metavar="NAME", help=f"the {what} variable, when the files' "
                        "conventions do not say")
        ap.add_argument(f"--{what}-units", metavar="UNITS", help=f"the {what} units, when the files do not say "
                        "(or to override them)")
    ap.add_argument("--quiet", action="store_true", help="no notes, progress or summary")
    return ap.parse_args(argv)


def _say(args, text):
    if not args.quiet:
        print(f"vadoset.grid: {text}", file=sys.stderr)


def _choose_variables(text, monthly_wanted):
    if text is None:
        names = list(ANNUAL_DEFAULT) + (list(_cells.MONTHLY) if monthly_wanted else [])
    else:
        names = []
        for item in (v.strip() for v in text.split(",")):
            group = {"annual": ANNUAL_DEFAULT, "monthly": _cells.MONTHLY, "all": _cells.ALL}.get(item)
            if group:
                names += [n for n in group if n not in names]
            elif item in _cells.ALL:
                if item not in names:
                    names.append(item)
            else:
                raise GridError(f"--variables: {item!r} is not an output; choose from {', '.join(_cells.ALL)}, "
                                "or the groups annual, monthly, all")
    if any(n in _cells.MONTHLY for n in names) and not monthly_wanted:
        raise GridError("--variables names monthly outputs: give --monthly FILE for them (monthly and annual "
                        "outputs go to files of their own, each with one time axis)")
    if monthly_wanted and not any(n in _cells.MONTHLY for n in names):
        raise GridError("--monthly is given but --variables names no monthly output")
    return tuple(n for n in _cells.ALL if n in names)


def _format_of(path, option):
    low = path.lower().rstrip("/")
    if low.endswith(".zarr"):
        return "zarr"
    if low.endswith((".tif", ".tiff")):
        return "tiff"
    if low.endswith((".nc", ".nc4", ".netcdf")):
        return "netcdf"
    raise GridError(f"{option} {path}: name it .nc (NetCDF), .zarr (Zarr) or .tif (GeoTIFF)")


def _tile_shape(grid, months, args, workers):
    dims, shape = grid.dims, grid.shape
    if args.chunks:
        sizes = dict(zip(dims, shape))
        tile = list(shape)
        for item in args.chunks.split(","):
            name, eq, size = item.partition("=")
            name = name.strip()
            try:
                n = int(size)
            except ValueError:
                n = 0
            if not eq or (n < 1 and n != -1):
                raise GridError(f"--chunks must be DIM=N pairs separated by commas (N a whole number, or -1 for "
                                f"all), not {args.chunks!r}")
            if name not in sizes:
                raise GridError(f"--chunks: the grid has no dimension {name!r} (its spatial dimensions are "
                                f"{', '.join(dims)})")
            tile[dims.index(name)] = sizes[name] if n == -1 else min(n, sizes[name])
        return tuple(tile)
    if args.memory_limit is not None:
        budget = args.memory_limit * 2**20
    else:
        try:
            import psutil

            budget = psutil.virtual_memory().available / 2
        except ImportError:
            budget = 2 * 2**30
    per_tile = min(TILE_BYTES_MAX, budget / (workers * TILES_IN_FLIGHT))
    cells = max(1, int(per_tile // (BYTES_PER_CELL_MONTH * max(months, 12))))
    if len(shape) == 1:
        return (min(shape[0], cells),)
    ny, nx = shape
    side = max(1, int(math.sqrt(cells)))
    if side >= nx or (grid.layout == "rows" and cells >= nx):
        # Whole rows: the inputs are stored month by month in rows (classic
        # NetCDF, contiguous or chunked in whole rows), so a tile of whole
        # rows reads one block a month, where a square reads a sliver of
        # each row.
        return (min(ny, max(1, cells // nx)), nx)
    # Square tiles, a multiple of 16 cells where they can be (GeoTIFF
    # blocks, and the inputs' own chunks are often such).
    if side >= 32:
        side -= side % 16
    return (min(ny, side), min(nx, side))


def _regions(shape, tile):
    import itertools

    ranges = [range(0, n, t) for n, t in zip(shape, tile)]
    for starts in itertools.product(*ranges):
        yield tuple(slice(s, min(s + t, n)) for s, t, n in zip(starts, tile, shape))


class Job:
    """What every tile needs, sent once to each worker."""

    def __init__(self, plan, names, options, fc_value, fc_source):
        self.plan = plan
        self.names = names
        self.options = options
        self.fc_value = fc_value
        self.fc_source = fc_source


def compute_tile(job, region, zarr_paths=None):
    """Reads, computes and (for Zarr) writes one tile. Returns (region,
    outputs or None, counts): outputs {name: array (steps, *tile)} unless
    written here; counts of null codes among the tile's records."""
    plan = job.plan
    # Read as the files hold it; only cells with data are made float64
    # and converted (most of a global grid is sea).
    t = plan.temperature.read_raw(region)
    p = plan.precipitation.read_raw(region)
    months = t.shape[0]
    shape = t.shape[1:]
    cells = int(np.prod(shape))
    t = t.reshape(months, cells)
    p = p.reshape(months, cells)
    years = months // 12
    counts = np.zeros(len(NULL_CODES), np.int64)
    land = np.flatnonzero(~(np.isnan(t).all(axis=0) | np.isnan(p).all(axis=0)))
    if land.size == 0:
        counts[NO_DATA] = cells * years
        outputs = {"null_code": np.full((years,) + shape, NO_DATA, np.uint8)} if "null_code" in job.names else {}
        return region, _write_zarr(zarr_paths, region, outputs), counts
    t2 = plan.temperature.convert(_cells_first(t, land))
    p2 = plan.precipitation.convert(_cells_first(p, land))
    del t, p
    pe = None
    if plan.pet is not None:
        pe = plan.pet.convert(_cells_first(plan.pet.read_raw(region).reshape(months, cells), land))
    lat = plan.grid.latitude_of(region).reshape(cells)[land]
    fc = job.fc_value
    if job.fc_source is not None:
        fc = job.fc_source.read_cells(region).reshape(cells)[land]
    names = tuple(set(job.names) | {"null_code"})
    out = _cells.compute(t2, p2, lat, fc, pe, names=names, **job.options)
    counts += np.bincount(out["null_code"].ravel(), minlength=len(NULL_CODES))[: len(NULL_CODES)]
    counts[NO_DATA] += (cells - land.size) * years
    outputs = {}
    for name in job.names:
        a = out[name]
        steps = a.shape[-1]
        full = np.full((steps, cells), NO_DATA if name == "null_code" else np.nan, dtype=a.dtype)
        full[:, land] = a.T
        outputs[name] = full.reshape((steps,) + shape)
    return region, _write_zarr(zarr_paths, region, outputs), counts


def _cells_first(a, land):
    """(months, cells) as read -> (land cells, months) float64, C order,
    in one pass."""
    return np.ascontiguousarray(a[:, land].T, dtype=np.float64)


def _fit(block, ndim):
    """A tile's block for a variable of ndim dimensions: a climatology's
    annual layers have no time axis, and their one step goes."""
    return block.reshape(block.shape[-ndim:]) if block.ndim > ndim else block


def _write_zarr(paths, region, outputs):
    """Writes the outputs that go to Zarr stores (each tile its own chunks);
    returns the others, for the writer threads."""
    if not paths:
        return outputs
    import zarr

    rest = dict(outputs)
    for path, names in paths:
        group = zarr.open_group(path, mode="r+")
        for name in names:
            if name in outputs:
                a = group[name]
                a[(slice(None),) * (a.ndim - len(region)) + region] = _fit(outputs[name], a.ndim)
                rest.pop(name, None)
    return rest or None


# Attributes of an input's coordinates that describe its storage, not the
# coordinate, and are not copied.
_STORAGE_ATTRS = {"_FillValue", "missing_value", "scale_factor", "add_offset", "valid_range", "valid_min",
                  "valid_max", "_Unsigned", "chunksizes"}


def _template(plan, names, dtype, kind, tile, attrs):
    """The output Dataset with lazy placeholders: the coordinates with
    their attributes, the CF time axis, grid_mapping, and every variable's
    attributes and chunks."""
    import dask.array as da
    import xarray as xr

    from . import _time
    from .xarray import ATTRS, null_code_attrs

    grid = plan.grid
    rec = plan.records
    coords = {}
    for name, (dims, values, cattrs) in grid.coords.items():
        coords[name] = (dims, values, {k: v for k, v in cattrs.items() if k not in _STORAGE_ATTRS})
    if kind == "annual":
        steps = len(rec.years)
        if not plan.climatology:
            values, bounds, units = _time.annual_bounds(rec)
            # Each year's first day, its bounds to the next year's. (No
            # separate year variable: CDO takes such a variable for data or
            # warns about it in every command.)
            long_name = "time" if rec.start_month == 1 else \
                f"start of the year from {_time.MONTH_NAMES[rec.start_month - 1]} (labelled by the year it ends in)"
            coords["time"] = ("time", values, {"standard_name": "time", "long_name": long_name, "axis": "T",
                                               "units": units, "calendar": rec.calendar, "bounds": "time_bnds"})
    else:
        steps = rec.count
        if not plan.climatology:
            first = rec.year_month[0]
            units = f"days since {int(first[0]):04d}-{int(first[1]):02d}-01"
            starts, ends = _month_bounds(rec.year_month, units, rec.calendar)
            coords["time"] = ("time", starts, {"standard_name": "time", "long_name": "time", "axis": "T",
                                               "units": units, "calendar": rec.calendar, "bounds": "time_bnds"})
        else:
            coords["month"] = ("month", np.arange(1, 13, dtype=np.int32), {"long_name": "month of the year"})
    tdim = "month" if plan.climatology and kind == "monthly" else "time"
    data = {}
    for name in names:
        if (name in _cells.MONTHLY) != (kind == "monthly"):
            continue
        is_code = name == "null_code"
        dt = np.uint8 if is_code else dtype
        if plan.climatology and kind == "annual":
            dims = grid.dims
            chunks = tile
            shape = grid.shape
        else:
            dims = (tdim,) + grid.dims
            chunks = (steps,) + tile
            shape = (steps,) + grid.shape
        a = da.zeros(shape, dtype=dt, chunks=chunks)
        vattrs = null_code_attrs() if is_code else {"units": "mm", **ATTRS[name]}
        if plan.climatology:
            vattrs["cell_methods"] = vattrs.get("cell_methods", "").replace("time: sum", "time: sum within years") \
                + " time: mean over years (a climatology)" if not is_code else ""
            if not vattrs["cell_methods"]:
                del vattrs["cell_methods"]
        if grid.grid_mapping:
            vattrs["grid_mapping"] = grid.grid_mapping
        aux = [n for n, (d, _, _) in grid.coords.items() if d != (n,)]
        if aux:
            vattrs["coordinates"] = " ".join(aux)
        data[name] = (dims, a, vattrs)
    ds = xr.Dataset(data, coords=coords, attrs=attrs)
    if "time" in ds.coords:
        if kind == "annual":
            _, bounds, _ = _time.annual_bounds(rec)
        else:
            bounds = np.stack(_month_bounds(rec.year_month, ds["time"].attrs["units"], rec.calendar), axis=1)
        ds["time_bnds"] = (("time", "bnds"), bounds)
    if grid.grid_mapping:
        ds[grid.grid_mapping] = ((), np.int32(0), dict(grid.crs_attrs))
    return ds


def _month_bounds(ym, units, calendar):
    import cftime

    total = ym[:, 0] * 12 + ym[:, 1] - 1
    starts = [cftime.datetime(int(k // 12), int(k % 12 + 1), 1, calendar=calendar) for k in total]
    ends = [cftime.datetime(int((k + 1) // 12), int((k + 1) % 12 + 1), 1, calendar=calendar) for k in total]
    return (np.asarray(cftime.date2num(starts, units, calendar=calendar), dtype=np.float64),
            np.asarray(cftime.date2num(ends, units, calendar=calendar), dtype=np.float64))


def _encoding(ds, tile, names):
    enc = {}
    for name in ds.variables:
        if name in names:
            var = ds[name]
            chunks = tuple(var.data.chunksize)
            fill = None if name == "null_code" else (np.nan if var.dtype.kind == "f" else None)
            enc[name] = {"chunksizes": chunks, "_FillValue": fill}
        else:
            enc[name] = {"_FillValue": None}
    return enc


class _QueuedWriter:
    """One thread writes every tile into the file, in the order they are
    computed; the computing threads hand tiles over and go on. A failed
    write is kept and raised on the next put or at close."""

    def _start(self, depth):
        self.queue = queue.Queue(maxsize=max(2, depth))
        self.error = None
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while True:
            item = self.queue.get()
            if item is None:
                return
            if self.error is not None:
                continue
            try:
                self._write(*item)
            except Exception as e:  # handed to the main thread
                self.error = e

    def put(self, region, outputs):
        if self.error is not None:
            raise self.error
        self.queue.put((region, outputs))

    def close(self):
        self.queue.put(None)
        self.thread.join()
        self._close_file()
        if self.error is not None:
            raise self.error


class NetcdfWriter(_QueuedWriter):
    """The tiles into a NetCDF file."""

    def __init__(self, path, template, names, depth):
        import netCDF4

        self.names = [n for n in names if n in template.data_vars]
        enc = _encoding(template, None, self.names)
        # The skeleton (coordinates, attributes, empty variables), then
        # the data by region.
        _write_skeleton_netcdf(path, template, self.names, enc)
        self.nc = netCDF4.Dataset(path, "a")
        self.nc.set_auto_maskandscale(False)
        self._start(depth)

    def _write(self, region, outputs):
        for name in self.names:
            if name in outputs:
                var = self.nc.variables[name]
                var[(slice(None),) * (var.ndim - len(region)) + region] = _fit(outputs[name], var.ndim)

    def _close_file(self):
        self.nc.close()


def _write_skeleton_netcdf(path, template, names, enc):
    import netCDF4

    ds = template
    with netCDF4.Dataset(path, "w", format="NETCDF4") as nc:
        for d, n in ds.sizes.items():
            nc.createDimension(d, n)
        for name, var in ds.variables.items():
            if name in names:
                fill = enc[name]["_FillValue"]
                v = nc.createVariable(name, var.dtype, var.dims, zlib=True, complevel=1, shuffle=True,
                                      chunksizes=enc[name]["chunksizes"],
                                      fill_value=fill if fill is not None else False)
            else:
                values = np.asarray(var.values)
                if values.dtype.kind == "U":
                    values = values.astype(str)
                v = nc.createVariable(name, values.dtype if values.dtype.kind != "O" else str, var.dims,
                                      fill_value=False)
                if var.dims or values.size:
                    v[...] = values
            attrs = {k: (a if not isinstance(a, (list, tuple)) else np.asarray(a)) for k, a in var.attrs.items()}
            v.setncatts(attrs)
        nc.setncatts({k: v for k, v in ds.attrs.items() if v is not None})


class TiffWriter(_QueuedWriter):
    """A climatology's annual layers, one band each, through rasterio."""

    def __init__(self, path, plan, names, depth):
        import rasterio
        from rasterio.transform import from_origin

        grid = plan.grid
        if len(grid.dims) != 2:
            raise GridError("a GeoTIFF needs a grid of two spatial dimensions")
        ydim, xdim = grid.dims
        x = grid.coords[xdim][1]
        y = grid.coords[ydim][1]
        dx = float(x[1] - x[0]) if x.size > 1 else 1.0
        dy = float(y[1] - y[0]) if y.size > 1 else -1.0
        self.flip = dy > 0  # GeoTIFF rows run north to south
        transform = from_origin(float(x[0]) - dx / 2, float(max(y[0], y[-1])) + abs(dy) / 2, dx, abs(dy))
        crs = None
        if grid.crs_attrs:
            from .xarray import crs_from_attrs

            c = crs_from_attrs(grid.crs_attrs)
            crs = c.to_wkt() if c is not None else None
        elif grid.latitude is not None:
            crs = "EPSG:4326"
        self.names = list(names)
        self.ny = grid.shape[0]
        self.ds = rasterio.open(path, "w", driver="GTiff", width=grid.shape[1], height=grid.shape[0],
                                count=len(self.names), dtype="float32", crs=crs, transform=transform,
                                nodata=float("nan"), tiled=True, blockxsize=256, blockysize=256,
                                compress="deflate", BIGTIFF="IF_SAFER")
        for k, n in enumerate(self.names):
            self.ds.set_band_description(k + 1, n)
        self._start(depth)

    def _write(self, region, outputs):
        from rasterio.windows import Window

        ys, xs = region
        for k, n in enumerate(self.names):
            a = outputs.get(n)
            if a is None:
                continue
            a = np.asarray(a[0], dtype=np.float32)
            row = ys.start
            if self.flip:
                a = a[::-1]
                row = self.ny - ys.stop
            self.ds.write(a, k + 1, window=Window(xs.start, row, a.shape[1], a.shape[0]))

    def _close_file(self):
        self.ds.close()


def _create_zarr(path, template, names):
    """The store's metadata and coordinates; the tiles write the data, each
    its own chunks (storage chunks are the tiles), so no lock is needed."""
    enc = {}
    for name in template.variables:
        var = template[name]
        if name in names:
            enc[name] = {"chunks": tuple(var.data.chunksize)}
            var.encoding["_FillValue"] = np.nan if var.dtype.kind == "f" else None
        else:
            var.encoding["_FillValue"] = None
    template.to_zarr(path, mode="w", compute=False, encoding=enc, consolidated=True)


class _Output:
    """A file or store written beside its target and moved into place."""

    def __init__(self, target, fmt):
        self.target = os.path.abspath(target)
        self.fmt = fmt
        folder = os.path.dirname(self.target) or "."
        if not os.path.isdir(folder):
            raise GridError(f"The output file {target} could not be written: the folder does not exist.")
        base = os.path.basename(self.target.rstrip("/"))
        if fmt == "zarr":
            self.tmp = tempfile.mkdtemp(prefix=f".{base}.vadoset-partial-", dir=folder)
            os.rmdir(self.tmp)
        else:
            fd, self.tmp = tempfile.mkstemp(prefix=f".{base}.vadoset-partial-", dir=folder)
            os.close(fd)
            umask = os.umask(0)
            os.umask(umask)
            os.chmod(self.tmp, 0o666 & ~umask)

    def commit(self):
        if self.fmt == "zarr":
            old = None
            if os.path.exists(self.target):
                if not os.path.isdir(self.target) or not os.path.exists(os.path.join(self.target, ".zgroup")):
                    raise GridError(f"The output {self.target} exists and is not a Zarr store: not replaced.")
                old = self.target + ".vadoset-old"
                os.replace(self.target, old)
            os.replace(self.tmp, self.target)
            if old:
                shutil.rmtree(old, ignore_errors=True)
        else:
            os.replace(self.tmp, self.target)

    def discard(self):
        if os.path.isdir(self.tmp):
            shutil.rmtree(self.tmp, ignore_errors=True)
        elif os.path.exists(self.tmp):
            os.remove(self.tmp)


def _attrs(plan, args, argv):
    attrs = {k: v for k, v in plan.global_attrs.items() if not k.startswith("_")}
    stamp = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    line = f"{stamp}: python3 -m vadoset.grid {' '.join(argv)}"
    history = attrs.get("history")
    attrs["history"] = f"{line}\n{history}" if history else line
    if "title" in attrs:
        attrs["input_title"] = attrs["title"]
    attrs.update({
        "Conventions": "CF-1.8",
        "title": "Climatic water balance (modified Thornthwaite method of Willmott et al.)",
        "source": "vadoset",
        "availability_function": args.function,
        "field_capacity": "per cell" if not _is_number(args.field_capacity) else f"{float(args.field_capacity):g} mm",
        "carryover": "yes" if args.carryover else "no",
        "precipitation_fraction": "kept" if args.keep_precipitation_fraction else "dropped (whole millimetres)",
        "pet": "given (--pet)" if plan.pet is not None else "Willmott et al. (modified Thornthwaite)",
        "temperature": plan.temperature.name,
        "precipitation": plan.precipitation.name,
    })
    if plan.records.start_month != 1:
        attrs["start_month"] = plan.records.start_month
    return attrs


def _is_number(text):
    try:
        return math.isfinite(float(text))
    except ValueError:
        return False


def _check_values(plan, region, say):
    """The first tile with data, checked after conversion: numbers that
    cannot be °C or monthly mm mean the units or conventions were wrong."""
    problems = _checks.temperature_problems(plan.temperature.read(region), "temperature (after conversion)")
    problems += _checks.precipitation_problems(plan.precipitation.read(region), "precipitation (after conversion)")
    for p in problems:
        say(f"warning: {p}; the units came from {plan.temperature.name} and {plan.precipitation.name} "
            "(--temperature-units / --precipitation-units set them)")


def run(args, argv):
    start = _clock.perf_counter()
    say = (lambda text: _say(args, text))
    if not 1 <= args.start_month <= 12:
        raise GridError(f"--start-month must be a month from 1 to 12, not {args.start_month}")
    if args.carryover and args.start_month != 1:
        raise GridError("--carryover runs calendar years (soil water carried from December to January): "
                        "leave out --start-month")
    if args.workers is not None and not 1 <= args.workers <= MAX_THREADS:
        raise GridError(f"--workers must be a whole number from 1 to {MAX_THREADS}, not {args.workers}")
    if bool(args.tmax) != bool(args.tmin):
        raise GridError("--tmax and --tmin go together: their mean is the mean temperature")
    out_fmt = _format_of(args.output, "--output")
    monthly_fmt = _format_of(args.monthly, "--monthly") if args.monthly else None
    if monthly_fmt == "tiff":
        raise GridError("--monthly: GeoTIFF holds a climatology's annual layers only; use .nc or .zarr")
    names = _choose_variables(args.variables, bool(args.monthly))
    fc_value = None
    if _is_number(args.field_capacity):
        try:
            fc_value = check_field_capacity(float(args.field_capacity))
        except ValueError as e:
            raise GridError(str(e).replace("field_capacity", "--field-capacity")) from None
    elif not os.path.isfile(args.field_capacity):
        raise GridError(f"--field-capacity must be a number of millimetres or a file, not {args.field_capacity!r}")

    inputs = set()
    for group in (args.temperature, args.precipitation, args.tmax or [], args.tmin or [], args.pet or []):
        inputs.update(os.path.realpath(f) for f in _datasets.expand(group, "input"))
    for target in (args.output, args.monthly):
        if target and os.path.realpath(target) in inputs:
            raise GridError(f"The output file {target} is one of the input files.")

    plan = _datasets.build_plan(
        args.temperature, args.precipitation, tmax=args.tmax, tmin=args.tmin, pet=args.pet,
        temperature_variable=args.temperature_variable, precipitation_variable=args.precipitation_variable,
        pet_variable=args.pet_variable, temperature_units=args.temperature_units,
        precipitation_units=args.precipitation_units, pet_units=args.pet_units, start_month=args.start_month)
    for note in plan.notes:
        say(f"note: {note}")
    if out_fmt == "tiff" and not plan.climatology and len(plan.records.years) != 1:
        raise GridError("a GeoTIFF holds a climatology's annual layers (or one year's): for "
                        f"{len(plan.records.years)} years write .nc or .zarr")
    fc_source = None
    if fc_value is None:
        fc_source = _datasets.field_capacity_source(args.field_capacity, plan.grid)
    workers = args.workers or os.cpu_count() or 1
    tile = _tile_shape(plan.grid, plan.records.count, args, workers)
    options = {"start_month": plan.records.start_month, "carryover": args.carryover,
               "function_index": FUNCTIONS.index(args.function),
               "keep_precipitation_fraction": args.keep_precipitation_fraction, "threads": 1,
               "dtype": np.dtype(args.dtype)}
    job = Job(plan, names, options, fc_value, fc_source)
    regions = list(_regions(plan.grid.shape, tile))
    years = len(plan.records.years)
    say(f"{'x'.join(map(str, plan.grid.shape))} cells, {years} {'year' if years == 1 else 'years'}"
        f"{' (a climatology)' if plan.climatology else ''}, {len(regions)} tiles of "
        f"{'x'.join(map(str, tile))}, {workers if not args.scheduler else 'cluster'} workers")

    attrs = _attrs(plan, args, argv)
    outputs = []
    annual_names = [n for n in names if n not in _cells.MONTHLY]
    monthly_names = [n for n in names if n in _cells.MONTHLY]
    try:
        annual_out = _Output(args.output, out_fmt)
        outputs.append(annual_out)
        monthly_out = None
        if args.monthly:
            monthly_out = _Output(args.monthly, monthly_fmt)
            outputs.append(monthly_out)
        writers, zarr_paths = [], []
        for out, kind, these in ((annual_out, "annual", annual_names), (monthly_out, "monthly", monthly_names)):
            if out is None or not these:
                continue
            if out.fmt == "tiff":
                writers.append(TiffWriter(out.tmp, plan, these, 2 * workers))
                continue
            template = _template(plan, these, np.dtype(args.dtype), kind, tile, attrs)
            if out.fmt == "zarr":
                _create_zarr(out.tmp, template, these)
                zarr_paths.append((out.tmp, these))
            else:
                writers.append(NetcdfWriter(out.tmp, template, these, 2 * workers))
        counts = _run_tiles(job, regions, workers, writers, zarr_paths, args, say)
        for w in writers:
            w.close()
        for out in outputs:
            out.commit()
    except BaseException:
        for out in outputs:
            out.discard()
        raise
    finally:
        _datasets.close_files()
    _summary(counts, plan, regions, _clock.perf_counter() - start, args, say)


def _run_tiles(job, regions, workers, writers, zarr_paths, args, say):
    counts = np.zeros(len(NULL_CODES), np.int64)
    checked = [False]
    done = [0]
    last = [_clock.perf_counter()]

    def handle(region, outputs, c):
        counts[:] += c
        if outputs is not None:
            for w in writers:
                w.put(region, outputs)
        if not checked[0] and c[NO_DATA] < c.sum():
            checked[0] = True
            _check_values(job.plan, region, say)
        done[0] += 1
        now = _clock.perf_counter()
        if not args.quiet and sys.stderr.isatty() and now - last[0] > 0.5:
            last[0] = now
            print(f"\rvadoset.grid: {done[0]}/{len(regions)} tiles", end="", file=sys.stderr)

    if args.scheduler:
        from distributed import Client, as_completed

        with Client(args.scheduler) as client:
            client.run(keep_freed_memory)
            shared = client.scatter(job, broadcast=True)
            pending = iter(regions)
            limit = max(4, 2 * sum(client.nthreads().values()))
            futures = [client.submit(compute_tile, shared, r, zarr_paths or None, pure=False)
                       for r in _take(pending, limit)]
            ac = as_completed(futures)
            for future in ac:
                handle(*future.result())
                future.release()
                for r in _take(pending, 1):
                    ac.add(client.submit(compute_tile, shared, r, zarr_paths or None, pure=False))
    else:
        from concurrent.futures import FIRST_COMPLETED, ThreadPoolExecutor, wait

        with ThreadPoolExecutor(max_workers=workers) as pool:
            pending = iter(regions)
            running = {pool.submit(compute_tile, job, r, zarr_paths or None) for r in _take(pending, workers * 2)}
            try:
                while running:
                    finished, running = wait(running, return_when=FIRST_COMPLETED)
                    for f in finished:
                        handle(*f.result())
                    running |= {pool.submit(compute_tile, job, r, zarr_paths or None)
                                for r in _take(pending, len(finished))}
            except BaseException:
                for f in running:
                    f.cancel()
                raise
    if not args.quiet and sys.stderr.isatty():
        print(file=sys.stderr)
    return counts


def _take(iterator, n):
    out = []
    for _ in range(n):
        try:
            out.append(next(iterator))
        except StopIteration:
            break
    return out


def _summary(counts, plan, regions, seconds, args, say):
    total = int(counts.sum())
    computed = int(counts[0])
    nulls = {NULL_CODES[k]: int(c) for k, c in enumerate(counts) if k and c}
    land = total - nulls.get("no_data", 0)
    say(f"{land} cell-years with data ({computed} computed) written to {args.output}"
        f"{' and ' + args.monthly if args.monthly else ''} ({seconds:.1f} s, {land / max(seconds, 1e-9):.0f} "
        "records/s)")
    if nulls:
        say("null cell-years: " + ", ".join(f"{c} {k.replace('_', ' ')}" for k, c in nulls.items()))


def keep_freed_memory():
    """Every tile allocates and frees arrays of some MB. glibc hands such
    blocks back to the system and maps them anew for the next tile, and the
    page faults cost a fifth of the run; kept in the heap (up to 1 GB
    spare, blocks under 32 MB from the heap) they are reused. No effect
    where the C library is not glibc."""
    import ctypes
    import ctypes.util

    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6")
        libc.mallopt(-1, 1 << 30)  # M_TRIM_THRESHOLD
        libc.mallopt(-3, 32 << 20)  # M_MMAP_THRESHOLD
    except (OSError, AttributeError):
        pass


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    args = _parse_args(argv)
    keep_freed_memory()
    try:
        run(args, argv)
    except (GridError, _datasets.DatasetError) as e:
        print(f"vadoset.grid: {e}", file=sys.stderr)
        return 1
    except (OSError, RuntimeError) as e:
        print(f"vadoset.grid: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("vadoset.grid: interrupted; nothing written", file=sys.stderr)
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
