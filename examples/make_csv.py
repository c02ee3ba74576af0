#!/usr/bin/env python3
"""Writes the CSV copies of the 23-station sample next to this script.

    allsites_temp.csv, allsites_prec.csv
        commas, every text field quoted, CRLF line ends (as RFC 4180 has it)
    allsites_temp_semicolon.csv, allsites_prec_semicolon.csv
        semicolons and decimal commas, a UTF-8 byte-order mark, CRLF line
        ends and an empty cell for a missing month, as a spreadsheet in a
        locale with a decimal comma saves them

They hold the same stations and values as allsites_temp.txt and
allsites_prec.txt, so `--format csv` on either pair gives the same table as
the tab-delimited files.  Run it again after changing those:

    python3 examples/make_csv.py
"""

import os

HERE = os.path.dirname(os.path.abspath(__file__))


def quote(text):
    return '"' + text.replace('"', '""') + '"'


def is_number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def convert(name):
    with open(os.path.join(HERE, name + ".txt"), encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    header, records = rows[0], rows[1:]

    comma = [",".join(quote(h) for h in header)]
    for r in records:
        # The identifier is text; a missing month keeps its NA, as text.
        comma.append(",".join([quote(r[0])] + [v if is_number(v) else quote(v) for v in r[1:]]))

    semicolon = [";".join(header)]
    for r in records:
        values = [v.replace(".", ",") if is_number(v) else "" for v in r[1:]]
        semicolon.append(";".join([quote(r[0])] + values))

    for suffix, lines, bom in (("", comma, ""), ("_semicolon", semicolon, "\ufeff")):
        with open(os.path.join(HERE, name + suffix + ".csv"), "w", encoding="utf-8", newline="") as f:
            f.write(bom + "\r\n".join(lines) + "\r\n")


if __name__ == "__main__":
    convert("allsites_temp")
    convert("allsites_prec")
