"""Read a frame_stats report, derive noise figures from it and draw it.

The report is the plain-text file written by frame_stats: one line per
analysed (type-0) frame, then the row profile, the column profile and the
per-pixel deviation table of the mean frame.  `parse_report` checks every
line and raises `ReportError` naming the first line that does not fit;
`compute_figures` turns a parsed report into the handful of numbers a sensor
engineer looks at first; `render` draws everything into one image; `main` is
the command-line entry of frame_stats_plot.
"""

import argparse
import math
import os
import re
import sys
from dataclasses import dataclass

import numpy as np

ROWS = 120
COLS = 160

ROW_HEADING = "ROW_PROFILE:"
COL_HEADING = "COL_PROFILE:"
DEV_HEADING = "PIXEL_DEVIATION (mean - row - col + global):"

# Numbers as printf writes them: "%d"/"%u" never have leading zeros or a plus
# sign, "%.1f" has exactly one decimal and may be negative (even "-0.0").
_UINT = r"(0|[1-9][0-9]*)"
_FIX1 = r"(-?(?:0|[1-9][0-9]*)\.[0-9])"
_UFIX1 = r"((?:0|[1-9][0-9]*)\.[0-9])"

_FRAME_RE = re.compile(
    rf"FRAME {_UINT} type0 mean={_UINT} min={_UINT} max={_UINT} meandelta={_UFIX1}")
_PROFILE_RE = re.compile(rf"{_UINT} {_FIX1}")
_DEV_RE = re.compile(rf"{_UINT} {_UINT} {_FIX1}")

_FRAME_SHAPE = '"FRAME <index> type0 mean=<n> min=<n> max=<n> meandelta=<x.x>"'

# Exit statuses of frame_stats_plot.
EXIT_OK = 0
EXIT_USAGE = 1      # bad arguments, unsupported output type, unreadable input,
                    # unwritable output
EXIT_BAD_REPORT = 2  # the report is malformed or truncated

FIG_WIDTH, FIG_HEIGHT = 16, 13.5  # inches, at 100 dpi for PNG

OUTPUT_FORMATS = {".png": "png", ".svg": "svg", ".pdf": "pdf"}

# Mean absolute difference of two independent samples of Gaussian noise with
# standard deviation sigma is 2 * sigma / sqrt(pi).
MEANDELTA_TO_SIGMA = math.sqrt(math.pi) / 2.0


class ReportError(Exception):
    """A report line that does not fit; `line` is 1-based."""

    def __init__(self, line, message):
        super().__init__(f"line {line}: {message}")
        self.line = line
        self.message = message


@dataclass
class Report:
    frame_index: np.ndarray   # int, strictly increasing
    frame_mean: np.ndarray    # int, DN (rounded to whole DN by frame_stats)
    frame_min: np.ndarray     # int, DN
    frame_max: np.ndarray     # int, DN
    meandelta: np.ndarray     # float, DN; 0.0 for the first frame
    row_profile: np.ndarray   # float, shape (ROWS,)
    col_profile: np.ndarray   # float, shape (COLS,)
    deviation: np.ndarray     # float, shape (ROWS, COLS), indexed [row, col]

    @property
    def frames(self):
        return len(self.frame_index)


def _shown(line, limit=60):
    """A line as quoted in an error message, shortened if long."""
    if len(line) > limit:
        line = line[:limit] + "..."
    return '"' + line.encode("unicode_escape").decode("ascii") + '"'


class _Cursor:
    """Hands out report lines one at a time and knows their numbers."""

    def __init__(self, lines, unterminated):
        self._lines = lines
        self._next = 0
        self._unterminated = unterminated  # the last line has no line break

    @property
    def number(self):
        """1-based number of the line most recently taken."""
        return self._next

    def at_end(self):
        return self._next >= len(self._lines)

    def peek(self):
        return self._lines[self._next]

    def take(self, expected):
        if self.at_end():
            raise ReportError(self._next + 1, f"report ends early: expected {expected}")
        line = self._lines[self._next]
        self._next += 1
        return line

    def fail(self, expected, line):
        message = f"expected {expected}, found {_shown(line)}"
        if self._unterminated and self._next == len(self._lines):
            message += " (the file ends inside this line: truncated?)"
        raise ReportError(self._next, message)


def _split_lines(data):
    """Split report bytes into text lines (LF or CR LF endings).

    Also tells whether the last line lacks its line break.
    """
    try:
        text = data.decode("ascii")
    except UnicodeDecodeError as err:
        line = data.count(b"\n", 0, err.start) + 1
        raise ReportError(line, "not plain ASCII text") from None
    lines = text.split("\n")
    unterminated = lines[-1] != ""
    if not unterminated:
        lines.pop()  # the terminator of the last line, not a line of its own
    return [line[:-1] if line.endswith("\r") else line for line in lines], unterminated


