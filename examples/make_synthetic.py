#!/usr/bin/env python3
"""Writes the synthetic multi-year examples next to this script.

    hcn_temp.txt, hcn_prec.txt      Burlington VT, 2011-2020, HCN columns
    series_temp.txt, series_prec.txt  Des Moines IA, 1991-2020, tab-delimited

The years are NOT observations.  Each month is the station's published
1991-2020 normal (rounded, see README.md) plus a made-up anomaly drawn from
a small seeded generator, so the files come out the same on every machine
and every Python version.  Run it again to regenerate the files:

    python3 examples/make_synthetic.py
"""

import os

HERE = os.path.dirname(os.path.abspath(__file__))

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()

# Normals, degrees C and mm (same values as in allsites_*.txt).
BURLINGTON = {
    "lat": "44.47",
    "tmean": [-6.7, -5.4, -0.1, 7.2, 14.2, 19.3, 22.0, 21.1, 16.5, 9.5, 3.3, -2.8],
    "ppt": [56.1, 46.5, 59.2, 74.7, 90.9, 104.6, 105.7, 102.9, 93.7, 98.0, 76.7, 66.8],
}
DES_MOINES = {
    "lat": "41.53",
    "tmean": [-5.4, -3.1, 3.8, 10.6, 16.7, 22.2, 24.4, 23.4, 18.9, 11.7, 4.1, -2.7],
    "ppt": [24.1, 29.2, 55.4, 96.3, 130.0, 134.9, 107.7, 107.2, 81.3, 68.3, 47.2, 35.3],
}

# Spread of the monthly temperature anomaly, degrees C: winters vary more.
TEMP_SPREAD = [2.6, 2.6, 2.0, 1.5, 1.3, 1.0, 0.9, 1.0, 1.1, 1.3, 1.6, 2.3]
# Spread of the relative precipitation anomaly.
PREC_SPREAD = 0.45


class Generator:
    """64-bit linear congruential generator (Knuth's MMIX constants).

    Only integer arithmetic, so the stream is the same everywhere; Python's
    own random module is not used because its algorithms may change.
    """

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def uniform(self):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) & 0xFFFFFFFFFFFFFFFF
        return (self.state >> 11) / float(1 << 53)

    def normal(self):
        """Approximately standard normal: sum of twelve uniforms, less 6."""
        return sum(self.uniform() for _ in range(12)) - 6.0


def synthetic_year(gen, station):
    tmean = []
    ppt = []
    for m in range(12):
        tmean.append(round(station["tmean"][m] + TEMP_SPREAD[m] * gen.normal(), 1))
        factor = max(0.1, 1.0 + PREC_SPREAD * gen.normal())
        ppt.append(round(station["ppt"][m] * factor, 1))
    return tmean, ppt


def tenths(value):
    return int(round(value * 10.0))


def hcn_line(station_id, year, values):
    # Columns 1-12 station id, 13-16 year, then twelve 5-column fields.
    text = "%-12s%4d" % (station_id, year)
    for v in values:
        text += "%5s" % v
    return text + "\n"


def write_hcn():
    gen = Generator(20111)
    station_id = "USW00014742"  # Burlington International Airport, VT
    temp_lines = ["HCN monthly mean temperature, tenths of a degree C. Burlington VT 44.47 N. "
                  "SYNTHETIC years around the 1991-2020 normals, not observations\n"]
    prec_lines = ["HCN monthly precipitation, tenths of a millimetre. Burlington VT 44.47 N. "
                  "SYNTHETIC years around the 1991-2020 normals, not observations\n"]
    for year in range(2011, 2021):
        tmean, ppt = synthetic_year(gen, BURLINGTON)
        t_fields = [str(tenths(t)) for t in tmean]
        p_fields = [str(tenths(p)) for p in ppt]
        if year == 2016:
            p_fields[7] = "-9999"  # August missing: this year becomes a null row
        temp_lines.append(hcn_line(station_id, year, t_fields))
        prec_lines.append(hcn_line(station_id, year, p_fields))
    return temp_lines, prec_lines


def write_series():
    gen = Generator(19912020)
    header = "Year\tLat\t" + "\t".join(MONTHS) + "\n"
    temp_lines = [header]
    prec_lines = [header]
    for year in range(1991, 2021):
        tmean, ppt = synthetic_year(gen, DES_MOINES)
        prefix = "%d\t%s\t" % (year, DES_MOINES["lat"])
        temp_lines.append(prefix + "\t".join("%.1f" % t for t in tmean) + "\n")
        prec_lines.append(prefix + "\t".join("%.1f" % p for p in ppt) + "\n")
    return temp_lines, prec_lines


def save(name, lines):
    with open(os.path.join(HERE, name), "w", encoding="ascii", newline="\n") as f:
        f.writelines(lines)


def main():
    temp_lines, prec_lines = write_hcn()
    save("hcn_temp.txt", temp_lines)
    save("hcn_prec.txt", prec_lines)
    temp_lines, prec_lines = write_series()
    save("series_temp.txt", temp_lines)
    save("series_prec.txt", prec_lines)


if __name__ == "__main__":
    main()
