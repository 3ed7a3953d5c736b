import unittest

import numpy as np

from frame_stats_report import COLS, ROWS, ReportError, parse_report
from tests.make_synthetic_report import format_report

# Three frame lines (index 1 was another frame type), so the sections start at:
#   line 4 empty, 5 ROW_PROFILE:, 6..125 rows, 126 empty, 127 COL_PROFILE:,
#   128..287 columns, 288 empty, 289 heading, 290..19489 deviations.
FRAMES = dict(frame_index=[0, 2, 3], frame_mean=[1000, 1002, 1001],
              frame_min=[990, 991, 989], frame_max=[1010, 1012, 1011],
              meandelta=[0.0, 4.2, 3.9])
ROW_VALUES = 1000.0 + 0.5 * np.arange(ROWS)
COL_VALUES = 1000.0 - 0.1 * np.arange(COLS)
# Every pixel gets a different value, so a swapped row and column shows.
DEV_VALUES = (np.arange(ROWS * COLS).reshape(ROWS, COLS) - 9600) / 10.0
LAST_LINE = 19489


def report_lines(frames=FRAMES):
    return format_report(row_profile=ROW_VALUES, col_profile=COL_VALUES,
                         deviation=DEV_VALUES, **frames).split("\n")[:-1]


def joined(lines, newline="\n"):
    return "".join(line + newline for line in lines).encode("ascii")


class GoodReportTest(unittest.TestCase):
    def test_variants_parse_to_the_same_values(self):
        lines = report_lines()
        self.assertEqual(len(lines), LAST_LINE)
        cases = {
            "LF": joined(lines),
            "CR LF": joined(lines, "\r\n"),
            "no line break after the last line": joined(lines)[:-1],
        }
        for name, data in cases.items():
            with self.subTest(name):
                report = parse_report(data)
                self.assertEqual(report.frame_index.tolist(), [0, 2, 3])
                self.assertEqual(report.frame_mean.tolist(), [1000, 1002, 1001])
                self.assertEqual(report.frame_min.tolist(), [990, 991, 989])
                self.assertEqual(report.frame_max.tolist(), [1010, 1012, 1011])
                self.assertEqual(report.meandelta.tolist(), [0.0, 4.2, 3.9])
                np.testing.assert_array_equal(report.row_profile, ROW_VALUES)
                np.testing.assert_allclose(report.col_profile, COL_VALUES, atol=1e-9)
                np.testing.assert_allclose(report.deviation, DEV_VALUES, atol=1e-9)
                # "col row value": line 290 + 160 * 2 + 5 is column 5 of row 2.
                self.assertEqual(lines[290 + 2 * COLS + 5 - 1].split()[:2], ["5", "2"])
                self.assertEqual(report.deviation[2, 5], DEV_VALUES[2, 5])

    def test_report_without_frames_starts_with_the_empty_line(self):
        empty = {key: [] for key in FRAMES}
        lines = report_lines(empty)
        self.assertEqual(lines[:2], ["", "ROW_PROFILE:"])
        report = parse_report(joined(lines))
        self.assertEqual(report.frames, 0)
        self.assertEqual(report.deviation.shape, (ROWS, COLS))

    def test_negative_zero_and_large_values(self):
        lines = report_lines()
        lines[289] = "0 0 -0.0"
        lines[5] = "0 65535.0"
        report = parse_report(joined(lines))
        self.assertEqual(report.deviation[0, 0], 0.0)
        self.assertEqual(report.row_profile[0], 65535.0)


