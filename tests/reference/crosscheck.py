#!/usr/bin/env python3
"""Run vadoset-cli and the reference calculation side by side and compare.

    python3 tests/reference/crosscheck.py [--cli PATH] [--fuzz N] [--keep DIR]

Cases: the sample data in examples/ under every availability function and
several field capacities and latitudes, in all three formats; the column
groups, line ends, precipitation with its fraction and each record's own
field capacity; small hand-made files for the input rules (line ends,
byte-order mark, blank lines, odd numbers, short lines, missing months,
invalid latitudes, CSV quoting and semicolons); runs that the tool must
refuse (same exit status and messages); and N random climates in random
formats and settings, with carry-over on and off.  Each table must be
identical byte for byte; the first difference of each failing case is shown.

The reference runs in this process (no interpreter start per case).
"""

import argparse
import contextlib
import glob
import io
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

import compare_tables  # noqa: E402
import vadoset_ref  # noqa: E402

EXAMPLES = os.path.join(ROOT, "examples")
MONTHS = "Jan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec"
TAB_HEADER = ("Site\tLat\t" + MONTHS).encode()


def find_cli():
    for pattern in ("build/*/bin/vadoset-cli", "build/*/src/cli/vadoset-cli"):
        hits = sorted(glob.glob(os.path.join(ROOT, pattern)))
        if hits:
            return hits[0]
    return None


def tab_file(lines, end=b"\n"):
    return end.join([TAB_HEADER] + lines) + end


def tab_line(ident, lat, values):
    return b"\t".join([ident, lat] + [v if isinstance(v, bytes) else str(v).encode() for v in values])


class Case:
    def __init__(self, name, temp, prec, options=(), refused=False):
        self.name = name
        self.temp = temp  # a path or bytes
        self.prec = prec
        self.options = list(options)
        self.refused = refused


def example_cases():
    ex = lambda name: os.path.join(EXAMPLES, name)  # noqa: E731
    cases = []
    for fn in "ABCDEFGH":
        for fc in ("100", "50", "300"):
            cases.append(Case("allsites %s fc=%s" % (fn, fc), ex("allsites_temp.txt"),
                              ex("allsites_prec.txt"), ["--function", fn, "--field-capacity", fc]))
    cases.append(Case("allsites carryover", ex("allsites_temp.txt"), ex("allsites_prec.txt"),
                      ["--carryover"]))
    for fn in "ABCDEFGH":
        cases.append(Case("hcn %s" % fn, ex("hcn_temp.txt"), ex("hcn_prec.txt"),
                          ["--format", "hcn", "--function", fn]))
    for lat in ("0", "-33.5", "66.5", "70", "89.99", "90", "-90", "1e1"):
        cases.append(Case("hcn latitude %s" % lat, ex("hcn_temp.txt"), ex("hcn_prec.txt"),
                          ["--format", "hcn", "--latitude", lat]))
    for fn in "ABCDEFGH":
        cases.append(Case("series %s" % fn, ex("series_temp.txt"), ex("series_prec.txt"),
                          ["--function", fn]))
        cases.append(Case("series carryover %s" % fn, ex("series_temp.txt"),
                          ex("series_prec.txt"), ["--carryover", "--function", fn]))
    cases.append(Case("series carryover fc=25", ex("series_temp.txt"), ex("series_prec.txt"),
                      ["--carryover", "--field-capacity", "25"]))
    cases.append(Case("hcn carryover", ex("hcn_temp.txt"), ex("hcn_prec.txt"),
                      ["--format", "hcn", "--carryover"]))
    for suffix in (".csv", "_semicolon.csv"):
        for fn in "ADG":
            cases.append(Case("allsites%s %s" % (suffix, fn), ex("allsites_temp" + suffix),
                              ex("allsites_prec" + suffix), ["--format", "csv", "--function", fn]))
        cases.append(Case("allsites%s carryover" % suffix, ex("allsites_temp" + suffix),
                          ex("allsites_prec" + suffix), ["--format", "csv", "--carryover"]))
    everything = "classic,deficit,soil,snow,precip"
    for columns, end in (("deficit", "cr"), ("soil,snow", "lf"), ("precip,classic,deficit", "crlf"),
                         (everything, "lf"), ("snow,snow,classic", "cr")):
        cases.append(Case("allsites --columns %s --line-ending %s" % (columns, end),
                          ex("allsites_temp.txt"), ex("allsites_prec.txt"),
                          ["--columns", columns, "--line-ending", end]))
    for carry in ([], ["--carryover"]):
        cases.append(Case("series all columns %s" % carry, ex("series_temp.txt"), ex("series_prec.txt"),
                          carry + ["--columns", everything, "--function", "D"]))
        cases.append(Case("series fraction kept %s" % carry, ex("series_temp.txt"),
                          ex("series_prec.txt"),
                          carry + ["--keep-precipitation-fraction", "--columns", "classic,precip"]))
        cases.append(Case("hcn fraction kept %s" % carry, ex("hcn_temp.txt"), ex("hcn_prec.txt"),
                          carry + ["--format", "hcn", "--keep-precipitation-fraction",
                                   "--columns", "precip,soil,snow", "--line-ending", "crlf"]))
        cases.append(Case("csv semicolon fraction kept %s" % carry, ex("allsites_temp_semicolon.csv"),
                          ex("allsites_prec_semicolon.csv"),
                          carry + ["--format", "csv", "--keep-precipitation-fraction",
                                   "--columns", everything]))
    return cases


