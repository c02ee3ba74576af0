"""The input checks of vadoset-cli that look at whole records, on arrays:
precipitation in inches or tenths for its temperatures, a latitude without
its sign, swapped arguments, carry-over across sites, every record null. The
bounds of the Earth's climates are the engine's own (_core.classify), as
vadoset-cli uses them. The checks of single numbers (units, missing-value
codes, latitudes beyond ±90) are in _checks."""

from __future__ import annotations

import warnings

import numpy as np

from . import _core
from ._checks import InputWarning


class InputError(ValueError):
    """Raised with ``strict=True`` for inputs that would warn: its message
    holds every warning."""


# The bits of _core.classify.
_COMPLETE = 1
_REVERSED = 16
_DRY_CONSIDERED, _TOO_DRY, _TOO_WET = 32, 64, 128
_SWAP_CONSIDERED, _SWAPPED = 256, 512


def _first(mask, where):
    """How many records a mask holds, and where the first is."""
    count = int(np.count_nonzero(mask))
    return count, (where(int(np.flatnonzero(mask)[0])) if count else "")


def _bulk(hits, considered):
    """Whether most of the records considered are hits."""
    return 2 * int(np.count_nonzero(hits & considered)) > int(np.count_nonzero(considered))


def messages(temperature, precipitation, latitude, *, keep_precipitation_fraction=False, chains=0, where=None):
    """The warnings for records of shape ``(n, 12)`` with latitudes ``(n,)``
    (values as the caller gives them; the readers' missing markers count as
    missing). ``where(i)`` names record i ("record 3"). ``chains``: with
    carry-over, the number of sites whose years follow each other (record
    i + chains is the year after record i); a latitude that changes from one
    year to the next is told."""
    where = where or (lambda i: f"record {i}")
    t = np.ascontiguousarray(temperature, dtype=np.float64).reshape(-1, 12)
    p = np.ascontiguousarray(precipitation, dtype=np.float64).reshape(-1, 12)
    lat = np.ascontiguousarray(latitude, dtype=np.float64).reshape(-1)
    flags = _core.classify(t, p, lat, bool(keep_precipitation_fraction))
    out = []
    plural = lambda n, one, many: f"{n}{one if n == 1 else many}"  # noqa: E731
    first = lambda n, place: f" ({place})" if n == 1 else f" (the first: {place})"  # noqa: E731

    complete = (flags & _COMPLETE) != 0
    swapped = _bulk((flags & _SWAPPED) != 0, (flags & _SWAP_CONSIDERED) != 0)
    reversed_ = (flags & _REVERSED) != 0
    if swapped:
        hits, considered = (flags & _SWAPPED) != 0, (flags & _SWAP_CONSIDERED) != 0
        n, place = _first(hits & considered, where)
        out.append(
            f"temperature and precipitation look swapped: in {n} of {int(np.count_nonzero(considered))} records "
            f"beyond the tropics the precipitation holds what looks like monthly mean temperatures{first(n, place)}."
        )
    elif reversed_.any() and not (np.abs(lat) > 90.0).any():
        n, place = _first(reversed_, where)
        out.append(
            f"{plural(n, ' record', ' records')} beyond the tropics have the warm season of the other "
            f"hemisphere{first(n, place)}. Is the latitude's sign missing or wrong? Southern latitudes are negative."
        )
    if _bulk((flags & _TOO_DRY) != 0, (flags & _DRY_CONSIDERED) != 0):
        hits, considered = (flags & _TOO_DRY) != 0, (flags & _DRY_CONSIDERED) != 0
        n, place = _first(hits, where)
        out.append(
            f"{n} of {int(np.count_nonzero(considered))} records get less than 100 mm of precipitation a year at "
            f"annual mean temperatures from -10 to 16 °C, which only deserts do{first(n, place)}. Are the values in "
            "inches (multiply by 25.4) or centimetres (multiply by 10)?"
        )
    if _bulk((flags & _TOO_WET) != 0, complete):
        n, place = _first((flags & _TOO_WET) != 0, where)
        out.append(
            f"{n} of {int(np.count_nonzero(complete))} records get more precipitation a year than all but the "
            f"wettest places on Earth at their temperatures{first(n, place)}. Are the values in tenths of a "
            "millimetre (divide by 10)?"
        )
    if chains and lat.size > chains:
        changes = np.zeros(lat.shape, dtype=bool)
        now, before = lat[chains:], lat[:-chains]
        changes[chains:] = (now != before) & ~np.isnan(now) & ~np.isnan(before)
        n, place = _first(changes, where)
        if n:
            out.append(
                f"with carryover, the latitude changes from one year to the next {plural(n, ' time', ' times')}"
                f"{first(n, place)}: soil water and snow were carried from one site to another. Carry-over chains "
                "one site's years in order."
            )
    return out


def all_null(null):
    """The warning for a result whose every record is null."""
    return ["every record is null: check the inputs (null_reason says why)."] if null.size and null.all() else []


def warn_or_raise(found, strict, stacklevel=2):
    """Each warning as an InputWarning, or all of them as one InputError
    when ``strict``."""
    if not found:
        return
    if strict:
        raise InputError("the input checks found " + "; ".join(found) + " (strict=True)")
    for text in found:
        warnings.warn(text, InputWarning, stacklevel=stacklevel + 1)
