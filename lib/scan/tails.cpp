// The chi-square upper tail, P(X > x) for X with df degrees of freedom, is
// the regularised upper incomplete gamma function Q(df/2, x/2). The series
// serves below a + 1, the continued fraction (modified Lentz) above, both
// to full double precision; the result stays exact in relative terms deep
// into the tail, where disequilibrium tests of strongly linked markers live.

#include <cmath>
#include <math.h>
#include <limits>

#include "scan.h"

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

double chi2_upper(double x, int df)
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
