#!/usr/bin/python3
"""How the program's PET differs from a classic Thornthwaite PET.

Works out, for the stations of examples/allsites_*.txt, the figures quoted in
docs/model.md ("How it differs from a classic Thornthwaite PET"):

  1. Phoenix in July: heat index, the power law with Thornthwaite's exponent
     and with the program's, and the hot-month quadratic, before adjustment;
  2. how much the quadratic (26.5 degrees C and above) changes annual PET;
  3. how much the exponent's coefficients 0.0179 and 0.49 (instead of
     Thornthwaite's 0.01792 and 0.49239) change annual PET;
  4. how much the fixed mid-month declination table changes annual PET
     against a declination worked out from the date.

The program's own PET comes from the independent reference implementation
(tests/reference/vadoset_ref.py); this script's own formula, with every
variant switched off, must give the same doubles, and with --cli it is also
checked against the PET columns of vadoset-cli's table.

Usage: /usr/bin/python3 docs/tools/pet_differences.py [--cli build/ci/bin/vadoset-cli]
"""

import argparse
import math
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "reference"))
import vadoset_ref as ref  # noqa: E402

TEMP = os.path.join(ROOT, "examples", "allsites_temp.txt")
PREC = os.path.join(ROOT, "examples", "allsites_prec.txt")
DAYS = ref.DAYS_IN_MONTH[1:]
PROGRAM_COEF = (0.0179, 0.49)
THORNTHWAITE_COEF = (0.01792, 0.49239)


def read_stations():
    """(name, latitude, 12 temperatures); the latitude as the program takes it, from the precipitation file."""
    with open(TEMP, encoding="utf-8") as f:
        temp = [line.rstrip("\n").split("\t") for line in f][1:]
    with open(PREC, encoding="utf-8") as f:
        prec = [line.rstrip("\n").split("\t") for line in f][1:]
    return [(p[0], float(p[1]), [float(x) for x in t[2:14]]) for p, t in zip(prec, temp)]


# Declination (radians) from the day of the year n, 1 = 1 January.
def spencer(n):
    """Spencer (1971), Fourier series, error about 0.0006 rad."""
    g = 2.0 * math.pi * (n - 1) / 365.0
    return (0.006918 - 0.399912 * math.cos(g) + 0.070257 * math.sin(g) - 0.006758 * math.cos(2 * g)
            + 0.000907 * math.sin(2 * g) - 0.002697 * math.cos(3 * g) + 0.00148 * math.sin(3 * g))


def cooper(n):
    """Cooper (1969): 23.45 degrees times sin(360 (284 + n) / 365)."""
    return math.radians(23.45 * math.sin(2.0 * math.pi * (284 + n) / 365.0))


def month_middles():
    """Day of the year of the middle of each month (16 for January, 45.5 for February...)."""
    out, before = [], 0
    for d in DAYS:
        out.append(before + (d + 1) / 2.0)
        before += d
    return out


def hours_from_declination(latitude, d):
    """Day length, hours, in the program's form (the arc cosine held to [-1, 1])."""
    s = math.sin((latitude * ref.PI) / 180.0) * math.sin(d)
    c = math.cos((latitude * ref.PI) / 180.0) * math.cos(d)
    x = max(-1.0, min(1.0, s / c))
    return 24.0 - ref.HOURS_PER_RADIAN * math.acos(x)


def table_hours(latitude):
    return [ref.day_length(latitude, m) for m in range(1, 13)]


def mid_month_hours(latitude, declination):
    return [hours_from_declination(latitude, declination(n)) for n in month_middles()]


def daily_mean_hours(latitude):
    """Mean of the day lengths of every day of the month (Spencer's declination)."""
    out, n = [], 1
    for d in DAYS:
        out.append(sum(hours_from_declination(latitude, spencer(n + j)) for j in range(d)) / d)
        n += d
    return out


def heat_index(tmean):
    i = 0.0
    for t in tmean:
        if t > 0.0:
            i = i + math.pow(t / 5.0, 1.514)
    return i


def exponent(i, coef):
    return ((6.75e-07 * math.pow(i, 3.0) - 7.71e-05 * math.pow(i, 2.0)) + coef[0] * i) + coef[1]


def unadjusted(t, i, a, quadratic):
    if t < 0.0 or i == 0.0:
        return 0.0
    if t < 26.5 or not quadratic:
        return 16.0 * math.pow((10.0 * t) / i, a)
    return (-415.85 + 32.24 * t) - (0.43 * t) * t


def pet(tmean, hours, coef=PROGRAM_COEF, quadratic=True):
    """Monthly PET, mm, in the program's order of operations."""
    i = heat_index(tmean)
    a = exponent(i, coef)
    return [(unadjusted(t, i, a, quadratic) * (float(d) / 30.0)) * (h / 12.0)
            for t, d, h in zip(tmean, DAYS, hours)]


