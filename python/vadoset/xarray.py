"""The water balance of gridded monthly data, on xarray DataArrays.

Eager on numpy-backed arrays, lazy on Dask-backed ones (chunk them in space:
every cell's whole time series is one piece of work), on a local scheduler
or a ``dask.distributed`` cluster.
"""

from __future__ import annotations

import warnings

import numpy as np
import xarray as xr

from . import _cells, _checks, _time
from ._checks import InputWarning
from ._climate import InputError
from ._balance import MONTHS, NO_DATA_TEXT, NULL_CODES, check_field_capacity, check_options

__all__ = ["water_balance", "to_celsius", "to_millimetres", "latitude_of", "annual", "monthly"]

_LATITUDE_NAMES = ("lat", "latitude", "nav_lat", "lats", "y_lat")

_MONTHLY = _cells.MONTHLY
_ANNUAL = _cells.ANNUAL

# CF has standard names for evapotranspiration amounts only in kg m-2; their
# tables give none in a length unit, so those variables carry a long_name
# alone (1 kg m-2 of water is 1 mm).
ATTRS = {
    "pet": {"long_name": "potential evapotranspiration", "cell_methods": "time: sum"},
    "aet": {"long_name": "actual evapotranspiration", "cell_methods": "time: sum"},
    "surplus": {"long_name": "water surplus (water beyond the soil's field capacity)", "cell_methods": "time: sum"},
    "deficit": {"long_name": "water deficit (potential minus actual evapotranspiration)", "cell_methods": "time: sum"},
    "soil": {"long_name": "soil water at the end of the month", "cell_methods": "time: point"},
    "snow": {
        "long_name": "snowpack water equivalent at the end of the month",
        "standard_name": "lwe_thickness_of_surface_snow_amount",
        "cell_methods": "time: point",
    },
    "pet_total": {"long_name": "annual potential evapotranspiration", "cell_methods": "time: sum"},
    "aet_total": {"long_name": "annual actual evapotranspiration", "cell_methods": "time: sum"},
    "surplus_total": {"long_name": "annual water surplus", "cell_methods": "time: sum"},
    "deficit_total": {"long_name": "annual water deficit", "cell_methods": "time: sum"},
}


def null_code_attrs():
    return {
        "long_name": "why the year has no water balance (0: it has one)",
        "flag_values": np.arange(len(NULL_CODES), dtype=np.uint8),
        "flag_meanings": " ".join(NULL_CODES),
        "comment": f"no_data: {NO_DATA_TEXT}; the other codes: a gap in the data of that year, or a year the "
                   "model cannot settle",
    }


def _calendar_of(data, time):
    if time in data.coords:
        c = data[time]
        return c.encoding.get("calendar") or c.attrs.get("calendar") or "standard"
    return "standard"


def to_celsius(data, name="temperature"):
    """The DataArray in °C, from its ``units`` attribute: °C as it is
    (degC, degree_Celsius, Celsius, ...), kelvin (K, kelvin, degK) less
    273.15, Fahrenheit (degF) as (F - 32) * 5 / 9. ValueError for any other
    unit or none."""
    units = data.attrs.get("units")
    if units is None:
        raise ValueError(f"{name} has no units attribute: give it units 'degC' or 'K'")
    scale = _checks.temperature_scale(units)
    if scale is None:
        raise ValueError(f"{name} has units {units!r}, which vadoset does not know: use {_checks.TEMPERATURE_UNITS}")
    factor, offset = scale
    if factor == 1.0 and offset == 0.0:
        return data
    out = data.astype(np.float64) * factor + offset if factor != 1.0 else data.astype(np.float64) + offset
    out.attrs = {**data.attrs, "units": "degC"}
    return out


