#!/usr/bin/env python3
"""Writes the example data set of the scan workflow: scan.ped and scan.map,
300 unrelated individuals (150 cases, 150 controls) typed at 30 SNPs on each
of chromosomes 1, 2 and 3.

Along each chromosome the SNPs come in blocks of five to eight markers in
strong disequilibrium: every block has four ancestral haplotypes, and each
chromosome copy takes one of them with a little mutation. On chromosome 2
one haplotype of the block at markers 13 to 18 raises the risk, so cases
carry it more often: the scan finds it there and nowhere else. About 1 % of
the calls are missing.

    simulate.py [OUTSTEM]     (default: scan, beside this script)

Only random.random() is drawn, whose sequence for a given seed does not
change between Python versions, so the files are the same wherever this runs.
"""
import os
import random
import sys

r = random.Random(20240611)
BASES = "ACGT"


def pick(weights):
    x, total = r.random(), 0.0
    for k, w in enumerate(weights):
        total += w
        if x < total:
            return k
    return len(weights) - 1


def chromosome_layout(name):
    """Markers (name, position, allele pair) and blocks (first, last)."""
    markers, blocks, k, pos = [], [], 0, 1_000_000
    while k < 30:
        size = min(5 + int(r.random() * 4), 30 - k)
        blocks.append((k, k + size))
        k += size
    for j in range(30):
        a = int(r.random() * 4)
        b = (a + 1 + int(r.random() * 3)) % 4
        pos += 2000 + int(r.random() * 6000)
        markers.append(("rs%s%03d" % (name, j + 1), pos, BASES[a], BASES[b]))
    return markers, blocks


def main():
    stem = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "scan")
    layout = {}
    for c in ("1", "2", "3"):
        markers, blocks = chromosome_layout(c)
        if c == "2":  # a block exactly at markers 13..18 (indexes 12..17)
            blocks = [(0, 6), (6, 12), (12, 18), (18, 24), (24, 30)]
        founders = []
        for lo, hi in blocks:
            founders.append([[int(r.random() < 0.5) for _ in range(hi - lo)] for _ in range(4)])
        layout[c] = (markers, blocks, founders)

    def copy(c, case):
        markers, blocks, founders = layout[c]
        out = []
        for b, (lo, hi) in enumerate(blocks):
            risk = c == "2" and lo == 12
            weights = ([0.45, 0.2, 0.2, 0.15] if case else [0.15, 0.3, 0.3, 0.25]) if risk \
                else [0.4, 0.3, 0.2, 0.1]
            h = founders[b][pick(weights)]
            out += [x if r.random() > 0.02 else 1 - x for x in h]
        return out

    with open(stem + ".map", "w") as f:
        for c in ("1", "2", "3"):
            for name, pos, _, _ in layout[c][0]:
                f.write("%s\t%s\t0\t%d\n" % (c, name, pos))
    with open(stem + ".ped", "w") as f:
        for i in range(300):
            case = i % 2 == 0
            fields = ["FAM%03d" % (i + 1), "P%03d" % (i + 1), "0", "0", "1" if r.random() < 0.5 else "2",
                      "2" if case else "1"]
            for c in ("1", "2", "3"):
                h1, h2 = copy(c, case), copy(c, case)
                for j, (_, _, a, b) in enumerate(layout[c][0]):
                    if r.random() < 0.01:
                        fields += ["0", "0"]
                    else:
                        fields += [(a, b)[h1[j]], (a, b)[h2[j]]]
            f.write(" ".join(fields) + "\n")


if __name__ == "__main__":
    main()
