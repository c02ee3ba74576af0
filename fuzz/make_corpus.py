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


def record_input(prec, temp, beta=6, fc=100, carry=False, huge_fc=False, keep=False, fc_field=False,
                 lat_byte=206, table=0):
    """A record target's input: flags, field capacity, latitude, columns,
    the length of the precipitation file, then both files."""
    flags = beta | (0x10 if carry else 0) | (0x20 if huge_fc else 0) | (0x40 if keep else 0) | (0x80 if fc_field else 0)
    fc_bits = (2**31 - 1 - fc) if huge_fc else fc - 1
    return (bytes([flags]) + struct.pack("<H", fc_bits & 0xFFFF) + bytes([lat_byte, table])
            + struct.pack("<H", len(prec)) + prec + temp)


def text(name, count=None):
    return b"\n".join(lines(name, count or 10**6)) + b"\n"


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
    prec, temp = text("allsites_prec.txt", 6), text("allsites_temp.txt", 6)
    write("tab_record", "stations", record_input(prec, temp))
    write("tab_record", "stations_fn_a_fc300_all_columns", record_input(prec, temp, beta=0, fc=300, table=0x1F))
    polar_p = lines("allsites_prec.txt", 1) + lines("allsites_prec.txt", 24)[-3:]
    polar_t = lines("allsites_temp.txt", 1) + lines("allsites_temp.txt", 24)[-3:]
    write("tab_record", "polar", record_input(b"\n".join(polar_p), b"\n".join(polar_t), beta=3))
    sprec, stemp = text("series_prec.txt", 9), text("series_temp.txt", 9)
    write("tab_record", "carryover_lf_soil_snow", record_input(sprec, stemp, carry=True, table=0x2C))
    write("tab_record", "huge_fc_fraction", record_input(sprec, stemp, beta=1, huge_fc=True, keep=True))
    site_fc = b"h\n" + b"\n".join(l + f for l, f in zip(lines("series_prec.txt", 5)[1:], [b"\t250", b"\t", b"\t0.5", b"\tx"]))
    write("tab_record", "own_field_capacity", record_input(site_fc, stemp, fc_field=True, carry=True))
    write(
        "tab_record",
        "missing_months",
        record_input(b"h\r\na\t10\tNA\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\r\nb\t95\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\n",
                     b"h\na\t10\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\nb\t\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t-9999.0\n",
                     beta=7),
    )

    hprec, htemp = text("hcn_prec.txt", 6), text("hcn_temp.txt", 6)
    write("hcn_record", "burlington", record_input(hprec, htemp))
    write("hcn_record", "carryover_fn_e_fraction", record_input(hprec, htemp, beta=4, carry=True, keep=True, table=0x10))
    hp, ht = lines("hcn_prec.txt", 3), lines("hcn_temp.txt", 3)
    write("hcn_record", "short_and_missing",
          record_input(b"\n".join([hp[0], hp[1][:40], hp[2].replace(b"   85", b"-9999", 1)]) + b"\n",
                       b"\n".join([ht[0], ht[1], ht[2][:60]]) + b"\n", beta=2, lat_byte=0))

    cprec = (EXAMPLES / "allsites_prec.csv").read_bytes()[:700]
    ctemp = (EXAMPLES / "allsites_temp.csv").read_bytes()[:700]
    write("csv_record", "stations", record_input(cprec, ctemp))
    sprec = (EXAMPLES / "allsites_prec_semicolon.csv").read_bytes()[:700]
    stemp = (EXAMPLES / "allsites_temp_semicolon.csv").read_bytes()[:700]
    write("csv_record", "semicolons_carryover", record_input(sprec, stemp, carry=True, table=0x3E))
    quoted_p = (b'Site,Lat,J,F,M,A,M,J,J,A,S,O,N,D,"Field_Capacity"\r\n'
                b'"Oslo, ""Blindern""",59.94,"49",36,47,41,53,65,81,89,60,84,73,55,150\r\n'
                b'"two\r\nlines",10,1,2,3,4,5,6,7,8,9,10,11,12,\r\n'
                b'"stray,10,1,2\n'
                b'x,95,1,NA,NaN,,-9999,"1"2,9999,8,9,10,11,12,0.5\n')
    quoted_t = (b'Site,Lat\n"a",0,-4.3,-4,-0.2,4.5,10.8,15.2,16.4,15.2,10.8,6.3,0.7,-3.1\n'
                b'b,0,20,20,20,20,20,20,20,20,20,20,20,20\n')
    write("csv_record", "quotes_and_field_capacity", record_input(quoted_p, quoted_t, keep=True))


