#!/usr/bin/python3
"""Joins the parts of a scan run as `hfscan --chunk K/N` into one table.

    gather.py OUTPUT PART1 PART2 ... PARTN

The parts are concatenated in the order given, which must be 1/N to N/N,
so that OUTPUT is byte for byte the table of a single run. Part 1 must start
with the header line and no other part may; every part must end with a
line end, since a part without one was cut short. OUTPUT appears only when
complete: it is written to a temporary file in its own directory and
renamed, so a gather that is killed never leaves a table that looks whole.
Exit status 0, or 1 with a message naming the faulty part; 130 or 143 when
interrupted by SIGINT or SIGTERM.
"""
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


def main(argv):
    if len(argv) < 3:
        sys.stderr.write("usage: gather.py OUTPUT PART1 [PART2 ...]\n")
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
