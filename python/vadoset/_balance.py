"""The water balance of many records at once, on numpy arrays."""

from __future__ import annotations

import functools
import math
import numbers
from dataclasses import dataclass, field

import numpy as np

from . import _checks, _core

MONTHS = 12
FUNCTIONS = _core.FUNCTION_LETTERS

#: The stable name of each null code: ``NULL_CODES[result.null_code]``.
NULL_CODES = tuple(_core.null_reason_code(i) for i in range(_core.NULL_REASON_COUNT))


@dataclass(frozen=True)
class WaterBalance:
    """The water balance of every record, in mm.

    Monthly arrays have the input's shape ``(..., 12)``; the annual sums,
    ``null``, ``null_code`` and ``null_reason`` have its leading shape
    ``(...)``. A null record holds NaN in every number.

    Attributes:
        pet, aet, surplus: potential and actual evapotranspiration, and the
            water surplus, per month.
        deficit: ``pet - aet`` per month.
        soil, snow: soil water and snowpack (water equivalent) at the end of
            each month of the record's last pass over the year.
        pet_total, aet_total, surplus_total, deficit_total: the annual sums,
            added January to December as ``vadoset-cli``'s table adds them.
        null: True for a record that could not be computed.
        null_code: why (``uint8``): 0 for a computed record, else an index
            into ``vadoset.NULL_CODES`` ("precipitation_missing", ...).
        null_reason: the reason in words ("month 2 of the precipitation file
            is missing"), "" for a computed record.
        null_month: the missing month (1 to 12) when the reason names one,
            else 0.
    """

    pet: np.ndarray
    aet: np.ndarray
    surplus: np.ndarray
    deficit: np.ndarray
    soil: np.ndarray
    snow: np.ndarray
    pet_total: np.ndarray
    aet_total: np.ndarray
    surplus_total: np.ndarray
    deficit_total: np.ndarray
    null: np.ndarray
    null_code: np.ndarray
    # The missing month (1 to 12) of a null record whose reason names one.
    null_month: np.ndarray = field(repr=False)

    @functools.cached_property
    def null_reason(self):
        """The reason in words ("" for a computed record), worked out when
        first asked for: most callers never need it."""
        return _reason_texts(self.null_code.ravel(), self.null_month.ravel()).reshape(self.null_code.shape)

    def to_frame(self, index=None):
        """The records as a pandas DataFrame, one row per record, in the
        columns of ``vadoset-cli``'s table (``PET_01`` ... ``SURPLUS``, then
        ``DEFICIT_01`` ... ``DEFICIT``, ``SOIL_01`` ..., ``SNOW_01`` ...) and
        ``null_reason``. Only for a one-dimensional set of records.
        """
        import pandas as pd

        if self.pet.ndim != 2:
            raise ValueError(f"to_frame needs records of shape (n, 12), these have shape {self.pet.shape}")
        columns = {}
        for name, monthly, total in (
            ("PET", self.pet, None),
            ("AET", self.aet, None),
            ("SURPLUS", self.surplus, None),
        ):
            for m in range(MONTHS):
                columns[f"{name}_{m + 1:02d}"] = monthly[:, m]
        columns["PET"] = self.pet_total
        columns["AET"] = self.aet_total
        columns["SURPLUS"] = self.surplus_total
        for m in range(MONTHS):
            columns[f"DEFICIT_{m + 1:02d}"] = self.deficit[:, m]
        columns["DEFICIT"] = self.deficit_total
        for name, monthly in (("SOIL", self.soil), ("SNOW", self.snow)):
            for m in range(MONTHS):
                columns[f"{name}_{m + 1:02d}"] = monthly[:, m]
        columns["null_reason"] = self.null_reason
        return pd.DataFrame(columns, index=index)


def _number_array(name, value):
    a = np.asarray(value)
    if a.dtype.kind not in "iuf":
        raise ValueError(f"{name} must hold numbers, got an array of dtype {a.dtype}")
    return a


