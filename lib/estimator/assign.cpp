// Posterior assignment: for every record, the haplotype pairs (or, for
// hemizygous records, the haplotypes) compatible with it whose posterior
// probability exceeds the cutoff pl. Records without missing alleles also
// enter every haplotype they can carry into the possible-haplotype tree.

#include <cstdio>
#include <cstring>
#include <vector>

#include "possible.h"
#include "report.h"

namespace {

struct assign_t {
  assign_t(hfstate_t &state, repout_t &out) : s(state), o(out) {}
  hfstate_t &s;
  repout_t &o;
  // The alleles of each listed haplotype as printed (" %2d" a locus, three
  // characters since alleles stay below 100), made at its first listing.
  // Past a bound of memory they are formatted at every listing instead.
  std::vector<char> alleletext;
  std::vector<char> made;

  void allocate()
  {
    size_t width = static_cast<size_t>(3 * s.nloci);
    if (s.hapk.size() * width <= (size_t(16) << 20)) {
      alleletext.resize(s.hapk.size() * width);
      made.assign(s.hapk.size(), 0);
    }
  }

  // The start of a record's lines, "%5d [", made once per record.
  char idtext[24] = {};
  size_t idlen = 0;

  void setid(int id)
  {
    char digits[16];
    char *end = digits + sizeof digits, *p = end;
    unsigned long u = id < 0 ? 0UL - static_cast<unsigned long>(id) : static_cast<unsigned long>(id);
    do {
      *--p = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    if (id < 0)
      *--p = '-';
    size_t len = static_cast<size_t>(end - p);
    size_t fill = len < 5 ? 5 - len : 0;
    memset(idtext, ' ', fill);
    memcpy(idtext + fill, p, len);
    memcpy(idtext + fill + len, " [", 2);
    idlen = fill + len + 2;
  }

  // One listed haplotype, given by its position in hapk.
  void printhap(int chromosome, int pos, double prob)
  {
    o.text(idtext, idlen);
    o.ch(static_cast<char>('0' + chromosome));
    o.ch(']');
    size_t width = static_cast<size_t>(3 * s.nloci);
    if (!made.empty()) {
      char *text = alleletext.data() + static_cast<size_t>(pos) * width;
      if (!made[pos]) {
        int16_t a[HF_MAXLOCI];
        hapalleles(s, s.hapk[pos], a);
        for (int l = 0; l < s.nloci; l++) {
          text[3 * l] = ' ';
          text[3 * l + 1] = a[l] < 10 ? ' ' : static_cast<char>('0' + a[l] / 10);
          text[3 * l + 2] = static_cast<char>('0' + a[l] % 10);
        }
        made[pos] = 1;
      }
      o.text(text, width);
    } else {
      int16_t a[HF_MAXLOCI];
      hapalleles(s, s.hapk[pos], a);
      for (int l = 0; l < s.nloci; l++) {
        o.ch(' ');
        o.integer(a[l], 2);
      }
    }
    o.ch(' ');
    o.fixed(prob, 6);
    o.ch(' ');
    o.integer(s.hapk[pos]);
    o.ch('\n');
  }

  // The tree serves only the listing of possible haplotypes, printed when
  // debug is set; otherwise it is not built.
  void insert(int pos)
  {
    if (!s.debug)
      return;
    int16_t a[HF_MAXLOCI];
    hapalleles(s, s.hapk[pos], a);
    s.hrt = hitree(s, s.hrt, s.hapk[pos], a);
  }

  void singles(int p)
  {
    const double *h = s.h.data();
    if (s.patterns[p].full) {
      forcompletions(s, p, [&](const compview_t &v) {
        printhap(1, v.a[0], 1.0);
        insert(v.a[0]);
      });
      return;
    }
    double P = 0;
    forcompletions(s, p, [&](const compview_t &v) { P += h[v.a[0]]; });
    forcompletions(s, p, [&](const compview_t &v) {
      double prob = P == 0 ? 0 : h[v.a[0]] / P;
      if (prob > s.pl)
        printhap(1, v.a[0], prob);
    });
  }

  // The pairs of every completion of a two-allele record, in the order of
  // completions and phases; each unordered pair once. A record without
  // missing alleles lists its homozygous genotype whatever the cutoff, and
  // enters all its pairs into the tree.
  void pairs(const geno_t &rec, int p)
  {
    const double *h = s.h.data();
    bool complete = s.patterns[p].full;
    double P = rec.gprob;
    forcompletions(s, p, [&](const compview_t &v) {
      if (v.hom) {
        int k = v.a[0];
        if (complete) {
          printhap(1, k, 1.0);
          printhap(2, k, 1.0);
          insert(k);
          insert(k);
        } else {
          double prob = P == 0 ? 0 : h[k] * h[k] / P;
          if (prob > s.pl) {
            printhap(1, k, prob);
            printhap(2, k, prob);
          }
        }
        return;
      }
      for (int t = 0; t < v.n; t++) {
        int k1 = v.a[t], k2 = v.b[t];
        double prob = P == 0 ? 0 : 2 * h[k1] * h[k2] / P;
        if (prob > s.pl) {
          printhap(1, k1, prob);
          printhap(2, k2, prob);
        }
        if (complete) {
          insert(k1);
          insert(k2);
        }
      }
    });
  }
};

} // namespace

void ch(hfstate_t &s, geno_t *table, repout_t &o)
{
  o.text("\nAssignment of haplotypes by posterior probabilities\n");
  o.text("(ID[chromosome] haplotype, probability[cutoff=");
  o.fixed(s.pl, 6);
  o.text("] id)\n\n");
  assign_t as(s, o);
  as.allocate();
  for (int i = 0; i < s.obscom; i++) {
    // The scratch of missing loci describes the record in hand.
    completion_t cp;
    as.setid(table[i].id);
    if (hemizygous(s, table[i])) {
      firstsingle(s, table[i], cp);
      as.singles(s.recpattern[i]);
    } else {
      firstpair(s, table[i], cp);
      as.pairs(table[i], s.recpattern[i]);
    }
  }
}
