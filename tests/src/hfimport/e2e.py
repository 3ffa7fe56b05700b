#!/usr/bin/env python3
"""hfimport end to end with the real programs:
  - the committed .bed/.bim/.fam and .vcf are what make_inputs.py makes of
    the .ped/.map;
  - the same data as .ped/.map, .bed/.bim/.fam and VCF give identical
    parameter, data and estimator files;
  - the legend maps every number in the data file back to the genotype of
    the .ped;
  - hfp, phf and hf run on the converted files, hfx on an X-chromosome
    window whose males have one-allele records;
  - windows beyond the programs' limits and bad input stop with status 1
    and a message naming the limit or the file and line;
  - a write that fails leaves none of the output files but the log;
  - every program answers --help and --version on standard output.
With --vcf only the checks of the VCF form run (against the text form);
without it, everything but those.

    e2e.py --bin BUILD/bin --src SOURCE --version VERSION [--vcf]
"""
import argparse
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile

FAILS = []


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


def run(argv, cwd):
    return subprocess.run(argv, cwd=cwd, capture_output=True, text=True, timeout=600)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def legend(path):
    loci, people = [], {}
    for line in open(path):
        f = line.split()
        if f and f[0] == "locus":
            loci.append((f[2], dict(a.split("=", 1) for a in f[6:])))
        elif f and f[0] == "individual":
            people[f[1]] = (f[2], f[3])
    return loci, people


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--vcf", action="store_true", help="check the VCF form only")
    args = ap.parse_args()
    other = "vcf" if args.vcf else "bed"  # the form compared with the .ped
    binp = lambda p: os.path.join(os.path.abspath(args.bin), p)
    inputs = os.path.join(os.path.abspath(args.src), "tests", "inputs", "import")
    small = os.path.join(inputs, "small")
    work = tempfile.mkdtemp(prefix="import-e2e-")
    try:
        # The binary and VCF forms are those of the text form.
        gen = os.path.join(work, "gen")
        subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "make_inputs.py"),
                        small, gen], check=True)
        for ext in (("vcf",) if args.vcf else ("bed", "bim", "fam")):
            check(read(gen + "." + ext) == read(small + "." + ext), f"small.{ext} is not what make_inputs.py makes")

        # Same files from every format.
        pheno = ["--pheno", small + ".pheno", "--pheno-col", "status"]
        runs = {"ped": [small + ".ped"], "bed": [small + ".bed"], "vcf": [small + ".vcf"] + pheno}
        runs = {k: runs[k] for k in ("ped", other)}
        for name, argv in runs.items():
            p = run([binp("hfimport")] + argv + [name, "--region", "6:31000000-31002000", "--hf",
                                             "--permutations", "20"], work)
            check(p.returncode == 0 and p.stderr == "", f"hfimport {name}: {p.returncode} {p.stderr}")
        for ext in ("par", "dat", "hf"):
            check(read(os.path.join(work, "ped." + ext)) == read(os.path.join(work, other + "." + ext)),
                  f"{other}.{ext} differs from ped.{ext}")
        loci = {n: legend(os.path.join(work, n + ".legend"))[0] for n in runs}
        check(loci["ped"] == loci[other], "the legends' loci differ between formats")

        # X chromosome: sex from the .ped, or from a sex table for the VCF.
        xs = {"ped": [small + ".ped"], "bed": [small + ".bed"],
              "vcf": [small + ".vcf", "--sex-file", small + ".pheno"]}
        for name in ("ped", other):
            p = run([binp("hfimport")] + xs[name] + ["x" + name, "--region", "X:1-2000000", "--hfx",
                                                     "--estimator-only"], work)
            check(p.returncode == 0, f"hfimport X {name}: {p.stderr}")
        check(read(os.path.join(work, "xped.hfx")) == read(os.path.join(work, "x" + other + ".hfx")),
              f"x{other}.hfx differs from xped.hfx")
        if args.vcf:
            return finish()

        # The legend maps the data file back to the .ped genotypes.
        loci, people = legend(os.path.join(work, "ped.legend"))
        ped = {(f[0], f[1]): f for f in (l.split() for l in open(small + ".ped"))}
        mapnames = [l.split()[1] for l in open(small + ".map")]
        nrec = 0
        for line in open(os.path.join(work, "ped.dat")):
            f = line.split()
            row = ped[people[f[0]]]
            check(f[1] == ("1" if row[5] == "2" else "0"), f"label of individual {f[0]}")
            for k, (name, alleles) in enumerate(loci):
                j = mapnames.index(name)
                want = sorted((row[6 + 2 * j], row[7 + 2 * j]))
                got = sorted((alleles.get(f[2 + 2 * k], "0"), alleles.get(f[3 + 2 * k], "0")))
                if "0" in want:
                    want = ["0", "0"]
                check(got == want, f"individual {f[0]} locus {name}: {got} for {want}")
            nrec += 1
        check(nrec == 10, f"{nrec} data records, expected 10 (2 without status left out)")

        # The programs run on the converted files.
        p = run([binp("hfp"), "ped.par", "ped.dat", "cc.txt", "7"], work)
        check(p.returncode == 0, f"hfp on converted files: status {p.returncode} {p.stderr}")
        rep = open(os.path.join(work, "cc.txt")).read() if os.path.exists(os.path.join(work, "cc.txt")) else ""
        check("Observed Chi-square=" in rep and "Number of replicates = 20" in rep, "hfp report")
        p = run([binp("phf"), "ped.par", "ped.dat", "ped.phf"], work)
        check(p.returncode == 0, f"phf on converted files: status {p.returncode}")
        p = run([binp("hf"), "ped.hf", "ped.hfo"], work)
        hfo = open(os.path.join(work, "ped.hfo")).read()
        check(p.returncode == 0 and "log-likelihood assuming linkage equilibrium" in hfo, "hf on ped.hf")

        # The X-chromosome records of the .ped window.
        recs = [l.split() for l in open(os.path.join(work, "xped.hfx"))][1:]
        sexes = {r[0]: ped[people[r[0]]][4] for r in recs}
        check(all((r[2] == "0" and len(r) == 6 and all("/" not in g for g in r[3:])) == (sexes[r[0]] == "1")
                  for r in recs), "males are the one-allele records with sex value 0")
        check(all(r[2] == "1" and all("/" in g for g in r[3:]) for r in recs if sexes[r[0]] == "2"),
              "females are two-allele records with sex value 1")
        check("11" not in sexes, "the individual of unknown sex is left out")
        check(recs[4][:6] == ["5", "1", "0", "1", "0", "1"], f"heterozygous male call missing: {recs[4]}")
        p = run([binp("hfx"), "xped.hfx", "x.hfo"], work)
        check(p.returncode == 0 and "log-likelihood" in open(os.path.join(work, "x.hfo")).read(), "hfx on xped.hfx")

        # Limits and bad input.
        big = os.path.join(work, "big")
        with open(big + ".map", "w") as f:
            for k in range(61):
                f.write(f"1 m{k + 1} 0 {1000 + k}\n")
        with open(big + ".ped", "w") as f:
            for i in range(3):
                f.write(f"f{i} i{i} 0 0 1 1" + " A A" * 61 + "\n")
        p = run([binp("hfimport"), big + ".ped", "o", "--index", "1-31"], work)
        check(p.returncode == 1 and "at most 30 loci" in p.stderr, f"31 loci: {p.returncode} {p.stderr}")
        p = run([binp("hfimport"), big + ".ped", "o", "--estimator-only", "--hf"], work)
        check(p.returncode == 1 and "at most 60 loci" in p.stderr, f"61 loci: {p.stderr}")
        # Monomorphic markers: 60 loci stay within the numbering of haplotypes.
        p = run([binp("hfimport"), big + ".ped", "o", "--estimator-only", "--hf", "--index", "1-60"], work)
        check(p.returncode == 0, f"60 loci for the estimator: {p.stderr}")
        with open(big + ".ped", "a") as f:
            f.write("f9 i9 0 0 1 1" + " A C" * 60 + "\n")
        p = run([binp("hfimport"), big + ".ped", "o"], work)
        check(p.returncode == 1 and "big.ped, line 4: expected 128 fields" in p.stderr, f"short line: {p.stderr}")
        with open(os.path.join(work, "multi.map"), "w") as f:
            f.write("1 m1 0 1\n")
        with open(os.path.join(work, "multi.ped"), "w") as f:
            for i in range(26):
                f.write(f"f{i} i{i} 0 0 1 1 a{i} b{i}\n")
        p = run([binp("hfimport"), "multi.ped", "o"], work)
        check(p.returncode == 1 and "52 alleles" in p.stderr and "at most 50" in p.stderr, f"alleles: {p.stderr}")

        # A full disk (here a file size limit the legend fits in and the
        # estimator input does not): status 1, and none of the files appears
        # but the log, which says what stopped the run.
        with open(os.path.join(work, "many.ped"), "w") as f:
            for i in range(100):
                f.write(f"f{i} i{i} 0 0 1 1" + " A A" * 61 + "\n")
        shutil.copy(big + ".map", os.path.join(work, "many.map"))
        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (8000, 8000))
        p = subprocess.run([binp("hfimport"), "many.ped", "full", "--estimator-only", "--hf",
                            "--index", "1-60"], cwd=work, capture_output=True, text=True,
                           timeout=600, preexec_fn=small_files)
        left = [f for f in os.listdir(work) if f.startswith("full")]
        check(p.returncode == 1 and "full.hf: cannot write the output file" in p.stderr and
              left == ["full.log"] and "Error: full.hf: cannot write" in read(os.path.join(work, "full.log")).decode(),
              f"full disk: {p.returncode} {p.stderr!r} {left}")

        # --help and --version: standard output, status 0, and hf does not
        # take --help for an input file.
        for prog in ("hf", "hfx", "hf.sun", "hfp", "phf", "hfimport"):
            for opt in ("--help", "--version"):
                p = run([binp(prog), opt], work)
                check(p.returncode == 0 and p.stdout and not p.stderr, f"{prog} {opt}: {p.returncode} {p.stderr}")
                if opt == "--version":
                    check(args.version in p.stdout, f"{prog} --version: {p.stdout}")
                else:
                    check("Usage:" in p.stdout and "cannot open" not in p.stdout, f"{prog} --help: {p.stdout}")
    finally:
        shutil.rmtree(work)
    return finish()


def finish():
    print(f"{len(FAILS)} failure(s)")
    return 1 if FAILS else 0


if __name__ == "__main__":
    sys.exit(main())
