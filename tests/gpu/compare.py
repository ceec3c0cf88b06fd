#!/usr/bin/env python3
"""Sets the benchmark's figures beside the cross-check's, one row per device and test.

Usage: compare.py REPORT CROSSCHECK [--wall-seconds S]

REPORT is what cuda-bandwidth printed, CROSSCHECK what crosscheck printed. The program's figure
is compared with the cross-check's steady_clock mean of rates, which times the same span with an
independent clock: a gap over 3% means the tick calibration or the arithmetic is wrong. The ratio
to the event-timed mean is shown but not judged, since events see only the GPU's part of a copy.

Exit status: 0 when every figure is within the band and every copy moved its data, 1 when not,
2 when the report shows no device to compare.
"""

import argparse
import re
import sys

BAND = 0.03
TESTS = {
    "Copying Host -> Device": 1,
    "Copying Device -> Host": 2,
    "Copying Host -> Host": 3,
    "Copying Device -> Device": 4,
    "Copying Host -> Device (using page-locked)": 5,
    "Copying Device -> Host (using page-locked)": 6,
}
SHORT_NAMES = {1: "H->D", 2: "D->H", 3: "H->H", 4: "D->D", 5: "H->D pinned", 6: "D->H pinned"}


def parse_report(text):
    """{device: {test: figure}} and the device names, from the benchmark's report."""
    figures, names = {}, {}
    device, test = None, None
    for line in text.splitlines():
        match = re.fullmatch(r"GPU (\d+): (.*)", line)
        if match:
            device = int(match.group(1))
            names[device] = match.group(2)
            figures[device] = {}
            continue
        if line in TESTS:
            test = TESTS[line]
            continue
        match = re.fullmatch(r"Average bandwidth = (\S+) GB/s", line)
        if match and device is not None and test is not None:
            figures[device][test] = float(match.group(1))
    return figures, names


def parse_crosscheck(text):
    """{device: {key: value}} for device facts and {(device, test): {key: value}} for tests."""
    facts, tests = {}, {}
    for line in text.splitlines():
        match = re.match(r"device (\d+) (test (\d+) )?(.*)", line)
        if not match:
            continue
        device = int(match.group(1))
        fields = dict(re.findall(r'(\w+)=("[^"]*"|\S+)', match.group(4)))
        fields = {key: value.strip('"') for key, value in fields.items()}
        if match.group(3):
            tests[(device, int(match.group(3)))] = fields
        else:
            facts.setdefault(device, {}).update(fields)
    return facts, tests


def number(value):
    try:
        return float(value)
    except (TypeError, ValueError):
        return None


def limit_for(test, facts):
    """The theoretical limit that applies to the test's figure, and what it is."""
    if test in (1, 2, 5, 6):
        return number(facts.get("link_limit")), "PCIe one way"
    if test == 4:
        peak = number(facts.get("memory_peak"))
        # The figure counts each byte once; the memory reads and writes it.
        return (peak / 2 if peak else None), "memory peak / 2"
    return None, ""


def ratio_text(value):
    return "-" if value is None else f"{value:.3f}"


def figure_text(value):
    return "-" if value is None else f"{value:.2f}"


def build(report_text, crosscheck_text, wall_seconds=None):
    """The table's lines, the problems found, and whether there was anything to compare."""
    figures, names = parse_report(report_text)
    facts, tests = parse_crosscheck(crosscheck_text)
    if not figures:
        return [], ["the report shows no device"], False
    lines = [
        f"{'dev':<4}{'test':<13}{'program':>9}{'steady':>9}{'events':>9}"
        f"{'prog/steady':>13}{'prog/events':>13}{'limit':>9}  {'of limit':>8}  limit is"
    ]
    problems = []
    copy_seconds = 0.0
    for device in sorted(figures):
        for test in range(1, 7):
            program = figures[device].get(test)
            check = tests.get((device, test))
            if program is None:
                problems.append(f"device {device} test {test}: no figure in the report")
                continue
            if check is None:
                problems.append(f"device {device} test {test}: no cross-check line")
                continue
            steady = number(check.get("steady_mean"))
            events = number(check.get("event_mean"))
            copy_seconds += number(check.get("steady_seconds")) or 0.0
            to_steady = program / steady if steady else None
            to_events = program / events if events else None
            limit, limit_name = limit_for(test, facts.get(device, {}))
            share = f"{program / limit:8.1%}" if limit else f"{'-':>8}"
            lines.append(
                f"{device:<4}{SHORT_NAMES[test]:<13}{figure_text(program):>9}"
                f"{figure_text(steady):>9}{figure_text(events):>9}"
                f"{ratio_text(to_steady):>13}{ratio_text(to_events):>13}"
                f"{figure_text(limit):>9}  {share}  {limit_name}".rstrip()
            )
            if check.get("data") != "ok":
                problems.append(f"device {device} test {test}: the copies did not move the data")
            if to_steady is None or abs(to_steady - 1.0) > BAND:
                problems.append(
                    f"device {device} test {test}: program {figure_text(program)} GB/s is more "
                    f"than {BAND:.0%} off the steady_clock mean {figure_text(steady)} GB/s"
                )
    for device in sorted(figures):
        lines.append(f"device {device}: {names[device]}")
    if wall_seconds is not None:
        lines.append(
            f"program wall time {wall_seconds:.2f} s; copies (cross-check steady_clock) "
            f"{copy_seconds:.2f} s; the rest {wall_seconds - copy_seconds:.2f} s"
        )
    return lines, problems, True


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("report")
    parser.add_argument("crosscheck")
    parser.add_argument("--wall-seconds", type=float)
    args = parser.parse_args(argv)
    with open(args.report, encoding="ascii", errors="replace") as report:
        report_text = report.read()
    with open(args.crosscheck, encoding="ascii", errors="replace") as crosscheck:
        crosscheck_text = crosscheck.read()
    lines, problems, compared = build(report_text, crosscheck_text, args.wall_seconds)
    for line in lines:
        print(line)
    for problem in problems:
        print(f"FAIL: {problem}")
    if not compared:
        return 2
    if problems:
        return 1
    print(f"every figure is within {BAND:.0%} of the steady_clock mean and every copy moved its data")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
