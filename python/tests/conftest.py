import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"


def _cli_path():
    path = os.environ.get("VADOSET_CLI") or str(REPO / "build" / "ci" / "bin" / "vadoset-cli")
    return path if os.access(path, os.X_OK) else None


@pytest.fixture(scope="session")
def cli():
    """Runs vadoset-cli on a pair of tab files; returns the table's path."""
    path = _cli_path()
    if path is None:
        if os.environ.get("VADOSET_REQUIRE_CLI"):
            pytest.fail("vadoset-cli not found: VADOSET_CLI is not an executable")
        pytest.skip("vadoset-cli not found: set VADOSET_CLI or build the ci preset (scripts/test-python.sh does)")
    help_text = subprocess.run([path, "--help"], capture_output=True, text=True, check=True).stdout

    def run(temp, prec, out, *options):
        subprocess.run([path, "-t", str(temp), "-p", str(prec), "-o", str(out), "--quiet", *options], check=True)
        return out

    run.supports = lambda option: option in help_text
    return run


def read_tab(path):
    """A tab-delimited input file as the model sees its numbers: ids,
    latitudes and the 12 months ("NA" is NaN)."""
    ids, lat, months = [], [], []
    with open(path, encoding="utf-8", newline="") as f:
        next(f)
        for line in f:
            fields = line.rstrip("\r\n").split("\t")
            ids.append(fields[0])
            lat.append(float(fields[1]) if fields[1] != "NA" else np.nan)
            months.append([float(v) if v != "NA" else np.nan for v in fields[2:14]])
    return ids, np.array(lat), np.array(months)


def write_tab(path, ids, lat, months):
    def text(v):
        # As people's files hold numbers: 91, not 91.0.
        return "NA" if np.isnan(v) else repr(float(v)).removesuffix(".0")

    with open(path, "w", encoding="utf-8") as f:
        f.write("Site\tLat" + "".join(f"\tM{m + 1}" for m in range(12)) + "\n")
        for i, la, row in zip(ids, lat, months):
            f.write("\t".join([i, text(la), *(text(v) for v in row)]) + "\n")


def bits(a):
    """The values' bit patterns, NaNs all alike, for exact comparison."""
    a = np.asarray(a, dtype=np.float64).copy()
    a[np.isnan(a)] = np.nan
    return a.view(np.uint64)
