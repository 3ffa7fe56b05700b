#!/usr/bin/env python3
"""hfp's ways of running the estimator give the same report, and leave
nothing behind:
  - reports byte-identical (date lines masked) for the default, --jobs 1,
    --jobs 2, --jobs 4, --in-process and --in-process --jobs 2, on the
    examples and on 50 random inputs of both modes (missing data,
    multi-allelic loci), with nothing left in the working directory;
  - SIGINT in the middle of a run, and an estimator failing in one worker,
    leave no scratch directory or temporary file;
  - the estimator's "Warning: " lines are silenced and its other standard
    error lines kept; the runs ended by the EM's step cap are counted
    exactly in one line at the end, the same in every mode, also runs
    whose last gain (0.01 to 0.02) shows in the report as 0.01.

    modes.py --bin BUILD/bin --src SOURCE
"""
import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

FAILS = []
MODES = [[], ["--jobs", "1"], ["--jobs", "2"], ["-j", "4"], ["--in-process"], ["--in-process", "--jobs", "2"]]
DATE = re.compile(r"^(?:[A-Z][a-z]{2} ){2}[ \d]\d \d\d:\d\d:\d\d \d{4}$", re.M)


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


def hfp(binary, options, par, dat, work, seed=7):
    proc = subprocess.run([binary] + options + [par, dat, "report.txt", str(seed)], cwd=work,
                          capture_output=True, text=True)
    path = os.path.join(work, "report.txt")
    report = DATE.sub("<date>", open(path).read()) if os.path.exists(path) else None
    left = sorted(f for f in os.listdir(work) if f != "report.txt")
    if os.path.exists(path):
        os.remove(path)
    return proc, report, left


def randominput(rng, work, k):
    """A TRELIX parameter and data file: 2-4 loci of 2-4 alleles,
    case-control or two blocks, missing alleles and whole genotypes."""
    nloci = rng.randint(2, 4)
    cc = k % 2
    alleles = [rng.choice([2, 2, 3, 4]) for _ in range(nloci)]
    sel = [1] * nloci
    if nloci > 2:
        sel[rng.randrange(nloci)] = rng.choice([0, 1])
    selp = [rng.choice([0, 1]) for _ in range(nloci)]
    npermute = rng.randint(2, 6)
    par = os.path.join(work, "r%d.par" % k)
    with open(par, "w") as f:
        f.write("%d %d 1 %d\n%s\n0 0\n%s\n%s\n" % (nloci, cc, npermute, " ".join(map(str, alleles)),
                                                   " ".join(map(str, sel)), " ".join(map(str, selp))))
    dat = os.path.join(work, "r%d.dat" % k)
    n = rng.randint(16, 40)
    with open(dat, "w") as f:
        for i in range(n):
            label = 1 if i % 2 == 0 else rng.choice([0, 1, 2])
            gen = []
            for a in alleles:
                x, y = rng.randint(1, a), rng.randint(1, a)
                u = rng.random()
                if u < 0.08:
                    x = y = 0
                elif u < 0.12:
                    y = 0
                gen += [x, y]
            f.write("ID%d %d %s\n" % (i + 1, label, " ".join(map(str, gen))))
    return par, dat


def identical(args, work):
    binary = os.path.join(args.bin, "hfp")
    ex = os.path.join(args.src, "examples")
    inputs = [(os.path.join(ex, "casecontrol.par"), os.path.join(ex, "casecontrol.dat")),
              (os.path.join(ex, "blocks.par"), os.path.join(ex, "casecontrol.dat"))]
    rng = random.Random(13)
    inputs += [randominput(rng, work, k) for k in range(50)]
    run = os.path.join(work, "run")
    os.mkdir(run)
    for par, dat in inputs:
        first = None
        for mode in MODES:
            proc, report, left = hfp(binary, mode, par, dat, run)
            got = (proc.returncode, report)
            name = "%s %s" % (os.path.basename(par), " ".join(mode) or "default")
            check(proc.returncode == 0, name + ": status %d %s" % (proc.returncode, proc.stderr[-200:]))
            check(left == [], name + ": left behind " + " ".join(left))
            if first is None:
                first = got
            else:
                check(got == first, name + ": report differs from the default mode's")


