#include "repout.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

const double pow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
const uint64_t ipow10[] = {1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL, 10000000ULL, 100000000ULL,
                           1000000000ULL, 10000000000ULL, 100000000000ULL, 1000000000000ULL, 10000000000000ULL,
                           100000000000000ULL, 1000000000000000ULL, 10000000000000000ULL, 100000000000000000ULL};

// The decimal digits of u, right to left ending at end; returns the first.
char *digitsof(uint64_t u, char *end)
{
  do {
    *--end = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  return end;
}

} // namespace

void repout_t::slowtext(const char *s, size_t n)
{
  flush();
  if (n <= sizeof buf_ / 2) {
    memcpy(buf_, s, n);
    n_ = n;
    return;
  }
  if (str_)
    str_->append(s, n);
  else if (!failed_ && fwrite(s, 1, n, file_) != n)
    failed_ = true;
}

// An item of len bytes at p, right-aligned in width.
void repout_t::item(const char *p, size_t len, int width)
{
  size_t fill = width > 0 && len < static_cast<size_t>(width) ? static_cast<size_t>(width) - len : 0;
  room(fill + len);
  char *q = buf_ + n_;
  for (size_t i = 0; i < fill; i++)
    *q++ = ' ';
  for (size_t i = 0; i < len; i++)
    *q++ = p[i];
  n_ += fill + len;
}

void repout_t::wideinteger(long v, int width)
{
  char digits[24];
  char *end = digits + sizeof digits;
  unsigned long u = v < 0 ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
  char *p = digitsof(u, end);
  if (v < 0)
    *--p = '-';
  item(p, static_cast<size_t>(end - p), width);
}

void repout_t::fixed(double v, int prec, int width)
{
  // Most values of a report are small: the exact value times 10^prec,
  // rounded to the nearest integer, gives the digits. The product in double
  // precision is within half an ulp of the exact one, so its rounding is
  // the exact one's unless it lies within an ulp of a half; those values,
  // and large, infinite and undefined ones, go to std::to_chars.
  if (prec >= 0 && prec <= 17 && std::isfinite(v)) {
    bool negative = std::signbit(v);
    double a = negative ? -v : v;
    double y = a * pow10[prec];
    if (y < 1125899906842624.0) { // 2^50
      uint64_t whole = static_cast<uint64_t>(y); // the floor: y is not negative
      double d = y - static_cast<double>(whole);  // exact below 2^52
      double margin = y * 0x1p-50 + 0x1p-60;
      if (d < 0.5 - margin || d > 0.5 + margin) {
        uint64_t n = whole + (d > 0.5);
        char digits[48];
        char *end = digits + sizeof digits, *p = end;
        if (prec > 0) {
          uint64_t frac = n % ipow10[prec];
          n /= ipow10[prec];
          for (int i = 0; i < prec; i++) {
            *--p = static_cast<char>('0' + frac % 10);
            frac /= 10;
          }
          *--p = '.';
        }
        p = digitsof(n, p);
        if (negative)
          *--p = '-';
        item(p, static_cast<size_t>(end - p), width);
        return;
      }
    }
  }
  char text[maxitem];
  auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, prec);
  item(text, static_cast<size_t>(r.ptr - text), width);
}

bool repout_t::flush()
{
  if (n_ > 0) {
    if (str_)
      str_->append(buf_, n_);
    else if (!failed_ && fwrite(buf_, 1, n_, file_) != n_)
      failed_ = true;
    n_ = 0;
  }
  return !failed_;
}
