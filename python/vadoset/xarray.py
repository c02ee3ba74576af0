"""The water balance of gridded monthly data, on xarray DataArrays.

Eager on numpy-backed arrays, lazy on Dask-backed ones (chunk them in space:
every cell's whole time series is one piece of work), on a local scheduler
or a ``dask.distributed`` cluster.
"""

from __future__ import annotations

import re

import numpy as np
import xarray as xr

from ._balance import MONTHS, NULL_CODES, check_field_capacity, check_options
from ._balance import _compute

__all__ = ["water_balance", "to_celsius", "to_millimetres"]

_LATITUDE_NAMES = ("lat", "latitude")

_MONTHLY = ("pet", "aet", "surplus", "deficit", "soil", "snow")
_ANNUAL = ("pet_total", "aet_total", "surplus_total", "deficit_total")

# CF has standard names for evapotranspiration amounts only in kg m-2; their
# tables give none in a length unit, so those variables carry a long_name
# alone (1 kg m-2 of water is 1 mm).
_ATTRS = {
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
    "pet_total": {"long_name": "annual potential evapotranspiration", "cell_methods": "year: sum"},
    "aet_total": {"long_name": "annual actual evapotranspiration", "cell_methods": "year: sum"},
    "surplus_total": {"long_name": "annual water surplus", "cell_methods": "year: sum"},
    "deficit_total": {"long_name": "annual water deficit", "cell_methods": "year: sum"},
}


# Units, compared in lower case with blanks, "**" and "^" taken out.
_CELSIUS = {"degc", "deg_c", "degreec", "degree_c", "degreesc", "degrees_c", "celsius", "degree_celsius",
            "degrees_celsius", "degreescelsius", "degreecelsius", "°c"}
_KELVIN = {"k", "kelvin", "kelvins", "degk", "deg_k", "degree_k", "degrees_k"}
# Water amounts: mm, or kg of water per m², which is the same.
_AMOUNTS = {"mm": 1.0, "millimeter": 1.0, "millimeters": 1.0, "millimetre": 1.0, "millimetres": 1.0,
            "kgm-2": 1.0, "kg/m2": 1.0, "kg.m-2": 1.0, "cm": 10.0, "m": 1000.0, "meter": 1000.0,
            "meters": 1000.0, "metre": 1000.0, "metres": 1000.0}
# Per month (a monthly total, as the model takes it), per day or per second
# (a mean rate over the month, times the month's length in the calendar of
# the time coordinate).
_PER_MONTH = ("/month", "month-1", "/mon", "mon-1", ".month-1", ".mon-1")
_PER_DAY = ("/day", "day-1", "/d", "d-1", ".day-1", ".d-1")
_PER_SECOND = ("/s", "s-1", "/sec", ".s-1")


def _dates(data, time):
    """The .dt accessor of the time coordinate, or None when it holds no
    dates (numbers, or no coordinate at all)."""
    if time not in data.coords:
        return None
    try:
        return data[time].dt
    except (AttributeError, TypeError):
        return None


def _plain_units(units):
    return re.sub(r"\s+", "", str(units).strip().lower().replace("**", "").replace("^", ""))


def to_celsius(data, name="temperature"):
    """The DataArray in °C, from its ``units`` attribute: °C as it is
    (degC, degree_Celsius, Celsius, ...), kelvin (K, kelvin, degK) less
    273.15. ValueError for any other unit or none."""
    units = data.attrs.get("units")
    if units is None:
        raise ValueError(f"{name} has no units attribute: give it units 'degC' or 'K'")
    u = _plain_units(units)
    if u in _CELSIUS:
        return data
    if u in _KELVIN:
        return data.astype(np.float64) - 273.15
    raise ValueError(f"{name} has units {units!r}, which vadoset does not know: use degC (Celsius) or K (kelvin)")


def to_millimetres(data, name="precipitation", time="time"):
    """The DataArray in mm a month, from its ``units`` attribute.

    - Monthly totals: mm, kg m-2, cm or m, alone or per month (mm/month,
      kg m-2 month-1).
    - Mean rates over the month: per day (mm/day, mm d-1) or per second
      (kg m-2 s-1, the unit of most climate models), times the days of each
      month in the calendar of the ``time`` coordinate (29 in a leap
      February).

    ValueError for any other unit or none.
    """
    units = data.attrs.get("units")
    if units is None:
        raise ValueError(f"{name} has no units attribute: give it units 'mm' (a monthly total) or 'kg m-2 s-1'")
    u = _plain_units(units)
    per = None
    for suffixes, kind in ((_PER_MONTH, "month"), (_PER_DAY, "day"), (_PER_SECOND, "second")):
        for s in suffixes:
            if u.endswith(s) and u[: -len(s)] in _AMOUNTS:
                per, u = kind, u[: -len(s)]
                break
        if per:
            break
    if u not in _AMOUNTS:
        raise ValueError(
            f"{name} has units {units!r}, which vadoset does not know: use mm, kg m-2, cm or m (monthly totals), "
            "or a rate per day or per second (mm/day, kg m-2 s-1)"
        )
    factor = _AMOUNTS[u]
    if per in ("day", "second"):
        dates = _dates(data, time)
        if dates is None:
            raise ValueError(f"{name} is a rate ({units!r}): its {time} coordinate must hold dates to know each month's days")
        days = dates.days_in_month
        factor = factor * days * (86400.0 if per == "second" else 1.0)
    if np.isscalar(factor) and factor == 1.0:
        return data
    return data.astype(np.float64) * factor


