#include "stats.h"

#include <cmath>
#include <limits>
#include <math.h>

double hs_normal_upper_as(double x)
{
  double a = fabs(x), tail = 0;
  if (a <= 12) {
    double t = 1 / (1 + 0.33267 * a);
    double phi = 0.39894228 * exp(-0.5 * a * a);
    tail = phi * t * (0.4361836 + t * (-0.1201676 + t * 0.937298));
  }
  return x >= 0 ? tail : 1 - tail;
}

double hs_chi2_upper_as(double x, int df)
{
  if (x <= 0 && df < 1)
    return 1;
  if (df == 1)
    return 2 * hs_normal_upper_as(sqrt(x));
  if (x > 169) {
    // Wilson-Hilferty: the cube root of chi-square/df is nearly normal.
    double f = 2.0 / (9 * df);
    double c = exp(log(x / df) / 3);
    return hs_normal_upper_as((c - 1 + f) / sqrt(f));
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
  double g = hs_normal_upper_as(s);
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

namespace {

// ln Gamma(a) for a > 0. lgamma itself sets the global signgam and so races
// between threads; lgamma_r returns the sign instead.
double log_gamma(double a)
{
  int sign;
  return lgamma_r(a, &sign);
}

// P(a, x) by its series, for x < a + 1.
double gamma_lower_series(double a, double x)
{
  double sum = 1.0 / a, term = sum;
  for (int n = 1; n < 100000; n++) {
    term *= x / (a + n);
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * 1e-17)
      break;
  }
  return sum * std::exp(-x + a * std::log(x) - log_gamma(a));
}

// Q(a, x) by its continued fraction, for x >= a + 1.
double gamma_upper_fraction(double a, double x)
{
  const double tiny = 1e-300;
  double b = x + 1.0 - a, c = 1.0 / tiny, d = 1.0 / b, f = d;
  for (int i = 1; i < 100000; i++) {
    double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < tiny)
      d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny)
      c = tiny;
    d = 1.0 / d;
    double delta = d * c;
    f *= delta;
    if (std::fabs(delta - 1.0) < 1e-16)
      break;
  }
  return std::exp(-x + a * std::log(x) - log_gamma(a)) * f;
}

} // namespace

double hs_chi2_upper(double x, int df)
{
  if (df < 1 || std::isnan(x))
    return std::numeric_limits<double>::quiet_NaN();
  if (x <= 0)
    return 1.0;
  if (std::isinf(x))
    return 0.0;
  double a = 0.5 * df, h = 0.5 * x;
  if (h < a + 1.0)
    return 1.0 - gamma_lower_series(a, h);
  return gamma_upper_fraction(a, h);
}

bool hs_casecontrol_z(double hca, double hco, double nca, double nco, double *z)
{
  double m = (nca * hca + nco * hco) / (nca + nco);
  double var = m * (1 - m) * (0.5 / nca + 0.5 / nco);
  if (!(var > 0))
    return false;
  *z = (hca - hco) / std::sqrt(var);
  return true;
}

double hs_permutation_p(long hits, long n)
{
  return static_cast<double>(hits + 1) / static_cast<double>(n + 1);
}

hs_fraction_t hs_fraction_p(int hits, int n)
{
  hs_fraction_t v;
  v.p = static_cast<float>(hits) / n;
  v.se = static_cast<float>(sqrt((1 - v.p) * v.p / n));
  return v;
}