def _read_frames(cur):
    index, mean, vmin, vmax, delta = [], [], [], [], []
    expected = f'a frame line {_FRAME_SHAPE} or the empty line before "{ROW_HEADING}"'
    while True:
        line = cur.take(expected)
        if line == "":
            break
        m = _FRAME_RE.fullmatch(line)
        if m is None:
            cur.fail(expected, line)
        i, mn, lo, hi = (int(g) for g in m.group(1, 2, 3, 4))
        if index and i <= index[-1]:
            cur.fail(f"a frame index above {index[-1]} (indices only increase)", line)
        if not lo <= mn <= hi <= 65535:
            cur.fail("min <= mean <= max <= 65535", line)
        index.append(i)
        mean.append(mn)
        vmin.append(lo)
        vmax.append(hi)
        delta.append(float(m.group(5)))
    return (np.array(index, dtype=np.int64), np.array(mean, dtype=np.int64),
            np.array(vmin, dtype=np.int64), np.array(vmax, dtype=np.int64),
            np.array(delta, dtype=float))


def _read_heading(cur, heading, blank_first):
    if blank_first:
        expected = f'the empty line before "{heading}"'
        line = cur.take(expected)
        if line != "":
            cur.fail(expected, line)
    expected = f'the heading "{heading}"'
    line = cur.take(expected)
    if line != heading:
        cur.fail(expected, line)


def _read_profile(cur, count, what, heading):
    values = np.empty(count)
    for k in range(count):
        expected = f'"{k} <value>" ({what} {k} of {count} under "{heading}", one decimal)'
        line = cur.take(expected)
        m = _PROFILE_RE.fullmatch(line)
        if m is None or int(m.group(1)) != k:
            cur.fail(expected, line)
        values[k] = float(m.group(2))
    return values


def _read_deviation(cur):
    values = np.empty((ROWS, COLS))
    for r in range(ROWS):
        for c in range(COLS):
            expected = (f'"{c} {r} <value>" (column {c}, row {r} of the pixel '
                        f'deviation table, one decimal)')
            line = cur.take(expected)
            m = _DEV_RE.fullmatch(line)
            if m is None or int(m.group(1)) != c or int(m.group(2)) != r:
                cur.fail(expected, line)
            values[r, c] = float(m.group(3))
    return values


def parse_report(data):
    """Parse report bytes (or text) into a Report; raise ReportError."""
    if isinstance(data, str):
        data = data.encode("utf-8")
    if not data:
        raise ReportError(1, "report is empty: expected a frame line or an empty line")
    cur = _Cursor(*_split_lines(data))
    frames = _read_frames(cur)
    _read_heading(cur, ROW_HEADING, blank_first=False)
    rows = _read_profile(cur, ROWS, "row", ROW_HEADING)
    _read_heading(cur, COL_HEADING, blank_first=True)
    cols = _read_profile(cur, COLS, "column", COL_HEADING)
    _read_heading(cur, DEV_HEADING, blank_first=True)
    dev = _read_deviation(cur)
    if not cur.at_end():
        line = cur.take("")
        cur.fail("the end of the report after the last pixel deviation line", line)
    return Report(*frames, row_profile=rows, col_profile=cols, deviation=dev)


def read_report(path):
    """Read and parse the report at `path`; OSError or ReportError."""
    with open(path, "rb") as f:
        return parse_report(f.read())


@dataclass
class Figures:
    """Summary figures of a report, all in DN except `frames`.

    Standard deviations are population standard deviations (divided by the
    number of values).  The meandelta figures leave out the first frame,
    whose meandelta is 0.0 because it has no predecessor; they are NaN when
    the report has fewer than two frames.
    """

    frames: int
    global_mean: float
    row_fpn: float
    col_fpn: float
    pixel_fpn: float
    mean_meandelta: float
    temporal_noise_estimate: float


SUMMARY_NAMES = tuple(Figures.__dataclass_fields__)


def compute_figures(report):
    if report.frames >= 2:
        mean_delta = float(np.mean(report.meandelta[1:]))
    else:
        mean_delta = math.nan
    return Figures(
        frames=report.frames,
        global_mean=float(np.mean(report.row_profile)),
        row_fpn=float(np.std(report.row_profile)),
        col_fpn=float(np.std(report.col_profile)),
        pixel_fpn=float(np.std(report.deviation)),
        mean_meandelta=mean_delta,
        temporal_noise_estimate=mean_delta * MEANDELTA_TO_SIGMA,
    )


