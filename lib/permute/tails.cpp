// Upper tail probabilities of the standard normal and chi-square
// distributions, for the asymptotic p values of the haplotype tables.

#include <cmath>

#include "hfp.h"

// Rational approximation 26.2.16 of Abramowitz and Stegun; absolute error
// below 1e-5.
double probnorm(double x)
{
  double a = fabs(x), tail = 0;
  if (a <= 12) {
    double t = 1 / (1 + 0.33267 * a);
    double phi = 0.39894228 * exp(-0.5 * a * a);
    tail = phi * t * (0.4361836 + t * (-0.1201676 + t * 0.937298));
  }
  return x >= 0 ? tail : 1 - tail;
}

double probchi(double x, int df)
{
  if (x <= 0 && df < 1)
    return 1;
  if (df == 1)
    return 2 * probnorm(sqrt(x));
  if (x > 169) {
    // Wilson-Hilferty: the cube root of chi-square/df is nearly normal.
    double f = 2.0 / (9 * df);
    double c = exp(log(x / df) / 3);
    return probnorm((c - 1 + f) / sqrt(f));
  }
  if (df == 2)
    return exp(-x / 2);
  if ((df - 1) / 2 == (df - 2) / 2) {
    int n = (df - 2) / 2;
    double term = 1, sum = 1;
    for (int i = 1; i <= n; i++) {
      term = term * (x / 2) / i;
      sum += term;
    }
    return exp(-x / 2) * sum;
  }
  double s = sqrt(x);
  double phi = 0.39894228 * exp(-x / 2);
  double g = probnorm(s);
  if (df == 3)
    return 2 * (phi * s + g);
  int k = (df - 1) / 2 - 1;
  double term = s, h = s;
  for (int i = 1; i <= k; i++) {
    term = term * x / (2 * i + 1);
    h += term;
  }
  return 2 * (phi * h + g);
}