class TruncatedReportTest(unittest.TestCase):
    def test_message_names_the_first_missing_line_and_what_it_should_be(self):
        lines = report_lines()
        # lines kept -> expected fragment of the message about line kept + 1
        cases = [
            (2, 'or the empty line before "ROW_PROFILE:"'),
            (3, 'or the empty line before "ROW_PROFILE:"'),
            (4, 'the heading "ROW_PROFILE:"'),
            (5, '"0 <value>" (row 0 of 120'),
            (5 + 50, '"50 <value>" (row 50 of 120'),
            (125, 'the empty line before "COL_PROFILE:"'),
            (127, '"0 <value>" (column 0 of 160'),
            (287, 'the empty line before "PIXEL_DEVIATION'),
            (288, 'the heading "PIXEL_DEVIATION (mean - row - col + global):"'),
            (289, '"0 0 <value>" (column 0, row 0'),
            (289 + 118 * COLS + 5, '"5 118 <value>" (column 5, row 118'),
            (LAST_LINE - 1, '"159 119 <value>" (column 159, row 119'),
        ]
        for kept, fragment in cases:
            with self.subTest(kept=kept):
                with self.assertRaises(ReportError) as ctx:
                    parse_report(joined(lines[:kept]))
                self.assertEqual(ctx.exception.line, kept + 1)
                self.assertIn("line %d: report ends early" % (kept + 1), str(ctx.exception))
                self.assertIn(fragment, str(ctx.exception))

    def test_empty_file(self):
        with self.assertRaises(ReportError) as ctx:
            parse_report(b"")
        self.assertEqual(ctx.exception.line, 1)
        self.assertIn("empty", str(ctx.exception))

    def test_cut_inside_the_last_line(self):
        data = joined(report_lines())
        with self.assertRaises(ReportError) as ctx:
            parse_report(data[:-3])  # "159 119 <x>." without its last digit
        self.assertEqual(ctx.exception.line, LAST_LINE)
        self.assertIn("the file ends inside this line", str(ctx.exception))


class MalformedLineTest(unittest.TestCase):
    def test_message_names_the_line_and_what_was_expected(self):
        # (line number, replacement, expected fragment of the message)
        cases = [
            (1, "FRAME 0 type1 mean=1000 min=990 max=1010 meandelta=0.0", "a frame line"),
            (1, "FRAME 00 type0 mean=1000 min=990 max=1010 meandelta=0.0", "a frame line"),
            (1, "FRAME 0 type0 mean=1000 min=990 max=1010 meandelta=0.05", "a frame line"),
            (1, "FRAME 0 type0 mean=1000 min=990 max=1010", "a frame line"),
            (2, "FRAME 0 type0 mean=1002 min=991 max=1012 meandelta=4.2", "above 0"),
            (2, "FRAME 2 type0 mean=1002 min=1005 max=1012 meandelta=4.2", "min <= mean"),
            (2, "FRAME 2 type0 mean=1002 min=991 max=70000 meandelta=4.2", "<= 65535"),
            (4, "ROW_PROFILE:", 'or the empty line before "ROW_PROFILE:"'),
            (5, "ROW PROFILE:", 'the heading "ROW_PROFILE:"'),
            (6 + 6, "7 1003.0", '"6 <value>" (row 6'),
            (6 + 6, "6 1003.05", '"6 <value>" (row 6'),
            (6 + 6, "6 1003", '"6 <value>" (row 6'),
            (6 + 6, "6 1e3", '"6 <value>" (row 6'),
            (6 + 6, "6 1003.0 ", '"6 <value>" (row 6'),
            (6 + 6, "6\t1003.0", '"6 <value>" (row 6'),
            (6 + 6, "", '"6 <value>" (row 6'),
            (126, "COL_PROFILE:", 'the empty line before "COL_PROFILE:"'),
            (128 + 159, "159 abc", '"159 <value>" (column 159'),
            (290 + 161, "0 1 0.1", '"1 1 <value>" (column 1, row 1'),
            (290 + 1, "0 1 -959.9", '"1 0 <value>" (column 1, row 0'),
            (290 + 100, "100 0 nan", '"100 0 <value>"'),
            (290 + 100, "100 0 1.0\r0", '"100 0 <value>"'),
            (LAST_LINE + 1, "", "the end of the report"),
            (LAST_LINE + 1, "FRAME 9 type0 mean=1 min=1 max=1 meandelta=0.0",
             "the end of the report"),
        ]
        for number, replacement, fragment in cases:
            with self.subTest(line=number, text=replacement):
                lines = report_lines()
                if number > len(lines):
                    lines.append(replacement)
                else:
                    lines[number - 1] = replacement
                with self.assertRaises(ReportError) as ctx:
                    parse_report(joined(lines))
                self.assertEqual(ctx.exception.line, number)
                message = str(ctx.exception)
                self.assertTrue(message.startswith("line %d: expected " % number), message)
                self.assertIn(fragment, message)

    def test_bytes_that_are_not_ascii(self):
        data = joined(report_lines()).replace(b"\n10 1005.0\n", b"\n10 1005.0\xc2\xb0\n")
        with self.assertRaises(ReportError) as ctx:
            parse_report(data)
        self.assertEqual(ctx.exception.line, 16)
        self.assertIn("not plain ASCII", str(ctx.exception))


if __name__ == "__main__":
    unittest.main()