def to_millimetres(data, name="precipitation", time="time"):
    """The DataArray in mm a month, from its ``units`` attribute.

    - Monthly totals: mm, kg m-2, cm or m, alone or per month (mm/month,
      kg m-2 month-1).
    - Mean rates over the month: per day (mm/day, mm d-1) or per second
      (kg m-2 s-1, the unit of most climate models), times the days of each
      month in the calendar of the ``time`` coordinate (29 in a leap
      February, 30 in a 360_day calendar).

    ValueError for any other unit or none.
    """
    units = data.attrs.get("units")
    if units is None:
        raise ValueError(f"{name} has no units attribute: give it units 'mm' (a monthly total) or 'kg m-2 s-1'")
    scale = _checks.amount_scale(units)
    if scale is None:
        raise ValueError(f"{name} has units {units!r}, which vadoset does not know: use {_checks.AMOUNT_UNITS}")
    factor, per = scale
    if per in ("day", "second"):
        ym = None
        if time in data.coords:
            ym, _ = _time.year_month(data[time], name)
        if ym is None:
            raise ValueError(f"{name} is a rate ({units!r}): its {time} coordinate must hold dates to know each "
                             "month's days")
        days = _time.days_in_month(ym, _calendar_of(data, time))
        factor = xr.DataArray(factor * days * (86400.0 if per == "second" else 1.0), dims=time)
    elif factor == 1.0:
        return data
    out = data.astype(np.float64) * factor
    out.attrs = {**data.attrs, "units": "mm"}
    return out


_TIME_NAMES = ("time", "valid_time", "t", "date", "month", "times")


def _time_dim_of(data):
    if not isinstance(data, xr.DataArray):
        return "time"
    for d in data.dims:
        if d in _TIME_NAMES:
            return d
    for d in data.dims:
        if d in data.coords and (data[d].dtype.kind == "M" or " since " in str(data[d].attrs.get("units", ""))):
            return d
    raise ValueError(f"temperature has no time dimension among {data.dims}: name it with time=")


def _check_array(name, value, time):
    if not isinstance(value, xr.DataArray):
        raise ValueError(f"{name} must be an xarray DataArray, got {type(value).__name__}")
    if time not in value.dims:
        raise ValueError(f"{name} must have a {time!r} dimension, got dimensions {value.dims}")


def _is_latitude(coord):
    a = coord.attrs
    units = str(a.get("units", "")).lower().replace(" ", "")
    return (a.get("standard_name") == "latitude" or units in ("degrees_north", "degree_north", "degreesn", "degreen")
            or coord.name in _LATITUDE_NAMES)


def _crs_of(data):
    """The pyproj CRS of a grid: its grid_mapping coordinate (CF
    attributes, or crs_wkt/spatial_ref as GDAL and rioxarray write them)."""
    names = [data.attrs.get("grid_mapping"), data.encoding.get("grid_mapping"), "spatial_ref", "crs"]
    for n in names:
        if n and n in data.coords:
            return crs_from_attrs(data.coords[n].attrs)
    return None


def crs_from_attrs(attrs):
    import pyproj

    for key in ("crs_wkt", "spatial_ref"):
        if key in attrs:
            return pyproj.CRS.from_wkt(str(attrs[key]))
    if "grid_mapping_name" in attrs:
        return pyproj.CRS.from_cf(dict(attrs))
    return None


def projected_latitude(crs, x, y, x_units="m", y_units="m"):
    """Latitudes (degrees north) of a projected grid's cell centres, through
    pyproj: x (nx,) and y (ny,) in the projection's units -> (ny, nx)."""
    import pyproj

    scale = {"m": 1.0, "metre": 1.0, "meter": 1.0, "metres": 1.0, "meters": 1.0, "km": 1000.0}
    xs = np.asarray(x, dtype=np.float64) * scale.get(str(x_units).lower(), 1.0)
    ys = np.asarray(y, dtype=np.float64) * scale.get(str(y_units).lower(), 1.0)
    if crs.is_geographic:
        return np.broadcast_to(ys[:, None], (ys.size, xs.size)).copy()
    tr = pyproj.Transformer.from_crs(crs, crs.geodetic_crs, always_xy=True)
    xx, yy = np.meshgrid(xs, ys)
    _, lat = tr.transform(xx, yy)
    return np.asarray(lat, dtype=np.float64)


