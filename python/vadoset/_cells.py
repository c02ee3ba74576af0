"""The water balance of a block of grid cells: every cell's monthly series
in, the chosen outputs out. Both grid entries (the xarray function and the
grid tool's tiles) compute through this."""

from __future__ import annotations

import numpy as np

from . import _time
from ._balance import MONTHS, NO_DATA, _compute

MONTHLY = ("pet", "aet", "surplus", "deficit", "soil", "snow")
ANNUAL = ("pet_total", "aet_total", "surplus_total", "deficit_total")
CODES = ("null_code",)
ALL = MONTHLY + ANNUAL + CODES


def missing(a, precipitation):
    """The months the engine takes as missing (NaN, -9999, 9999 and, for
    precipitation, what does not fit a 32-bit whole number)."""
    with np.errstate(invalid="ignore"):
        m = np.isnan(a) | (a == -9999.0) | (a == 9999.0)
        if precipitation:
            m |= ~(np.abs(a) < 2147483648.0)
    return m


def no_data(t, p):
    """Cells (rows) with no usable month in temperature or in
    precipitation: the sea, or outside the data's domain."""
    # Most such cells are NaN throughout (the files' fill value): a fast
    # test for those, the whole rule for the few others that start missing.
    sea = np.isnan(t).all(axis=1) | np.isnan(p).all(axis=1)
    maybe = np.flatnonzero(~sea & (missing(t[:, 0], False) | missing(p[:, 0], True)))
    if maybe.size:
        sea[maybe] = missing(t[maybe], False).all(axis=1) | missing(p[maybe], True).all(axis=1)
    return sea


def compute(t, p, lat, fc, pe=None, *, start_month=1, carryover=False, function_index=6,
            keep_precipitation_fraction=False, threads=1, names=ALL, dtype=np.float64, sea=None):
    """t, p (and pe): (cells, months), months a whole number of years from
    start_month; lat: (cells,); fc: a number or (cells,). Returns
    {name: array}: monthly outputs (cells, months), annual ones and
    null_code (cells, years). A cell with no data in any month (sea) is not
    computed: NaN, and null_code NO_DATA."""
    cells, months = t.shape
    years = months // MONTHS
    out = {}
    for name in names:
        if name in MONTHLY:
            out[name] = np.full((cells, months), np.nan, dtype=dtype)
        elif name in ANNUAL:
            out[name] = np.full((cells, years), np.nan, dtype=dtype)
        else:
            out[name] = np.full((cells, years), NO_DATA, dtype=np.uint8)
    if sea is None:
        sea = no_data(t, p)
    land = np.flatnonzero(~sea)
    if land.size == 0 or years == 0:
        return out
    lat = np.broadcast_to(np.asarray(lat, dtype=np.float64), (cells,))[land]
    fc_cells = np.broadcast_to(np.asarray(fc, dtype=np.float64), (cells,))[land]

    every = land.size == cells

    def records(a):
        r = _time.to_calendar_order((a if every else a[land]).reshape(land.size, years, MONTHS), start_month)
        return np.moveaxis(r, 1, 0) if carryover else r

    tt, pp = records(t), records(p)
    pet = records(pe) if pe is not None else None
    if carryover:
        la = np.broadcast_to(lat, (years, land.size))
        f = np.broadcast_to(fc_cells, (years, land.size))
    else:
        la = np.broadcast_to(lat[:, None], (land.size, years))
        f = np.broadcast_to(fc_cells[:, None], (land.size, years))
    wb = _compute(tt, pp, la, f, function_index, carryover, keep_precipitation_fraction, threads, pet)

    def cell_first(a):
        return np.moveaxis(a, 0, 1) if carryover else a

    for name in names:
        a = cell_first(getattr(wb, name))
        if name in MONTHLY:
            out[name][land] = _time.from_calendar_order(a, start_month).reshape(land.size, months)
        else:
            out[name][land] = a
    return out
