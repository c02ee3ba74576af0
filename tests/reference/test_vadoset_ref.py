#!/usr/bin/env python3
"""Checks of the reference calculation against values worked out by hand.

    python3 -m unittest discover -s tests/reference -v

The reference is only worth something as a second opinion if it is right on
its own, so these tests compare it with closed-form values (latitude 0,
constant temperatures, the availability curves at their corner points),
with physical invariants (water is conserved over a steady year) and with
the input and output rules of the tool.
"""

import math
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

import compare_tables  # noqa: E402
import vadoset_ref as ref  # noqa: E402

HEADER = b"Site\tLat\tJan\tFeb\tMar\tApr\tMay\tJun\tJul\tAug\tSep\tOct\tNov\tDec"


def tab_line(ident, lat, values):
    return b"\t".join([ident, lat] + [str(v).encode() for v in values])


def tab_file(lines):
    return b"\n".join([HEADER] + lines) + b"\n"


def table_rows(table):
    assert table.endswith(b"\r")
    return [line.split(b"\t") for line in table[:-1].split(b"\r")]


def one_record(temps, ppts, lat=b"45", **options):
    table = ref.run_tables(tab_file([tab_line(b"x", lat, temps)]),
                           tab_file([tab_line(b"x", lat, ppts)]), **options)
    rows = table_rows(table)
    assert len(rows) == 2
    return rows[1]


def values(row):
    """(PET, AET, SURPLUS) monthly lists and the three sums of a data row."""
    nums = [float(f) for f in row[1:]]
    return nums[0:12], nums[12:24], nums[24:36], nums[36:39]


class NumbersTest(unittest.TestCase):
    def test_fields_that_hold_numbers(self):
        for text, expected in [(b"12.5", 12.5), (b" 12.5\t", 12.5), (b"+3", 3.0), (b"-3", -3.0),
                               (b".5", 0.5), (b"5.", 5.0), (b"1e1", 10.0), (b"1.5E-1", 0.15),
                               (b"-0", 0.0), (b"007", 7.0), (b"1e-999", 0.0)]:
            self.assertEqual(ref.parse_number(text), expected, text)

    def test_fields_that_hold_no_number(self):
        for text in [b"", b"  ", b"NA", b" NA", b"inf", b"-inf", b"nan", b"0x10", b"12,5",
                     b"12.5mm", b"1e", b".", b"+", b"--5", b"4 5", b"1e999", b"\x0b5", b"1_000"]:
            self.assertIsNone(ref.parse_number(text), text)

    def test_conversion_to_integer_truncates_toward_zero(self):
        self.assertEqual(ref.to_int32(12.7), 12)
        self.assertEqual(ref.to_int32(-12.7), -12)
        self.assertEqual(ref.to_int32(2147483647.9), 2147483647)
        self.assertEqual(ref.to_int32(-2147483648.0), -2147483648)
        self.assertIsNone(ref.to_int32(2147483648.0))
        self.assertIsNone(ref.to_int32(-2147483649.0))
        self.assertIsNone(ref.to_int32(math.nan))

    def test_shortest_text_in_to_chars_layout(self):
        cases = [(0.0, "0"), (-0.0, "-0"), (100.0, "100"), (12.5, "12.5"), (1e-05, "1e-05"),
                 (1.5e20, "1.5e+20"), (1e6, "1e+06"), (1e5, "1e+05"), (1e4, "10000"),
                 (123456.0, "123456"), (0.001, "0.001"), (0.0001, "1e-04"), (0.1, "0.1"),
                 (-2.5, "-2.5"), (1e100, "1e+100"), (5e-324, "5e-324"),
                 (2.0 ** 60, "1152921504606846976"), (1 / 3, "0.3333333333333333")]
        for value, text in cases:
            self.assertEqual(ref.format_double(value), text, repr(value))

    def test_every_text_reads_back_as_the_same_double(self):
        for value in [math.pi * 10 ** k for k in range(-30, 30)] + [1e-310, 7e22, 2.0 ** 53 + 2]:
            for v in (value, -value):
                self.assertEqual(float(ref.format_double(v)), v)


