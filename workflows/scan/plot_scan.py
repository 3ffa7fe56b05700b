#!/usr/bin/python3
"""Draws an hfscan table: a Manhattan-style panel of -log10 p per window
of association (perm_p where the window was permuted, else assoc_p) along the
genome, chromosomes side by side, with the Bonferroni line over the windows
that have a p value; and below it the disequilibrium chi-square (ld_chi2) of
every window.

    plot_scan.py [--width PIXELS] [--height PIXELS] [--title TEXT] TABLE PICTURE

TABLE is the output of hfscan (or the gathered table of the workflow);
PICTURE is written as PNG, 1600 x 600 pixels unless asked otherwise, through
a temporary file renamed when complete. Exit status 0; 1 with a message
naming the file and line for a table that is not hfscan's; 130 or 143 when
interrupted by SIGINT or SIGTERM.

Runs under Debian's /usr/bin/python3 with python3-matplotlib.
"""
import argparse
import math
import os
import signal
import sys

from atomic import on_term, write_atomically

NEEDED = ("chrom", "first_pos", "last_pos", "ld_chi2", "assoc_p", "perm_p", "status")
DPI = 100


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
    return value


def read_table(path):
    """Returns the windows as dicts: chrom, pos (middle of the window), p
    (the best p value or None), ld_chi2 (or None)."""
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
    at = {c: header.index(c) for c in NEEDED}
    windows = []
    for lineno, line in enumerate(lines[1:], start=2):
        f = line.split("\t")
        if len(f) != len(header):
            raise Refused("%s, line %d: %d fields, the header has %d" % (path, lineno, len(f), len(header)))
        first = number(f[at["first_pos"]], path, lineno, "first_pos")
        last = number(f[at["last_pos"]], path, lineno, "last_pos")
        if first is None or last is None:
            raise Refused("%s, line %d: the window has no position" % (path, lineno))
        p = None
        for column in ("perm_p", "assoc_p"):
            p = number(f[at[column]], path, lineno, column)
            if p is not None:
                break
        if p is not None and not 0 <= p <= 1:
            raise Refused("%s, line %d: %s %s is not a probability" % (path, lineno, column, f[at[column]]))
        windows.append({"chrom": f[at["chrom"]], "pos": (first + last) / 2, "p": p,
                        "ld_chi2": number(f[at["ld_chi2"]], path, lineno, "ld_chi2")})
    return windows


def genome_axis(windows):
    """Places the chromosomes side by side in the order of the table, each
    with a small gap; returns per window its x value, and the chromosome
    names with the middle of each for the ticks."""
    spans = {}
    order = []
    for w in windows:
        if w["chrom"] not in spans:
            order.append(w["chrom"])
            spans[w["chrom"]] = [w["pos"], w["pos"]]
        s = spans[w["chrom"]]
        s[0], s[1] = min(s[0], w["pos"]), max(s[1], w["pos"])
    total = sum(max(s[1] - s[0], 1.0) for s in spans.values()) or 1.0
    gap = total * 0.02
    offset, start = {}, 0.0
    for c in order:
        lo, hi = spans[c]
        offset[c] = start - lo
        start += max(hi - lo, 1.0) + gap
    xs = [w["pos"] + offset[w["chrom"]] for w in windows]
    ticks = [(c, offset[c] + (spans[c][0] + spans[c][1]) / 2) for c in order]
    return xs, ticks, order


def draw(windows, picture, width, height, title):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(width / DPI, height / DPI), dpi=DPI,
                                      gridspec_kw={"height_ratios": [3, 2]})
    xs, ticks, order = genome_axis(windows)
    colours = ("#1f4e79", "#5b9bd5")
    shade = {c: colours[k % 2] for k, c in enumerate(order)}
    tested = [(x, w) for x, w in zip(xs, windows) if w["p"] is not None]
    smallest = sys.float_info.min  # a p value of 0 is drawn at the top of the range
    highest = 0.0
    for c in order:
        pts = [(x, -math.log10(max(w["p"], smallest))) for x, w in tested if w["chrom"] == c]
        if pts:
            highest = max(highest, max(p[1] for p in pts))
            top.scatter([p[0] for p in pts], [p[1] for p in pts], s=14, color=shade[c], linewidths=0)
        ld = [(x, w["ld_chi2"]) for x, w in zip(xs, windows) if w["chrom"] == c and w["ld_chi2"] is not None]
        if ld:
            bottom.plot([p[0] for p in ld], [p[1] for p in ld], marker="o", markersize=3, linewidth=0.8,
                        color=shade[c])
    if tested:
        line = -math.log10(0.05 / len(tested))
        top.axhline(line, color="#c00000", linewidth=1, linestyle="--",
                    label="Bonferroni 0.05 over %d windows" % len(tested))
        highest = max(highest, line)
        top.legend(loc="upper left", frameon=False, fontsize=9, ncol=1)
    else:
        top.text(0.5, 0.5, "no window with a p value", transform=top.transAxes, ha="center")
    top.set_ylabel("association -log10 p (perm_p, else assoc_p)")
    top.set_ylim(0, highest * 1.25 if highest > 0 else 1)
    bottom.set_ylabel("disequilibrium chi-square")
    bottom.set_xlabel("chromosome")
    bottom.set_xticks([t[1] for t in ticks])
    bottom.set_xticklabels([t[0] for t in ticks])
    for ax in (top, bottom):
        ax.spines["top"].set_visible(False)
        ax.spines["right"].set_visible(False)
    top.set_title(title)
    fig.tight_layout()
    fig.savefig(picture, format="png", dpi=DPI)
    plt.close(fig)


def main(argv):
    ap = argparse.ArgumentParser(prog="plot_scan.py", description=__doc__.split("\n\n")[0])
    ap.add_argument("--width", type=int, default=1600, help="picture width in pixels (default 1600)")
    ap.add_argument("--height", type=int, default=600, help="picture height in pixels (default 600)")
    ap.add_argument("--title", help="title above the plot (default: the table's name)")
    ap.add_argument("table")
    ap.add_argument("picture")
    a = ap.parse_args(argv[1:])
    if a.width < 200 or a.height < 200:
        ap.error("--width and --height must be at least 200 pixels")
    signal.signal(signal.SIGTERM, on_term)
    try:
        windows = read_table(a.table)
        n_tested = sum(w["p"] is not None for w in windows)
        title = a.title if a.title is not None else "%s: %d windows, %d with a p value" % (
            os.path.basename(a.table), len(windows), n_tested)
        write_atomically(a.picture, lambda f: draw(windows, f, a.width, a.height, title))
    except Refused as e:
        sys.stderr.write("plot_scan.py: %s\n" % e)
        return 1
    except OSError as e:
        sys.stderr.write("plot_scan.py: %s: cannot write the picture: %s\n" % (a.picture, e.strerror))
        return 1
    except ImportError as e:
        sys.stderr.write("plot_scan.py: %s; install python3-matplotlib and run this with "
                         "/usr/bin/python3\n" % e)
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
