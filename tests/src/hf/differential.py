#!/usr/bin/env python3
"""Differential test of the estimator against the independent reference in
tests/oracle: random small samples (missing alleles, several alleles,
fractional and zero instances; males and females for hfx) must give
byte-identical reports.

    differential.py --bin BUILD/bin [--x] [--first N] [--count N]
"""
import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ORACLE = os.path.join(HERE, "..", "..", "oracle")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--x", action="store_true")
    ap.add_argument("--first", type=int, default=1)
    ap.add_argument("--count", type=int, default=40)
    args = ap.parse_args()
    program = os.path.join(os.path.abspath(args.bin), "hfx" if args.x else "hf")
    xflag = ["--x"] if args.x else []
    failed = 0
    with tempfile.TemporaryDirectory() as work:
        for seed in range(args.first, args.first + args.count):
            sample = subprocess.run([sys.executable, os.path.join(ORACLE, "gen_random.py"), str(seed)] + xflag,
                                    capture_output=True, check=True).stdout
            with open(os.path.join(work, "in.txt"), "wb") as f:
                f.write(sample)
            cutoff = ["0.01"] if seed % 3 == 0 else []
            got = subprocess.run([program, "in.txt", "out.hfo"] + cutoff, cwd=work, capture_output=True)
            report = open(os.path.join(work, "out.hfo"), "rb").read()
            want = subprocess.run([sys.executable, os.path.join(ORACLE, "hf_oracle.py")] + xflag +
                                  (["--pl"] + cutoff if cutoff else []) + ["--out", "out.hfo", "in.txt"],
                                  cwd=work, capture_output=True).stdout
            if report != want:
                failed += 1
                print(f"seed {seed}: report differs from the reference (status {got.returncode})")
                print(sample.decode())
    print(f"{args.count - failed}/{args.count} samples agree")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
