#!/usr/bin/env python3
"""Side by side, in one run: the CPU time of two builds of hf on the same
simulated samples (CC6's pooled sample, S20, S28), each run repeated and
alternated between the builds, with the reports compared byte for byte
(the line naming the files aside). With --callgrind, also the instruction
counts of CC6, which do not depend on the machine's load.

    bench/compare_builds.py --old OLD/bin --new build/bin [--reps N]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = [("CC6", "--snps 6 -n 1000 --cases 500 --missing 0.01", 6, 200),
           ("S20", "--snps 20 -n 10000 --missing 0.01", 20, 3),
           ("S28", "--snps 28 -n 2000 --missing 0.01", 28, 3)]


def cpu(argv, cwd):
    """CPU seconds (user + system) of one run, from the child's rusage."""
    null = os.open(os.devnull, os.O_WRONLY)
    pid = os.posix_spawn(argv[0], argv, os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, null, 1), (os.POSIX_SPAWN_DUP2, null, 2)])
    os.close(null)
    _, status, ru = os.wait4(pid, 0)
    if status != 0:
        sys.exit("%s failed with status %d" % (" ".join(argv), status))
    return ru.ru_utime + ru.ru_stime


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--old", required=True, help="bin directory of the earlier build")
    ap.add_argument("--new", required=True, help="bin directory of the build measured")
    ap.add_argument("--reps", type=int, default=0, help="runs per build (default: per sample)")
    ap.add_argument("--callgrind", action="store_true", help="also count instructions of CC6")
    args = ap.parse_args()
    args.old, args.new = os.path.abspath(args.old), os.path.abspath(args.new)
    work = tempfile.mkdtemp(prefix="hs-compare-")
    os.chdir(work)
    for build in ("old", "new"):
        shutil.copy(os.path.join(getattr(args, build), "hf"), "hf." + build)
    print("| sample | old CPU s | new CPU s | new/old | reports |")
    print("|---|---|---|---|---|")
    for name, opts, seed, reps in SAMPLES:
        subprocess.run([sys.executable, os.path.join(HERE, "simulate.py")] + opts.split() +
                       ["--seed", str(seed), "--out", name], check=True, stdout=subprocess.DEVNULL)
        reps = args.reps or reps
        times = {"old": [], "new": []}
        for _ in range(reps):
            for build in ("old", "new"):
                times[build].append(cpu(["./hf." + build, name + ".hf", name + "." + build + ".hfo"], work))
        same = (open(name + ".old.hfo").read().split("\n", 1)[1] ==
                open(name + ".new.hfo").read().split("\n", 1)[1])
        med = {b: sorted(t)[len(t) // 2] for b, t in times.items()}
        print("| %s | %.4f | %.4f | %.2f | %s |" % (name, med["old"], med["new"], med["new"] / med["old"],
                                                   "identical" if same else "DIFFER"))
    if args.callgrind:
        for build in ("old", "new"):
            out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                                  "./hf." + build, "CC6.hf", "cg.hfo"], capture_output=True, text=True).stderr
            total = [l for l in out.splitlines() if "Collected" in l]
            print("CC6 instructions, %s build: %s" % (build, total[0].split(":")[-1].strip() if total else "?"))
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
