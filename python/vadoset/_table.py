"""Reading vadoset-cli's output table back."""

from __future__ import annotations

import csv
import io
import re

# Header names of a null report's columns, as the tool writes them and as
# people might rename them.
_REPORT_NAMES = {
    "line": ("line",),
    "identifier": ("identifier", "id", "year or site", "site"),
    "code": ("code", "reason_code"),
    "reason": ("reason", "reason_text", "text"),
}


def _read_text(path, encoding):
    with open(path, "rb") as f:
        data = f.read()
    # Identifiers are copied from the input files byte for byte: bytes that
    # are not valid in the encoding are kept (as lone surrogates).
    text = data.decode(encoding, errors="surrogateescape")
    if text.startswith("\ufeff"):
        text = text[1:]
    # CR (the tool's own), LF or CRLF, mixed even.
    return re.sub(r"\r\n?", "\n", text)


def read_table(path, null_report=None, *, encoding="utf-8"):
    """A ``vadoset-cli`` output table as a pandas DataFrame.

    Arguments:
        path: the table: a header line, then one row per record, fields
            separated by TAB, lines ended by CR, LF or CRLF.
        null_report: optional; the file of ``--null-report``, with a header
            line and one TAB-separated line per null row. Its columns are
            found by their header names: ``identifier`` (or ``id``),
            ``code`` (or ``reason_code``) and ``reason`` (the reason in
            words); others are ignored.
        encoding: of the identifiers (bytes not valid in it are kept).

    Returns a DataFrame indexed by the identifier (text, as written, never
    converted to a number; named as the header's first field, "Year or
    site"), with one float column per value column of the table, in order.
    A null row (``id<TAB>*``) is NaN throughout. With a null report the
    frame gains a ``null_reason`` column (the reason in words, "" for a
    computed row) and, when the report has codes, ``null_code``.
    """
    import numpy as np
    import pandas as pd

    text = _read_text(path, encoding)
    header, _, body = text.partition("\n")
    names = header.split("\t")
    if len(names) < 2 or len(set(names)) != len(names):
        raise ValueError(f"{path} is not a vadoset-cli table: its header line is {header[:80]!r}")
    frame = pd.read_csv(
        io.StringIO(body),
        sep="\t",
        header=None,
        names=names,
        # Everything as text: identifiers such as "NA" or "007" stay as
        # written, and the numbers are converted below by Python's own
        # correctly rounded conversion (pandas' is not, in every path), so
        # they read back to the same bits the tool wrote.
        dtype=str,
        na_filter=False,
        quoting=csv.QUOTE_NONE,
        skip_blank_lines=True,
    )
    frame = frame.set_index(names[0])
    for column in names[1:]:
        text = frame[column].to_numpy(dtype=object)
        # A null row is "*" and no more fields.
        text[pd.isna(text) | (text == "") | (text == "*")] = "nan"
        try:
            frame[column] = text.astype(str).astype(np.float64)
        except ValueError as e:
            raise ValueError(f"{path}: column {column} holds a value that is not a number ({e})") from None
    if null_report is not None:
        _join_null_report(frame, null_report, encoding)
    return frame


def _join_null_report(frame, path, encoding):
    lines = [line for line in _read_text(path, encoding).split("\n") if line != ""]
    if not lines:
        raise ValueError(f"null_report {path} is empty: it has no header line")
    header = [h.strip().lower() for h in lines[0].split("\t")]
    columns = {}
    for key, accepted in _REPORT_NAMES.items():
        for i, h in enumerate(header):
            if h in accepted:
                columns[key] = i
                break
    if "reason" not in columns:
        raise ValueError(f"null_report {path} has no 'reason' column (its header is {lines[0]!r})")
    entries = [line.split("\t") for line in lines[1:]]

    def field(entry, key):
        i = columns.get(key)
        return entry[i] if i is not None and i < len(entry) else ""

    # The report lists the null rows in the table's order.
    null_rows = frame.index[frame.iloc[:, 0].isna()]
    if len(entries) != len(null_rows):
        raise ValueError(
            f"null_report {path} lists {len(entries)} null rows but the table has {len(null_rows)}"
        )
    reasons = [""] * len(frame)
    codes = [""] * len(frame)
    positions = (frame.iloc[:, 0].isna()).to_numpy().nonzero()[0]
    for k, (entry, pos) in enumerate(zip(entries, positions)):
        ident = field(entry, "identifier")
        if "identifier" in columns and ident != frame.index[pos]:
            raise ValueError(
                f"null_report {path}: null row {k + 1} is {ident!r} in the report but {frame.index[pos]!r} in the table"
            )
        reasons[pos] = field(entry, "reason")
        codes[pos] = field(entry, "code")
    frame["null_reason"] = reasons
    if "code" in columns:
        frame["null_code"] = codes
