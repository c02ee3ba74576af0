"""water_balance on numpy arrays: the same bits as vadoset-cli, and its
documented handling of odd input."""

import os
import signal
import threading
import time

import numpy as np
import pytest
from conftest import EXAMPLES, bits, read_tab, write_tab

import vadoset


def random_records(n=240, seed=7):
    """Sites from the poles to the tropics, wet and dry, with the readers'
    missing markers and values at the edges of their rules."""
    rng = np.random.default_rng(seed)
    lat = rng.uniform(-85, 85, n)
    lat[:4] = [90.0, -90.0, 91.0, -90.5]  # the last two are not latitudes
    season = np.cos((np.arange(12) - 6.5) / 12 * 2 * np.pi)
    temp = rng.uniform(-15, 29, (n, 1)) + rng.uniform(0, 20, (n, 1)) * season + rng.normal(0, 2, (n, 12))
    prec = rng.uniform(0, 220, (n, 12)) * rng.uniform(0, 1.5, (n, 1))
    prec[rng.random((n, 12)) < 0.05] = 0.0
    odd_prec = [np.nan, -9999.0, 9999.0, 9999.7, -9999.5, 3e9, -0.4, 12.99999]
    odd_temp = [np.nan, -9999.0, 9999.0, -1.0, 26.5, 0.0]
    for k, v in enumerate(odd_prec):
        prec[10 + 3 * k, k % 12] = v
    for k, v in enumerate(odd_temp):
        temp[60 + 3 * k, k % 12] = v
    return [f"r{i}" for i in range(n)], np.round(lat, 3), np.round(temp, 2), np.round(prec, 3)


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    d = tmp_path_factory.mktemp("records")
    ids, lat, prec = read_tab(EXAMPLES / "allsites_prec.txt")
    _, _, temp = read_tab(EXAMPLES / "allsites_temp.txt")
    sets = {"allsites": (EXAMPLES / "allsites_temp.txt", EXAMPLES / "allsites_prec.txt", ids, lat, temp, prec)}
    ids, lat, temp, prec = random_records()
    write_tab(d / "t.txt", ids, lat, temp)
    write_tab(d / "p.txt", ids, lat, prec)
    sets["random"] = (d / "t.txt", d / "p.txt", ids, lat, temp, prec)
    return d, sets


# The random records hold the readers' odd values on purpose: the input
# checks' warnings about them are expected.
@pytest.mark.filterwarnings("ignore::vadoset.InputWarning")
@pytest.mark.parametrize("carryover", [False, True])
@pytest.mark.parametrize("function", list("ABCDEFGH"))
@pytest.mark.parametrize("records", ["allsites", "random"])
def test_same_bits_as_cli(cli, inputs, records, function, carryover):
    d, sets = inputs
    temp_file, prec_file, ids, lat, temp, prec = sets[records]
    options = ["--function", function] + (["--carryover"] if carryover else [])
    if cli.supports("--columns"):
        options += ["--columns", "classic,deficit,soil,snow"]
    if cli.supports("--null-report"):
        options += ["--null-report", str(d / "nulls.txt")]
    table = vadoset.read_table(cli(temp_file, prec_file, d / "out.txt", *options),
                               null_report=d / "nulls.txt" if cli.supports("--null-report") else None)

    wb = vadoset.water_balance(temp, prec, lat, function=function, carryover=carryover)
    mine = wb.to_frame(index=ids)
    assert list(table.index) == ids
    for column in table.columns:
        if column in ("null_reason", "null_code"):
            continue
        assert np.array_equal(bits(table[column]), bits(mine[column])), column
    if "null_reason" in table:  # the reasons read as the tool's, the missing value quoted
        assert list(table["null_reason"]) == list(mine["null_reason"])
        assert list(table["null_code"].replace("", "none")) == [vadoset.NULL_CODES[c] for c in wb.null_code]
    if records == "random":  # the odd values made null rows of their own
        codes = {vadoset.NULL_CODES[c] for c in wb.null_code}
        assert {"none", "precipitation_missing", "temperature_missing", "latitude_invalid"} <= codes


