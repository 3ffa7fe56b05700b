#!/usr/bin/env python3
"""The scan workflow (workflows/scan) with the real hfscan:
  - run from a working directory outside the source tree, with 4 chunks
    and --cores 2, it gathers a table equal (cmp) to a single hfscan run,
    and draws a PNG of the size asked for; with max_t, the chunks' side
    files give the fwer_p of a single hfscan --max-t run, byte for byte;
  - one chunk killed with SIGKILL mid-run (by a wrapper around hfscan,
    which then leaves a cut-short file under the name it was given): the
    run fails without a part, table or plot under a final name; snakemake
    run again completes, and its table equals the single run;
  - the gather refuses parts out of order or cut short, and the plot
    script a file that is not an hfscan table, each naming the file;
  - the settings left out are hfscan's own defaults;
  - an outdir in the source tree or holding files of something else, an
    hfscan that is not there and a plot setting that is neither true nor
    false are refused before any job starts; plot=false draws nothing.

    workflow.py --bin BUILD/bin --src SOURCE

Exit status 77 (a skip) when snakemake, matplotlib for snakemake's python
or hfscan is missing.
"""
import argparse
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile

SKIP = 77
FAILS = []
SETTINGS = {"window": 6, "step": 1, "permutations": 200, "seed": 5}


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def interpreter(program):
    """The python that runs a script: the one its #! line names."""
    with open(program, "rb") as f:
        line = f.readline().decode(errors="replace")
    return line[2:].split()[0] if line.startswith("#!") else sys.executable


def png_size(path):
    head = read(path)[:24]
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def snakemake(snake, snakefile, work, config, timeout=900, dry=False):
    argv = [snake, "-s", snakefile, "--cores", "2"] + (["-n"] if dry else []) + ["--config"]
    argv += ["%s=%s" % kv for kv in config.items()]
    return subprocess.run(argv, cwd=work, capture_output=True, text=True, timeout=timeout)


