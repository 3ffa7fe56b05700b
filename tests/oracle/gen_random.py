#!/usr/bin/env python3
"""Prints a small random input for the haplotype estimator.

    python3 gen_random.py SEED [--x]

1 to 4 loci of 2 to 5 alleles, 1 to 12 records, some missing alleles (0, now
and then an allele above the locus's count), some records with instances 2,
0.5, 1.25 or 0, and some records repeating an earlier genotype. Every fifth
seed gives a sample with a locus of 10 to 50 alleles and up to 30 records.  With --x the records carry a sex value: 0 (one allele per locus)
or 1 (two alleles per locus, slash form).  Every locus is typed in at least
one record of weight above 0, so every allele frequency is defined.
"""
import random
import sys


def main():
    args = sys.argv[1:]
    xdata = '--x' in args
    seed = int([a for a in args if a != '--x'][0])
    rnd = random.Random(seed)
    wide = seed % 5 == 0
    loci = [rnd.randint(2, 5) for _ in range(rnd.randint(1, 4 if not wide else 2))]
    nrec = rnd.randint(1, 12)
    if wide:
        loci.insert(rnd.randrange(len(loci) + 1), rnd.randint(10, 50))
        nrec = rnd.randint(5, 30)

    def bad(L):
        return L + 1 if rnd.random() < 0.2 else 0

    recs = []
    for _ in range(nrec):
        hemi = xdata and rnd.random() < 0.5
        inst = rnd.choice(['1'] * 6 + ['2', '2', '0.5', '1.25'] + (['0'] if recs else []))
        if recs and rnd.random() < 0.25:
            earlier = rnd.choice(recs)
            recs.append([earlier[0], inst, [list(g) if isinstance(g, list) else g for g in earlier[2]]])
            continue
        gen = []
        for L in loci:
            if hemi:
                gen.append(rnd.randint(1, L))
            else:
                gen.append([rnd.randint(1, L), rnd.randint(1, L)])
        # at most two missing loci per record keeps the completions few
        for l in rnd.sample(range(len(loci)), min(2, len(loci))):
            if rnd.random() < 0.2:
                if hemi:
                    gen[l] = bad(loci[l])
                else:
                    gen[l][rnd.randrange(2)] = bad(loci[l])
                    if rnd.random() < 0.5:
                        gen[l] = [0, 0]
        recs.append([hemi, inst, gen])

    def typed(g, L):
        return all(1 <= a <= L for a in (g if isinstance(g, list) else [g]))

    for l, L in enumerate(loci):
        if not any(typed(r[2][l], L) and r[1] != '0' for r in recs):
            r = recs[0]
            r[2][l] = rnd.randint(1, L) if r[0] else [rnd.randint(1, L), rnd.randint(1, L)]

    out = [' '.join(str(L) for L in loci)]
    for i, (hemi, inst, gen) in enumerate(recs):
        f = [str(i + 1), inst]
        if xdata:
            f.append('0' if hemi else '1')
        for g in gen:
            if hemi:
                f.append(str(g))
            elif not xdata and rnd.random() < 0.2:
                f.append('%d %d' % tuple(g))
            else:
                f.append('%d/%d' % tuple(g))
        out.append(' '.join(f))
    print('\n'.join(out))


if __name__ == '__main__':
    main()