def format_summary(figures):
    """One "name value" line per figure, in SUMMARY_NAMES order."""
    out = []
    for name in SUMMARY_NAMES:
        value = getattr(figures, name)
        text = str(value) if isinstance(value, int) else "%.3f" % value
        out.append(f"{name} {text}\n")
    return "".join(out)


def output_format(path):
    """Image format for an output path, from its extension; None if unknown."""
    return OUTPUT_FORMATS.get(os.path.splitext(path)[1].lower())


# --- drawing ---------------------------------------------------------------

def _colour_limit(dev):
    """Symmetric colour-scale limit that ignores the outer 0.5 % each side."""
    lo, hi = np.percentile(dev, [0.5, 99.5])
    return max(-lo, hi, 0.1)  # 0.1 DN is the report's resolution


def _histogram_edges(limit):
    """Bin edges over +-3 colour limits, centred on multiples of 0.1 DN.

    The report gives deviations to 0.1 DN, so bins that are whole multiples
    of that step and centred on its values do not alias.
    """
    extent = 3.0 * limit
    step = 0.1 * max(1, math.ceil(extent / 0.1 / 60))
    half = math.ceil(extent / step - 1e-9)
    return (np.arange(-half, half + 2) - 0.5) * step


def _figures_panel(ax, report, fig_values):
    ax.axis("off")
    ax.set_title("Figures from the report", loc="left", fontweight="bold")

    def dn(v, digits=2):
        return "n/a" if math.isnan(v) else f"{v:.{digits}f} DN"

    if report.frames:
        span = f"{report.frame_index[0]} to {report.frame_index[-1]}"
    else:
        span = "none"
    rows = [
        ("Frames analysed (type 0)", f"{fig_values.frames}"),
        ("Frame indices", span),
        ("Global mean level", dn(fig_values.global_mean)),
        ("Row FPN (\u03c3 of row profile)", dn(fig_values.row_fpn)),
        ("Column FPN (\u03c3 of column profile)", dn(fig_values.col_fpn)),
        ("Pixel FPN (\u03c3 of pixel deviation)", dn(fig_values.pixel_fpn)),
        ("Mean meandelta (frames 2 on)", dn(fig_values.mean_meandelta)),
        ("Temporal noise \u03c3, estimate", dn(fig_values.temporal_noise_estimate)),
    ]
    y = 0.93
    for label, value in rows:
        ax.text(0.0, y, label, transform=ax.transAxes, fontsize=11, va="top")
        ax.text(1.0, y, value, transform=ax.transAxes, fontsize=11, va="top",
                ha="right", family="monospace")
        y -= 0.095
    note = ("\u03c3: population standard deviation. FPN: fixed-pattern noise.\n"
            "Temporal noise estimate = mean meandelta \u00d7 \u221a\u03c0 / 2,\n"
            "valid for Gaussian noise; the first frame (meandelta 0.0\n"
            "by construction) is left out.")
    ax.text(0.0, y - 0.02, note, transform=ax.transAxes, fontsize=9, va="top",
            color="0.35", linespacing=1.4)


def _frame_plots(ax_mean, ax_delta, report):
    ax_mean.set_title("Per-frame mean level", loc="left")
    ax_mean.set_ylabel("frame mean (DN)")
    ax_delta.set_title("Mean absolute change from the previous type-0 frame (meandelta)",
                       loc="left")
    ax_delta.set_ylabel("meandelta (DN)")
    ax_delta.set_xlabel("frame index")
    for ax in (ax_mean, ax_delta):
        ax.grid(True, alpha=0.3)
        ax.ticklabel_format(axis="y", useOffset=False, style="plain")
    marker = "." if report.frames <= 400 else None
    if report.frames:
        ax_mean.plot(report.frame_index, report.frame_mean, color="tab:blue",
                     lw=1, marker=marker, ms=4)
    else:
        ax_mean.text(0.5, 0.5, "no type-0 frames in this report",
                     transform=ax_mean.transAxes, ha="center", va="center")
    if report.frames >= 2:
        ax_delta.plot(report.frame_index[1:], report.meandelta[1:], color="tab:orange",
                      lw=1, marker=marker, ms=4)
        sec = ax_delta.secondary_yaxis(
            "right", functions=(lambda v: v * MEANDELTA_TO_SIGMA,
                                lambda s: s / MEANDELTA_TO_SIGMA))
        sec.set_ylabel("\u03c3 estimate (DN)")
    else:
        ax_delta.text(0.5, 0.5, "needs at least two frames",
                      transform=ax_delta.transAxes, ha="center", va="center")
    ax_mean.tick_params(labelbottom=False)


