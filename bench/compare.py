#!/usr/bin/env python3
"""Runs a Google Benchmark program and prints chosen ratios between its results.

  compare.py BINARY [--time real_time|cpu_time] ROW... [-- extra benchmark flags]

Each ROW is "label=NUM/DEN" or "label=NUM-SUB/DEN": benchmark names whose median times (of 5
repetitions, all from the same run) give the ratio; the second form takes SUB's time off NUM's
first, to isolate one step of a pipeline. Below 1 means faster than the denominator.
"""
import json
import os
import subprocess
import sys
import tempfile


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    binary, rest = argv[1], argv[2:]
    extra = []
    if "--" in rest:
        cut = rest.index("--")
        rest, extra = rest[:cut], rest[cut + 1:]
    metric = "real_time"
    if rest[:1] == ["--time"]:
        metric, rest = rest[1], rest[2:]
    if not os.access(binary, os.X_OK):
        print(f"missing {binary}: build it first", file=sys.stderr)
        return 1
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([binary, "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                        f"--benchmark_out={out.name}", "--benchmark_out_format=json", *extra],
                       check=True, stdout=subprocess.DEVNULL)
        runs = json.load(open(out.name))["benchmarks"]
    median = {r["run_name"]: r[metric] for r in runs if r.get("aggregate_name") == "median"}
    unit = {r["run_name"]: r.get("time_unit", "ns") for r in runs}
    for name, value in median.items():
        print(f"{name:45s} {value:12.1f} {unit[name]} {metric} (median of 5)")
    print()
    for row in rest:
        label, expr = row.split("=", 1)
        num, den = expr.split("/", 1)
        sub = None
        if "-" in num:
            num, sub = num.split("-", 1)
        value = median[num] - (median[sub] if sub else 0.0)
        print(f"{label:55s} {value / median[den]:6.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
