#include "enumerate.h"

#include <climits>
#include <cmath>

int hetloci(const hfstate_t &s, const int16_t *a1, const int16_t *a2, int *het)
{
  int m = 0;
  for (int l = 0; l < s.nloci; l++)
    if (a1[l] != a2[l])
      het[m++] = l;
  return m;
}

void phasepair(const hfstate_t &s, const int16_t *a1, const int16_t *a2, const int *het, int m, const int16_t *digits,
               int16_t *A, int16_t *B)
{
  for (int l = 0; l < s.nloci; l++) {
    A[l] = a1[l];
    B[l] = a2[l];
  }
  for (int j = 0; j < m - 1; j++)
    if (digits[j]) {
      int l = het[j];
      A[l] = a2[l];
      B[l] = a1[l];
    }
}

// 2^(m - 1) phases for m heterozygous loci (0 for none), in an int.
int nphases(int m)
{
  if (m <= 0)
    return 0;
  return m - 1 < 31 ? 1 << (m - 1) : INT_MAX;
}

int firstpair(hfstate_t &s, const geno_t &rec, completion_t &cp)
{
  cp.nmiss = 0;
  for (int l = 0; l < s.nloci; l++) {
    int a = rec.allele[2 * l], b = rec.allele[2 * l + 1];
    s.idm[l] = 0;
    if (allelemissing(s, a, l) || allelemissing(s, b, l)) {
      s.idm[l] = 1;
      s.locim[cp.nmiss] = s.loci[l];
      cp.miss[cp.nmiss++] = l;
      cp.a1[l] = 1;
      cp.a2[l] = 1;
    } else {
      cp.a1[l] = static_cast<int16_t>(a);
      cp.a2[l] = static_cast<int16_t>(b);
    }
  }
  s.nlocim = cp.nmiss;
  return cp.nmiss;
}

bool nextpair(const hfstate_t &s, completion_t &cp)
{
  for (int j = cp.nmiss - 1; j >= 0; j--) {
    int l = cp.miss[j];
    if (cp.a1[l] < cp.a2[l]) {
      cp.a1[l]++;
      return true;
    }
    if (cp.a2[l] < s.loci[l]) {
      cp.a2[l]++;
      cp.a1[l] = 1;
      return true;
    }
    cp.a1[l] = 1;
    cp.a2[l] = 1;
  }
  return false;
}

int firstsingle(hfstate_t &s, const geno_t &rec, completion_t &cp)
{
  cp.nmiss = 0;
  for (int l = 0; l < s.nloci; l++) {
    int a = rec.allele[l];
    s.idm[l] = 0;
    if (allelemissing(s, a, l)) {
      s.idm[l] = 1;
      s.locim[cp.nmiss] = s.loci[l];
      cp.miss[cp.nmiss++] = l;
      cp.a1[l] = 1;
    } else {
      cp.a1[l] = static_cast<int16_t>(a);
    }
  }
  s.nlocim = cp.nmiss;
  return cp.nmiss;
}

bool nextsingle(const hfstate_t &s, completion_t &cp)
{
  for (int j = cp.nmiss - 1; j >= 0; j--) {
    int l = cp.miss[j];
    if (cp.a1[l] < s.loci[l]) {
      cp.a1[l]++;
      return true;
    }
    cp.a1[l] = 1;
  }
  return false;
}
