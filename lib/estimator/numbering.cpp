#include "hf.h"

int linenum(const hfstate_t &s, const int *nall, const int16_t *a)
{
  int number = 0;
  for (int l = 0; l < s.nloci - 1; l++)
    number = (number + a[l] - 1) * nall[l + 1];
  return number + a[s.nloci - 1];
}

int linenums(const hfstate_t &s, const int *nall, const int16_t *a)
{
  return linenum(s, nall, a);
}

void digitm(const int16_t *maxima, int16_t *digits, int k)
{
  for (;;) {
    if (digits[k] < maxima[k]) {
      digits[k]++;
      return;
    }
    digits[k] = 0;
    digits[k + 1]++;
    if (digits[k + 1] <= maxima[k + 1])
      return;
    k++;
  }
}

void digit2(int maximum, int16_t *digits, int k)
{
  for (;;) {
    if (digits[k] < maximum) {
      digits[k]++;
      return;
    }
    digits[k] = 0;
    digits[k + 1]++;
    if (digits[k + 1] <= maximum)
      return;
    k++;
  }
}
