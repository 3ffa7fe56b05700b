#!/usr/bin/env python3
"""Simulate the association test data sets of this folder.

Genotypes come from bench/simulate.py's founder mosaic (recombination and
mutation along the markers, hence realistic disequilibrium); the alleles
are written as letters, each SNP with its own pair. A quantitative trait
and a binary one depend on the number of copies of the founder background
that simulate.py marks as the risk background at the middle marker, and on
the covariates age, pc1 and site.

Written for NAME in the data sets below:
  NAME.ped/.map   PLINK text, chromosome 1, phenotype column -9
  NAME.pheno      FID IID cc qt (cc: 2 case, 1 control, -9 missing;
                  qt: NA when missing)
  NAME.covar      FID IID age pc1 site (NA when missing)

Usage: simulate_assoc.py [OUTDIR]   (default: this script's folder)
The files are the same on every machine for the same simulate.py.
"""

import math
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "bench"))
from simulate import Population  # noqa: E402

SITES = ["north", "south", "west"]
SITE_WEIGHTS = [0.45, 0.35, 0.20]
SITE_EFFECT_QT = {"north": 0.0, "south": 0.5, "west": -0.4}
SITE_EFFECT_CC = {"north": 0.0, "south": 0.4, "west": -0.3}
LETTER_PAIRS = [("A", "G"), ("C", "T"), ("A", "C"), ("G", "T"),
                ("A", "T"), ("C", "G")]

# name, individuals, SNPs, genotype missing rate, trait/covariate missing
# rate, seed
DATASETS = [
    ("complete", 300, 11, 0.0, 0.0, 11),
    ("missing", 260, 11, 0.03, 0.02, 20240612),
]


def simulate(name, n, nsnp, geno_missing, value_missing, seed, outdir):
    rng = random.Random(seed)
    pop = Population(rng, [2] * nsnp, 6, 0.05, 0.01)
    letters = []
    for _ in range(nsnp):
        pair = list(rng.choice(LETTER_PAIRS))
        rng.shuffle(pair)
        letters.append(pair)
    positions = []
    pos = 1000000 + rng.randint(0, 5000)
    for _ in range(nsnp):
        positions.append(pos)
        pos += rng.randint(300, 3000)
    with open(os.path.join(outdir, name + ".map"), "w") as f:
        for k in range(nsnp):
            f.write("1\tsnp%d\t0\t%d\n" % (k + 1, positions[k]))

    ped, pheno, covar = [], [], []
    for i in range(1, n + 1):
        h1, r1 = pop.haplotype()
        h2, r2 = pop.haplotype()
        risk = int(r1) + int(r2)
        age = rng.randint(25, 75)
        pc1 = round(rng.gauss(0.0, 0.02), 5)
        site = rng.choices(SITES, weights=SITE_WEIGHTS)[0]
        qt = (10.0 + 0.6 * risk + 0.03 * (age - 50) + 12.0 * pc1
              + SITE_EFFECT_QT[site] + rng.gauss(0.0, 1.0))
        eta = (-0.6 + 0.8 * risk + 0.02 * (age - 50) + SITE_EFFECT_CC[site])
        cc = 2 if rng.random() < 1.0 / (1.0 + math.exp(-eta)) else 1
        calls = []
        for k, (a, b) in enumerate(zip(h1, h2)):
            if rng.random() < geno_missing:
                calls.append("0 0")
            else:
                la, lb = letters[k][a - 1], letters[k][b - 1]
                calls.append("%s %s" % (la, lb))
        fid, iid = "F%03d" % i, "I%03d" % i
        ped.append("%s %s 0 0 %d -9  %s" % (fid, iid, 1 + i % 2,
                                            "  ".join(calls)))
        fields = {"cc": str(cc), "qt": "%.3f" % qt, "age": str(age),
                  "pc1": "%.5f" % pc1, "site": site}
        for key in ("cc", "qt", "age", "pc1", "site"):
            if rng.random() < value_missing:
                fields[key] = "-9" if key == "cc" else "NA"
        pheno.append("%s %s %s %s" % (fid, iid, fields["cc"], fields["qt"]))
        covar.append("%s %s %s %s %s" % (fid, iid, fields["age"],
                                         fields["pc1"], fields["site"]))
    with open(os.path.join(outdir, name + ".ped"), "w") as f:
        f.write("\n".join(ped) + "\n")
    with open(os.path.join(outdir, name + ".pheno"), "w") as f:
        f.write("FID IID cc qt\n" + "\n".join(pheno) + "\n")
    with open(os.path.join(outdir, name + ".covar"), "w") as f:
        f.write("FID IID age pc1 site\n" + "\n".join(covar) + "\n")


def main(argv):
    outdir = argv[0] if argv else HERE
    for d in DATASETS:
        simulate(*d, outdir=outdir)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