def latitude_of(data, time="time"):
    """The latitude of every cell of a grid, degrees north, over its spatial
    dimensions: a latitude coordinate (by standard_name, units
    degrees_north or name), else worked out with pyproj from the grid's
    projection (a grid_mapping or spatial_ref coordinate, as
    ``xr.open_dataset(..., decode_coords="all")`` and rioxarray give).
    ValueError when neither is there, or the latitudes are not degrees."""
    for name, c in data.coords.items():
        if time in c.dims or not c.dims or not _is_latitude(c):
            continue
        lat = c
        units = str(c.attrs.get("units", "")).lower()
        values = np.asarray(c.values, dtype=np.float64)
        if units in ("m", "metre", "meter", "km") or np.nanmax(np.abs(values), initial=0.0) > 90.0:
            break  # metres: a projected y, below
        return lat
    crs = _crs_of(data)
    spatial = [d for d in data.dims if d != time]
    if crs is not None and len(spatial) == 2:
        ydim, xdim = spatial
        x, y = data[xdim], data[ydim]
        lat = projected_latitude(crs, x.values, y.values, x.attrs.get("units", "m"), y.attrs.get("units", "m"))
        return xr.DataArray(lat, dims=(ydim, xdim), coords={ydim: y, xdim: x},
                            attrs={"standard_name": "latitude", "units": "degrees_north"})
    raise ValueError(
        "temperature has no latitude in degrees (a 'lat' or 'latitude' coordinate, or one with standard_name "
        "latitude or units degrees_north), and no projection to work it out from: pass latitude= as a DataArray "
        "in degrees north, or open the file with decode_coords='all' so that its grid_mapping comes along")


def _latitude(temperature, latitude, time):
    if latitude is None:
        latitude = latitude_of(temperature, time)
    elif not isinstance(latitude, xr.DataArray):
        raise ValueError(f"latitude must be an xarray DataArray, got {type(latitude).__name__}")
    if time in latitude.dims:
        raise ValueError(f"latitude must not vary along {time!r}")
    _checks.warn(_checks.latitude_problems(latitude.values, "latitude"), stacklevel=4)
    return latitude


def _sample(data, time):
    """Values to check: everything when in memory; from Dask-backed data
    the first chunks that hold any number (the checks look at a few, so
    that nothing large is computed twice)."""
    if getattr(data, "chunks", None) is None:
        return data.values
    import dask

    arr = data.data
    blocks = list(np.ndindex(*arr.numblocks))
    taken = []
    for k in blocks[: 8]:
        b = np.asarray(dask.compute(arr.blocks[k])[0])
        if np.isfinite(b).any():
            taken.append(b.ravel())
            if sum(t.size for t in taken) > 100_000:
                break
    return np.concatenate(taken) if taken else np.empty(0)


def _prepare_input(data, name, kind, time):
    """Converted by its units when it has them; else checked for numbers
    that cannot be °C or monthly mm (a warning that names the fix)."""
    if kind == "p":
        decimals = _checks.packing_decimals(data.encoding)
        if decimals is not None:
            data = data.round(decimals)
    if "units" in data.attrs:
        return to_celsius(data, name) if kind == "t" else to_millimetres(data, name, time)
    problems = (_checks.temperature_problems if kind == "t" else _checks.precipitation_problems)(
        _sample(data, time), name, data.attrs)
    _checks.warn(problems, stacklevel=4)
    return data


def _block(t, p, lat, *rest, fc_value, has_fc, has_pet, names, **kw):
    """One block of cells, (..., months) in; the chosen outputs out."""
    rest = list(rest)
    fc = rest.pop(0) if has_fc else fc_value
    pe = rest.pop(0) if has_pet else None
    lead = t.shape[:-1]
    n = int(np.prod(lead))
    lat = np.broadcast_to(lat, lead).reshape(n)
    fc = np.broadcast_to(fc, lead).reshape(n) if has_fc else fc
    out = _cells.compute(t.reshape(n, -1), p.reshape(n, -1), lat, fc,
                         None if pe is None else pe.reshape(n, -1), names=names, **kw)
    result = tuple(out[name].reshape(lead + out[name].shape[1:]) for name in names)
    return result[0] if len(result) == 1 else result


