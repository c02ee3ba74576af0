#!/usr/bin/env python3
"""Independent reference calculation of a whole Vadoset run.

Reads a temperature file and a precipitation file (tab-delimited, HCN or
CSV), computes monthly PET (Thornthwaite as modified by Willmott et al.),
runs the daily snow and soil-water bucket and prints the output table to
stdout, byte for byte as vadoset-cli writes it (TAB between fields, CR after
every line unless another line end is chosen, the column groups chosen).

This program is written separately from the C++ engine, on purpose: golden
tables are checked against it.  It uses only the standard library.  Every
arithmetic step is one IEEE double operation in the same order as the engine
documents, and math.exp/pow/sin/cos/acos call the same C library as the C++
code, so the two must agree to the last bit.
"""

import argparse
import math
import os
import re
import sys

INT32_MIN = -2147483648
INT32_MAX = 2147483647

MISSING_PPT = 9999
MISSING_TMEAN = 9999.0

DAYS_IN_MONTH = [0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]

# Solar declination near the middle of each month, radians.
DECLINATION = [
    0.0,
    -0.374329268,
    -0.231959485,
    -0.042826351,
    0.165449779,
    0.326011171,
    0.406337883,
    0.37810974,
    0.249923394,
    0.058515387,
    -0.143269334,
    -0.318990215,
    -0.405457073,
]

PI = 3.141592653589793
HOURS_PER_RADIAN = 7.639437268410976  # 24 / pi

FUNCTIONS = "ABCDEFGH"

TAB = b"\t"
CR = b"\r"


class UsageError(Exception):
    """The run cannot start; the message is shown to the user."""


# ---------------------------------------------------------------------------
# Numbers in and out


_NUMBER = re.compile(rb"[+-]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")


def parse_number(field):
    """The double a field holds, or None when it holds no number.

    Blanks (space, tab) around the number are allowed.  Only plain decimal
    notation counts: no inf/nan, no hex, no decimal comma, no trailing text.
    A value too large for a double is not a number either; one too small
    reads as the nearest double (0 or a subnormal).
    """
    text = field.strip(b" \t")
    if _NUMBER.fullmatch(text) is None:
        return None
    value = float(text)
    if math.isinf(value):
        return None
    return value


def to_int32(value):
    """Truncation toward zero; None when the result does not fit 32 bits."""
    if value != value or math.isinf(value):
        return None
    result = int(value)
    if result < INT32_MIN or result > INT32_MAX:
        return None
    return result


def format_double(value):
    """Shortest text that reads back as the same double.

    Same digits and layout as std::to_chars(first, last, double): the
    shorter of fixed and scientific notation, fixed when both are as long,
    exponent with a sign and at least two digits.
    """
    if value != value:
        return "nan" if math.copysign(1.0, value) > 0 else "-nan"
    sign = "-" if math.copysign(1.0, value) < 0 else ""
    if math.isinf(value):
        return sign + "inf"
    if value == 0.0:
        return sign + "0"
    text = repr(abs(value))
    if "e" in text:
        mantissa, exponent = text.split("e")
        exponent = int(exponent)
    else:
        mantissa, exponent = text, 0
    if "." in mantissa:
        whole, fraction = mantissa.split(".")
    else:
        whole, fraction = mantissa, ""
    digits = whole + fraction
    point = len(whole) + exponent  # value = 0.<digits> * 10**point
    stripped = digits.lstrip("0")
    point -= len(digits) - len(stripped)
    digits = stripped.rstrip("0")
    sci_exp = point - 1

    sci = digits[0]
    if len(digits) > 1:
        sci += "." + digits[1:]
    sci += "e" + ("-" if sci_exp < 0 else "+") + "%02d" % abs(sci_exp)

    if point <= 0:
        fixed = "0." + "0" * (-point) + digits
    elif point >= len(digits):
        # A whole number in fixed notation is written with all its exact
        # digits (they differ from the padded shortest digits above 2**53).
        fixed = str(int(abs(value)))
    else:
        fixed = digits[:point] + "." + digits[point:]

    return sign + (fixed if len(fixed) <= len(sci) else sci)


def safe_pow(base, exponent):
    try:
        return math.pow(base, exponent)
    except OverflowError:
        return math.inf
    except ValueError:
        return math.nan


def safe_exp(x):
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


# ---------------------------------------------------------------------------
# Input files


_LINE_END = re.compile(rb"\r\n|\r|\n")


