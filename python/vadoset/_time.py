"""Monthly time axes: dates decoded from any CF time units, the series
checked to be monthly without gaps, and cut into the twelve-month records
the model takes (calendar years, or water years from another month)."""

from __future__ import annotations

import re
from dataclasses import dataclass

import numpy as np

MONTHS = 12
MONTH_NAMES = ("January", "February", "March", "April", "May", "June", "July", "August", "September", "October",
               "November", "December")


class TimeError(ValueError):
    """A time axis the model cannot take; the message says why and what to do."""


@dataclass(frozen=True)
class Records:
    """How a monthly series becomes records of twelve months.

    first, count: the positions along time that are used (whole records);
    years: the label of each record (the calendar year of its last month);
    start_month: 1 for calendar years, else the first month of each record;
    dropped: a sentence for each part of the series left out ("" if none);
    year_month: (year, month) of every used position (for bounds);
    calendar: the time coordinate's calendar.
    """

    first: int
    count: int
    years: np.ndarray
    start_month: int
    dropped: tuple
    year_month: np.ndarray
    calendar: str
    dated: bool


_SINCE = re.compile(r"^\s*(\w+)\s+since\s+(.+?)\s*$", re.IGNORECASE)
_UNIT_MONTHS = {"month": 1, "months": 1, "mon": 1, "year": 12, "years": 12, "yr": 12, "common_year": 12,
                "common_years": 12}
_UNIT_DAYS = {"day": 1.0, "days": 1.0, "d": 1.0, "hour": 1 / 24, "hours": 1 / 24, "h": 1 / 24, "hr": 1 / 24,
              "minute": 1 / 1440, "minutes": 1 / 1440, "min": 1 / 1440, "second": 1 / 86400, "seconds": 1 / 86400,
              "s": 1 / 86400, "sec": 1 / 86400}


def _reference(text, name):
    m = re.match(r"^\s*(-?\d{1,4})-(\d{1,2})(?:-(\d{1,2}))?", text)
    if not m:
        raise TimeError(f"{name}'s time units give no readable reference date ({text!r}): use 'days since YYYY-MM-DD'")
    return int(m.group(1)), int(m.group(2)), int(m.group(3) or 1)


