import contextlib
import io
import os
import subprocess
import tempfile
import unittest

from frame_stats_report import EXIT_BAD_REPORT, EXIT_OK, EXIT_USAGE, SUMMARY_NAMES, main
from tests.make_synthetic_report import synthesize

SCRIPT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                      "frame_stats_plot")


class CommandLineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.report = os.path.join(cls.tmp.name, "report.txt")
        with open(cls.report, "w", newline="\n") as f:
            f.write(synthesize(frames=12, seed=3, other_type_every=5))
        cls.bad = os.path.join(cls.tmp.name, "bad.txt")
        with open(cls.report) as f:
            lines = f.readlines()
        with open(cls.bad, "w", newline="\n") as f:
            f.writelines(lines[:500])

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def run_main(self, *argv):
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            try:
                status = main(list(argv))
            except SystemExit as exit_:
                status = exit_.code
        return status, out.getvalue(), err.getvalue()

    def test_writes_png_and_svg(self):
        png = os.path.join(self.tmp.name, "plot.png")
        # The PNG goes through the installed-style script, the SVG through main().
        done = subprocess.run([SCRIPT, self.report, png], capture_output=True, text=True,
                              timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stderr, "")
        svg = os.path.join(self.tmp.name, "plot.SVG")
        self.assertEqual(self.run_main(self.report, svg), (EXIT_OK, "", ""))
        with open(png, "rb") as f:
            data = f.read()
        self.assertGreater(len(data), 10000)
        self.assertTrue(data.startswith(b"\x89PNG\r\n\x1a\n"))
        with open(svg, "rb") as f:
            data = f.read()
        self.assertGreater(len(data), 10000)
        self.assertIn(b"<svg", data[:1000])
        self.assertTrue(data.rstrip().endswith(b"</svg>"))

    def test_report_without_frames_draws_as_pdf(self):
        # No frame lines and an all-zero table: empty series, flat profiles,
        # a zero-width deviation range.
        report = os.path.join(self.tmp.name, "empty.txt")
        with open(report, "w", newline="\n") as f:
            f.write(synthesize(frames=0))
        path = os.path.join(self.tmp.name, "empty.pdf")
        status, out, err = self.run_main(report, path)
        self.assertEqual(status, EXIT_OK, err)
        with open(path, "rb") as f:
            self.assertTrue(f.read().startswith(b"%PDF-"))

    def test_summary_from_the_script(self):
        done = subprocess.run([SCRIPT, "--summary", self.report], capture_output=True,
                              text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        pairs = [line.split(" ") for line in done.stdout.splitlines()]
        self.assertEqual([name for name, _ in pairs], list(SUMMARY_NAMES))
        values = {name: float(value) for name, value in pairs}
        self.assertEqual(values["frames"], 10)  # indices 4 and 9 are other-type frames
        self.assertAlmostEqual(values["global_mean"], 2000.0, delta=20.0)

    def test_exit_statuses_and_messages(self):
        out_png = os.path.join(self.tmp.name, "x.png")
        missing = os.path.join(self.tmp.name, "missing.txt")
        # (arguments, status, fragment of standard error)
        cases = [
            ([self.report, os.path.join(self.tmp.name, "x.jpg")], EXIT_USAGE,
             "unsupported output type .jpg; use .png, .svg or .pdf"),
            ([self.report, os.path.join(self.tmp.name, "x")], EXIT_USAGE,
             "unsupported output type (none)"),
            ([self.report], EXIT_USAGE, "OUTPUT is missing"),
            (["--summary", self.report, out_png], EXIT_USAGE, "--summary takes only REPORT"),
            ([], EXIT_USAGE, "usage:"),
            (["--bogus", self.report, out_png], EXIT_USAGE, "unrecognized arguments"),
            ([missing, out_png], EXIT_USAGE, "cannot read " + missing),
            (["--summary", missing], EXIT_USAGE, "cannot read " + missing),
            ([self.bad, out_png], EXIT_BAD_REPORT,
             self.bad + ": line 501: report ends early: expected"),
            (["--summary", self.bad], EXIT_BAD_REPORT, "line 501: report ends early"),
            ([self.report, os.path.join(self.tmp.name, "no", "such", "dir.svg")], EXIT_USAGE,
             "cannot write"),
        ]
        for argv, status, fragment in cases:
            with self.subTest(argv=argv):
                got, out, err = self.run_main(*argv)
                self.assertEqual(got, status, err)
                self.assertIn(fragment, err)
                self.assertEqual(out, "")
        self.assertFalse(os.path.exists(out_png))

    def test_help(self):
        for flag in ("-h", "--help"):
            with self.subTest(flag):
                status, out, err = self.run_main(flag)
                self.assertEqual(status, EXIT_OK)
                self.assertIn("frame_stats_plot REPORT OUTPUT", out)
                self.assertIn("--summary REPORT", out)
                self.assertIn("exit status", out)
                for name in SUMMARY_NAMES:
                    self.assertIn(name, out)


if __name__ == "__main__":
    unittest.main()
