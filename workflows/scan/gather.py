#!/usr/bin/python3
"""Joins the parts of a scan run as `hfscan --chunk K/N` into one table.

    gather.py [--max-t] OUTPUT PART1 PART2 ... PARTN

The parts are concatenated in the order given, which must be 1/N to N/N,
so that OUTPUT is byte for byte the table of a single run. Part 1 must start
with the header line and no other part may; every part must end with a
line end, since a part without one was cut short. OUTPUT appears only when
complete: it is written to a temporary file in its own directory and
renamed, so a gather that is killed never leaves a table that looks whole.
Exit status 0, or 1 with a message naming the faulty part; 130 or 143 when
interrupted by SIGINT or SIGTERM.

With --max-t the parts were run with `hfscan --max-t`, and each has its side
file PART.maxt beside it: per shared permutation k the part's smallest
asymptotic p value, per row the window's observed p value, exact. The
smallest over the parts, min_p(k), gives every row its family-wise p value,
as a single run computes it:

    fwer_p = (1 + #{k : min_p(k) <= p (1 + 1e-8)}) / (P + 1)

written with 10 significant digits in the fwer_p column (NA where p is NA),
so OUTPUT is byte for byte the table of a single `hfscan --max-t` run.
"""
import bisect
import os
import signal
import sys

from atomic import on_term, write_atomically

HEADER_START = b"chrom\tfirst_marker\t"


class Refused(Exception):
    pass


def check_part(path, data, first):
    if first and not data.startswith(HEADER_START):
        raise Refused("%s, line 1: not the first part of an hfscan table (no header line)" % path)
    if not first and data.startswith(HEADER_START):
        raise Refused("%s, line 1: a header line, so this is part 1 of a run, not a later part" % path)
    if data and not data.endswith(b"\n"):
        line = data.count(b"\n") + 1
        raise Refused("%s, line %d: the last line has no line end; the part was cut short "
                      "(run its chunk again)" % (path, line))


SIDE_MAGIC = "hfscan_max_t\t1"


def read_side(path, k, n):
    """The side file of part k of n: (seed, min_p per permutation, p per
    window), NA as None."""
    try:
        with open(path) as f:
            lines = f.read().split("\n")
    except OSError as e:
        raise Refused("%s: cannot read the side file: %s" % (path, e.strerror))
    except UnicodeDecodeError:
        raise Refused("%s, line 1: not an hfscan --max-t side file" % path)
    if not lines or lines[0] != SIDE_MAGIC:
        raise Refused("%s, line 1: not an hfscan --max-t side file" % path)
    if lines[-1] != "":
        raise Refused("%s, line %d: the last line has no line end; the file was cut short" % (path, len(lines)))
    head = {}
    for no in range(1, 5):
        f = lines[no].split("\t") if no < len(lines) else []
        if len(f) < 2:
            raise Refused("%s, line %d: expected the part's chunk, seed, permutations and windows" % (path, no + 1))
        head[f[0]] = f[1:]
    try:
        chunk = (int(head["chunk"][0]), int(head["chunk"][1]))
        seed = int(head["seed"][0])
        perms = int(head["permutations"][0])
        windows = int(head["windows"][0])
    except (KeyError, IndexError, ValueError):
        raise Refused("%s, lines 2-5: expected the part's chunk, seed, permutations and windows" % path)
    if chunk != (k, n):
        raise Refused("%s, line 2: the side file of part %d/%d, given as part %d/%d" % (path, chunk[0], chunk[1], k, n))
    body = lines[5:-1]
    if len(body) != perms + windows:
        raise Refused("%s: %d lines after the head, expected %d permutations and %d windows"
                      % (path, len(body), perms, windows))
    values = []
    for no, line in enumerate(body):
        f = line.split("\t")
        kind, j = ("perm", no + 1) if no < perms else ("window", no - perms + 1)
        if len(f) != 3 or f[0] != kind or f[1] != str(j):
            raise Refused("%s, line %d: expected %s %d" % (path, no + 6, kind, j))
        try:
            values.append(None if f[2] == "NA" else float(f[2]))
        except ValueError:
            raise Refused("%s, line %d: %r is not a number" % (path, no + 6, f[2]))
    return seed, values[:perms], values[perms:]


def fill_fwer(paths, parts):
    """The parts with fwer_p filled from their side files."""
    n = len(paths)
    sides = [read_side(path + ".maxt", k + 1, n) for k, path in enumerate(paths)]
    for k in range(1, n):
        if sides[k][0] != sides[0][0] or len(sides[k][1]) != len(sides[0][1]):
            raise Refused("%s.maxt: seed %d and %d permutations, but %s.maxt has seed %d and %d"
                          % (paths[k], sides[k][0], len(sides[k][1]), paths[0], sides[0][0], len(sides[0][1])))
    perms = len(sides[0][1])
    min_p = []
    for j in range(perms):
        found = [s[1][j] for s in sides if s[1][j] is not None]
        if found:
            min_p.append(min(found))
    min_p.sort()
    header = parts[0].split(b"\n", 1)[0].split(b"\t")
    if b"fwer_p" not in header:
        raise Refused("%s, line 1: no column fwer_p (a table of an earlier hfscan?)" % paths[0])
    col = header.index(b"fwer_p")
    filled = []
    for k, (path, data, side) in enumerate(zip(paths, parts, sides)):
        lines = data.split(b"\n")[:-1]
        first = 1 if k == 0 else 0
        rows = lines[first:]
        if len(rows) != len(side[2]):
            raise Refused("%s: %d rows, but its side file has %d windows" % (path, len(rows), len(side[2])))
        out = lines[:first]
        for no, (line, p) in enumerate(zip(rows, side[2])):
            f = line.split(b"\t")
            if len(f) != len(header) or f[col] != b"NA":
                raise Refused("%s, line %d: expected %d columns and fwer_p NA" % (path, no + first + 1, len(header)))
            if p is not None:
                count = bisect.bisect_right(min_p, p * (1 + 1e-8))
                f[col] = (b"%.10g" % ((count + 1) / (perms + 1)))
            out.append(b"\t".join(f))
        filled.append(b"\n".join(out) + b"\n" if out else b"")
    return filled


def main(argv):
    maxt = len(argv) > 1 and argv[1] == "--max-t"
    if maxt:
        argv = argv[:1] + argv[2:]
    if len(argv) < 3:
        sys.stderr.write("usage: gather.py [--max-t] OUTPUT PART1 [PART2 ...]\n")
        return 1
    signal.signal(signal.SIGTERM, on_term)
    output, paths = argv[1], argv[2:]
    try:
        parts = []
        for k, path in enumerate(paths):
            try:
                with open(path, "rb") as f:
                    data = f.read()
            except OSError as e:
                raise Refused("%s: cannot read the part: %s" % (path, e.strerror))
            check_part(path, data, k == 0)
            parts.append(data)
        if maxt:
            parts = fill_fwer(paths, parts)
        write_atomically(output, lambda f: f.writelines(parts))
    except Refused as e:
        sys.stderr.write("gather.py: %s\n" % e)
        return 1
    except OSError as e:
        sys.stderr.write("gather.py: %s: cannot write the table: %s\n" % (output, e.strerror))
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