@pytest.mark.filterwarnings("ignore::vadoset.InputWarning")
def test_keep_precipitation_fraction_as_cli(cli, inputs):
    if not cli.supports("--keep-precipitation-fraction"):
        pytest.skip("this vadoset-cli has no --keep-precipitation-fraction")
    d, sets = inputs
    temp_file, prec_file, ids, lat, temp, prec = sets["random"]
    table = vadoset.read_table(cli(temp_file, prec_file, d / "out.txt", "--keep-precipitation-fraction"))
    mine = vadoset.water_balance(temp, prec, lat, keep_precipitation_fraction=True).to_frame(index=ids)
    assert all(np.array_equal(bits(table[c]), bits(mine[c])) for c in table.columns)


@pytest.mark.filterwarnings("ignore::vadoset.InputWarning")
def test_layouts_give_the_records_own_results(inputs):
    """Chains side by side, threads and leading shapes change nothing."""
    _, sets = inputs
    _, _, _, lat, temp, prec = sets["random"]
    years, chains = 8, 30  # 240 records: chain c is records c, c + 30, ...
    t = temp.reshape(years, chains, 12)
    p = prec.reshape(years, chains, 12)
    la = lat.reshape(years, chains)
    together = vadoset.water_balance(t, p, la, carryover=True, threads=3)
    for c in (0, 7, 29):
        alone = vadoset.water_balance(t[:, c], p[:, c], la[:, c], carryover=True, threads=1)
        assert np.array_equal(bits(together.aet[:, c]), bits(alone.aet))
        assert np.array_equal(together.null_reason[:, c], alone.null_reason)
    flat = vadoset.water_balance(temp, prec, lat, threads=1)
    grid = vadoset.water_balance(temp.reshape(4, 6, 10, 12), prec.reshape(4, 6, 10, 12), lat.reshape(4, 6, 10))
    assert np.array_equal(bits(flat.snow), bits(grid.snow.reshape(-1, 12)))
    assert np.array_equal(flat.null_code, grid.null_code.ravel())


@pytest.mark.filterwarnings("ignore::vadoset.InputWarning")
def test_out_takes_the_next_block(inputs):
    """Blocks written into one result's arrays: each the same bits as a new
    result, in the same arrays, with no stale reasons."""
    _, sets = inputs
    _, _, _, lat, temp, prec = sets["random"]
    names = ("pet", "aet", "surplus", "deficit", "soil", "snow", "pet_total", "aet_total", "surplus_total",
             "deficit_total", "null", "null_code", "null_month")
    out = vadoset.water_balance(temp[120:], prec[120:], lat[120:], function="D")
    assert len(out.null_reason) == 120  # worked out now, so it must be worked out again below
    arrays = [getattr(out, name) for name in names]
    for block in (slice(0, 120), slice(120, 240)):
        want = vadoset.water_balance(temp[block], prec[block], lat[block], function="D", threads=2)
        got = vadoset.water_balance(temp[block], prec[block], lat[block], function="D", threads=2, out=out)
        assert got is out and all(getattr(got, name) is a for name, a in zip(names, arrays))
        for name in names:
            assert np.array_equal(bits(getattr(got, name)), bits(getattr(want, name))), name
        assert np.array_equal(got.null_reason, want.null_reason)


@pytest.mark.parametrize(
    "out, message",
    [
        ("pet", "out must be a WaterBalance that water_balance returned, got ndarray"),
        ("short", "out holds records of shape (2, 12), not the inputs' shape (3, 12)"),
        ("inputs", "out must not share memory with the inputs"),
    ],
)
@pytest.mark.filterwarnings("ignore::vadoset.InputWarning")  # PET taken for a temperature
def test_bad_out(out, message):
    t, p = np.full((3, 12), 10.0), np.full((3, 12), 60.0)
    mine = vadoset.water_balance(t, p, 40.0)
    given = {"pet": mine.pet, "short": vadoset.water_balance(t[:2], p[:2], 40.0), "inputs": mine}[out]
    with pytest.raises(ValueError) as e:
        vadoset.water_balance(mine.pet if out == "inputs" else t, p, 40.0, out=given)
    assert message in str(e.value)


