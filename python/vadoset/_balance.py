"""The water balance of many records at once, on numpy arrays."""

from __future__ import annotations

import functools
import math
import numbers
from dataclasses import dataclass, field

import numpy as np

from . import _checks, _climate, _core

MONTHS = 12
#: The most computing threads a call takes, as vadoset-cli's --threads.
MAX_THREADS = 256
FUNCTIONS = _core.FUNCTION_LETTERS

#: A grid cell with no data in any month (sea, or outside the data's
#: domain): the grid entries' code of its own, after the engine's.
NO_DATA = _core.NULL_REASON_COUNT
#: The stable name of each null code: ``NULL_CODES[result.null_code]``.
NULL_CODES = tuple(_core.null_reason_code(i) for i in range(_core.NULL_REASON_COUNT)) + ("no_data",)
NO_DATA_TEXT = "no data in any month (sea, or outside the data's domain)"


def reason_text(code, month):
    return NO_DATA_TEXT if code == NO_DATA else _core.null_reason_text(code, month)


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
    # The value that made a month or the latitude unusable (NaN elsewhere),
    # quoted in the reason as the command-line tool quotes the field.
    null_value: np.ndarray = field(default=None, repr=False)
    # The pandas index of the records, when they came from pandas.
    index: object = field(default=None, repr=False)

    @functools.cached_property
    def null_reason(self):
        """The reason in words ("" for a computed record), worked out when
        first asked for: most callers never need it. A missing month or an
        unusable latitude quotes its value as ``vadoset-cli`` quotes the
        field ("month 2 of the precipitation file is missing ('NA')"; NaN is
        written NA, the tab format's missing month)."""
        values = self.null_value.ravel() if self.null_value is not None else None
        return _reason_texts(self.null_code.ravel(), self.null_month.ravel(), values).reshape(self.null_code.shape)

    def to_frame(self, index=None):
        """The records as a pandas DataFrame, one row per record, in the
        columns of ``vadoset-cli``'s table (``PET_01`` ... ``SURPLUS``, then
        ``DEFICIT_01`` ... ``DEFICIT``, ``SOIL_01`` ..., ``SNOW_01`` ...) and
        ``null_reason``. Only for a one-dimensional set of records. The
        index is ``index``, else the inputs' own when they were pandas
        objects.
        """
        import pandas as pd

        if index is None:
            index = self.index

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
    """The values as a numpy array of numbers; a masked array's masked
    elements, and pandas' missing values, become NaN (missing)."""
    if np.ma.isMaskedArray(value):
        mask = np.ma.getmaskarray(value)
        a = np.asarray(np.ma.getdata(value))
        if a.dtype.kind not in "iuf":
            raise ValueError(f"{name} must hold numbers, got an array of dtype {a.dtype}")
        if mask.any():
            a = a.astype(np.float64, copy=True)
            a[mask] = np.nan
        return a
    if hasattr(value, "to_numpy") and type(value).__module__.startswith("pandas"):
        try:
            value = value.to_numpy(dtype=np.float64, na_value=np.nan)
        except (TypeError, ValueError):
            raise ValueError(f"{name} must hold numbers, got pandas columns of dtypes "
                             f"{sorted({str(d) for d in getattr(value, 'dtypes', [value.dtype])})}") from None
    a = np.asarray(value)
    if a.dtype.kind not in "iuf":
        raise ValueError(f"{name} must hold numbers, got an array of dtype {a.dtype}")
    return a


def _is_pandas(value):
    return type(value).__module__.startswith("pandas") and hasattr(value, "index")


