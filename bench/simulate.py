#!/usr/bin/env python3
"""Simulate unphased marker genotypes with linkage disequilibrium.

The population is a mosaic of a few founder haplotypes: walking along the
markers, a haplotype copies one founder and switches to another (drawn by
founder weight) with the recombination probability of the interval between
two adjacent markers; every allele then mutates with a small probability.
Adjacent markers are thus in strong disequilibrium that decays with
distance, as in real data.

Markers are biallelic (--snps K) or carry the allele counts given with
--alleles 8,12,15,20. With --cases, individuals are drawn until the
requested numbers of cases and controls are met, affection following a
penetrance model on the number of copies of a risk haplotype: the risk
variant sits at the middle marker on the background of the second most
common founder.

Each genotype is missing (both alleles 0) with the --missing probability.

Files written, all for the same individuals in the same order:
  PREFIX.hf            estimator input, one record per individual
  PREFIX.cases.hf,     the cases and the controls alone (with --cases),
  PREFIX.controls.hf   as hfp writes them for a pass
  PREFIX.par/.dat      TRELIX parameter and data file (up to 30 markers):
                       case-control with --cases, otherwise block mode with
                       the first --permuted markers in Block 1
  PREFIX.ped/.map      PLINK files (SNPs only): alleles 1/2, missing 0 0
With more than 60 SNPs (a genome scan) only the PLINK files are written.

The same seed and options give the same files on every machine.
"""

import argparse
import random
import sys

TRELIX_MAX_LOCI = 30
ESTIMATOR_MAX_LOCI = 60


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    kind = p.add_mutually_exclusive_group(required=True)
    kind.add_argument("--snps", type=int, help="number of biallelic markers")
    kind.add_argument("--alleles", help="allele counts, e.g. 8,12,15,20")
    p.add_argument("--individuals", "-n", type=int, required=True,
                   help="number of individuals (cases included)")
    p.add_argument("--cases", type=int, default=0,
                   help="number of cases; 0 for a population sample")
    p.add_argument("--missing", type=float, default=0.0,
                   help="probability that a genotype is missing")
    p.add_argument("--founders", type=int, default=8,
                   help="number of founder haplotypes")
    p.add_argument("--recombination", type=float, default=0.05,
                   help="mean switch probability between adjacent markers")
    p.add_argument("--mutation", type=float, default=0.01,
                   help="probability that an allele mutates")
    p.add_argument("--penetrance", default="0.02,0.04,0.08",
                   help="f0,f1,f2 for 0, 1, 2 copies of the risk haplotype")
    p.add_argument("--permutations", type=int, default=1000,
                   help="permutations requested in the TRELIX parameter file")
    p.add_argument("--permuted", type=int, default=None,
                   help="block mode: markers in Block 1 (default: half)")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--out", required=True, help="prefix of the files written")
    a = p.parse_args(argv)
    if a.snps is not None:
        a.nalleles = [2] * a.snps
    else:
        a.nalleles = [int(x) for x in a.alleles.split(",")]
    if not a.nalleles or min(a.nalleles) < 2 or max(a.nalleles) > 50:
        p.error("every marker needs 2 to 50 alleles")
    if len(a.nalleles) > ESTIMATOR_MAX_LOCI and \
            not all(n == 2 for n in a.nalleles):
        p.error("more than %d markers: SNPs only (PLINK files alone)"
                % ESTIMATOR_MAX_LOCI)
    if not 0 <= a.cases <= a.individuals:
        p.error("--cases must lie between 0 and --individuals")
    a.penetrance = [float(x) for x in a.penetrance.split(",")]
    if len(a.penetrance) != 3:
        p.error("--penetrance takes three values")
    if a.permuted is None:
        a.permuted = len(a.nalleles) // 2
    return a


class Population:
    """Founders, their weights and the per-interval switch probabilities."""

    def __init__(self, rng, nalleles, nfounders, recombination, mutation):
        self.rng = rng
        self.nalleles = nalleles
        self.mutation = mutation
        nloci = len(nalleles)
        # Skewed allele spectrum per marker: a few common alleles, a tail
        # of rare ones, in a marker-specific order.
        self.allele_weights = []
        for n in nalleles:
            order = list(range(1, n + 1))
            rng.shuffle(order)
            w = [0.0] * (n + 1)
            for rank, allele in enumerate(order):
                w[allele] = 0.75 ** rank
            self.allele_weights.append(w)
        self.founders = []
        for _ in range(nfounders):
            self.founders.append([0] * nloci)
        for k, n in enumerate(nalleles):
            if n == 2:
                # Every SNP is polymorphic among the founders.
                carriers = rng.randint(1, nfounders - 1)
                minor = set(rng.sample(range(nfounders), carriers))
                for f in range(nfounders):
                    self.founders[f][k] = 2 if f in minor else 1
            else:
                for f in range(nfounders):
                    self.founders[f][k] = self.draw_allele(k)
        w = [rng.gammavariate(1.0, 1.0) + 0.2 for _ in range(nfounders)]
        total = sum(w)
        self.founder_weights = [x / total for x in w]
        self.switch = [rng.uniform(0.0, 2.0 * recombination)
                       for _ in range(nloci - 1)]
        self.risk_interval = (nloci - 1) // 2
        by_weight = sorted(range(nfounders),
                           key=lambda i: -self.founder_weights[i])
        self.risk_founder = by_weight[min(1, nfounders - 1)]

    def draw_allele(self, k):
        w = self.allele_weights[k]
        return self.rng.choices(range(len(w)), weights=w)[0]

    def draw_founder(self):
        return self.rng.choices(range(len(self.founder_weights)),
                                weights=self.founder_weights)[0]

    def haplotype(self):
        """Returns (alleles, carries_risk)."""
        rng = self.rng
        f = self.draw_founder()
        alleles = []
        risk = False
        for k, n in enumerate(self.nalleles):
            if k > 0 and rng.random() < self.switch[k - 1]:
                f = self.draw_founder()
            a = self.founders[f][k]
            if rng.random() < self.mutation:
                if n == 2:
                    a = 3 - a
                else:
                    a = self.draw_allele(k)
            alleles.append(a)
            if k == self.risk_interval:
                risk = f == self.risk_founder
        return alleles, risk