def split_lines(data):
    """Lines of a file: CR, LF or CRLF end a line; a leading UTF-8 BOM is dropped."""
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    if not data:
        return []
    lines = _LINE_END.split(data)
    if lines[-1] == b"":
        lines.pop()  # the text after the last line end is no line
    return lines


def is_blank(line):
    return line.strip(b" \t") == b""


def tab_field(line, n):
    """Field n (from 1) of a tab-separated line, empty when the line has fewer."""
    fields = line.split(TAB)
    return fields[n - 1] if n <= len(fields) else b""


# CSV (RFC 4180).  A record is one line, or several while a quoted field is
# open; they are joined with LF.  A quote opens a quoted field only as the
# first character of a field, that is at the start of the record or after a
# comma or a semicolon (the separator is not known when records are cut).
# Joining stops once the record holds 16 MiB, so a stray quote cannot take
# the rest of a large file.

CSV_RECORD_CAP = 16 << 20


def csv_quote_open(line, inside):
    """Whether a quoted field is open at the end of line, given that one
    was open (inside=True) or not at its start."""
    at_start = not inside
    i = 0
    n = len(line)
    while i < n:
        c = line[i:i + 1]
        if inside:
            if c == b'"':
                if line[i + 1:i + 2] == b'"':
                    i += 1
                else:
                    inside = False
        elif c == b'"' and at_start:
            inside = True
        else:
            at_start = c in (b",", b";")
        i += 1
    return inside


def csv_fields(record, sep):
    """The values of a record's fields: quotes removed, "" read as one quote,
    text after a closing quote kept as it stands; an unclosed quote runs to
    the end of the record."""
    fields = []
    value = bytearray()
    i = 0
    n = len(record)
    state = "start"  # start, plain, quoted, after
    while i < n:
        c = record[i:i + 1]
        if state == "quoted":
            if c == b'"':
                if record[i + 1:i + 2] == b'"':
                    value += b'"'
                    i += 1
                else:
                    state = "after"
            else:
                value += c
        elif c == sep:
            fields.append(bytes(value))
            value = bytearray()
            state = "start"
        elif state == "start" and c == b'"':
            state = "quoted"
        else:
            value += c
            if state == "start":
                state = "plain"
        i += 1
    fields.append(bytes(value))
    return fields


def csv_layout(header):
    """(separator, decimal comma, field_capacity column or 0) from the
    precipitation file's header record."""
    if b";" in header and b"," not in header:
        sep, comma = b";", True
    else:
        sep, comma = b",", False
    column = 0
    for k, name in enumerate(csv_fields(header, sep), start=1):
        if name.strip(b" \t").lower() == b"field_capacity":
            column = k
            break
    return sep, comma, column


def csv_number_text(value, decimal_comma):
    return value.replace(b",", b".") if decimal_comma else value


def read_ppt(field, tab_format, keep_fraction=False):
    if field == b"-9999" or (tab_format and field == b"NA"):
        return MISSING_PPT
    value = parse_number(field)
    if value is None or value == -9999.0:
        return MISSING_PPT
    whole = to_int32(value)
    if whole is None or whole == MISSING_PPT:
        return MISSING_PPT
    return value if keep_fraction else whole


def read_tmean(field, tab_format):
    if field == b"-9999" or (tab_format and field == b"NA"):
        return MISSING_TMEAN
    value = parse_number(field)
    if value is None or value == -9999.0:
        return MISSING_TMEAN
    return value


class Record:
    def __init__(self):
        self.ident = b""
        self.latitude = None  # None: no valid latitude
        self.ppt = [0] * 13
        self.tmean = [0.0] * 13
        self.fc = None  # the record's own field capacity; None: the run's
        self.fc_invalid = False


def read_fc(text, rec):
    """A record's own field capacity: whole millimetres, at least 1; a blank
    cell, or none where the line ends sooner, makes the record null."""
    value = parse_number(text)
    whole = None if value is None else to_int32(value)
    if whole is None or whole < 1:
        rec.fc_invalid = True
    else:
        rec.fc = whole


class Reading:
    """How a run reads its records."""

    def __init__(self, fmt="tab", latitude=44.47, keep_fraction=False, fc_field=0):
        self.fmt = fmt
        self.latitude = latitude
        self.keep_fraction = keep_fraction
        self.fc_field = fc_field
        # CSV: from the precipitation file's header
        self.sep = b","
        self.decimal_comma = False
        self.fc_column = 0


