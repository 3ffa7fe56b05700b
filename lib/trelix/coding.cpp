// Genotype codes: the unordered allele pairs numbered by the larger allele,
// then the smaller: (1,1)=1, (1,2)=2, (2,2)=3, (1,3)=4, ... (50,50)=1275.

#include <cmath>
#include <utility>

#include "txlib.h"

int tx_a2g(int a, int b)
{
  if (b < a)
    std::swap(a, b);
  if (a <= 0)
    return 0;
  return a + b * (b - 1) / 2;
}

void tx_g2a(int g, int *a, int *b)
{
  if (g == 0) {
    *a = *b = 0;
    return;
  }
  // The larger allele is the b with b(b-1)/2 < g <= b(b+1)/2.
  *b = static_cast<int>((sqrt(8.0 * g - 7) - 1) / 2) + 1;
  *a = g - *b * (*b - 1) / 2;
}
