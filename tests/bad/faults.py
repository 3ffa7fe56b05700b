#!/usr/bin/env python3
"""Bad input and faults that the golden table cannot express, each through
the real programs:
  - lines of 100,000 characters in every kind of input file;
  - hfp's reading of the estimator's reports: a report cut after every one
    of its lines, a damaged count of nonzero haplotypes, an estimator that
    writes no report, is killed (SIGKILL) before or after writing part of
    its report, and a temp.hf that cannot be written;
  - memory exhaustion under a lowered address-space limit (skipped for
    sanitizer builds, which cannot run under one);
  - runs refused before their report (an input that cannot be opened, a
    threshold or seed that is not a number) leave an existing report file
    as it was; a number followed by text is read as before, with a warning.
Every run must end with status 0 and a complete report, or with its
failure status, a message, and no file that looks like a complete report;
never by a signal.

    faults.py --bin BUILD/bin --src SOURCE
"""
import argparse
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile

FAILS = []
TEMPS = {"temp.hf", "temp.hfo", "temp1.hfo", "temp2.hfo", "hf.tmp"}


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print("FAIL:", what)


def run(argv, cwd, env=None, limit=None):
    def lower():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    proc = subprocess.run(argv, cwd=cwd, capture_output=True, env=env, timeout=600,
                          preexec_fn=lower if limit else None)
    check(proc.returncode >= 0, "%s ended by signal %d" % (" ".join(argv), -proc.returncode))
    return proc.returncode, proc.stdout.decode(errors="replace"), proc.stderr.decode(errors="replace")


DATE = re.compile(r"^(?:[A-Z][a-z]{2} ){2}[ \d]\d \d\d:\d\d:\d\d \d{4}$", re.M)


def undated(report):
    return DATE.sub("<date>", report)


def body(report):
    """A report without its first line, which names the files."""
    return report.split("\n", 1)[1] if "\n" in report else ""


def write(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)
    return path


# ---------------------------------------------------------------- long lines

def longlines(args, work):
    hf = os.path.join(args.bin, "hf")
    pad = " " * 50000 + "x" * 50000
    plain = write(os.path.join(work, "plain.txt"), "2 2\n1 1 1/2 1/1\n2 1 1/1 2/2\n3 2 1/2 1/2\n")
    long_ = write(os.path.join(work, "long.txt"), "2 2\n1 1 1/2 1/1" + pad + "\n2 1 1/1 2/2\n3 2 1/2 1/2\n")
    check(len(open(long_).read().split("\n")[1]) >= 100000, "record line of 100,000 characters")
    st, _, err = run([hf, plain, "a.hfo"], work)
    st2, _, err2 = run([hf, long_, "b.hfo"], work)
    a, b = (open(os.path.join(work, n)).read() for n in ("a.hfo", "b.hfo"))
    check(st == 0 and st2 == 0 and err2 == "" and body(a) == body(b),
          "hf: text after the last locus of a 100,000-character line is ignored")

    header = write(os.path.join(work, "header.txt"), "2 " * 50000 + "\n1 1 1/2 1/1\n")
    st, _, err = run([hf, header, "c.hfo"], work)
    check(st == 1 and err == "Line 1 of %s: more than 60 loci; at most 60 are allowed\n" % header,
          "hf: a header of 100,000 characters: " + err)
    check(open(os.path.join(work, "c.hfo")).read().count("\n") <= 2, "hf: no report after a refused header")

    digits = write(os.path.join(work, "digits.txt"), "2 2\n1 1 1/2 1/1\n2 1 " + "9" * 100000 + "/1 2/2\n")
    st, _, err = run([hf, digits, "d.hfo"], work)
    d = open(os.path.join(work, "d.hfo")).read()
    check(st == 0 and "locus   1 # individuals = 1\n" in d,
          "hf: an allele of 100,000 digits marks its locus missing: " + err)

    phf = os.path.join(args.bin, "phf")
    par = write(os.path.join(work, "p.par"), "2 0 0 0\n3 2" + " 7" * 50000 + "\n0 0\n1 1\n1 0\n")
    dat = write(os.path.join(work, "p.dat"), "a1 0 1 2 1 1" + " 5" * 50000 + "\na2 0 2 1 1 1\na3 0 3 3 1 2\n")
    st, _, err = run([phf, par, dat, "out.hf"], work)
    check(st == 0 and open(os.path.join(work, "out.hf")).read() ==
          " 3  2 \n    1     2  1  2  1  1\n    2     1  3  3  1  2\n",
          "phf: values after the last locus of 100,000-character lines are ignored: " + err)
    idfile = write(os.path.join(work, "id.dat"), "x" * 100000 + " 0 1 2 1 1\n")
    st, _, err = run([phf, par, idfile, "out2.hf"], work)
    check(st == 0 and open(os.path.join(work, "out2.hf")).read() == " 3  2 \n    1     1  1  2  1  1\n",
          "phf: an identifier of 100,000 characters: " + err)


