#!/usr/bin/env python3
"""Reference haplotype estimator: prints the report that hf (or hfx with --x)
writes into its output file, for checking the C++ programs byte for byte.

    python3 hf_oracle.py [--x] [--pl THRESHOLD] [--out NAME] INPUTFILE

Every sum and product is formed in the same order as the estimator forms it,
so the doubles (and the printed digits) agree exactly.
"""
import argparse
import itertools
import math
import re
import sys

EPSH = 1e-6          # a frequency above this is a nonzero haplotype
MAXITER = 50
GAIN = 0.01          # smallest log-likelihood gain that continues the EM

_INT = re.compile(r'[+-]?\d+')
_DBL = re.compile(r'[+-]?(?:(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?|inf(?:inity)?|nan)', re.I)


def machine_precision():
    x = 1.0
    while True:
        x /= 2
        if not x + 1.0 > 1.0:
            return x


def atof(s):
    m = _DBL.match(s.lstrip())
    return float(m.group()) if m else 0.0


def cf(fmt, x):
    """printf of one double, with glibc's spelling of a negative NaN."""
    if math.isnan(x):
        return re.sub(r'\.\d*f$', 's', fmt) % ('-nan' if math.copysign(1, x) < 0 else 'nan')
    return fmt % x


def div(a, b):
    """IEEE division (x86 gives a negative NaN for 0/0)."""
    if b != 0:
        return a / b
    if a == 0 or math.isnan(a):
        return -math.nan
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def clog(x):
    return math.log(x) if x > 0 else (-math.inf if x == 0 else -math.nan)


def scan(s, fmt):
    """A small sscanf: 'l'/'h' integer, 'f' double, '/' literal slash,
    'r' white space then the rest of the line (at least one character).
    Returns the values converted before the first failure."""
    vals, i = [], 0
    for d in fmt:
        if d == '/':
            if s[i:i + 1] != '/':
                break
            i += 1
            continue
        while i < len(s) and s[i] in ' \t\n\v\f\r':
            i += 1
        if d == 'r':
            j = s.find('\n', i)
            j = len(s) if j < 0 else j
            if j == i:
                break
            vals.append(s[i:j])
            i = j
            continue
        m = (_DBL if d == 'f' else _INT).match(s, i)
        if not m:
            break
        v = float(m.group()) if d == 'f' else int(m.group())
        if d == 'h':
            v = (v + 32768) % 65536 - 32768
        vals.append(v)
        i = m.end()
    return vals


def read_lines(path):
    """Lines as a 200-byte line buffer delivers them: longer lines come in parts."""
    with open(path, 'rb') as f:
        data = f.read().decode('latin-1')
    out = []
    for line in re.findall(r'[^\n]*\n|[^\n]+$', data):
        while len(line) > 199:
            out.append(line[:199])
            line = line[199:]
        out.append(line)
    return out


class Record:
    def __init__(self, ident, sex, w, al, hemi):
        self.id, self.sex, self.w, self.al, self.hemi = ident, sex, w, al, hemi
        self.gprob = 0.0


def read_input(path, xdata):
    """Returns (allele counts, records) or raises ValueError with the message."""
    lines = read_lines(path)
    loci = []
    rest = lines[0] if lines else ''
    while True:
        v = scan(rest, 'ir')
        loci.append(v[0] if v else 0)
        if len(v) < 2:
            break
        rest = v[1]
    recs = []
    for line in lines[1:]:
        v = scan(line, 'lfr')
        if len(v) < 3:
            break
        ident, w, rest = v
        sex = 0
        if xdata:
            v = scan(rest, 'hr')
            sex = v[0] if v else 0
            rest = v[1] if len(v) > 1 else ''
        hemi = xdata and sex == 0
        al, typed = [], False
        for L in loci:
            if hemi:
                v = scan(rest, 'hr')
                if not v:
                    raise ValueError("There isn't enough x data at line %d\n" % (len(recs) + 1))
                al.append(v[0])
                typed |= 1 <= v[0] <= L
            else:
                v = scan(rest, 'h/hr')
                if len(v) < 2 and not xdata:
                    v = scan(rest, 'hhr')
                if len(v) < 2:
                    raise ValueError(("There isn't enough x data at line %d\n" if xdata else
                                      "There isn't enough data at line %d\n") % (len(recs) + 1))
                a, b = sorted(v[:2])
                al.append((a, b))
                typed |= 1 <= a <= L and 1 <= b <= L
            rest = v[-1] if len(v) > (1 if hemi else 2) else ''
        if typed:
            recs.append(Record(ident, sex, w, al, hemi))
    if not recs:
        sys.stderr.write("Empty list.\n")
    return loci, recs


