#!/usr/bin/env python3
"""Writes the sample grid: grid_temp.nc and grid_prec.nc.

    /usr/bin/python3 examples/make_grid.py

1° cells over Europe (36° to 70° N, 10° W to 40° E: 34 x 50 cells), ten
synthetic years (2011-2020) of monthly mean temperature and precipitation.
Each cell's normals are the inverse-distance-weighted mean (power 2, great
circle distances) of five sample stations of allsites_*.txt (published
normals): Madrid, London, Moscow, Tromsø and Cairo. Each year lays seeded
random anomalies over them: a shift of the whole year, and per month an
anomaly that varies linearly across the region (temperature in °C,
precipitation as a factor). The data are for trying vadoset on NetCDF; they
are not climate data.

Missing values, on purpose:
- a 3 x 3 patch of "sea" in the Bay of Biscay (44-47° N, 8-5° W) is
  _FillValue in every month of both files, so all its years are null;
- precipitation of June 2015 at 60.5° N, 10.5° E is missing (a null year);
- temperature of January 2019 at 50.5° N, 30.5° E is missing (a null year).

The files use CF conventions and packed values, as real ones often do:
temperature in kelvin as int16 with scale_factor 0.01 and add_offset
273.15; precipitation in kg m-2 (monthly totals, the same as mm) as float
rounded to 0.1 mm. (Packed precipitation would decode to values such as
56.99999 where 57 was meant, and lose a millimetre when the model drops the
fraction.) The generator is seeded; the values are the same on every machine.
"""

import math
import os
import random

import numpy as np
import xarray as xr

HERE = os.path.dirname(os.path.abspath(__file__))

# Longitudes of the stations (the sample files hold their latitudes).
STATIONS = {
    "Madrid Retiro": -3.68,
    "London Heathrow": -0.45,
    "Moscow": 37.62,
    "Tromsø": 18.96,
    "Cairo": 31.25,
}
LATS = np.arange(36.5, 70.0, 1.0)
LONS = np.arange(-9.5, 40.0, 1.0)
YEARS = range(2011, 2021)
SEED = 20110101

YEAR_SPREAD = 0.8  # °C, the shift of a whole year
MONTH_SPREAD = 1.2  # °C, a month's anomaly at the centre of the region
GRADIENT_SPREAD = 0.6  # °C, how much it changes from the centre to an edge
PREC_SPREAD = 0.35  # of the logarithm of a month's precipitation factor
PREC_GRADIENT = 0.2

SEA = [(lat, lon) for lat in (44.5, 45.5, 46.5) for lon in (-7.5, -6.5, -5.5)]
MISSING_PREC = (2015, 6, 60.5, 10.5)
MISSING_TEMP = (2019, 1, 50.5, 30.5)


def read_normals(path):
    rows = {}
    with open(path, encoding="utf-8") as f:
        next(f)
        for line in f:
            fields = line.rstrip("\r\n").split("\t")
            if fields[0] in STATIONS:
                rows[fields[0]] = (float(fields[1]), [float(v) for v in fields[2:14]])
    return rows


def distance(lat1, lon1, lat2, lon2):
    p1, p2 = math.radians(lat1), math.radians(lat2)
    dl = math.radians(lon2 - lon1)
    c = math.sin(p1) * math.sin(p2) + math.cos(p1) * math.cos(p2) * math.cos(dl)
    return math.acos(max(-1.0, min(1.0, c)))


def interpolate(normals, lat, lon):
    weights, values = [], []
    for name, (slat, months) in normals.items():
        d = distance(lat, lon, slat, STATIONS[name])
        if d < 1e-9:
            return list(months)
        weights.append(1.0 / d**2)
        values.append(months)
    total = sum(weights)
    return [sum(w * v[m] for w, v in zip(weights, values)) / total for m in range(12)]


