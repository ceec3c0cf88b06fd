#!/usr/bin/env python3
"""The comparison table, built from saved outputs: a synthetic GPU run and a real no-GPU run."""

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


def run(report, crosscheck, *extra):
    """Runs the command line on texts; returns (exit status, printed text)."""
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for name, text in (("report.txt", report), ("crosscheck.txt", crosscheck)):
            path = os.path.join(folder, name)
            with open(path, "w", encoding="ascii") as f:
                f.write(text)
            paths.append(path)
        printed = io.StringIO()
        with redirect_stdout(printed):
            status = compare.main(paths + list(extra))
    return status, printed.getvalue()


REPORT = sample("synthetic-report.txt")
CROSSCHECK = sample("synthetic-crosscheck.txt")


class ComparisonTable(unittest.TestCase):
    def test_table_matches_the_saved_one(self):
        status, printed = run(REPORT, CROSSCHECK, "--wall-seconds", "9.5")
        self.assertEqual(status, 0)
        self.assertEqual(printed, sample("synthetic-table.txt"))

    def test_failures_are_named_and_fail_the_run(self):
        cases = [
            (
                "figure_over_3_percent_above",
                REPORT.replace("= 20 GB/s", "= 20.9 GB/s"),
                CROSSCHECK,
                "device 0 test 5: program 20.90 GB/s is more than 3% off",
            ),
            (
                "figure_over_3_percent_below",
                REPORT.replace("= 10 GB/s", "= 9.7 GB/s"),
                CROSSCHECK,
                "device 0 test 1: program 9.70 GB/s is more than 3% off",
            ),
            (
                "data_not_moved",
                REPORT,
                CROSSCHECK.replace("steady_seconds=0.78755 event_mean=13 event_total=12.9 "
                                   "event_median=13.05 data=ok",
                                   "steady_seconds=0.78755 event_mean=13 event_total=12.9 "
                                   "event_median=13.05 data=MISMATCH"),
                "device 0 test 2: the copies did not move the data",
            ),
            (
                "cross_check_line_missing",
                REPORT,
                "\n".join(l for l in CROSSCHECK.splitlines() if "test 4 " not in l),
                "device 0 test 4: no cross-check line",
            ),
            (
                "device_failed_in_the_report",
                REPORT.split("Copying Device -> Host (using page-locked)")[0]
                + "Copying Device -> Host (using page-locked)\n"
                + "Error occured: unspecified launch failure (719)\n\nDone",
                CROSSCHECK,
                "device 0 test 6: no figure in the report",
            ),
        ]
        for name, report, crosscheck, expected in cases:
            with self.subTest(name):
                status, printed = run(report, crosscheck)
                self.assertEqual(status, 1, printed)
                self.assertIn("FAIL: " + expected, printed)
                self.assertNotIn("every figure is within", printed)

    def test_just_inside_the_band_passes(self):
        status, printed = run(REPORT.replace("= 10 GB/s", "= 10.4 GB/s"), CROSSCHECK)
        self.assertEqual(status, 0, printed)

    def test_no_gpu_run_has_nothing_to_compare(self):
        status, printed = run(sample("no-gpu-report.txt"), sample("no-gpu-crosscheck.txt"))
        self.assertEqual(status, 2)
        self.assertIn("FAIL: the report shows no device", printed)


if __name__ == "__main__":
    unittest.main()
