"""python3 -m vadoset.grid on files shaped like the datasets people
download: each runs with no variable or unit options, gives the engine's
numbers, and writes files CF tools read; each mistake gets a message that
names the variable and the fix."""

import runpy
import shutil
import types
import subprocess

import numpy as np
import pytest
import xarray as xr
from conftest import EXAMPLES, bits

import vadoset
import vadoset.grid
import vadoset.xarray as vx


@pytest.fixture(scope="module")
def data(tmp_path_factory):
    folder = tmp_path_factory.mktemp("datasets")
    module = types.SimpleNamespace(**runpy.run_path(str(EXAMPLES / "make_datasets.py")))
    module.make(folder)
    return folder, module


def run(args, capsys=None):
    status = vadoset.grid.main([str(a) for a in args] + ["--workers", "2"])
    err = capsys.readouterr().err if capsys else ""
    return status, err


DATASETS = {
    "cru": (["-t", "cru_ts4.07.2001.2002.tmp.dat.nc", "-p", "cru_ts4.07.2001.2002.pre.dat.nc"], ""),
    "terraclimate": (["-t", "TerraClimate_tmax_*.nc", "TerraClimate_tmin_*.nc", "-p", "TerraClimate_ppt_*.nc"],
                     "the mean of the maximum (tmax) and the minimum (tmin)"),
    "era5": (["-t", "era5_monthly.nc", "-p", "era5_monthly.nc"], "ERA5's monthly means of tp are the mean daily"),
    "worldclim": (["-t", "wc2.1_2deg_tavg_*.tif", "-p", "wc2.1_2deg_prec_*.tif"], "WorldClim gives temperatures"),
    "laea": (["-t", "laea_monthly.nc", "-p", "laea_monthly.nc"], ""),
}


@pytest.mark.parametrize("kind", list(DATASETS))
def test_datasets_as_downloaded(data, tmp_path, capsys, kind):
    folder, module = data
    args, note = DATASETS[kind]
    out = tmp_path / ("wb.tif" if kind == "worldclim" else "wb.nc")
    status, err = run([a if a.startswith("-") else str(folder / a) for a in args] + ["-o", out], capsys)
    assert status == 0, err
    assert note in err and "warning" not in err
    if kind == "worldclim":
        import rioxarray

        layers = rioxarray.open_rasterio(out)
        assert layers.attrs["long_name"][1] == "aet_total" and str(layers.rio.crs) == "EPSG:4326"
        aet = layers.values[1][::-1]  # rows north to south
        # A climatology's annual layers in Zarr too: no time axis.
        status, err = run([a if a.startswith("-") else str(folder / a) for a in args] + ["-o", tmp_path / "wb.zarr"],
                          capsys)
        with xr.open_zarr(tmp_path / "wb.zarr") as z:
            assert status == 0 and z.aet_total.dims == ("y", "x")
            assert np.array_equal(z.aet_total.values[::-1], aet, equal_nan=True)
    else:
        with xr.open_dataset(out) as ds:
            aet = ds.aet_total.values
            assert ds.time.attrs["bounds"] == "time_bnds" and list(ds.time.dt.year.values) == [2001, 2002]
            codes = ds.null_code.values
            # Sea cells are no_data in every year; nothing else is null here.
            assert set(np.unique(codes)) <= {0, vadoset.NULL_CODES.index("no_data")}
    if kind in ("cru", "terraclimate", "era5"):
        # The same climate in three layouts: the same water balance, but
        # for the packing and the float32 files.
        t, p = module.climate()
        wb = vx.water_balance(
            xr.DataArray(t, dims=("time", "lat", "lon"), coords={
                "time": np.array([f"{y}-{m:02d}-01" for y in (2001, 2002) for m in range(1, 13)], "datetime64[ns]"),
                "lat": module.LATS, "lon": module.LONS}),
            xr.DataArray(p, dims=("time", "lat", "lon"), coords={
                "time": np.array([f"{y}-{m:02d}-01" for y in (2001, 2002) for m in range(1, 13)], "datetime64[ns]"),
                "lat": module.LATS, "lon": module.LONS}), variables=["aet_total"])
        expected = wb.aet_total.values
        if kind == "terraclimate":
            aet = aet[:, ::-1]
        if kind == "era5":
            aet = aet[:, ::-1][:, :, np.argsort(np.argsort(np.mod(module.LONS, 360.0)))]
        land = np.isfinite(expected)
        assert np.array_equal(np.isfinite(aet), land)
        # Converted rates lose a millimetre a month where 56.99999 was 57:
        # ERA5's float32 metres a day most.
        assert np.abs(aet[land] - expected[land]).max() < {"cru": 0.01, "terraclimate": 3.0, "era5": 12.0}[kind]