def individuals(args, rng, pop):
    """Yields (label, [(a, b) per marker]) with the requested make-up.

    label is 1 for a case and 0 otherwise; with cases, the individuals come
    out in the order they were drawn, cases and controls interleaved.
    """
    ncases = args.cases
    ncontrols = args.individuals - ncases
    f = args.penetrance
    while ncases > 0 or ncontrols > 0:
        h1, r1 = pop.haplotype()
        h2, r2 = pop.haplotype()
        label = 0
        if args.cases:
            label = 1 if rng.random() < f[int(r1) + int(r2)] else 0
            if label == 1 and ncases == 0:
                continue
            if label == 0 and ncontrols == 0:
                continue
        if label:
            ncases -= 1
        else:
            ncontrols -= 1
        geno = []
        for a, b in zip(h1, h2):
            if rng.random() < args.missing:
                geno.append((0, 0))
            else:
                geno.append((min(a, b), max(a, b)))
        yield label, geno


def write_hf(path, nalleles, people):
    """Estimator input in the shape hfp writes: "id 1 a b a b ..."."""
    with open(path, "w") as f:
        f.write("".join("%2d " % n for n in nalleles) + "\n")
        for seq, (_, geno) in people:
            f.write("%d 1" % seq)
            for a, b in geno:
                f.write(" %d %d" % (a, b))
            f.write("\n")


def write_trelix(prefix, args, pop, people):
    n = len(args.nalleles)
    cc = 1 if args.cases else 0
    with open(prefix + ".par", "w") as f:
        f.write("%d %d 1 %d\n" % (n, cc, args.permutations))
        f.write(" ".join(str(x) for x in args.nalleles) + "\n")
        f.write("0 0\n")
        f.write(" ".join("1" for _ in range(n)) + "\n")
        if cc:
            f.write(" ".join("1" for _ in range(n)) + "\n")
            q = pop.founder_weights[pop.risk_founder]
            f.write("%.4f %.4f %.4f %.4f\n" % (q, *args.penetrance))
        else:
            f.write(" ".join("1" if k < args.permuted else "0"
                             for k in range(n)) + "\n")
    with open(prefix + ".dat", "w") as f:
        for seq, (label, geno) in people:
            f.write("%d %d" % (seq, label))
            for a, b in geno:
                f.write(" %d %d" % (a, b))
            f.write("\n")


def write_plink(prefix, args, people):
    n = len(args.nalleles)
    with open(prefix + ".map", "w") as f:
        for k in range(n):
            f.write("1 m%d 0 %d\n" % (k + 1, 100000 + 1000 * k))
    with open(prefix + ".ped", "w") as f:
        for seq, (label, geno) in people:
            pheno = (2 if label else 1) if args.cases else -9
            sex = 1 + seq % 2
            f.write("%d %d 0 0 %d %d" % (seq, seq, sex, pheno))
            for a, b in geno:
                f.write(" %d %d" % (a, b))
            f.write("\n")


def main(argv):
    args = parse_args(argv)
    rng = random.Random(args.seed)
    pop = Population(rng, args.nalleles, args.founders, args.recombination,
                     args.mutation)
    people = list(enumerate(individuals(args, rng, pop), start=1))
    if len(args.nalleles) > ESTIMATOR_MAX_LOCI:
        # Genome-scan sizes: only the PLINK files, for hfscan and its peers.
        write_plink(args.out, args, people)
        return 0
    write_hf(args.out + ".hf", args.nalleles, people)
    if args.cases:
        write_hf(args.out + ".cases.hf", args.nalleles,
                 [p for p in people if p[1][0] == 1])
        write_hf(args.out + ".controls.hf", args.nalleles,
                 [p for p in people if p[1][0] != 1])
    if len(args.nalleles) <= TRELIX_MAX_LOCI:
        write_trelix(args.out, args, pop, people)
    if all(n == 2 for n in args.nalleles):
        write_plink(args.out, args, people)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
