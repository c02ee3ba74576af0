"""Gridded inputs as users download them: CRU TS, TerraClimate, WorldClim,
ERA5 and CF files in general, read by their own conventions.

A variable's role (mean, maximum or minimum temperature, precipitation,
PET) comes from its ``standard_name`` and ``cell_methods``, then from the
names the datasets use (``tmp``, ``tmax``, ``ppt``, ``t2m``, ``tp``, ...),
then from a GeoTIFF's file name (WorldClim's ``tavg``, ``prec``); an
option names it outright. A dataset spread over many files (one per year,
one per variable, twelve GeoTIFFs) is one source. Units come from the
``units`` attribute, or from a dataset's documented convention (said in a
note), and are converted or refused by name; nothing is assumed.

Everything here is a small, picklable description: a tile of the grid is
read by whichever process computes it.
"""

from __future__ import annotations

import glob
import os
import re
import threading
import warnings
from dataclasses import dataclass, field

import numpy as np

from . import _checks, _time

ROLE_WORDS = {
    "tmean": "mean temperature",
    "tmax": "maximum temperature",
    "tmin": "minimum temperature",
    "precipitation": "precipitation",
    "pet": "potential evapotranspiration",
    "field_capacity": "field capacity",
}
# The datasets' own names (lower case).
ROLE_NAMES = {
    "tmean": ("tmp", "tas", "tmean", "tavg", "t2m", "temp", "temperature", "tg", "air", "t_mean", "2t",
              "mean_temperature", "tair"),
    "tmax": ("tmx", "tasmax", "tmax", "tx", "mx2t", "t_max", "maximum_temperature"),
    "tmin": ("tmn", "tasmin", "tmin", "tn", "mn2t", "t_min", "minimum_temperature"),
    "precipitation": ("pre", "pr", "ppt", "prec", "precip", "precipitation", "tp", "rr", "prcp", "rain",
                      "rainfall", "mtpr"),
    "pet": ("pet", "pev", "et0", "eto", "evspsblpot", "potential_evapotranspiration", "pe"),
    "field_capacity": ("field_capacity", "fc", "whc", "awc", "soil_whc", "taw"),
}
STANDARD_NAMES = {
    "precipitation_amount": "precipitation",
    "precipitation_flux": "precipitation",
    "lwe_thickness_of_precipitation_amount": "precipitation",
    "lwe_precipitation_rate": "precipitation",
    "thickness_of_rainfall_amount": "precipitation",
    "water_potential_evaporation_amount": "pet",
    "water_potential_evaporation_flux": "pet",
}
# Variables that are never data: station counts, bounds, projections.
_NOT_DATA = re.compile(r"(^stn$|^crs$|^spatial_ref$|_bnds$|_bounds$|^time_bnds|^lat_bnds|^lon_bnds|^mask$|^number$"
                       r"|^expver$)", re.IGNORECASE)
TIME_NAMES = ("time", "valid_time", "t", "date", "month", "times")


class DatasetError(ValueError):
    """An input that cannot be read as asked; the message names the file or
    variable and what to do."""


def role_of(name, attrs, path=None):
    """The role of a variable (or None): standard_name and cell_methods,
    then the datasets' names, then a GeoTIFF's file name."""
    sn = str(attrs.get("standard_name", "")).strip().lower()
    cm = str(attrs.get("cell_methods", "")).lower()
    ln = str(attrs.get("long_name", "")).lower()
    lname = (name or "").lower()
    if sn == "air_temperature" or lname in sum((ROLE_NAMES[r] for r in ("tmean", "tmax", "tmin")), ()):
        if lname in ROLE_NAMES["tmax"] or "maximum" in cm or "maximum" in ln or re.search(r"\bmax", ln):
            return "tmax"
        if lname in ROLE_NAMES["tmin"] or "minimum" in cm or "minimum" in ln or re.search(r"\bmin", ln):
            return "tmin"
        return "tmean"
    if sn in STANDARD_NAMES:
        return STANDARD_NAMES[sn]
    for role, names in ROLE_NAMES.items():
        if lname in names:
            return role
    if path is not None:
        tokens = re.split(r"[_.\-]+", os.path.basename(path).lower())
        for role in ("tmax", "tmin", "tmean", "precipitation", "pet"):
            if any(t in ROLE_NAMES[role] for t in tokens):
                return role
    return None


def expand(paths, what):
    """Paths and glob patterns, in order, each file once."""
    files = []
    for p in paths:
        matches = sorted(glob.glob(p)) if any(c in p for c in "*?[") else [p]
        if not matches:
            raise DatasetError(f"{what}: no file matches {p!r}")
        for m in matches:
            if not os.path.exists(m):
                raise DatasetError(f"The file {m} doesn't exist.")
            if m not in files:
                files.append(m)
    return files


