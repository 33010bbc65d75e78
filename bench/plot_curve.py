#!/usr/bin/env python3
"""Draws the curve bench/whole_job.sh measures: host and cp time against the
star count on the 8192 x 8192 image, with the point where the job switches
from writing each star's runs over the copied rows to drawing in bands.

Usage: plot_curve.py CURVE.csv OUTPUT.png [SWITCH]   (needs python3-matplotlib)
SWITCH is the smallest star count drawn in bands (pelindra_drawing_modes
--switch); without it the switch is marked between the last count drawn as
runs and the first in bands.
"""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    rows = list(csv.DictReader(open(sys.argv[1])))
    # Zero stars sits at the left edge of a logarithmic axis, shown as 1.
    stars = [max(int(r["stars"]), 1) for r in rows]
    host = [float(r["host_ms"]) for r in rows]
    copy = [float(r["cp_ms"]) for r in rows]
    figure, axes = plt.subplots(figsize=(7, 4.2), dpi=100)
    axes.plot(stars, host, "o-", label="pelindra (whole process)")
    axes.plot(stars, copy, "s--", label="cp of the same file")
    first_banded = next((i for i, r in enumerate(rows) if r["mode"] == "bands"), None)
    at = None
    if len(sys.argv) == 4:
        at = int(sys.argv[3])
    elif first_banded is not None and first_banded > 0:
        at = (stars[first_banded - 1] * stars[first_banded]) ** 0.5
    if at is not None:
        axes.axvline(at, color="grey", linestyle=":")
        axes.text(at * 0.85, max(host) * 0.9, "runs over\nthe copy", color="grey",
                  horizontalalignment="right", verticalalignment="top")
        axes.text(at * 1.15, max(host) * 0.9, f"in bands\nfrom {at:,.0f} stars",
                  color="grey", verticalalignment="top")
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("stars (0 shown at 1)")
    axes.set_ylabel("wall time, ms (median of 3)")
    axes.set_title("8192 x 8192 (201 MB): job and copy time")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(loc="center left")
    figure.tight_layout()
    figure.savefig(sys.argv[2])


if __name__ == "__main__":
    main()