# ------------------------------------------------- refusals before the report

def untouched(args, work):
    ex = os.path.join(args.src, "examples")
    reg, par, dat = (os.path.join(ex, f) for f in ("twoloci.txt", "casecontrol.par", "casecontrol.dat"))
    # One case per way of refusing: the report file "keep" holds an earlier
    # report, which must stay as it was, and nothing else may be created.
    refused = [
        (["hf", "typo.hf", "keep"], "Sorry, is there file called typo.hf ?\n"),
        (["hfx", "typo.hf", "keep"], "Sorry, is there file called typo.hf ?\n"),
        (["hf.sun", "typo.hf", "keep"], "Sorry, is there file called typo.hf ?\n"),
        (["hf", ex, "keep"], ex + " is a directory, not a file\n"),
        (["hf", reg, "keep", "abc"], 'The threshold "abc" is not a number; '),
        (["hfp", par, dat, "keep", "seven"], 'hfp: the seed "seven" is not a number; '),
    ]
    old = "an earlier report\n" * 2000
    for argv, message in refused:
        d = tempfile.mkdtemp(dir=work)
        keep = write(os.path.join(d, "keep"), old)
        os.utime(keep, (1e9, 1e9))
        st, _, err = run([os.path.join(args.bin, argv[0])] + argv[1:], d)
        kept = open(keep).read() == old and os.stat(keep).st_mtime == 1e9
        check(st == 1 and err.startswith(message) and kept and os.listdir(d) == ["keep"],
              "%s: status %d, %r, report kept %s, files %s" % (" ".join(argv), st, err, kept, os.listdir(d)))
    # The input named as the report: the report goes to the screen and the
    # input is read whole and kept.
    for prog in ("hf", "hfx"):
        d = tempfile.mkdtemp(dir=work)
        src = os.path.join(ex, "twoloci.txt" if prog == "hf" else "xchrom.txt")
        data = open(src).read()
        same = write(os.path.join(d, "in.txt"), data)
        st, out, err = run([os.path.join(args.bin, prog), same, same], d)
        check(st == 0 and open(same).read() == data and "is the input file" in err and
              "Haplotype" in out, "%s in.txt in.txt: status %d, %r, input kept %s" %
              (prog, st, err, open(same).read() == data))
    # A number followed by text: the number is read, with one warning.
    trailing = [
        (["hf", reg, "out", "0.5x"], ["hf", reg, "out", "0.5"],
         'Warning: the threshold "0.5x" has text after its number; it is read as 0.5\n'),
        (["hfp", par, dat, "out", "7x"], ["hfp", par, dat, "out", "7"],
         'Warning: the seed "7x" has text after its number; it is read as 7\n'),
    ]
    for typed, plain, warning in trailing:
        reports = []
        for argv in (typed, plain):
            d = tempfile.mkdtemp(dir=work)
            st, _, err = run([os.path.join(args.bin, argv[0])] + argv[1:], d)
            reports.append(undated(open(os.path.join(d, "out")).read()) if st == 0 else None)
            if argv is typed:
                check(st == 0 and err == warning, "%s: status %d, %r" % (" ".join(argv), st, err))
        check(reports[0] is not None and reports[0] == reports[1],
              "%s: the report of %s" % (" ".join(typed), plain[-1]))


# ------------------------------------------------------ hfp and its estimator

def hfpcopy(args, work, standin):
    """A copy of hfp with a stand-in shell script as its estimator hf.sun."""
    alone = os.path.join(work, "alone")
    shutil.rmtree(alone, ignore_errors=True)
    os.mkdir(alone)
    shutil.copy(os.path.join(args.bin, "hfp"), alone)
    with open(os.path.join(alone, "hf.sun"), "w") as f:
        f.write("#!/bin/sh\n" + standin)
    os.chmod(os.path.join(alone, "hf.sun"), 0o755)
    return alone


def hfp(args, alone, par, dat, extra=None):
    env = dict(os.environ, PATH="/usr/bin:/bin", HS_REAL_HF=os.path.join(args.bin, "hf"))
    env.update(extra or {})
    return run([os.path.join(alone, "hfp"), par, dat, "r.txt", "5"], alone, env=env)


def left(alone):
    return sorted(set(os.listdir(alone)) - {"hfp", "hf.sun"})


