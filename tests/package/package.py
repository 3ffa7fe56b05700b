#!/usr/bin/env python3
"""The installable package: every program has a manual page that renders on
its own from the source tree (man -l cannot follow a .so request there), the
build tree holds the compressed pages to install, with hf.sun's page a link
to hf's, every program's --version and every page's footer give the suite's
version (not the fixed text of the banners), and with --lintian the Debian package built by cpack has no lintian
error or warning.

    package.py --src SOURCE --build BUILD --version VERSION [--lintian] [--skip-note FILE]

Exits 77 (skipped) when man, or for --lintian lintian, is not installed,
after printing why and, with --skip-note, writing the reason to FILE (ctest
prints such notes after the run).
"""
import argparse
import gzip
import os
import shutil
import subprocess
import sys
import tempfile

PROGRAMS = ["hf", "hfx", "hf.sun", "hfp", "phf", "hfimport", "hfscan", "hfreg"]


def skip(args, reason):
    print(reason + ": skipped")
    if args.skip_note:
        os.makedirs(os.path.dirname(args.skip_note), exist_ok=True)
        with open(args.skip_note, "w") as f:
            f.write(reason + "\n")
    return 77


def pages(args):
    if not shutil.which("man"):
        return skip(args, "man is not installed (apt-get install man-db)")
    fails = []
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    for prog in PROGRAMS:
        p = subprocess.run([os.path.join(args.build, "bin", prog), "--version"], capture_output=True, text=True)
        name = "hf" if prog == "hf.sun" else prog
        if p.returncode != 0 or p.stdout != f"{name} (HAPLOSIFT) {args.version}\n":
            fails.append(f"{prog} --version: status {p.returncode}, {p.stdout!r}")
        gz = os.path.join(args.build, "man", prog + ".1.gz")
        if not os.path.exists(gz):
            fails.append(f"{gz}: not built")
            continue
        if prog == "hf.sun":
            if os.readlink(gz) != "hf.1.gz":
                fails.append(f"{gz} is not a link to hf.1.gz")
            continue
        src = os.path.join(args.src, "man", prog + ".1")
        text = open(src).read()
        if gzip.decompress(open(gz, "rb").read()).decode() != text:
            fails.append(f"{gz} is not {src}")
        if text.startswith(".so"):
            fails.append(f"{src} is a .so request, which man -l cannot follow")
        if f'"HAPLOSIFT {args.version}"' not in text.split("\n", 1)[0]:
            fails.append(f"{src}: the footer of its .TH line does not give HAPLOSIFT {args.version}")
        p = subprocess.run(["man", "--warnings", "-l", src], capture_output=True, text=True, env=env)
        if p.returncode != 0 or p.stderr or f"{prog} " not in p.stdout or "SYNOPSIS" not in p.stdout:
            fails.append(f"man -l {src}: status {p.returncode}, {p.stderr!r}, "
                         f"{len(p.stdout)} characters")
    for f in fails:
        print("FAIL:", f)
    return 1 if fails else 0


def lintian(args):
    if not shutil.which("lintian"):
        return skip(args, "lintian is not installed (apt-get install lintian)")
    out = tempfile.mkdtemp(prefix="package-")
    try:
        subprocess.run([args.cpack, "-G", "DEB", "-B", out, "--config",
                        os.path.join(args.build, "CPackConfig.cmake")],
                       check=True, capture_output=True)
        debs = [os.path.join(out, f) for f in os.listdir(out) if f.endswith(".deb")]
        p = subprocess.run(["lintian", "--fail-on", "error,warning", *debs],
                           capture_output=True, text=True)
        print(p.stdout, p.stderr, sep="")
        return 0 if p.returncode == 0 and len(debs) == 1 else 1
    finally:
        shutil.rmtree(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--src", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--version")
    ap.add_argument("--lintian", action="store_true")
    ap.add_argument("--cpack", default="cpack")
    ap.add_argument("--skip-note", help="file for the reason when the test is skipped")
    args = ap.parse_args()
    return lintian(args) if args.lintian else pages(args)


if __name__ == "__main__":
    sys.exit(main())