def _is_tiff(path):
    return path.lower().endswith((".tif", ".tiff"))


# Open files, per process: every tile of a run reads the same few.
_open_lock = threading.Lock()
_open = {}


def open_file(path):
    """The file as an xarray Dataset, lazily read (nothing decoded into
    memory); GeoTIFFs through rioxarray. Cached per process."""
    with _open_lock:
        ds = _open.get(path)
        if ds is None:
            ds = _open[path] = _open_uncached(path)
        return ds


def _open_uncached(path):
    import xarray as xr

    if _is_tiff(path):
        try:
            import rioxarray
        except ImportError:
            raise DatasetError(f"{path}: reading GeoTIFFs needs rioxarray (Debian: python3-rioxarray)") from None
        da = rioxarray.open_rasterio(path, masked=True, mask_and_scale=True, cache=False)
        da.name = "band_data"
        return da.to_dataset()
    try:
        with warnings.catch_warnings():
            # A bounds attribute naming a variable that was left out of the
            # file: the bounds are not needed here.
            warnings.filterwarnings("ignore", r"Variable\(s\) referenced in bounds", UserWarning)
            return xr.open_dataset(path, engine=_netcdf_engine(path), decode_times=False, decode_coords="all",
                                   mask_and_scale=True, cache=False)
    except (OSError, ValueError) as e:
        raise DatasetError(f"{path} could not be read as NetCDF: {e}") from None


def _netcdf_engine(path):
    """netCDF4's backend for a file that is NetCDF by its first bytes
    (classic, or NetCDF-4 in HDF5), named as a class: xarray then loads no
    other backend (guessing loads them all, rioxarray's among them, which
    takes a quarter of a second). None otherwise: xarray guesses."""
    try:
        with open(path, "rb") as f:
            magic = f.read(4)
    except OSError:
        return None
    if not (magic[:3] == b"CDF" or magic == b"\x89HDF"):
        return None
    try:
        from xarray.backends import NetCDF4BackendEntrypoint
        import netCDF4  # noqa: F401
    except ImportError:
        return None
    return NetCDF4BackendEntrypoint


def close_files():
    with _open_lock:
        for ds in _open.values():
            ds.close()
        _open.clear()
        _raw.clear()


_raw = {}
_read_lock = threading.Lock()


@dataclass
class _Stored:
    """A variable read with the netCDF library itself, as the file stores
    it: about twice as fast as through xarray's indexing and decoding."""

    var: object  # netCDF4.Variable, masking and scaling off
    dims: tuple
    attrs: dict

    def index(self, sel):
        """The index of sel ({dim: slice or positions}) into the stored
        variable, other dimensions at 0; None when a selection is not a
        plain range (xarray reads those)."""
        out = []
        for d, n in zip(self.dims, self.var.shape):
            s = sel.get(d)
            if s is None:
                out.append(0)
            elif isinstance(s, slice):
                start, stop, step = s.indices(n)
                if step != 1:
                    return None
                out.append(slice(start, stop))
            else:
                s = np.asarray(s)
                if s.ndim != 1 or s.size == 0 or (s.size > 1 and not (np.diff(s) == 1).all()):
                    return None
                out.append(slice(int(s[0]), int(s[-1]) + 1))
        return tuple(out)

    def read(self, sel, order):
        """(*order) values as stored, or None (see index)."""
        if not set(order) <= set(self.dims):
            return None
        index = self.index(sel)
        if index is None:
            return None
        with _read_lock:
            values = np.asarray(self.var[index])
        kept = [d for d, i in zip(self.dims, index) if isinstance(i, slice)]
        return np.transpose(values, [kept.index(d) for d in order])


def _raw_variable(path, name):
    """The variable as a _Stored, when it is floating point with no packing
    (no scale_factor or add_offset) in a NetCDF file, else None. Its values
    masked by _masked are the values xarray's decoding gives. Cached per
    process."""
    with _open_lock:
        key = (path, name)
        if key in _raw:
            return _raw[key]
        stored = None
        if not _is_tiff(path) and _netcdf_engine(path) is not None:
            import netCDF4

            ds = _open.get(("stored", path))
            if ds is None:
                ds = _open[("stored", path)] = netCDF4.Dataset(path, "r")
            v = ds.variables.get(name)
            if v is not None and v.dtype in (np.float32, np.float64):
                attrs = {k: v.getncattr(k) for k in v.ncattrs()}
                if "scale_factor" not in attrs and "add_offset" not in attrs:
                    v.set_auto_maskandscale(False)
                    stored = _Stored(v, tuple(v.dimensions), attrs)
        _raw[key] = stored
        return stored