class LinesTest(unittest.TestCase):
    def test_cr_lf_and_crlf_end_lines(self):
        self.assertEqual(ref.split_lines(b"a\rb\nc\r\nd"), [b"a", b"b", b"c", b"d"])
        self.assertEqual(ref.split_lines(b"a\n\rb\r\n"), [b"a", b"", b"b"])
        self.assertEqual(ref.split_lines(b"a\n\n"), [b"a", b""])

    def test_byte_order_mark_is_skipped(self):
        self.assertEqual(ref.split_lines(b"\xef\xbb\xbfHCN x\n1"), [b"HCN x", b"1"])
        self.assertEqual(ref.split_lines(b""), [])


class DayLengthTest(unittest.TestCase):
    def test_equator_has_twelve_hours_in_every_month(self):
        for m in range(1, 13):
            self.assertEqual(ref.day_length(0.0, m), 12.0)

    def test_mid_latitudes_follow_the_sunrise_equation(self):
        for lat in (45.0, -45.0, 60.0, -33.9):
            for m in range(1, 13):
                phi = math.radians(lat)
                d = ref.DECLINATION[m]
                expected = 24.0 / math.pi * math.acos(-math.tan(phi) * math.tan(d))
                self.assertAlmostEqual(ref.day_length(lat, m), expected, places=10)
        self.assertAlmostEqual(ref.day_length(45.0, 6), 15.40, places=2)

    def test_hemispheres_mirror_each_other(self):
        for m in range(1, 13):
            self.assertAlmostEqual(ref.day_length(-40.0, m), 24.0 - ref.day_length(40.0, m),
                                   places=12)

    def test_polar_day_and_night(self):
        self.assertEqual(ref.day_length(80.0, 6), 24.0)
        self.assertEqual(ref.day_length(-80.0, 12), 24.0)
        self.assertAlmostEqual(ref.day_length(80.0, 12), 0.0, places=12)
        self.assertAlmostEqual(ref.day_length(-90.0, 6), 0.0, places=12)
        self.assertEqual(ref.day_length(90.0, 7), 24.0)


class PetTest(unittest.TestCase):
    def test_hot_months_use_the_quadratic(self):
        for t, unadjusted in ((30.0, 164.35), (26.5, 136.5425)):
            pet = ref.run_pet([0.0] + [t] * 12, 0.0, False)
            self.assertAlmostEqual(pet[1], unadjusted * 31 / 30, places=9)
            self.assertAlmostEqual(pet[2], unadjusted * 28 / 30, places=9)
            self.assertAlmostEqual(pet[4], unadjusted, places=9)

    def test_constant_twenty_degrees_at_the_equator(self):
        heat_index = 12 * 4.0 ** 1.514
        a = 6.75e-7 * heat_index ** 3 - 7.71e-5 * heat_index ** 2 + 0.0179 * heat_index + 0.49
        unadjusted = 16 * (200 / heat_index) ** a
        self.assertAlmostEqual(unadjusted, 73.64, places=2)
        pet = ref.run_pet([0.0] + [20.0] * 12, 0.0, False)
        self.assertAlmostEqual(pet[1], unadjusted * 31 / 30, places=9)
        self.assertAlmostEqual(pet[2], unadjusted * 28 / 30, places=9)
        self.assertAlmostEqual(pet[6], unadjusted, places=9)

    def test_freezing_months_have_no_pet(self):
        temps = [0.0, -5.0, -0.1, 0.0, 10.0, 15.0, 20.0, 22.0, 18.0, 12.0, 5.0, 0.0, -3.0]
        pet = ref.run_pet(list(temps), 45.0, False)
        self.assertEqual([pet[1], pet[2], pet[3], pet[11], pet[12]], [0.0] * 5)
        self.assertTrue(all(p > 0 for p in pet[4:11]))

    def test_no_month_above_freezing_gives_zero_not_nan(self):
        pet = ref.run_pet([0.0] + [-5.0] * 5 + [0.0] + [-2.0] * 6, 60.0, False)
        self.assertEqual(pet[1:], [0.0] * 12)

    def test_hcn_temperatures_are_tenths(self):
        tenths = [0.0, -53.0, -20.0, 15.0, 80.0, 140.0, 190.0, 215.0, 205.0, 160.0, 95.0, 30.0, -25.0]
        degrees = [t / 10.0 for t in tenths]
        converted = list(tenths)
        self.assertEqual(ref.run_pet(converted, 44.47, True), ref.run_pet(degrees, 44.47, False))
        self.assertEqual(converted[7], 21.5)

    def test_polar_night_months_have_no_pet(self):
        pet = ref.run_pet([0.0] + [5.0] * 12, 80.0, False)
        self.assertAlmostEqual(pet[12], 0.0, places=12)
        # Same temperature in June and March: only the month and day lengths differ.
        self.assertAlmostEqual(pet[6] / pet[3], 2.0 / ((31 / 30) * (ref.day_length(80.0, 3) / 12)),
                               places=9)