def main():
    temp_normals = read_normals(os.path.join(HERE, "allsites_temp.txt"))
    prec_normals = read_normals(os.path.join(HERE, "allsites_prec.txt"))
    rng = random.Random(SEED)
    ny, nx, nt = len(LATS), len(LONS), 12 * len(YEARS)
    temp = np.empty((nt, ny, nx))
    prec = np.empty((nt, ny, nx))
    base_t = [[interpolate(temp_normals, lat, lon) for lon in LONS] for lat in LATS]
    base_p = [[interpolate(prec_normals, lat, lon) for lon in LONS] for lat in LATS]
    # Position across the region, -1 to 1.
    yn = (LATS - LATS.mean()) / (LATS.max() - LATS.mean())
    xn = (LONS - LONS.mean()) / (LONS.max() - LONS.mean())
    k = 0
    for _year in YEARS:
        shift = rng.gauss(0.0, YEAR_SPREAD)
        for m in range(12):
            a, bx, by = (rng.gauss(0.0, MONTH_SPREAD), rng.gauss(0.0, GRADIENT_SPREAD), rng.gauss(0.0, GRADIENT_SPREAD))
            pa, px, py = (rng.gauss(0.0, PREC_SPREAD), rng.gauss(0.0, PREC_GRADIENT), rng.gauss(0.0, PREC_GRADIENT))
            for i in range(ny):
                for j in range(nx):
                    temp[k, i, j] = base_t[i][j][m] + shift + a + bx * xn[j] + by * yn[i]
                    prec[k, i, j] = round(base_p[i][j][m] * math.exp(pa + px * xn[j] + py * yn[i]), 1)
            k += 1

    time = np.array([np.datetime64(f"{y}-{m:02d}-01") for y in YEARS for m in range(1, 13)], dtype="datetime64[ns]")

    def cell(lat, lon):
        return int(np.argmin(abs(LATS - lat))), int(np.argmin(abs(LONS - lon)))

    for lat, lon in SEA:
        i, j = cell(lat, lon)
        temp[:, i, j] = np.nan
        prec[:, i, j] = np.nan
    year, month, lat, lon = MISSING_PREC
    prec[(year - YEARS[0]) * 12 + month - 1, cell(lat, lon)[0], cell(lat, lon)[1]] = np.nan
    year, month, lat, lon = MISSING_TEMP
    temp[(year - YEARS[0]) * 12 + month - 1, cell(lat, lon)[0], cell(lat, lon)[1]] = np.nan

    coords = {
        "time": ("time", time, {"standard_name": "time", "axis": "T"}),
        "lat": ("lat", LATS, {"standard_name": "latitude", "units": "degrees_north", "axis": "Y"}),
        "lon": ("lon", LONS, {"standard_name": "longitude", "units": "degrees_east", "axis": "X"}),
    }
    common = {
        "Conventions": "CF-1.8",
        "source": "examples/make_grid.py: station normals interpolated, with seeded synthetic anomalies",
        "comment": "Sample data for trying vadoset; not climate data.",
    }
    time_encoding = {"units": "days since 2011-01-01", "calendar": "standard", "dtype": "int32"}

    tas = xr.Dataset(
        {"tas": (("time", "lat", "lon"), temp + 273.15, {
            "standard_name": "air_temperature", "long_name": "monthly mean air temperature",
            "units": "K", "cell_methods": "time: mean"})},
        coords=coords, attrs={**common, "title": "Sample grid: monthly mean temperature"})
    pr = xr.Dataset(
        {"pr": (("time", "lat", "lon"), prec, {
            "standard_name": "precipitation_amount", "long_name": "monthly precipitation",
            "units": "kg m-2", "cell_methods": "time: sum"})},
        coords=coords, attrs={**common, "title": "Sample grid: monthly precipitation"})
    packed = {"dtype": "int16", "_FillValue": np.int16(-32768), "zlib": True, "complevel": 9}
    tas.to_netcdf(os.path.join(HERE, "grid_temp.nc"), engine="netcdf4", encoding={
        "tas": {**packed, "scale_factor": 0.01, "add_offset": 273.15}, "time": time_encoding})
    pr.to_netcdf(os.path.join(HERE, "grid_prec.nc"), engine="netcdf4", encoding={
        "pr": {"dtype": "float32", "_FillValue": np.float32(1e20), "zlib": True, "complevel": 9},
        "time": time_encoding})


if __name__ == "__main__":
    main()
