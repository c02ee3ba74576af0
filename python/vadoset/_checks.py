"""Units and plausibility: what the inputs' numbers are, and whether they
look like it.

One place for the rules every Python entry shares: the unit names the
package converts (and the ones it refuses), and the checks that warn when a
value cannot be what it is taken for (kelvin read as °C, a rate per second
read as a monthly total, a missing-value code read as data). The checks
look at numbers only; they never change them.
"""

from __future__ import annotations

import re
import warnings

import numpy as np

from . import _core


class InputWarning(UserWarning):
    """An input that is probably not what it is taken for: the result is
    computed as asked, but very likely wrong. Turn these into errors with
    ``warnings.simplefilter("error", vadoset.InputWarning)``."""


# Units, compared in lower case with blanks, "**" and "^" taken out.
CELSIUS = {"degc", "deg_c", "degreec", "degree_c", "degreesc", "degrees_c", "celsius", "degree_celsius",
           "degrees_celsius", "degreescelsius", "degreecelsius", "°c", "c"}
KELVIN = {"k", "kelvin", "kelvins", "degk", "deg_k", "degree_k", "degrees_k"}
FAHRENHEIT = {"degf", "deg_f", "degree_f", "degrees_f", "fahrenheit", "degree_fahrenheit",
              "degrees_fahrenheit", "°f", "f"}
# Water amounts: mm, or kg of water per m², which is the same.
AMOUNTS = {"mm": 1.0, "millimeter": 1.0, "millimeters": 1.0, "millimetre": 1.0, "millimetres": 1.0,
           "kgm-2": 1.0, "kg/m2": 1.0, "kg.m-2": 1.0, "cm": 10.0, "m": 1000.0, "meter": 1000.0,
           "meters": 1000.0, "metre": 1000.0, "metres": 1000.0, "mmofwater": 1.0,
           "mofwaterequivalent": 1000.0}
# Per month (a monthly total, as the model takes it), per day or per second
# (a mean rate over the month, times the month's length).
PER_MONTH = ("/month", "month-1", "/mon", "mon-1", ".month-1", ".mon-1")
PER_DAY = ("/day", "day-1", "/d", "d-1", ".day-1", ".d-1")
PER_SECOND = ("/s", "s-1", "/sec", ".s-1")

TEMPERATURE_UNITS = "degC (Celsius), K (kelvin) or degF (Fahrenheit)"
AMOUNT_UNITS = ("mm, kg m-2, cm or m (monthly totals), or a rate per day or per second "
                "(mm/day, kg m-2 s-1)")


def plain_units(units):
    return re.sub(r"\s+", "", str(units).strip().lower().replace("**", "").replace("^", ""))


def temperature_scale(units):
    """(factor, offset) that make °C from values in these units, or None for
    a unit the package does not know."""
    u = plain_units(units)
    if u in CELSIUS:
        return 1.0, 0.0
    if u in KELVIN:
        return 1.0, -273.15
    if u in FAHRENHEIT:
        return 5.0 / 9.0, -32.0 * 5.0 / 9.0
    return None


def amount_scale(units):
    """(factor to mm, per) for a water amount: per is None (a total over the
    month), "month", "day" or "second"; None for an unknown unit."""
    u = plain_units(units)
    for suffixes, kind in ((PER_MONTH, "month"), (PER_DAY, "day"), (PER_SECOND, "second")):
        for s in suffixes:
            if u.endswith(s) and u[: -len(s)] in AMOUNTS:
                return AMOUNTS[u[: -len(s)]], kind
    if u in AMOUNTS:
        return AMOUNTS[u], None
    return None


# Missing-value codes that files use and the engine does not know (it knows
# NaN, -9999 and 9999): taken as data they make nonsense.
MISSING_CODES = (-999.0, -99.0, -99.9, -999.9, -9999.9, -8888.0, -32768.0, 32767.0, 65535.0, -3.4028234663852886e38,
                 9.969209968386869e36, 1e20, -1e20)
_MARKERS = (-9999.0, 9999.0)

# Monthly means that no place on Earth has (°C): the CLI's input checks use
# the same range.
T_LOW, T_HIGH = -90.0, 60.0
# The largest monthly total on record is about 9,300 mm (Cherrapunji, July
# 1861); more than 10,000 mm in a month is not precipitation in mm.
P_HIGH = 10000.0


