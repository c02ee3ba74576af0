"""Gridded data: xarray (eager, Dask, a distributed cluster) and the NetCDF
tool give the records' own numbers, cell by cell."""

import numpy as np
import pytest
import xarray as xr
from conftest import EXAMPLES, bits

import vadoset
import vadoset.grid
import vadoset.xarray as vx


@pytest.fixture(scope="module")
def sample():
    t = xr.open_dataset(EXAMPLES / "grid_temp.nc")["tas"].load()
    p = xr.open_dataset(EXAMPLES / "grid_prec.nc")["pr"].load()
    return t, p


def same(a, b):
    return a.dims == b.dims and np.array_equal(bits(a.values), bits(b.values))


@pytest.mark.parametrize("carryover", [False, True])
def test_grid_equals_records(sample, carryover):
    t, p = sample
    ds = vx.water_balance(t, p, function="E", carryover=carryover)
    # The numpy API on the same numbers: (years, lat, lon, 12).
    months = lambda a: np.moveaxis(a.values.reshape(10, 12, 34, 50), 1, -1)  # noqa: E731
    wb = vadoset.water_balance(
        months(vx.to_celsius(t)), months(vx.to_millimetres(p)), t.lat.values[None, :, None],
        function="E", carryover=carryover)
    for name in ("pet", "aet", "surplus", "deficit", "soil", "snow"):
        assert np.array_equal(bits(ds[name].values), bits(np.moveaxis(getattr(wb, name), -1, 1).reshape(120, 34, 50)))
    for name in ("pet_total", "aet_total", "surplus_total", "deficit_total"):
        assert np.array_equal(bits(ds[name].values), bits(getattr(wb, name))), name
    sea = ds.null_code.values == vadoset.NULL_CODES.index("no_data")
    assert np.array_equal(ds.null_code.values[~sea], wb.null_code[~sea])
    # The sample's own gaps: nine sea cells (no data in any month), a missing
    # June and a missing January.
    codes = ds.null_code.values
    names = np.array(vadoset.NULL_CODES)[codes]
    assert (names == "no_data").sum() == 9 * 10
    assert (names == "precipitation_missing").sum() == 1 and (names == "temperature_missing").sum() == 1
    assert list(ds.year.values) == list(range(2011, 2021)) and ds.pet.attrs["units"] == "mm"
    # The coordinates keep what CF tools need, and annual() puts the years
    # on a CF time axis.
    assert ds.lat.attrs["units"] == "degrees_north" and ds.lon.attrs["axis"] == "X"
    annual = vx.annual(ds)
    assert annual.time.attrs["units"] == "days since 2011-01-01" and annual.time_bnds.values[1].tolist() == [365, 731]  # 2012 is a leap year


def test_dask_and_cluster_equal_in_memory(sample, tmp_path):
    distributed = pytest.importorskip("distributed")
    t, p = sample
    soil_map = xr.full_like(t.isel(time=0, drop=True), 150.0).where(t.lon > 0)  # NaN west of 0°: null years
    eager = vx.water_balance(t, p, soil_map, function="B", carryover=True)
    lazy = vx.water_balance(t.chunk({"lat": 7, "lon": 20}), p.chunk({"lat": 7, "lon": 20}),
                            soil_map.chunk({"lat": 7}), function="B", carryover=True)
    assert lazy.aet.chunks is not None and len(lazy.aet.chunks[1]) == 5
    assert all(same(eager[v], lazy[v].compute()) for v in eager.data_vars)
    west = eager.null_code.values[:, :, t.lon.values < 0]
    assert (west == 4).sum() == west.size - 9 * 10  # the sea cells have no data at all
    # The cluster as the guide starts it from a virtual environment: workers
    # run by this Python (python -m distributed.cli.dask_worker), so they
    # import the vadoset under test.
    import subprocess
    import sys

    worker = None
    try:
        with distributed.LocalCluster(n_workers=0, processes=True, dashboard_address=":0") as cluster, \
                distributed.Client(cluster) as client:
            worker = subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", cluster.scheduler_address,
                                       "--nworkers", "2", "--nthreads", "1", "--no-dashboard"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            client.wait_for_workers(2, timeout=60)
            remote = client.compute(lazy).result()
            # The grid tool's tiles on the same workers: each writes its own
            # Zarr chunks.
            out = tmp_path / "wb.zarr"
            assert vadoset.grid.main(["-t", str(EXAMPLES / "grid_temp.nc"), "-p", str(EXAMPLES / "grid_prec.nc"),
                                      "-o", str(out), "--dtype", "float64", "--function", "B", "--carryover",
                                      "--field-capacity", "150", "--chunks", "lat=9,lon=25", "--quiet",
                                      "--scheduler", cluster.scheduler_address]) == 0
            # The scheduler tells its workers to close as it closes.
    finally:
        if worker is not None:
            try:
                worker.wait(30)
            except subprocess.TimeoutExpired:
                worker.terminate()
                worker.wait(30)
    assert all(same(eager[v], remote[v]) for v in eager.data_vars)
    with xr.open_zarr(out) as tool:
        whole = vx.water_balance(t, p, 150, function="B", carryover=True)
        assert all(np.array_equal(bits(tool[v].values), bits(whole[v].values)) for v in
                   ("aet_total", "surplus_total", "null_code"))