# The real estimator; when its report is $HS_CUT_FILE, the line number of
# its count of nonzero haplotypes (the last line hfp reads) is added to the
# file $HS_LINES, the report is cut to $HS_CUT
# lines, or its count of nonzero haplotypes is replaced by $HS_COUNT.
CUTTING = r'''"$HS_REAL_HF" "$@" || exit
if [ "$2" = "$HS_CUT_FILE" ]; then
  if [ -n "$HS_LINES" ]; then grep -n "nonzero haplotypes =" "$2" | cut -d: -f1 >> "$HS_LINES"; fi
  if [ -n "$HS_CUT" ]; then head -n "$HS_CUT" "$2" > cut.tmp; mv cut.tmp "$2"; fi
  if [ -n "$HS_COUNT" ]; then
    sed "s/nonzero haplotypes = .*/nonzero haplotypes = $HS_COUNT/" "$2" > cut.tmp; mv cut.tmp "$2"
  fi
fi
'''


def studies(work):
    """Block and case-control studies of examples/casecontrol.dat, two
    permutations: haplotype tables are read on every pass."""
    block = write(os.path.join(work, "block.par"), "3 0 1 2\n2 3 2\n0 0\n1 1 1\n1 1 0\n")
    cc = write(os.path.join(work, "cc.par"), "3 1 1 2\n2 3 2\n0 0\n1 1 1\n1 1 1\n")
    return [("block", block, "temp.hfo"), ("case-control", cc, "temp1.hfo"), ("case-control", cc, "temp2.hfo")]


def truncated(args, work):
    dat = os.path.join(args.src, "examples", "casecontrol.dat")
    alone = hfpcopy(args, work, CUTTING)
    for kind, par, report in studies(work):
        counts = os.path.join(work, "lines")
        st, _, err = hfp(args, alone, par, dat, {"HS_CUT_FILE": report, "HS_LINES": counts})
        check(st == 0, "%s: hfp with the real estimator: %s" % (kind, err))
        full = open(os.path.join(alone, "r.txt")).read()
        os.remove(os.path.join(alone, "r.txt"))
        # Every cut up to two lines past the last line hfp reads, then a few
        # further on: the rest of the report is never read.
        last = max(int(n) for n in open(counts).read().split())
        os.remove(counts)
        outcomes = set()
        for cut in list(range(0, last + 3)) + [last + 10, last + 40]:
            st, _, err = hfp(args, alone, par, dat, {"HS_CUT_FILE": report, "HS_CUT": str(cut)})
            have = os.path.exists(os.path.join(alone, "r.txt"))
            rep = open(os.path.join(alone, "r.txt")).read() if have else ""
            if st == 0:
                outcomes.add("complete")
                check(undated(rep) == undated(full), "%s, %s cut to %d lines: status 0 with another report" % (kind, report, cut))
            else:
                outcomes.add("refused")
                check(st == 1 and report in err and not have,
                      "%s, %s cut to %d lines: status %d, %r" % (kind, report, cut, st, err))
            check(left(alone) == [] or left(alone) == ["r.txt"],
                  "%s, %s cut to %d lines: files left %s" % (kind, report, cut, left(alone)))
            if have:
                os.remove(os.path.join(alone, "r.txt"))
        check(outcomes == {"complete", "refused"}, "%s, %s: both outcomes seen" % (kind, report))


def damaged(args, work):
    dat = os.path.join(args.src, "examples", "casecontrol.dat")
    alone = hfpcopy(args, work, CUTTING)
    for kind, par, report in studies(work)[:2]:
        for count, what in (("2147483647", "fewer table rows than nonzero haplotypes"),
                            ("1", "more table rows than nonzero haplotypes"),
                            ("-4", "no count of nonzero haplotypes")):
            st, _, err = hfp(args, alone, par, dat, {"HS_CUT_FILE": report, "HS_COUNT": count})
            check(st == 1 and err == "The estimator's report %s is incomplete: %s\n" % (report, what),
                  "%s, count %s in %s: status %d, %r" % (kind, count, report, st, err))
            check(left(alone) == [], "%s, count %s: files left %s" % (kind, count, left(alone)))