def _check_array(name, value, time):
    if not isinstance(value, xr.DataArray):
        raise ValueError(f"{name} must be an xarray DataArray, got {type(value).__name__}")
    if time not in value.dims:
        raise ValueError(f"{name} must have a {time!r} dimension, got dimensions {value.dims}")


def _years(data, time):
    """The year of every 12 months; the months must be whole years from
    January (checked when the time coordinate holds dates)."""
    n = data.sizes[time]
    if n == 0 or n % MONTHS != 0:
        raise ValueError(f"temperature must hold whole years: its {time!r} dimension has {n} months, not a multiple of 12")
    dates = _dates(data, time)
    if dates is None:
        return np.arange(n // MONTHS)
    months = np.asarray(dates.month.values)
    years = np.asarray(dates.year.values)
    blocks = years.reshape(-1, MONTHS)
    if not (np.array_equal(months, np.tile(np.arange(1, MONTHS + 1), n // MONTHS)) and (blocks == blocks[:, :1]).all()):
        raise ValueError(f"temperature's {time!r} must be monthly, whole years from January to December, in order")
    years = blocks[:, 0]
    if (np.diff(years) <= 0).any():
        raise ValueError(f"temperature's {time!r} must hold its years in order, once each")
    return years


def _latitude(temperature, latitude, time):
    if latitude is None:
        for name in _LATITUDE_NAMES:
            if name in temperature.coords:
                latitude = temperature.coords[name]
                break
        else:
            raise ValueError("temperature has no 'lat' or 'latitude' coordinate: pass latitude= as a DataArray")
    elif not isinstance(latitude, xr.DataArray):
        raise ValueError(f"latitude must be an xarray DataArray, got {type(latitude).__name__}")
    if time in latitude.dims:
        raise ValueError(f"latitude must not vary along {time!r}")
    return latitude


def _block(t, p, lat, fc=None, *, fc_value, carryover, function, keep_precipitation_fraction, threads, strict):
    """One block of cells: (..., years*12) in, the outputs out."""
    lead = t.shape[:-1]
    years = t.shape[-1] // MONTHS
    t = t.reshape(lead + (years, MONTHS))
    p = p.reshape(lead + (years, MONTHS))
    lat = np.broadcast_to(lat, lead)
    fc = fc_value if fc is None else np.broadcast_to(fc, lead)
    if carryover:
        # The records' own layout for carry-over: years first.
        t = np.moveaxis(t, -2, 0)
        p = np.moveaxis(p, -2, 0)
        lat = np.broadcast_to(lat, (years,) + lead)
        if np.ndim(fc):
            fc = np.broadcast_to(fc, (years,) + lead)
    else:
        lat = np.broadcast_to(lat[..., None], lead + (years,))
        if np.ndim(fc):
            fc = np.broadcast_to(fc[..., None], lead + (years,))
    wb = _compute(t, p, lat, fc, function, carryover, keep_precipitation_fraction, threads, strict, grid=True)
    monthly = []
    for name in _MONTHLY:
        a = getattr(wb, name)
        if carryover:
            a = np.moveaxis(a, 0, -2)
        monthly.append(a.reshape(lead + (years * MONTHS,)))
    annual = []
    for name in _ANNUAL + ("null_code",):
        a = getattr(wb, name)
        annual.append(np.moveaxis(a, 0, -1) if carryover else a)
    return tuple(monthly + annual)


def water_balance(
    temperature,
    precipitation,
    field_capacity=100,
    function="G",
    carryover=False,
    keep_precipitation_fraction=False,
    *,
    latitude=None,
    time="time",
    threads=None,
    strict=False,
):
    """The water balance of every cell of a monthly grid, as a Dataset.

    Arguments:
        temperature: DataArray of monthly mean temperatures with a monthly
            ``time`` dimension (whole years from January) and any spatial
            dimensions (lat/lon, or stations, ...). °C; with a ``units``
            attribute, kelvin is converted and an unknown unit refused.
        precipitation: DataArray of monthly totals on the same grid and
            times (coordinates must agree exactly). mm; with a ``units``
            attribute, kg m-2, m, and rates per day or second are converted.
        field_capacity: mm, a number for the whole grid, or a DataArray over
            the spatial dimensions (a soil map: a cell whose value is NaN or
            below 1 mm gets null years).
        function, carryover, keep_precipitation_fraction: as in
            :func:`vadoset.water_balance`. With carry-over each cell is a run
            of its own along ``time``.
        latitude: a DataArray of latitudes over the spatial dimensions;
            default the ``lat`` (or ``latitude``) coordinate.
        time: the name of the time dimension.
        threads: threads per block of cells; default one per core on
            in-memory data, 1 on Dask-backed data (Dask runs the blocks side
            by side).
        strict: as in :func:`vadoset.water_balance`: the input checks give
            a ``vadoset.InputWarning`` each, or raise ``vadoset.InputError``
            with True. On Dask-backed data they look at each block when it
            is computed (the checks of the bulk of the data, such as
            precipitation in inches, then judge block by block).

    Returns a Dataset with ``pet``, ``aet``, ``surplus``, ``deficit``,
    ``soil``, ``snow`` on the input's grid and times; ``pet_total``,
    ``aet_total``, ``surplus_total``, ``deficit_total`` and ``null_code``
    (0: computed, else ``vadoset.NULL_CODES[code]``) with ``year`` in place
    of ``time``. A null year is NaN. On Dask-backed input every variable is
    lazy: ``time`` is gathered into one chunk, the spatial chunks are kept.
    """
    check_options(function, carryover, keep_precipitation_fraction, threads)
    _check_array("temperature", temperature, time)
    _check_array("precipitation", precipitation, time)
    if set(precipitation.dims) != set(temperature.dims):
        raise ValueError(
            f"precipitation must have temperature's dimensions {temperature.dims}, got {precipitation.dims}"
        )
    years = _years(temperature, time)
    lat = _latitude(temperature, latitude, time)
    if "units" in temperature.attrs:
        temperature = to_celsius(temperature)
    if "units" in precipitation.attrs:
        precipitation = to_millimetres(precipitation, time=time)

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
    lazy = any(getattr(a, "chunks", None) for a in inputs)
    if lazy:
        inputs = [a.chunk({time: -1}) if time in a.dims and a.chunks else a for a in inputs]
    if threads is None and lazy:
        threads = 1
    try:
        outputs = xr.apply_ufunc(
            _block,
            *inputs,
            input_core_dims=core,
            output_core_dims=[[time]] * len(_MONTHLY) + [["year"]] * (len(_ANNUAL) + 1),
            kwargs={
                "fc_value": fc_value,
                "carryover": carryover,
                "function": function,
                "keep_precipitation_fraction": keep_precipitation_fraction,
                "threads": threads,
                "strict": strict,
            },
            dask="parallelized",
            output_dtypes=[np.float64] * (len(_MONTHLY) + len(_ANNUAL)) + [np.uint8],
            dask_gufunc_kwargs={"output_sizes": {"year": len(years)}},
            join="exact",
        )
    except ValueError as e:
        if "align" in str(e) or "exact" in str(e):
            raise ValueError(
                "temperature, precipitation and field_capacity must share their coordinates exactly "
                f"(the same grid and times): {e}"
            ) from None
        raise

    monthly_dims = temperature.dims
    annual_dims = tuple("year" if d == time else d for d in monthly_dims)
    data = {}
    for name, out in zip(_MONTHLY + _ANNUAL + ("null_code",), outputs):
        dims = monthly_dims if name in _MONTHLY else annual_dims
        out = out.transpose(*dims)
        if name == "null_code":
            out.attrs = {
                "long_name": "why the year has no water balance (0: it has one)",
                "flag_values": np.arange(len(NULL_CODES), dtype=np.uint8),
                "flag_meanings": " ".join(NULL_CODES),
            }
        else:
            out.attrs = {"units": "mm", **_ATTRS[name]}
        data[name] = out
    ds = xr.Dataset(data).assign_coords(year=("year", years))
    ds["year"].attrs = {"long_name": "year"}
    ds.attrs = {
        "Conventions": "CF-1.8",
        "title": "Climatic water balance (modified Thornthwaite method of Willmott et al.)",
        "source": "vadoset",
        "availability_function": function,
        "field_capacity": "per cell" if fc_value is None else f"{fc_value:g} mm",
        "carryover": "yes" if carryover else "no",
        "precipitation_fraction": "kept" if keep_precipitation_fraction else "dropped (whole millimetres)",
    }
    return ds