WARM = [2.5, 4.0, 8.5, 13.0, 18.5, 23.0, 25.5, 24.5, 20.0, 13.5, 7.0, 3.0]
COLD = [-12.0, -10.5, -4.0, 5.5, 12.5, 17.5, 20.0, 18.5, 13.0, 6.5, -1.0, -8.5]
RAIN = [40, 35, 60, 80, 110, 120, 95, 90, 85, 70, 55, 45]


def input_rule_cases():
    cases = []
    base_t = [tab_line(b"site %d" % i, b"45", COLD if i % 2 else WARM) for i in range(4)]
    base_p = [tab_line(b"site %d" % i, b"45", RAIN) for i in range(4)]

    cases.append(Case("CRLF line ends and BOM", b"\xef\xbb\xbf" + tab_file(base_t, b"\r\n"),
                      b"\xef\xbb\xbf" + tab_file(base_p, b"\r\n")))
    cases.append(Case("CR line ends", tab_file(base_t, b"\r"), tab_file(base_p, b"\r")))
    cases.append(Case("mixed line ends, no final line end",
                      TAB_HEADER + b"\r" + base_t[0] + b"\n" + base_t[1] + b"\r\n" + base_t[2],
                      TAB_HEADER + b"\n" + base_p[0] + b"\r\n" + base_p[1] + b"\r" + base_p[2]))
    cases.append(Case("blank lines at the end", tab_file(base_t),
                      tab_file(base_p) + b"\n  \n\t\n\r\n"))
    cases.append(Case("blank line in the middle", tab_file(base_t),
                      tab_file(base_p[:2] + [b""] + base_p[2:])))
    cases.append(Case("blank-only line in the middle", tab_file(base_t),
                      tab_file(base_p[:2] + [b" \t "] + base_p[2:])))
    cases.append(Case("header-only precipitation", tab_file(base_t), TAB_HEADER + b"\n"))
    cases.append(Case("header without line end", tab_file(base_t), TAB_HEADER))
    cases.append(Case("empty precipitation file", tab_file(base_t), b""))
    cases.append(Case("temperature file shorter", tab_file(base_t[:2]), tab_file(base_p)))
    cases.append(Case("temperature file longer", tab_file(base_t), tab_file(base_p[:2])))
    cases.append(Case("short lines", tab_file([b"a\t45\t1\t2"] + base_t[1:]),
                      tab_file(base_p[:2] + [b"short\t45\t10\t20\t30"])))

    odd_numbers = [b" 12.5 ", b"+3", b".5", b"5.", b"1e1", b"12,5", b"inf", b"nan", b"0x10",
                   b"1e999", b"1e-999", b"-9999.0", b"9999", b"9999.0", b"9999.5", b"3000000000",
                   b"-0", b"NA ", b" NA", b"na", b"\t", b"", b"1.5e+1", b"-9999", b"2147483647",
                   b"-2147483648", b"2147483648", b"12.7", b"1e-320", b"4 5", b"\x0b5", b"--5",
                   b"1e", b".", b"+.5e-0", b"25.\t"]
    for i, text in enumerate(odd_numbers):
        t = [str(v).encode() for v in WARM]
        p = [str(v).encode() for v in RAIN]
        t_odd = list(t)
        t_odd[i % 12] = text
        p_odd = list(p)
        p_odd[(i + 5) % 12] = text
        name = b"odd %d %r" % (i, text)
        cases.append(Case("odd number %r in temperature" % text,
                          tab_file([tab_line(name, b"45", t_odd)]),
                          tab_file([tab_line(name, b"45", p)])))
        cases.append(Case("odd number %r in precipitation" % text,
                          tab_file([tab_line(name, b"45", t)]),
                          tab_file([tab_line(name, b"45", p_odd)])))
    lats = [b"91", b"-91", b"90", b"-90", b"90.0000001", b"abc", b"", b" 45 ", b"-0", b"1e1",
            b"66.56", b"-66.56", b"80", b"nan", b"+45"]
    cases.append(Case("latitudes", tab_file([tab_line(b"lat " + l, b"0", WARM) for l in lats]),
                      tab_file([tab_line(b"lat " + l, l, RAIN) for l in lats])))
    cases.append(Case("identifiers", tab_file([tab_line(b"x", b"45", WARM)] * 4),
                      tab_file([tab_line(i, b"45", RAIN) for i in
                                (b" padded ", b"", "Tromsø".encode(), b"\xff\xfe")])))

    edge_temps = [
        ("all below zero", [-5.0] * 12),
        ("below zero and exactly 0", [-5.0] * 6 + [0.0] + [-3.0] * 5),
        ("exactly 0, 26.5 and -1", [0.0, -1.0, 26.5, 26.4999, 30.0, 12.0, 15.0, 0.0001, -0.9999,
                                    -1.0001, 5.0, 2.0]),
        ("hot", [30.0] * 12),
        ("twenty", [20.0] * 12),
    ]
    for fn in "ABCDEFGH":
        cases.append(Case("edge temperatures %s" % fn,
                          tab_file([tab_line(n.encode(), b"0", t) for n, t in edge_temps]
                                   + [tab_line(n.encode() + b" N70", b"70", t) for n, t in edge_temps]),
                          tab_file([tab_line(n.encode(), b"0", RAIN) for n, _ in edge_temps]
                                   + [tab_line(n.encode() + b" N70", b"70", RAIN)
                                      for n, _ in edge_temps]),
                          ["--function", fn]))
    # Heat indices whose square from pow(I, 2.0) differs in the last bit from I * I
    # (an optimising compiler may turn one into the other).
    square = [(b"-17.59", b"25.6 27.662 17.20 17.600 18.8 14.74 13.366 15.7 16.055 17.93 20.5 23.025"),
              (b"-37.44", b"30.64 30.9 26.6 21.15 15.27 9.5 14.5 8.87 15.23 20.3 24.8 30.79")]
    cases.append(Case("heat index squared by pow",
                      tab_file([tab_line(b"sq%d" % i, lat, t.split()) for i, (lat, t) in enumerate(square)]),
                      tab_file([tab_line(b"sq%d" % i, lat, RAIN) for i, (lat, _) in enumerate(square)])))
    dry = [0] * 12
    cases.append(Case("dry under A (pass limit)", tab_file([tab_line(b"dry", b"30", WARM)]),
                      tab_file([tab_line(b"dry", b"30", dry)]), ["--function", "A"]))
    cases.append(Case("dry under every function, carry-over",
                      tab_file([tab_line(b"dry%d" % i, b"30", WARM) for i in range(3)]),
                      tab_file([tab_line(b"dry%d" % i, b"30", dry) for i in range(3)]),
                      ["--carryover", "--function", "A"]))
    cases.append(Case("first record missing, carry-over",
                      tab_file([tab_line(b"y%d" % i, b"45", COLD) for i in range(4)]),
                      tab_file([tab_line(b"y0", b"45", RAIN[:5] + [b"NA"] + RAIN[6:])]
                               + [tab_line(b"y%d" % i, b"45", RAIN) for i in range(1, 4)]),
                      ["--carryover"]))
    cases.append(Case("snow piles up, carry-over",
                      tab_file([tab_line(b"y%d" % i, b"45", [-10.0] * 12 if i == 0 else COLD)
                                for i in range(3)]),
                      tab_file([tab_line(b"y%d" % i, b"45", RAIN) for i in range(3)]),
                      ["--carryover"]))
    for fc in ("1", "100.9", "2.5e2", " 80 ", "2147483647"):
        cases.append(Case("field capacity %r" % fc, tab_file(base_t), tab_file(base_p),
                          ["--field-capacity", fc]))

    hcn_t = (b"HCN temperature\n"
             b"USW00014742 1999  -53   12  100  215  265  300  250  200  150  100    0  -10\n"
             b"short       2000  -53   12  100  215\n"
             b"USW00014742 2001  -53   12  100  215  265  300  250  200  150  100    0  -10 extra\n"
             b"USW00014742 2002   NA   12  100  215  265  300  250  200  150  100    0  -10\n"
             b"USW00014742 2003 -9999  12  100  215  265  300  250  200  150  100    0  -10\n"
             b"USW00014742 2004  -53   12  100  215  265  300  250  200  150  100    0  -10\n")
    hcn_p = (b"HCNp\n"
             b"USW00014742 1999  254    9  999 1000 1009  -15  400  500  600  700  800  900\n"
             b"USW00014742 2000  254    9  999 1000 1009  -15  400  500  600  700  800  900\n"
             b"USW00014742 2001  254    9  999 1000 1009  -15  400  500  600  700  800  900\n"
             b"USW00014742 2002  254    9  999 1000 1009  -15  400  500  600  700  800  900\n"
             b"USW00014742 2003  254    9  999 1000 1009  -15  400  500  600  700  800  900\n"
             b"USW0001474220 4  254    9 -9999 1000 1009  -15  400  500  600  700  800  900\n"
             b"USW00014742 20\n")
    cases.append(Case("hcn odd fields", hcn_t, hcn_p, ["--format", "hcn"]))
    cases.append(Case("hcn odd fields carry-over", hcn_t, hcn_p, ["--format", "hcn", "--carryover"]))
    cases.append(Case("hcn CRLF, BOM and blank lines at the end",
                      b"\xef\xbb\xbf" + hcn_t.replace(b"\n", b"\r\n"),
                      b"\xef\xbb\xbf" + hcn_p.replace(b"\n", b"\r\n") + b"     \r\n\r\n",
                      ["--format", "hcn"]))
    cases.append(Case("hcn CR line ends, short identifier lines", hcn_t.replace(b"\n", b"\r"),
                      b"HCN\rabc\r" + b" " * 12 + b"19\r" + hcn_p.split(b"\n", 1)[1].replace(b"\n", b"\r"),
                      ["--format", "hcn", "--latitude", "-12.5"]))
    return cases + csv_rule_cases() + own_field_capacity_cases()


