#!/usr/bin/env python3
"""hfscan's association tests against independent figures:
  - --score-variance louis against haplo.stats 1.9.3's haplo.score (global
    statistic within 0.2%, the same df and individuals, the top haplotype's
    z), on every window of tests/inputs/assoc/haplo_score.tsv: binary and
    quantitative traits, with and without covariates, with and without
    missing genotypes (figures made offline by make_reference.R);
  - the default conditional variance against the score statistic of a
    regression on the expected dosages computed in R (conditional.tsv);
  - --test lrt against the table of the likelihood-ratio test as hfscan
    wrote it before the score test (tests/golden/scan_lrt_previous.tsv);
  - with covariates, strata and a quantitative trait: the same bytes for
    --jobs 1 and 2 and for three chunks concatenated.

    agreement.py --bin BUILD/bin --src SOURCE
"""
import argparse
import csv
import os
import subprocess
import sys
import tempfile

FAILS = []


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


def rows(path):
    with open(path) as f:
        return list(csv.DictReader(f, delimiter="\t"))


ANALYSES = {"cc": ("cc", None), "cc_cov": ("cc", "age,site"), "qt": ("qt", None),
            "qt_cov": ("qt", "age,pc1,site")}
# Both EMs run to convergence before the figures are compared.
CONVERGED = ["--em-gain", "1e-12", "--em-max-iter", "100000", "--permutations", "0", "--quiet"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    args = ap.parse_args()
    hfscan = os.path.join(args.bin, "hfscan")
    data = os.path.join(args.src, "tests", "inputs", "assoc")
    with tempfile.TemporaryDirectory() as work:
        tables = {}

        def scan(dataset, analysis, width, variance):
            key = (dataset, analysis, width, variance)
            if key not in tables:
                col, cov = ANALYSES[analysis]
                stem = os.path.join(data, dataset)
                out = os.path.join(work, "%s_%s_%s_%s.tsv" % key)
                argv = [hfscan, stem + ".ped", out, "--pheno", stem + ".pheno", "--pheno-col", col,
                        "--window", str(width), "--score-variance", variance] + CONVERGED
                if cov:
                    argv += ["--covar", stem + ".covar", "--covar-name", cov]
                p = subprocess.run(argv, capture_output=True, text=True)
                check(p.returncode == 0, f"{key}: {p.stderr}")
                tables[key] = {r["first_marker"]: r for r in rows(out)} if p.returncode == 0 else {}
            return tables[key]

        haps = {}
        for h in rows(os.path.join(data, "haplo_score_haps.tsv")):
            haps.setdefault((h["dataset"], h["analysis"], h["first_marker"], h["last_marker"]),
                            {})[h["haplotype"]] = float(h["score_z"])
        ref = rows(os.path.join(data, "haplo_score.tsv"))
        worst = 0.0
        for r in ref:
            name = "%s %s %s-%s" % (r["dataset"], r["analysis"], r["first_marker"], r["last_marker"])
            got = scan(r["dataset"], r["analysis"], int(r["n_markers"]), "louis").get(r["first_marker"])
            if got is None:
                check(False, f"{name}: no row")
                continue
            rel = abs(float(got["assoc_chi2"]) / float(r["global_chi2"]) - 1)
            worst = max(worst, rel)
            check(rel <= 0.002 and got["assoc_df"] == r["global_df"] and got["n_assoc"] == r["n_used"],
                  f"{name}: {got['assoc_chi2']} df {got['assoc_df']} n {got['n_assoc']}, haplo.score "
                  f"{r['global_chi2']} df {r['global_df']} n {r['n_used']}")
            z = haps.get((r["dataset"], r["analysis"], r["first_marker"], r["last_marker"]), {})
            top = z.get(got["top_haplotype"])
            check(top is not None and abs(float(got["top_z"]) - top) <= 0.002 * abs(top) + 1e-6 and
                  max(abs(v) for v in z.values()) <= abs(top) * 1.002,
                  f"{name}: top {got['top_haplotype']} z {got['top_z']}, haplo.score {z}")
        check(len(ref) >= 20, f"only {len(ref)} reference windows")
        print(f"haplo.score: {len(ref)} windows, largest relative difference {worst:.2e}")

        # The reference regressions take the residual variance over n; hfscan
        # over n - p, as haplo.score does.
        for r in rows(os.path.join(data, "conditional.tsv")):
            width = int(r["last_marker"][3:]) - int(r["first_marker"][3:]) + 1
            got = scan(r["dataset"], r["analysis"], width, "conditional").get(r["first_marker"])
            n = int(r["n_used"])
            p = {"cc": 0, "cc_cov": 0, "qt": 1, "qt_cov": 5}[r["analysis"]]
            want = float(r["nR2"]) * (n - p) / n if p else float(r["nR2"])
            check(got is not None and abs(float(got["assoc_chi2"]) / want - 1) <= 1e-6 and
                  got["assoc_df"] == r["rank"],
                  f"conditional {r['analysis']} {r['first_marker']}: {got and got['assoc_chi2']}, R {want}")

        # The likelihood-ratio test as it was.
        example = os.path.join(args.src, "workflows", "scan", "example", "scan.ped")
        out = os.path.join(work, "lrt.tsv")
        subprocess.run([hfscan, example, out, "--window", "4", "--permutations", "200", "--seed", "5",
                        "--quiet", "--test", "lrt"], check=True, capture_output=True)
        before = rows(os.path.join(args.src, "tests", "golden", "scan_lrt_previous.tsv"))
        now = rows(out)
        same = [("cc_chi2", "assoc_chi2"), ("perm_n", "perm_n"), ("perm_hits", "perm_hits"),
                ("perm_p", "perm_p"), ("top_haplotype", "top_haplotype"),
                ("top_case_freq", "top_case_freq"), ("top_control_freq", "top_control_freq"),
                ("ld_chi2", "ld_chi2"), ("n_cases", "n_cases"), ("status", "status")]
        check(len(before) == len(now) and
              all(a[o] == b[n] for a, b in zip(before, now) for o, n in same),
              "--test lrt differs from the likelihood-ratio test before the score test")

        # Determinism with covariates, strata and a quantitative trait.
        stem = os.path.join(data, "missing")
        within = os.path.join(work, "sites.within")
        with open(stem + ".covar") as f, open(within, "w") as w:
            for line in list(f)[1:]:
                fid, iid, _, _, site = line.split()
                w.write(f"{fid} {iid} {site}\n")
        base = [stem + ".ped", "--pheno", stem + ".pheno", "--pheno-col", "qt", "--covar",
                stem + ".covar", "--covar-name", "age,site", "--within", within, "--window", "3",
                "--permutations", "300", "--seed", "9", "--quiet"]
        outs = []
        for extra in (["--jobs", "1"], ["--jobs", "2"]):
            outs.append(os.path.join(work, "d%d.tsv" % len(outs)))
            subprocess.run([hfscan, base[0], outs[-1], *base[1:], *extra], check=True, capture_output=True)
        parts = b""
        for k in (1, 2, 3):
            part = os.path.join(work, "part%d.tsv" % k)
            subprocess.run([hfscan, base[0], part, *base[1:], "--jobs", "2", "--chunk", "%d/3" % k],
                           check=True, capture_output=True)
            parts += open(part, "rb").read()
        one = open(outs[0], "rb").read()
        check(one == open(outs[1], "rb").read(), "--jobs 1 and 2 differ with covariates and strata")
        check(one == parts, "the chunks differ from the whole scan with covariates and strata")
        check(all(r["status"] == "ok" and r["perm_n"] != "NA" for r in rows(outs[0])),
              "the stratified quantitative scan has windows without a permutation p value")
    if FAILS:
        print(f"{len(FAILS)} failure(s)")
        return 1
    print("all agreement checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
