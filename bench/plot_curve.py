#!/usr/bin/env python3
"""Draws the curve bench/whole_job.sh measures: host and cp time against the
star count on the 8192 x 8192 image, with the point where the job switches
from reading the pages its stars land on to reading the rows whole.

Usage: plot_curve.py CURVE.csv OUTPUT.png   (needs python3-matplotlib)
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    rows = list(csv.DictReader(open(sys.argv[1])))
    # Zero stars sits at the left edge of a logarithmic axis, shown as 1.
    stars = [max(int(r["stars"]), 1) for r in rows]
    host = [float(r["host_ms"]) for r in rows]
    copy = [float(r["cp_ms"]) for r in rows]
    figure, axes = plt.subplots(figsize=(7, 4.2), dpi=100)
    axes.plot(stars, host, "o-", label="pelindra (whole process)")
    axes.plot(stars, copy, "s--", label="cp of the same file")
    switch = next((i for i, r in enumerate(rows) if r["mode"] == "whole"), None)
    if switch is not None and switch > 0:
        # The switch lies between the last count read by pages and the first
        # read whole; marked halfway on the logarithmic axis.
        at = (stars[switch - 1] * stars[switch]) ** 0.5
        axes.axvline(at, color="grey", linestyle=":")
        axes.text(at, max(host) * 0.8, "  pages | whole\n  read", color="grey")
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("stars (0 shown at 1)")
    axes.set_ylabel("wall time, ms (median of 3)")
    axes.set_title("8192 x 8192 (201 MB): job and copy time")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(loc="upper left")
    figure.tight_layout()
    figure.savefig(sys.argv[2])


if __name__ == "__main__":
    main()