def csv_line(ident, lat, values, sep=b","):
    return sep.join([ident, lat] + [v if isinstance(v, bytes) else str(v).encode() for v in values])


def csv_rule_cases():
    cases = []
    t = [csv_line(b"t%d" % i, b"0", COLD if i % 2 else WARM) for i in range(6)]
    p = [csv_line(b'"Oslo, ""Blindern"""', b"59.94", RAIN),
         csv_line(b'"two\r\nlines\tand a tab"', b'"45"', [b'"40" '] + RAIN[1:]),
         csv_line(b"plain", b"45", [b"", b"NA", b"NaN", b"-9999", b'"12,5"', b"9999"] + RAIN[6:]),
         csv_line(b'a"b', b"45", [b'"1"2'] + RAIN[1:]),
         b"",
         csv_line(b'"stray', b"45", RAIN)]
    body_t = b"Site,Lat\r\n" + b"\r\n".join(t) + b"\r\n"
    cases.append(Case("csv quoting", body_t, b"Site,Lat\r\n" + b"\r\n".join(p) + b"\r\n",
                      ["--format", "csv"]))
    cases.append(Case("csv quoting, CR line ends, BOM, carry-over",
                      b"\xef\xbb\xbf" + body_t.replace(b"\r\n", b"\r"),
                      b"\xef\xbb\xbf" + (b"Site,Lat\r" + b"\r".join(p[:4] + p[5:]) + b"\r\r  \r"),
                      ["--format", "csv", "--carryover"]))
    semi = [csv_line(b'"S\xc3\xa3o; Paulo"', b"-23,5", [b"12,7", b'"3,5"', b"4.5"] + RAIN[3:], b";"),
            csv_line(b"x", b"10", [b"1,2,3"] + RAIN[1:], b";")]
    semi_t = [csv_line(b"t", b"0", [str(v).replace(".", ",").encode() for v in WARM], b";")] * 2
    cases.append(Case("csv semicolons and decimal commas",
                      b"Site;Lat\n" + b"\n".join(semi_t) + b"\n", b"Site;Lat\n" + b"\n".join(semi) + b"\n",
                      ["--format", "csv", "--keep-precipitation-fraction"]))
    cases.append(Case("csv header with a quoted line break",
                      b'"Site\nname",Lat\n' + b"\n".join(t[:2]) + b"\n",
                      b'"Site\nname",Lat\n' + b"\n".join(p[:2]) + b"\n", ["--format", "csv"]))
    return cases