def read_record(pline, tline, hcn, hcn_latitude, reading=None):
    reading = reading or Reading("hcn" if hcn else "tab", hcn_latitude)
    keep = reading.keep_fraction
    rec = Record()
    if reading.fmt == "hcn":
        rec.latitude = reading.latitude
        rec.ident = pline[12:16]
        for m in range(1, 13):
            start = 16 + 5 * (m - 1)
            rec.ppt[m] = read_ppt(pline[start:start + 5], False, keep)
            rec.tmean[m] = read_tmean(tline[start:start + 5], False)
    elif reading.fmt == "csv":
        pf = csv_fields(pline, reading.sep)
        tf = csv_fields(tline, reading.sep)
        get = lambda fields, n: fields[n - 1] if n <= len(fields) else b""  # noqa: E731
        number = lambda text: csv_number_text(text, reading.decimal_comma)  # noqa: E731
        rec.ident = bytes(b if b not in b"\t\r\n" else 32 for b in get(pf, 1))
        lat = parse_number(number(get(pf, 2)))
        if lat is not None and -90.0 <= lat <= 90.0:
            rec.latitude = lat
        for m in range(1, 13):
            rec.ppt[m] = read_ppt(number(get(pf, m + 2)), True, keep)
            rec.tmean[m] = read_tmean(number(get(tf, m + 2)), True)
        column = reading.fc_column or reading.fc_field
        if column:
            read_fc(number(get(pf, column)), rec)
    else:
        rec.ident = tab_field(pline, 1)
        lat = parse_number(tab_field(pline, 2))
        if lat is not None and -90.0 <= lat <= 90.0:
            rec.latitude = lat
        for m in range(1, 13):
            rec.ppt[m] = read_ppt(tab_field(pline, m + 2), True, keep)
            rec.tmean[m] = read_tmean(tab_field(tline, m + 2), True)
        if reading.fc_field:
            read_fc(tab_field(pline, reading.fc_field), rec)
    return rec


def has_missing_month(rec):
    for m in range(1, 13):
        if rec.ppt[m] == MISSING_PPT or rec.tmean[m] == MISSING_TMEAN:
            return True
    return False


def beyond_pet_range(rec, hcn):
    """True when a month is so hot (above about 58.4 C) that the hot-month
    formula gives negative PET: such a record is a null row."""
    for m in range(1, 13):
        t = rec.tmean[m] / 10.0 if hcn else rec.tmean[m]
        if t >= 26.5 and (-415.85 + 32.24 * t) - (0.43 * t) * t < 0.0:
            return True
    return False


# ---------------------------------------------------------------------------
# Potential evapotranspiration


def day_length(latitude, month):
    d = DECLINATION[month]
    s = math.sin((latitude * PI) / 180.0) * math.sin(d)
    c = math.cos((latitude * PI) / 180.0) * math.cos(d)
    x = s / c
    # Beyond the polar circles the sun does not set (x > 1) or rise (x < -1).
    if x > 1.0:
        x = 1.0
    elif x < -1.0:
        x = -1.0
    return 24.0 - HOURS_PER_RADIAN * math.acos(x)


def run_pet(tmean, latitude, hcn):
    """Monthly PET, mm.  In the HCN format tmean is turned into degrees in place."""
    heat_index = 0.0
    hours = [0.0] * 13
    for m in range(1, 13):
        if hcn:
            tmean[m] = tmean[m] / 10.0
        hours[m] = day_length(latitude, m)
        if tmean[m] > 0.0:
            heat_index = heat_index + safe_pow(tmean[m] / 5.0, 1.514)

    a = ((6.75e-07 * safe_pow(heat_index, 3.0) - 7.71e-05 * safe_pow(heat_index, 2.0))
         + 0.0179 * heat_index) + 0.49

    pet = [0.0] * 13
    for m in range(1, 13):
        t = tmean[m]
        if t < 0.0:
            value = 0.0
        elif t < 26.5:
            if heat_index == 0.0:
                value = 0.0  # no month above freezing: no 0/0
            else:
                value = 16.0 * safe_pow((10.0 * t) / heat_index, a)
        else:
            value = (-415.85 + 32.24 * t) - (0.43 * t) * t
        value = (value * (float(DAYS_IN_MONTH[m]) / 30.0)) * (hours[m] / 12.0)
        pet[m] = value
    return pet


# ---------------------------------------------------------------------------
# Declining availability