def _series(tmp_path, name, **change):
    """A small CF file of one variable, changed as a test needs."""
    time = np.array([f"2001-{m:02d}-01" for m in range(1, 13)], dtype="datetime64[ns]")
    values = np.broadcast_to(np.linspace(-5, 20, 12)[:, None, None], (12, 2, 3)).astype(np.float32).copy()
    attrs = {"standard_name": "air_temperature", "units": "degC"}
    var = change.pop("var", "tas")
    attrs.update(change.pop("attrs", {}))
    for k in [k for k, v in attrs.items() if v is None]:
        del attrs[k]
    ds = xr.Dataset({var: (("time", "lat", "lon"), change.pop("values", values), attrs)},
                    coords={"time": change.pop("time", time), "lat": [40.0, 41.0], "lon": [0.0, 1.0, 2.0]})
    path = tmp_path / name
    ds.to_netcdf(path)
    return path


@pytest.mark.parametrize(
    "make, extra, message",
    [
        (lambda d: {"t": _series(d, "t.nc", var="tmax", attrs={"standard_name": None})}, [],
         "hold the maximum temperature (tmax) but no mean: a maximum or minimum is never taken for a mean; "
         "give the other one too (--tmin FILES)"),
        (lambda d: {"t": _series(d, "t.nc", attrs={"units": None})}, [],
         "tas in t.nc has no units attribute and no known convention gives them: say what they are with "
         "--temperature-units"),
        (lambda d: {"t": _series(d, "t.nc", attrs={"units": "degR"})}, [], "tas in t.nc has units 'degR'"),
        (lambda d: {"p": _series(d, "p.nc", var="pr", attrs={"standard_name": "precipitation_amount",
                                                              "units": "inches"})}, [],
         "pr in p.nc has units 'inches', which vadoset does not know"),
        (lambda d: {}, ["--chunks", "latitude=10"], "--chunks: the grid has no dimension 'latitude'"),
        (lambda d: {"t": _series(d, "t.nc", time=np.array([f"2001-{m:02d}-01" for m in [1, 2, 3, 5, 6, 7, 8, 9,
                                                                                       10, 11, 12, 12]],
                                                            dtype="datetime64[ns]"))}, [],
         "2001-05 follows 2001-03: 1 months are missing"),
        (lambda d: {}, ["--variables", "aet"], "--variables names monthly outputs: give --monthly FILE"),
        (lambda d: {}, ["--variables", "aet_sum"], "--variables: 'aet_sum' is not an output"),
        (lambda d: {}, ["--carryover", "--start-month", "10"], "--carryover runs calendar years"),
        (lambda d: {"t": _series(d, "t.nc", time=np.arange(12.0))}, [], "holds numbers without units"),
    ],
)
def test_bad_inputs_say_what_to_do(tmp_path, capsys, make, extra, message):
    files = {"t": _series(tmp_path, "good_t.nc"),
             "p": _series(tmp_path, "good_p.nc", var="pr", values=np.full((12, 2, 3), 50.0, np.float32),
                          attrs={"standard_name": "precipitation_amount", "units": "mm"})}
    files.update(make(tmp_path))
    status, err = run(["-t", files["t"], "-p", files["p"], "-o", tmp_path / "wb.nc", *extra], capsys)
    assert status == 1 and message in err, err
    assert not (tmp_path / "wb.nc").exists() and list(tmp_path.glob(".*vadoset-partial*")) == []


