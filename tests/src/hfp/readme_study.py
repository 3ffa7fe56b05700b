#!/usr/bin/env python3
"""The study walk-through of README.md against the programs: runs its
commands (hfimport, hf, hfp with seed 7) and checks that every figure the
README reads from study.txt is both in the README and in the report.

    readme_study.py --bin BUILD/bin --src SOURCE
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

# What the README quotes, and the text of study.txt that shows it.
QUOTES = [
    ("(12.58, 26 df)", "Observed Chi-square=12.58, df=26"),
    ("(0.012 with\nseed 7)", "p value=0.012000,"),
    ("(0.21 against 0.45; z = -2.77, p = 0.0056, empirical p =\n0.015)",
     "0.206896 0.448276   -2.77  0.00563  0.01500   1  1  2  2  1 7\n"),
    ("(0.47 against 0.22;\nempirical p = 0.004)",
     "0.465515 0.216711    2.83  0.00472  0.00400   2  2  2  1  1 29\n"),
    ("    0.000000 0.000038   -0.05  0.96278  0.00000   2  1  2  1  1 21\n",
     "0.000000 0.000038   -0.05  0.96278  0.00000   2  1  2  1  1 21\n"),
    ("Haplotype 25 (0.000002 in cases)", "0.000002 0.000000 "),
    ("29\ncontrols", "26,3 controls with Full/Partial genotype"),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    args = ap.parse_args()
    readme = open(os.path.join(args.src, "README.md")).read()
    bin_ = os.path.abspath(args.bin)
    work = tempfile.mkdtemp(prefix="readme-study-")
    try:
        for argv in (["hfimport", "--file", os.path.join(os.path.abspath(args.src), "examples", "study"),
                      "--out", "study", "--hf"],
                     ["hf", "study.hf", "study.hfo"],
                     ["hfp", "study.par", "study.dat", "study.txt", "7"]):
            subprocess.run([os.path.join(bin_, argv[0])] + argv[1:], cwd=work, check=True,
                           capture_output=True, timeout=1400)
        report = open(os.path.join(work, "study.txt")).read()
    finally:
        shutil.rmtree(work)
    fails = 0
    for quoted, shown in QUOTES:
        if quoted not in readme:
            print(f"README.md no longer says {quoted!r}")
            fails += 1
        if shown not in report:
            print(f"study.txt does not show {shown!r}")
            fails += 1
    print(f"{fails} failure(s)")
    return 1 if fails else 0


if __name__ == "__main__":
    sys.exit(main())