DEVIATION_CMAP = "RdBu_r"


def _pixel_plots(ax_col, ax_heat, ax_row, ax_bar, report):
    from matplotlib.colors import Normalize
    dev = report.deviation
    limit = _colour_limit(dev)

    image = ax_heat.imshow(dev, cmap=DEVIATION_CMAP, norm=Normalize(-limit, limit), interpolation="nearest",
                           aspect="auto", extent=(-0.5, COLS - 0.5, ROWS - 0.5, -0.5))
    ax_heat.set_title("Pixel deviation map (mean \u2212 row \u2212 col + global)",
                      loc="left")
    ax_heat.set_xlabel("column")
    ax_heat.set_ylabel("row")
    bar = ax_heat.figure.colorbar(image, cax=ax_bar, orientation="horizontal",
                                  extend="both")
    bar.set_label(f"pixel deviation (DN); colour scale clipped at \u00b1{limit:.1f} DN"
                  " (0.5th and 99.5th percentiles)")

    ax_col.plot(np.arange(COLS), report.col_profile, color="tab:green", lw=1)
    ax_col.set_title("Column profile (mean of each column of the mean frame)", loc="left")
    ax_col.set_ylabel("column mean (DN)")
    ax_col.tick_params(labelbottom=False)

    ax_row.plot(report.row_profile, np.arange(ROWS), color="tab:purple", lw=1)
    ax_row.set_title("Row profile\n(mean of each row)", loc="left")
    ax_row.set_xlabel("row mean (DN)")
    ax_row.tick_params(labelleft=False)
    from matplotlib.ticker import MaxNLocator
    ax_row.xaxis.set_major_locator(MaxNLocator(nbins=3, steps=[1, 2, 5, 10]))
    for ax in (ax_col, ax_row):
        ax.grid(True, alpha=0.3)
        ax.ticklabel_format(useOffset=False, style="plain")


def _histogram(ax_hist, report, fig_values):
    import matplotlib
    from matplotlib.colors import Normalize
    limit = _colour_limit(report.deviation)
    norm = Normalize(-limit, limit)
    cm = matplotlib.colormaps[DEVIATION_CMAP]
    values = report.deviation.ravel()
    counts, edges, patches = ax_hist.hist(values, bins=_histogram_edges(limit), log=True)
    # Bars take the heat map's colours, so the two read together.
    for patch, left, right in zip(patches, edges[:-1], edges[1:]):
        patch.set_facecolor(cm(norm((left + right) / 2)))
        patch.set_edgecolor("0.3")
        patch.set_linewidth(0.3)
    for x in (-limit, limit):
        ax_hist.axvline(x, color="0.3", ls="--", lw=0.8)
    ax_hist.set_title("Pixel deviation histogram", loc="left")
    ax_hist.set_xlabel("pixel deviation (DN)")
    ax_hist.set_ylabel("pixels (log scale)")
    below = int(np.count_nonzero(values < edges[0]))
    above = int(np.count_nonzero(values > edges[-1]))
    notes = [f"\u03c3 = {fig_values.pixel_fpn:.2f} DN",
             f"dashed: colour limits \u00b1{limit:.1f} DN"]
    if below:
        notes.append(f"{below} pixels below {edges[0]:.1f} DN (min {values.min():.1f})")
    if above:
        notes.append(f"{above} pixels above {edges[-1]:.1f} DN (max {values.max():.1f})")
    ax_hist.text(0.98, 0.97, "\n".join(notes), transform=ax_hist.transAxes,
                 ha="right", va="top", fontsize=9, linespacing=1.4,
                 bbox=dict(facecolor="white", edgecolor="none", alpha=0.8))
    ax_hist.grid(True, alpha=0.3)
    # Headroom on the log scale keeps the tallest bars clear of the notes.
    ax_hist.set_ylim(0.5, max(float(counts.max()), 1.0) * 12)


