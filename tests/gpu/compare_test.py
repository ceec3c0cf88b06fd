#!/usr/bin/env python3
"""The comparison table and its verdicts, built from saved outputs.

The synthetic-* samples are made-up numbers shaped like a GPU run (their device is named "Synthetic
GPU (test data, not a measurement)"); the no-gpu-* samples are the real outputs of a machine
without a driver.
"""

import io
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import compare  # noqa: E402


def sample(name):
    with open(os.path.join(HERE, "samples", name), encoding="ascii") as f:
        return f.read()


def run(report, before, after, *extra):
    """Runs the command line on texts; returns (exit status, printed text)."""
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for name, text in (("report.txt", report), ("before.txt", before), ("after.txt", after)):
            path = os.path.join(folder, name)
            with open(path, "w", encoding="ascii") as f:
                f.write(text)
            paths.append(path)
        printed = io.StringIO()
        with redirect_stdout(printed):
            status = compare.main(paths + list(extra))
    return status, printed.getvalue()


REPORT = sample("synthetic-report.txt")
BEFORE = sample("synthetic-crosscheck-before.txt")
AFTER = sample("synthetic-crosscheck-after.txt")


def table_rows(printed):
    return [line for line in printed.splitlines() if line[:1].isdigit()]


class ComparisonTable(unittest.TestCase):
    def test_table_matches_the_saved_one(self):
        status, printed = run(REPORT, BEFORE, AFTER, "--wall-seconds", "9.5",
                              "--unit-tests", "passed")
        self.assertEqual(status, 0, printed)
        self.assertEqual(printed, sample("synthetic-table.txt"))

    def test_figures_are_judged_against_the_bracket_of_both_cross_checks(self):
        # Test 1's cross-checks saw 10.1 and 10.302 GB/s.
        cases = [
            ("inside_the_bracket_but_3.5_percent_off_one", "10.1", 10.1, 10.1 * 1.035, 0),
            ("just_inside_the_band_above", "10.6", 10.1, 10.302, 0),
            ("just_inside_the_band_below", "9.8", 10.1, 10.302, 0),
            ("3.5_percent_above_both", "10.67", 10.1, 10.302, 1),
            ("3.5_percent_below_both", "9.74", 10.1, 10.302, 1),
        ]
        for name, figure, first, second, expected in cases:
            with self.subTest(name):
                report = REPORT.replace("= 10 GB/s", f"= {figure} GB/s")
                before = BEFORE.replace("steady_mean=10.1 ", f"steady_mean={first:g} ")
                after = AFTER.replace("steady_mean=10.302 ", f"steady_mean={second:g} ")
                status, printed = run(report, before, after)
                self.assertEqual(status, expected, printed)
                failed = f"FAIL: device 0 test 1: program {float(figure):.2f} GB/s is more than 3%"
                self.assertEqual(failed in printed, expected == 1, printed)

    def test_failures_are_named_and_fail_the_run(self):
        cases = [
            (
                "calibration_0.2_percent_off",
                REPORT.replace("CPU frequency is... 3 GHz", "CPU frequency is... 3.006 GHz"),
                BEFORE,
                AFTER,
                "calibration: the program's 3.006 GHz is +0.200% off the counter's rate",
            ),
            (
                "data_not_moved",
                REPORT,
                BEFORE,
                AFTER.replace("event_median=13.05 data=ok", "event_median=13.05 data=MISMATCH"),
                "device 0 test 2: the second cross-check's copies did not move the data",
            ),
            (
                "cross_check_line_missing",
                REPORT,
                "\n".join(line for line in BEFORE.splitlines() if "test 4 " not in line),
                AFTER,
                "device 0 test 4: no line in the first cross-check",
            ),
            (
                "device_failed_in_the_report",
                REPORT.split("Copying Device -> Host (using page-locked)")[0]
                + "Copying Device -> Host (using page-locked)\n"
                + "Error occured: unspecified launch failure (719)\n\nDone",
                BEFORE,
                AFTER,
                "device 0 test 6: no figure in the report",
            ),
            (
                "no_counter_rate",
                REPORT,
                BEFORE.replace("counter_rate_ghz=", "lost="),
                AFTER.replace("counter_rate_ghz=", "lost="),
                "calibration: no frequency line or no counter rate",
            ),
        ]
        for name, report, before, after, expected in cases:
            with self.subTest(name):
                status, printed = run(report, before, after)
                self.assertEqual(status, 1, printed)
                self.assertIn("FAIL: " + expected, printed)
                self.assertNotIn("every figure is within", printed)

    def test_link_limit_uses_the_maximum_not_an_idle_reading(self):
        # The samples read the link at 2.5 GT/s after the copies, 32 GT/s x16 at most.
        status, printed = run(REPORT, BEFORE, AFTER)
        self.assertEqual(status, 0, printed)
        host_to_device = table_rows(printed)[0].split()
        self.assertEqual(host_to_device[8], "58.60")
        self.assertIn("PCIe 32 GT/s x16 at most, 2.5 GT/s x16 read after the copies", printed)

    def test_a_unit_test_failure_still_yields_the_whole_table(self):
        status, printed = run(REPORT, BEFORE, AFTER, "--unit-tests", "failed")
        self.assertEqual(status, 1)
        self.assertEqual(len(table_rows(printed)), 6, printed)
        self.assertIn("calibration: program 3 GHz", printed)
        self.assertIn("FAIL: the unit tests failed", printed)

    def test_no_gpu_run_has_nothing_to_compare(self):
        nothing = sample("no-gpu-crosscheck.txt")
        status, printed = run(sample("no-gpu-report.txt"), nothing, nothing)
        self.assertEqual(status, 2)
        self.assertIn("FAIL: the report shows no device", printed)


if __name__ == "__main__":
    unittest.main()