def _align_pandas(temperature, precipitation, latitude, field_capacity, pet):
    """pandas inputs matched by their index, as pandas matches them: the
    others are put in temperature's order (or precipitation's when it alone
    has one). ValueError when the indexes do not hold the same labels, or
    the month columns differ. Returns the inputs and the index."""
    named = {"temperature": temperature, "precipitation": precipitation, "latitude": latitude,
             "field_capacity": field_capacity, "pet": pet}
    frames = {k: v for k, v in named.items() if _is_pandas(v)}
    if not frames:
        return temperature, precipitation, latitude, field_capacity, pet, None
    lead_name = next(iter(frames))
    index = frames[lead_name].index
    if not index.is_unique:
        raise ValueError(f"{lead_name}'s index has repeated labels: the records cannot be matched by index")
    columns = None
    for name, v in frames.items():
        if not index.equals(v.index):
            if len(v.index) != len(index) or not v.index.is_unique or not set(v.index) == set(index):
                missing = [x for x in index if x not in set(v.index)][:3]
                extra = [x for x in v.index if x not in set(index)][:3]
                raise ValueError(
                    f"{name}'s index does not hold the same records as {lead_name}'s (pandas inputs are matched "
                    f"by index): missing {missing}, not in {lead_name} {extra}; select the same records "
                    f"(for example {name}.loc[{lead_name}.index])")
            named[name] = v.reindex(index)
        if hasattr(v, "columns") and name in ("temperature", "precipitation", "pet"):
            if columns is None:
                columns = (name, v.columns)
            elif not v.columns.equals(columns[1]):
                raise ValueError(f"{name}'s columns {list(v.columns)} are not {columns[0]}'s {list(columns[1])}: "
                                 "give both the twelve months in the same order")
    return (named["temperature"], named["precipitation"], named["latitude"], named["field_capacity"],
            named["pet"], index)


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
        isinstance(threads, (bool, np.bool_))
        or not isinstance(threads, numbers.Integral)
        or not 1 <= threads <= MAX_THREADS
    ):
        raise ValueError(f"threads must be None or a whole number from 1 to {MAX_THREADS}, got {threads!r}")
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
    pet=None,
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
        threads: computing threads, 1 to 256; None: one per core. The
            results are the same for every number.
        pet: optional monthly potential evapotranspiration of your own, mm,
            temperature's shape (Penman-Monteith, say). It replaces
            Willmott's PET; temperature still drives the snowpack, and the
            bucket is the same. A record with a NaN month of PET is null
            (``pet_missing``).
        strict: True raises ``vadoset.InputError`` (a ValueError) for
            inputs that would give a ``vadoset.InputWarning`` (below).

    Missing months are NaN, or masked (numpy masked arrays; pandas' NA).
    The readers' missing markers mean the same here: -9999 and 9999 in
    either input, and precipitation that does not fit a 32-bit whole number.
    A record with a missing month is null. pandas inputs are matched by
    their index (the others put in the first one's order).

    Numbers that cannot be what they are taken for give a
    ``vadoset.InputWarning`` that says what to do: kelvin or Fahrenheit as
    °C, rates or metres as monthly millimetres, missing-value codes such
    as -999 and negative precipitation used as data, latitudes beyond ±90,
    and a ``(12, 12)`` array whose months run along its first axis. The
    checks of ``vadoset-cli`` that look at whole records warn too:
    precipitation too low or too high for the records' temperatures (inches,
    centimetres, tenths), a latitude without its sign, temperature and
    precipitation swapped, carry-over across sites, every record null.

    Returns a :class:`WaterBalance`. The numbers are those of
    ``vadoset-cli`` for the same records, to the last bit.

    Raises ValueError, naming the argument, for a wrong shape, type or value.
    The GIL is released while the records are computed; Ctrl+C stops the
    computation within a tenth of a second (KeyboardInterrupt).
    """
    temperature, precipitation, latitude, field_capacity, pet, index = _align_pandas(
        temperature, precipitation, latitude, field_capacity, pet)
    args = _prepare(temperature, precipitation, latitude, field_capacity, function, carryover,
                    keep_precipitation_fraction, threads, pet)
    t, p, lat, pe = args[0], args[1], args[2], args[-1]
    problems = _checks.temperature_problems(t, "temperature") + _checks.precipitation_problems(p, "precipitation")
    problems += _checks.latitude_problems(lat, "latitude")
    months_first = _checks.months_first_problem(t, "temperature")
    if months_first:
        problems.append(months_first)
    if pe is not None:
        problems += _pet_problems(pe)
    lead = t.shape[:-1]
    where = (lambda i: f"record {np.unravel_index(i, lead)}") if len(lead) > 1 else None  # noqa: E731
    if pe is None:
        problems += _climate.messages(t, p, lat, keep_precipitation_fraction=keep_precipitation_fraction,
                                      chains=math.prod(lead[1:]) if carryover else 0, where=where)
    _climate.warn_or_raise(problems, strict)
    wb = _compute(*args)
    _climate.warn_or_raise(_climate.all_null(wb.null_code), strict)
    return wb if index is None else _with_index(wb, index)


def _pet_problems(pet):
    a = pet[np.isfinite(pet)]
    if a.size and (a < 0).any():
        return [f"pet has {int((a < 0).sum())} negative months (the lowest {a.min():.6g} mm), which the bucket takes "
                "as they are: set them to 0 (pet.clip(min=0)) if they are condensation"]
    return []


def _with_index(wb, index):
    import dataclasses

    return dataclasses.replace(wb, index=index)


def _prepare(temperature, precipitation, latitude, field_capacity, function, carryover, keep_precipitation_fraction,
             threads, pet):
    """The arguments checked and shaped for _compute."""
    index = check_options(function, carryover, keep_precipitation_fraction, threads)
    t = _number_array("temperature", temperature)
    if t.ndim == 0 or t.shape[-1] != MONTHS:
        raise ValueError(f"temperature must have the 12 months on its last axis, got shape {t.shape}")
    p = _number_array("precipitation", precipitation)
    if p.shape != t.shape:
        raise ValueError(f"precipitation must have temperature's shape {t.shape}, got shape {p.shape}")
    pe = None
    if pet is not None:
        pe = _number_array("pet", pet)
        if pe.shape != t.shape:
            raise ValueError(f"pet must have temperature's shape {t.shape}, got shape {pe.shape}")
    lead = t.shape[:-1]
    if carryover and len(lead) == 0:
        raise ValueError(f"carryover needs a years axis: temperature of shape (years, ..., 12), got shape {t.shape}")
    if latitude is None:
        if pe is None:
            raise ValueError("latitude is needed to compute PET: give it in degrees north (or give pet=)")
        latitude = 0.0  # not used with the caller's PET
    lat = _leading("latitude", latitude, lead)
    if np.ndim(field_capacity) == 0:
        if isinstance(field_capacity, np.ndarray):
            field_capacity = field_capacity.item()
        fc = np.broadcast_to(np.float64(check_field_capacity(field_capacity)), lead)
    else:
        fc = _leading("field_capacity", _number_array("field_capacity", field_capacity), lead)
    return t, p, lat, fc, index, carryover, keep_precipitation_fraction, threads, pe


def _compute(t, p, lat, fc, function_index, carryover, keep_precipitation_fraction, threads, pe=None):
    """The records through the engine; the arguments as _prepare leaves them."""
    lead = t.shape[:-1]
    n = math.prod(lead)
    chains = math.prod(lead[1:]) if carryover else n
    t2 = np.ascontiguousarray(t, dtype=np.float64).reshape(n, MONTHS)
    p2 = np.ascontiguousarray(p, dtype=np.float64).reshape(n, MONTHS)
    lat1 = np.ascontiguousarray(lat, dtype=np.float64).reshape(n)
    pet, aet, surplus, deficit, soil, snow, totals, reason, month = _core.compute(
        t2,
        p2,
        lat1,
        np.ascontiguousarray(fc, dtype=np.float64).reshape(n),
        function_index,
        bool(carryover),
        bool(keep_precipitation_fraction),
        chains,
        0 if threads is None else int(threads),
        None if pe is None else np.ascontiguousarray(pe, dtype=np.float64).reshape(n, MONTHS),
    )
    monthly = lead + (MONTHS,)
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
        null_value=_null_values(reason, month, lat1, t2, p2).reshape(lead),
    )


# Engine codes whose reason quotes the value that made the record null.
_LATITUDE, _PRECIPITATION, _TEMPERATURE = 1, 2, 3


def _null_values(reason, month, lat, t, p):
    values = np.full(reason.shape, np.nan)
    for code, source in ((_PRECIPITATION, p), (_TEMPERATURE, t)):
        rows = np.flatnonzero(reason == code)
        if rows.size:
            values[rows] = source[rows, month[rows].astype(np.intp) - 1]
    rows = reason == _LATITUDE
    values[rows] = lat[rows]
    return values


def _quoted(value):
    """A value as vadoset-cli quotes a field: the number as written (-9999,
    not -9999.0), NaN as NA."""
    if not math.isfinite(value):
        return "NA" if math.isnan(value) else ("inf" if value > 0 else "-inf")
    if value == math.trunc(value) and abs(value) < 1e16:
        return str(int(value))
    return repr(value)


def _reason_texts(reason, month, values=None):
    # Few distinct (reason, month, value) triples: word each once.
    key = reason.astype(np.int64) * 16 + month
    quote = np.zeros(key.shape, bool) if values is None else np.isin(reason, (_LATITUDE, _PRECIPITATION, _TEMPERATURE))
    texts = np.empty(key.shape, dtype=object)
    plain = ~quote
    unique, inverse = np.unique(key[plain], return_inverse=True)
    words = [reason_text(int(k) // 16, int(k) % 16) for k in unique]
    texts[plain] = np.array(words or [""], dtype=object)[inverse]
    if quote.any():
        v = np.asarray(values, dtype=np.float64)[quote].copy()
        v[np.isnan(v)] = np.nan  # one NaN pattern
        pairs = np.stack([key[quote], v.view(np.int64)], axis=1)
        unique, inverse = np.unique(pairs, axis=0, return_inverse=True)
        words = [f"{reason_text(int(k) // 16, int(k) % 16)} ('{_quoted(float(np.int64(b).view(np.float64)))}')"
                 for k, b in unique]
        texts[quote] = np.array(words, dtype=object)[inverse.ravel()]
    return texts.astype(str) if texts.size else np.array([], dtype=str)