class AvailabilityTest(unittest.TestCase):
    def test_dry_soil(self):
        self.assertEqual(ref.availability(0.0, 0), 1.0)
        for variant in range(1, 8):
            self.assertEqual(ref.availability(0.0, variant), 0.0, "ABCDEFGH"[variant])

    def test_field_capacity(self):
        self.assertEqual(ref.availability(1.0, 1), 1.0 - math.exp(-6.68))
        for variant in (0, 2, 3, 4, 5, 6, 7):
            self.assertEqual(ref.availability(1.0, variant), 1.0)

    def test_corner_points(self):
        self.assertEqual(ref.availability(0.7, 3), 1.0 - math.exp(-5.0))
        self.assertEqual(ref.availability(0.5, 4), 1.0 - math.exp(-4.0))
        self.assertEqual(ref.availability(0.3, 5), 1.0 - math.exp(-3.0))
        self.assertEqual(ref.availability(0.7, 6), 1.0)
        self.assertEqual(ref.availability(0.5, 7), 1.0)
        self.assertAlmostEqual(ref.availability(0.35, 3), math.exp(-2.5) - math.exp(-5.0), places=15)
        self.assertAlmostEqual(ref.availability(0.25, 4), math.exp(-2.0) - math.exp(-4.0), places=15)
        self.assertAlmostEqual(ref.availability(0.15, 5), math.exp(-1.5) - math.exp(-3.0), places=15)
        self.assertAlmostEqual(ref.availability(0.35, 6), 0.5, places=15)
        self.assertAlmostEqual(ref.availability(0.2, 7), 0.4, places=15)

    def test_cap_applies_only_just_above_the_corner(self):
        for variant, a, c in ((3, 5.0, 0.7), (4, 4.0, 0.5), (5, 3.0, 0.3)):
            x_cap = c * (1 + math.log(1 + math.exp(-a)) / a)
            self.assertLess(ref.availability(x_cap * (1 - 1e-9), variant), 1.0)
            self.assertEqual(ref.availability(x_cap * (1 + 1e-9), variant), 1.0)

    def test_out_of_range_inputs(self):
        self.assertEqual(ref.availability(1.5, 2), 1.5)
        self.assertLess(ref.availability(1.5, 1), 1.0)
        for variant in (3, 4, 5, 6, 7):
            self.assertEqual(ref.availability(1.5, variant), 1.0)
        self.assertEqual(ref.availability(-0.2, 0), 1.0)
        for variant in range(1, 8):
            self.assertLess(ref.availability(-0.2, variant), 0.0)
        for variant in (8, -1, 100):
            self.assertEqual(ref.availability(0.5, variant), 0.0)


WARM = [2.5, 4.0, 8.5, 13.0, 18.5, 23.0, 25.5, 24.5, 20.0, 13.5, 7.0, 3.0]
COLD = [-12.0, -10.5, -4.0, 5.5, 12.5, 17.5, 20.0, 18.5, 13.0, 6.5, -1.0, -8.5]
RAIN = [40, 35, 60, 80, 110, 120, 95, 90, 85, 70, 55, 45]


