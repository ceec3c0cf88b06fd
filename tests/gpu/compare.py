#!/usr/bin/env python3
"""Sets the benchmark's figures beside two cross-check runs, one row per device and test.

Usage: compare.py REPORT CROSSCHECK_BEFORE CROSSCHECK_AFTER [--wall-seconds S]
                  [--unit-tests passed|failed|skipped]

REPORT is what cuda-bandwidth printed; the two cross-checks ran just before and just after it,
pinned to the same core. Pageable copies vary between processes by a few percent, so the
program's figure is held against the range of the two cross-checks' steady_clock means of rates:
it fails only when it lies more than 3% outside that range. The cross-checks' own spread is
shown so that the noise can be read off the table. The event-timed mean is shown but not
judged, since events see only the GPU's part of a copy.

The program's "CPU frequency" line is checked on its own against the counter rate that each
cross-check measured against steady_clock over its whole run: a gap over 0.1% means the
calibration is wrong, whatever the copies say.

Exit status: 0 when every check passed, 1 when not (the table is printed in full either way),
2 when the report shows no device to compare.
"""

import argparse
import re
import sys

BAND = 0.03
CALIBRATION_BAND = 0.001
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
    """{device: {test: figure}}, the device names and the printed frequency in GHz."""
    figures, names = {}, {}
    frequency = None
    device, test = None, None
    for line in text.splitlines():
        match = re.fullmatch(r"CPU frequency is\.\.\. (\S+) GHz", line)
        if match:
            frequency = number(match.group(1))
            continue
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
    return figures, names, frequency


def parse_crosscheck(text):
    """Device facts {device: {key: value}}, tests {(device, test): {key: value}} and run facts."""
    facts, tests, run = {}, {}, {}
    for line in text.splitlines():
        match = re.match(r"device (\d+) (test (\d+) )?(.*)", line)
        if not match:
            run.update(dict(re.findall(r"(\w+)=(\S+)", line)))
            continue
        device = int(match.group(1))
        fields = dict(re.findall(r'(\w+)=("[^"]*"|\S+)', match.group(4)))
        fields = {key: value.strip('"') for key, value in fields.items()}
        if match.group(3):
            tests[(device, int(match.group(3)))] = fields
        else:
            facts.setdefault(device, {}).update(fields)
    return facts, tests, run


def number(value):
    try:
        return float(value)
    except (TypeError, ValueError):
        return None


def limit_for(test, facts):
    """The theoretical limit that applies to the test's figure, and what it is."""
    if test in (1, 2, 5, 6):
        return number(facts.get("link_limit")), "PCIe one way, at most"
    if test == 4:
        peak = number(facts.get("memory_peak"))
        # The figure counts each byte once; the memory reads and writes it.
        return (peak / 2 if peak else None), "memory peak / 2"
    return None, ""


def device_facts(checks, device):
    """What the cross-checks say about the device itself, the later run's word last."""
    facts = {}
    for check in checks:
        facts.update(check[0].get(device, {}))
    return facts


def figure_text(value):
    return "-" if value is None else f"{value:.2f}"


def percent_text(value):
    return "-" if value is None else f"{value:+.1%}"


def outside(program, low, high):
    """How far the figure lies outside [low, high], relative to the nearer end; 0 inside."""
    if program < low:
        return program / low - 1.0
    if program > high:
        return program / high - 1.0
    return 0.0


def link_text(facts):
    speed, width = facts.get("link_speed_gt_s"), facts.get("link_width")
    top_speed, top_width = facts.get("max_link_speed_gt_s"), facts.get("max_link_width")
    if top_speed is None:
        return "link unknown"
    return (f"PCIe {top_speed} GT/s x{top_width} at most, "
            f"{speed} GT/s x{width} read after the copies")