# Stands in for hfscan: on its first call for chunk 2 it starts the real
# program, kills it with SIGKILL once its temporary output exists, leaves a
# cut-short table under the output name and is killed itself (the killed
# run asks for endless permutations, so that it is still writing however
# fast the scan is); every other call is the real hfscan.
KILLER = """#!/bin/sh
case " $* " in
  *" --chunk 2/4 "*)
    if [ ! -e "{mark}" ]; then
      : > "{mark}"
      out=""; for a in "$@"; do out="$a"; done
      "{hfscan}" "$@" --permutations 100000000 --perm-hits 100000000 &
      pid=$!
      n=0
      until ls "$out".tmp.* >/dev/null 2>&1 || [ $n -ge 2000 ]; do sleep 0.005; n=$((n + 1)); done
      kill -KILL $pid 2>/dev/null
      wait $pid
      printf 'chrom\\tfirst_marker\\t' > "$out"
      kill -KILL $$
    fi ;;
esac
exec "{hfscan}" "$@"
"""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    args = ap.parse_args()
    src = os.path.abspath(args.src)
    hfscan = os.path.join(os.path.abspath(args.bin), "hfscan")
    snake = shutil.which("snakemake")
    if not snake:
        print("SKIP: snakemake is not installed (apt-get install snakemake)")
        return SKIP
    python = interpreter(snake)
    if subprocess.run([python, "-c", "import matplotlib"], capture_output=True).returncode != 0:
        print("SKIP: %s has no matplotlib (apt-get install python3-matplotlib)" % python)
        return SKIP
    if not os.access(hfscan, os.X_OK):
        print("SKIP: %s is not built" % hfscan)
        return SKIP
    snakefile = os.path.join(src, "workflows", "scan", "Snakefile")
    example = os.path.join(src, "workflows", "scan", "example", "scan.ped")
    work = tempfile.mkdtemp(prefix="workflow-test-")
    try:
        single = os.path.join(work, "single.tsv")
        p = subprocess.run([hfscan, "--quiet", "--window", "6", "--permutations", "200", "--seed", "5",
                            example, single], capture_output=True, text=True, timeout=900)
        check(p.returncode == 0, "single hfscan run: %d %s" % (p.returncode, p.stderr))
        expected = read(single) if os.path.exists(single) else b"?"
        check(expected.count(b"\n") > 20, "the example gives many windows")

        # The whole workflow from a directory outside the source tree.
        runs = os.path.join(work, "run")
        os.mkdir(runs)
        config = dict(SETTINGS, input=example, chunks=4, outdir="out", hfscan=hfscan,
                      plot_width=1300, plot_height=520)
        p = snakemake(snake, snakefile, runs, config)
        check(p.returncode == 0, "snakemake: %d\n%s" % (p.returncode, p.stderr[-3000:]))
        out = os.path.join(runs, "out")
        table = os.path.join(out, "scan.tsv")
        check(os.path.exists(table) and read(table) == expected, "4 chunks gathered equal a single run")
        picture = os.path.join(out, "scan.png")
        check(os.path.exists(picture) and png_size(picture) == (1300, 520), "scan.png is 1300 x 520 pixels")
        check(not [f for f in os.listdir(out) if f.endswith(".tmp")], "no temporary file left")
        hlogs = [os.path.join(out, "logs", "part%d-of-4.hfscan.log" % k) for k in range(1, 5)]
        check(all(os.path.exists(h) and "Part: %d of 4" % k in open(h).read()
                  for k, h in enumerate(hlogs, 1)), "hfscan's log of each part is in logs/")

        # --max-t: the gather computes fwer_p from the chunks' side files.
        maxt = os.path.join(work, "maxt.tsv")
        p = subprocess.run([hfscan, "--quiet", "--window", "6", "--permutations", "200", "--seed", "5",
                            "--max-t", example, maxt], capture_output=True, text=True, timeout=900)
        check(p.returncode == 0, "single hfscan --max-t run: %d %s" % (p.returncode, p.stderr))
        p = snakemake(snake, snakefile, runs, dict(config, outdir="maxt", max_t="true"))
        check(p.returncode == 0, "snakemake with max_t: %d\n%s" % (p.returncode, p.stderr[-3000:]))
        table = os.path.join(runs, "maxt", "scan.tsv")
        check(os.path.exists(table) and os.path.exists(maxt) and read(table) == read(maxt),
              "4 chunks with max_t gathered equal a single hfscan --max-t run")

        # One chunk killed, then the workflow run again.
        resumed = os.path.join(work, "resumed")
        os.mkdir(resumed)
        killer = os.path.join(work, "killer.sh")
        with open(killer, "w") as f:
            f.write(KILLER.format(mark=os.path.join(work, "killed-once"), hfscan=hfscan))
        os.chmod(killer, stat.S_IRWXU)
        config.update(hfscan=killer)
        p = snakemake(snake, snakefile, resumed, config)
        out = os.path.join(resumed, "out")
        check(p.returncode != 0, "the run with a killed chunk fails")
        check(os.path.exists(os.path.join(work, "killed-once")), "chunk 2 was killed")
        check(not os.path.exists(os.path.join(out, "chunks", "part2-of-4.tsv")),
              "the killed chunk leaves no part under its final name")
        left = os.listdir(os.path.join(out, "chunks"))
        check([f for f in left if f.startswith("part2-of-4.tsv.partial.tmp.")],
              "chunk 2 was killed while hfscan wrote its temporary file: %s" % left)
        check(not os.path.exists(os.path.join(out, "scan.tsv")) and
              not os.path.exists(os.path.join(out, "scan.png")), "no table or plot after the failure")
        p = snakemake(snake, snakefile, resumed, config)
        check(p.returncode == 0, "snakemake run again: %d\n%s" % (p.returncode, p.stderr[-3000:]))
        table = os.path.join(out, "scan.tsv")
        check(os.path.exists(table) and read(table) == expected, "the resumed run's table equals a single run")
        left = sorted(os.listdir(os.path.join(out, "chunks")))
        check(left == ["part%d-of-4.tsv" % k for k in range(1, 5)],
              "the resumed run leaves the parts and nothing else: %s" % left)
        check(not [f for f in os.listdir(out) if ".tmp" in f], "no temporary table or plot left")

        # The gather and the plot script on bad parts and tables.
        parts = sorted(os.listdir(os.path.join(resumed, "out", "chunks")))
        part = lambda k: os.path.join(resumed, "out", "chunks", parts[k])
        cut = os.path.join(work, "cut.tsv")
        with open(cut, "wb") as f:
            f.write(read(part(1))[:-5])
        gather = os.path.join(src, "workflows", "scan", "gather.py")
        plot = os.path.join(src, "workflows", "scan", "plot_scan.py")
        bad = [
            ([python, gather, os.path.join(work, "g.tsv"), part(1), part(0)], part(1) + ", line 1: not the first part"),
            ([python, gather, os.path.join(work, "g.tsv"), part(0), part(2), cut], cut + ", line "),
            ([python, gather, os.path.join(work, "g.tsv"), part(0), part(2), part(0)], "a header line"),
            ([python, plot, example, os.path.join(work, "p.png")], example + ", line 1: no column"),
            ([python, plot, part(1), os.path.join(work, "p.png")], part(1) + ", line 1: no column"),
        ]
        for argv, message in bad:
            p = subprocess.run(argv, capture_output=True, text=True, timeout=300)
            check(p.returncode == 1 and message in p.stderr, "%s: %d %s" % (" ".join(argv[1:3]), p.returncode, p.stderr))
        check(not os.path.exists(os.path.join(work, "g.tsv")) and not os.path.exists(os.path.join(work, "p.png")),
              "a refused gather or plot writes nothing")
        check(not [f for f in os.listdir(work) if f.endswith(".tmp")], "a refused gather or plot leaves no temporary file")

        # The defaults: a part of the example scanned with only the input,
        # the output and the program given equals hfscan with no options.
        few = ["--permutations", "20", "--index", "1-40"]
        p = subprocess.run([hfscan, "--quiet"] + few + [example, single], capture_output=True, text=True, timeout=900)
        check(p.returncode == 0, "hfscan with its defaults: %d %s" % (p.returncode, p.stderr))
        p = snakemake(snake, snakefile, runs, dict(input=example, outdir="defaults", hfscan=hfscan,
                                                    chunks=2, permutations=20, extra="--index 1-40"))
        table = os.path.join(runs, "defaults", "scan.tsv")
        check(p.returncode == 0 and os.path.exists(table) and read(table) == read(single),
              "the workflow's defaults are hfscan's: %d %s" % (p.returncode, p.stderr[-3000:]))

        # Refused before any job starts (a dry run, so that nothing could be
        # written into the source tree); the foreign file stays.
        foreign = os.path.join(work, "foreign")
        os.mkdir(foreign)
        with open(os.path.join(foreign, "data.ped"), "w") as f:
            f.write("mine\n")
        refused = [
            (dict(outdir=os.path.join(src, "scan")), "lies in the source tree"),
            (dict(outdir=foreign), "holds files this workflow did not write (%s/data.ped)" % foreign),
            (dict(outdir="out", hfscan="no-such-hfscan"), "no program no-such-hfscan on PATH"),
            (dict(outdir="out", plot="maybe"), "config plot: 'maybe' is neither true nor false"),
        ]
        for settings, message in refused:
            p = snakemake(snake, snakefile, runs, dict(dict(input=example, hfscan=hfscan), **settings), dry=True)
            said = p.stdout + p.stderr  # a dry run logs on standard output
            check(p.returncode != 0 and message in said, "refused %s: %d %s" % (settings, p.returncode, said[-2000:]))
        check(os.listdir(foreign) == ["data.ped"], "the refused outdir is left as it was")
        # A scan without a trait leaves the picture out.
        p = snakemake(snake, snakefile, runs, dict(input=example, hfscan=hfscan, outdir="noplot", plot="false"), dry=True)
        jobs = p.stdout + p.stderr
        check(p.returncode == 0 and "gather" in jobs and "rule plot" not in jobs and "scan.png" not in jobs,
              "plot=false: no plot job: %s" % jobs[-2000:])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if FAILS:
        print("%d check(s) failed" % len(FAILS))
        return 1
    print("workflow: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
