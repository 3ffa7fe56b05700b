#!/usr/bin/env python3
"""Calibration of hfscan's association p values over several null traits.

One null trait on genotypes with linkage disequilibrium gives correlated
windows, so the share of windows below a level moves a good deal from one
trait to the next; this driver draws R independent null traits on the data
that make_data.R prepared (for.exercise, WORK) and reports, for each and
pooled, the share of tested windows with assoc_p and perm_p below 0.05,
0.01 and 0.001, and the ratio of the pooled share to the level.

  binary        Bernoulli(1/2) case-control status, no covariates. The data
                hold two populations (CEU, JPT+CHB) whose allele frequencies
                differ at most markers: a status that is by chance a little
                more frequent in one of them moves every such window the same
                way, so one trait's shares swing widely around the level and
                only their mean over traits estimates the test's size.
                perm_p, valid by construction, swings with them and shows how
                far chance alone goes. (A status balanced within each
                population would not do: it is not exchangeable over the
                whole sample, and both p values come out conservative, about
                0.036 at 0.05, as a trial showed.)
  quantitative  0.5 age_z + site effect + N(0, 1), adjusted for age (numeric)
                and site (categorical, three levels), from null_qt.covar

    replicates.py --hfscan build/bin/hfscan [--work /tmp/haplosift-calib]
                  [--replicates 5] [--kinds binary,quantitative]
                  [--permutations 1000] [--jobs 2] [--extra "--score-variance louis"]

Seeds are fixed (trait r of a kind draws from seed 1000 + r), so every run
sees the same traits. Standard library only; progress on standard error,
the Markdown table on standard output.
"""
import argparse
import csv
import os
import random
import shlex
import statistics
import subprocess
import sys
import time

LEVELS = (0.05, 0.01, 0.001)


def samples(work):
    with open(os.path.join(work, "null_qt.covar")) as f:
        rows = list(csv.reader(f, delimiter="\t"))
    return rows[0], rows[1:]


def write_trait(work, kind, r, out):
    head, rows = samples(work)
    rng = random.Random(1000 + r)
    ages = [float(x[2]) for x in rows]
    mean, sd = statistics.mean(ages), statistics.pstdev(ages)
    effect = {}
    with open(out, "w") as f:
        f.write("FID\tIID\ty\n")
        for x in rows:
            if kind == "binary":
                y = "2" if rng.random() < 0.5 else "1"
            else:
                site = x[3]
                if site not in effect:
                    effect[site] = 0.4 * len(effect) - 0.4
                y = "%.6f" % (0.5 * (float(x[2]) - mean) / sd + effect[site] + rng.gauss(0, 1))
            f.write("%s\t%s\t%s\n" % (x[0], x[1], y))


def shares(path):
    with open(path) as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    out = {}
    for col in ("assoc_p", "perm_p"):
        v = [float(r[col]) for r in rows if r["status"] == "ok" and r.get(col, "NA") != "NA"]
        out[col] = (len(v), [sum(p < a for p in v) for a in LEVELS])
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--hfscan", required=True)
    ap.add_argument("--work", default="/tmp/haplosift-calib")
    ap.add_argument("--replicates", type=int, default=5)
    ap.add_argument("--kinds", default="binary,quantitative")
    ap.add_argument("--permutations", type=int, default=1000)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--extra", default="")
    args = ap.parse_args()
    work = args.work
    bed = os.path.join(work, "calib.bed")
    if not os.path.exists(bed):
        sys.exit(f"{bed}: no data; run bench/calibration/run once to prepare it")
    outdir = os.path.join(work, "replicates")
    os.makedirs(outdir, exist_ok=True)
    print("| trait | replicate | windows | assoc_p < 0.05 | < 0.01 | < 0.001 | perm_p < 0.05 | < 0.01 | < 0.001 | CPU s |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |")
    for kind in args.kinds.split(","):
        pooled = {"assoc_p": [0, [0, 0, 0]], "perm_p": [0, [0, 0, 0]]}
        for r in range(1, args.replicates + 1):
            pheno = os.path.join(outdir, f"{kind}{r}.pheno")
            write_trait(work, kind, r, pheno)
            table = os.path.join(outdir, f"{kind}{r}.tsv")
            argv = [args.hfscan, bed, table, "--pheno", pheno, "--pheno-col", "y", "--trait", kind,
                    "--permutations", str(args.permutations), "--jobs", str(args.jobs), "--quiet"]
            if kind == "quantitative":
                argv += ["--covar", os.path.join(work, "null_qt.covar"), "--covar-name", "age,site"]
            argv += shlex.split(args.extra)
            print(f"{kind} {r}: {' '.join(argv)}", file=sys.stderr)
            t0 = os.times()
            subprocess.run(argv, check=True, stderr=subprocess.DEVNULL)
            t1 = os.times()
            cpu = (t1.children_user - t0.children_user) + (t1.children_system - t0.children_system)
            s = shares(table)
            cells = []
            for col in ("assoc_p", "perm_p"):
                n, below = s[col]
                pooled[col][0] += n
                for k in range(3):
                    pooled[col][1][k] += below[k]
                cells += ["%.4f" % (b / n) if n else "NA" for b in below]
            print(f"| {kind} | {r} | {s['assoc_p'][0]} | " + " | ".join(cells) + f" | {cpu:.0f} |")
        cells = []
        for col in ("assoc_p", "perm_p"):
            n, below = pooled[col]
            cells += ["%.4f (%.2f×)" % (b / n, b / n / a) if n else "NA" for b, a in zip(below, LEVELS)]
        print(f"| **{kind}** | **pooled** | {pooled['assoc_p'][0]} | " + " | ".join(cells) + " | |")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
