#!/usr/bin/env python3
"""Writes small files shaped like the gridded datasets people download.

    /usr/bin/python3 examples/make_datasets.py OUT_FOLDER [--kinds cru,terraclimate,...]

Each kind follows its dataset's own layout and conventions, on a 2° grid
over Europe (36° to 70° N, 10° W to 40° E), two years (2001-2002):

- cru: CRU TS style, ``cru_ts4.07.2001.2002.tmp.dat.nc`` and ``...pre...``:
  ``tmp`` (degrees Celsius) and ``pre`` (mm/month) each with ``stn`` (the
  station count) beside it, time in days since 1900-1-1 at mid-month,
  latitude ascending, the sea as missing_value 9.96921e36.
- terraclimate: TerraClimate style, one file per variable and year
  (``TerraClimate_tmax_2001.nc``, ``tmin``, ``ppt``): int16 packed with
  scale_factor and add_offset, latitude descending, no mean temperature.
- worldclim: WorldClim 2.1 style normals, twelve GeoTIFFs per variable
  (``wc2.1_2deg_tavg_01.tif`` ... ``_12.tif``, ``prec``), EPSG:4326, no
  units in the files (the dataset documents °C and mm), nodata -3.4e38.
- era5: ERA5 monthly means style, one file ``era5_monthly.nc`` with ``t2m``
  in K and ``tp`` in m (the mean daily total), ``valid_time`` in seconds
  since 1970, latitude descending, longitude 0 to 360, an ``expver``
  coordinate.
- laea: a CF grid on the ETRS89 Lambert azimuthal equal-area projection
  (EPSG:3035), x and y in metres, a ``grid_mapping`` variable and no
  latitude coordinate; time in "months since 2001-01-01".

The values are the published station normals of ``allsites_*.txt``
interpolated as ``make_grid.py`` does, with seeded anomalies: data for
trying vadoset on real layouts, not climate data.
"""

import argparse
import os
import random
import runpy
import types

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
KINDS = ("cru", "terraclimate", "worldclim", "era5", "laea")
YEARS = (2001, 2002)
LATS = np.arange(37.0, 70.0, 2.0)
LONS = np.arange(-9.0, 40.0, 2.0)
# Sea: the Bay of Biscay and the western Mediterranean, as boxes.
SEA = [((43.0, 48.0), (-9.0, -2.0)), ((37.0, 42.0), (3.0, 9.0))]


def _make_grid_module():
    return types.SimpleNamespace(**runpy.run_path(os.path.join(HERE, "make_grid.py")))


def climate(lats=LATS, lons=LONS, years=YEARS, seed=2001):
    """(temperature °C, precipitation mm a month), shape (months, lat, lon),
    latitude ascending; the sea NaN."""
    mg = _make_grid_module()
    tn = mg.read_normals(os.path.join(HERE, "allsites_temp.txt"))
    pn = mg.read_normals(os.path.join(HERE, "allsites_prec.txt"))
    bt = np.array([[mg.interpolate(tn, la, lo) for lo in lons] for la in lats])  # (lat, lon, 12)
    bp = np.array([[mg.interpolate(pn, la, lo) for lo in lons] for la in lats])
    rng = random.Random(seed)
    t, p = [], []
    for _ in years:
        shift = rng.gauss(0, 0.8)
        for m in range(12):
            t.append(bt[:, :, m] + shift + rng.gauss(0, 1.0))
            p.append(np.round(bp[:, :, m] * np.exp(rng.gauss(0, 0.3)), 1))
    t, p = np.array(t), np.array(p)
    sea = np.zeros((len(lats), len(lons)), bool)
    for (la0, la1), (lo0, lo1) in SEA:
        sea |= ((lats[:, None] >= la0) & (lats[:, None] <= la1) & (lons[None, :] >= lo0) & (lons[None, :] <= lo1))
    t[:, sea] = np.nan
    p[:, sea] = np.nan
    return t, p


def _times(days_since="1900-01-01", mid=True):
    import cftime

    dates = [cftime.datetime(y, m, 16 if mid else 1, calendar="standard") for y in YEARS for m in range(1, 13)]
    return cftime.date2num(dates, f"days since {days_since}", calendar="standard")