@pytest.mark.parametrize(
    "units, value, mm",
    [
        ("degC", 12.5, 12.5), ("degrees_Celsius", -3.0, -3.0), ("K", 274.5, 274.5 - 273.15),
        ("mm", 5.0, 5.0), ("kg m-2", 5.0, 5.0), ("mm/month", 5.0, 5.0), ("cm", 2.0, 20.0), ("m", 0.05, 50.0),
        ("kg m-2 s-1", 1.0 / 86400, 28 * 86400 / 86400), ("mm/day", 2.0, 56.0), ("mm d-1", 2.0, 56.0),
        ("degF", 50.0, 10.0), ("mm/hour", 1.0, "does not know"), ("degR", 500.0, "does not know"),
        (None, 1.0, "has no units"),
    ],
)
def test_units(units, value, mm):
    # February 2011: 28 days.
    a = xr.DataArray([value], dims="time", coords={"time": np.array(["2011-02-01"], dtype="datetime64[ns]")})
    if units:
        a.attrs["units"] = units
    convert = vx.to_celsius if units in ("degC", "degrees_Celsius", "K", "degF", "degR") else vx.to_millimetres
    if isinstance(mm, str):
        with pytest.raises(ValueError, match=mm):
            convert(a)
    else:
        assert convert(a).values[0] == pytest.approx(mm, rel=1e-12)


MONTHS_2001 = [f"2001-{m:02d}-15" for m in range(1, 13)]


def _series(dates, values=None):
    n = len(dates)
    base = np.linspace(-5, 20, 12)
    v = np.resize(base, n) if values is None else values
    return xr.DataArray(v[:, None], dims=("time", "lat"), coords={"time": dates, "lat": [45.0]})


def _dates(texts):
    return np.array(texts, dtype="datetime64[ns]")


@pytest.mark.parametrize(
    "time, start_month, expected",
    [
        (_dates(["2001-01-01", "2001-02-01"] + MONTHS_2001[2:]), 1, [2001]),
        # Mid-year starts and ends: the whole years alone, with a word.
        (_dates([f"2000-{m:02d}-01" for m in range(7, 13)] + MONTHS_2001 + ["2002-01-01"]), 1,
         ([2001], "the first 6 months (2000-07 to 2000-12) come before")),
        # Water years from October, labelled by the year they end in.
        (_dates([f"2000-{m:02d}-01" for m in range(10, 13)] + MONTHS_2001[:9]), 10, [2001]),
        (_dates(MONTHS_2001[:5] + MONTHS_2001[6:] + ["2002-01-15"]), 1, "2001-07 follows 2001-05: 1 months are missing"),
        (_dates(["2001-01-01", "2001-01-02"] * 6), 1, "several steps fall in one month"),
        (_dates([f"{y}-01-01" for y in range(2001, 2013)]), 1, "yearly data"),
        (_dates(MONTHS_2001[:6]), 1, "not one whole year"),
        (np.arange(12.0), 1, ([0], "holds no dates")),
        # Numbers with CF units, starting in July: decoded, not taken as January.
        ((np.arange(18.0), "months since 2000-07-01"), 1, ([2001], "the first 6 months (2000-07 to 2000-12)")),
        ((np.arange(12.0) * 30.44 + 15, "days since 2001-01-01"), 1, [2001]),
    ],
)
def test_time_axis(time, start_month, expected):
    import warnings

    units = None
    if isinstance(time, tuple):
        time, units = time
    t = _series(time)
    if units:
        t["time"].attrs["units"] = units
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        if isinstance(expected, str):
            with pytest.raises(ValueError, match=expected):
                vx.water_balance(t, t * 0 + 50, start_month=start_month)
            return
        ds = vx.water_balance(t, t * 0 + 50, start_month=start_month)
    years, said = expected if isinstance(expected, tuple) else (expected, None)
    assert list(ds.year.values) == years
    words = " ".join(str(w.message) for w in caught if issubclass(w.category, vadoset.InputWarning))
    assert (said in words) if said else words == ""


