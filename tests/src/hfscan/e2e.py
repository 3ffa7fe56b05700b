#!/usr/bin/env python3
"""hfscan end to end with the real programs:
  - on a simulated case-control sample (a monomorphic marker, individuals
    without status, chromosome 3 then X), every window's ld_chi2, ld_df and
    n_haplotypes are those of hf's (hfx's) report on hfimport's files for
    that window, with --test lrt assoc_chi2 is hfp's observed chi-square within 0.035, and
    top_* is the row of hfp's haplotype table with the largest |z|;
  - --jobs 1, 2 and 32 give the same bytes, and so do the parts 1/3,
    2/3, 3/3 concatenated and the whole scan, and with --max-t the parts
    joined by the workflow's gather; .ped, .bed and VCF too (built
    without htslib, a VCF input is refused with status 1 and no file);
  - bad input and edge cases, each with its message or status and exit
    status; an interrupt or a full disk leaves no table behind (the log
    stays, saying how the run ended), SIGKILL none under the output's name;
  - a window that runs out of memory (under RLIMIT_AS) gets that status in
    its row, and the scan goes on.

    e2e.py --bin BUILD/bin --src SOURCE --version VERSION [--vcf]
"""
import argparse
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

FAILS = []


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


def run(argv, cwd, **kw):
    return subprocess.run(argv, cwd=cwd, capture_output=True, text=True, timeout=600, **kw)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def table(path):
    lines = open(path).read().splitlines()
    head = lines[0].split("\t")
    return [dict(zip(head, l.split("\t"))) for l in lines[1:]]


def make_sample(work, src):
    """12 SNPs of 300 individuals (150 cases): m1-m8 on chromosome 3, m9-m12
    on X; m4 monomorphic; every 10th individual without status."""
    prefix = os.path.join(work, "cc")
    subprocess.run([sys.executable, os.path.join(src, "bench", "simulate.py"), "--snps", "12",
                    "-n", "300", "--cases", "150", "--missing", "0.03", "--seed", "14",
                    "--out", prefix], check=True)
    with open(prefix + ".map", "w") as f:
        for k in range(1, 13):
            f.write("%s m%d 0 %d\n" % ("3" if k <= 8 else "X", k, 1000 * k))
    rows = [l.split() for l in open(prefix + ".ped")]
    with open(prefix + ".ped", "w") as f:
        for i, r in enumerate(rows):
            if i % 10 == 9:
                r[5] = "-9"
            for c in (6 + 2 * 3, 7 + 2 * 3):
                if r[c] != "0":
                    r[c] = "2"
            f.write(" ".join(r) + "\n")
    return prefix


def report_values(path):
    text = open(path).read()
    return (float(re.search(r"chi-square=(\S+)", text).group(1)),
            int(re.search(r"degree\(s\) of freedom = (\d+)", text).group(1)),
            int(re.search(r"Number of nonzero haplotypes = (\d+)", text).group(1)))


def legend_spellings(path):
    loci = []
    for line in open(path):
        f = line.split()
        if f and f[0] == "locus":
            loci.append(dict(a.split("=", 1) for a in f[6:]))
    return loci