def build_figure(report, title="frame_stats report"):
    """The whole picture as a matplotlib Figure (Agg canvas)."""
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib.figure import Figure

    fig_values = compute_figures(report)
    fig = Figure(figsize=(FIG_WIDTH, FIG_HEIGHT), dpi=100, layout="constrained")
    fig.suptitle(title, fontsize=15, fontweight="bold")
    # Nested subfigures keep the layout of each block independent, so a tall
    # or wide neighbour does not stretch the gaps between the other plots.
    top, bottom = fig.subfigures(2, 1, height_ratios=[1, 2.5])
    series, panel = top.subfigures(1, 2, width_ratios=[2.1, 1])
    maps, histogram = bottom.subfigures(1, 2, width_ratios=[2.1, 1])

    ax_mean, ax_delta = series.subplots(2, 1, sharex=True)
    _frame_plots(ax_mean, ax_delta, report)
    _figures_panel(panel.add_subplot(), report, fig_values)

    # The colour bar gets a grid row of its own so that the heat map keeps
    # exactly the height of the row profile beside it.
    gs = maps.add_gridspec(3, 2, width_ratios=[4, 1], height_ratios=[1, 3.9, 0.14])
    ax_heat = maps.add_subplot(gs[1, 0])
    ax_col = maps.add_subplot(gs[0, 0], sharex=ax_heat)
    ax_row = maps.add_subplot(gs[1, 1], sharey=ax_heat)
    ax_bar = maps.add_subplot(gs[2, 0])
    _pixel_plots(ax_col, ax_heat, ax_row, ax_bar, report)
    _histogram(histogram.add_subplot(), report, fig_values)
    return fig


def render(report, path, title="frame_stats report"):
    """Draw the report into an image file; the format follows the extension."""
    fmt = output_format(path)
    if fmt is None:
        raise ValueError(f"unsupported output type: {path}")
    build_figure(report, title).savefig(path, format=fmt, metadata=_metadata(fmt))


def _metadata(fmt):
    # Leave out the creation date so the same report gives the same file.
    if fmt == "png":
        return {"Software": None}
    if fmt == "svg":
        return {"Date": None}
    return {"CreationDate": None}


# --- command line ----------------------------------------------------------

USAGE = """\
frame_stats_plot REPORT OUTPUT
       frame_stats_plot --summary REPORT
       frame_stats_plot -h | --help"""

DESCRIPTION = """\
Draw a frame_stats report as one image: per-frame mean and meandelta,
row and column profiles, a heat map and histogram of the pixel deviation,
and the noise figures derived from them.  The image format follows the
OUTPUT extension: .png, .svg or .pdf.

With --summary, print the figures instead, one "name value" line each:
  frames                   number of frame lines (type-0 frames analysed)
  global_mean              mean of the row profile (DN)
  row_fpn                  standard deviation of the row profile (DN)
  col_fpn                  standard deviation of the column profile (DN)
  pixel_fpn                standard deviation of the pixel deviation (DN)
  mean_meandelta           mean meandelta, first frame left out (DN)
  temporal_noise_estimate  mean_meandelta * sqrt(pi) / 2: the temporal noise
                           sigma if the noise is Gaussian (DN)
Standard deviations are population ones; values have three decimals; the
two meandelta figures are "nan" when the report has fewer than two frames."""

EPILOG = """\
exit status:
  0  success
  1  usage error, unsupported output type, or a file that cannot be read
     or written
  2  the report is malformed or truncated (the message names the line)"""


class _ArgumentParser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message}\n")


def _argument_parser():
    parser = _ArgumentParser(
        prog="frame_stats_plot", usage=USAGE, description=DESCRIPTION, epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--summary", action="store_true",
                        help="print the figures as text instead of drawing")
    parser.add_argument("report", metavar="REPORT", help="report file written by frame_stats")
    parser.add_argument("output", metavar="OUTPUT", nargs="?",
                        help="image file to write (.png, .svg or .pdf)")
    return parser


def main(argv=None):
    parser = _argument_parser()
    args = parser.parse_args(argv)
    prog = parser.prog
    if args.summary and args.output is not None:
        parser.error("--summary takes only REPORT")
    if not args.summary:
        if args.output is None:
            parser.error("OUTPUT is missing")
        if output_format(args.output) is None:
            ext = os.path.splitext(args.output)[1] or "(none)"
            print(f"{prog}: cannot write {args.output}: unsupported output type {ext}; "
                  "use .png, .svg or .pdf", file=sys.stderr)
            return EXIT_USAGE
    try:
        report = read_report(args.report)
    except OSError as err:
        print(f"{prog}: cannot read {args.report}: {err.strerror or err}", file=sys.stderr)
        return EXIT_USAGE
    except ReportError as err:
        print(f"{prog}: {args.report}: {err}", file=sys.stderr)
        return EXIT_BAD_REPORT
    if args.summary:
        sys.stdout.write(format_summary(compute_figures(report)))
        return EXIT_OK
    title = f"frame_stats report: {os.path.basename(args.report)}"
    try:
        render(report, args.output, title)
    except OSError as err:
        print(f"{prog}: cannot write {args.output}: {err.strerror or err}", file=sys.stderr)
        return EXIT_USAGE
    return EXIT_OK
