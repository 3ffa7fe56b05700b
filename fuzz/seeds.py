#!/usr/bin/env python3
"""Writes the seed corpora of the genotype-reader fuzz targets from the
bundled examples and the converter's test inputs, in the layout of
fuzz/parts.h: a control byte, then every file but the last behind a
two-byte big-endian length, the last file as the rest.

    fuzz/seeds.py            (rewrites fuzz/corpus/{ped,bed,vcf,...})
"""
import os
import struct

src = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
corpus = os.path.join(src, "fuzz", "corpus")


def read(*path):
    with open(os.path.join(src, *path), "rb") as f:
        return f.read()


def pack(control, *files):
    out = bytes([control])
    for f in files[:-1]:
        out += struct.pack(">H", len(f)) + f
    return out + files[-1]


def write(target, name, data):
    d = os.path.join(corpus, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


small = ("tests", "inputs", "import")
study = ("examples",)
fam_of_study = b"".join(b" ".join(line.split()[:6]) + b"\n"
                        for line in read(*study, "study.ped").splitlines() if line.strip())

# Control bytes: 0 every marker, 0x25 markers 2..3 by index, 0x86 a region on chromosome 6.
for control in (0, 0x25, 0x86):
    write("ped", "small_%02x" % control, pack(control, read(*small, "small.map"), read(*small, "small.ped")))
    write("bed", "small_%02x" % control,
          pack(control, read(*small, "small.bim"), read(*small, "small.fam"), read(*small, "small.bed")))
    write("vcf", "small_%02x" % control, pack(control, read(*small, "small.vcf")))
# Found by fuzzing: an empty FORMAT key leaves GT without values.
write("vcf", "emptykey", pack(0, b"##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\n"
                                b"6\t1\trs1\tA\tG\t.\t.\t.\t:GT\t0/1\n"))
write("ped", "study", pack(0, read(*study, "study.map"), read(*study, "study.ped")))

names = b"".join(b" ".join(line.split()[:2]) + b"\n" for line in read(*small, "small.fam").splitlines())
write("pheno_table", "small_fid", pack(1, names, b"status", read(*small, "small.pheno")))
write("pheno_table", "small_iid", pack(0, names, b"STATUS", read(*small, "small.pheno")))
write("pheno_table", "study", pack(1, fam_of_study, b"pheno",
                                   b"#FID IID pheno\n" + b"".join(
                                       b"%s %s %s\n" % tuple(line.split()[i] for i in (0, 1, 5))
                                       for line in fam_of_study.splitlines())))
write("sex_table", "small_fid", pack(1, names, b"sex", read(*small, "small.pheno")))
write("sex_table", "letters", pack(0, names, b"sex",
                                   b"ID sex\nI01 M\nI02 female\nI03 U\nI04 NA\nI05 .\n"))
write("marker_list", "window", read(*small, "window.txt"))
write("marker_list", "misspelt", read(*small, "misspelt.txt"))
write("marker_list", "all", b"rs6001 rs6003\trs6005 # the SNPs of the promoter\nrsX001\r\n")

# The window logic: settings bytes (window - 1, step - 1, parts - 1), then per
# marker a chromosome code, the number of spellings, the spellings and one
# byte per sample (low and high four bits: the two allele indexes; 255
# missing). The markers are those of small.ped, the first six samples.
def stream(settings, chrom_codes):
    ped = [line.split() for line in read(*small, "small.ped").splitlines() if line.strip()][:6]
    mapl = [line.split() for line in read(*small, "small.map").splitlines() if line.strip()]
    out = bytes(settings)
    for j, m in enumerate(mapl):
        calls = [(p[6 + 2 * j], p[7 + 2 * j]) for p in ped]
        spell = sorted({a for c in calls for a in c if a != b"0"}) or [b"A"]
        out += bytes([chrom_codes[m[0]], len(spell)]) + b"".join(spell)
        out += bytes(255 if b"0" in c else spell.index(c[0]) | spell.index(c[1]) << 4 for c in calls)
    return out


write("windows", "small_w3", stream([2, 0, 2], {b"6": 2, b"X": 3}))
write("windows", "small_w2_step2", stream([1, 1, 3], {b"6": 0, b"X": 5}))
write("windows", "small_w6", stream([5, 0, 8], {b"6": 1, b"X": 4}))