def own_field_capacity_cases():
    """Each record's own field capacity: field 15 of a tab-delimited
    precipitation line, or a CSV column named field_capacity."""
    cases = []
    capacities = [b"250", b"", b"50.9", b"0", b"-3", b"deep", b"1", b"0.5", b" 80 ", b"400"]
    temps = [tab_line(b"y%d" % i, b"45", COLD if i % 3 else WARM) for i in range(len(capacities))]
    precs = [tab_line(b"y%d" % i, b"45", RAIN + [fc]) for i, fc in enumerate(capacities)]
    for carry in ([], ["--carryover"]):
        cases.append(Case("tab field capacity field %s" % carry, tab_file(temps), tab_file(precs),
                          carry + ["--field-capacity-field", "15", "--columns", "classic,soil"]))
        csv_t = [csv_line(b"y%d" % i, b"45", COLD if i % 3 else WARM) for i in range(len(capacities))]
        csv_p = [csv_line(b"y%d" % i, b"45", RAIN + [fc]) for i, fc in enumerate(capacities)]
        cases.append(Case("csv field_capacity column %s" % carry,
                          b"Site,Lat\n" + b"\n".join(csv_t) + b"\n",
                          MONTHS.replace("\t", ",").join([b"Site,Lat,".decode(), '," FIELD_capacity "\n']).encode()
                          + b"\n".join(csv_p) + b"\n",
                          carry + ["--format", "csv", "--columns", "classic,soil,snow"]))
    return cases


