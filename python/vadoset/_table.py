"""Reading vadoset-cli's output table back."""

from __future__ import annotations

import csv
import io
import re

import numpy as np

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


class _LineEnds(io.RawIOBase):
    """A binary file read with every line end made LF: the tool writes CR
    alone, other tools CRLF or LF, and a table may mix them. Streams: a few
    MB at a time, so a table of any length reads in bounded memory."""

    BLOCK = 4 << 20

    def __init__(self, f):
        self.f = f
        self.pending = b""
        self.cr = False  # the last block ended in CR: a following LF is its pair

    def readable(self):
        return True

    def readinto(self, buffer):
        while not self.pending:
            block = self.f.read(self.BLOCK)
            if not block:
                return 0
            if self.cr and block.startswith(b"\n"):
                block = block[1:]
            self.cr = block.endswith(b"\r")
            self.pending = block.replace(b"\r\n", b"\n").replace(b"\r", b"\n")
        n = min(len(buffer), len(self.pending))
        buffer[:n] = self.pending[:n]
        self.pending = self.pending[n:]
        return n


def _open_text(path, encoding):
    raw = open(path, "rb")
    head = raw.peek(3)[:3] if hasattr(raw, "peek") else b""
    if head == b"\xef\xbb\xbf" and encoding.replace("-", "").lower() in ("utf8", "utf8sig"):
        raw.read(3)
    return io.TextIOWrapper(io.BufferedReader(_LineEnds(raw), 1 << 20), encoding=encoding,
                            errors="surrogateescape", newline="\n")


def read_table(path, null_report=None, *, encoding="utf-8", chunksize=200_000):
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
        chunksize: rows parsed at a time (the memory used beyond the
            result's own is about this many rows).

    Returns a DataFrame indexed by the identifier (text, as written, never
    converted to a number; named as the header's first field, "Year or
    site"), with one float column per value column of the table, in order.
    A null row (``id<TAB>*``) is NaN throughout. With a null report the
    frame gains a ``null_reason`` column (the reason in words, "" for a
    computed row) and, when the report has codes, ``null_code``.

    The file is read as a stream: a table of a million rows takes seconds
    and little more memory than the frame it gives.
    """
    import pandas as pd

    with _open_text(path, encoding) as f:
        header = f.readline().rstrip("\n")
        names = header.split("\t")
        if len(names) < 2 or len(set(names)) != len(names):
            raise ValueError(f"{path} is not a vadoset-cli table: its header line is {header[:80]!r}")
        reader = pd.read_csv(
            f,
            sep="\t",
            header=None,
            names=names,
            index_col=False,
            # The identifier stays text as written ("NA", "007"); a null
            # row's "*" is NaN. round_trip: Python's own correctly rounded
            # conversion, so every number reads back to the bits the tool
            # wrote (pandas' faster default is not exact in every case).
            dtype={names[0]: str, **{n: np.float64 for n in names[1:]}},
            keep_default_na=False,
            na_values={n: ["*", ""] for n in names[1:]},
            float_precision="round_trip",
            quoting=csv.QUOTE_NONE,
            skip_blank_lines=True,
            engine="c",
            chunksize=chunksize,
        )
        try:
            parts = list(reader)
        except ValueError as e:
            raise ValueError(f"{path}: {_first_bad(path, names, encoding) or 'a value column'} holds a value that "
                             f"is not a number ({e})") from None
    frame = pd.concat(parts) if parts else pd.DataFrame({n: pd.Series(dtype=str if k == 0 else np.float64)
                                                         for k, n in enumerate(names)})
    frame = frame.set_index(names[0])
    frame.index = frame.index.fillna("")
    if null_report is not None:
        _join_null_report(frame, null_report, encoding)
    return frame


def _first_bad(path, names, encoding):
    """The column and line of the first field that is no number (only when
    the fast read has failed)."""
    with _open_text(path, encoding) as f:
        f.readline()
        for line_number, line in enumerate(f, start=2):
            for name, text in zip(names[1:], line.rstrip("\n").split("\t")[1:]):
                if text in ("*", ""):
                    continue
                try:
                    float(text)
                except ValueError:
                    return f"column {name} (line {line_number}, {text[:20]!r})"
    return None


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