def run_input(flags, beta, fc_index, lat_index, prec, temp, table=0, kind=0):
    """decodeRun's layout; bits 5-7 of the first byte are fuzz_run's output kind."""
    return (bytes([flags | (kind << 5), beta, fc_index, lat_index, table]) + struct.pack("<I", len(prec))
            + prec + temp)


def run_seeds():
    prec, temp = text("allsites_prec.txt", 6), text("allsites_temp.txt", 6)
    # Output kinds: 0 file, 1 stdout, 2 an input's name, 3 a folder, 4 a
    # missing folder, 5 over an earlier table, 6 a file used as a folder.
    for kind in range(7):
        write("run", f"tab_output_kind_{kind}", run_input(0, 6, 0, 0, prec, temp, kind=kind))
    write("run", "tab_fc_refused", run_input(0, 6, 3, 0, prec, temp))
    write("run", "tab_crlf_bom", run_input(0, 2, 14, 0, b"\xef\xbb\xbf" + prec.replace(b"\n", b"\r\n"), temp))
    write("run", "tab_short_temperature", run_input(0, 5, 10, 0, prec, temp[: len(temp) // 2]))
    write("run", "tab_short_temperature_strict", run_input(0, 5 | 0x80, 0, 0, prec, temp[: len(temp) // 2], kind=5))
    write("run", "empty_files", run_input(0, 6, 0, 0, b"", b""))
    sprec = text("series_prec.txt") + b"\n  \n"
    stemp = text("series_temp.txt")
    write("run", "series_carryover", run_input(4, 6, 15, 0, sprec, stemp, table=0x3F))
    hprec, htemp = text("hcn_prec.txt"), text("hcn_temp.txt")
    write("run", "hcn", run_input(1, 6, 0, 0, hprec, htemp))
    write("run", "hcn_carryover_polar_fraction", run_input(1 | 4 | 8, 0, 0, 12, hprec, htemp, kind=1))
    write("run", "hcn_bad_latitude", run_input(1, 6, 0, 4, hprec, htemp))
    write("run", "hcn_bad_header", run_input(1, 6, 0, 0, prec, htemp))
    cprec = (EXAMPLES / "allsites_prec.csv").read_bytes()
    ctemp = (EXAMPLES / "allsites_temp.csv").read_bytes()
    write("run", "csv", run_input(2, 6, 0, 0, cprec, ctemp, table=0x40))
    eprec = (EXAMPLES / "allsites_prec_semicolon.csv").read_bytes()
    etemp = (EXAMPLES / "allsites_temp_semicolon.csv").read_bytes()
    write("run", "csv_semicolon_carryover", run_input(2 | 4, 3, 0, 0, eprec, etemp, table=0x21))
    # Many rows: the series repeated, so that runs cross batch boundaries.
    many_p = text("series_prec.txt") + b"\n".join(lines("series_prec.txt", 31)[1:] * 10) + b"\n"
    many_t = text("series_temp.txt") + b"\n".join(lines("series_temp.txt", 31)[1:] * 10) + b"\n"
    write("run", "many_rows_carryover", run_input(4, 6, 0, 0, many_p, many_t))
    long_line = b"h\nlong\t45" + b"\t" + b"5" * 20000 + b"\n"
    write("run", "long_line", run_input(0, 6, 0, 0, long_line + prec.split(b"\n", 1)[1], temp))


def parallel_seeds():
    """fuzz_parallel: the parallel options byte, then decodeRun's layout."""
    for name in ("csv", "csv_semicolon_carryover", "series_carryover", "hcn", "many_rows_carryover",
                 "tab_short_temperature_strict", "long_line"):
        data = (CORPUS / "run" / name).read_bytes()
        for options in (0x00, 0x3B, 0x27):
            write("parallel", f"{name}_{options:02x}", bytes([options, data[0] & 0x1F]) + data[1:])


if __name__ == "__main__":
    number_seeds()
    record_seeds()
    run_seeds()
    parallel_seeds()
