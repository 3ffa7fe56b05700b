#!/usr/bin/python3
"""Draws the association of an hfscan table: a Manhattan panel, a QQ panel
and a disequilibrium panel.

    plot_scan.py [--pvalue auto|perm_p|assoc_p] [--top N] [--ld-bins N]
                 [--width PIXELS] [--height PIXELS] [--title TEXT] TABLE [PICTURE]

TABLE is the output of hfscan (or the gathered table of the workflow);
PICTURE is written as PNG (default: TABLE without .tsv, with .png), 1600 x
600 pixels unless asked otherwise, through a temporary file renamed when
complete.

Manhattan: -log10 p of one column along the genome, perm_p when any window
was permuted, else assoc_p (--pvalue chooses; the axis names it). ld_p is
never drawn there. The genome-wide line is Bonferroni's 0.05 over the
windows with a p value, or, where the table has fwer_p values (hfscan
--max-t), the max-T line: the largest p among the windows with fwer_p <=
0.05, so that every window on or above it is significant genome-wide. With
perm_p, the permutation floor is drawn at 1/(N+1) for the most permutations
N any window ran (perm_p = (hits+1)/(n+1) cannot go below it), and the panel
says when the genome-wide line lies above the floor. The top windows are
labelled with their marker range. One chromosome: positions in Mb.

QQ: the same p values against the uniform order statistics i/(m+1), with a
pointwise 95% band from Beta(i, m-i+1) and the genomic-control lambda,
median chi-square (1 df) over its null median 0.4549.

LD: the median -log10 ld_p of the windows in each of --ld-bins bins of equal
length along the genome (bins do not cross chromosomes).

Exit status 0; 1 with a message naming the file (and line) for a table that
is not hfscan's or has no association p value; 130 or 143 when interrupted
by SIGINT or SIGTERM. One line on standard error says what was drawn.

Runs under Debian's /usr/bin/python3 with python3-matplotlib.
"""
import argparse
import math
import os
import signal
import statistics
import sys

from atomic import on_term, write_atomically

NEEDED = ("chrom", "first_marker", "last_marker", "first_pos", "last_pos", "ld_p", "assoc_p",
          "perm_n", "perm_p", "status")
PROBABILITIES = ("ld_p", "assoc_p", "perm_p", "fwer_p")
DPI = 100
ALPHA = 0.05
# The median of the chi-square distribution on 1 df, Phi^-1(0.75)^2.
MEDIAN_CHI2_1 = statistics.NormalDist().inv_cdf(0.75) ** 2
# -log10 of a p value of 0 (an underflow): drawn at the smallest double's.
ZERO_P = sys.float_info.min
COLOURS = ("#1f4e79", "#5b9bd5")


class Refused(Exception):
    pass


def number(text, path, lineno, column):
    if text == "NA":
        return None
    try:
        value = float(text)
    except ValueError:
        raise Refused("%s, line %d: %s %r is neither a number nor NA" % (path, lineno, column, text))
    if math.isnan(value):
        return None
    if column in PROBABILITIES and not 0 <= value <= 1:
        raise Refused("%s, line %d: %s %s is not a probability" % (path, lineno, column, text))
    return value


