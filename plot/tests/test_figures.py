import math
import unittest

import numpy as np

from frame_stats_report import (COLS, ROWS, SUMMARY_NAMES, compute_figures, format_summary,
                                 parse_report)
from tests.make_synthetic_report import format_report

GLOBAL = 1500.0
# Repeating zero-mean patterns whose population standard deviations are known
# exactly; none of them equals the sample (n - 1) standard deviation.
ROW_TERM = np.resize([3.0, -1.0, -1.0, -1.0], ROWS)          # variance 3
COL_TERM = np.resize([4.0, 0.0, -4.0, 0.0], COLS)            # variance 8
# Every row and column of the pixel term sums to zero, as in a real report.
PIXEL_TERM = np.tile(0.5 * (4.0 * np.eye(4) - 1.0), (ROWS // 4, COLS // 4))  # variance 0.75


def known_report(meandelta):
    n = len(meandelta)
    text = format_report(list(range(n)), [1500] * n, [1400] * n, [1600] * n, meandelta,
                         GLOBAL + ROW_TERM, GLOBAL + COL_TERM, PIXEL_TERM)
    return parse_report(text)


class FiguresTest(unittest.TestCase):
    def test_fixed_pattern_noise_and_level(self):
        figures = compute_figures(known_report([0.0, 4.0, 6.0, 5.0]))
        self.assertEqual(figures.frames, 4)
        self.assertAlmostEqual(figures.global_mean, GLOBAL, places=9)
        self.assertAlmostEqual(figures.row_fpn, math.sqrt(3.0), places=9)
        self.assertAlmostEqual(figures.col_fpn, math.sqrt(8.0), places=9)
        self.assertAlmostEqual(figures.pixel_fpn, math.sqrt(0.75), places=9)

    def test_temporal_noise_leaves_out_the_first_frame(self):
        figures = compute_figures(known_report([0.0, 4.0, 6.0, 5.0]))
        self.assertAlmostEqual(figures.mean_meandelta, 5.0, places=9)
        # Gaussian noise of sigma 1 gives a mean absolute frame difference of
        # 2 / sqrt(pi), so the estimate must invert that.
        self.assertAlmostEqual(figures.temporal_noise_estimate, 5.0 * math.sqrt(math.pi) / 2,
                               places=9)

    def test_temporal_noise_needs_two_frames(self):
        for meandelta in ([], [0.0]):
            with self.subTest(frames=len(meandelta)):
                figures = compute_figures(known_report(meandelta))
                self.assertEqual(figures.frames, len(meandelta))
                self.assertTrue(math.isnan(figures.mean_meandelta))
                self.assertTrue(math.isnan(figures.temporal_noise_estimate))

    def test_temporal_estimate_on_simulated_gaussian_noise(self):
        rng = np.random.default_rng(7)
        sigma = 6.0
        frames = rng.normal(1000.0, sigma, (9, ROWS, COLS))
        deltas = [0.0] + [float(np.mean(np.abs(b - a))) for a, b in zip(frames, frames[1:])]
        figures = compute_figures(known_report(deltas))
        self.assertAlmostEqual(figures.temporal_noise_estimate, sigma, delta=0.1)

    def test_summary_lines(self):
        figures = compute_figures(known_report([0.0, 4.0, 6.0, 5.0]))
        lines = format_summary(figures).splitlines()
        self.assertEqual([line.split(" ")[0] for line in lines], list(SUMMARY_NAMES))
        self.assertEqual(SUMMARY_NAMES, ("frames", "global_mean", "row_fpn", "col_fpn",
                                         "pixel_fpn", "mean_meandelta",
                                         "temporal_noise_estimate"))
        values = dict(line.split(" ") for line in lines)
        self.assertEqual(values["frames"], "4")
        self.assertEqual(values["global_mean"], "1500.000")
        self.assertEqual(values["row_fpn"], "1.732")
        self.assertEqual(values["mean_meandelta"], "5.000")
        self.assertEqual(values["temporal_noise_estimate"], "4.431")
        nan = dict(line.split(" ") for line in
                   format_summary(compute_figures(known_report([0.0]))).splitlines())
        self.assertEqual(nan["temporal_noise_estimate"], "nan")


if __name__ == "__main__":
    unittest.main()