def build(report_text, before_text, after_text, wall_seconds=None, unit_tests=None):
    """The table's lines, the problems found, and whether there was anything to compare."""
    figures, names, frequency = parse_report(report_text)
    checks = [parse_crosscheck(before_text), parse_crosscheck(after_text)]
    if not figures:
        return [], ["the report shows no device"], False
    lines = [
        f"{'dev':<4}{'test':<13}{'program':>9}{'steady 1':>10}{'steady 2':>10}{'spread':>8}"
        f"{'outside':>9}{'events':>9}{'limit':>9}  {'of limit':>8}  limit is"
    ]
    problems = []
    copy_seconds = 0.0
    for device in sorted(figures):
        facts = device_facts(checks, device)
        for test in range(1, 7):
            program = figures[device].get(test)
            rows = [check[1].get((device, test)) for check in checks]
            if program is None:
                problems.append(f"device {device} test {test}: no figure in the report")
                continue
            if None in rows:
                which = " and ".join(name for name, row in zip(("first", "second"), rows)
                                     if row is None)
                problems.append(f"device {device} test {test}: no line in the {which} cross-check")
                continue
            steadies = [number(row.get("steady_mean")) for row in rows]
            if None in steadies or min(steadies) <= 0:
                problems.append(f"device {device} test {test}: no steady_clock mean to compare")
                continue
            low, high = min(steadies), max(steadies)
            beyond = outside(program, low, high)
            events = [number(row.get("event_mean")) for row in rows]
            events = [value for value in events if value is not None]
            event_mean = sum(events) / len(events) if events else None
            copy_seconds += number(rows[0].get("steady_seconds")) or 0.0
            limit, limit_name = limit_for(test, facts)
            share = f"{program / limit:8.1%}" if limit else f"{'-':>8}"
            lines.append(
                f"{device:<4}{SHORT_NAMES[test]:<13}{figure_text(program):>9}"
                f"{figure_text(steadies[0]):>10}{figure_text(steadies[1]):>10}"
                f"{high / low - 1.0:>8.1%}{percent_text(beyond):>9}{figure_text(event_mean):>9}"
                f"{figure_text(limit):>9}  {share}  {limit_name}".rstrip()
            )
            for name, row in zip(("first", "second"), rows):
                if row.get("data") != "ok":
                    problems.append(f"device {device} test {test}: the {name} cross-check's "
                                    f"copies did not move the data")
            if abs(beyond) > BAND:
                problems.append(
                    f"device {device} test {test}: program {figure_text(program)} GB/s is more "
                    f"than {BAND:.0%} outside the cross-checks' steady_clock means "
                    f"{figure_text(low)} to {figure_text(high)} GB/s"
                )
    for device in sorted(figures):
        facts = device_facts(checks, device)
        lines.append(f"device {device}: {names[device]}; {link_text(facts)}")

    rates = [number(check[2].get("counter_rate_ghz")) for check in checks]
    rates = [rate for rate in rates if rate]
    if frequency is None or not rates:
        problems.append("calibration: no frequency line or no counter rate to check it against")
    else:
        worst = max((frequency / rate - 1.0 for rate in rates), key=abs)
        lines.append(
            f"calibration: program {frequency:g} GHz; counter against steady_clock "
            f"{' and '.join(f'{rate:.6g}' for rate in rates)} GHz; off by {worst:+.3%}"
        )
        if abs(worst) > CALIBRATION_BAND:
            problems.append(
                f"calibration: the program's {frequency:g} GHz is {worst:+.3%} off the counter's "
                f"rate against steady_clock, more than {CALIBRATION_BAND:.1%}"
            )
    if wall_seconds is not None:
        lines.append(
            f"program wall time {wall_seconds:.2f} s; copies (first cross-check's steady_clock) "
            f"{copy_seconds:.2f} s; the rest {wall_seconds - copy_seconds:.2f} s"
        )
    if unit_tests is not None:
        lines.append(f"unit tests: {unit_tests}")
        if unit_tests == "failed":
            problems.append("the unit tests failed (see unit-tests.log)")
    return lines, problems, True


def read(path):
    with open(path, encoding="ascii", errors="replace") as f:
        return f.read()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("report")
    parser.add_argument("crosscheck_before")
    parser.add_argument("crosscheck_after")
    parser.add_argument("--wall-seconds", type=float)
    parser.add_argument("--unit-tests", choices=("passed", "failed", "skipped"))
    args = parser.parse_args(argv)
    lines, problems, compared = build(read(args.report), read(args.crosscheck_before),
                                      read(args.crosscheck_after), args.wall_seconds,
                                      args.unit_tests)
    for line in lines:
        print(line)
    for problem in problems:
        print(f"FAIL: {problem}")
    if not compared:
        return 2
    if problems:
        return 1
    print(f"every figure is within {BAND:.0%} of the cross-checks' steady_clock means, the "
          f"calibration within {CALIBRATION_BAND:.1%} of the counter's rate, and every copy "
          f"moved its data")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