class BucketTest(unittest.TestCase):
    def run_bucket(self, temps, ppts, lat=45.0, fc=100, variant=6, carryover=False,
                   bucket=None):
        bucket = bucket or ref.Bucket(fc, variant, carryover, False)
        if bucket.passes == 0 and not carryover:
            bucket.year_one = True
        tmean = [0.0] + list(temps)
        pet = ref.run_pet(tmean, lat, False)
        e, surplus, null = bucket.run(tmean, [0] + list(ppts), pet)
        return pet, e, surplus, null, bucket

    def test_a_wet_year_settles_in_two_passes_with_full_evaporation(self):
        wet = [200] * 12
        pet, e, surplus, null, bucket = self.run_bucket(WARM, wet)
        self.assertFalse(null)
        self.assertEqual(bucket.passes, 2)
        for m in range(1, 13):
            self.assertAlmostEqual(e[m], pet[m], places=9)
            self.assertAlmostEqual(surplus[m], 200 - pet[m], places=9)

    def test_water_is_conserved_over_a_steady_year(self):
        for temps in (WARM, COLD):
            for variant in range(8):
                for ppts in (RAIN, [5] * 12, [0, 0, 0, 10, 20, 150, 200, 150, 20, 0, 0, 0]):
                    _, e, surplus, null, _ = self.run_bucket(temps, ppts, variant=variant)
                    if null:
                        continue
                    # Storage changes by less than 1 mm in soil and in snow.
                    self.assertLess(abs(sum(ppts) - sum(e[1:]) - sum(surplus[1:])), 2.0)

    def test_cold_months_store_their_precipitation_as_snow(self):
        temps = [-12.0] * 3 + [10.0] * 9
        ppts = [90] * 3 + [200] * 9
        pet, e, surplus, null, _ = self.run_bucket(temps, ppts)
        self.assertFalse(null)
        self.assertEqual(e[1:4], [0.0] * 3)
        self.assertEqual(surplus[1:4], [0.0] * 3)
        # The 270 mm pack melts in April on top of its rain; the soil is full,
        # so everything but April's PET runs off.
        self.assertAlmostEqual(e[4], pet[4], places=9)
        self.assertAlmostEqual(surplus[4], 270.0 + 200.0 - pet[4], places=9)
        self.assertAlmostEqual(surplus[5], 200.0 - pet[5], places=9)

    def test_snow_below_minus_one_degree_and_melt_from_zero(self):
        wet = [150] * 12
        # Exactly -1.0 is rain: January's water runs off the full soil at once.
        _, _, surplus, _, _ = self.run_bucket([-1.0] + [10.0] * 11, wet)
        self.assertAlmostEqual(surplus[1], 150.0, places=9)
        # Just below it is snow, which waits for a month of 0 degrees or more.
        _, _, surplus, _, _ = self.run_bucket([-1.0001, -0.5] + [10.0] * 10, wet)
        self.assertEqual(surplus[1], 0.0)
        self.assertAlmostEqual(surplus[2], 150.0, places=9)  # -0.5 is rain, but no melt
        self.assertAlmostEqual(surplus[3], 150.0 + 150.0 - ref.run_pet(
            [0.0, -1.0001, -0.5] + [10.0] * 10, 45.0, False)[3], places=9)
        # At exactly 0 degrees the pack melts 2.63 mm a day.
        _, _, surplus, _, _ = self.run_bucket([-5.0, 0.0] + [10.0] * 10, [310, 0] + [150] * 10)
        self.assertAlmostEqual(surplus[2], 28 * 2.63, places=9)

    def test_evaporation_below_1e_10_is_written_as_zero(self):
        pet, e, _, null, _ = self.run_bucket([1e-12] + [10.0] * 11, [0] + [150] * 11, variant=0)
        self.assertFalse(null)
        self.assertTrue(0.0 < pet[1] < 1e-10)
        self.assertEqual(e[1], 0.0)

    def test_perennial_snow_gives_a_null_row_after_three_passes(self):
        _, _, _, null, bucket = self.run_bucket([-20.0] * 12, [10] * 12)
        self.assertTrue(null)
        self.assertEqual(bucket.passes, 3)

    def test_a_year_without_steady_state_stops_at_the_pass_limit(self):
        _, _, _, null, bucket = self.run_bucket(WARM, [0] * 12, variant=0)
        self.assertTrue(null)
        self.assertEqual(bucket.passes, 1002)

    def test_carry_over_continues_from_the_previous_december(self):
        bucket = ref.Bucket(100, 6, True, False)
        bucket.year_one = True
        dry = [5] * 12
        self.run_bucket(WARM, dry, carryover=True, bucket=bucket)
        self.assertGreater(bucket.passes, 1)
        after_first = bucket.current_w
        self.assertLess(after_first, 100.0)
        _, e_carried, _, null, _ = self.run_bucket(WARM, RAIN, carryover=True, bucket=bucket)
        self.assertFalse(null)
        self.assertEqual(bucket.passes, 1)
        # The same year spun up on its own starts from a full soil and
        # evaporates more in January than after the dry year.
        _, e_alone, _, _, _ = self.run_bucket(WARM, RAIN)
        self.assertLess(sum(e_carried[1:]), sum(e_alone[1:]))

    def test_a_null_first_record_leaves_the_carried_state(self):
        bucket = ref.Bucket(100, 6, True, False)
        bucket.current_w, bucket.current_ws = 42.0, 3.0
        bucket.year_one = True
        _, _, _, null, _ = self.run_bucket([-20.0] * 12, [10] * 12, carryover=True, bucket=bucket)
        self.assertTrue(null)
        self.assertEqual((bucket.current_w, bucket.current_ws, bucket.year_one), (42.0, 3.0, False))

    def test_hcn_precipitation_is_tenths_truncated(self):
        bucket = ref.Bucket(100, 6, False, True)
        bucket.year_one = True
        ppt = [0, 254, 9, 999, -15, 1009, 100, 100, 100, 100, 100, 100, 100]
        tmean = [0.0] + [150.0] * 12
        bucket.run(tmean, ppt, ref.run_pet(tmean, 45.0, True))
        self.assertEqual(ppt[1:6], [25, 0, 99, -1, 100])