def _is_code(values, code):
    # Within float32's rounding of the code (-99.9 stored as float32).
    return np.isclose(values, code, rtol=1e-6, atol=0.0)


def _codes(values):
    """{code: count} of the missing-value codes among the values."""
    found = {}
    for c in MISSING_CODES:
        n = int(np.count_nonzero(_is_code(values, c)))
        if n:
            found[c] = n
    return found


def _g(v):
    return f"{float(v):.6g}"


def _usable(values):
    """The finite values that are neither the engine's own markers nor other
    missing codes, as float64, and the codes found."""
    a = np.asarray(values)
    if a.dtype.kind not in "iuf":
        return np.empty(0), {}
    a = a.ravel().astype(np.float64, copy=False)
    a = a[np.isfinite(a)]
    a = a[(a != _MARKERS[0]) & (a != _MARKERS[1])]
    # Every code is below -98 or above 32,000: look at those values alone.
    odd = (a < -98.0) | (a > 32000.0)
    codes = _codes(a[odd]) if odd.any() else {}
    if codes:
        keep = np.ones(a.shape, bool)
        for c in codes:
            keep &= ~_is_code(a, c)
        a = a[keep]
    return a, codes


def _median(a):
    # A sample is enough to tell kelvin from °C.
    return float(np.median(a[:: max(1, a.size // 1_000_000)]))


def _code_message(name, codes):
    first = sorted(codes, key=lambda c: -codes[c])[0]
    listed = ", ".join(f"{_g(c)} ({n}x)" for c, n in codes.items())
    return (f"{name} holds {listed}, a missing-value code used as data: mark those months missing "
            f"with NaN (for example {name}.where({name} != {_g(first)})), or open the file so that its "
            "_FillValue/missing_value is applied")


def _packed(name, values, attrs):
    a = np.asarray(values)
    if attrs and ("scale_factor" in attrs or "add_offset" in attrs) and a.dtype.kind in "iu":
        return (f"{name} holds packed integers ({a.dtype}) with scale_factor/add_offset not applied: "
                "open the file with xarray's default decoding (mask_and_scale=True), or apply "
                f"scale_factor {attrs.get('scale_factor', 1)} and add_offset {attrs.get('add_offset', 0)} yourself")
    return None


def _first_problems(name, values, attrs):
    """What any input is looked at for first (packed integers, missing-value
    codes used as data), and its usable values: None when there are none,
    or when the values are packed and nothing more can be told."""
    packed = _packed(name, values, attrs)
    if packed:
        return [packed], None
    a, codes = _usable(values)
    problems = [_code_message(name, codes)] if codes else []
    return problems, (a if a.size else None)


def _range(values):
    """(lowest, highest) usable value of a float array, in one pass; None
    for other arrays, which take the checks' long way."""
    a = np.asarray(values)
    if a.dtype.kind != "f" or a.dtype.itemsize > 8:
        return None
    return _core.usable_range(a)


def temperature_problems(values, name="temperature", attrs=None):
    """Why these numbers cannot be monthly means in °C, as sentences that
    name the fix (an empty list when they can)."""
    # The common case at once: every usable value a plausible monthly mean
    # (missing-value codes lie outside it).
    r = _range(values)
    if r is not None and r[0] >= T_LOW and r[1] <= T_HIGH:
        return []
    problems, a = _first_problems(name, values, attrs)
    if a is None:
        return problems
    outside = (a < T_LOW) | (a > T_HIGH)
    if not outside.any():
        return problems
    median = _median(a)
    if np.asarray(values).dtype.kind in "iu" and np.abs(a).max() > 500:
        problems.append(f"{name} holds whole numbers up to {_g(np.abs(a).max())}: packed values (such as int16 "
                        "hundredths) that were not decoded; apply the file's scale_factor and add_offset")
    elif 150.0 <= median <= 350.0:
        problems.append(f"{name} looks like kelvin (median {_g(median)}), not °C: give it units 'K' "
                        f"(xarray: {name}.attrs['units'] = 'K') or subtract 273.15")
    elif 35.0 <= median < 150.0:
        problems.append(f"{name} looks like Fahrenheit (median {_g(median)}), not °C: give it units 'degF' "
                        "or convert with (F - 32) * 5 / 9")
    else:
        problems.append(f"{name} has {int(outside.sum())} values outside {T_LOW:g} to {T_HIGH:g} °C (from "
                        f"{_g(a.min())} to {_g(a.max())}): not monthly means in °C; check the units and "
                        "the missing-value codes")
    return problems


def precipitation_problems(values, name="precipitation", attrs=None):
    """Why these numbers cannot be monthly totals in mm (an empty list when
    they can)."""
    r = _range(values)
    if r is not None and r[0] >= 0.0 and r[1] <= P_HIGH and not 0.0 < r[1] < 0.1:
        return []
    problems, a = _first_problems(name, values, attrs)
    if a is None:
        return problems
    negative = a < 0
    if negative.any():
        problems.append(f"{name} has {int(negative.sum())} negative months (the lowest {_g(a.min())}), which are "
                        f"used as data: set them to 0 ({name}.clip(min=0)) or mark them missing with NaN")
    high = float(a.max())
    if 0.0 < high < 0.1:
        problems.append(f"{name}'s largest month is {_g(high)} mm: it looks like a rate (kg m-2 s-1) or metres, "
                        "not a monthly total in mm; give it units ('kg m-2 s-1', 'm', 'mm/day') so that it is "
                        "converted")
    elif high > P_HIGH:
        problems.append(f"{name} has months of up to {_g(high)} mm, more than any place has had "
                        f"({P_HIGH:g} mm): check the units (tenths of a millimetre?) and the missing-value codes")
    return problems


def latitude_problems(values, name="latitude"):
    a = np.asarray(values, dtype=np.float64)
    count, largest = _core.beyond(a, 90.0)
    if count == 0:
        return []
    finite = int(np.isfinite(a).sum())
    return [f"{name} has {count} of {finite} values beyond ±90 (up to {_g(largest)}): not "
            "degrees (metres of a projected grid? longitudes?), and those records are null; give latitudes "
            "in degrees north (a projected grid's can be worked out with pyproj from its grid_mapping)"]


def _annual_cycle_share(a, axis):
    """The share of the variance along an axis of 12 that one sine wave of
    period 12 explains (near 1 for months of a seasonal climate)."""
    x = np.moveaxis(a, axis, -1)
    x = x - x.mean(axis=-1, keepdims=True)
    k = np.arange(12) * (2 * np.pi / 12)
    c = (x * np.cos(k)).sum(axis=-1)
    s = (x * np.sin(k)).sum(axis=-1)
    total = (x * x).sum()
    return float(((c * c + s * s) * (2 / 12)).sum() / total) if total > 0 else 0.0


def months_first_problem(temperature, name="temperature"):
    """A (..., 12, 12) array whose seasons run along the second-last axis:
    the months are likely there, not on the last axis."""
    a = np.asarray(temperature, dtype=np.float64)
    if a.ndim < 2 or a.shape[-2] != 12 or a.shape[-1] != 12 or not np.isfinite(a).all():
        return None
    on_first, on_last = _annual_cycle_share(a, -2), _annual_cycle_share(a, -1)
    if on_first > 0.75 and on_first > on_last + 0.2:
        return (f"{name} has shape {a.shape} and an annual cycle along axis {a.ndim - 2}, not along the last axis "
                f"where the months are taken: if that axis holds the months, pass np.swapaxes({name}, -1, -2)")
    return None


def packing_decimals(encoding):
    """The decimals of values packed as integers with a scale_factor of a
    power of ten (TerraClimate's 0.1 mm): decoded, 570 * 0.1 is 57.00000000000001
    and 23 * 0.1 is 2.3000000000000003, and some such products fall below the
    number meant, which loses a millimetre when the fraction is dropped.
    Rounded to the packing's decimals they are the numbers meant. None when
    the values are not so packed."""
    scale = encoding.get("scale_factor") if encoding else None
    dtype = encoding.get("dtype") if encoding else None
    if scale is None or (dtype is not None and np.dtype(dtype).kind not in "iu"):
        return None
    scale = float(scale)
    if not scale > 0:
        return None
    k = round(-np.log10(scale))
    if k < 0 or k > 8 or not np.isclose(scale, 10.0**-k, rtol=1e-6, atol=0):
        return None
    offset = float(encoding.get("add_offset", 0.0))
    if not np.isclose(round(offset, k), offset, rtol=0, atol=10.0**-(k + 6)):
        return None
    return int(k)


def warn(problems, stacklevel=3):
    for p in problems:
        warnings.warn(p, InputWarning, stacklevel=stacklevel)
