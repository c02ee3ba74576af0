#!/usr/bin/env python3
"""Compare two Vadoset output tables field by field.

    compare_tables.py A B [--all]

Fields must be equal as text.  Where both fields are numbers the parsed
doubles are compared too, and the distance in units in the last place is
shown, so a reader sees at once whether two tables differ in layout, in
the last bit of a value or in substance.  Line ends are part of the table
(every line ends with CR alone) and are compared as well.

Exit status: 0 when the tables are identical, 1 on any difference, 2 when a
file cannot be read.
"""

import argparse
import re
import struct
import sys

_NUMBER = re.compile(r"[+-]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|[+-]?(?:inf|nan)")
_LINE = re.compile(rb"([^\r\n]*)(\r\n|\r|\n|\Z)")


def split_lines(data):
    """(text, terminator) pairs; the terminator is b'' only for a last unended line."""
    lines = []
    pos = 0
    while pos < len(data):
        m = _LINE.match(data, pos)
        lines.append((m.group(1), m.group(2)))
        pos = m.end()
    return lines


def as_number(text):
    return float(text) if _NUMBER.fullmatch(text) else None


def ulp_distance(a, b):
    """Number of doubles between a and b (0 when equal)."""
    if a != a or b != b:
        return None

    def key(x):
        bits = struct.unpack("<q", struct.pack("<d", x))[0]
        return bits if bits >= 0 else -(bits & 0x7FFFFFFFFFFFFFFF)

    return abs(key(a) - key(b))


def describe(text):
    return repr(text.decode("utf-8", "backslashreplace"))


def compare(data_a, data_b, name_a="A", name_b="B"):
    """List of difference messages, in table order."""
    diffs = []
    lines_a = split_lines(data_a)
    lines_b = split_lines(data_b)
    header = lines_a[0][0].split(b"\t") if lines_a else []

    for n in range(max(len(lines_a), len(lines_b))):
        where = "line %d" % (n + 1)
        if n >= len(lines_a) or n >= len(lines_b):
            extra_name, lines = (name_b, lines_b) if n >= len(lines_a) else (name_a, lines_a)
            diffs.append("%s: only %s has this line: %s" % (where, extra_name, describe(lines[n][0])))
            continue
        text_a, end_a = lines_a[n]
        text_b, end_b = lines_b[n]
        fields_a = text_a.split(b"\t")
        fields_b = text_b.split(b"\t")
        if n > 0:
            where += " (record %s)" % describe(fields_a[0])
        if len(fields_a) != len(fields_b):
            diffs.append("%s: %s has %d fields, %s has %d" % (
                where, name_a, len(fields_a), name_b, len(fields_b)))
        for i in range(min(len(fields_a), len(fields_b))):
            fa, fb = fields_a[i], fields_b[i]
            if fa == fb:
                continue
            column = "column %d" % (i + 1)
            if n > 0 and i < len(header):
                column += " %s" % header[i].decode("utf-8", "backslashreplace")
            msg = "%s, %s: %s=%s %s=%s" % (where, column, name_a, describe(fa), name_b, describe(fb))
            va = as_number(fa.decode("ascii", "replace"))
            vb = as_number(fb.decode("ascii", "replace"))
            if va is not None and vb is not None:
                if va == vb:
                    msg += " (same double, different text)"
                else:
                    ulps = ulp_distance(va, vb)
                    scale = max(abs(va), abs(vb))
                    rel = abs(va - vb) / scale if scale else 0.0
                    msg += " (differ by %s ulp, relative %.3g)" % (ulps, rel)
            diffs.append(msg)
        if end_a != end_b:
            diffs.append("%s: line end %r in %s, %r in %s" % (where, end_a, name_a, end_b, name_b))
    return diffs


def main(argv=None):
    parser = argparse.ArgumentParser(description="Compare two Vadoset output tables.")
    parser.add_argument("a")
    parser.add_argument("b")
    parser.add_argument("--all", action="store_true", help="list every difference, not just the first")
    args = parser.parse_args(argv)
    try:
        with open(args.a, "rb") as f:
            data_a = f.read()
        with open(args.b, "rb") as f:
            data_b = f.read()
    except OSError as err:
        sys.stderr.write("%s\n" % err)
        return 2
    if data_a == data_b:
        return 0
    diffs = compare(data_a, data_b, args.a, args.b)
    if not diffs:
        diffs = ["the files differ in bytes that the comparison does not explain"]
    for msg in diffs if args.all else diffs[:1]:
        print(msg)
    if not args.all and len(diffs) > 1:
        print("... %d differences in all (--all lists them)" % len(diffs))
    return 1


if __name__ == "__main__":
    sys.exit(main())