class WholeRunTest(unittest.TestCase):
    def test_header_and_rows_layout(self):
        temps = tab_file([tab_line(b"a", b"45", WARM), tab_line(b"b", b"45", WARM),
                          tab_line(b"c", b"45", WARM)])
        precs = tab_file([tab_line(b"a", b"45", RAIN),
                          tab_line(b"b", b"45", RAIN[:3] + ["NA"] + RAIN[4:]),
                          tab_line(b"c", b"45", RAIN)])
        table = ref.run_tables(temps, precs)
        lines = table.split(b"\r")
        self.assertEqual(lines[-1], b"")
        self.assertNotIn(b"\n", table)
        self.assertEqual([line.count(b"\t") for line in lines[:-1]], [39, 39, 1, 39])
        self.assertTrue(lines[0].startswith(b"Year or site\tPET_01\tPET_02"))
        self.assertTrue(lines[0].endswith(b"SURPLUS_12\tPET\tAET\tSURPLUS"))
        self.assertEqual(lines[2], b"b\t*")

    def test_sums_are_the_monthly_columns_added_in_order(self):
        row = one_record(COLD, RAIN)
        pet, aet, surplus, sums = values(row)
        for monthly, total in zip((pet, aet, surplus), sums):
            acc = 0.0
            for v in monthly:
                acc = acc + v
            self.assertEqual(acc, total)

    def test_missing_and_unreadable_months(self):
        for bad in ("NA", "-9999", "-9999.0", " NA", "", "abc", "12,5", "inf", "9999"):
            ppts = RAIN[:4] + [bad] + RAIN[5:]
            self.assertEqual(one_record(WARM, ppts), [b"x", b"*"], bad)
            temps = WARM[:4] + [bad] + WARM[5:]
            self.assertEqual(one_record(temps, RAIN), [b"x", b"*"], bad)
        self.assertEqual(one_record(WARM, RAIN[:4] + ["3000000000"] + RAIN[5:]), [b"x", b"*"])
        # 58 degrees is within the PET formula's range; 58.5 and 9999.5 (a
        # number, not the missing marker) are beyond it, where PET would be
        # negative.
        for hot, fields in (("58", 40), ("58.5", 2), ("9999.5", 2)):
            self.assertEqual(len(one_record(WARM[:4] + [hot] + WARM[5:], RAIN)), fields, hot)

    def test_precipitation_is_used_in_whole_millimetres(self):
        self.assertEqual(one_record(WARM, [v + 0.9 for v in RAIN]), one_record(WARM, RAIN))

    def test_latitude_must_be_a_number_from_minus_90_to_90(self):
        for lat in (b"91", b"-90.01", b"north", b"", b"nan"):
            self.assertEqual(one_record(WARM, RAIN, lat=lat), [b"x", b"*"], lat)
        for lat in (b"90", b"-90", b" 45 "):
            self.assertEqual(len(one_record(WARM, RAIN, lat=lat)), 40, lat)

    def test_end_of_the_precipitation_file(self):
        temps = tab_file([tab_line(b"a", b"45", WARM)] * 3)
        self.assertEqual(ref.run_tables(temps, HEADER + b"\n"), ref.header_line())
        self.assertEqual(ref.run_tables(temps, b""), ref.header_line())
        one = tab_file([tab_line(b"a", b"45", RAIN)])
        self.assertEqual(ref.run_tables(temps, one + b"\n \n\t\r\n"), ref.run_tables(temps, one))
        middle = ref.run_tables(temps, tab_file([tab_line(b"a", b"45", RAIN), b" ",
                                                 tab_line(b"c", b"45", RAIN)]))
        self.assertEqual(table_rows(middle)[2], [b" ", b"*"])
        self.assertEqual(len(table_rows(middle)), 4)

    def test_records_without_a_temperature_line_are_null(self):
        temps = tab_file([tab_line(b"a", b"45", WARM)])
        precs = tab_file([tab_line(n, b"45", RAIN) for n in (b"a", b"b", b"c")])
        rows = table_rows(ref.run_tables(temps, precs))
        self.assertEqual(len(rows[1]), 40)
        self.assertEqual(rows[2:], [[b"b", b"*"], [b"c", b"*"]])

    def test_line_ends_and_byte_order_mark_do_not_change_the_table(self):
        temps = tab_file([tab_line(b"a", b"45", WARM), tab_line(b"b", b"-30", COLD)])
        precs = tab_file([tab_line(b"a", b"45", RAIN), tab_line(b"b", b"-30", RAIN)])
        plain = ref.run_tables(temps, precs)
        for end in (b"\r\n", b"\r"):
            self.assertEqual(ref.run_tables(b"\xef\xbb\xbf" + temps.replace(b"\n", end),
                                            precs.replace(b"\n", end)), plain)

    def test_hcn_and_tab_formats_agree(self):
        temps_c = [-5.3, -2.1, 3.4, 9.9, 15.2, 20.0, 22.5, 21.7, 17.0, 10.4, 4.1, -1.6]
        ppts_mm = [56, 46, 59, 74, 90, 104, 105, 102, 93, 98, 76, 66]

        def hcn(values):
            return b"USW00014742 1999" + b"".join(b"%5d" % v for v in values) + b"\n"

        hcn_table = ref.run_tables(b"HCN t\n" + hcn([round(t * 10) for t in temps_c]),
                                   b"HCN p\n" + hcn([v * 10 + 7 for v in ppts_mm]),
                                   hcn=True, latitude=44.47)
        tab_table = ref.run_tables(tab_file([tab_line(b"1999", b"44.47", temps_c)]),
                                   tab_file([tab_line(b"1999", b"44.47", ppts_mm)]))
        self.assertEqual(hcn_table, tab_table)

    def test_hcn_identifier_and_short_lines(self):
        t = b"HCN\nUSW00014742 1999  -53   12  100  215  265  300  250  200  150  100    0  -10\n"
        p = b"HCN\nUSW00014742 1999  254    9  999 1000 1009   15  400  500  600  700  800\n"
        rows = table_rows(ref.run_tables(t, p, hcn=True, latitude=44.47))
        self.assertEqual(rows[1], [b"1999", b"*"])
        rows = table_rows(ref.run_tables(t, p.replace(b"800\n", b"800  900\n"), hcn=True,
                                         latitude=44.47))
        self.assertEqual(len(rows[1]), 40)


class SettingsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.tab = os.path.join(self.folder.name, "tab.txt")
        self.hcn = os.path.join(self.folder.name, "hcn.txt")
        with open(self.tab, "wb") as f:
            f.write(tab_file([tab_line(b"a", b"45", RAIN)]))
        with open(self.hcn, "wb") as f:
            f.write(b"HCN header\n")

    def tearDown(self):
        self.folder.cleanup()

    def refused(self, *args):
        with self.assertRaises(ref.UsageError) as ctx:
            ref.check_settings(*args)
        return str(ctx.exception).split("\n")

    def test_missing_files_are_named_precipitation_first(self):
        missing = os.path.join(self.folder.name, "nope")
        self.assertEqual(self.refused(missing + "_t.txt", missing + "_p.txt", "tab", "44.47", "100"),
                         ["The file %s_p.txt doesn't exist." % missing, "The file %s_t.txt doesn't exist." % missing])

    def test_field_capacity_and_latitude(self):
        for fc in ("0", "0.99", "-1", "x", "", "1e10"):
            self.assertEqual(self.refused(self.tab, self.tab, "tab", "44.47", fc),
                             ["Field capacity must be a positive number of millimetres."], fc)
        self.assertEqual(ref.check_settings(self.tab, self.tab, "tab", "junk", "1.9")[1], 1)
        for lat in ("91", "x", ""):
            self.assertEqual(self.refused(self.hcn, self.hcn, "hcn", lat, "100"),
                             ["Latitude must be a number of decimal degrees from -90 to 90."], lat)

    def test_hcn_headers(self):
        hint = "%s: its first line does not start with HCN. Choose --format tab or csv." % self.tab
        self.assertEqual(self.refused(self.hcn, self.tab, "hcn", "44.47", "100"),
                         ["Precip file not an HCN format file", hint])
        self.assertEqual(self.refused(self.tab, self.tab, "hcn", "44.47", "100"),
                         ["Precip file not an HCN format file", hint, "Temp file not an HCN format file", hint])
        self.assertEqual(ref.check_settings(self.hcn, self.hcn, "hcn", "44.47", "100")[0], 44.47)