def test_outputs_agree_and_cf_tools_read_them(sample_files, tmp_path, capsys):
    t_file, p_file = sample_files
    common = ["-t", t_file, "-p", p_file, "--dtype", "float64", "--function", "C", "--chunks", "lat=9,lon=20"]
    assert run(common + ["-o", tmp_path / "a.nc", "--monthly", tmp_path / "m.nc"], capsys)[0] == 0
    assert run(common + ["-o", tmp_path / "a.zarr", "--variables", "annual"], capsys)[0] == 0
    t = xr.open_dataset(t_file)["tas"]
    p = xr.open_dataset(p_file)["pr"]
    expected = vx.water_balance(t, p, function="C")
    with xr.open_dataset(tmp_path / "a.nc") as a, xr.open_dataset(tmp_path / "m.nc") as m, \
            xr.open_zarr(tmp_path / "a.zarr") as z:
        for name in ("aet_total", "deficit_total", "null_code"):
            assert np.array_equal(bits(a[name].values), bits(expected[name].values)), name
            assert np.array_equal(bits(z[name].values), bits(expected[name].values)), name
        assert np.array_equal(bits(m.snow.values), bits(expected.snow.values))
        # Coordinates as CF tools need them: attributes kept, no fill value.
        assert a.lat.attrs["units"] == "degrees_north" and "_FillValue" not in a.lat.encoding
        assert a.attrs["history"].count("\n") >= 0 and "vadoset.grid" in a.attrs["history"]
        assert a.attrs["input_title"] == "Sample grid: monthly mean temperature"
        assert a.aet_total.encoding["chunksizes"] == (10, 9, 20)
    if shutil.which("cdo") is None:
        pytest.skip("cdo is not installed")
    def cdo(*args):
        out = subprocess.run(["cdo", "-s", *map(str, args)], capture_output=True, text=True, check=True).stdout
        return " ".join(line for line in out.splitlines() if not line.startswith("#"))

    cdo("gridarea", tmp_path / "a.nc", tmp_path / "area.nc")
    with xr.open_dataset(tmp_path / "area.nc") as area:
        # 1° cells: about 12,400 km² at 0°, 3,800 km² at 70° N.
        assert 9.0e9 < float(area.cell_area.max()) < 1.24e10 and float(area.cell_area.min()) > 3.5e9
        weights = area.cell_area.values
    field = cdo("outputtab,value", "-fldmean", "-selname,aet_total", tmp_path / "a.nc").split()
    aet = expected.aet_total.values
    w = np.where(np.isfinite(aet), weights, 0.0)
    assert np.allclose([float(v) for v in field], np.nansum(aet * w, axis=(1, 2)) / w.sum(axis=(1, 2)), rtol=1e-5)
    mean = cdo("outputtab,value", "-fldmax", "-timmean", "-selname,aet_total", tmp_path / "a.nc").split()
    years = np.isfinite(aet).sum(axis=0)
    assert len(mean) == 1 and float(mean[0]) == pytest.approx(
        (np.nansum(aet, axis=0)[years > 0] / years[years > 0]).max(), rel=1e-5)


@pytest.fixture(scope="module")
def sample_files():
    return EXAMPLES / "grid_temp.nc", EXAMPLES / "grid_prec.nc"


def test_zarr_one_and_two_workers_and_a_pet_file(sample_files, tmp_path, capsys):
    t_file, p_file = sample_files
    common = ["-t", t_file, "-p", p_file, "--dtype", "float64", "--chunks", "lat=7,lon=16"]
    assert run(common + ["-o", tmp_path / "one.zarr", "--monthly", tmp_path / "pet.nc", "--variables",
                         "annual,pet", "--workers", "1"], capsys)[0] == 0
    assert run(common + ["-o", tmp_path / "two.zarr"], capsys)[0] == 0
    # PET of one's own: the run's own PET given back gives the same bits.
    with xr.open_dataset(tmp_path / "pet.nc") as m:
        m.pet.fillna(0.0).to_dataset(name="pet").to_netcdf(tmp_path / "given.nc")
    assert run(common + ["-o", tmp_path / "given.zarr", "--pet", tmp_path / "given.nc"], capsys)[0] == 0
    with xr.open_zarr(tmp_path / "one.zarr") as one, xr.open_zarr(tmp_path / "two.zarr") as two, \
            xr.open_zarr(tmp_path / "given.zarr") as given:
        assert all(np.array_equal(bits(one[v].values), bits(two[v].values)) for v in one.data_vars)
        ok = one.null_code.values == 0
        assert np.array_equal(bits(one.aet_total.values[ok]), bits(given.aet_total.values[ok]))
        assert given.attrs["pet"] == "given (--pet)"
