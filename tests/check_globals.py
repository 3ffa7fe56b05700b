#!/usr/bin/env python3
"""Fails when a library archive defines data that a program could write:
a symbol in .bss, .data (read-only-after-relocation sections aside) or
thread-local storage. State belongs in the structs that the libraries' calls
take, so that two estimations, scans or runs in one process never share it.

    check_globals.py LIBRARY.a ...

Exempt: what the compiler, the C++ runtime and Eigen own (exception
personality references, vtables, type information, AddressSanitizer's
one-definition markers, Eigen's cache sizes)
and the objects in ALLOW, each with its reason.
"""
import re
import subprocess
import sys

COMPILER_OWNED = ("DW.ref.", "vtable for ", "typeinfo for ", "typeinfo name for ", "VTT for ",
                  "construction vtable for ", "Eigen::", "guard variable for Eigen::", "__odr_asan")
# A signal handler takes no argument but the signal: the temporary files an
# interrupt must remove, and the log it must close, are where the handler
# can reach them, once per process.
ALLOW = [("atomic_output.cpp.o", "(anonymous namespace)::" + name)
         for name in ("pending", "in_use", "slot_lock", "log_fd", "catch_signals()::once")]


def mutable(section):
    if section.startswith(".data.rel.ro"):
        return False
    return section.split(".")[1] in ("bss", "data", "tbss", "tdata") if section.startswith(".") else \
        section == "*COM*"


def demangled(names):
    """The names as C++ spells them, with a compiler's local suffixes (".0",
    ".localalias") taken off first: clang gives some statics such copies,
    which the demangler does not read."""
    bare = [re.sub(r"(\.(localalias|lto_priv|constprop|isra|part))?(\.[0-9]+)*$", "", n) for n in names]
    out = subprocess.run(["c++filt"], input="\n".join(bare) + "\n", capture_output=True, text=True,
                         check=True).stdout.splitlines()
    return out if len(out) == len(names) else bare


def main():
    found = []
    for archive in sys.argv[1:]:
        out = subprocess.run(["nm", "--defined-only", "-f", "sysv", archive], capture_output=True,
                             text=True, check=True).stdout
        member = archive
        rows = []
        for line in out.splitlines():
            if line.startswith("Symbols from "):
                member = line[len("Symbols from "):].rstrip(":")
                continue
            fields = [f.strip() for f in line.split("|")]
            if len(fields) < 7:
                continue
            if fields[3] not in ("OBJECT", "TLS", "") or not mutable(fields[6]):
                continue
            rows.append((member, fields[0], fields[6]))
        for (member, _, section), name in zip(rows, demangled([r[1] for r in rows])):
            if name.startswith(COMPILER_OWNED) or name.startswith("."):
                continue
            if (member.split("[")[-1].rstrip("]"), name) in ALLOW:
                continue
            found.append("%s: %s (%s)" % (member, name if len(name) < 160 else name[:157] + "...", section))
    for f in found:
        print(f)
    if found:
        print("%d writable global or static object(s) in library code" % len(found))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