def water_balance(
    temperature,
    precipitation,
    field_capacity=100,
    function="G",
    carryover=False,
    keep_precipitation_fraction=False,
    *,
    latitude=None,
    time=None,
    threads=None,
    pet=None,
    start_month=1,
    variables=None,
    dtype="float64",
    strict=False,
):
    """The water balance of every cell of a monthly grid, as a Dataset.

    Arguments:
        temperature: DataArray of monthly mean temperatures with a monthly
            ``time`` dimension and any spatial dimensions (lat/lon, a
            projected y/x, stations, ...). With a ``units`` attribute it is
            converted (kelvin, Fahrenheit) or refused; without one it is
            taken as °C, with a ``vadoset.InputWarning`` when its numbers
            cannot be (kelvin, packed integers, missing-value codes).
        precipitation: DataArray of monthly totals on the same grid and
            times (coordinates must agree exactly). mm; with a ``units``
            attribute, kg m-2, cm, m, and rates per day or second are
            converted; without one, rates, metres, negative months and
            missing-value codes give an InputWarning.
        field_capacity: mm, a number for the whole grid, or a DataArray over
            the spatial dimensions (a soil map: a cell whose value is NaN or
            below 1 mm gets null years).
        function, carryover, keep_precipitation_fraction: as in
            :func:`vadoset.water_balance`. With carry-over each cell is a run
            of its own along ``time``.
        latitude: a DataArray of latitudes over the spatial dimensions;
            default the grid's latitude coordinate, or latitudes worked out
            from its projection (see :func:`latitude_of`).
        time: the name of the time dimension; default the one named time,
            valid_time (ERA5), t or date, or the one whose coordinate holds
            dates.
        threads: threads per block of cells; default one per core on
            in-memory data, 1 on Dask-backed data (Dask runs the blocks side
            by side).
        pet: optional DataArray of monthly PET of your own (mm, or a unit
            that converts like precipitation), on temperature's grid and
            times: it replaces Willmott's PET; the snow and soil-water
            bucket stay the same.
        start_month: 1 (records are calendar years) or the first month of
            each record (10: water years from October, labelled by the year
            they end in). Not with carry-over, which runs calendar years.
        variables: the outputs to compute, a list of names (default all:
            pet, aet, surplus, deficit, soil, snow, their ``_total``s and
            null_code).
        dtype: "float64" (default: the numbers of ``vadoset-cli`` to the
            last bit) or "float32" (half the memory and disk).

    The time coordinate decides which months form the records: dates (or
    numbers with CF units, "months since" included) are checked to be
    monthly without gaps, and months before the first whole record or
    after the last are left out with an InputWarning. Numbers without
    units are taken as consecutive months from ``start_month`` (with a
    warning: give dates).

    Returns a Dataset with the monthly outputs on the input's grid and
    (used) times; the annual ``_total`` outputs and ``null_code`` (0:
    computed, else ``vadoset.NULL_CODES[code]``; ``no_data`` for a cell
    with no data in any month, such as the sea) with ``year`` in place of
    ``time``. A null year is NaN. On Dask-backed input every variable is
    lazy: ``time`` is gathered into one chunk, the spatial chunks are kept.
    :func:`annual` and :func:`monthly` give each part on a CF time axis,
    for writing.
    With ``strict=True`` every ``vadoset.InputWarning`` of the inputs raises
    ``vadoset.InputError`` (a ValueError) instead.
    """
    if strict:
        with warnings.catch_warnings():
            warnings.simplefilter("error", InputWarning)
            try:
                return water_balance(temperature, precipitation, field_capacity, function, carryover,
                                     keep_precipitation_fraction, latitude=latitude, time=time, threads=threads,
                                     pet=pet, start_month=start_month, variables=variables, dtype=dtype)
            except InputWarning as w:
                raise InputError(str(w)) from None
    function_index = check_options(function, carryover, keep_precipitation_fraction, threads)
    if time is None:
        time = _time_dim_of(temperature)
    _check_array("temperature", temperature, time)
    _check_array("precipitation", precipitation, time)
    if pet is not None:
        _check_array("pet", pet, time)
    if set(precipitation.dims) != set(temperature.dims):
        raise ValueError(
            f"precipitation must have temperature's dimensions {temperature.dims}, got {precipitation.dims}"
        )
    if isinstance(start_month, bool) or not isinstance(start_month, (int, np.integer)) or not 1 <= start_month <= 12:
        raise ValueError(f"start_month must be a month from 1 to 12, got {start_month!r}")
    if carryover and start_month != 1:
        raise ValueError("carryover runs calendar years (soil water carried from December to January): "
                         "use start_month=1 with it")
    names = _choose(variables)
    dtype = _dtype(dtype)
    try:
        rec = _time.records(temperature.coords.get(time), "temperature", start_month, size=temperature.sizes[time])
    except _time.TimeError as e:
        raise ValueError(str(e)) from None
    if not rec.dated:
        _checks.warn([f"temperature's {time!r} holds no dates (plain numbers, no units): its months are taken as "
                      f"consecutive from {_time.MONTH_NAMES[start_month - 1]}; give it dates, or CF units "
                      "('months since 1991-01-01'), so that a series starting in another month is read right"],
                     stacklevel=3)
    _checks.warn(list(rec.dropped), stacklevel=3)
    used = slice(rec.first, rec.first + rec.count)
    temperature = temperature.isel({time: used})
    precipitation = precipitation.isel({time: used})
    lat = _latitude(temperature, latitude, time)
    temperature = _prepare_input(temperature, "temperature", "t", time)
    precipitation = _prepare_input(precipitation, "precipitation", "p", time)
    if pet is not None:
        pet = _prepare_input(pet.isel({time: used}), "pet", "p", time)

    inputs = [temperature, precipitation, lat]
    core = [[time], [time], []]
    fc_value = None
    if isinstance(field_capacity, xr.DataArray):
        if time in field_capacity.dims:
            raise ValueError(f"field_capacity must not vary along {time!r}, got dimensions {field_capacity.dims}")
        inputs.append(field_capacity)
        core.append([])
    else:
        fc_value = check_field_capacity(field_capacity)
    if pet is not None:
        inputs.append(pet)
        core.append([time])
    lazy = any(getattr(a, "chunks", None) for a in inputs)
    if lazy:
        inputs = [a.chunk({time: -1}) if time in a.dims and a.chunks else a for a in inputs]
    if threads is None and lazy:
        threads = 1
    years = len(rec.years)
    try:
        outputs = xr.apply_ufunc(
            _block,
            *inputs,
            input_core_dims=core,
            output_core_dims=[[time] if n in _MONTHLY else ["year"] for n in names],
            kwargs={
                "fc_value": fc_value,
                "has_fc": fc_value is None,
                "has_pet": pet is not None,
                "names": names,
                "start_month": start_month,
                "carryover": carryover,
                "function_index": function_index,
                "keep_precipitation_fraction": keep_precipitation_fraction,
                "threads": 0 if threads is None else threads,
                "dtype": dtype,
            },
            dask="parallelized",
            output_dtypes=[np.uint8 if n == "null_code" else dtype for n in names],
            dask_gufunc_kwargs={"output_sizes": {"year": years}},
            join="exact",
        )
    except ValueError as e:
        if "align" in str(e) or "exact" in str(e):
            raise ValueError(
                "temperature, precipitation, pet and field_capacity must share their coordinates exactly "
                f"(the same grid and times): {e}"
            ) from None
        raise
    if not isinstance(outputs, tuple):
        outputs = (outputs,)

    monthly_dims = temperature.dims
    annual_dims = tuple("year" if d == time else d for d in monthly_dims)
    data = {}
    for name, out in zip(names, outputs):
        dims = monthly_dims if name in _MONTHLY else annual_dims
        out = out.transpose(*dims)
        out.attrs = null_code_attrs() if name == "null_code" else {"units": "mm", **ATTRS[name]}
        data[name] = out
    ds = xr.Dataset(data).assign_coords(year=("year", rec.years))
    # The grid's coordinates as the input has them (units, standard_name,
    # axis: what CF tools need to see a lat/lon grid), and no fill value
    # written for them.
    for name in ds.coords:
        if name in temperature.coords and name != "year":
            ds[name].attrs = dict(temperature.coords[name].attrs)
            ds[name].encoding = {k: v for k, v in temperature.coords[name].encoding.items()
                                 if k in ("units", "calendar", "dtype")}
            ds[name].encoding["_FillValue"] = None
    ds["year"].attrs = {"long_name": "year" if start_month == 1 else f"year in which the year from "
                        f"{_time.MONTH_NAMES[start_month - 1]} ends"}
    ds.attrs = {
        "Conventions": "CF-1.8",
        "title": "Climatic water balance (modified Thornthwaite method of Willmott et al.)",
        "source": "vadoset",
        "availability_function": function,
        "field_capacity": "per cell" if fc_value is None else f"{fc_value:g} mm",
        "carryover": "yes" if carryover else "no",
        "precipitation_fraction": "kept" if keep_precipitation_fraction else "dropped (whole millimetres)",
        "pet": "given" if pet is not None else "Willmott et al. (modified Thornthwaite)",
        "start_month": start_month,
    }
    if rec.dated:
        ds.attrs["calendar"] = rec.calendar
        ds.attrs["first_month"] = f"{int(rec.year_month[0][0]):04d}-{int(rec.year_month[0][1]):02d}"
    return ds