def refused_cases():
    ex = lambda name: os.path.join(EXAMPLES, name)  # noqa: E731
    good_t, good_p = ex("allsites_temp.txt"), ex("allsites_prec.txt")
    missing = os.path.join(ROOT, "no such folder", "nothing.txt")
    cases = [
        Case("missing precipitation file", good_t, missing, refused=True),
        Case("missing temperature file", missing, good_p, refused=True),
        Case("both files missing", missing, missing + "2", refused=True),
        Case("tab files read as HCN", good_t, good_p, ["--format", "hcn"], refused=True),
        Case("HCN temperature only", ex("hcn_temp.txt"), good_p, ["--format", "hcn"],
             refused=True),
        Case("empty files as HCN", b"", b"", ["--format", "hcn"], refused=True),
        Case("lower-case hcn header", b"hcn\n", b"hcn\n", ["--format", "hcn"], refused=True),
    ]
    for fc in ("0", "0.99", "-5", "abc", "", "1e10", "nan", "inf"):
        cases.append(Case("field capacity %r" % fc, good_t, good_p, ["--field-capacity", fc],
                          refused=True))
    for lat in ("91", "-90.5", "north", "", "nan"):
        cases.append(Case("HCN latitude %r" % lat, ex("hcn_temp.txt"), ex("hcn_prec.txt"),
                          ["--format", "hcn", "--latitude", lat], refused=True))
    return cases


