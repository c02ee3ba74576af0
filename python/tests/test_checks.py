"""The input checks on arrays: an InputWarning for each mistake,
InputError with strict=True, nothing on real climates."""

import re
import warnings

import numpy as np
import pytest
from conftest import REPO, read_tab

import vadoset

NORMALS = REPO / "tests" / "data" / "normals"


@pytest.fixture(scope="module")
def normals():
    _, lat, prec = read_tab(NORMALS / "prec.txt")
    _, _, temp = read_tab(NORMALS / "temp.txt")
    return temp, prec, lat


def test_published_normals_of_every_climate_give_no_warning(normals):
    temp, prec, lat = normals
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        vadoset.water_balance(temp, prec, lat, strict=True)


@pytest.mark.parametrize(
    "mistake, change, phrase",
    [
        ("°F", lambda t, p, lat: (t * 1.8 + 32, p, lat), "looks like Fahrenheit"),
        ("kelvins", lambda t, p, lat: (t + 273.15, p, lat), "looks like kelvin"),
        ("inches", lambda t, p, lat: (t, p / 25.4, lat), "inches (multiply by 25.4)"),
        ("tenths of a mm", lambda t, p, lat: (t, p * 10, lat), "tenths of a millimetre"),
        ("no minus sign", lambda t, p, lat: (t, p, np.abs(lat)), "warm season of the other hemisphere"),
        ("longitudes", lambda t, p, lat: (t, p, np.linspace(-180, 180, lat.size)), "values beyond ±90"),
        ("swapped", lambda t, p, lat: (p, t, lat), "look swapped"),
        ("-99.9 for missing", lambda t, p, lat: (t, np.where(p == p.max(), -99.9, p), lat), "missing-value code"),
    ],
)
def test_each_mistake_warns_and_strict_raises(normals, mistake, change, phrase):
    t, p, lat = change(*normals)
    with pytest.warns(vadoset.InputWarning, match=re.escape(phrase)):
        plain = vadoset.water_balance(t, p, lat)
    with pytest.raises(vadoset.InputError, match=re.escape(phrase)):
        vadoset.water_balance(t, p, lat, strict=True)
    # The warning changes nothing.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        again = vadoset.water_balance(t, p, lat)
    np.testing.assert_array_equal(plain.pet, again.pet)


def test_carryover_across_sites_warns(normals):
    temp, prec, lat = normals
    with pytest.warns(vadoset.InputWarning, match="latitude changes from one year to the next"):
        vadoset.water_balance(temp[:3], prec[:3], lat[:3], carryover=True)
