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
    for name in ("pet_total", "aet_total", "surplus_total", "deficit_total", "null_code"):
        assert np.array_equal(bits(ds[name].values), bits(getattr(wb, name))), name
    # The sample's own gaps: nine sea cells, a missing June and a missing January.
    codes = ds.null_code.values
    assert (codes == 2).sum() == 9 * 10 + 1 and (codes == 3).sum() == 1 and (codes > 3).sum() == 0
    assert list(ds.year.values) == list(range(2011, 2021)) and ds.pet.attrs["units"] == "mm"


def test_dask_and_cluster_equal_in_memory(sample):
    distributed = pytest.importorskip("distributed")
    t, p = sample
    soil_map = xr.full_like(t.isel(time=0, drop=True), 150.0).where(t.lon > 0)  # NaN west of 0°: null years
    eager = vx.water_balance(t, p, soil_map, function="B", carryover=True)
    lazy = vx.water_balance(t.chunk({"lat": 7, "lon": 20}), p.chunk({"lat": 7, "lon": 20}),
                            soil_map.chunk({"lat": 7}), function="B", carryover=True)
    assert lazy.aet.chunks is not None and len(lazy.aet.chunks[1]) == 5
    assert all(same(eager[v], lazy[v].compute()) for v in eager.data_vars)
    west = eager.null_code.values[:, :, t.lon.values < 0]
    assert (west == 4).sum() == west.size - 9 * 10  # the sea cells lack precipitation first
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, distributed.Client(cluster) as client:
        remote = client.compute(lazy).result()
    assert all(same(eager[v], remote[v]) for v in eager.data_vars)


@pytest.mark.parametrize(
    "units, value, mm",
    [
        ("degC", 12.5, 12.5), ("degrees_Celsius", -3.0, -3.0), ("K", 274.5, 274.5 - 273.15),
        ("mm", 5.0, 5.0), ("kg m-2", 5.0, 5.0), ("mm/month", 5.0, 5.0), ("cm", 2.0, 20.0), ("m", 0.05, 50.0),
        ("kg m-2 s-1", 1.0 / 86400, 28 * 86400 / 86400), ("mm/day", 2.0, 56.0), ("mm d-1", 2.0, 56.0),
        ("degF", 50.0, "does not know"), ("mm/hour", 1.0, "does not know"), (None, 1.0, "has no units"),
    ],
)
def test_units(units, value, mm):
    # February 2011: 28 days.
    a = xr.DataArray([value], dims="time", coords={"time": np.array(["2011-02-01"], dtype="datetime64[ns]")})
    if units:
        a.attrs["units"] = units
    convert = vx.to_celsius if units in ("degC", "degrees_Celsius", "K", "degF") else vx.to_millimetres
    if isinstance(mm, str):
        with pytest.raises(ValueError, match=mm):
            convert(a)
    else:
        assert convert(a).values[0] == pytest.approx(mm, rel=1e-12)


def test_netcdf_tool(sample, tmp_path, capsys):
    t, p = sample
    soil = xr.Dataset({"fc": t.isel(time=0, drop=True) * 0 + 80.0})
    soil.fc.attrs["units"] = "mm"
    soil.to_netcdf(tmp_path / "soil.nc")
    args = ["-t", str(EXAMPLES / "grid_temp.nc"), "-p", str(EXAMPLES / "grid_prec.nc"), "--quiet"]
    out = tmp_path / "wb.nc"
    assert vadoset.grid.main(args + ["-o", str(out), "--function", "C", "--carryover", "--chunks", "lat=9",
                                     "--field-capacity", str(tmp_path / "soil.nc")]) == 0
    with xr.open_dataset(out) as written:
        expected = vx.water_balance(t, p, 80, "C", True)
        assert all(same(expected[v], written[v]) for v in expected.data_vars)
        assert written.pet.encoding["zlib"] and written.snow.attrs["standard_name"] == "lwe_thickness_of_surface_snow_amount"

    t.attrs["units"] = "degF"
    t.to_netcdf(tmp_path / "f.nc")
    assert vadoset.grid.main(["-t", str(tmp_path / "f.nc"), *args[2:], "-o", str(tmp_path / "x.nc")]) == 1
    assert "units 'degF', which vadoset does not know" in capsys.readouterr().err
    assert not (tmp_path / "x.nc").exists() and list(tmp_path.glob(".vadoset-*")) == []


@pytest.mark.parametrize(
    "time, expected",
    [
        (np.array(["2001-01-01", "2001-02-01"] + [f"2001-{m:02d}-15" for m in range(3, 13)], dtype="datetime64[ns]"), [2001]),
        (np.array([f"2001-{m:02d}-01" for m in range(2, 13)] + ["2002-01-01"], dtype="datetime64[ns]"), "from January"),
        (np.arange(12.0), [0]),  # numbers, not dates: the months are taken as they come
        (None, [0]),
    ],
)
def test_time_axis(time, expected):
    coords = {"lat": [45.0]} if time is None else {"time": time, "lat": [45.0]}
    t = xr.DataArray(np.linspace(-5, 20, 12)[:, None], dims=("time", "lat"), coords=coords)
    if isinstance(expected, str):
        with pytest.raises(ValueError, match=expected):
            vx.water_balance(t, t * 0 + 50)
        return
    assert list(vx.water_balance(t, t * 0 + 50).year.values) == expected
    if time is None or time.dtype.kind == "f":  # a rate needs the months' lengths
        with pytest.raises(ValueError, match="must hold dates"):
            vx.to_millimetres(t.assign_attrs(units="mm/day"))
