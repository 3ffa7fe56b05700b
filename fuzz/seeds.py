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
# The trait: control bit 0 FID, bits 1-2 the kind (0 auto, 1 binary, 2
# quantitative), bit 3 the .ped's phenotype (the third word of a sample line).
vcf_names = b"".join(b"%s_%s %s_%s\n" % (f, i, f, i) for f, i in
                     (line.split()[:2] for line in read(*small, "small.fam").splitlines()))
quant = b"FID IID bmi\r\n" + b"".join(b"%s %s %s\r\n" % (f, i, v) for f, i, v in
                                     zip([b"F%02d" % k for k in range(1, 13)],
                                         [b"I%02d" % k for k in range(1, 13)],
                                         [b"21.5", b"NA", b"0", b"-9", b"33", b".", b"24e0",
                                          b"19.25", b"-1", b"30", b"28", b"22"]))
write("trait_table", "small_auto", pack(1, names, b"status", read(*small, "small.pheno")))
write("trait_table", "fid_iid_quant", pack(4, vcf_names, b"bmi", quant + b"G01 Z01 25\n"))
write("trait_table", "ped_binary", pack(2 | 8, b"".join(b" ".join(line.split()[:2] + [line.split()[5]]) + b"\n"
                                                   for line in read(*small, "small.fam").splitlines()),
                                        b"", b""))
write("trait_table", "study_ped", pack(8 | 1, b"".join(b" ".join(line.split()[:2] + [line.split()[5]]) + b"\n"
                                                  for line in fam_of_study.splitlines()), b"", b""))
covar = (b"FID IID age site pc1\n" + b"".join(
    b"F%02d I%02d %s %s %s\n" % (k, k, a, s, c) for k, a, s, c in
    zip(range(1, 13), [b"40", b"51", b"NA", b"38", b"-9", b"60", b"45", b"33", b"29", b"70", b"41", b"52"],
        [b"north", b"south", b"east", b"north", b".", b"south", b"east", b"north", b"west", b"south", b"NA", b"east"],
        [b"0.1", b"-0.2", b"0.03", b"1e-3", b"0", b"0.5", b"-0.5", b"0.2", b"0.1", b"-0.1", b"0.0", b"0.4"])))
write("covar_table", "small_all", pack(1, names, b"", covar + b"Z01 Z99 1 north 0\n"))
write("covar_table", "named_fid_iid", pack(0, vcf_names, b"pc1,site", covar.replace(b"\n", b"\r\n")))
clusters = b"".join(b"F%02d I%02d %s\n" % (k, k, b"K%d" % (k % 3)) for k in range(1, 13))
write("cluster_table", "small", pack(1, names, b"", clusters + b"Z01 Z99 K9\n"))
write("cluster_table", "fid_iid", pack(0, vcf_names, b"", clusters.replace(b"\n", b"\r\n")))
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