def _masked(values, attrs):
    """NaN where values hold the variable's _FillValue or missing_value,
    compared as xarray's decoding compares them."""
    fills = [v for key in ("_FillValue", "missing_value") if key in attrs for v in np.ravel(attrs[key])
             if not np.isnan(v)]
    if not fills:
        return values
    hit = values == fills[0]
    for v in fills[1:]:
        hit |= values == v
    if not values.flags.writeable:
        values = values.copy()
    np.copyto(values, np.nan, where=hit)
    return values


@dataclass
class Grid:
    """The spatial part of the inputs: dimension names (y, x) or one
    dimension (cells), sizes, and the coordinates to copy to the output."""

    dims: tuple
    shape: tuple
    coords: dict  # name -> (dims, values, attrs)
    latitude: object  # array over dims (degrees north), or None: from crs per tile
    crs_attrs: dict = field(default_factory=dict)  # the grid_mapping variable's attributes
    grid_mapping: str = ""
    xy: tuple = ()  # (x values, y values, x units, y units) for a projected grid
    layout: str = "blocks"  # "rows": the inputs are stored in whole rows (read whole rows)

    def latitude_of(self, region):
        if self.latitude is not None:
            return np.asarray(self.latitude[region], dtype=np.float64)
        from .xarray import crs_from_attrs, projected_latitude

        x, y, xu, yu = self.xy
        ys, xs = region
        return projected_latitude(crs_from_attrs(self.crs_attrs), x[xs], y[ys], xu, yu)


@dataclass
class Piece:
    path: str
    variable: str
    time_dim: str  # "" for a file without one (a GeoTIFF of one month)
    steps: np.ndarray  # positions along time_dim that are used
    targets: np.ndarray  # their positions among the run's months


@dataclass
class Source:
    """One input variable over all its files, converted to the model's
    units as it is read."""

    role: str
    name: str  # for messages: "tmax in TerraClimate_tmax_2001.nc, ... (3 files)"
    pieces: list
    months: int  # the run's months
    dims: tuple  # the spatial dims in the files
    factor: object = 1.0  # a number, or one per month
    offset: float = 0.0
    flip: tuple = ()  # spatial dims stored in the other order than the grid's
    attrs: dict = field(default_factory=dict)
    decimals: object = None  # packed as integers of this many decimals: rounded to them

    def read(self, region):
        """(months, *region's shape) float64 in °C or mm a month; NaN where
        the files hold no value."""
        return np.moveaxis(self.read_cells(region), -1, 0)

    def read_cells(self, region):
        """(*region's shape, months) float64 in the model's units."""
        raw = self.read_raw(region)
        cells = np.moveaxis(raw, 0, -1).astype(np.float64)
        return self.convert(cells)

    def read_raw(self, region):
        """(months, *region's shape) as the files decode (float32 mostly,
        NaN where they hold no value), not yet converted."""
        shape = tuple(len(range(*s.indices(n))) for s, n in zip(region, self._sizes()))
        out = None
        for piece in self.pieces:
            sel = {}
            for d, s, n in zip(self.dims, region, self._sizes()):
                sel[d] = _flipped(s, n) if d in self.flip else s
            if piece.time_dim:
                sel[piece.time_dim] = piece.steps
            order = ((piece.time_dim,) if piece.time_dim else ()) + self.dims
            stored = _raw_variable(piece.path, piece.variable)
            values = stored.read(sel, order) if stored is not None else None
            if values is not None:
                values = _masked(values, stored.attrs)
            else:
                a = open_file(piece.path)[piece.variable].isel(sel)
                extra = [d for d in a.dims if d not in order]
                if extra:
                    a = a.isel({d: 0 for d in extra})
                values = a.transpose(*order).values
            if not piece.time_dim:
                values = values[None]
            for k, d in enumerate(self.dims):
                if d in self.flip:
                    values = np.flip(values, axis=k + 1)
            if out is None:
                dtype = np.float32 if values.dtype == np.float32 else np.float64
                if (len(self.pieces) == 1 and len(piece.targets) == self.months and values.dtype == dtype
                        and (np.diff(piece.targets) == 1).all() and piece.targets[0] == 0):
                    return values  # one file holds every month: as it is
                out = np.full((self.months,) + shape, np.nan, dtype=dtype)
            out[piece.targets] = values
        return out

    def convert(self, cells):
        """Values (..., months) as read, float64, made °C or mm a month in
        place: packed values at their decimals, then the unit's factor (per
        month for rates) and offset."""
        if self.decimals is not None:
            np.round(cells, self.decimals, out=cells)
        if isinstance(self.factor, np.ndarray):
            cells *= self.factor
        elif self.factor != 1.0:
            cells *= self.factor
        if self.offset:
            cells += self.offset
        return cells

    def _sizes(self):
        ds = open_file(self.pieces[0].path)
        return tuple(ds[self.pieces[0].variable].sizes[d] for d in self.dims)