def _latlon(lat_desc=False):
    lat = {"standard_name": "latitude", "long_name": "latitude", "units": "degrees_north", "axis": "Y"}
    lon = {"standard_name": "longitude", "long_name": "longitude", "units": "degrees_east", "axis": "X"}
    lats = LATS[::-1] if lat_desc else LATS
    return ("lat", lats, lat), ("lon", LONS, lon)


def cru(folder):
    import xarray as xr

    t, p = climate()
    fill = np.float32(9.96921e36)
    (la, lav, laa), (lo, lov, loa) = _latlon()
    time = ("time", _times(), {"long_name": "time", "units": "days since 1900-1-1", "calendar": "gregorian"})
    stn = np.where(np.isnan(t), 0, 3).astype(np.int32)
    for var, data, attrs in (
        ("tmp", t, {"long_name": "near-surface temperature", "units": "degrees Celsius",
                    "correlation_decay_distance": 1200.0}),
        ("pre", p, {"long_name": "precipitation", "units": "mm/month", "correlation_decay_distance": 450.0}),
    ):
        ds = xr.Dataset(
            {var: (("time", "lat", "lon"), data.astype(np.float32), attrs),
             "stn": (("time", "lat", "lon"), stn, {"description": "number of stations contributing to each datum"})},
            coords={"time": time, "lat": (la, lav, laa), "lon": (lo, lov, loa)},
            attrs={"Conventions": "CF-1.4", "title": f"CRU TS4.07 {attrs['long_name']}",
                   "source": "examples/make_datasets.py (synthetic, CRU TS layout)",
                   "history": "2023-05-01 synthetic"})
        ds.to_netcdf(os.path.join(folder, f"cru_ts4.07.2001.2002.{var}.dat.nc"), format="NETCDF3_CLASSIC",
                     encoding={var: {"_FillValue": fill, "missing_value": fill}, "time": {"_FillValue": None},
                               "lat": {"_FillValue": None}, "lon": {"_FillValue": None}})


def terraclimate(folder):
    import xarray as xr

    t, p = climate()
    # The day-night range of a temperate climate: some 8 °C.
    tmax, tmin = t + 4.0, t - 4.0
    (la, lav, laa), (lo, lov, loa) = _latlon(lat_desc=True)
    for var, data, scale, offset, attrs in (
        ("tmax", tmax, 0.01, 0.0, {"long_name": "maximum_2m_air_temperature", "units": "degC"}),
        ("tmin", tmin, 0.01, 0.0, {"long_name": "minimum_2m_air_temperature", "units": "degC"}),
        ("ppt", p, 0.1, 0.0, {"long_name": "precipitation_amount", "units": "mm"}),
    ):
        for k, year in enumerate(YEARS):
            block = data[12 * k: 12 * (k + 1), ::-1]
            ds = xr.Dataset({var: (("time", "lat", "lon"), block, attrs)},
                            coords={"time": ("time", _times(mid=False)[12 * k: 12 * (k + 1)],
                                             {"units": "days since 1900-01-01", "calendar": "standard"}),
                                    "lat": (la, lav, laa), "lon": (lo, lov, loa)},
                            attrs={"title": "TerraClimate (synthetic layout)", "source": "examples/make_datasets.py"})
            ds.to_netcdf(os.path.join(folder, f"TerraClimate_{var}_{year}.nc"), encoding={
                var: {"dtype": "int16", "scale_factor": scale, "add_offset": offset, "_FillValue": np.int16(-32768),
                      "zlib": True}, "time": {"_FillValue": None}, "lat": {"_FillValue": None},
                "lon": {"_FillValue": None}})


def worldclim(folder):
    import rasterio
    from rasterio.transform import from_origin

    t, p = climate()
    tn = t.reshape(len(YEARS), 12, *t.shape[1:]).mean(axis=0)
    pn = p.reshape(len(YEARS), 12, *p.shape[1:]).mean(axis=0)
    nodata = np.float32(-3.4e38)
    transform = from_origin(LONS[0] - 1.0, LATS[-1] + 1.0, 2.0, 2.0)
    for var, data in (("tavg", tn), ("prec", pn)):
        for m in range(12):
            band = data[m, ::-1].astype(np.float32)  # north row first
            band[np.isnan(band)] = nodata
            with rasterio.open(os.path.join(folder, f"wc2.1_2deg_{var}_{m + 1:02d}.tif"), "w", driver="GTiff",
                               width=len(LONS), height=len(LATS), count=1, dtype="float32", crs="EPSG:4326",
                               transform=transform, nodata=float(nodata)) as f:
                f.write(band, 1)