def _choose(variables):
    if variables is None:
        return _cells.ALL
    if isinstance(variables, str):
        variables = [v.strip() for v in variables.split(",") if v.strip()]
    unknown = [v for v in variables if v not in _cells.ALL]
    if unknown or not variables:
        raise ValueError(f"variables must name outputs from {', '.join(_cells.ALL)}, got {list(variables)!r}")
    return tuple(v for v in _cells.ALL if v in variables)


def _dtype(dtype):
    d = np.dtype(dtype) if isinstance(dtype, (str, type, np.dtype)) else None
    if d not in (np.dtype(np.float32), np.dtype(np.float64)):
        raise ValueError(f"dtype must be 'float32' or 'float64', got {dtype!r}")
    return d


def annual(ds):
    """The annual outputs of a water_balance Dataset on a CF time axis: one
    date a record (its first day) with ``time_bnds`` from its first day to
    the next record's, so that CDO and other CF tools see years as time
    steps (not levels). The time values are numbers in the units of their
    ``units`` attribute, ready for ``to_netcdf``."""
    names = [v for v in ds.data_vars if "year" in ds[v].dims]
    out = ds[names]
    if "first_month" not in ds.attrs:
        return out
    y0, m0 = (int(v) for v in ds.attrs["first_month"].split("-"))
    start_month = int(ds.attrs.get("start_month", 1))
    n = ds.sizes["year"]
    ym = np.array([[y0 + (m0 - 1 + 12 * k) // 12, (m0 - 1 + 12 * k) % 12 + 1] for k in range(n)])
    rec = _time.Records(0, n * MONTHS, ds["year"].values, start_month, (),
                        np.repeat(ym, MONTHS, axis=0), ds.attrs.get("calendar", "standard"), True)
    values, bounds, units = _time.annual_bounds(rec)
    out = out.drop_vars("year").rename({"year": "time"}).assign_coords(
        time=("time", values, {"standard_name": "time", "long_name": "time", "axis": "T", "units": units,
                               "calendar": rec.calendar, "bounds": "time_bnds"}),
    )
    out["time_bnds"] = (("time", "bnds"), bounds)
    for name in list(out.coords) + ["time_bnds"]:
        out[name].encoding["_FillValue"] = None
    return _storage_chunks(out)


def _storage_chunks(ds):
    """NetCDF storage chunks equal to the Dask chunks, so that each block is
    written once (Zarr takes the Dask chunks by itself)."""
    for var in ds.data_vars.values():
        if var.chunks is not None:
            var.encoding["chunksizes"] = tuple(c[0] for c in var.chunks)
    return ds


def monthly(ds):
    """The monthly outputs of a water_balance Dataset (their own time axis),
    ready for ``to_netcdf`` or ``to_zarr``."""
    return _storage_chunks(ds[[v for v in ds.data_vars if "year" not in ds[v].dims]].copy())