def random_climate(rng, n):
    temps, precs = [], []
    for i in range(n):
        lat = round(rng.uniform(-90, 90), rng.choice([0, 2, 4]))
        base = rng.uniform(-35, 30)
        amp = rng.uniform(0, 25) * (1 if lat >= 0 else -1)
        t = []
        for m in range(12):
            v = base - amp * (1 if m in (0, 1, 11) else 0.5 if m in (2, 10) else
                              -0.5 if m in (4, 8) else -1 if m in (5, 6, 7) else 0)
            v += rng.gauss(0, 2)
            r = rng.random()
            if r < 0.03:
                v = rng.choice([0.0, -1.0, 26.5, 0.0001, -0.0001])
            t.append(("%.*f" % (rng.choice([1, 1, 2, 3]), v)).encode())
        p = []
        for m in range(12):
            v = max(0.0, rng.expovariate(1 / rng.choice([5, 30, 80, 200])))
            p.append(("%.1f" % v).encode())
        ident = b"r%d" % i
        temps.append(tab_line(ident, str(lat).encode(), t))
        precs.append(tab_line(ident, str(lat).encode(), p))
    return tab_file(temps), tab_file(precs)


def as_csv(data, rng, sep):
    """A tab-delimited file rewritten as CSV: some fields quoted, a decimal
    comma with semicolons, random line ends."""
    end = rng.choice([b"\n", b"\r\n", b"\r"])
    out = []
    for line in data.split(b"\n"):
        if not line:
            continue
        fields = []
        for k, f in enumerate(line.split(b"\t")):
            if sep == b";":
                f = f.replace(b".", b",")
            if k == 0 or rng.random() < 0.1 or b"," in f and sep == b",":
                f = b'"' + f.replace(b'"', b'""') + b'"'
            fields.append(f)
        out.append(sep.join(fields))
    return end.join(out) + end