def estimatorfaults(args, work):
    par = os.path.join(args.src, "examples", "casecontrol.par")
    dat = os.path.join(args.src, "examples", "casecontrol.dat")
    cmd = '"hf.sun temp.hf temp.hfo>hf.tmp"'
    cases = [
        ("writes no report", "exit 0\n",
         'The estimator (%s) left no report temp.hfo\n' % cmd),
        ("killed before writing", "kill -9 $$\n", None),
        ("killed after half its report",
         '"$HS_REAL_HF" "$@"; head -n 30 "$2" > cut.tmp; mv cut.tmp "$2"; kill -9 $$\n', None),
    ]
    for what, script, message in cases:
        alone = hfpcopy(args, work, script)
        st, _, err = hfp(args, alone, par, dat)
        check(st == 1, "estimator %s: status %d" % (what, st))
        if message:
            check(err == message, "estimator %s: %r" % (what, err))
        else:
            # The shell reports the killed child as status 128 + 9 (after
            # its own "Killed"), or hfp sees the signal itself.
            check(re.fullmatch(r'(Killed\n)?The estimator run %s (was stopped by a signal; no report|failed with status 137; '
                               r'its report) temp\.hfo( is not usable)?\n' % re.escape(cmd), err) is not None,
                  "estimator %s: %r" % (what, err))
        check(left(alone) == [], "estimator %s: files left %s" % (what, left(alone)))

    # temp.hf cannot be written: a directory holds its name.
    alone = hfpcopy(args, work, '"$HS_REAL_HF" "$@"\n')
    os.mkdir(os.path.join(alone, "temp.hf"))
    st, _, err = hfp(args, alone, par, dat)
    check(st == 1 and err == "I can't open file temp.hf for output...exit (Is a directory)\n",
          "unwritable temp.hf: status %d, %r" % (st, err))
    check(not set(left(alone)) - {"temp.hf"} and not os.path.exists(os.path.join(alone, "r.txt")),
          "unwritable temp.hf: files left %s" % left(alone))


# -------------------------------------------------------------------- memory

def sanitized(path):
    """Built with AddressSanitizer: its runtime linked in, or named for the
    dynamic linker."""
    with open(path, "rb") as f:
        data = f.read()
    return b"AddressSanitizer" in data or b"__asan_init" in data


LIMIT = 256 << 20


def memory_records(args, work):
    """hf and hfx: a million records outgrow the record table."""
    hf = os.path.join(args.bin, "hf")
    if sanitized(hf):
        print("memory: skipped, the programs are built with AddressSanitizer")
        return
    limit = LIMIT
    # A million records do not fit the record list.
    many = os.path.join(work, "many.txt")
    with open(many, "w") as f:
        f.write("2 2\n")
        for i in range(1000000):
            f.write("%d 1 1/2 2/1\n" % (i + 1))
    st, out, err = run([hf, many, "m.hfo"], work, limit=limit)
    check(st == 255 and err == "Sorry, but I cannot allocate memory\n", "hf, many records: %d %r" % (st, err))
    check(open(os.path.join(work, "m.hfo")).read().count("\n") <= 2, "hf, many records: no report")
    manyx = os.path.join(work, "manyx.txt")
    with open(manyx, "w") as f:
        f.write("2 2\n")
        for i in range(1000000):
            f.write("%d 1 %s\n" % (i + 1, "0 1 2" if i % 2 else "1 1/2 2/1"))
    st, out, err = run([os.path.join(args.bin, "hfx"), manyx, "x.hfo"], work, limit=limit)
    check(st == 255 and err == "Sorry, but I cannot allocate memory\n", "hfx, many records: %d %r" % (st, err))
    check(open(os.path.join(work, "x.hfo")).read().count("\n") <= 2, "hfx, many records: no report")



def memory(args, work):
    """phf and hfp: the list of individuals outgrows the limit."""
    if sanitized(os.path.join(args.bin, "phf")):
        print("memory: skipped, the programs are built with AddressSanitizer")
        return
    limit = LIMIT
    par = write(os.path.join(work, "m.par"), "2 0 0 0\n3 2\n0 0\n1 1\n1 0\n")
    dat = os.path.join(work, "m.dat")
    with open(dat, "w") as f:
        for i in range(1000000):
            f.write("i%d 0 1 2 1 1\n" % i)
    pattern = r"Out of memory for the individual on line \d+ of %s\n" % re.escape(dat)
    st, out, err = run([os.path.join(args.bin, "phf"), par, dat, "m.hf"], work, limit=limit)
    check(st == 1 and re.fullmatch(pattern, err) is not None, "phf, many individuals: %d %r" % (st, err))
    alone = os.path.join(work, "hfpmem")
    os.mkdir(alone)
    st, out, err = run([os.path.join(args.bin, "hfp"), par, dat, "r.txt"], alone, limit=limit)
    check(st == 1 and re.fullmatch(pattern, err) is not None, "hfp, many individuals: %d %r" % (st, err))
    check(os.listdir(alone) == [], "hfp, many individuals: files left %s" % os.listdir(alone))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--src", required=True)
    ap.add_argument("--test", action="append", help="run only these tests (default: all but memory_records)")
    args = ap.parse_args()
    args.bin = os.path.abspath(args.bin)
    args.src = os.path.abspath(args.src)
    tests = {t.__name__: t for t in (longlines, damaged, estimatorfaults, memory, truncated, untouched,
                                      memory_records)}
    for name in args.test or [n for n in tests if n != "memory_records"]:
        test = tests[name]
        with tempfile.TemporaryDirectory() as work:
            test(args, work)
    print("%d failure(s)" % len(FAILS))
    return 1 if FAILS else 0


if __name__ == "__main__":
    sys.exit(main())