def _flipped(s, n):
    start, stop, _ = s.indices(n)
    return slice(n - stop, n - start)


@dataclass
class MeanOf:
    """Mean temperature as the mean of the maximum and the minimum."""

    role: str
    name: str
    parts: tuple

    def read(self, region):
        return np.moveaxis(self.read_cells(region), -1, 0)

    def read_cells(self, region):
        a = self.parts[0].read_cells(region)
        a += self.parts[1].read_cells(region)
        a *= 0.5
        return a

    def read_raw(self, region):
        return np.moveaxis(self.read_cells(region), -1, 0)

    def convert(self, cells):
        return cells


@dataclass
class Found:
    path: str
    variable: str
    role: object
    attrs: dict


def _data_variables(path, ds):
    out = []
    for name, var in ds.data_vars.items():
        if _NOT_DATA.search(name) or var.ndim == 0 or "grid_mapping_name" in var.attrs:
            continue
        out.append(Found(path, name, role_of(name if name != "band_data" else "", var.attrs,
                                             path if name == "band_data" else None), dict(var.attrs)))
    return out


def find(paths, wanted, option, variable=None):
    """The files' variables for the roles wanted (in order of preference):
    {role: [Found, ...]}. With `variable` that one is taken for wanted[0]."""
    found = {}
    every = []
    for path in paths:
        ds = open_file(path)
        for f in _data_variables(path, ds):
            every.append(f)
            if variable is not None:
                if f.variable == variable:
                    found.setdefault(wanted[0], []).append(f)
            elif f.role in wanted:
                found.setdefault(f.role, []).append(f)
    if variable is not None and not found:
        names = sorted({f.variable for f in every})
        raise DatasetError(f"{paths[0]}{' and the other files' if len(paths) > 1 else ''} have no variable "
                           f"{variable!r} (they have {', '.join(names) or 'none'})")
    for role, items in found.items():
        names = sorted({f.variable for f in items})
        if len(names) > 1:
            raise DatasetError(f"the files hold {len(names)} variables of {ROLE_WORDS[role]} ({', '.join(names)}): "
                               f"choose one with {option}")
    return found, every


def _time_dim(var, ds):
    for d in var.dims:
        c = ds[d] if d in ds.variables else None
        attrs = c.attrs if c is not None else {}
        if (d.lower() in TIME_NAMES or attrs.get("standard_name") == "time" or attrs.get("axis") == "T"
                or " since " in str(attrs.get("units", ""))):
            return d
    return ""


_MONTH_IN_NAME = re.compile(r"(?:^|[_.\-])(0?[1-9]|1[0-2])(?=[_.\-]|$)")


def _months_of(found, ds, var, tdim, label):
    """(year, month) of every step of a piece; year 0 for a climatology
    (twelve GeoTIFFs, or twelve bands)."""
    if tdim == "band":
        return np.stack([np.zeros(12, np.int64), np.arange(1, 13)], axis=1)
    if tdim:
        coord = ds[tdim] if tdim in ds.variables else None
        if coord is None:
            raise DatasetError(f"{label}: its dimension {tdim!r} has no coordinate to say which months it holds")
        try:
            ym, _ = _time.year_month(coord, label)
        except _time.TimeError as e:
            raise DatasetError(str(e)) from None
        if ym is None:
            raise DatasetError(f"{label}: its time {tdim!r} holds numbers without units: give it CF units "
                               "('days since 1901-01-01')")
        return ym
    # A GeoTIFF: twelve bands are the twelve months; one band takes its
    # month from the file name (wc2.1_10m_tavg_07.tif).
    bands = var.sizes.get("band", 1)
    if bands == 12:
        return np.stack([np.zeros(12, np.int64), np.arange(1, 13)], axis=1)
    if bands == 1:
        stem = os.path.splitext(os.path.basename(found.path))[0]
        m = _MONTH_IN_NAME.findall(stem)
        if m:
            return np.array([[0, int(m[-1])]])
    raise DatasetError(f"{label}: a file with {bands} bands and no time: give twelve bands (January to December) "
                       "or one file per month with the month's number at the end of its name (..._07.tif)")


def calendar_of(ds, tdim):
    if not tdim or tdim not in ds.variables:
        return "standard"
    return str(ds[tdim].attrs.get("calendar", "standard"))


@dataclass
class Plan:
    """What a run reads: the grid, the records' months, the sources."""

    grid: Grid
    records: object  # _time.Records
    climatology: bool
    temperature: object
    precipitation: Source
    pet: object = None
    field_capacity: object = None  # a number, or a Source of one step
    notes: list = field(default_factory=list)
    global_attrs: dict = field(default_factory=dict)
    time_attrs: dict = field(default_factory=dict)
    time_name: str = "time"