def read_table(path):
    """Returns the windows as dicts: chrom, first_marker, last_marker, pos
    (middle of the window), and ld_p, assoc_p, perm_p, perm_n, fwer_p, each a
    number or None (fwer_p None throughout when the table lacks the column)."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().split("\n")
    except OSError as e:
        raise Refused("%s: cannot read the table: %s" % (path, e.strerror))
    if lines and lines[-1] == "":
        lines.pop()
    if not lines:
        raise Refused("%s: empty file, not an hfscan table" % path)
    header = lines[0].split("\t")
    missing = [c for c in NEEDED if c not in header]
    if missing:
        raise Refused("%s, line 1: no column %s; not an hfscan table" % (path, ", ".join(missing)))
    at = {c: header.index(c) for c in NEEDED + ("fwer_p",) if c in header}
    windows = []
    for lineno, line in enumerate(lines[1:], start=2):
        f = line.split("\t")
        if len(f) != len(header):
            raise Refused("%s, line %d: %d fields, the header has %d" % (path, lineno, len(f), len(header)))
        first = number(f[at["first_pos"]], path, lineno, "first_pos")
        last = number(f[at["last_pos"]], path, lineno, "last_pos")
        if first is None or last is None:
            raise Refused("%s, line %d: the window has no position" % (path, lineno))
        w = {"chrom": f[at["chrom"]], "first_marker": f[at["first_marker"]],
             "last_marker": f[at["last_marker"]], "pos": (first + last) / 2}
        for column in PROBABILITIES + ("perm_n",):
            w[column] = number(f[at[column]], path, lineno, column) if column in at else None
        windows.append(w)
    return windows


def choose_column(windows, asked, path):
    """The p value column drawn: asked, or with "auto" perm_p when any
    window has one, else assoc_p. A table without either is refused."""
    have = {c: any(w[c] is not None for w in windows) for c in ("perm_p", "assoc_p")}
    if not have["perm_p"] and not have["assoc_p"]:
        raise Refused("%s: no window has an association p value (assoc_p and perm_p are NA in every "
                      "row); this plot draws association only: scan with a trait" % path)
    if asked == "auto":
        return "perm_p" if have["perm_p"] else "assoc_p"
    if not have[asked]:
        other = "assoc_p" if asked == "perm_p" else "perm_p"
        raise Refused("%s: --pvalue %s: the column is NA in every row; try --pvalue %s" % (path, asked, other))
    return asked


def genome_wide_line(windows, column):
    """The p value of the genome-wide line and its legend, or (None, note)
    when the max-T test leaves no window significant (the line then lies
    above every window, where the table cannot place it)."""
    tested = [w for w in windows if w[column] is not None]
    with_fwer = [w for w in tested if w["fwer_p"] is not None]
    if with_fwer:
        significant = [w[column] for w in with_fwer if w["fwer_p"] <= ALPHA]
        if not significant:
            return None, "max-T: no window has fwer_p <= %g" % ALPHA
        return max(significant), "max-T %g: %d windows with fwer_p <= %g" % (ALPHA, len(significant), ALPHA)
    return ALPHA / len(tested), "Bonferroni %g over %d windows" % (ALPHA, len(tested))


def permutation_floor(windows, column):
    """(smallest perm_p the permutations can give, their number N), from
    perm_p = (hits + 1) / (n + 1) with no hit and the most permutations any
    window ran; None when perm_p is not the column drawn."""
    if column != "perm_p":
        return None
    runs = [w["perm_n"] for w in windows if w["perm_p"] is not None and w["perm_n"] is not None]
    if not runs:
        return None
    n = int(max(runs))
    return 1.0 / (n + 1), n


def needed_permutations(p):
    """The fewest permutations N with 1/(N+1) <= p."""
    return max(0, math.ceil(1.0 / p - 1 - 1e-9))


def genomic_lambda(ps):
    """Genomic control (Devlin and Roeder 1999, Biometrics 55:997): the
    median of the 1-df chi-squares whose upper tails are the p values, over
    the null median MEDIAN_CHI2_1. The chi-square is monotone in p, so the
    median chi-square is that of the median p (the mean of the two middle
    ones for an even count). None when the median p is 0."""
    s = sorted(ps)
    middle = (s[(len(s) - 1) // 2], s[len(s) // 2])
    if min(middle) <= 0:
        return None
    chi2 = [statistics.NormalDist().inv_cdf(p / 2) ** 2 for p in middle]
    return (chi2[0] + chi2[1]) / 2 / MEDIAN_CHI2_1


def _beta_fraction(a, b, x):
    """Continued fraction of the incomplete beta function, evaluated by the
    modified Lentz method (Press et al., Numerical Recipes, 3rd ed., 2007,
    section 6.4, eq. 6.4.5)."""
    tiny = 1e-300
    c, d = 1.0, 1.0 - (a + b) * x / (a + 1)
    d = 1.0 / (d if abs(d) > tiny else tiny)
    h = d
    for m in range(1, 100000):
        for numerator in (m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m)),
                          -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1))):
            d = 1.0 + numerator * d
            d = 1.0 / (d if abs(d) > tiny else tiny)
            c = 1.0 + numerator / c
            c = c if abs(c) > tiny else tiny
            h *= d * c
        if abs(d * c - 1.0) < 1e-15:
            break
    return h


def incomplete_beta(x, a, b):
    """The regularised incomplete beta function I_x(a, b), the distribution
    function of Beta(a, b) at x; the fraction converges quickly for x below
    (a+1)/(a+b+2), and I_x(a, b) = 1 - I_(1-x)(b, a) gives the rest."""
    if x <= 0:
        return 0.0
    if x >= 1:
        return 1.0
    front = math.exp(math.lgamma(a + b) - math.lgamma(a) - math.lgamma(b) + a * math.log(x) + b * math.log1p(-x))
    if x < (a + 1) / (a + b + 2):
        return front * _beta_fraction(a, b, x) / a
    return 1.0 - front * _beta_fraction(b, a, 1 - x) / b


def beta_quantile(q, a, b):
    """The q quantile of Beta(a, b): bisection of I_x(a, b) = q on log10 x
    in [-330, 0], to 1e-9 of a decade (the band is drawn on that scale)."""
    lo, hi = -330.0, 0.0
    while hi - lo > 1e-9:
        mid = (lo + hi) / 2
        if incomplete_beta(10.0 ** mid, a, b) < q:
            lo = mid
        else:
            hi = mid
    return 10.0 ** ((lo + hi) / 2)


def band_ranks(m, count=200):
    """Ranks 1..m at which the QQ band is computed: every rank up to 50, then
    about count ranks evenly spaced in log10 rank, and m."""
    ranks = set(range(1, min(m, 50) + 1))
    for k in range(count + 1):
        ranks.add(min(m, max(1, round(m ** (k / count)))))
    ranks.add(m)
    return sorted(ranks)


def qq_band(m, level=0.95):
    """[(expected p, lower p, upper p)] for ranks of band_ranks(m): the i-th
    smallest of m uniform p values is Beta(i, m-i+1); its (1-level)/2 and
    (1+level)/2 quantiles bound the pointwise band."""
    try:
        from scipy.special import betaincinv
    except ImportError:
        betaincinv = None
    tail = (1 - level) / 2
    out = []
    for i in band_ranks(m):
        a, b = i, m - i + 1
        if betaincinv is not None:
            lo, hi = float(betaincinv(a, b, tail)), float(betaincinv(a, b, 1 - tail))
        else:
            lo, hi = beta_quantile(tail, a, b), beta_quantile(1 - tail, a, b)
        out.append((i / (m + 1), lo, hi))
    return out


def minus_log10(p):
    return -math.log10(max(p, ZERO_P))


def genome_axis(windows):
    """Places the chromosomes side by side in the order of the table; returns
    per window its x value, the ticks (label, x) and the axis label. One
    chromosome: x is the position in Mb."""
    order = list(dict.fromkeys(w["chrom"] for w in windows))
    if len(order) == 1:
        return [w["pos"] / 1e6 for w in windows], None, "position on chromosome %s (Mb)" % order[0]
    spans = {}
    for w in windows:
        s = spans.setdefault(w["chrom"], [w["pos"], w["pos"]])
        s[0], s[1] = min(s[0], w["pos"]), max(s[1], w["pos"])
    total = sum(max(s[1] - s[0], 1.0) for s in spans.values())
    gap = total * 0.02
    offset, start = {}, 0.0
    for c in order:
        lo, hi = spans[c]
        offset[c] = start - lo
        start += max(hi - lo, 1.0) + gap
    ticks = [(c, offset[c] + (spans[c][0] + spans[c][1]) / 2) for c in order]
    return [w["pos"] + offset[w["chrom"]] for w in windows], ticks, "chromosome"


def ld_bins(windows, xs, count):
    """[(left, right, median -log10 ld_p, chromosome index)] over bins of
    equal length, a count-th of the axis, that do not cross chromosomes;
    bins without a window with ld_p are left out."""
    lo, hi = min(xs), max(xs)
    width = (hi - lo) / count if hi > lo else 1.0
    order = list(dict.fromkeys(w["chrom"] for w in windows))
    start = {}
    for x, w in zip(xs, windows):
        start[w["chrom"]] = min(start.get(w["chrom"], x), x)
    groups = {}
    for x, w in zip(xs, windows):
        if w["ld_p"] is not None:
            k = int((x - start[w["chrom"]]) / width)
            groups.setdefault((order.index(w["chrom"]), k), []).append(minus_log10(w["ld_p"]))
    bins = []
    for (c, k), values in sorted(groups.items()):
        left = start[order[c]] + k * width
        bins.append((left, left + width, statistics.median(values), c))
    return bins, width


def top_windows(tested, column, count):
    """The count windows of smallest p (the first in table order on a tie),
    as (x, window)."""
    ranked = sorted(enumerate(tested), key=lambda t: (t[1][1][column], t[0]))
    return [t[1] for t in ranked[:count]]


def label_top(ax, top, column, near):
    """Writes the marker range and p of each top window, stacked in one
    column per group of windows closer than near (a label's width) to each
    other, the column to the right of the group, a line from each label to
    its window; labels do not overlap."""
    from matplotlib.text import OffsetFrom

    groups = []
    for x, w in sorted(top, key=lambda t: t[0]):
        if groups and x - groups[-1][-1][0] <= near:
            groups[-1].append((x, w))
        else:
            groups.append([(x, w)])
    line = {"arrowstyle": "-", "linewidth": 0.5, "color": "#777777", "shrinkA": 0, "shrinkB": 2}
    for group in groups:
        right = max(x for x, w in group)
        below = None
        for x, w in sorted(group, key=lambda t: t[1][column]):
            text = "%s-%s  %.2g" % (w["first_marker"], w["last_marker"], w[column])
            y = minus_log10(w[column])
            # The labels are chained, each on top of the one below (an
            # annotation without an arrow, so that its box is the text's).
            if below is None:
                below = ax.annotate(text, xy=(x, y), xytext=(right, 10), textcoords=("data", "offset points"),
                                    fontsize=8, va="bottom", ha="left", annotation_clip=False)
                below.set_x(right)
            else:
                below = ax.annotate(text, xy=(0, 1), xycoords=OffsetFrom(below, (0, 1)), xytext=(0, 1),
                                    textcoords="offset points", fontsize=8, va="bottom", ha="left",
                                    annotation_clip=False)
            ax.annotate("", xy=(x, y), xytext=(-2, 0), textcoords=OffsetFrom(below, (0, 0.5)),
                        arrowprops=line, annotation_clip=False)


def draw(windows, column, width, height, title, top_count=5, ld_count=100):
    """Returns (figure, summary): the figure's axes carry the labels
    manhattan, qq and ld; summary is a dict of what was drawn."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig = plt.figure(figsize=(width / DPI, height / DPI), dpi=DPI, layout="constrained")
    grid = fig.add_gridspec(2, 2, width_ratios=[3, 1], height_ratios=[3, 1])
    man = fig.add_subplot(grid[0, 0], label="manhattan")
    ld = fig.add_subplot(grid[1, 0], sharex=man, label="ld")
    qq = fig.add_subplot(grid[:, 1], label="qq")
    xs, ticks, xlabel = genome_axis(windows)
    order = list(dict.fromkeys(w["chrom"] for w in windows))
    shade = {c: COLOURS[k % 2] for k, c in enumerate(order)}
    tested = [(x, w) for x, w in zip(xs, windows) if w[column] is not None]
    summary = {"column": column, "tested": len(tested)}

    # Manhattan.
    for c in order:
        pts = [(x, minus_log10(w[column])) for x, w in tested if w["chrom"] == c]
        if pts:
            man.scatter([p[0] for p in pts], [p[1] for p in pts], s=14, color=shade[c], linewidths=0)
    highest = max(minus_log10(w[column]) for x, w in tested)
    notes = []
    line, legend = genome_wide_line(windows, column)
    summary["line"] = None if line is None else minus_log10(line)
    if line is not None:
        man.axhline(minus_log10(line), color="#c00000", linewidth=1, linestyle="--", label=legend)
        highest = max(highest, minus_log10(line))
    else:
        notes.append(legend)
    floor = permutation_floor(windows, column)
    summary["floor"] = None if floor is None else minus_log10(floor[0])
    if floor is not None:
        man.axhline(minus_log10(floor[0]), color="#7f7f7f", linewidth=1, linestyle=":",
                    label="permutation floor 1/(N+1), N = {:,}".format(floor[1]))
        highest = max(highest, minus_log10(floor[0]))
        if line is not None and line < floor[0]:
            notes.append("the genome-wide line ({:.2f}) lies above the permutation floor ({:.2f}):\n"
                         "no window can reach it with {:,} permutations; {:,} would be needed".format(
                             minus_log10(line), minus_log10(floor[0]), floor[1], needed_permutations(line)))
    summary["unreachable"] = bool(floor is not None and line is not None and line < floor[0])
    zeros = sum(w[column] == 0 for x, w in tested)
    if zeros:
        notes.append("%d windows with %s = 0 drawn at %.0f" % (zeros, column, minus_log10(0)))
    untested = len(windows) - len(tested)
    if untested:
        notes.append("%d of %d windows without %s" % (untested, len(windows), column))
    if notes:
        man.text(0.99, 0.98, "\n".join(notes), transform=man.transAxes, ha="right", va="top", fontsize=8,
                 color="#c00000")
    top = top_windows(tested, column, top_count)
    summary["labelled"] = len(top)
    if top:
        # A label is about 150 pixels wide; the panel about 70% of the picture.
        label_top(man, top, column, ((max(xs) - min(xs)) or 1.0) * 150 / (0.7 * width))
    if man.get_legend_handles_labels()[0]:
        man.legend(loc="upper left", frameon=False, fontsize=8)
    man.set_ylim(0, highest * 1.45 if highest > 0 else 1)
    man.set_ylabel("-log10 %s" % column)
    man.set_title(title, fontsize=10)
    man.tick_params(labelbottom=False)

    # LD, binned.
    bins, bin_width = ld_bins(windows, xs, ld_count)
    for left, right, value, c in bins:
        ld.bar(left, value, width=right - left, align="edge", color=COLOURS[c % 2], linewidth=0)
    if not bins:
        ld.text(0.5, 0.5, "no window with ld_p", transform=ld.transAxes, ha="center", va="center")
    mb = bin_width if ticks is None else bin_width / 1e6
    size = "%.3g Mb" % mb if mb >= 0.1 else "%.3g kb" % (mb * 1000)
    ld.set_ylabel("median -log10 ld_p\nper %s bin" % size, fontsize=8)
    ld.set_xlabel(xlabel)
    if ticks is not None:
        ld.set_xticks([t[1] for t in ticks])
        ld.set_xticklabels([t[0] for t in ticks])
    summary["ld_bins"] = len(bins)

    # QQ.
    ps = [w[column] for x, w in tested]
    m = len(ps)
    band = qq_band(m)
    qq.fill_between([minus_log10(e) for e, lo, hi in band], [minus_log10(hi) for e, lo, hi in band],
                    [minus_log10(lo) for e, lo, hi in band], color="#d9d9d9", linewidth=0,
                    label="95% band, Beta(i, m-i+1)")
    expected = [minus_log10(i / (m + 1)) for i in range(1, m + 1)]
    qq.plot([0, expected[0]], [0, expected[0]], color="#7f7f7f", linewidth=0.8)
    qq.scatter(expected, [minus_log10(p) for p in sorted(ps)], s=10, color=COLOURS[0], linewidths=0)
    if floor is not None:
        qq.axhline(minus_log10(floor[0]), color="#7f7f7f", linewidth=1, linestyle=":")
    lam = genomic_lambda(ps)
    summary["lambda"] = lam
    qq.set_title("QQ of %s: lambda = %s (%d windows)" % (column, "NA" if lam is None else "%.3f" % lam, m),
                 fontsize=10)
    qq.set_xlabel("expected -log10 p, i/(m+1)")
    qq.set_ylabel("observed -log10 %s" % column)
    qq.legend(loc="upper left", frameon=False, fontsize=8)

    for ax in (man, ld, qq):
        ax.spines["top"].set_visible(False)
        ax.spines["right"].set_visible(False)
    return fig, summary


def default_picture(table):
    stem = table[:-4] if table.endswith(".tsv") else table
    return stem + ".png"


def main(argv):
    ap = argparse.ArgumentParser(prog="plot_scan.py", description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--pvalue", choices=("auto", "perm_p", "assoc_p"), default="auto",
                    help="the p values drawn (default auto: perm_p when any window was permuted, else assoc_p)")
    ap.add_argument("--top", type=int, default=5, help="windows of smallest p labelled with their markers (default 5)")
    ap.add_argument("--ld-bins", type=int, default=100,
                    help="bins along the genome of the disequilibrium panel (default 100)")
    ap.add_argument("--width", type=int, default=1600, help="picture width in pixels (default 1600)")
    ap.add_argument("--height", type=int, default=600, help="picture height in pixels (default 600)")
    ap.add_argument("--title", help="title above the plot (default: the table's name and counts)")
    ap.add_argument("table", help="an hfscan table")
    ap.add_argument("picture", nargs="?", help="the PNG written (default: TABLE without .tsv, with .png)")
    a = ap.parse_args(argv[1:])
    if a.width < 200 or a.height < 200:
        ap.error("--width and --height must be at least 200 pixels")
    if a.top < 0 or a.ld_bins < 1:
        ap.error("--top must be at least 0 and --ld-bins at least 1")
    picture = a.picture if a.picture is not None else default_picture(a.table)
    signal.signal(signal.SIGTERM, on_term)
    try:
        windows = read_table(a.table)
        column = choose_column(windows, a.pvalue, a.table)
        n_tested = sum(w[column] is not None for w in windows)
        title = a.title if a.title is not None else "%s: %d windows, %d with %s" % (
            os.path.basename(a.table), len(windows), n_tested, column)
        fig, summary = draw(windows, column, a.width, a.height, title, a.top, a.ld_bins)
        write_atomically(picture, lambda f: fig.savefig(f, format="png", dpi=DPI))
    except Refused as e:
        sys.stderr.write("plot_scan.py: %s\n" % e)
        return 1
    except OSError as e:
        sys.stderr.write("plot_scan.py: %s: cannot write the picture: %s\n" % (picture, e.strerror))
        return 1
    except ImportError as e:
        sys.stderr.write("plot_scan.py: %s; install python3-matplotlib and run this with "
                         "/usr/bin/python3\n" % e)
        return 1
    except KeyboardInterrupt:
        return 130
    line = "none" if summary["line"] is None else "%.2f" % summary["line"]
    floor = "" if summary["floor"] is None else ", permutation floor %.2f%s" % (
        summary["floor"], " (the line cannot be reached)" if summary["unreachable"] else "")
    lam = "NA" if summary["lambda"] is None else "%.3f" % summary["lambda"]
    sys.stderr.write("plot_scan.py: %s: -log10 %s of %d windows, genome-wide line %s%s, lambda %s\n"
                     % (picture, column, summary["tested"], line, floor, lam))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