def test_what_makes_a_record_null():
    t = np.tile(np.array([-5, -2, 3, 9, 14, 18, 21, 20, 15, 9, 3, -2.0]), (6, 1))
    p = np.full((6, 12), 60.0)
    t[1, 3] = np.inf  # no number to the reader either
    p[2, 4] = np.nan
    lat = np.array([45.0, 45.0, 45.0, np.nan, 45.0, 45.0])
    fc = np.array([150.7, 150.0, 150.0, 150.0, 0.9, np.nan])  # a soil map: fraction dropped, below 1 mm null
    wb = vadoset.water_balance(t, p, lat, field_capacity=fc)
    assert [vadoset.NULL_CODES[c] for c in wb.null_code] == [
        "none", "temperature_missing", "precipitation_missing", "latitude_invalid",
        "field_capacity_invalid", "field_capacity_invalid"]
    assert wb.null_reason[2] == "month 5 of the precipitation file is missing ('NA')"
    assert wb.null_reason[1] == "month 4 of the temperature file is missing ('inf')"
    assert np.isnan(wb.pet[1:]).all() and np.isnan(wb.deficit_total[1:]).all()
    assert np.array_equal(bits(wb.pet[0]), bits(vadoset.water_balance(t[0], p[0], 45.0, field_capacity=150).pet))


@pytest.mark.parametrize(
    "change, message",
    [
        ({"temperature": np.zeros((3, 11))}, "temperature must have the 12 months on its last axis, got shape (3, 11)"),
        ({"precipitation": np.zeros((2, 12))}, "precipitation must have temperature's shape (3, 12), got shape (2, 12)"),
        ({"temperature": np.array([["a"] * 12] * 3)}, "temperature must hold numbers"),
        ({"latitude": np.zeros(2)}, "latitude must broadcast to the records' shape (3,), got shape (2,)"),
        ({"field_capacity": 0.5}, "field_capacity must be a positive number of millimetres (at least 1), got 0.5"),
        ({"field_capacity": "100"}, "field_capacity must be a number"),
        ({"field_capacity": np.ones(4)}, "field_capacity must broadcast"),
        ({"function": "I"}, "function must be one letter from A to H, got 'I'"),
        ({"carryover": "yes"}, "carryover must be True or False"),
        ({"threads": 0}, "threads must be None or a whole number from 1 to 256, got 0"),
        ({"threads": 2**31}, "threads must be None or a whole number from 1 to 256, got 2147483648"),
        ({"pet": np.zeros((3, 11))}, "pet must have temperature's shape (3, 12), got shape (3, 11)"),
        ({"latitude": None}, "latitude is needed to compute PET"),
        ({"temperature": np.zeros(12), "precipitation": np.zeros(12), "carryover": True}, "carryover needs a years axis"),
    ],
)
def test_bad_arguments(change, message):
    args = {"temperature": np.zeros((3, 12)), "precipitation": np.zeros((3, 12)), "latitude": 40.0, **change}
    with pytest.raises(ValueError) as e:
        vadoset.water_balance(args.pop("temperature"), args.pop("precipitation"), args.pop("latitude"), **args)
    assert message in str(e.value)


def test_ctrl_c_stops_a_long_run():
    # A huge soil store in a dry climate takes every pass of the limit: some
    # 5 ms a record one at a time, still 0.6 ms in vector lanes, so many
    # seconds for all of them.
    t, p = np.full((40000, 12), 20.0), np.full((40000, 12), 10.0)
    done = threading.Event()

    def interrupt():
        # Ctrl+C every 0.2 s until the call returns: on a busy machine the
        # first can come while the inputs are still being checked, in C code
        # that may take it for its own failure and clear it.
        while not done.wait(0.2):
            os.kill(os.getpid(), signal.SIGINT)

    def first_only(signum, frame):
        if not done.is_set():
            done.set()
            raise KeyboardInterrupt

    old = signal.signal(signal.SIGINT, first_only)
    sender = threading.Thread(target=interrupt)
    sender.start()
    start = time.perf_counter()
    try:
        with pytest.raises(KeyboardInterrupt):
            vadoset.water_balance(t, p, 10.0, field_capacity=1e6, threads=2)
    finally:
        done.set()
        sender.join()
        # A signal still pending is dropped, not taken for a real Ctrl+C.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        (lambda: None)()
        signal.signal(signal.SIGINT, old)
    assert time.perf_counter() - start < 3.0