_SPATIAL_NAMES = ("lat", "lon", "latitude", "longitude", "x", "y", "rlat", "rlon")


def _spatial_dims(var, tdim):
    """The dims of a variable other than time and GeoTIFF bands, leaving
    out extra dims of one step (ERA5's expver, a height of 2 m)."""
    return tuple(d for d in var.dims
                 if d != tdim and d != "band" and (var.sizes[d] > 1 or d.lower() in _SPATIAL_NAMES))


def _label(items):
    files = sorted({os.path.basename(f.path) for f in items})
    more = f", ... ({len(files)} files)" if len(files) > 2 else ""
    return f"{items[0].variable} in {', '.join(files[:2])}{more}"


def _units_of(items, role, given, label, notes):
    units = given
    if units is None:
        seen = {str(f.attrs.get("units")) for f in items if "units" in f.attrs}
        if len(seen) > 1:
            raise DatasetError(f"{label}: the files give different units ({', '.join(sorted(seen))}): "
                               "give them alike")
        units = seen.pop() if seen else None
    if units is None:
        convention = _convention_units(items, role)
        if convention:
            units, why = convention
            notes.append(f"{label}: no units attribute; {why}, so {units!r}")
    if units is None:
        option = {"tmean": "--temperature-units", "tmax": "--temperature-units", "tmin": "--temperature-units",
                  "precipitation": "--precipitation-units", "pet": "--pet-units"}[role]
        raise DatasetError(f"{label} has no units attribute and no known convention gives them: say what they "
                           f"are with {option} (for example {option} "
                           f"{'degC' if role.startswith('t') else 'mm'})")
    return units


def _convention_units(items, role):
    """Units a dataset documents but does not write into its files."""
    if all(_is_tiff(f.path) for f in items):
        names = " ".join(os.path.basename(f.path).lower() for f in items)
        if "wc2" in names or "worldclim" in names:
            return ("degC" if role in ("tmean", "tmax", "tmin") else "mm",
                    "WorldClim gives temperatures in °C and precipitation in mm a month")
    return None


def _conversion(units, role, label, ym, calendar, variable, notes):
    if role in ("tmean", "tmax", "tmin"):
        scale = _checks.temperature_scale(units)
        if scale is None:
            raise DatasetError(f"{label} has units {units!r}, which vadoset does not know: use "
                               f"{_checks.TEMPERATURE_UNITS} (--temperature-units)")
        return scale
    scale = _checks.amount_scale(units)
    if scale is None:
        raise DatasetError(f"{label} has units {units!r}, which vadoset does not know: use {_checks.AMOUNT_UNITS}")
    factor, per = scale
    if per is None and variable.lower() == "tp" and _checks.plain_units(units) == "m" and ym[0][0] != 0:
        # ERA5's monthly means hold the mean of the daily totals.
        per = "day"
        notes.append(f"{label}: ERA5's monthly means of tp are the mean daily total in m, so times the days of "
                     "each month (give --precipitation-units m to take them as monthly totals)")
    if per in ("day", "second"):
        if ym[0][0] == 0:
            raise DatasetError(f"{label} is a rate ({units!r}) and has no dates to know the months' lengths: "
                               "give monthly totals")
        days = _time.days_in_month(ym, calendar)
        return factor * days * (86400.0 if per == "second" else 1.0), 0.0
    return factor, 0.0


