"""Vadoset: the annual climatic water balance of many sites or years.

Monthly potential evapotranspiration (Thornthwaite's method as modified by
Willmott et al.), then a daily snowpack and soil-water bucket that gives
actual evapotranspiration, surplus and deficit; the same engine, to the last
bit, as the ``vadoset-cli`` command-line tool.

- :func:`water_balance`: numpy arrays of records in, arrays out.
- :func:`read_table`: a ``vadoset-cli`` output table as a pandas DataFrame.
- ``vadoset.xarray.water_balance``: gridded monthly data (xarray, Dask).
- ``python3 -m vadoset.grid``: NetCDF files in, a NetCDF file out.
"""

import os as _os
import sys as _sys

# pyproj (projected grids, GeoTIFFs) looks for PROJ's data under the running
# Python's prefix: in a virtual environment over Debian's packages that is
# the venv, which has none, and every projection fails. Point it at the
# system's copy, unless the user chose one.
if (_sys.prefix != _sys.base_prefix and not {"PROJ_DATA", "PROJ_LIB"} & set(_os.environ)
        and not _os.path.isdir(_os.path.join(_sys.prefix, "share", "proj"))
        and _os.path.isfile(_os.path.join(_sys.base_prefix, "share", "proj", "proj.db"))):
    _os.environ["PROJ_DATA"] = _os.path.join(_sys.base_prefix, "share", "proj")

from ._balance import NULL_CODES, WaterBalance, water_balance
from ._checks import InputWarning
from ._climate import InputError
from ._table import read_table

__all__ = ["NULL_CODES", "InputError", "InputWarning", "WaterBalance", "read_table", "water_balance"]
__version__ = "0.1.0"


def __getattr__(name):
    # vadoset.xarray imports xarray, which takes a while: only when used.
    if name in ("xarray", "grid"):
        import importlib

        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
