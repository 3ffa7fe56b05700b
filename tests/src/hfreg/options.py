#!/usr/bin/env python3
"""hfreg's PLINK-style options and its log. Every option gives, byte for
byte, the table of its positional counterpart; --out PREFIX writes
PREFIX.tsv and PREFIX.log, a positional OUTPUT OUTPUT.log. The log of a
run holds its fields and none of them reaches the table; a failed run keeps
its log, ending with its error, and leaves no table."""

import argparse
import filecmp
import os
import subprocess
import sys
import tempfile

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    args = ap.parse_args()
    args.bin, args.src = os.path.abspath(args.bin), os.path.abspath(args.src)
    hfreg = os.path.join(args.bin, "hfreg")
    assoc = os.path.join(args.src, "tests", "inputs", "assoc", "complete")
    small = os.path.join(args.src, "tests", "inputs", "import", "small")
    work = tempfile.mkdtemp(prefix="hfreg-options-")

    def run(*argv):
        return subprocess.run([hfreg, *argv], cwd=work, capture_output=True, text=True, timeout=600)

    def path(name):
        return os.path.join(work, name)

    with open(path("more.txt"), "w") as f:
        f.write("snp5 snp6 nosuch snp7 snp8\n")
    trait = ["--pheno", assoc + ".pheno", "--pheno-col", "cc", "--index", "5-8"]
    by_index = ["--pheno", assoc + ".pheno", "--pheno-col", "cc"]
    refs = {
        "assoc": [assoc + ".ped", "ref.tsv", *trait],
        "bed6": [small + ".bed", "ref.tsv", "--region", "6:31000000-31002000"],
        "chr6": [small + ".bed", "ref.tsv", "--region", "6:1-999999999"],
        "vcf6": [small + ".vcf", "ref.tsv", "--region", "6:1-999999999",
                 "--pheno", small + ".pheno", "--pheno-col", "status"],
    }
    # name, arguments, reference run, what standard error must say, log
    rows = [
        ("--file/--out", ["--file", assoc, "--out", "o", *trait], "assoc", "", "o.log"),
        ("prefix without an ending", [assoc, "o.tsv", *trait], "assoc", "", "o.tsv.log"),
        ("--bfile", ["--bfile", small, "--out", "o", "--region", "6:31000000-31002000"], "bed6", "",
         "o.log"),
        ("--chr", [small + ".bed", "o.tsv", "--chr", "6"], "chr6", "", "o.tsv.log"),
        ("--pheno-col by number", [assoc + ".ped", "--out", "o", "--index", "5-8",
                                   "--pheno", assoc + ".pheno", "--pheno-col", "3"], "assoc", "", "o.log"),
        ("--allow-missing-markers", ["--file", assoc, "--out", "o", *by_index, "--markers",
                                     "more.txt", "--allow-missing-markers"], "assoc",
         "1 listed marker not found: nosuch", "o.log"),
    ]
    if "NOT AVAILABLE" not in run("--help").stdout:
        rows.append(("--vcf", ["--vcf", small + ".vcf", "--out", "o", "--chr", "6",
                               "--pheno", small + ".pheno", "--pheno-col", "status"], "vcf6", "", "o.log"))
    for name, argv, ref, said, log in rows:
        for f in os.listdir(work):
            if f != "more.txt":
                os.remove(path(f))
        p = run(*argv)
        q = run(*refs[ref])
        check(p.returncode == 0 and q.returncode == 0 and said in p.stderr,
              f"{name}: status {p.returncode}, {p.stderr!r}; positional: {q.returncode}, {q.stderr!r}")
        out = "o.tsv"
        check(os.path.exists(path(out)) and filecmp.cmp(path(out), path("ref.tsv"), shallow=False),
              f"{name}: {out} differs from the table of {refs[ref]}")
        check(os.path.exists(path(log)), f"{name}: no {log}")
        if said:
            check(said in open(path(log)).read(), f"{name}: the log lacks {said!r}")

    # The fields of a run's log; the table holds none of them.
    p = run("--file", assoc, "--out", "logged", *trait, "--covar", assoc + ".covar",
            "--covar-name", "age,site")
    text = open(path("logged.log")).read() if os.path.exists(path("logged.log")) else ""
    for want in ["hfreg (HAPLOSIFT) ", "Command line: " + hfreg + " --file " + assoc + " --out logged",
                 "Working directory: ", "Start time: ", "Input: " + assoc + ".ped\n",
                 "Table: logged.tsv\n", "Markers: 11 in the input; 4 kept, 7 left out by --index\n",
                 "Region: chromosome 1, snp5 (", "4 markers: snp5 snp6 snp7 snp8\n",
                 "Individuals: 300 in the input; 300 with the trait (", " 0 without\n",
                 "Trait: binary", "Covariates: ", "age", "Model: logistic, additive effects; base haplotype AAGC (the most frequent)",
                 "Individuals in the fit: 300\n",
                 "Global test: likelihood-ratio test against the model without haplotypes: chi2 8.1781051", ", df 5, p ",
                 "End time: ", "Elapsed: "]:
        check(want in text, f"log: no {want!r} in\n{text}")
    check(p.returncode == 0 and "Error" not in text and "Command line" not in open(path("logged.tsv")).read(),
          "a run's log has no error, and its table no log")
    # A run that fails keeps its log, which ends with the error; no table.
    p = run("--file", assoc, "--out", "failed", *trait, "--base", "TTTT")
    text = open(path("failed.log")).read() if os.path.exists(path("failed.log")) else ""
    check(p.returncode == 1 and "\nError: " in text and text.split("\nError: ")[1].split("\n")[0] in p.stderr
          and "Elapsed: " in text and not os.path.exists(path("failed.tsv")),
          f"the log of a failed run: status {p.returncode}, {p.stderr!r}\n{text}")

    if not failures:
        import shutil
        shutil.rmtree(work)
    print(f"{len(rows)} options, the log: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