def availability(x, variant):
    result = 0.0
    if variant == 0:
        result = 1.0
    elif variant == 1:
        p = -6.68 * x
        e = safe_exp(p)
        result = 1.0 - e
    elif variant in (3, 4, 5):
        a, c = {3: (5.0, 0.7), 4: (4.0, 0.5), 5: (3.0, 0.3)}[variant]
        q = x / c
        r = 1.0 - q
        p = (-a) * r
        e1 = safe_exp(p)
        e2 = safe_exp(-a)
        result = e1 - e2
        if 1.0 < result:
            result = 1.0
    elif variant == 2:
        result = x
    elif variant in (6, 7):
        c = 0.7 if variant == 6 else 0.5
        result = x / c
        if 1.0 < result:
            result = 1.0
    return result


# ---------------------------------------------------------------------------
# Daily bucket


class Bucket:
    """Soil water and snow carried between records, and the run's flags."""

    def __init__(self, fc, variant, carryover, hcn, keep_fraction=False):
        self.fc = fc
        self.variant = variant
        self.carryover = carryover
        self.hcn = hcn
        self.keep_fraction = keep_fraction
        self.year_one = False
        self.current_w = 0.0
        self.current_ws = 0.0
        self.passes = 0  # passes taken by the last record, for the tests
        # soil water and snowpack at the end of each month of the last pass
        self.soil_end = [0.0] * 13
        self.snow_end = [0.0] * 13

    def run(self, tmean, ppt, pet, fc=None):
        """Returns (E, Surplus, null).  fc: the record's own field capacity."""
        fc = float(self.fc if fc is None else fc)
        w = [0.0] * 366
        ws = [0.0] * 366
        w[0] = fc
        ws[0] = 0.0
        if self.carryover:
            w[0] = self.current_w
            ws[0] = self.current_ws
        if self.hcn:
            for m in range(1, 13):
                if self.keep_fraction:
                    ppt[m] = float(ppt[m]) / 10.0
                else:
                    ppt[m] = to_int32(float(ppt[m]) / 10.0)

        e_out = [0.0] * 13
        surplus_out = [0.0] * 13
        passes = 0
        while True:
            k = 0
            year_melt = 0.0
            year_snow = 0.0
            for m in range(1, 13):
                t = tmean[m]
                days = DAYS_IN_MONTH[m]
                month_melt = 0.0
                month_snow = 0.0
                month_surplus = 0.0
                if t < -1.0:
                    snow = float(ppt[m]) / float(days)
                    rain = 0.0
                else:
                    snow = 0.0
                    rain = float(ppt[m]) / float(days)
                if not (t < 0.0):
                    a = 2.55 * t
                    b = 2.63 + a
                    c = 0.0912 * t
                    d = c * rain
                    melt = b + d
                else:
                    melt = 0.0
                pet_day = pet[m] / float(days)
                for _ in range(days):
                    k += 1
                    if ws[k - 1] + snow < melt:
                        melt = ws[k - 1] + snow
                    ws[k] = (ws[k - 1] + snow) - melt
                    balance = (melt + rain) - pet_day
                    if balance < 0.0:
                        factor = availability(w[k - 1] / fc, self.variant)
                    else:
                        factor = 1.0
                    w[k] = w[k - 1] + factor * balance
                    if fc < w[k]:
                        day_surplus = w[k] - fc
                        w[k] = fc
                    else:
                        day_surplus = 0.0
                    month_melt = month_melt + melt
                    month_surplus = month_surplus + day_surplus
                    month_snow = month_snow + snow
                e = (((rain * float(days)) + month_melt) - (w[k] - w[k - days])) - month_surplus
                year_melt = year_melt + month_melt
                year_snow = year_snow + month_snow
                if e < 1e-10:
                    e = 0.0
                e_out[m] = e
                surplus_out[m] = month_surplus
                self.soil_end[m] = w[k]
                self.snow_end[m] = ws[k]

            if self.year_one or not self.carryover:
                if passes > 0 and abs(w[365] - w[0]) < 1.0 and abs(ws[365] - ws[0]) < 1.0:
                    self.year_one = False
                    if self.carryover:
                        self.current_w = w[365]
                        self.current_ws = ws[365]
                    self.passes = passes + 1
                    return e_out, surplus_out, False
                if year_snow - year_melt > 2.0 and passes > 1:
                    self.year_one = False
                    self.passes = passes + 1
                    return e_out, surplus_out, True
                if passes == 1001:
                    self.year_one = False
                    self.passes = passes + 1
                    return e_out, surplus_out, True
                w[0] = w[365]
                ws[0] = ws[365]
                passes += 1
            else:
                self.current_w = w[365]
                self.current_ws = ws[365]
                self.passes = 1
                return e_out, surplus_out, False


