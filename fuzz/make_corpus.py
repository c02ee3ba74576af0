#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds are small valid and nearly valid inputs made from the sample data
in examples/; the fuzzer mutates them from there. Run it again after changing
an input layout (see the comments at the top of the *_fuzz.cpp files).
"""
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent
EXAMPLES = ROOT.parent / "examples"
CORPUS = ROOT / "corpus"


def lines(name, count):
    text = (EXAMPLES / name).read_text(encoding="utf-8").splitlines()
    return [t.encode("utf-8") for t in text[:count]]


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def record_header(beta=6, fc=100, carry=False, huge_fc=False, lat_byte=206):
    """Settings bytes of the record targets: flags, field capacity, latitude."""
    flags = beta | (0x10 if carry else 0) | (0x20 if huge_fc else 0)
    fc_bits = (2**31 - 1 - fc) if huge_fc else fc - 1
    return bytes([flags]) + struct.pack("<H", fc_bits & 0xFFFF) + bytes([lat_byte])


def interleave(prec, temp):
    out = []
    for p, t in zip(prec, temp):
        out += [p, t]
    return b"\n".join(out) + b"\n"


def number_seeds():
    seeds = {
        "plain": b"12.5",
        "missing": b"-9999",
        "blanks": b" \t1e-05 ",
        "tiny_long": b"0." + b"0" * 400 + b"1",
        "huge_exp": b"1" + b"0" * 400 + b"e-5",
        "overflow": b"1e400",
        "underflow": b"-2.4703282292062327e-324",
        "inf": b"inf",
        "nan": b"nan",
        "hex": b"0x1p3",
        "comma": b"12,5",
        "point_first": b"+.5",
        "point_last": b"5.",
        "neg_zero": b"-0",
        "int_edge": b"2147483648",
        "tab_fields": b"\x03\x02a\tb\t12.5\t-3",
        "double_bits": struct.pack("<d", -1234.5678e-300),
    }
    for name, data in seeds.items():
        write("number", name, data)


def record_seeds():
    prec = lines("allsites_prec.txt", 24)[1:]
    temp = lines("allsites_temp.txt", 24)[1:]
    write("tab_record", "stations", record_header() + interleave(prec[:4], temp[:4]))
    write("tab_record", "stations_fn_a_fc300", record_header(beta=0, fc=300) + interleave(prec[4:8], temp[4:8]))
    write("tab_record", "polar", record_header(beta=3) + interleave(prec[-3:], temp[-3:]))
    sprec = lines("series_prec.txt", 9)[1:]
    stemp = lines("series_temp.txt", 9)[1:]
    write("tab_record", "carryover", record_header(carry=True) + interleave(sprec, stemp))
    write("tab_record", "huge_fc", record_header(beta=1, huge_fc=True) + interleave(sprec[:2], stemp[:2]))
    write(
        "tab_record",
        "missing_months",
        record_header(beta=7)
        + b"a\t10\tNA\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\r\n"
        + b"a\t10\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\n"
        + b"b\t95\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\n"
        + b"b\t\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t-9999.0\n",
    )

    hprec = lines("hcn_prec.txt", 6)
    htemp = lines("hcn_temp.txt", 6)
    write("hcn_record", "burlington", record_header() + interleave(hprec[1:], htemp[1:]))
    write("hcn_record", "carryover_fn_e", record_header(beta=4, carry=True) + interleave(hprec[1:], htemp[1:]))
    write(
        "hcn_record",
        "short_and_missing",
        record_header(beta=2, lat_byte=0)
        + hprec[1][:40] + b"\n" + htemp[1] + b"\n"
        + hprec[2].replace(b"   85", b"-9999", 1) + b"\n" + htemp[2][:60] + b"\n",
    )


def run_input(flags, beta, fc_index, lat_index, prec, temp):
    return bytes([flags, beta, fc_index, lat_index]) + struct.pack("<H", len(prec)) + prec + temp


def run_seeds():
    prec = b"\n".join(lines("allsites_prec.txt", 6)) + b"\n"
    temp = b"\n".join(lines("allsites_temp.txt", 6)) + b"\n"
    # Output kinds (bits 2-4 of the flags): 0 file, 1 stdout, 2 an input's
    # name, 3 a folder, 4 a missing folder, 5 over an earlier table, 6 a file
    # used as a folder.
    for kind in range(7):
        write("run", f"tab_output_kind_{kind}", run_input(kind << 2, 6, 0, 0, prec, temp))
    write("run", "tab_fc_refused", run_input(0, 6, 3, 0, prec, temp))
    write("run", "tab_crlf_bom", run_input(0, 2, 14, 0, b"\xef\xbb\xbf" + prec.replace(b"\n", b"\r\n"), temp))
    write("run", "tab_short_temperature", run_input(0, 5, 10, 0, prec, temp[: len(temp) // 2]))
    write("run", "empty_files", run_input(0, 6, 0, 0, b"", b""))
    sprec = b"\n".join(lines("series_prec.txt", 12)) + b"\n\n  \n"
    stemp = b"\n".join(lines("series_temp.txt", 12)) + b"\n"
    write("run", "series_carryover", run_input(2, 6, 15, 0, sprec, stemp))
    hprec = b"\n".join(lines("hcn_prec.txt", 6)) + b"\n"
    htemp = b"\n".join(lines("hcn_temp.txt", 6)) + b"\n"
    write("run", "hcn", run_input(1, 6, 0, 0, hprec, htemp))
    write("run", "hcn_carryover_polar", run_input(3 | (1 << 2), 0, 0, 12, hprec, htemp))
    write("run", "hcn_bad_latitude", run_input(1, 6, 0, 4, hprec, htemp))
    write("run", "hcn_bad_header", run_input(1, 6, 0, 0, prec, htemp))


if __name__ == "__main__":
    number_seeds()
    record_seeds()
    run_seeds()
