#!/usr/bin/env python3
"""Writes a large, realistic pair of input files for timing runs.

    python3 bench/make_inputs.py --records 100000 --out build/bench-data/100k
    python3 bench/make_inputs.py --records 100000 --format hcn --out /tmp/hcn100k

Each record is one of the sample stations in examples/allsites_*.txt (the
published monthly normals) with a made-up year laid over it: a shift of the
whole year's temperature, a monthly temperature anomaly, a relative
precipitation anomaly per month and a small latitude jitter.  About one
record in 500 has a missing month ("-9999", or "NA" in the tab format), as
real station files do.  The generator is seeded, so the same arguments give
the same bytes on every machine and Python 3 version.

The files are written as OUT_temp.txt and OUT_prec.txt.  They are data for
timing only and are never committed.
"""

import argparse
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "examples")

# Spread of the monthly temperature anomaly, degrees C, and of the shift of a
# whole year.
TEMP_SPREAD = 1.6
YEAR_SPREAD = 0.8
# Spread of the relative precipitation anomaly of a month.
PREC_SPREAD = 0.45
MISSING_ONE_IN = 500


def read_table(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        next(f)
        for line in f:
            fields = line.rstrip("\r\n").split("\t")
            try:
                rows.append((fields[0], float(fields[1]), [float(v) for v in fields[2:14]]))
            except (ValueError, IndexError):
                rows.append(None)  # a station with a gap in its normals
    return rows


def stations():
    temps = read_table(os.path.join(EXAMPLES, "allsites_temp.txt"))
    precs = read_table(os.path.join(EXAMPLES, "allsites_prec.txt"))
    out = []
    for trow, prow in zip(temps, precs):
        if trow and prow:
            out.append((trow[0], trow[1], trow[2], prow[2]))
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--records", type=int, required=True)
    ap.add_argument("--out", required=True, help="path prefix; _temp.txt and _prec.txt are added")
    ap.add_argument("--format", choices=["tab", "hcn"], default="tab")
    ap.add_argument("--seed", type=int, default=20240611)
    args = ap.parse_args()

    base = stations()
    rng = random.Random(args.seed)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    tpath, ppath = args.out + "_temp.txt", args.out + "_prec.txt"
    hcn = args.format == "hcn"
    with open(tpath, "w", newline="") as tf, open(ppath, "w", newline="") as pf:
        if hcn:
            tf.write("HCN monthly mean temperature, tenths of a degree C (synthetic, for timing)\n")
            pf.write("HCN monthly precipitation, tenths of a millimetre (synthetic, for timing)\n")
        else:
            head = "Site\tLat\t" + "\t".join("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()) + "\n"
            tf.write(head)
            pf.write(head)
        tbuf, pbuf = [], []
        for i in range(args.records):
            name, lat, tnorm, pnorm = base[rng.randrange(len(base))]
            shift = rng.gauss(0.0, YEAR_SPREAD)
            temps = [t + shift + rng.gauss(0.0, TEMP_SPREAD) for t in tnorm]
            precs = [max(0.0, p * (1.0 + rng.gauss(0.0, PREC_SPREAD))) for p in pnorm]
            missing = -1
            if rng.randrange(MISSING_ONE_IN) == 0:
                missing = rng.randrange(24)
            if hcn:
                year = 1000 + i % 9000
                ident = "SYN%08d " % (i // 9000)
                tcells = ["%5d" % round(t * 10.0) for t in temps]
                pcells = ["%5d" % round(p * 10.0) for p in precs]
                if missing >= 0:
                    (tcells if missing < 12 else pcells)[missing % 12] = "-9999"
                tbuf.append("%s%4d%s\n" % (ident, year, "".join(tcells)))
                pbuf.append("%s%4d%s\n" % (ident, year, "".join(pcells)))
            else:
                mark = "NA" if rng.randrange(2) else "-9999"
                ident = "%s %07d" % (name, i)
                la = "%.2f" % max(-90.0, min(90.0, lat + rng.uniform(-0.5, 0.5)))
                tcells = ["%.1f" % t for t in temps]
                pcells = ["%.1f" % p for p in precs]
                if missing >= 0:
                    (tcells if missing < 12 else pcells)[missing % 12] = mark
                tbuf.append("%s\t%s\t%s\n" % (ident, la, "\t".join(tcells)))
                pbuf.append("%s\t%s\t%s\n" % (ident, la, "\t".join(pcells)))
            if len(tbuf) >= 10000:
                tf.write("".join(tbuf))
                pf.write("".join(pbuf))
                tbuf, pbuf = [], []
        tf.write("".join(tbuf))
        pf.write("".join(pbuf))
    print(tpath)
    print(ppath)
    return 0


if __name__ == "__main__":
    sys.exit(main())
