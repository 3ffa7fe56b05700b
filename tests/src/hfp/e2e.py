#!/usr/bin/env python3
"""hfp end to end with the real estimator, checked against separate runs of
hf on the same individuals:
  - case-control: observed chi-square = 2(lnL cases + lnL controls - lnL
    pooled), and the z statistic of every listed haplotype from the case and
    control reports;
  - block mode: the global, block 1, block 2 and block 1/2 chi-squares;
  - the same seed gives the same report, another seed other p values;
  - no temporary file is left; a missing or failing estimator stops the run.

    e2e.py --bin BUILD/bin --src SOURCE
"""
import argparse
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

FAILS = []


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def readpar(path):
    lines = open(path).read().split("\n")
    nloci, cc, permute, npermute = map(int, lines[0].split()[:4])
    alleles = list(map(int, lines[1].split()[:nloci]))
    sel = list(map(int, lines[3].split()[:nloci]))
    selp = list(map(int, lines[4].split()[:nloci]))
    return dict(nloci=nloci, cc=cc, npermute=npermute, alleles=alleles, sel=sel, selp=selp)


def readdat(path, par):
    """Kept individuals in reading order: (label, pairs)."""
    people = []
    for line in open(path):
        f = line.split()
        if len(f) < 3:
            break
        label = int(f[1])
        vals = list(map(int, f[2:2 + 2 * par["nloci"]]))
        pairs = [tuple(sorted((max(vals[2 * l], 0), max(vals[2 * l + 1], 0)))) for l in range(par["nloci"])]
        selected = [l for l in range(par["nloci"]) if par["sel"][l]]
        if all(pairs[l][0] <= 0 for l in selected):
            continue
        people.append((1 if (par["cc"] and label == 1) else 0, pairs))
    return people


def runhf(binary, work, loci, par, people, name):
    path = os.path.join(work, name + ".in")
    with open(path, "w") as f:
        f.write(" ".join(str(par["alleles"][l]) for l in loci) + "\n")
        for i, (label, pairs) in enumerate(people):
            f.write("%d 1 %s\n" % (i + 1, " ".join("%d %d" % pairs[l] for l in loci)))
    out = os.path.join(work, name + ".hfo")
    subprocess.run([os.path.join(binary, "hf"), path, out], capture_output=True, check=True)
    text = open(out).read()
    ll = float(re.search(r"assuming linkage disequilibrium =(\S+)", text).group(1))
    x2 = float(re.search(r"chi-square=(\S+)", text).group(1))
    fp = re.search(r"^(\d+)/(\d+) individuals with F/P", text, re.M)
    n = int(fp.group(1)) + int(fp.group(2))
    table = {}
    body = text.split("FT = sqrt")[1].split("\n")[4:]
    for row in body:
        if len(row) <= 1:
            break
        f = row.split()
        table[int(f[-1])] = float(f[1])
    return ll, x2, n, table


def hfp(args, work, par, dat, seed, out="report.txt"):
    proc = subprocess.run([os.path.join(args.bin, "hfp"), par, dat, out, str(seed)], cwd=work,
                          capture_output=True, text=True)
    report = open(os.path.join(work, out)).read() if os.path.exists(os.path.join(work, out)) else ""
    return proc, report


def casecontrol(args, work):
    par = os.path.join(args.src, "examples", "casecontrol.par")
    dat = os.path.join(args.src, "examples", "casecontrol.dat")
    p = readpar(par)
    people = readdat(dat, p)
    loci = [l for l in range(p["nloci"]) if p["sel"][l]]
    lpo, _, _, _ = runhf(args.bin, work, loci, p, people, "pooled")
    lca, _, nca, tca = runhf(args.bin, work, loci, p, [x for x in people if x[0] == 1], "cases")
    lco, _, nco, tco = runhf(args.bin, work, loci, p, [x for x in people if x[0] != 1], "controls")
    x2 = f32(2 * f32(f32(f32(lca) + f32(lco)) - f32(lpo)))
    proc, report = hfp(args, work, par, dat, 7)
    check(proc.returncode == 0, "case-control hfp exits 0: " + proc.stderr)
    check("Observed Chi-square=%.2f, df=7\n" % x2 in report, "case-control chi-square %.2f" % x2)
    # z of every listed haplotype from the separate case and control runs.
    rows = re.findall(r"^(\S+) (\S+) +(\S+) +(\S+) +(\S+) +(?:\d+ +)+?(\d+)$", report, re.M)
    check(len(rows) > 3, "case-control haplotype table has rows")
    for hca_s, hco_s, z_s, p_s, emp_s, ident in rows:
        hca, hco = tca.get(int(ident), 0.0), tco.get(int(ident), 0.0)
        m = (nca * hca + nco * hco) / (nca + nco)
        var = m * (1 - m) * (0.5 / nca + 0.5 / nco)
        z = (hca - hco) / math.sqrt(var) if var > 0 else 0.0
        check("%f" % hca == hca_s and "%f" % hco == hco_s, "frequencies of haplotype " + ident)
        check("%7.2f" % z == "%7s" % z_s, "z of haplotype %s: %s vs %.2f" % (ident, z_s, z))
        pz = 2 * normaltail(math.sqrt(z * z))
        check(abs(float(p_s) - pz) < 2e-5, "asymptotic p of haplotype " + ident)
    check(not [f for f in os.listdir(work) if f.startswith("temp") or f == "hf.tmp"], "temporary files removed")
    # The same seed reproduces the report; another seed changes the p values.
    _, again = hfp(args, work, par, dat, 7)
    check(strip(again) == strip(report), "same seed, same report")
    _, other = hfp(args, work, par, dat, 8)
    check(pvalues(other) != pvalues(report), "another seed, other p values")