def cli_pet(cli):
    """name -> the 12 PET doubles of vadoset-cli's table."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.txt")
        subprocess.run([cli, "--quiet", "-t", TEMP, "-p", PREC, "-o", out], check=True)
        with open(out, "rb") as f:
            rows = f.read().split(b"\r")[1:]
    result = {}
    for row in rows:
        fields = row.split(b"\t")
        if len(fields) > 12:
            result[fields[0].decode("utf-8")] = [float(x) for x in fields[1:13]]
    return result


def span(values):
    return "%+.2f to %+.2f mm" % (min(values), max(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", help="vadoset-cli to check the program's PET against")
    args = parser.parse_args()

    stations = read_stations()

    # The program's PET three ways: the reference, this script, vadoset-cli.
    from_cli = cli_pet(args.cli) if args.cli else {}
    for name, lat, tmean in stations:
        mine = pet(tmean, table_hours(lat))
        theirs = ref.run_pet([0.0] + list(tmean), lat, False)[1:]
        if mine != theirs:
            sys.exit("this script's PET differs from the reference at %s" % name)
        if name in from_cli and from_cli[name] != mine:
            sys.exit("this script's PET differs from vadoset-cli's at %s" % name)
    print("Program's PET: this script = reference%s, bit for bit, at all %d stations"
          % (" = vadoset-cli" if from_cli else "", len(stations)))

    # 1. Phoenix in July.
    name, lat, tmean = next(s for s in stations if s[0] == "Phoenix")
    i = heat_index(tmean)
    t = tmean[6]
    print("\n1. Phoenix, July %.1f C, heat index I = %.4f" % (t, i))
    for label, coef in (("Thornthwaite's exponent (0.01792, 0.49239)", THORNTHWAITE_COEF),
                        ("the program's exponent (0.0179, 0.49)", PROGRAM_COEF)):
        a = exponent(i, coef)
        print("   power law, %-42s a = %.4f: %.2f mm" % (label, a, unadjusted(t, i, a, False)))
    print("   quadratic (-415.85 + 32.24 T - 0.43 T^2): %.2f mm" % unadjusted(t, i, 0.0, True))

    # 2 to 4: annual differences, one variant against another (first minus second).
    def program(la, tm):
        return pet(tm, table_hours(la))

    columns = [
        ("quad", "quadratic in force minus power law in every month (program's exponent)",
         program, lambda la, tm: pet(tm, table_hours(la), quadratic=False)),
        ("quadT", "the same with Thornthwaite's exponent",
         lambda la, tm: pet(tm, table_hours(la), THORNTHWAITE_COEF),
         lambda la, tm: pet(tm, table_hours(la), THORNTHWAITE_COEF, quadratic=False)),
        ("coef", "program's coefficients minus Thornthwaite's, quadratic in force (the program)",
         program, lambda la, tm: pet(tm, table_hours(la), THORNTHWAITE_COEF)),
        ("coefP", "program's coefficients minus Thornthwaite's, power law in every month",
         lambda la, tm: pet(tm, table_hours(la), quadratic=False),
         lambda la, tm: pet(tm, table_hours(la), THORNTHWAITE_COEF, quadratic=False)),
        ("dSpen", "declination table minus Spencer (1971) at the middle of each month",
         program, lambda la, tm: pet(tm, mid_month_hours(la, spencer))),
        ("dCoop", "declination table minus Cooper (1969) at the middle of each month",
         program, lambda la, tm: pet(tm, mid_month_hours(la, cooper))),
        ("dDaily", "declination table minus the month's mean of daily day lengths (Spencer)",
         program, lambda la, tm: pet(tm, daily_mean_hours(la))),
    ]
    with_pet = [s for s in stations if sum(program(s[1], s[2])) > 0.0]
    diffs = {key: [] for key, _, _, _ in columns}
    print("\nAnnual PET of the program (mm) and the differences (mm), %d stations with PET > 0" % len(with_pet))
    print("%-24s %8s" % ("station", "PET") + "".join(" %7s" % c[0] for c in columns))
    for name, lat, tmean in with_pet:
        row = "%-24s %8.1f" % (name, sum(program(lat, tmean)))
        for key, _, first, second in columns:
            d = sum(first(lat, tmean)) - sum(second(lat, tmean))
            diffs[key].append(d)
            row += " %+7.2f" % d
        print(row)
    print("\nRanges over those %d stations:" % len(with_pet))
    for key, label, _, _ in columns:
        print("   %-7s %-80s %s" % (key, label, span(diffs[key])))
    skipped = [s[0] for s in stations if s not in with_pet]
    if skipped:
        print("   (left out, PET 0 in every month: %s)" % ", ".join(skipped))


if __name__ == "__main__":
    main()
