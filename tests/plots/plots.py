#!/usr/bin/env python3
"""workflows/scan/plot_scan.py on small made-up hfscan tables:
  - the picture has the size asked for and its three panels (Manhattan, QQ,
    LD), with the p value column named, chromosome or Mb ticks, the
    genome-wide line (Bonferroni, or max-T where fwer_p has values), the
    permutation floor and the note when the line lies above it;
  - lambda and the QQ band's beta quantiles against closed forms;
  - tables without association p values, or not hfscan's, are refused
    with status 1, a message naming the file, and no picture.

    plots.py --src SOURCE [--skip-note FILE]

Runs under the interpreter of plot_scan.py's #! line when this one has no
matplotlib; exit status 77 (a skip) when neither has it.
"""
import argparse
import math
import os
import struct
import subprocess
import sys
import tempfile

SKIP = 77
FAILS = []
HEADER = ("chrom first_marker last_marker first_pos last_pos n_markers n_indiv n_haplotypes ld_chi2 ld_df "
          "ld_p trait test n_assoc n_cases n_controls n_covariates assoc_chi2 assoc_df assoc_p perm_n "
          "perm_hits perm_p fwer_p top_haplotype top_freq top_z top_case_freq top_control_freq status").split()


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


def write_table(path, rows, fwer=True):
    """rows: dicts with chrom, pos, and any of ld_p, assoc_p, perm_n, perm_p,
    fwer_p (NA when left out); without fwer the column is left out."""
    header = [c for c in HEADER if fwer or c != "fwer_p"]
    with open(path, "w") as f:
        f.write("\t".join(header) + "\n")
        for k, r in enumerate(rows):
            v = {"chrom": r["chrom"], "first_marker": "rs%d" % k, "last_marker": "rs%d" % (k + 3),
                 "first_pos": str(r["pos"] - 5000), "last_pos": str(r["pos"] + 5000), "status": "ok"}
            v.update({c: str(r[c]) for c in ("ld_p", "assoc_p", "perm_n", "perm_p", "fwer_p") if c in r})
            f.write("\t".join(v.get(c, "NA") for c in header) + "\n")


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def scan(chroms, n, perm_n=None, fwer=None):
    """n windows per chromosome, 100 kb apart; p values spread evenly over
    (0, 1) with the first three of the middle chromosome strong."""
    rows = []
    for c in chroms:
        for k in range(n):
            p = (k + 0.5) / n
            if c == chroms[len(chroms) // 2] and k < 3:
                p = 1e-5 * (k + 1)
            r = {"chrom": c, "pos": 1_000_000 + 100_000 * k, "ld_p": 10.0 ** -(k % 7), "assoc_p": p}
            if perm_n is not None:
                r.update(perm_n=perm_n, perm_p=max(p, 1 / (perm_n + 1)))
            if fwer is not None:
                r["fwer_p"] = min(1.0, p * fwer)
            rows.append(r)
    return rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--src", required=True)
    ap.add_argument("--skip-note")
    args = ap.parse_args()
    here = os.path.join(os.path.abspath(args.src), "workflows", "scan")
    script = os.path.join(here, "plot_scan.py")
    with open(script) as f:
        python = f.readline()[2:].split()[0]
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        if os.path.realpath(python) != os.path.realpath(sys.executable) and subprocess.run(
                [python, "-c", "import matplotlib"], capture_output=True).returncode == 0:
            return subprocess.run([python] + sys.argv).returncode
        reason = "%s and %s have no matplotlib (apt-get install python3-matplotlib)" % (sys.executable, python)
        print("SKIP:", reason)
        if args.skip_note:
            os.makedirs(os.path.dirname(args.skip_note), exist_ok=True)
            with open(args.skip_note, "w") as f:
                f.write(reason + "\n")
        return SKIP
    sys.path.insert(0, here)
    import plot_scan as ps

    # Lambda and the band's quantiles against closed forms: chi-square 1 df
    # has upper tail erfc(sqrt(x/2)); Beta(1,b) has distribution
    # 1-(1-x)^b, Beta(a,1) x^a, Beta(2,2) 3x^2-2x^3.
    m = 0.454936423119572  # the median of chi-square 1 df, qchisq(0.5, 1)
    for ps_, lam in (([0.5] * 4, 1.0), ([0.5, math.erfc(1)], (m + 2) / 2 / m), ([0.9, math.erfc(1), math.erfc(1), 1e-8], 2 / m),
                     ([0.0, 0.0, 0.3], None)):
        got = ps.genomic_lambda(ps_)
        check(got == lam if lam is None else abs(got - lam) < 1e-9 * lam, "lambda of %s: %s, not %s" % (ps_, got, lam))
    for x, a, b, want in ((0.01, 1, 500, 1 - 0.99 ** 500), (0.9, 1, 3, 1 - 0.1 ** 3), (0.2, 7, 1, 0.2 ** 7),
                          (0.3, 2, 2, 3 * 0.09 - 2 * 0.027), (0.8, 2, 2, 3 * 0.64 - 2 * 0.512)):
        got = ps.incomplete_beta(x, a, b)
        check(abs(got - want) < 1e-12, "I_%g(%d,%d) = %r, not %r" % (x, a, b, got, want))
    for q, m in ((0.025, 1), (0.975, 1000), (0.025, 100000)):
        want = 1 - (1 - q) ** (1 / m)
        got = ps.beta_quantile(q, 1, m)
        check(abs(math.log10(got / want)) < 1e-8, "Beta(1,%d) %g quantile %r, not %r" % (m, q, got, want))
    try:
        from scipy.special import betaincinv  # an independent check where scipy is installed
        for i, m in ((1, 50), (30, 2000), (999, 1000)):
            want = float(betaincinv(i, m - i + 1, 0.975))
            check(abs(math.log10(ps.beta_quantile(0.975, i, m - i + 1) / want)) < 1e-8,
                  "Beta(%d,%d) 0.975 quantile against scipy's %r" % (i, m - i + 1, want))
    except ImportError:
        pass
    band = ps.qq_band(2000)
    check(band[0][0] == 1 / 2001 and band[-1][0] == 2000 / 2001 and all(lo < e < hi for e, lo, hi in band),
          "the QQ band runs over ranks 1..m and holds the expected p")

    work = tempfile.mkdtemp(prefix="plots-test-")
    genome, region = os.path.join(work, "genome.tsv"), os.path.join(work, "region.tsv")
    write_table(genome, scan(["1", "2", "3"], 20, perm_n=1000))
    write_table(region, scan(["22"], 30), fwer=False)

    # Each class of table drawn from the module: panels, column, axis, lines.
    untested = [{"chrom": "3", "pos": 9_000_000 + k, "ld_p": 0.5} for k in range(2)]
    cases = [
        # name, rows, pvalue, column, x ticks, line (-log10), floor, unreachable
        ("permuted genome", scan(["1", "2", "3"], 20, perm_n=1000) + untested, "auto", "perm_p", ["1", "2", "3"],
         -math.log10(0.05 / 60), math.log10(1001), True),
        ("assoc_p asked", scan(["1", "2", "3"], 20, perm_n=1000), "assoc_p", "assoc_p", ["1", "2", "3"],
         -math.log10(0.05 / 60), None, False),
        ("one chromosome", scan(["22"], 30), "auto", "assoc_p", None, -math.log10(0.05 / 30), None, False),
        ("max-T", scan(["22"], 30, perm_n=100000, fwer=2500), "auto", "perm_p", None, -math.log10(2e-5), math.log10(100001), False),
        ("max-T, none", scan(["22"], 30, fwer=1e6), "auto", "assoc_p", None, None, None, False),
    ]
    for name, rows, pvalue, column, ticks, line, floor, unreachable in cases:
        path = os.path.join(work, "t.tsv")
        write_table(path, rows)
        windows = ps.read_table(path)
        got = ps.choose_column(windows, pvalue, path)
        check(got == column, "%s: column %s, not %s" % (name, got, column))
        fig, summary = ps.draw(windows, got, 900, 500, name)
        axes = {ax.get_label(): ax for ax in fig.axes}
        check(set(axes) == {"manhattan", "qq", "ld"}, "%s: panels %s" % (name, sorted(axes)))
        check(column in axes["manhattan"].get_ylabel() and column in axes["qq"].get_title()
              and "lambda" in axes["qq"].get_title(), "%s: the p value column is named" % name)
        shown = [t.get_text() for t in axes["ld"].get_xticklabels()]
        check(shown == ticks if ticks else "Mb" in axes["ld"].get_xlabel(), "%s: x axis %s %s" % (name, shown, axes["ld"].get_xlabel()))
        check((summary["line"] is None) == (line is None) and (line is None or abs(summary["line"] - line) < 1e-9),
              "%s: genome-wide line %s, not %s" % (name, summary["line"], line))
        check(summary["floor"] == floor if floor is None else abs(summary["floor"] - floor) < 1e-9,
              "%s: floor %s, not %s" % (name, summary["floor"], floor))
        notes = " ".join(t.get_text() for t in axes["manhattan"].texts)
        check(summary["unreachable"] == unreachable and ("can reach" in notes) == unreachable,
              "%s: the unreachable line %s, notes %r" % (name, summary["unreachable"], notes))
        labels = [t for t in axes["manhattan"].texts if "rs" in t.get_text()]
        check(sum(t.get_text().count("\n") + 1 for t in labels) == 5, "%s: five top windows labelled" % name)
        check(summary["ld_bins"] > 0 and len(axes["ld"].patches) == summary["ld_bins"], "%s: LD bins drawn" % name)

    # The script by hand: the picture's size, and its default name.
    picture = os.path.join(work, "genome-picture.png")
    p = subprocess.run([python, script, "--width", "1000", "--height", "450", genome, picture],
                       capture_output=True, text=True, timeout=300)
    check(p.returncode == 0 and png_size(picture) == (1000, 450) and "cannot be reached" in p.stderr,
          "plot of the genome: %d %s %s" % (p.returncode, png_size(picture) if os.path.exists(picture) else None, p.stderr))
    p = subprocess.run([python, script, region], capture_output=True, text=True, timeout=300)
    picture = os.path.join(work, "region.png")
    check(p.returncode == 0 and os.path.exists(picture) and png_size(picture) == (1600, 600),
          "TABLE.tsv alone draws TABLE.png: %d %s" % (p.returncode, p.stderr))

    # Refused: status 1, the file named, nothing written.
    empty = os.path.join(work, "no-trait.tsv")
    write_table(empty, [{"chrom": "1", "pos": 10 ** 6 + k, "ld_p": 0.5} for k in range(5)])
    other = os.path.join(work, "other.tsv")
    with open(other, "w") as f:
        f.write("chrom\tfirst_pos\tcc_p\n1\t1\t0.5\n")
    refused = [
        ([empty], empty + ": no window has an association p value"),
        ([other], other + ", line 1: no column first_marker"),
        (["--pvalue", "perm_p", region], region + ": --pvalue perm_p: the column is NA in every row"),
    ]
    for argv, message in refused:
        out = os.path.join(work, "refused.png")
        p = subprocess.run([python, script] + argv + [out], capture_output=True, text=True, timeout=300)
        check(p.returncode == 1 and message in p.stderr and not os.path.exists(out),
              "refused %s: %d %s" % (argv, p.returncode, p.stderr))
    check(not [f for f in os.listdir(work) if f.endswith(".tmp")], "no temporary file left")

    for f in os.listdir(work):
        os.unlink(os.path.join(work, f))
    os.rmdir(work)
    if FAILS:
        print("%d check(s) failed" % len(FAILS))
        return 1
    print("plots: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