class CsvAndColumnsTest(unittest.TestCase):
    def test_csv_fields(self):
        for record, sep, fields in [
                (b'"a,b ""c""",1', b",", [b'a,b "c"', b"1"]),
                (b'"x"y ,"",', b",", [b"xy ", b"", b""]),
                (b'a"b,"open,to the end', b",", [b'a"b', b"open,to the end"]),
                (b'"S;P";12,5', b";", [b"S;P", b"12,5"])]:
            self.assertEqual(ref.csv_fields(record, sep), fields, record)
        self.assertEqual(ref.csv_layout(b'Site;Lat;" Field_Capacity "'), (b";", True, 3))
        self.assertEqual(ref.csv_layout(b"Site;Lat,Jan"), (b",", False, 0))
        self.assertTrue(ref.csv_quote_open(b'a,"b""', False))
        self.assertFalse(ref.csv_quote_open(b'a,b"c', False))
        self.assertFalse(ref.csv_quote_open(b'x",1', True))

    def test_column_groups(self):
        temps = tab_file([tab_line(b"a", b"45", COLD)])
        precs = tab_file([tab_line(b"a", b"45", [v + 0.7 for v in RAIN])])
        header, row = ref.run_tables(temps, precs, groups=("deficit", "soil", "snow", "precip", "deficit"),
                                     line_end=b"\n").split(b"\n")[:2]
        self.assertEqual(len(header.split(b"\t")), 50)
        classic = table_rows(ref.run_tables(temps, precs))[1]
        pet, aet, _, _ = values(classic)
        nums = [float(f) for f in row.split(b"\t")[1:]]
        self.assertEqual(nums[:12], [p - a for p, a in zip(pet, aet)])
        self.assertAlmostEqual(nums[12], sum(nums[:12]), places=9)
        self.assertEqual(nums[37:49], [float(v) for v in RAIN])  # whole millimetres
        # November (-1 °C) rains on bare ground; December (-8.5 °C) keeps all its snow.
        self.assertEqual(nums[35], 0.0)
        self.assertAlmostEqual(nums[36], 45.0, places=9)