def waitfor(work, want, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        names = os.listdir(work)
        if want(names):
            return True
        time.sleep(0.02)
    return False


def bigcasecontrol(work):
    """Enough passes for an interrupt to land in the middle of the run."""
    rng = random.Random(5)
    par = os.path.join(work, "big.par")
    open(par, "w").write("4 1 1 5000\n2 2 2 2\n0 0\n1 1 1 1\n1 1 1 1\n")
    dat = os.path.join(work, "big.dat")
    with open(dat, "w") as f:
        for i in range(300):
            g = " ".join(str(rng.randint(0, 2) and rng.randint(1, 2)) for _ in range(8))
            f.write("I%d %d %s\n" % (i, i % 2, g))
    return par, dat


def interrupt(args, work):
    par, dat = bigcasecontrol(work)
    for mode, sign in ((["--jobs", "2"], lambda n: any(x.startswith("hfp-job") for x in n)),
                       ([], lambda n: "temp.hf" in n),
                       (["--in-process", "--jobs", "2"], None)):
        run = tempfile.mkdtemp(dir=work)
        proc = subprocess.Popen([os.path.join(args.bin, "hfp")] + mode + [par, dat, "report.txt"], cwd=run,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        name = " ".join(mode) or "default"
        if sign is not None:
            check(waitfor(run, sign), name + ": the run never started")
        time.sleep(0.3)
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=60)
        check(proc.returncode == -signal.SIGINT, "%s: SIGINT ends hfp by SIGINT, not %d" % (name, proc.returncode))
        check(os.listdir(run) == [], name + ": left after SIGINT: " + " ".join(os.listdir(run)))


def alone(args, work, script):
    """A directory with hfp and a shell script as its hf.sun."""
    d = tempfile.mkdtemp(dir=work)
    shutil.copy(os.path.join(args.bin, "hfp"), d)
    path = os.path.join(d, "hf.sun")
    open(path, "w").write(script)
    os.chmod(path, 0o755)
    return d


def failing(args, work):
    """The estimator fails in its 8th run, in one of two workers."""
    counter = os.path.join(work, "count")
    open(counter, "w").write("0\n")
    d = alone(args, work, "#!/bin/sh\nn=$(cat %s); echo $((n+1)) > %s\n"
                          "[ $n -ge 7 ] && { echo 'estimator broke' >&2; exit 3; }\nexec %s \"$@\"\n"
              % (counter, counter, os.path.join(args.bin, "hf")))
    ex = os.path.join(args.src, "examples")
    run = tempfile.mkdtemp(dir=work)
    proc = subprocess.run([os.path.join(d, "hfp"), "--jobs", "2", os.path.join(ex, "casecontrol.par"),
                           os.path.join(ex, "casecontrol.dat"), "report.txt"], cwd=run, capture_output=True,
                          text=True, env=dict(os.environ, PATH="/usr/bin:/bin"))
    check(proc.returncode == 1 and "failed with status 3" in proc.stderr, "failing worker: " + proc.stderr)
    check(os.listdir(run) == [], "failing worker: left behind " + " ".join(os.listdir(run)))


def warnings(args, work):
    # The estimator's own warnings go; its other lines stay.
    d = alone(args, work, "#!/bin/sh\necho 'Warning: the EM was capped' >&2\necho 'note: kept' >&2\n"
                          "exec %s \"$@\"\n" % os.path.join(args.bin, "hf"))
    ex = os.path.join(args.src, "examples")
    run = tempfile.mkdtemp(dir=work)
    proc, _, _ = hfp(os.path.join(d, "hfp"), ["-j", "2"], os.path.join(ex, "casecontrol.par"),
                     os.path.join(ex, "casecontrol.dat"), run)
    warn = [l for l in proc.stderr.splitlines() if "Warning" in l]
    check(proc.returncode == 0 and len(warn) == 1 and warn[0].startswith("Warning: in 63 of the 63 estimator runs"),
          "estimator warnings silenced, each run that wrote one counted: " + proc.stderr)
    check(proc.stderr.count("note: kept\n") == 63, "other estimator lines kept, once per run")
    # Slow convergence: runs end at the cap, one line counts them. In
    # lastgain both runs end there with a last gain of 0.015, which the
    # report prints as a step from -129.12 to -129.11.
    inp = os.path.join(args.src, "tests", "inputs", "permute")
    for name, count in (("slowem", "10 of the 12"), ("lastgain", "2 of the 2")):
        for mode in MODES:
            proc, _, _ = hfp(os.path.join(args.bin, "hfp"), mode, os.path.join(inp, name + ".par"),
                             os.path.join(inp, name + ".dat"), run)
            warn = [l for l in proc.stderr.splitlines() if l.startswith("Warning: ")]
            check(proc.returncode == 0 and len(warn) == 1 and warn[0].startswith("Warning: in %s estimator runs" % count),
                  "%s %s: one cap warning for %s runs: %s" % (name, mode, count, proc.stderr))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    args = ap.parse_args()
    args.bin = os.path.abspath(args.bin)
    args.src = os.path.abspath(args.src)
    for test in (identical, interrupt, failing, warnings):
        with tempfile.TemporaryDirectory() as work:
            test(args, work)
    print("%d failure(s)" % len(FAILS))
    return 1 if FAILS else 0


if __name__ == "__main__":
    sys.exit(main())
