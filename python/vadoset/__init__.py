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

from ._balance import NULL_CODES, WaterBalance, water_balance
from ._checks import InputError, InputWarning
from ._table import read_table

__all__ = ["NULL_CODES", "InputError", "InputWarning", "WaterBalance", "read_table", "water_balance"]
__version__ = "0.1.0"


def __getattr__(name):
    # vadoset.xarray imports xarray, which takes a while: only when used.
    if name in ("xarray", "grid"):
        import importlib

        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
