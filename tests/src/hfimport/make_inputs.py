#!/usr/bin/env python3
"""Writes the PLINK binary (.bed/.bim/.fam) and VCF forms of a PLINK text
data set (.ped/.map), so that the converter can be tested on the same
genotypes in every format.

    make_inputs.py STEM [OUTSTEM]

reads STEM.ped and STEM.map and writes OUTSTEM.bed, .bim, .fam and .vcf
(OUTSTEM defaults to STEM). The .bim stores the less frequent allele as
allele 1, as PLINK does, and 0 for an allele that does not occur. In the
VCF, REF is the allele that appears first in the .ped; males' homozygous
calls on the X chromosome are written haploid, as variant callers do.
"""
import sys


def read(stem):
    markers = [line.split() for line in open(stem + ".map") if line.strip()]
    people = [line.split() for line in open(stem + ".ped") if line.strip()]
    for p in people:
        assert len(p) == 6 + 2 * len(markers), p[:2]
    return markers, people


def calls(people, k):
    """Per individual the pair of alleles at marker k, None when missing."""
    out = []
    for p in people:
        a, b = p[6 + 2 * k], p[7 + 2 * k]
        out.append(None if a == "0" or b == "0" else (a, b))
    return out


def first_seen(pairs):
    order = []
    for pair in pairs:
        for a in pair or ():
            if a not in order:
                order.append(a)
    return order


def write_bed(markers, people, out):
    with open(out + ".fam", "w") as f:
        for p in people:
            f.write(" ".join(p[:6]) + "\n")
    bim, blocks = [], bytearray(b"\x6c\x1b\x01")
    for k, m in enumerate(markers):
        pairs = calls(people, k)
        order = first_seen(pairs)
        assert len(order) <= 2, m[1] + " has more than two alleles"
        counts = {a: sum(pair.count(a) for pair in pairs if pair) for a in order}
        ranked = sorted(order, key=lambda a: (counts[a], order.index(a)))
        a1, a2 = (["0", "0"] + ranked)[-2:]
        if len(ranked) == 1:
            a1, a2 = "0", ranked[0]
        bim.append([m[0], m[1], m[2] if len(m) == 4 else "0", m[-1], a1, a2])
        codes = []
        for pair in pairs:
            if pair is None:
                codes.append(1)
            elif pair[0] != pair[1]:
                codes.append(2)
            else:
                codes.append(0 if pair[0] == a1 else 3)
        for i in range(0, len(codes), 4):
            byte = 0
            for j, c in enumerate(codes[i:i + 4]):
                byte |= c << (2 * j)
            blocks.append(byte)
    with open(out + ".bim", "w") as f:
        for row in bim:
            f.write("\t".join(row) + "\n")
    with open(out + ".bed", "wb") as f:
        f.write(bytes(blocks))


def write_vcf(markers, people, out):
    contigs = []
    for m in markers:
        if m[0] not in contigs:
            contigs.append(m[0])
    with open(out + ".vcf", "w") as f:
        f.write("##fileformat=VCFv4.2\n")
        for c in contigs:
            f.write(f"##contig=<ID={c}>\n")
        f.write('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n')
        f.write("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t")
        f.write("\t".join(p[1] for p in people) + "\n")
        for k, m in enumerate(markers):
            pairs = calls(people, k)
            order = first_seen(pairs) or ["N"]
            row = [m[0], m[-1], m[1], order[0], ",".join(order[1:]) or ".", ".", "PASS", ".", "GT"]
            for p, pair in zip(people, pairs):
                male_x = m[0] in ("X", "23") and p[4] == "1"
                if pair is None:
                    row.append("." if male_x else "./.")
                elif male_x and pair[0] == pair[1]:
                    row.append(str(order.index(pair[0])))
                else:
                    row.append(f"{order.index(pair[0])}/{order.index(pair[1])}")
            f.write("\t".join(row) + "\n")


def main():
    stem = sys.argv[1]
    out = sys.argv[2] if len(sys.argv) > 2 else stem
    markers, people = read(stem)
    write_bed(markers, people, out)
    write_vcf(markers, people, out)


if __name__ == "__main__":
    main()