class Estimator:
    def __init__(self, loci, recs, xdata, precis, pl):
        self.loci, self.recs, self.xdata, self.precis, self.pl = loci, recs, xdata, precis, pl
        self.nloci = len(loci)
        self.hapall = 1
        for L in loci:
            self.hapall *= L
        self.nalleles = max([1] + loci)
        self.out = []

    def put(self, s):
        self.out.append(s)

    # --- haplotype numbering -------------------------------------------------
    def num(self, a):
        r = 0
        for l in range(self.nloci - 1):
            r = (r + a[l] - 1) * self.loci[l + 1]
        return r + a[-1]

    def alleles(self, k):
        a, r = [0] * self.nloci, k - 1
        for l in range(self.nloci - 1, -1, -1):
            a[l] = r % self.loci[l] + 1
            r //= self.loci[l]
        return a

    def missing(self, rec):
        if rec.hemi:
            return [l for l, a in enumerate(rec.al) if not 1 <= a <= self.loci[l]]
        return [l for l, (a, b) in enumerate(rec.al)
                if not (1 <= a <= self.loci[l] and 1 <= b <= self.loci[l])]

    # --- genotype enumerations -----------------------------------------------
    def phases(self, g1, g2):
        """Haplotype-number pairs (A, B), one per phase of a complete genotype;
        empty for a genotype homozygous at every locus."""
        het = [l for l in range(self.nloci) if g1[l] != g2[l]]
        pairs = []
        for t in range(int(2 ** (len(het) - 1)) if het else 0):
            A, B = list(g1), list(g2)
            for j in range(len(het) - 1):
                if t >> j & 1:
                    l = het[j]
                    A[l], B[l] = B[l], A[l]
            pairs.append((self.num(A), self.num(B)))
        return pairs

    def completions(self, rec, miss):
        """Completed genotypes over the missing loci, last missing locus fastest."""
        if rec.hemi:
            for combo in itertools.product(*[range(1, self.loci[l] + 1) for l in miss]):
                a = list(rec.al)
                for l, x in zip(miss, combo):
                    a[l] = x
                yield a
        else:
            choices = [[(u, v) for v in range(1, self.loci[l] + 1) for u in range(1, v + 1)]
                       for l in miss]
            for combo in itertools.product(*choices):
                g = list(rec.al)
                for l, uv in zip(miss, combo):
                    g[l] = uv
                yield [x for x, _ in g], [y for _, y in g]

    def phasep(self, g1, g2):
        h = self.h
        ph = self.phases(g1, g2)
        if not ph:
            k = self.num(g1)
            return h[k - 1] * h[k - 1]
        s = 0.0
        for A, B in ph:
            s += 2 * h[A - 1] * h[B - 1]
        return s

    def genp(self, rec):
        miss = self.missing(rec)
        if rec.hemi:
            if not miss:
                return self.h[self.num(rec.al) - 1]
            s = 0.0
            for a in self.completions(rec, miss):
                s += self.h[self.num(a) - 1]
            return s
        if not miss:
            return self.phasep([a for a, _ in rec.al], [b for _, b in rec.al])
        s = 0.0
        for g1, g2 in self.completions(rec, miss):
            s += self.phasep(g1, g2)
        return s

    def ll(self):
        sd = sh = 0.0
        for r in self.recs:
            if r.hemi:
                if r.w != 0 and r.gprob > EPSH:
                    sh += r.w * clog(r.gprob)
            elif r.w != 0:
                sd += r.w * clog(r.gprob)
        return sd + sh

    def loglik(self):
        for r in self.recs:
            r.gprob = self.genp(r)
        return self.ll()

    # --- allele counting and the equilibrium start -----------------------------
    def getp(self):
        n, loci, precis = self.nloci, self.loci, self.precis
        p = [[0.0] * self.nalleles for _ in range(n)]
        pm = [[0.0] * self.nalleles for _ in range(n)]
        dt, ht = [0.0] * n, [0.0] * n
        full = d_ms = 0.0
        hs = hms = 0
        for r in self.recs:
            w, miss = r.w, False
            for l in range(n):
                if r.hemi:
                    a = r.al[l]
                    if 1 <= a <= loci[l]:
                        pm[l][a - 1] += w
                        ht[l] += w
                    else:
                        miss = True
                else:
                    a, b = r.al[l]
                    if 1 <= a <= loci[l] and 1 <= b <= loci[l]:
                        p[l][a - 1] += w
                        p[l][b - 1] += w
                        dt[l] += w
                    else:
                        miss = True
            if r.hemi:
                if miss:
                    hms = int(hms + w)
                else:
                    hs = int(hs + w)
            elif miss:
                d_ms += w
            else:
                full += w
        for l in range(n):
            self.put(cf("locus %3d # individuals = %%.0f\n" % (l + 1), dt[l] + ht[l]))
        self.put("\n" + cf("%.0f", hs + full) + "/" + cf("%.0f", hms + d_ms)
                 + " individuals with F/P information\n\n")
        self.d_sample, self.d_msample, self.h_sample, self.h_msample = full, d_ms, hs, hms
        self.put("\nMarker allele frequencies:\n\nMarker\\Allele number\n\n   ")
        self.put("".join("%9d" % (a + 1) for a in range(self.nalleles)) + "\n\n")
        for l in range(n):
            self.put("%2d " % (l + 1))
            for a in range(loci[l]):
                if self.xdata:
                    p[l][a] = div(p[l][a] + pm[l][a], 2 * dt[l] + ht[l])
                else:
                    p[l][a] = div(p[l][a], 2 * dt[l])
                self.put("         " if p[l][a] < precis else cf(" %.6f", p[l][a]))
            self.put("\n")
        self.p = p
        h0 = []
        for k in range(1, self.hapall + 1):
            prod = 1.0
            for l, a in enumerate(self.alleles(k)):
                prod *= p[l][a - 1]       # an allele never seen has frequency 0
            h0.append(prod)
        self.h0, self.h = h0, list(h0)

    # --- one haplotype-counting step ---------------------------------------------
    def counting(self, r, c):
        h, w = self.h, r.w
        g1, g2 = [a for a, _ in r.al], [b for _, b in r.al]
        ph = self.phases(g1, g2)
        if not ph:
            c[self.num(g1) - 1] += 2 * w
            return
        T = 0.0
        for A, B in ph:
            T += 2 * h[A - 1] * h[B - 1]
        if T == 0:
            return
        for A, B in ph:
            s = 2 * h[A - 1] * h[B - 1] / T
            c[A - 1] += s * w
            c[B - 1] += s * w

    def geth(self):
        h = self.h
        c, hm = [0.0] * self.hapall, [0.0] * self.hapall
        for r in self.recs:
            miss = self.missing(r)
            if r.hemi:
                if not miss:
                    c[self.num(r.al) - 1] += r.w
                    continue
                comps = [self.num(a) for a in self.completions(r, miss)]
                T = 0.0
                for k in comps:
                    T += h[k - 1]
                u = r.w / T if T != 0 else 0.0
                for k in comps:
                    hm[k - 1] += h[k - 1] * u
            elif not miss:
                self.counting(r, c)
            else:
                comps = list(self.completions(r, miss))
                T = 0.0
                for g1, g2 in comps:
                    T += self.phasep(g1, g2)
                u = r.w / T if T != 0 else 0.0
                for g1, g2 in comps:
                    ph = self.phases(g1, g2)
                    if not ph:
                        k = self.num(g1)
                        hm[k - 1] += 2 * h[k - 1] * h[k - 1] * u
                    for A, B in ph:
                        s = 2 * h[A - 1] * h[B - 1] * u
                        hm[A - 1] += s
                        hm[B - 1] += s
        M = 0.0
        for x in hm:
            M += x
        den = 2 * self.d_sample + M + self.h_sample
        self.h = [div(c[k] + hm[k], den) for k in range(self.hapall)]

    # --- the EM and its report -----------------------------------------------------
    def ft(self, h1, h0, n):
        return math.sqrt(h1 * n) + math.sqrt(h1 * n + 1) - math.sqrt(4 * h0 * n + 1)

    def hapn(self):
        return 2 * (self.d_sample + self.d_msample) + (self.h_sample + self.h_msample)

    def ehm(self):
        eq_spec = sum(L - 1 for L in self.loci)
        dq_spec = self.hapall - 1
        self.getp()
        seen = [sum(1 for a in range(L) if self.p[l][a] >= self.precis)
                for l, L in enumerate(self.loci)]
        eq_seen = sum(s - 1 for s in seen)
        dq_seen = 1
        for s in seen:
            dq_seen *= s
        dq_seen -= 1
        L0 = self.loglik()
        self.put(cf("\nlog-likelihood assuming linkage equilibrium %.2f\n", L0))
        self.put("# parameters %d (%d, by # of specified alleles)\n\n" % (eq_seen, eq_spec))
        it, prev = 1, L0
        while True:
            self.geth()
            self.put("Iteration %3d, " % it)
            it += 1
            L = self.loglik()
            self.put(cf("log-likelihood=%.2f\n", L))
            gain, prev = L - prev, L
            if not gain > GAIN or it > MAXITER:
                break
        self.put(cf("\nlog-likelihood assuming linkage disequilibrium =%.2f\n", L))
        self.put("# parameters %d (%d, by # of specified alleles)\n" % (dq_seen, dq_spec))
        self.put(cf("\nTest of marker-marker disequilibrium, chi-square=%.2f\n", 2 * (L - L0)))
        self.put("degree(s) of freedom = %d (%d, by # of specified alleles) \n"
                 % (dq_seen - eq_seen, dq_spec - eq_spec))
        n = self.hapn()
        self.put("\nHaplotype frequency estimates and Freeman-Tukey statistic (FT)\n\n")
        self.put(cf(" n = number of haplotypes (%.0f) in the sample\n", n))
        self.put("h1 = frequencies under linkage disequilibrium (>%f)\n" % EPSH)
        self.put("h0 = frequencies under linkage equilibrium\n")
        self.put("FT = sqrt(h1*n)+sqrt(h1*n+1)-sqrt(4*h0+1)\n")
        self.put("\n       h1             h1       h0     FT  haplotype/id\n\n")
        rows = 0
        for k in range(1, self.hapall + 1):
            h1, h0 = self.h[k - 1], self.h0[k - 1]
            if h1 > EPSH:
                self.put(cf(" %.6f", h1) + cf(" %.12f", h1) + cf(" %.6f", h0)
                         + cf(" %6.2f", self.ft(h1, h0, n))
                         + "".join("%3d" % a for a in self.alleles(k)) + " %d\n" % k)
                rows += 1
        self.put("\nNumber of nonzero haplotypes = %d\n\n" % rows)

    # --- table by decreasing frequency -------------------------------------------------
    def qsorts(self, t, lo, hi):
        if lo >= hi:
            return
        b = lo
        for i in range(lo + 1, hi + 1):
            if t[i][2] > t[b][2]:
                saved = t[i]
                t[i] = t[b + 1]
                t[b + 1] = t[b]
                t[b] = saved
                b += 1
        self.qsorts(t, lo, b - 1)
        self.qsorts(t, b + 1, hi)

    def sorted_table(self):
        t = [(k, self.h0[k - 1], self.h[k - 1]) for k in range(1, self.hapall + 1)
             if self.h[k - 1] > EPSH]
        self.qsorts(t, 0, len(t) - 1)
        n = self.hapn()
        self.put("Haplotype frequency estimates by decreasing order\n\n")
        self.put("    h1    accumul.    h0    accumul.     FT haplotypes/id\n\n")
        s0 = s1 = 0.0
        for k, h0, h1 in t:
            s0 += h0
            s1 += h1
            self.put(cf(" %.6f", h1) + cf(" %.6f", s1) + cf(" %.6f", h0) + cf(" %.6f", s0)
                     + cf(" %6.2f", self.ft(h1, h0, n))
                     + "".join("%3d" % a for a in self.alleles(k)) + " %d\n" % k)

    # --- assignment by posterior probabilities ----------------------------------------
    def line(self, ident, chrom, hap, prob):
        k = self.num(hap)
        self.put("%5d [%d]" % (ident, chrom) + "".join(" %2d" % a for a in hap)
                 + cf(" %f", prob) + " %d\n" % k)

    def pairs(self, ident, g1, g2, P, complete):
        """Lists the haplotype pairs of one complete (or completed) genotype."""
        h = self.h
        het = [l for l in range(self.nloci) if g1[l] != g2[l]]
        if not het:
            k = self.num(g1)
            prob = 1.0 if complete else (h[k - 1] * h[k - 1] / P if P != 0 else 0.0)
            if complete or prob > self.pl:
                self.line(ident, 1, g1, prob)
                self.line(ident, 2, g1, prob)
            return
        for q in range(int(2 ** (len(het) - 1))):
            A, B = list(g1), list(g2)
            for j in range(len(het)):
                if q >> j & 1:
                    l = het[j]
                    A[l], B[l] = B[l], A[l]
            k1, k2 = self.num(A), self.num(B)
            prob = 2 * h[k1 - 1] * h[k2 - 1] / P if P != 0 else 0.0
            if prob > self.pl:
                self.line(ident, 1, A, prob)
                self.line(ident, 2, B, prob)

    def ch(self):
        self.put("\nAssignment of haplotypes by posterior probabilities\n")
        self.put("(ID[chromosome] haplotype, probability[cutoff=%s] id)\n\n" % cf("%f", self.pl))
        for r in self.recs:
            miss = self.missing(r)
            if r.hemi:
                if not miss:
                    self.line(r.id, 1, r.al, 1.0)
                    continue
                comps = list(self.completions(r, miss))
                P = 0.0
                for a in comps:
                    P += self.h[self.num(a) - 1]
                for a in comps:
                    prob = self.h[self.num(a) - 1] / P if P != 0 else 0.0
                    if prob > self.pl:
                        self.line(r.id, 1, a, prob)
            elif not miss:
                self.pairs(r.id, [a for a, _ in r.al], [b for _, b in r.al], r.gprob, True)
            else:
                for g1, g2 in self.completions(r, miss):
                    self.pairs(r.id, g1, g2, r.gprob, False)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--x', action='store_true', help='X-chromosome data (hfx)')
    ap.add_argument('--pl', help='posterior probability cutoff (default 0.001)')
    ap.add_argument('--out', default='out.hfo', help='output file name shown in the report')
    ap.add_argument('input')
    args = ap.parse_args()
    sys.setrecursionlimit(100000)
    precis = machine_precision()
    pl = 0.001
    if args.pl is not None:
        pl = atof(args.pl)
        if pl < precis:
            pl = precis
    sys.stdout.write("The input/output files are: %s/%s\n\n" % (args.input, args.out))
    try:
        loci, recs = read_input(args.input, args.x)
    except OSError:
        sys.stderr.write("Sorry, is there file called %s ?\n" % args.input)
        sys.exit(1)
    except ValueError as e:
        sys.stderr.write(str(e))
        return
    est = Estimator(loci, recs, args.x, precis, pl)
    est.ehm()
    est.sorted_table()
    est.ch()
    sys.stdout.write("".join(est.out))


if __name__ == '__main__':
    main()