def compare_with_peers(binp, work, prefix, rows):
    """Every window against hf/hfx and hfp on hfimport's files."""
    for r in rows:
        first, last = int(r["first_marker"][1:]), int(r["last_marker"][1:])
        name = "%s-%s" % (r["first_marker"], r["last_marker"])
        d = os.path.join(work, name)
        os.mkdir(d)
        x = r["chrom"] == "X"
        imp = [binp("hfimport"), prefix + ".ped", "w", "--index", "%d-%d" % (first, last),
               "--permutations", "2"] + (["--hfx", "--estimator-only"] if x else ["--hf"])
        p = run(imp, d)
        check(p.returncode == 0, f"{name}: hfimport {p.stderr}")
        est = binp("hfx" if x else "hf")
        p = run([est, "w.hfx" if x else "w.hf", "w.hfo"], d)
        check(p.returncode == 0, f"{name}: {est} {p.stderr}")
        chi2, df, nhap = report_values(os.path.join(d, "w.hfo"))
        check(r["status"] == "ok", f"{name}: status {r['status']}")
        check(abs(float(r["ld_chi2"]) - chi2) <= 0.005 + 1e-9 and int(r["ld_df"]) == df and
              int(r["n_haplotypes"]) == nhap,
              f"{name}: ld {r['ld_chi2']} df {r['ld_df']} nhap {r['n_haplotypes']}, "
              f"hf {chi2} {df} {nhap}")
        if x:
            continue
        p = run([binp("hfp"), "w.par", "w.dat", "rep.txt", "5"], d)
        check(p.returncode == 0, f"{name}: hfp {p.stderr}")
        rep = open(os.path.join(d, "rep.txt")).read()
        observed = float(re.search(r"Observed Chi-square=([-0-9.]+)", rep).group(1))
        check(abs(float(r["assoc_chi2"]) - observed) <= 0.035,
              f"{name}: assoc_chi2 {r['assoc_chi2']}, hfp {observed}")
        # hfp's haplotype rows: case h, control h, z, p, emp. p, alleles, ID.
        spell = legend_spellings(os.path.join(d, "w.legend"))
        k = last - first + 1
        best, top = -1.0, None
        for line in rep.split("ID\n\n", 1)[1].splitlines():
            f = line.split()
            if len(f) != 6 + k:
                break
            hca, hco, z = float(f[0]), float(f[1]), abs(float(f[2]))
            hap = "".join(spell[j][f[5 + j]] for j in range(k))
            if hap == r["top_haplotype"]:
                top = (hca, hco, z)
            if max(hca, hco) >= 0.05:
                best = max(best, z)
        check(top is not None and abs(top[0] - float(r["top_case_freq"])) < 2e-6 and
              abs(top[1] - float(r["top_control_freq"])) < 2e-6 and top[2] >= best - 0.01,
              f"{name}: top {r['top_haplotype']} {r['top_case_freq']} {r['top_control_freq']}, "
              f"hfp row {top}, largest |z| {best}")