# Carry-over chains the sample's sites here, which warns (carry-over across sites).
@pytest.mark.filterwarnings("ignore::vadoset.InputWarning")
def test_pet_of_ones_own():
    """pet= replaces Willmott's PET and keeps the bucket: given back its own
    PET the engine gives the same bits; a missing PET month is a null row."""
    _, lat, prec = read_tab(EXAMPLES / "allsites_prec.txt")
    _, _, temp = read_tab(EXAMPLES / "allsites_temp.txt")
    for carryover in (False, True):
        own = vadoset.water_balance(temp, prec, lat, carryover=carryover)
        computed = ~own.null
        pet = np.where(computed[:, None], own.pet, 50.0)  # null rows: any PET
        given = vadoset.water_balance(temp, prec, None, pet=pet, carryover=carryover)
        for name in ("aet", "surplus", "soil", "snow", "aet_total", "deficit_total"):
            assert np.array_equal(bits(getattr(own, name)[computed]), bits(getattr(given, name)[computed])), name
    pet = own.pet.copy()
    pet[0, 6] = np.nan
    doubled = vadoset.water_balance(temp[:2], prec[:2], lat[:2], pet=np.where(np.isnan(pet[:2]), np.nan, 2 * pet[:2]))
    assert vadoset.NULL_CODES[doubled.null_code[0]] == "pet_missing"
    assert doubled.null_reason[0] == "month 7 of the PET is missing"
    assert doubled.deficit_total[1] > own.deficit_total[1]


def test_masked_months_and_pandas_by_index():
    import pandas as pd

    t = np.tile(np.array([-5, -2, 3, 9, 14, 18, 21, 20, 15, 9, 3, -2.0]), (3, 1))
    p = np.full((3, 12), 60.0)
    # A netCDF fill value under the mask: a missing month, never data.
    masked = np.ma.masked_array(t.copy(), mask=np.zeros_like(t, bool))
    masked.data[1, 3] = 9.969209968386869e36
    masked.mask[1, 3] = True
    wb = vadoset.water_balance(masked, p, 45.0)
    assert list(wb.null_code) == [0, 3, 0] and wb.null_reason[1] == "month 4 of the temperature file is missing ('NA')"

    months = [f"m{k}" for k in range(12)]
    temp = pd.DataFrame(t + np.array([[0.0], [5.0], [10.0]]), index=["a", "b", "c"], columns=months)
    prec = pd.DataFrame(p * np.array([[1.0], [2.0], [0.5]]), index=["a", "b", "c"], columns=months)
    lat = pd.Series([40.0, 50.0, 60.0], index=["a", "b", "c"])
    straight = vadoset.water_balance(temp, prec, lat)
    shuffled = vadoset.water_balance(temp, prec.iloc[[2, 0, 1]], lat.iloc[[1, 2, 0]])
    assert np.array_equal(bits(straight.aet), bits(shuffled.aet))
    assert list(shuffled.to_frame().index) == ["a", "b", "c"]
    with pytest.raises(ValueError, match="precipitation's index does not hold the same records as temperature's"):
        vadoset.water_balance(temp, prec.rename(index={"c": "d"}), lat)


CLEAN_T = np.tile(np.array([-5, -2, 3, 9, 14, 18, 21, 20, 15, 9, 3, -2.0]), (12, 1)) + np.arange(12)[:, None]
CLEAN_P = np.tile(np.array([48, 40, 42, 45, 60, 70, 65, 62, 55, 60, 58, 52.0]), (12, 1))


@pytest.mark.parametrize(
    "change, expected",
    [
        ({}, None),
        ({"temperature": CLEAN_T + 273.15}, "temperature looks like kelvin"),
        ({"temperature": CLEAN_T * 1.8 + 32 + 20}, "temperature looks like Fahrenheit"),
        ({"temperature": (CLEAN_T * 100).astype(np.int16)}, "packed values"),
        ({"precipitation": CLEAN_P / 86400 / 30}, "it looks like a rate (kg m-2 s-1) or metres"),
        ({"precipitation": np.where(CLEAN_P > 60, -999.0, CLEAN_P)}, "precipitation holds -999 (36x), a missing-value code"),
        ({"precipitation": CLEAN_P - 50}, "precipitation has 48 negative months"),
        ({"latitude": np.full(12, 5.2e6)}, "latitude has 12 of 12 values beyond ±90"),
        ({"temperature": CLEAN_T.T.copy()}, "pass np.swapaxes(temperature, -1, -2)"),
    ],
)
def test_numbers_that_cannot_be_what_they_are_taken_for(change, expected):
    import warnings

    args = {"temperature": CLEAN_T, "precipitation": CLEAN_P, "latitude": 45.0, **change}
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        vadoset.water_balance(args["temperature"], args["precipitation"], args["latitude"])
    messages = [str(w.message) for w in caught if issubclass(w.category, vadoset.InputWarning)]
    if expected is None:
        assert messages == []
    else:
        assert any(expected in m for m in messages), messages