def _leading(name, value, shape):
    """A per-record argument broadcast to the records' shape."""
    a = _number_array(name, value)
    try:
        return np.broadcast_to(a, shape)
    except ValueError:
        raise ValueError(f"{name} must broadcast to the records' shape {shape}, got shape {a.shape}") from None


def _whole_millimetres(value):
    """Field capacity as vadoset-cli takes --field-capacity: the fraction
    dropped, a 32-bit whole number of at least 1 mm; None otherwise."""
    if not math.isfinite(value):
        return None
    whole = math.trunc(value)
    if not -(2**31) <= whole <= 2**31 - 1 or whole < 1:
        return None
    return float(whole)


def check_options(function, carryover, keep_precipitation_fraction, threads):
    """Checks the options shared by every front end; returns the function's
    index (0 for "A")."""
    if not isinstance(function, str) or len(function) != 1 or function not in FUNCTIONS:
        raise ValueError(f"function must be one letter from A to H, got {function!r}")
    for name, flag in (("carryover", carryover), ("keep_precipitation_fraction", keep_precipitation_fraction)):
        if not isinstance(flag, (bool, np.bool_)):
            raise ValueError(f"{name} must be True or False, got {flag!r}")
    if threads is not None and (
        isinstance(threads, (bool, np.bool_)) or not isinstance(threads, numbers.Integral) or threads < 1
    ):
        raise ValueError(f"threads must be None or a whole number of at least 1, got {threads!r}")
    return FUNCTIONS.index(function)


def check_field_capacity(field_capacity):
    """A single field capacity, checked and made whole millimetres."""
    if isinstance(field_capacity, (bool, np.bool_)) or not isinstance(field_capacity, numbers.Real):
        raise ValueError(f"field_capacity must be a number of millimetres, got {field_capacity!r}")
    fc = _whole_millimetres(float(field_capacity))
    if fc is None:
        raise ValueError(f"field_capacity must be a positive number of millimetres (at least 1), got {field_capacity!r}")
    return fc


def water_balance(
    temperature,
    precipitation,
    latitude,
    *,
    field_capacity=100,
    function="G",
    carryover=False,
    keep_precipitation_fraction=False,
    threads=None,
    strict=False,
):
    """The climatic water balance of many records (sites or years).

    Arguments:
        temperature: monthly mean temperatures, °C, shape ``(..., 12)``,
            January to December on the last axis.
        precipitation: monthly precipitation totals, mm, the same shape.
        latitude: decimal degrees, north positive; broadcast to the leading
            shape ``(...)``. A record whose latitude is NaN or outside -90
            to 90 is null, as in ``vadoset-cli``.
        field_capacity: mm. A number is the whole run's: its fraction is
            dropped and it must be at least 1, as ``--field-capacity``. An
            array is each record's own (broadcast to the leading shape): a
            record whose value is NaN or below 1 once its fraction is dropped
            is null (a soil map with NaN over the sea).
        function: the declining availability function, "A" to "H".
        carryover: False: every record is spun up to its own steady state.
            True: axis 0 is years, in order, and every position of the other
            axes is a run of its own, its soil water and snow carried from
            each December to the next January; each run starts as
            ``vadoset-cli --carryover`` does (no soil water, no snow, the
            first year spun up).
        keep_precipitation_fraction: False (default): precipitation is
            used in whole millimetres, its fraction dropped toward zero, as
            ``vadoset-cli`` reads it. True: used as given.
        threads: computing threads; None: one per core. The results are the
            same for every number.
        strict: False (default): the input checks of ``vadoset-cli`` (values
            in °F, kelvins or tenths, precipitation in inches or tenths, a
            latitude without its sign or a longitude for it, swapped
            arguments, ...) give a ``vadoset.InputWarning`` each. True: they
            raise ``vadoset.InputError`` instead.

    Missing months are NaN. The readers' missing markers mean the same here:
    -9999 and 9999 in either input, and precipitation that does not fit a
    32-bit whole number. A record with a missing month is null.

    Returns a :class:`WaterBalance`. The numbers are those of
    ``vadoset-cli`` for the same records, to the last bit.

    Raises ValueError, naming the argument, for a wrong shape, type or value.
    The GIL is released while the records are computed; Ctrl+C stops the
    computation within a tenth of a second (KeyboardInterrupt).
    """
    return _compute(temperature, precipitation, latitude, field_capacity, function, carryover,
                    keep_precipitation_fraction, threads, strict, grid=False)