def interrupted(binp, work, prefix, sig, status):
    out = os.path.join(work, "killed.tsv")
    p = subprocess.Popen([binp("hfscan"), prefix + ".ped", out, "--window", "2",
                          "--permutations", "100000000", "--perm-hits", "100000000", "--jobs", "2"],
                         cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    p.send_signal(sig)
    try:
        rc = p.wait(timeout=60)
    except subprocess.TimeoutExpired:
        p.kill()
        rc = p.wait()
    left = [f for f in os.listdir(work) if f.startswith("killed.tsv")]
    if sig == signal.SIGKILL:
        # Nothing can clean up after SIGKILL, but no file has the final name.
        check(rc == -sig and "killed.tsv" not in left, f"SIGKILL: status {rc}, files {left}")
        for f in left:
            os.remove(os.path.join(work, f))
        return
    # The log of the run stays, and says how it ended; no table is left.
    log = os.path.join(work, "killed.tsv.log")
    said = "Error: " + ("interrupted (SIGINT)" if sig == signal.SIGINT else "terminated (SIGTERM)")
    check(rc == status and left == ["killed.tsv.log"] and said in open(log).read(),
          f"signal {sig}: status {rc}, files left {left}")
    if os.path.exists(log):
        os.remove(log)


def out_of_memory(binp, work):
    """A window beyond the memory bound: four 50-allele markers, ten people
    typed at the first only, under a 300 MiB address-space limit. Its row
    says "out of memory" and the windows after it are tested."""
    hfscan = binp("hfscan")
    with open(hfscan, "rb") as f:
        if b"__asan_init" in f.read():
            print("out of memory: skipped, hfscan is built with AddressSanitizer")
            return
    with open(os.path.join(work, "rich.map"), "w") as f:
        for k in range(4):
            f.write(f"1 r{k + 1} 0 {k + 1}\n")
        for k in range(5):
            f.write(f"2 s{k + 1} 0 {k + 1}\n")
    with open(os.path.join(work, "rich.ped"), "w") as f:
        for i in range(60):
            rich = [f"a{(i + k) % 50 + 1} a{(i + k + 1) % 50 + 1}" if i < 50 or k == 0 else "0 0"
                    for k in range(4)]
            snps = ["A C" if (i + k) % 3 else "A A" for k in range(5)]
            f.write(f"f{i} i{i} 0 0 1 {1 + i % 2} " + " ".join(rich + snps) + "\n")
    # By default the window's work bound stops it before the EM; past the
    # bound, memory runs out under the limit.
    # No permutations: their matrix products would need room for the BLAS's
    # work areas, and with that room the rich window fits and runs for long.
    limit = 300 << 20
    for bound, status in ((None, "too many haplotype pairs (156250000400)"),
                          ("1000000000000000", "out of memory")):
        extra = ["--max-pairs", bound] if bound else []
        try:
            p = subprocess.run([hfscan, "rich.ped", "rich.tsv", "--jobs", "1", "--window", "4",
                                "--permutations", "0", "--quiet", *extra], cwd=work,
                               capture_output=True, text=True, timeout=120,
                               preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
        except subprocess.TimeoutExpired:
            check(False, f"{status}: the rich window ran for two minutes within the limit")
            continue
        rows = table(os.path.join(work, "rich.tsv")) if p.returncode == 0 else []
        check([r["status"] for r in rows] == [status, "ok", "ok"] and
              rows[0]["first_marker"] == "r1" and rows[0]["ld_chi2"] == "NA",
              f"{status}: {p.returncode} {p.stderr!r} {[r['status'] for r in rows]}")


def plink_options(binp, work, prefix, small, vcf):
    """PLINK's way of naming files and choosing what is tested: each form
    writes the table of its positional counterpart, byte for byte, or is
    refused with its message and no table."""
    scan = lambda *a: run([binp("hfscan"), "--quiet", *a], work)
    common = ["--window", "3", "--permutations", "40"]
    # A phenotype table whose third column is the status and whose fourth
    # is named "3" (a quantitative trait); a marker list with a name that
    # no marker bears.
    with open(os.path.join(work, "cc.pheno"), "w") as f:
        f.write("FID IID status 3\n")
        for i, line in enumerate(open(prefix + ".ped")):
            r = line.split()
            f.write("%s %s %s %.3f\n" % (r[0], r[1], r[5], (i * 37 % 101) / 10))
    with open(os.path.join(work, "some.txt"), "w") as f:
        f.write("m1 m2 m3 m4\n")
    with open(os.path.join(work, "more.txt"), "w") as f:
        f.write("m1 m2 nosuch m3 m4\n")
    pheno = ["--pheno", "cc.pheno"]
    refs = {
        "all": [prefix + ".ped", "ref.tsv"],
        "chr3": [prefix + ".ped", "ref.tsv", "--region", "3:1-99999999"],
        "status": [prefix + ".ped", "ref.tsv", *pheno, "--pheno-col", "status"],
        "q": [prefix + ".ped", "ref.tsv", *pheno, "--pheno-col", "3"],
        "some": [prefix + ".ped", "ref.tsv", "--markers", "some.txt"],
        "bed": [small + ".bed", "ref.tsv", "--window", "2"],
    }
    # name, arguments, reference (None: refused with status 1), message
    rows = [
        ("--file/--out", ["--file", prefix, "--out", "o"], "all", ""),
        ("prefix without an ending", [prefix, "o.tsv"], "all", ""),
        ("input positional, --out", [prefix + ".ped", "--out", "o"], "all", ""),
        ("--bfile", ["--bfile", small, "--out", "o", "--window", "2"], "bed", ""),
        ("--chr", ["--file", prefix, "--out", "o", "--chr", "3"], "chr3", ""),
        ("--region CHR", ["--file", prefix, "--out", "o", "--region", "chr3"], "chr3", ""),
        ("--pheno-col by number", ["--file", prefix, "--out", "o", *pheno, "--pheno-col", "4"], "q", ""),
        ("--pheno-col-nums", ["--file", prefix, "--out", "o", *pheno, "--pheno-col-nums", "3"], "status", ""),
        ("--allow-missing-markers", ["--file", prefix, "--out", "o", "--markers", "more.txt",
                                     "--allow-missing-markers"], "some", "1 listed marker not found: nosuch"),
        ("a missing marker", ["--file", prefix, "--out", "o", "--markers", "more.txt"], None,
         "1 listed marker not found: nosuch"),
        ("input given twice", ["--file", prefix, prefix + ".ped", "o.tsv"], None,
         "the input is given by --file"),
        ("no --out", ["--file", prefix], None, "name the output with --out PREFIX"),
        ("prefix of both kinds", [small, "o.tsv", "--window", "2"], None, ".bed and " + small + ".ped exist"),
        ("prefix of no file", [prefix + "x", "o.tsv"], None, "nor " + prefix + "x.bed or " + prefix + "x.ped"),
    ]
    if vcf:
        refs["vcf"] = [small + ".vcf", "ref.tsv", "--window", "2"]
        rows.append(("--vcf", ["--vcf", small + ".vcf", "--out", "o", "--window", "2"], "vcf", ""))
    for name, argv, ref, message in rows:
        for f in ("o.tsv", "o.log", "o.tsv.log", "ref.tsv"):
            if os.path.exists(os.path.join(work, f)):
                os.remove(os.path.join(work, f))
        p = scan(*argv, *common)
        if ref is None:
            check(p.returncode == 1 and message in p.stderr and not os.path.exists(os.path.join(work, "o.tsv")),
                  f"{name}: status {p.returncode}, {p.stderr!r}")
            continue
        check(p.returncode == 0 and message in p.stderr, f"{name}: status {p.returncode}, {p.stderr!r}")
        q = scan(*refs[ref], *common)
        check(q.returncode == 0, f"{name}: the positional run: {q.stderr!r}")
        check(os.path.exists(os.path.join(work, "o.tsv")) and
              read(os.path.join(work, "o.tsv")) == read(os.path.join(work, "ref.tsv")),
              f"{name}: the table differs from that of {refs[ref]}")
        log = "o.tsv.log" if argv[1] == "o.tsv" else "o.log"
        check(os.path.exists(os.path.join(work, log)), f"{name}: no {log}")


def run_logs(binp, work, prefix, blank, version):
    """The log holds what PLINK's does, for a run that succeeds and for one
    that fails; the table holds none of it."""
    p = run([binp("hfscan"), "--file", prefix, "--out", "logged", "--window", "3", "--permutations",
             "30", "--seed", "7", "--jobs", "2", "--quiet"], work)
    check(p.returncode == 0, f"logged run: {p.stderr!r}")
    text = open(os.path.join(work, "logged.log")).read()
    for want in [f"hfscan (HAPLOSIFT) {version}\n",
                 f"Command line: {binp('hfscan')} --file {prefix} --out logged --window 3",
                 "Working directory: " + work, "Start time: ", "Seed: 7\n", "Threads: 2\n",
                 "Input: " + prefix + ".ped\n", "Table: logged.tsv\n",
                 "Markers: 12 in the input; 12 kept\n",
                 "Individuals: 300 in the input; 270 with the trait (135 cases, 135 controls), 30 without\n",
                 "Trait: binary trait from the phenotype column", "Covariates: none\n",
                 "Windows: 8 of 3 markers, step 1\n", "Windows written: 8: 8 ok, 0 with a status\n",
                 "Permutations: ", "End time: ", "Elapsed: "]:
        check(want in text, f"log: no {want!r} in\n{text}")
    check("Error" not in text and not open(os.path.join(work, "logged.tsv")).read().count("Seed"),
          "a clean run's log has no error, and the table no log")
    # Windows with a status are counted by reason; a failed run's log ends with its error.
    p = run([binp("hfscan"), blank + ".ped", "blank.tsv", "--permutations", "0", "--quiet"], work)
    text = open(os.path.join(work, "blank.tsv.log")).read()
    check(p.returncode == 0 and "Windows written: 6: 3 ok, 3 with a status\n  untyped marker m6: 3 windows\n" in text,
          f"log of windows with a status: {text}")
    p = run([binp("hfscan"), blank + ".ped", "short.tsv", "--window", "9"], work)
    text = open(os.path.join(work, "short.tsv.log")).read()
    check(p.returncode == 1 and "\nError: " + blank + ".ped: no window of 9 markers" in text and
          not os.path.exists(os.path.join(work, "short.tsv")), f"log of a failed run: {text}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--vcf", action="store_true", help="hfscan reads VCF (built with htslib)")
    args = ap.parse_args()
    binp = lambda p: os.path.join(os.path.abspath(args.bin), p)
    src = os.path.abspath(args.src)
    small = os.path.join(src, "tests", "inputs", "import", "small")
    work = tempfile.mkdtemp(prefix="scan-e2e-")
    try:
        prefix = make_sample(work, src)
        scan = lambda *a: run([binp("hfscan"), *a], work)

        # Every window against the peers.
        p = scan(prefix + ".ped", "cc.tsv", "--window", "3", "--permutations", "0", "--quiet",
                 "--test", "lrt")
        check(p.returncode == 0, f"hfscan: {p.returncode} {p.stderr}")
        rows = table(os.path.join(work, "cc.tsv"))
        check([(r["first_marker"], r["last_marker"]) for r in rows] ==
              [("m%d" % i, "m%d" % (i + 2)) for i in list(range(1, 7)) + [9, 10]],
              "windows: chromosome 3 then X, none across the boundary")
        check(all(r["perm_n"] == "NA" and r["perm_p"] == "NA" for r in rows), "--permutations 0")
        compare_with_peers(binp, work, prefix, rows)
        # The heterozygous calls of males at m9-m12 (on X), read as missing, are counted.
        het = sum(1 for l in open(prefix + ".ped") for f in [l.split()] if f[4] == "1"
                  for k in range(8, 12) if "0" not in f[6 + 2 * k:8 + 2 * k]
                  and f[6 + 2 * k] != f[7 + 2 * k])
        check(het > 0 and f"note: {het} heterozygous calls of males at 4 X-chromosome markers "
              "read as missing" in p.stderr, f"male heterozygous X calls: {het}, {p.stderr!r}")

        # Same bytes for any number of threads and any split into parts.
        perm = ["--window", "3", "--permutations", "300", "--seed", "11", "--quiet"]
        scan(prefix + ".ped", "j1.tsv", "--jobs", "1", *perm)
        scan(prefix + ".ped", "j2.tsv", "--jobs", "2", *perm)
        scan(prefix + ".ped", "j32.tsv", "--jobs", "32", *perm)  # more threads than cores
        parts = b""
        for k in (1, 2, 3):
            p = scan(prefix + ".ped", "part%d.tsv" % k, "--jobs", "2", "--chunk", "%d/3" % k, *perm)
            check(p.returncode == 0, f"chunk {k}/3: {p.stderr}")
            parts += read(os.path.join(work, "part%d.tsv" % k))
        one = read(os.path.join(work, "j1.tsv"))
        check(one == read(os.path.join(work, "j2.tsv")), "--jobs 1 and --jobs 2 differ")
        check(one == read(os.path.join(work, "j32.tsv")), "--jobs 1 and --jobs 32 differ")
        check(one == parts, "parts 1/3 + 2/3 + 3/3 differ from the whole scan")
        # With --max-t (windows on 3 and X, individuals without status) the
        # parts' side files, gathered, give the whole scan's fwer_p.
        maxt = ["--window", "3", "--permutations", "100", "--seed", "11", "--quiet", "--max-t"]
        scan(prefix + ".ped", "mt.tsv", "--jobs", "2", *maxt)
        for k in (1, 2, 3):
            scan(prefix + ".ped", "mt%d.tsv" % k, "--jobs", "2", "--chunk", "%d/3" % k, *maxt)
        g = run([sys.executable, os.path.join(src, "workflows", "scan", "gather.py"), "--max-t", "mtg.tsv",
                 "mt1.tsv", "mt2.tsv", "mt3.tsv"], work)
        check(g.returncode == 0 and os.path.exists(os.path.join(work, "mt.tsv")) and
              read(os.path.join(work, "mtg.tsv")) == read(os.path.join(work, "mt.tsv")),
              f"--max-t parts gathered differ from the whole scan: {g.stderr}")
        perm_rows = table(os.path.join(work, "j1.tsv"))
        check(all(r["perm_n"] != "NA" for r in perm_rows if r["chrom"] == "3") and
              any(int(r["perm_n"]) < 300 for r in perm_rows),
              "adaptive permutations: every window permuted, some stop early")
        for r in perm_rows:
            if r["perm_n"] != "NA":
                n, h = int(r["perm_n"]), int(r["perm_hits"])
                check(h == 20 or n == 300, f"{r['first_marker']}: stopped at {n} with {h} hits")
                check(abs(float(r["perm_p"]) - (h + 1) / (n + 1)) < 1e-9, "perm_p")

        # The three input kinds of one data set give one table.
        kinds = [[small + ".ped"], [small + ".bed"],
                 [small + ".vcf", "--pheno", small + ".pheno", "--pheno-col", "status",
                  "--sex-file", small + ".pheno"]]
        if not args.vcf:
            p = scan(kinds.pop()[0], "k2.tsv", "--window", "2")
            check(p.returncode == 1 and "without htslib" in p.stderr and
                  not os.path.exists(os.path.join(work, "k2.tsv")), f"VCF without htslib: {p.stderr}")
        outs = []
        for i, argv in enumerate(kinds):
            extra = [] if i == 2 else ["--sex-file", small + ".pheno"]
            p = scan(*argv, "k%d.tsv" % i, "--window", "2", "--permutations", "50", *extra)
            check(p.returncode == 0, f"{argv[0]}: {p.stderr}")
            outs.append(read(os.path.join(work, "k%d.tsv" % i)))
        check(all(o == outs[0] for o in outs), ".ped, .bed and VCF give different tables")

        # Edge cases and bad input: arguments, exit status, and what the
        # message or the rows must show.
        blank = os.path.join(work, "blank")
        shutil.copy(prefix + ".map", blank + ".map")
        with open(blank + ".ped", "w") as f:
            for line in open(prefix + ".ped"):
                r = line.split()
                r[6 + 2 * 5] = r[7 + 2 * 5] = "0"
                f.write(" ".join(r) + "\n")
        allcases = os.path.join(work, "allcases")
        shutil.copy(prefix + ".map", allcases + ".map")
        with open(allcases + ".ped", "w") as f:
            for line in open(prefix + ".ped"):
                r = line.split()
                r[5] = "2"
                f.write(" ".join(r) + "\n")
        dup = os.path.join(work, "dup")
        shutil.copy(prefix + ".ped", dup + ".ped")
        with open(prefix + ".map") as f, open(dup + ".map", "w") as g:
            g.write(f.read().replace(" m2 ", " m1 "))
        os.mkdir(os.path.join(work, "nomap"))
        shutil.copy(prefix + ".ped", os.path.join(work, "nomap", "cc.ped"))

        def untyped_m6(rows):
            hit = [r for r in rows if r["status"] == "untyped marker m6"]
            return ([r["first_marker"] for r in hit] == ["m3", "m4", "m5"] and
                    all(r["ld_chi2"] == r["assoc_chi2"] == "NA" for r in hit) and
                    all(r["status"] == "ok" for r in rows if r not in hit))

        def no_status(rows):
            return rows and all(r["assoc_chi2"] == r["perm_n"] == r["top_haplotype"] == "NA" and
                                r["trait"] == r["n_cases"] == "NA" and
                                r["status"] == "ok" and r["ld_chi2"] != "NA" for r in rows)

        def all_cases(rows):
            return rows and all(r["assoc_chi2"] == r["perm_n"] == "NA" and r["n_controls"] == "0" and
                                int(r["n_cases"]) > 0 and r["status"] == "no typed control" and
                                r["ld_chi2"] != "NA" for r in rows)

        edge = [
            ("untyped marker", [blank + ".ped", "--permutations", "20"], 0, "", untyped_m6),
            ("no case-control status", [small + ".vcf", "--window", "2", "--region", "6:1-99999999"], 0,
             "no individual has a phenotype", no_status),
            ("only cases", [allcases + ".ped", "--permutations", "5"], 0,
             "are all cases", all_cases),
            ("duplicate marker names", [dup + ".ped", "--permutations", "0"], 0,
             "warning: " + dup + ".map: 1 marker name is borne by more than one marker", None),
            ("fewer markers than the window", [prefix + ".ped", "--window", "9"], 1,
             "no window of 9 markers", None),
            ("unreadable input", [os.path.join(work, "none.bed")], 1,
             "none.bed: cannot open: No such file", None),
            ("missing map", [os.path.join(work, "nomap", "cc.ped")], 1,
             "cc.map: cannot open: No such file", None),
            ("bad option", [prefix + ".ped", "--window", "x"], 1, "--window x", None),
        ]
        for what, argv, status, message, rows_ok in edge:
            if argv[0].endswith(".vcf") and not args.vcf:
                continue
            out = os.path.join(work, "edge.tsv")
            if os.path.exists(out):
                os.remove(out)
            p = scan(argv[0], out, *argv[1:])
            check(p.returncode == status and message in p.stderr,
                  f"{what}: status {p.returncode}, stderr {p.stderr!r}")
            if status:
                check(not os.path.exists(out), f"{what}: an output was left")
            elif rows_ok:
                check(rows_ok(table(out)), f"{what}: rows")
        p = scan(prefix + ".ped", prefix + ".map")
        check(p.returncode == 1 and "would replace the input file" in p.stderr and
              os.path.getsize(prefix + ".map") > 0, f"output over the input: {p.stderr}")
        p = scan(prefix + ".ped", os.path.join(work, "no", "dir", "x.tsv"))
        check(p.returncode == 1 and "cannot create the output file" in p.stderr,
              f"output in a missing directory: {p.returncode} {p.stderr}")

        # A full disk (here a file size limit) is a clear failure, and no
        # table is left under either name; the log stays, as far as it could
        # be written, with a warning that it could not be finished.
        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (200, 200))
        p = run([binp("hfscan"), prefix + ".ped", "full.tsv", "--permutations", "0"], work,
                preexec_fn=small_files)
        left = [f for f in os.listdir(work) if f.startswith("full.tsv")]
        check(p.returncode == 1 and "full.tsv: cannot write the output file" in p.stderr and
              "full.tsv.log: cannot write the log" in p.stderr and left == ["full.tsv.log"],
              f"full disk: {p.returncode} {p.stderr!r} {left}")

        plink_options(binp, work, prefix, small, args.vcf)
        run_logs(binp, work, prefix, blank, args.version)
        out_of_memory(binp, work)
        interrupted(binp, work, prefix, signal.SIGTERM, 143)
        interrupted(binp, work, prefix, signal.SIGINT, 130)
        interrupted(binp, work, prefix, signal.SIGKILL, None)

        p = scan("--version")
        check(p.returncode == 0 and p.stdout == f"hfscan (HAPLOSIFT) {args.version}\n", "--version")
        p = scan("--help")
        check(p.returncode == 0 and "--chunk K/N" in p.stdout, "--help")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if FAILS:
        print(f"{len(FAILS)} check(s) failed")
        return 1
    print("hfscan end to end: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