def year_month_of_numbers(values, units, calendar, name):
    """(year, month) of numeric CF times: 'months since' and 'years since'
    counted in whole months (as CF software counts them for monthly data),
    other units through cftime in the given calendar."""
    m = _SINCE.match(str(units))
    if not m:
        raise TimeError(f"{name}'s time has units {units!r}, not 'UNIT since DATE': decode it to dates, or give "
                        "it CF units such as 'days since 1901-01-01'")
    unit = m.group(1).lower()
    values = np.asarray(values, dtype=np.float64)
    if unit in _UNIT_MONTHS:
        y0, m0, _ = _reference(m.group(2), name)
        steps = values * _UNIT_MONTHS[unit]
        whole = np.floor(steps + 1e-6)
        total = y0 * 12 + (m0 - 1) + whole.astype(np.int64)
        return np.stack([total // 12, total % 12 + 1], axis=1)
    if unit not in _UNIT_DAYS:
        raise TimeError(f"{name}'s time has units {units!r}, which vadoset cannot read: use days, hours, "
                        "seconds or months since a date")
    import cftime

    try:
        dates = cftime.num2date(values, str(units), calendar=calendar or "standard")
    except (ValueError, TypeError) as e:
        raise TimeError(f"{name}'s time ({units!r}, calendar {calendar!r}) could not be decoded: {e}") from None
    return np.array([[d.year, d.month] for d in np.ravel(dates)], dtype=np.int64).reshape(-1, 2)


def year_month(coord, name):
    """(year, month) of every step of a time coordinate, and its calendar;
    None when it holds plain numbers without units."""
    values = np.asarray(coord.values)
    attrs = dict(getattr(coord, "attrs", {}))
    encoding = dict(getattr(coord, "encoding", {}))
    calendar = encoding.get("calendar") or attrs.get("calendar") or "standard"
    if values.dtype.kind == "M":
        d = values.astype("datetime64[M]").astype(np.int64)
        return np.stack([d // 12 + 1970, d % 12 + 1], axis=1), calendar
    if values.dtype.kind == "O" and values.size and hasattr(values.flat[0], "month"):
        return np.array([[v.year, v.month] for v in values.ravel()], dtype=np.int64).reshape(-1, 2), calendar
    if values.dtype.kind in "iuf":
        units = attrs.get("units")
        if units is None:
            return None, calendar
        return year_month_of_numbers(values, units, calendar, name), calendar
    raise TimeError(f"{name}'s time holds {values.dtype} values, not dates")


def _text(y, m):
    return f"{int(y):04d}-{int(m):02d}"


def records(coord, name, start_month=1, allow_trim=True, size=None):
    """The records of a monthly time coordinate (None: plain positions).

    Refused with TimeError: steps that are not one month apart (daily or
    yearly data, a gap, a month twice, months out of order) and a series
    without one whole record. Months before the first record's start and
    after the last whole record are left out (allow_trim), with a sentence
    in `dropped` saying so; without allow_trim they are refused.
    """
    if not 1 <= start_month <= 12:
        raise TimeError(f"the start month must be 1 to 12, not {start_month}")
    ym = None
    calendar = "standard"
    if coord is not None:
        ym, calendar = year_month(coord, name)
    n = len(coord) if coord is not None else size
    if ym is None:
        # Plain positions: taken as consecutive months from the start month.
        if n % MONTHS != 0 or n == 0:
            raise TimeError(f"{name} has {n} time steps, not whole years, and its time holds no dates to say "
                            "where they start: give the time coordinate dates (or CF units)")
        years = np.arange(n // MONTHS)
        first = start_month - 1
        yms = np.stack([np.repeat(years, MONTHS) + (np.tile(np.arange(MONTHS), n // MONTHS) + first) // 12,
                        (np.tile(np.arange(MONTHS), n // MONTHS) + first) % 12 + 1], axis=1)
        return Records(0, n, years + (1 if start_month > 1 else 0), start_month, (), yms, calendar, False)
    if n == 0:
        raise TimeError(f"{name} has no time steps")
    index = ym[:, 0] * 12 + ym[:, 1] - 1
    step = np.diff(index)
    if (step != 1).any():
        k = int(np.flatnonzero(step != 1)[0])
        a, b = _text(*ym[k]), _text(*ym[k + 1])
        if (step == 0).all() or (np.median(step) == 0 if step.size else False):
            why = f"several steps fall in one month ({a}): daily or sub-monthly data; make monthly means " \
                  "(temperature) and totals (precipitation) first, e.g. with resample(time='MS')"
        elif step[k] == 0:
            why = f"{a} appears twice: daily data, or the same month in two files"
        elif step[k] < 0:
            why = f"{b} follows {a}: the months are out of order (sort by time, or check the files' order)"
        elif (step == 12).all():
            why = "its steps are a year apart: yearly data; the model needs monthly values"
        else:
            why = f"{b} follows {a}: {int(step[k]) - 1} months are missing (a gap; fill it, or give the " \
                  "missing months as NaN to get null records)"
        raise TimeError(f"{name}'s time is not a monthly series without gaps: {why}")
    # Whole records from the first start month.
    offset = (start_month - 1 - (ym[0, 1] - 1)) % 12
    count = ((n - offset) // MONTHS) * MONTHS
    if count <= 0:
        raise TimeError(f"{name} holds {n} months from {_text(*ym[0])} to {_text(*ym[-1])}: not one whole year "
                        f"from {MONTH_NAMES[start_month - 1]}")
    dropped = []
    if offset:
        dropped.append(f"{name}: the first {offset} months ({_text(*ym[0])} to {_text(*ym[offset - 1])}) come "
                       f"before the first year from {MONTH_NAMES[start_month - 1]}: left out")
    tail = n - offset - count
    if tail:
        dropped.append(f"{name}: the last {tail} months ({_text(*ym[offset + count])} to {_text(*ym[-1])}) are "
                       "not a whole year: left out")
    if dropped and not allow_trim:
        raise TimeError("; ".join(dropped).replace(": left out", ""))
    used = ym[offset: offset + count]
    years = used[MONTHS - 1:: MONTHS, 0]
    return Records(int(offset), int(count), years.astype(np.int64), start_month, tuple(dropped), used, calendar, True)


def to_calendar_order(a, start_month, axis=-1):
    """Records of twelve months starting at start_month, rolled so that
    position 0 is January (where the engine takes it)."""
    return a if start_month == 1 else np.roll(a, start_month - 1, axis=axis)


def from_calendar_order(a, start_month, axis=-1):
    return a if start_month == 1 else np.roll(a, -(start_month - 1), axis=axis)


def annual_bounds(rec):
    """Days since the first record's start of every record's start and end
    (the time axis and bounds of the annual variables), with their units."""
    import cftime

    first = rec.year_month[::MONTHS]
    starts = [cftime.datetime(int(y), int(m), 1, calendar=rec.calendar) for y, m in first]
    ends = []
    for y, m in first:
        total = int(y) * 12 + int(m) - 1 + MONTHS
        ends.append(cftime.datetime(total // 12, total % 12 + 1, 1, calendar=rec.calendar))
    units = f"days since {int(first[0][0]):04d}-{int(first[0][1]):02d}-01"
    s = cftime.date2num(starts, units, calendar=rec.calendar)
    e = cftime.date2num(ends, units, calendar=rec.calendar)
    return np.asarray(s, dtype=np.float64), np.stack([s, e], axis=1).astype(np.float64), units


def days_in_month(ym, calendar="standard"):
    """The days of each (year, month) in the calendar (29 in a leap
    February of the standard calendar, 30 in a 360_day one)."""
    import cftime

    ym = np.asarray(ym, dtype=np.int64).reshape(-1, 2)
    total = ym[:, 0] * 12 + ym[:, 1] - 1
    unique = np.unique(total)
    units = "days since 0001-01-01"
    cal = calendar or "standard"
    start = cftime.date2num([cftime.datetime(int(k // 12), int(k % 12 + 1), 1, calendar=cal) for k in unique],
                            units, calendar=cal)
    end = cftime.date2num([cftime.datetime(int((k + 1) // 12), int((k + 1) % 12 + 1), 1, calendar=cal)
                           for k in unique], units, calendar=cal)
    days = dict(zip(unique.tolist(), (np.asarray(end) - np.asarray(start)).tolist()))
    return np.array([days[k] for k in total.tolist()], dtype=np.float64)