def test_water_year_is_its_months_as_one_record():
    # October to September through the xarray entry equals the same twelve
    # months given to the records' entry in calendar order.
    dates = _dates([f"2000-{m:02d}-01" for m in range(10, 13)] + MONTHS_2001[:9])
    t = _series(dates, np.array([9, 3, -2, -5, -2, 3, 9, 14, 18, 21, 20, 15.0]))
    p = t * 0 + np.arange(40.0, 64.0, 2.0)[:, None]
    ds = vx.water_balance(t, p, start_month=10)
    calendar = lambda a: np.roll(a.values[:, 0], 9)  # noqa: E731
    wb = vadoset.water_balance(calendar(t), calendar(p), 45.0)
    assert ds.aet_total.values[0, 0] == wb.aet_total and np.array_equal(ds.aet.values[:, 0], np.roll(wb.aet, -9))


@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda t, p: (t + 273.15, p), "temperature looks like kelvin"),
        (lambda t, p: (t, p / 86400 / 30), "it looks like a rate (kg m-2 s-1)"),
        (lambda t, p: ((t.fillna(0) * 100).astype(np.int16).assign_attrs(scale_factor=0.01), p), "packed integers"),
        (lambda t, p: (t, p.where(p.lat < 50, -999.0)), "precipitation holds -999"),
        (lambda t, p: (t, p - 80), "negative months"),
    ],
)
def test_xarray_inputs_without_units_are_checked(sample, make, expected):
    t, p = sample
    t = vx.to_celsius(t).copy()
    t.attrs = {}
    p = p.copy()
    p.attrs = {}
    tt, pp = make(t.isel(time=slice(0, 24)), p.isel(time=slice(0, 24)))
    with pytest.warns(vadoset.InputWarning, match=expected.replace("(", r"\(").replace(")", r"\)")):
        vx.water_balance(tt, pp)


def test_latitude_from_a_projection():
    pyproj = pytest.importorskip("pyproj")
    crs = pyproj.CRS.from_epsg(3035)
    x = np.array([4.0e6, 4.2e6])
    y = np.array([2.5e6, 3.5e6])
    coords = {"time": _dates(MONTHS_2001), "y": ("y", y, {"units": "m"}), "x": ("x", x, {"units": "m"}),
              "crs": ((), 0, crs.to_cf())}
    t = xr.DataArray(np.broadcast_to(np.linspace(-5, 20, 12)[:, None, None], (12, 2, 2)).copy(),
                     dims=("time", "y", "x"), coords=coords, attrs={"grid_mapping": "crs"})
    lat = vx.latitude_of(t)
    _, expected = pyproj.Transformer.from_crs(crs, crs.geodetic_crs, always_xy=True).transform(4.0e6, 3.5e6)
    assert lat.values[1, 0] == pytest.approx(expected, abs=1e-9)
    ds = vx.water_balance(t, t * 0 + 50)
    assert (ds.null_code.values == 0).all()
    with pytest.raises(ValueError, match="no latitude in degrees"):
        vx.water_balance(t.drop_vars("crs"), (t * 0 + 50).drop_vars("crs"))


def test_pet_float32_and_chosen_outputs(sample):
    t, p = sample
    full = vx.water_balance(t, p)
    given = vx.water_balance(t, p, pet=full.pet.fillna(40.0).assign_attrs(units="mm"), variables=["aet", "aet_total"])
    assert list(given.data_vars) == ["aet", "aet_total"]
    ok = full.null_code.values == 0
    assert np.array_equal(bits(given.aet_total.values[ok]), bits(full.aet_total.values[ok]))
    small = vx.water_balance(t, p, dtype="float32", variables="aet_total,null_code")
    assert small.aet_total.dtype == np.float32 and np.array_equal(
        small.aet_total.values, full.aet_total.values.astype(np.float32), equal_nan=True)
    with pytest.raises(ValueError, match="variables must name outputs"):
        vx.water_balance(t, p, variables=["aet_sum"])


def test_time_dimension_found_by_name_or_dates(sample):
    t, p = sample
    t12, p12 = t.isel(time=slice(0, 24)), p.isel(time=slice(0, 24))
    expected = vx.water_balance(t12, p12, variables=["aet_total"])
    era5 = vx.water_balance(t12.rename(time="valid_time"), p12.rename(time="valid_time"), variables=["aet_total"])
    other = vx.water_balance(t12.rename(time="when"), p12.rename(time="when"), variables=["aet_total"])
    assert same(expected.aet_total, era5.aet_total) and same(expected.aet_total, other.aet_total)
    with pytest.raises(ValueError, match="has no time dimension"):
        vx.water_balance(t12.drop_vars("time").rename(time="step"), p12.drop_vars("time").rename(time="step"))