def _grid_of(found, ds, var, tdim):
    dims = _spatial_dims(var, tdim)
    if len(dims) not in (1, 2):
        raise DatasetError(f"{found.path}: {found.variable} has dimensions {var.dims}: vadoset needs time and one "
                           "or two spatial dimensions")
    coords = {}
    for d in dims:
        if d in ds.variables:
            c = ds[d]
            coords[d] = ((d,), np.asarray(c.values), dict(c.attrs))
    for name, c in ds.coords.items():
        if name in coords or name == tdim or not c.dims or not set(c.dims) <= set(dims):
            continue
        if "grid_mapping_name" in c.attrs or "crs_wkt" in c.attrs or "spatial_ref" in c.attrs:
            continue
        coords[name] = (c.dims, np.asarray(c.values), dict(c.attrs))
    gm_name, gm_attrs = "", {}
    for name in (var.attrs.get("grid_mapping"), var.encoding.get("grid_mapping"), "spatial_ref", "crs"):
        if name and name in ds.variables:
            gm_name, gm_attrs = name, dict(ds[name].attrs)
            break
    shape = tuple(var.sizes[d] for d in dims)
    latitude = None
    for name, (cdims, values, attrs) in coords.items():
        units = str(attrs.get("units", "")).lower().replace(" ", "")
        is_lat = (attrs.get("standard_name") == "latitude" or units in ("degrees_north", "degree_north")
                  or name.lower() in ("lat", "latitude", "nav_lat"))
        if is_lat and units not in ("m", "km", "metre", "meter") and np.nanmax(np.abs(values), initial=0) <= 90:
            lat = np.asarray(values, dtype=np.float64)
            if cdims == dims:
                latitude = lat
            elif len(dims) == 2 and cdims == (dims[0],):
                latitude = np.broadcast_to(lat[:, None], shape)
            elif len(dims) == 2 and cdims == (dims[1],):
                latitude = np.broadcast_to(lat[None, :], shape)
            elif len(dims) == 2 and cdims == (dims[1], dims[0]):
                latitude = lat.T
            if latitude is not None:
                break
    grid = Grid(dims=dims, shape=shape, coords=coords, latitude=latitude, crs_attrs=gm_attrs, grid_mapping=gm_name)
    enc = var.encoding
    chunks = enc.get("chunksizes")
    if enc.get("contiguous") or chunks is None or (len(dims) == 2 and chunks[-1] >= shape[-1]):
        grid.layout = "rows"
    if latitude is None:
        if not gm_attrs or len(dims) != 2:
            raise DatasetError(
                f"{found.path}: no latitude in degrees (a coordinate with standard_name latitude, units "
                "degrees_north, or named lat/latitude), and no grid_mapping to work it out from: add the latitude "
                "coordinate, or the grid's projection (a grid_mapping variable)")
        try:
            from .xarray import crs_from_attrs

            crs = crs_from_attrs(gm_attrs)
        except Exception as e:  # pyproj's own errors
            raise DatasetError(f"{found.path}: its grid_mapping {gm_name!r} could not be read by pyproj: {e}") from None
        if crs is None:
            raise DatasetError(f"{found.path}: its grid_mapping {gm_name!r} has neither grid_mapping_name nor "
                               "crs_wkt: no latitude can be worked out")
        ydim, xdim = dims
        x = np.asarray(ds[xdim].values, dtype=np.float64)
        y = np.asarray(ds[ydim].values, dtype=np.float64)
        grid.xy = (x, y, ds[xdim].attrs.get("units", "m"), ds[ydim].attrs.get("units", "m"))
    return grid


def _same_grid(grid, other_found, ds, var, tdim, label):
    """Spatial dims that are stored in the other order (latitude
    descending in one dataset, ascending in the other) are flipped; any
    other difference is refused."""
    dims = _spatial_dims(var, tdim)
    shape = tuple(var.sizes[d] for d in dims)
    if dims != grid.dims or shape != grid.shape:
        raise DatasetError(f"{label} is on another grid ({dict(zip(dims, shape))}) than the temperature "
                           f"({dict(zip(grid.dims, grid.shape))}): regrid it first (cdo remapbil, for example)")
    flip = []
    for d in dims:
        if d not in grid.coords or d not in ds.variables:
            continue
        mine = grid.coords[d][1]
        theirs = np.asarray(ds[d].values)
        if mine.dtype.kind in "iuf" and theirs.dtype.kind in "iuf":
            if np.allclose(mine, theirs, rtol=0, atol=1e-6 * max(1.0, np.abs(mine).max(initial=0))):
                continue
            if np.allclose(mine, theirs[::-1], rtol=0, atol=1e-6 * max(1.0, np.abs(mine).max(initial=0))):
                flip.append(d)
                continue
            raise DatasetError(f"{label}: its {d} coordinate differs from the temperature's (from {theirs[0]:g} to "
                               f"{theirs[-1]:g}, not {mine[0]:g} to {mine[-1]:g}): regrid it first")
    return tuple(flip)


def _pieces(items, label):
    """The files of one variable: each file's months. Returns [(found, ds,
    var, tdim, ym)] in time order."""
    out = []
    for f in items:
        ds = open_file(f.path)
        var = ds[f.variable]
        tdim = _time_dim(var, ds)
        if not tdim and var.sizes.get("band", 1) == 12:
            tdim = "band"  # a GeoTIFF of twelve bands: the months
        ym = _months_of(f, ds, var, tdim, f"{f.variable} in {f.path}")
        out.append((f, ds, var, tdim, ym))
    out.sort(key=lambda p: (int(p[4][0][0]) * 12 + int(p[4][0][1])))
    return out