# ---------------------------------------------------------------------------
# Output table


GROUPS = ("classic", "deficit", "soil", "snow", "precip")
LINE_ENDS = {"cr": b"\r", "lf": b"\n", "crlf": b"\r\n"}


def month_names(prefix):
    return [prefix + b"%02d" % m for m in range(1, 13)]


def group_names(group):
    if group == "classic":
        return month_names(b"PET_") + month_names(b"AET_") + month_names(b"SURPLUS_") + \
            [b"PET", b"AET", b"SURPLUS"]
    if group == "deficit":
        return month_names(b"DEFICIT_") + [b"DEFICIT"]
    return month_names(group.upper().encode() + b"_")


def group_values(group, pet, e, surplus, soil, snow, ppt):
    if group == "classic":
        sum_aet = 0.0
        sum_pet = 0.0
        sum_surplus = 0.0
        for m in range(1, 13):
            sum_aet = sum_aet + e[m]
            sum_pet = sum_pet + pet[m]
            sum_surplus = sum_surplus + surplus[m]
        return pet[1:] + e[1:] + surplus[1:] + [sum_pet, sum_aet, sum_surplus]
    if group == "deficit":
        deficit = [pet[m] - e[m] for m in range(1, 13)]
        total = 0.0
        for d in deficit:
            total = total + d
        return deficit + [total]
    if group == "soil":
        return soil[1:]
    if group == "snow":
        return snow[1:]
    return [float(v) for v in ppt[1:]]


def unique_groups(groups):
    """The groups in the order given, each once."""
    out = []
    for g in groups:
        if g not in out:
            out.append(g)
    return out


def header_line(groups=("classic",), end=CR):
    names = [b"Year or site"]
    for g in unique_groups(groups):
        names += group_names(g)
    return TAB.join(names) + end


def data_row(ident, pet, e, surplus, groups=("classic",), end=CR, soil=None, snow=None, ppt=None):
    values = []
    for g in unique_groups(groups):
        values += group_values(g, pet, e, surplus, soil, snow, ppt)
    return TAB.join([ident] + [format_double(v).encode("ascii") for v in values]) + end


def null_row(ident, end=CR):
    return ident + TAB + b"*" + end


# ---------------------------------------------------------------------------
# A whole run


def cut_records(lines, csv):
    """(header, records) of a file's lines: the first record is the header;
    records end where only blank lines are left."""
    if not csv:
        records = lines[:]
    else:
        records = []
        i = 0
        while i < len(lines):
            if i > 0 and all(is_blank(l) for l in lines[i:]):
                break
            record = lines[i]
            i += 1
            inside = csv_quote_open(record, False)
            while inside and len(record) < CSV_RECORD_CAP and i < len(lines):
                record = record + b"\n" + lines[i]
                inside = csv_quote_open(lines[i], True)
                i += 1
            records.append(record)
    header = records[0] if records else b""
    body = records[1:]
    while body and is_blank(body[-1]):
        body.pop()  # blank lines after the last record are not records
    return header, body


def run_tables(temp_data, prec_data, hcn=False, latitude=44.47, fc=100,
               variant=6, carryover=False, bucket=None, fmt=None, groups=("classic",),
               line_end=CR, keep_fraction=False, fc_field=0):
    """The output table for the contents of the two files, as bytes.

    The inputs are already checked; see check_settings() for the checks
    that can refuse a run.
    """
    fmt = fmt or ("hcn" if hcn else "tab")
    hcn = fmt == "hcn"
    csv = fmt == "csv"
    prec_header, records = cut_records(split_lines(prec_data), csv)
    _, temps = cut_records(split_lines(temp_data), csv)
    reading = Reading(fmt, latitude, keep_fraction, fc_field)
    if csv:
        reading.sep, reading.decimal_comma, reading.fc_column = csv_layout(prec_header)

    if bucket is None:
        bucket = Bucket(fc, variant, carryover, hcn, keep_fraction)
    out = [header_line(groups, line_end)]
    for i, pline in enumerate(records):
        tline = temps[i] if i < len(temps) else b""
        rec = read_record(pline, tline, hcn, latitude, reading)
        if i == 0:
            bucket.year_one = True
        if (rec.latitude is None or has_missing_month(rec) or beyond_pet_range(rec, hcn)
                or rec.fc_invalid):
            out.append(null_row(rec.ident, line_end))
            continue
        pet = run_pet(rec.tmean, rec.latitude, hcn)
        e, surplus, null = bucket.run(rec.tmean, rec.ppt, pet, rec.fc)
        if null:
            out.append(null_row(rec.ident, line_end))
        else:
            out.append(data_row(rec.ident, pet, e, surplus, groups, line_end,
                                bucket.soil_end, bucket.snow_end, rec.ppt))
    return b"".join(out)