def normaltail(a):
    if a > 12:
        return 0.0
    t = 1 / (1 + 0.33267 * a)
    return 0.39894228 * math.exp(-0.5 * a * a) * t * (0.4361836 + t * (-0.1201676 + t * 0.937298))


def strip(report):
    return "\n".join(l for l in report.split("\n") if not re.match(r"^\w{3} \w{3} [ \d]\d ", l))


def pvalues(report):
    return re.findall(r"(?:p value=|Emp)\S*", report) + [l.split()[4] for l in report.split("\n")
                                                          if re.match(r"^\d\.\d{6} \d\.\d{6} ", l)]


def blocks(args, work):
    par = os.path.join(args.src, "examples", "blocks.par")
    dat = os.path.join(args.src, "examples", "casecontrol.dat")
    p = readpar(par)
    people = readdat(dat, p)
    allloci = [l for l in range(p["nloci"]) if p["sel"][l]]
    b1 = [l for l in allloci if p["selp"][l]]
    b2 = [l for l in allloci if not p["selp"][l]]
    l0, x0, _, _ = runhf(args.bin, work, allloci, p, people, "all")
    l1, x1, _, _ = runhf(args.bin, work, b1, p, people, "b1")
    l2, x2, _, _ = runhf(args.bin, work, b2, p, people, "b2")
    x12 = f32(2 * f32(f32(f32(l0) - f32(l1)) - f32(l2)))
    proc, report = hfp(args, work, par, dat, 7)
    check(proc.returncode == 0, "block hfp exits 0: " + proc.stderr)
    check("Observed Chi-square=%.2f, df=7\n" % x0 in report, "global block chi-square %.2f" % x0)
    check("block   1=%.2f, df=2\n" % x1 in report, "block 1 chi-square")
    check("block   2=%.2f, df=0\n" % x2 in report, "block 2 chi-square")
    check("block 1/2=%.2f, df=5\n" % x12 in report, "block 1/2 chi-square %.2f" % x12)
    # Pass 1 evaluates the data as read, so no block p value is below 1/20.
    for v in re.findall(r"(?:p value=|Block   1=|Block 1/2=)(\S+?),", report):
        check(float(v) >= 0.05, "block p value at least 1/npermute")


def failures(args, work):
    par = os.path.join(args.src, "examples", "casecontrol.par")
    dat = os.path.join(args.src, "examples", "casecontrol.dat")
    alone = os.path.join(work, "alone")
    os.mkdir(alone)
    shutil.copy(os.path.join(args.bin, "hfp"), alone)
    env = dict(os.environ, PATH="/usr/bin:/bin")
    proc = subprocess.run([os.path.join(alone, "hfp"), par, dat, "r.txt"], cwd=alone, capture_output=True,
                          text=True, env=env)
    check(proc.returncode == 1, "missing estimator: status 1")
    check("hf.sun" in proc.stderr and "temp.hfo" in proc.stderr, "missing estimator named: " + proc.stderr)
    check(sorted(os.listdir(alone)) == ["hfp"], "missing estimator: temporary files removed")
    with open(os.path.join(alone, "hf.sun"), "w") as f:
        f.write("#!/bin/sh\necho 'estimator broke' >&2\nexit 3\n")
    os.chmod(os.path.join(alone, "hf.sun"), 0o755)
    proc = subprocess.run([os.path.join(alone, "hfp"), par, dat, "r.txt"], cwd=alone, capture_output=True,
                          text=True, env=env)
    check(proc.returncode == 1 and "failed with status 3" in proc.stderr, "failing estimator: " + proc.stderr)
    check(sorted(os.listdir(alone)) == ["hf.sun", "hfp"], "failing estimator: temporary files removed")
    # npermute 0 and 1: no p value, seed or haplotype table.
    for n in (0, 1):
        p0 = os.path.join(work, "n%d.par" % n)
        open(p0, "w").write("3 1 1 %d\n2 3 2\n0 0\n1 1 1\n1 1 1\n" % n)
        proc, report = hfp(args, work, p0, dat, 5)
        check(proc.returncode == 0 and "Observed Chi-square=" in report and "p value" not in report
              and "Significance" not in report, "npermute %d report" % n)
    # Refusals: negative permutations, data without controls.
    neg = os.path.join(work, "neg.par")
    open(neg, "w").write("3 1 1 -5\n2 3 2\n0 0\n1 1 1\n1 1 1\n")
    proc, _ = hfp(args, work, neg, dat, 5)
    check(proc.returncode == 1 and "permutations" in proc.stderr, "negative npermute refused")
    allcases = os.path.join(work, "cases.dat")
    open(allcases, "w").write("a 1 1 1 1 2 1 1\nb 1 1 2 2 2 1 2\n")
    proc, _ = hfp(args, work, par, allcases, 5)
    check(proc.returncode == 1 and "cases" in proc.stderr, "no controls refused: " + proc.stderr)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    args = ap.parse_args()
    args.bin = os.path.abspath(args.bin)
    args.src = os.path.abspath(args.src)
    for test in (casecontrol, blocks, failures):
        with tempfile.TemporaryDirectory() as work:
            test(args, work)
    print("%d failure(s)" % len(FAILS))
    return 1 if FAILS else 0


if __name__ == "__main__":
    sys.exit(main())