def build_plan(temperature, precipitation, *, tmax=None, tmin=None, pet=None, field_capacity=100.0,
               temperature_variable=None, precipitation_variable=None, pet_variable=None,
               temperature_units=None, precipitation_units=None, pet_units=None, start_month=1):
    """Everything a run reads, worked out from the files' metadata alone."""
    notes = []
    t_files = expand(temperature, "--temperature")
    extra = expand((tmax or []) + (tmin or []), "--tmax/--tmin") if (tmax or tmin) else []
    all_t = t_files + [f for f in extra if f not in t_files]
    found, every = find(all_t, ("tmean", "tmax", "tmin"), "--temperature-variable", temperature_variable)
    if temperature_variable is not None:
        t_role_items = {"tmean": found["tmean"]}
        role = every and next((f.role for f in every if f.variable == temperature_variable), None)
        if role in ("tmax", "tmin"):
            notes.append(f"{temperature_variable} looks like the {ROLE_WORDS[role]}; taken as the mean temperature, "
                         "as --temperature-variable says")
    elif "tmean" in found:
        t_role_items = {"tmean": found["tmean"]}
    elif "tmax" in found and "tmin" in found:
        t_role_items = {"tmax": found["tmax"], "tmin": found["tmin"]}
        notes.append(f"temperature: the mean of the maximum ({found['tmax'][0].variable}) and the minimum "
                     f"({found['tmin'][0].variable}), as the files hold no mean temperature")
    else:
        have = ", ".join(sorted({f"{f.variable} ({ROLE_WORDS.get(f.role, 'not recognised')})" for f in every}))
        if "tmax" in found or "tmin" in found:
            one = "tmax" if "tmax" in found else "tmin"
            other = "--tmin" if one == "tmax" else "--tmax"
            raise DatasetError(
                f"the temperature files hold the {ROLE_WORDS[one]} ({found[one][0].variable}) but no mean: a "
                f"maximum or minimum is never taken for a mean; give the other one too ({other} FILES) to "
                "average them, or --temperature-variable NAME to use it as the mean anyway")
        raise DatasetError(f"no mean temperature found in {', '.join(t_files[:3])}{' ...' if len(t_files) > 3 else ''} "
                           f"(it holds {have or 'no variables'}): name it with --temperature-variable")

    p_files = expand(precipitation, "--precipitation")
    pfound, pevery = find(p_files, ("precipitation",), "--precipitation-variable", precipitation_variable)
    if "precipitation" not in pfound:
        have = ", ".join(sorted({f.variable for f in pevery}))
        raise DatasetError(f"no precipitation found in {', '.join(p_files[:3])} (it holds {have or 'no variables'}): "
                           "name it with --precipitation-variable")
    groups = dict(t_role_items)
    groups["precipitation"] = pfound["precipitation"]
    if pet is not None:
        e_files = expand(pet, "--pet")
        efound, eevery = find(e_files, ("pet",), "--pet-variable", pet_variable)
        if "pet" not in efound:
            names = [f for f in eevery if f.role not in ("tmean", "tmax", "tmin", "precipitation")]
            if len({f.variable for f in names}) == 1:
                efound["pet"] = names
            else:
                raise DatasetError(f"no PET found in {', '.join(e_files[:3])}: name it with --pet-variable")
        groups["pet"] = efound["pet"]

    # Each group's months, checked alone, then the months all share.
    described = {}
    for role, items in groups.items():
        label = _label(items)
        pieces = _pieces(items, label)
        ym = np.concatenate([p[4] for p in pieces])
        described[role] = (label, pieces, ym)
    climatology = all(d[2][0][0] == 0 for d in described.values())
    if climatology:
        for role, (label, _, ym) in described.items():
            if sorted(ym[:, 1].tolist()) != list(range(1, 13)):
                raise DatasetError(f"{label}: a climatology needs the twelve months once each, it has months "
                                   f"{ym[:, 1].tolist()}")
        if start_month != 1:
            notes.append("--start-month has no meaning for a climatology of twelve months: left at January")
        common = np.arange(1, 13)
        rec = _time.Records(0, 12, np.array([0]), 1, (), np.stack([np.zeros(12, np.int64), common], 1),
                             "standard", False)
    else:
        if any(d[2][0][0] == 0 for d in described.values()):
            raise DatasetError("some inputs are monthly series and others a twelve-month climatology: give both "
                               "as series, or both as climatologies")
        sets = []
        for role, (label, pieces, ym) in described.items():
            index = ym[:, 0] * 12 + ym[:, 1] - 1
            order = np.sort(index)
            if (np.diff(order) != 1).any():
                # Let the time checks word it.
                try:
                    _time.records(_FakeCoord(ym), label, 1)
                except _time.TimeError as e:
                    raise DatasetError(str(e)) from None
            sets.append(set(index.tolist()))
        common = sorted(set.intersection(*sets))
        if not common:
            raise DatasetError("the inputs share no month: give files that cover the same years")
        for role, (label, pieces, ym) in described.items():
            index = ym[:, 0] * 12 + ym[:, 1] - 1
            left = len(index) - len(common)
            if left:
                notes.append(f"{label}: {left} months outside the months all inputs share are left out")
        ym_common = np.array([[k // 12, k % 12 + 1] for k in common])
        try:
            rec = _time.records(_FakeCoord(ym_common), "the months all inputs share", start_month)
        except _time.TimeError as e:
            raise DatasetError(str(e)) from None
        notes.extend(rec.dropped)
        common = np.array(common[rec.first: rec.first + rec.count])

    f0, ds0, var0, tdim0, _ = described[next(iter(t_role_items))][1][0]
    grid = _grid_of(f0, ds0, var0, tdim0)
    months = rec.count
    calendar = calendar_of(ds0, tdim0)
    used_ym = rec.year_month

    def make(role, option_units):
        label, pieces, _ = described[role]
        items = groups[role]
        units = _units_of(items, role, option_units, label, notes)
        factor, offset = _conversion(units, role, label, used_ym, calendar, items[0].variable, notes)
        ps, flip = [], None
        for f, ds, var, tdim, ym in pieces:
            this_flip = _same_grid(grid, f, ds, var, tdim, f"{f.variable} in {f.path}")
            if flip is None:
                flip = this_flip
            key = ym[:, 0] * 12 + ym[:, 1] - 1 if not climatology else ym[:, 1]
            position = {int(k): i for i, k in enumerate(common.tolist())} if not climatology else \
                {m: m - 1 for m in range(1, 13)}
            steps, targets = [], []
            for s, k in enumerate(key.tolist()):
                if int(k) in position:
                    steps.append(s)
                    targets.append(position[int(k)])
            if steps:
                ps.append(Piece(f.path, f.variable, tdim, np.array(steps), np.array(targets)))
        attrs = dict(items[0].attrs)
        decimals = None
        if role in ("precipitation", "pet"):
            decimals = _checks.packing_decimals(open_file(items[0].path)[items[0].variable].encoding)
        return Source(role, label, ps, months, grid.dims, factor, offset, flip or (), attrs, decimals)

    if "tmean" in t_role_items:
        temperature_source = make("tmean", temperature_units)
    else:
        temperature_source = MeanOf("tmean", "the mean of " + _label(groups["tmax"]) + " and " +
                                    _label(groups["tmin"]),
                                    (make("tmax", temperature_units), make("tmin", temperature_units)))
    plan = Plan(grid=grid, records=rec, climatology=climatology, temperature=temperature_source,
                precipitation=make("precipitation", precipitation_units), notes=notes)
    if pet is not None:
        plan.pet = make("pet", pet_units)
    plan.field_capacity = field_capacity
    plan.global_attrs = {k: v for k, v in ds0.attrs.items()}
    if tdim0 and tdim0 in ds0.variables:
        plan.time_attrs = {k: v for k, v in ds0[tdim0].attrs.items() if k not in ("units", "calendar", "bounds")}
        plan.time_name = "time"
    return plan


class _FakeCoord:
    """(year, month) pairs in the shape _time.records reads."""

    def __init__(self, ym):
        import datetime

        self.values = np.array([np.datetime64(datetime.date(int(y), int(m), 1), "ns") if 1 <= y <= 9999 else
                                np.datetime64("NaT") for y, m in ym])
        self.attrs = {}
        self.encoding = {}

    def __len__(self):
        return len(self.values)


def field_capacity_source(path, grid, variable=None):
    """A soil map on the run's grid, in mm."""
    files = expand([path], "--field-capacity")
    found, every = find(files, ("field_capacity",), "--field-capacity-variable", variable)
    items = found.get("field_capacity")
    if not items:
        cand = [f for f in every]
        if len({f.variable for f in cand}) != 1:
            raise DatasetError(f"{path} must hold one variable, the field capacity in mm (it has "
                               f"{', '.join(sorted({f.variable for f in cand})) or 'none'})")
        items = cand
    f = items[0]
    units = f.attrs.get("units")
    factor = 1.0
    if units is not None:
        scale = _checks.amount_scale(units)
        if scale is None or scale[1] is not None:
            raise DatasetError(f"{path}: the field capacity has units {units!r}; use mm (or kg m-2, cm, m)")
        factor = scale[0]
    ds = open_file(f.path)
    var = ds[f.variable]
    tdim = _time_dim(var, ds)
    flip = _same_grid(grid, f, ds, var, tdim, f"{f.variable} in {f.path}")
    steps = np.array([0]) if tdim else np.array([], int)
    return Source("field_capacity", f"{f.variable} in {os.path.basename(path)}",
                  [Piece(f.path, f.variable, tdim, steps if tdim else None, np.array([0]))], 1, grid.dims, factor,
                  0.0, flip, dict(f.attrs))