def era5(folder):
    import xarray as xr

    t, p = climate()
    lats = LATS[::-1]
    lons = np.mod(LONS, 360.0)
    order = np.argsort(lons)
    t = t[:, ::-1][:, :, order] + 273.15
    days = np.array([[31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]] * len(YEARS), float).ravel()
    tp = p[:, ::-1][:, :, order] / days[:, None, None] / 1000.0  # m, mean daily total
    seconds = (np.array([np.datetime64(f"{y}-{m:02d}-01") for y in YEARS for m in range(1, 13)], "datetime64[s]")
               .astype(np.int64))
    ds = xr.Dataset(
        {"t2m": (("valid_time", "latitude", "longitude"), t.astype(np.float32),
                 {"long_name": "2 metre temperature", "units": "K", "GRIB_shortName": "2t"}),
         "tp": (("valid_time", "latitude", "longitude"), tp.astype(np.float32),
                {"long_name": "Total precipitation", "units": "m", "GRIB_shortName": "tp"})},
        coords={"valid_time": ("valid_time", seconds, {"standard_name": "time", "long_name": "time",
                                                       "units": "seconds since 1970-01-01",
                                                       "calendar": "proleptic_gregorian"}),
                "latitude": ("latitude", lats, {"standard_name": "latitude", "units": "degrees_north"}),
                "longitude": ("longitude", lons[order], {"standard_name": "longitude", "units": "degrees_east"}),
                "expver": ("valid_time", np.array(["0001"] * len(seconds)))},
        attrs={"GRIB_centre": "ecmf", "Conventions": "CF-1.7", "institution": "synthetic (ERA5 layout)"})
    ds.to_netcdf(os.path.join(folder, "era5_monthly.nc"),
                 encoding={"t2m": {"_FillValue": np.float32(np.nan)}, "tp": {"_FillValue": np.float32(np.nan)},
                           "valid_time": {"_FillValue": None}})


def laea(folder):
    import pyproj
    import xarray as xr

    crs = pyproj.CRS.from_epsg(3035)
    x = np.arange(3.0e6, 5.0e6, 2.0e5)
    y = np.arange(2.0e6, 4.0e6, 2.0e5)
    tr = pyproj.Transformer.from_crs(crs, crs.geodetic_crs, always_xy=True)
    lon, lat = tr.transform(*np.meshgrid(x, y))
    # The climate at each projected cell's nearest 2° cell.
    t, p = climate()
    i = np.clip(np.round((lat - LATS[0]) / 2.0).astype(int), 0, len(LATS) - 1)
    j = np.clip(np.round((lon - LONS[0]) / 2.0).astype(int), 0, len(LONS) - 1)
    gm = crs.to_cf()
    attrs = {"grid_mapping": "lambert_azimuthal_equal_area"}
    ds = xr.Dataset(
        {"tas": (("time", "y", "x"), t[:, i, j].astype(np.float32), {"standard_name": "air_temperature",
                                                                     "units": "degC", **attrs}),
         "pr": (("time", "y", "x"), p[:, i, j].astype(np.float32), {"standard_name": "precipitation_amount",
                                                                    "units": "kg m-2", **attrs}),
         "lambert_azimuthal_equal_area": ((), np.int32(0), gm)},
        coords={"time": ("time", np.arange(24, dtype=np.int32), {"units": "months since 2001-01-01",
                                                                 "calendar": "standard", "axis": "T"}),
                "x": ("x", x, {"standard_name": "projection_x_coordinate", "units": "m"}),
                "y": ("y", y, {"standard_name": "projection_y_coordinate", "units": "m"})},
        attrs={"Conventions": "CF-1.8", "title": "Synthetic grid on EPSG:3035"})
    ds.to_netcdf(os.path.join(folder, "laea_monthly.nc"),
                 encoding={v: {"_FillValue": None} for v in ("x", "y", "time")})


def make(folder, kinds=KINDS):
    os.makedirs(folder, exist_ok=True)
    for kind in kinds:
        globals()[kind](folder)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("folder")
    ap.add_argument("--kinds", default=",".join(KINDS))
    args = ap.parse_args()
    make(args.folder, [k for k in args.kinds.split(",") if k])


if __name__ == "__main__":
    main()