def check_settings(temp_path, prec_path, fmt, latitude_text, fc_text):
    """Refuses a run the way vadoset-cli does; returns (latitude, fc, temp, prec)."""
    messages = []
    prec_data = temp_data = None
    for path, which in ((prec_path, "prec"), (temp_path, "temp")):
        if os.path.isfile(path):
            with open(path, "rb") as f:
                data = f.read()
            if which == "prec":
                prec_data = data
            else:
                temp_data = data
        else:
            messages.append("The file %s doesn't exist." % path)

    fc = None
    fc_value = parse_number(fc_text.encode("utf-8", "surrogateescape"))
    if fc_value is not None:
        fc = to_int32(fc_value)
    if fc is None or fc < 1:
        messages.append("Field capacity must be a positive number of millimetres.")

    latitude = None
    if fmt == "hcn":
        latitude = parse_number(latitude_text.encode("utf-8", "surrogateescape"))
        if latitude is None or not -90.0 <= latitude <= 90.0:
            messages.append("Latitude must be a number of decimal degrees from -90 to 90.")

    if fmt == "hcn" and prec_data is not None and temp_data is not None:
        prec_lines = split_lines(prec_data)
        temp_lines = split_lines(temp_data)
        hint = "%s: its first line does not start with HCN. Choose --format tab or csv."
        if not (prec_lines and prec_lines[0][:3] == b"HCN"):
            messages += ["Precip file not an HCN format file", hint % prec_path]
        if not (temp_lines and temp_lines[0][:3] == b"HCN"):
            messages += ["Temp file not an HCN format file", hint % temp_path]

    if messages:
        raise UsageError("\n".join(messages))
    return latitude, fc, temp_data, prec_data


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Reference calculation of the Vadoset output table (written to stdout).")
    parser.add_argument("-t", "--temperature", required=True, help="monthly mean temperature file")
    parser.add_argument("-p", "--precipitation", required=True, help="monthly precipitation file")
    parser.add_argument("--format", choices=("tab", "hcn", "csv"), default="tab")
    parser.add_argument("--latitude", default="44.47",
                        help="latitude of every record in the HCN format (default 44.47)")
    parser.add_argument("--field-capacity", default="100", help="mm (default 100)")
    parser.add_argument("--function", choices=list(FUNCTIONS), default="G",
                        help="declining availability function (default G)")
    parser.add_argument("--carryover", action="store_true",
                        help="carry soil water over from December to the next record's January")
    parser.add_argument("--columns", default="classic",
                        help="column groups, comma-separated: " + ",".join(GROUPS))
    parser.add_argument("--line-ending", choices=sorted(LINE_ENDS), default="cr")
    parser.add_argument("--keep-precipitation-fraction", action="store_true",
                        help="use precipitation with its decimals")
    parser.add_argument("--field-capacity-field", type=int, default=0,
                        help="field N (from 1) of a precipitation line holds the record's "
                             "own field capacity")
    parser.add_argument("-o", "--output", default="-", help="output file (default: stdout)")
    args = parser.parse_args(argv)
    groups = args.columns.split(",")
    if not groups or any(g not in GROUPS for g in groups):
        parser.error("--columns takes a list of " + ", ".join(GROUPS))
    if args.field_capacity_field < 0:
        parser.error("--field-capacity-field takes a field number from 1")

    try:
        latitude, fc, temp_data, prec_data = check_settings(
            args.temperature, args.precipitation, args.format, args.latitude,
            args.field_capacity)
    except UsageError as err:
        sys.stderr.write(str(err) + "\n")
        return 1

    table = run_tables(temp_data, prec_data, latitude=latitude, fc=fc,
                       variant=FUNCTIONS.index(args.function), carryover=args.carryover,
                       fmt=args.format, groups=groups, line_end=LINE_ENDS[args.line_ending],
                       keep_fraction=args.keep_precipitation_fraction,
                       fc_field=args.field_capacity_field)
    if args.output == "-":
        sys.stdout.buffer.write(table)
        sys.stdout.buffer.flush()
    else:
        with open(args.output, "wb") as f:
            f.write(table)
    return 0


if __name__ == "__main__":
    sys.exit(main())