def _compute(temperature, precipitation, latitude, field_capacity, function, carryover, keep_precipitation_fraction,
             threads, strict, grid):
    """water_balance; ``grid``: the records are cell-years of a block of a
    grid, where a block of sea cells is all null and no mistake."""
    index = check_options(function, carryover, keep_precipitation_fraction, threads)
    t = _number_array("temperature", temperature)
    if t.ndim == 0 or t.shape[-1] != MONTHS:
        raise ValueError(f"temperature must have the 12 months on its last axis, got shape {t.shape}")
    p = _number_array("precipitation", precipitation)
    if p.shape != t.shape:
        raise ValueError(f"precipitation must have temperature's shape {t.shape}, got shape {p.shape}")
    lead = t.shape[:-1]
    if carryover and len(lead) == 0:
        raise ValueError(f"carryover needs a years axis: temperature of shape (years, ..., 12), got shape {t.shape}")
    lat = _leading("latitude", latitude, lead)
    if np.ndim(field_capacity) == 0:
        if isinstance(field_capacity, np.ndarray):
            field_capacity = field_capacity.item()
        fc = np.broadcast_to(np.float64(check_field_capacity(field_capacity)), lead)
    else:
        fc = _leading("field_capacity", field_capacity, lead)

    n = math.prod(lead)
    chains = math.prod(lead[1:]) if carryover else n
    where = (lambda i: f"record {np.unravel_index(i, lead)}") if len(lead) > 1 else None  # noqa: E731
    found = _checks.messages(t, p, lat, keep_precipitation_fraction=keep_precipitation_fraction,
                             chains=chains if carryover else 0, where=where)
    _checks.warn_or_raise(found, strict)
    pet, aet, surplus, deficit, soil, snow, totals, reason, month = _core.compute(
        np.ascontiguousarray(t, dtype=np.float64).reshape(n, MONTHS),
        np.ascontiguousarray(p, dtype=np.float64).reshape(n, MONTHS),
        np.ascontiguousarray(lat, dtype=np.float64).reshape(n),
        np.ascontiguousarray(fc, dtype=np.float64).reshape(n),
        index,
        bool(carryover),
        bool(keep_precipitation_fraction),
        chains,
        0 if threads is None else int(threads),
    )
    monthly = lead + (MONTHS,)
    if not grid:
        _checks.warn_or_raise(_checks.all_null(reason), strict)
    return WaterBalance(
        pet=pet.reshape(monthly),
        aet=aet.reshape(monthly),
        surplus=surplus.reshape(monthly),
        deficit=deficit.reshape(monthly),
        soil=soil.reshape(monthly),
        snow=snow.reshape(monthly),
        pet_total=np.ascontiguousarray(totals[:, 0]).reshape(lead),
        aet_total=np.ascontiguousarray(totals[:, 1]).reshape(lead),
        surplus_total=np.ascontiguousarray(totals[:, 2]).reshape(lead),
        deficit_total=np.ascontiguousarray(totals[:, 3]).reshape(lead),
        null=(reason != 0).reshape(lead),
        null_code=reason.reshape(lead),
        null_month=month.reshape(lead),
    )


def _reason_texts(reason, month):
    # Few distinct (reason, month) pairs: word each once.
    key = reason.astype(np.int32) * 16 + month
    unique, inverse = np.unique(key, return_inverse=True)
    words = [_core.null_reason_text(int(k) // 16, int(k) % 16) for k in unique]
    return np.array(words or [""], dtype=str)[inverse]
