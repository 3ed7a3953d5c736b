#!/usr/bin/python3
"""Write a synthetic frame_stats report, or format one from known arrays.

`synthesize` imitates a sensor (a slowly drifting level, a row pattern,
column stripes, per-pixel offsets with a few hot pixels, Gaussian temporal
noise), runs the frame statistics and profile analysis of frame_stats over
the simulated frames and returns the report text.  `format_report` writes a
report from given per-frame values, profiles and deviation table; the tests
use it to build reports with known structure.

    make_synthetic_report.py OUTPUT [--frames N] [--seed S]

docs/report-example.png was drawn from the default report (200 frames,
seed 1) by `frame_stats_plot synthetic-report.txt full.png`, then reduced
to 256 colours with Pillow (FASTOCTREE, no dithering) to keep it small.
"""

import argparse
import sys

import numpy as np

ROWS = 120
COLS = 160


def format_report(frame_index, frame_mean, frame_min, frame_max, meandelta,
                  row_profile, col_profile, deviation, newline="\n"):
    """Report text; `deviation` is indexed [row, col]."""
    out = []
    for i, mean, lo, hi, delta in zip(frame_index, frame_mean, frame_min, frame_max,
                                      meandelta):
        out.append("FRAME %d type0 mean=%.0f min=%u max=%u meandelta=%.1f"
                   % (i, mean, lo, hi, delta))
    out += ["", "ROW_PROFILE:"]
    out += ["%d %.1f" % (r, v) for r, v in enumerate(row_profile)]
    out += ["", "COL_PROFILE:"]
    out += ["%d %.1f" % (c, v) for c, v in enumerate(col_profile)]
    out += ["", "PIXEL_DEVIATION (mean - row - col + global):"]
    for r in range(ROWS):
        out += ["%d %d %.1f" % (c, r, deviation[r, c]) for c in range(COLS)]
    return newline.join(out) + newline


def synthesize(frames=200, seed=1, other_type_every=40, temporal_sigma=6.0):
    """Report text for `frames` captured frames of a simulated sensor.

    Besides noise, the pixel offsets hold a dark dust shadow and a column
    defect that covers only the lower rows, so the deviation map shows shapes
    that the row and column profiles cannot take out.

    Every `other_type_every`-th frame (counting from 1) is of another type,
    so its index is missing from the frame lines.
    """
    rng = np.random.default_rng(seed)
    rows = np.arange(ROWS)[:, None]
    cols = np.arange(COLS)[None, :]
    row_pattern = 0.02 * (rows - ROWS / 2) + rng.normal(0, 1.2, (ROWS, 1))
    col_pattern = rng.normal(0, 1.5, (1, COLS)) + 6.0 * (cols % 16 == 5) - 4.0 * (cols % 32 == 20)
    col_pattern += 8.0 * np.exp(-(((cols - 150) / 6.0) ** 2))  # warm right edge
    pixel_offset = rng.normal(0, 3.0, (ROWS, COLS))
    hot = rng.choice(ROWS * COLS, 25, replace=False)
    pixel_offset.flat[hot] += rng.uniform(20, 120, hot.size)
    pixel_offset -= 14.0 * np.exp(-((rows - 38) ** 2 + (cols - 112) ** 2) / 40.0)  # dust
    pixel_offset[70:, 37] += 9.0  # a column defect in the lower half only
    fixed = 2000.0 + row_pattern + col_pattern + pixel_offset

    acc = np.zeros((ROWS, COLS))
    prev = None
    index, mean, vmin, vmax, delta = [], [], [], [], []
    for k in range(frames):
        if other_type_every and (k + 1) % other_type_every == 0:
            continue
        drift = 9.0 * (1.0 - np.exp(-k / 70.0))
        frame = fixed + drift + rng.normal(0, temporal_sigma, (ROWS, COLS))
        frame = np.clip(np.rint(frame), 0, 65535).astype(np.int64)
        acc += frame
        index.append(k)
        mean.append(int(frame.sum()) / 19200.0)
        vmin.append(int(frame.min()))
        vmax.append(int(frame.max()))
        delta.append(0.0 if prev is None else float(np.abs(frame - prev).sum()) / 19200.0)
        prev = frame

    if index:
        acc /= len(index)
    row_profile = acc.sum(axis=1) / 160.0
    col_profile = acc.sum(axis=0) / 120.0
    global_mean = acc.sum() / 19200.0
    deviation = ((acc - row_profile[:, None]) - col_profile[None, :]) + global_mean
    return format_report(index, mean, vmin, vmax, delta, row_profile, col_profile, deviation)


def main():
    parser = argparse.ArgumentParser(description="Write a synthetic frame_stats report.")
    parser.add_argument("output")
    parser.add_argument("--frames", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    with open(args.output, "w", newline="\n") as f:
        f.write(synthesize(args.frames, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
