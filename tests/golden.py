#!/usr/bin/env python3
"""Golden end-to-end tests: run the real programs on the rows of a table and
compare everything they write with the expected files.

A table row is
    <status> <case> <program> <arguments ...>
where <status> is the expected exit status, <case> names the expected files,
and the arguments may use $EX for the examples/ directory and $IN for the
directory of test inputs (tests/inputs). Each row runs in a fresh empty
working directory. Expected files, in tests/golden/:
    <case>.stdout, <case>.stderr   standard output and standard error
                                   (no file: nothing may be written)
    <case>.<file>                  every file the run left in its directory
The calendar line of a banner is replaced by "<date>" before comparing, and
in a run's log (*.log) the lines of time and place and the version.
With --update the expected files are rewritten and the differences shown.
"""
import argparse
import difflib
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

DATE = re.compile(rb"^(?:[A-Z][a-z]{2} ){2}[ \d]\d \d\d:\d\d:\d\d \d{4}$", re.M)
# The lines of a run's log (NAME.log) that differ from run to run, and the
# version, which would otherwise change every expected log with a release.
LOG_VARIES = re.compile(rb"^(Working directory|Start time|End time|Elapsed): .*$", re.M)
LOG_VERSION = re.compile(rb"^(\S+) \(HAPLOSIFT\) \S+$", re.M)


def mask(data):
    return DATE.sub(b"<date>", data)


def mask_log(data):
    return LOG_VERSION.sub(rb"\1 (HAPLOSIFT) <version>", LOG_VARIES.sub(rb"\1: <varies>", data))


def compare(name, got, golden, update, may_be_absent=False):
    """may_be_absent: a missing expected file stands for empty output."""
    if may_be_absent and not got and not os.path.exists(golden):
        return True
    if update:
        old = open(golden, "rb").read() if os.path.exists(golden) else None
        if old != got:
            old = old or b""
            sys.stdout.writelines(difflib.unified_diff(
                old.decode(errors="replace").splitlines(True),
                got.decode(errors="replace").splitlines(True), golden, name))
            with open(golden, "wb") as f:
                f.write(got)
        return True
    if not os.path.exists(golden):
        print(f"{name}: no expected file {golden}")
        return False
    want = open(golden, "rb").read()
    if want == got:
        return True
    print(f"{name}: differs from {golden}")
    sys.stdout.writelines(difflib.unified_diff(
        want.decode(errors="replace").splitlines(True),
        got.decode(errors="replace").splitlines(True), golden, name))
    return False


def run_row(row, args):
    status, case, program, *rest = shlex.split(row)
    subst = {"$EX": os.path.join(args.src, "examples"),
             "$IN": os.path.join(args.src, "tests", "inputs")}
    argv = [os.path.join(args.bin, program)]
    for a in rest:
        for k, v in subst.items():
            a = a.replace(k, v)
        argv.append(a)
    work = tempfile.mkdtemp(prefix="golden-")
    try:
        proc = subprocess.run(argv, cwd=work, capture_output=True, timeout=600)
        ok = True
        if proc.returncode != int(status):
            print(f"{case}: exit status {proc.returncode}, expected {status}")
            ok = False
        gold = os.path.join(args.src, "tests", "golden", case)
        # Inputs named by absolute path would make the report depend on the
        # checkout; show them relative to the source tree instead.
        def clean(data):
            data = mask(data).replace(args.bin.encode() + b"/", b"")
            return data.replace(args.src.encode() + b"/", b"")
        ok &= compare(case + ".stdout", clean(proc.stdout), gold + ".stdout", args.update, True)
        ok &= compare(case + ".stderr", clean(proc.stderr), gold + ".stderr", args.update, True)
        written = sorted(os.listdir(work))
        for fname in written:
            data = clean(open(os.path.join(work, fname), "rb").read())
            if fname.endswith(".log"):
                data = mask_log(data)
            ok &= compare(case + "." + fname, data, gold + "." + fname, args.update)
        # An expected file that the run did not write is a lost output.
        golden_dir = os.path.dirname(gold)
        for fname in sorted(os.listdir(golden_dir)):
            rest = fname[len(case) + 1:]
            if not fname.startswith(case + ".") or rest in ("stdout", "stderr") or rest in written:
                continue
            if args.update:
                os.remove(os.path.join(golden_dir, fname))
                print(f"{case}: removed {fname}, which the run no longer writes")
            else:
                print(f"{case}: did not write {rest} (expected as {fname})")
                ok = False
        return ok
    finally:
        shutil.rmtree(work)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True, help="directory of the built programs")
    ap.add_argument("--src", required=True, help="source tree")
    ap.add_argument("--update", action="store_true")
    ap.add_argument("table")
    args = ap.parse_args()
    args.src = os.path.abspath(args.src)
    args.bin = os.path.abspath(args.bin)
    failed = 0
    for line in open(args.table):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        if not run_row(line, args):
            failed += 1
    if failed:
        print(f"{failed} row(s) failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