def fuzz_cases(count, seed):
    rng = random.Random(seed)
    cases = []
    per_file = 25
    groups = ["classic", "deficit", "soil", "snow", "precip"]
    for k in range(0, count, per_file):
        t, p = random_climate(rng, min(per_file, count - k))
        opts = ["--function", rng.choice("ABCDEFGH"),
                "--field-capacity", str(rng.choice([10, 50, 100, 150, 250, 400]))]
        # carry-over on and off in turn, so that both are always checked
        if (k // per_file) % 2 == 1:
            opts.append("--carryover")
        if rng.random() < 0.5:
            opts += ["--columns", ",".join(rng.sample(groups, rng.randint(1, 5)))]
        if rng.random() < 0.3:
            opts += ["--line-ending", rng.choice(["cr", "lf", "crlf"])]
        if rng.random() < 0.3:
            opts.append("--keep-precipitation-fraction")
        fmt = rng.choice(["tab", "tab", "csv", "semicolon"])
        if rng.random() < 0.3:
            # each record's own field capacity, some of them empty or invalid
            lines = p.split(b"\n")
            cells = [rng.choice([b"", b"0", b"x", b"%d" % rng.randint(1, 500), b"%.1f" % rng.uniform(1, 300)])
                     for _ in lines[1:]]
            p = b"\n".join([lines[0]] + [l + b"\t" + c if l else l for l, c in zip(lines[1:], cells)])
            if fmt == "tab":
                opts += ["--field-capacity-field", "15"]
            else:
                p = p.replace(b"Dec", b"Dec\tfield_capacity", 1)
        if fmt != "tab":
            sep = b";" if fmt == "semicolon" else b","
            t, p = as_csv(t, rng, sep), as_csv(p, rng, sep)
            opts += ["--format", "csv"]
        cases.append(Case("random climates %d-%d %s %s" % (k, k + per_file - 1, fmt, " ".join(opts)),
                          t, p, opts))
    return cases


def materialise(data, folder, name):
    if isinstance(data, str):
        return data
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


class Finished:
    def __init__(self, returncode, stderr):
        self.returncode = returncode
        self.stderr = stderr


def run_reference(args):
    """vadoset_ref.py's main() in this process: its exit status and messages."""
    err = io.StringIO()
    with contextlib.redirect_stderr(err):
        try:
            code = vadoset_ref.main(args)
        except SystemExit as stop:
            code = stop.code if isinstance(stop.code, int) else 1
    return Finished(code, err.getvalue().encode("utf-8", "surrogateescape"))


def run_case(cli, case, folder, index):
    temp = materialise(case.temp, folder, "case%d_temp.txt" % index)
    prec = materialise(case.prec, folder, "case%d_prec.txt" % index)
    out_cli = os.path.join(folder, "case%d_cli.txt" % index)
    out_ref = os.path.join(folder, "case%d_ref.txt" % index)
    common = ["-t", temp, "-p", prec] + case.options
    cli_run = subprocess.run([cli, "--quiet", "-o", out_cli] + common, capture_output=True)
    ref_run = run_reference(["-o", out_ref] + common)
    problems = []
    if case.refused:
        if ref_run.returncode != 1:
            problems.append("reference did not refuse the run (exit %d)" % ref_run.returncode)
        if cli_run.returncode != ref_run.returncode:
            problems.append("exit status: cli %d, reference %d" % (cli_run.returncode,
                                                                  ref_run.returncode))
        if sorted(cli_run.stderr.splitlines()) != sorted(ref_run.stderr.splitlines()):
            problems.append("messages: cli %r, reference %r" % (cli_run.stderr, ref_run.stderr))
        if os.path.exists(out_cli):
            problems.append("a refused run left an output file")
        return problems
    if ref_run.returncode != 0:
        return ["reference failed: %s" % ref_run.stderr.decode(errors="replace")]
    if cli_run.returncode != 0:
        return ["cli exit %d: %s" % (cli_run.returncode, cli_run.stderr.decode(errors="replace"))]
    with open(out_ref, "rb") as f:
        ref_table = f.read()
    with open(out_cli, "rb") as f:
        cli_table = f.read()
    if ref_table != cli_table:
        diffs = compare_tables.compare(ref_table, cli_table, "reference", "cli")
        problems.append(diffs[0] if diffs else "tables differ")
        if len(diffs) > 1:
            problems.append("(%d differences in all)" % len(diffs))
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=None, help="path of vadoset-cli (default: build/*/bin)")
    parser.add_argument("--fuzz", type=int, default=200, help="random climates (default 200)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", default=None, help="keep the files of the cases in this folder")
    args = parser.parse_args(argv)

    cli = args.cli or find_cli()
    if not cli or not os.path.exists(cli):
        sys.stderr.write("vadoset-cli not found; build it or pass --cli\n")
        return 2
    cases = example_cases() + input_rule_cases() + refused_cases() + fuzz_cases(args.fuzz,
                                                                               args.seed)
    folder = args.keep or tempfile.mkdtemp(prefix="vadoset-crosscheck-")
    os.makedirs(folder, exist_ok=True)
    passed = failed = 0
    for index, case in enumerate(cases):
        problems = run_case(cli, case, folder, index)
        if problems:
            failed += 1
            print("FAIL %s (case %d)" % (case.name, index))
            for p in problems:
                print("     " + p)
        else:
            passed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
