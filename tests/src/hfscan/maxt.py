#!/usr/bin/env python3
"""hfscan's permutations in batches and --max-t, end to end:
  - fwer_p and perm_hits of a tiny scan (5 SNPs, windows of 3, one
    individual untyped in the first window only, one without the trait),
    with and without strata, against an independent computation: the
    shared permutations drawn here from the stated scheme (xoshiro256**
    seeded through splitmix64, Fisher-Yates within groups, restricted to each
    window's tested individuals), each permuted trait scanned by hfscan
    --permutations 0 (without covariates, permuting the trait is permuting
    the residuals), and fwer_p = (1 + #{k : min_w p_wk <= p_w (1 + 1e-8)}) / (P + 1);
  - the window's own adaptive permutations, now in batches, give the bytes
    of the build before the batches (tables committed, fwer_p aside);
  - --max-t gives the same bytes for --jobs 1 and 2, with the BLAS allowed
    2 threads, and for parts 1/3..3/3 joined by the workflow's gather;
  - refusals: --max-t with the likelihood-ratio test, without permutations,
    with --perm-hits, without a trait; the gather with a side file missing,
    of another part or cut short.

    maxt.py --bin BUILD/bin --src SOURCE
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

FAILS = []
M = (1 << 64) - 1


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def table(path):
    lines = open(path).read().splitlines()
    head = lines[0].split("\t")
    return [dict(zip(head, l.split("\t"))) for l in lines[1:]]


# The generator, as lib/scan/rng.cpp states it.
def splitmix(x):
    x = (x + 0x9E3779B97F4A7C15) & M
    z = x
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & M
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & M
    return x, z ^ (z >> 31)


def stream(seed, index):
    _, z = splitmix(seed)
    mixed = z ^ index
    s = []
    for _ in range(4):
        mixed, z = splitmix(mixed)
        s.append(z)
    return s


def rotl(x, k):
    return ((x << k) | (x >> (64 - k))) & M


def draw(s):
    result = (rotl((s[1] * 5) & M, 7) * 9) & M
    t = (s[1] << 17) & M
    s[2] ^= s[0]
    s[3] ^= s[1]
    s[1] ^= s[2]
    s[0] ^= s[3]
    s[2] ^= t
    s[3] = rotl(s[3], 45)
    return result


def below(s, n):
    threshold = ((1 << 64) - n) % n
    while True:
        x = draw(s)
        if x >= threshold:
            return x % n


def shared_permutation(seed, k, groups, n):
    """slot[s]: the sample whose value sample s takes in permutation k."""
    s = stream(seed ^ 0x6D61782D74, k)
    slot = list(range(n))
    for members in groups:
        v = list(members)
        for j in range(len(v), 1, -1):
            g = below(s, j)
            v[j - 1], v[g] = v[g], v[j - 1]
        for q, m in enumerate(members):
            slot[m] = v[q]
    return slot


def restricted(slot, groups, tested):
    """sigma[s] for s in tested: the tested sample whose value s takes."""
    sigma = {}
    for members in groups:
        slots_in = [m for m in members if m in tested]
        values_in = [slot[m] for m in members if slot[m] in tested]
        sigma.update(zip(slots_in, values_in))
    return sigma


def tiny(work):
    """5 SNPs on chromosome 1, 40 individuals; I1 untyped at m1-m3,
    I2 without the trait; a quantitative trait; two strata."""
    rng = random.Random(24)
    prefix = os.path.join(work, "tiny")
    with open(prefix + ".map", "w") as f:
        for j in range(5):
            f.write("1 m%d 0 %d\n" % (j + 1, 100 * (j + 1)))
    ys, geno = [], []
    with open(prefix + ".ped", "w") as f:
        for i in range(40):
            calls = []
            for j in range(5):
                a = "A" if rng.random() < 0.6 else "C"
                b = a if rng.random() < 0.7 else ("C" if a == "A" else "A")
                calls.append("0 0" if i == 0 and j < 3 else "%s %s" % (a, b))
            f.write("F%d I%d 0 0 1 -9 %s\n" % (i, i, " ".join(calls)))
            ys.append(None if i == 1 else round(rng.gauss(0, 1), 4))
    with open(prefix + ".within", "w") as f:
        for i in range(40):
            f.write("F%d I%d %s\n" % (i, i, "s%d" % (i % 3 == 0)))
    return prefix, ys


def write_pheno(path, values):
    with open(path, "w") as f:
        f.write("FID IID y\n")
        for i, y in enumerate(values):
            f.write("F%d I%d %s\n" % (i, i, "NA" if y is None else repr(y)))


def by_hand(binp, work, prefix, ys, strata, perms, seed):
    """fwer_p and perm_hits per window, computed from hfscan runs on the
    permuted traits."""
    n = len(ys)
    groups = [list(range(n))]
    if strata:
        # Strata numbered as first seen in the file: I0's (s1) first.
        groups = [[i for i in range(n) if i % 3 == 0], [i for i in range(n) if i % 3 != 0]]
    windows = [(1, 3), (2, 4), (3, 5)]
    observed, stats = [], []
    pheno = os.path.join(work, "perm.pheno")
    for first, last in windows:
        tested = {i for i in range(n) if ys[i] is not None and not (i == 0 and last <= 3)}
        per = []
        for k in range(0, perms + 1):
            if k == 0:
                values = [ys[i] if i in tested else None for i in range(n)]
            else:
                sigma = restricted(shared_permutation(seed, k, groups, n), groups, tested)
                values = [ys[sigma[i]] if i in tested else None for i in range(n)]
            write_pheno(pheno, values)
            out = os.path.join(work, "perm.tsv")
            p = subprocess.run([binp("hfscan"), prefix + ".ped", out, "--quiet", "--window", "3",
                                "--index", "%d-%d" % (first, last), "--permutations", "0",
                                "--pheno", pheno, "--pheno-col", "y", "--trait", "quantitative"],
                               capture_output=True, text=True, timeout=300)
            row = table(out)[0] if p.returncode == 0 else {}
            check(row.get("n_assoc") == str(len(tested)), "window %d, permutation %d: %s %s" % (first, k, row, p.stderr))
            per.append((float(row.get("assoc_chi2", "nan")), float(row.get("assoc_p", "nan"))))
        observed.append(per[0])
        stats.append(per[1:])
    min_p = [min(stats[w][k][1] for w in range(len(windows))) for k in range(perms)]
    fwer, hits = [], []
    for w, (chi2, p) in enumerate(observed):
        count = sum(1 for m in min_p if m <= p * (1 + 1e-8))
        fwer.append("%.10g" % ((count + 1) / (perms + 1)))
        hits.append(str(sum(1 for s, _ in stats[w] if s >= chi2 - 1e-10 * abs(chi2))))
    return fwer, hits


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    args = ap.parse_args()
    binp = lambda p: os.path.join(os.path.abspath(args.bin), p)
    src = os.path.abspath(args.src)
    gather = os.path.join(src, "workflows", "scan", "gather.py")
    work = tempfile.mkdtemp(prefix="scan-maxt-")
    try:
        scan = lambda *a, env=None: subprocess.run([binp("hfscan"), "--quiet", *a], cwd=work, capture_output=True,
                                                   text=True, timeout=600, env=env)

        # fwer_p by hand, with and without strata.
        prefix, ys = tiny(work)
        write_pheno(os.path.join(work, "tiny.pheno"), ys)
        trait = ["--pheno", "tiny.pheno", "--pheno-col", "y", "--trait", "quantitative", "--window", "3"]
        for strata in (False, True):
            extra = ["--within", prefix + ".within"] if strata else []
            p = scan(prefix + ".ped", "tiny.tsv", *trait, "--max-t", "--permutations", "6", "--seed", "9", *extra)
            check(p.returncode == 0, "tiny --max-t: %s" % p.stderr)
            rows = table(os.path.join(work, "tiny.tsv")) if p.returncode == 0 else []
            fwer, hits = by_hand(binp, work, prefix, ys, strata, 6, 9)
            check([r["fwer_p"] for r in rows] == fwer and [r["perm_hits"] for r in rows] == hits and
                  all(r["perm_n"] == "6" for r in rows),
                  "strata %s: fwer_p %s perm_hits %s, by hand %s %s" % (
                      strata, [r["fwer_p"] for r in rows], [r["perm_hits"] for r in rows], fwer, hits))

        # The adaptive permutations in batches: the bytes of the build before.
        example = os.path.join(src, "workflows", "scan", "example", "scan.ped")
        before = os.path.join(src, "tests", "inputs", "scan")
        for name, extra in (("adaptive", []), ("adaptive_within", ["--within", os.path.join(before, "example.within")])):
            p = scan(example, name + ".tsv", "--window", "3", "--permutations", "500", "--seed", "11", *extra)
            lines = [l.split("\t") for l in open(os.path.join(work, name + ".tsv")).read().splitlines()] if p.returncode == 0 else []
            col = lines[0].index("fwer_p") if lines else 0
            got = "".join("\t".join(f[:col] + f[col + 1:]) + "\n" for f in lines)
            check(got.encode() == read(os.path.join(before, name + ".tsv")) and
                  all(f[col] == "NA" for f in lines[1:]), "%s: not the table of the build before the batches %s" % (name, p.stderr))

        # Same bytes for threads, BLAS threads and parts.
        run = ["--window", "4", "--max-t", "--permutations", "300", "--seed", "4"]
        p = scan(example, "one.tsv", "--jobs", "1", *run)
        check(p.returncode == 0, "--max-t: %s" % p.stderr)
        one = read(os.path.join(work, "one.tsv"))
        check(b"\tNA\t" not in one.split(b"\n")[1] and not os.path.exists(os.path.join(work, "one.tsv.maxt")),
              "a single --max-t run fills fwer_p and writes no side file")
        scan(example, "two.tsv", "--jobs", "2", *run, env=dict(os.environ, OPENBLAS_NUM_THREADS="2"))
        check(read(os.path.join(work, "two.tsv")) == one, "--jobs 2 with 2 BLAS threads differs from --jobs 1")
        parts = []
        for k in (1, 2, 3):
            part = os.path.join(work, "part%d.tsv" % k)
            p = scan(example, part, "--jobs", "2", "--chunk", "%d/3" % k, *run)
            check(p.returncode == 0 and os.path.exists(part + ".maxt"), "part %d/3: %s" % (k, p.stderr))
            parts.append(part)
        g = subprocess.run([sys.executable, gather, "--max-t", os.path.join(work, "g.tsv")] + parts,
                           capture_output=True, text=True)
        check(g.returncode == 0 and read(os.path.join(work, "g.tsv")) == one,
              "the parts gathered differ from the single run: %s" % g.stderr)

        # Refusals.
        with open(parts[2] + ".maxt", "rb") as f:
            whole = f.read()
        refused = [
            ([example, "r.tsv", "--max-t", "--test", "lrt"], "--max-t needs the score test"),
            ([example, "r.tsv", "--max-t", "--permutations", "0"], "--max-t needs permutations"),
            ([example, "r.tsv", "--max-t", "--perm-hits", "5"], "--perm-hits does not apply with --max-t"),
            ([prefix + ".ped", "r.tsv", "--max-t"], "--max-t needs a trait"),
        ]
        for argv, message in refused:
            p = scan(*argv)
            check(p.returncode == 1 and message in p.stderr and not os.path.exists(os.path.join(work, "r.tsv")),
                  "%s: %d %s" % (argv[2:], p.returncode, p.stderr))
        lone = os.path.join(work, "lone.tsv")
        shutil.copy(parts[2], lone)
        swapped = os.path.join(work, "swapped.tsv")
        shutil.copy(parts[1], swapped)
        shutil.copy(parts[2] + ".maxt", swapped + ".maxt")
        bad = [
            ([parts[0], parts[1], lone], "lone.tsv.maxt: cannot read the side file", None),
            ([parts[0], swapped, parts[2]], "side file of part 3/3, given as part 2/3", None),
            (parts, "the last line has no line end", whole[:-3]),
        ]
        for given, message, content in bad:
            if content is not None:
                with open(parts[2] + ".maxt", "wb") as f:
                    f.write(content)
            g = subprocess.run([sys.executable, gather, "--max-t", os.path.join(work, "bad.tsv")] + given,
                               capture_output=True, text=True)
            check(g.returncode == 1 and message in g.stderr and not os.path.exists(os.path.join(work, "bad.tsv")),
                  "gather %s: %d %s" % (message, g.returncode, g.stderr))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if FAILS:
        print("%d check(s) failed" % len(FAILS))
        return 1
    print("hfscan --max-t and batches: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