class ExamplesTest(unittest.TestCase):
    """The sample data gives the rows its README promises."""

    def run_example(self, temp, prec, **options):
        with open(os.path.join(ROOT, "examples", temp), "rb") as f:
            temps = f.read()
        with open(os.path.join(ROOT, "examples", prec), "rb") as f:
            precs = f.read()
        return table_rows(ref.run_tables(temps, precs, **options))

    def test_allsites(self):
        rows = self.run_example("allsites_temp.txt", "allsites_prec.txt")
        self.assertEqual(len(rows), 24)
        nulls = [row[0].decode() for row in rows[1:] if len(row) == 2]
        self.assertEqual(nulls, ["Reykjavík", "Vostok"])

    def test_hcn(self):
        rows = self.run_example("hcn_temp.txt", "hcn_prec.txt", hcn=True, latitude=44.47)
        self.assertEqual([row[0] for row in rows[1:]], [b"%d" % y for y in range(2011, 2021)])
        self.assertEqual([row[0] for row in rows[1:] if len(row) == 2], [b"2016"])

    def test_series_with_and_without_carry_over(self):
        alone = self.run_example("series_temp.txt", "series_prec.txt")
        carried = self.run_example("series_temp.txt", "series_prec.txt", carryover=True)
        self.assertEqual(len(alone), 31)
        self.assertTrue(all(len(row) == 40 for row in alone + carried))
        self.assertNotEqual(alone[2:], carried[2:])
        # PET does not depend on the soil.
        self.assertEqual([row[1:13] for row in alone], [row[1:13] for row in carried])


class CompareTablesTest(unittest.TestCase):
    def test_identical_tables(self):
        table = ref.run_tables(tab_file([tab_line(b"a", b"45", WARM)]),
                               tab_file([tab_line(b"a", b"45", RAIN)]))
        self.assertEqual(compare_tables.compare(table, table), [])

    def test_differences_are_found_and_located(self):
        table = ref.run_tables(tab_file([tab_line(b"a", b"45", WARM)]),
                               tab_file([tab_line(b"a", b"45", RAIN)]))
        header, row = table.split(b"\r", 1)
        fields = row.split(b"\t")
        nudged = math.nextafter(float(fields[20]), math.inf)
        fields[20] = ref.format_double(nudged).encode()
        diffs = compare_tables.compare(table, header + b"\r" + b"\t".join(fields))
        self.assertEqual(len(diffs), 1)
        self.assertIn("column 21 AET_08", diffs[0])
        self.assertIn("1 ulp", diffs[0])
        self.assertEqual(len(compare_tables.compare(table, table.replace(b"\r", b"\n"))), 2)
        self.assertIn("same double", compare_tables.compare(b"1e+05\r", b"100000\r")[0])
        self.assertIn("only B", compare_tables.compare(table, table + b"x\t*\r")[0])


if __name__ == "__main__":
    unittest.main()
