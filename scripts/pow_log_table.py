#!/usr/bin/python3
"""Writes src/model/pow_log_table.inc: the table of log(c) that the C library's
pow (glibc 2.28 and later, from Arm's optimized routines) reads, for the lane
engine's vector copy of pow.

    scripts/pow_log_table.py > src/model/pow_log_table.inc
    scripts/pow_log_table.py --check-libm /lib/x86_64-linux-gnu/libm.so.6

The table splits z in [0x1.69555p-1, 0x1.69555p0) into 128 intervals by the
bits of z - 0x1.69555p-1; interval i has a c near its centre with

    1/c    = round(128/centre)/128 below 1, round(256/centre)/256 above
    logc   = round(2^43 log c) / 2^43
    tail   = log c - logc, rounded to the nearest double

so that z/c - 1 is exact and k ln2hi + logc has no rounding error. log c is
computed here with 90 significant digits (Python's decimal, correctly
rounded), far beyond the 2^-97 the tail keeps.

--check-libm finds the table in a libm file (after its ln2hi, ln2lo and the
seven polynomial coefficients, which are printed too) and compares it with
this one bit for bit: the proof that the copy's table is the library's.
"""

import struct
import sys
from decimal import Decimal, getcontext
from fractions import Fraction

N = 128
OFF = 0x3FE6955500000000


def as_double(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def as_bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def table():
    getcontext().prec = 90
    rows = []
    for i in range(N):
        centre = Fraction(as_double(OFF + (i << 45) + (1 << 44)))
        if centre < 1:
            invc = Fraction(round(N / centre), N)
        else:
            invc = Fraction(round(2 * N / centre), 2 * N)
        c = 1 / invc
        log_c = Fraction((Decimal(c.numerator) / Decimal(c.denominator)).ln())
        logc = Fraction(round(log_c * 2**43), 2**43)
        tail = float(log_c - logc)  # Fraction to float rounds to nearest
        rows.append((as_bits(float(invc)), as_bits(float(logc)), as_bits(tail)))
    return rows


# The constants that precede the table in glibc's data: ln2hi, ln2lo, and
# the polynomial's seven coefficients.
HEAD = [0x3FE62E42FEFA3800, 0x3D2EF35793C76730, 0xBFE0000000000000, 0xBFE5555555555560,
        0x3FE0000000000006, 0x3FE999999959554E, 0xBFE555555529A47A, 0xBFF2495B9B4845E9,
        0x3FF0002B8B263FC3]


def check_libm(path, rows):
    data = open(path, "rb").read()
    head = struct.pack("<9Q", *HEAD)
    at = data.find(head)
    if at < 0:
        print("%s: the constants of pow's logarithm were not found" % path)
        return 1
    at += len(head)
    differ = 0
    for i, (invc, logc, tail) in enumerate(rows):
        got = struct.unpack_from("<4Q", data, at + 32 * i)
        if (got[0], got[2], got[3]) != (invc, logc, tail):
            differ += 1
            print("entry %d: libm %s, here %s" % (i, [hex(g) for g in got], [hex(invc), hex(logc), hex(tail)]))
    print("%s: %d of %d entries differ; constants found at offset %#x" % (path, differ, N, at - len(head)))
    return 1 if differ else 0


def main():
    rows = table()
    if len(sys.argv) == 3 and sys.argv[1] == "--check-libm":
        return check_libm(sys.argv[2], rows)
    print("// pow's table of log c, written by scripts/pow_log_table.py: 1/c, then")
    print("// logc (log c to 43 bits after the point), then the tail log c - logc.")
    for invc, logc, tail in rows:
        print("  {0x%016xULL, 0x%016xULL, 0x%016xULL}," % (invc, logc, tail))
    return 0


if __name__ == "__main__":
    sys.exit(main())
