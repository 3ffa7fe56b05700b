// The report writer gives printf's bytes: every conversion of the report over
// values chosen to break a formatter (ties at each precision, negative
// zero, carries into a new digit, huge values, inf and nan) and many random
// doubles.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "repout.h"

namespace {

std::string viaprintf(double v, int prec, int width)
{
  char buf[512];
  snprintf(buf, sizeof buf, "%*.*f", width, prec, v);
  return buf;
}

std::string viawriter(double v, int prec, int width)
{
  std::string out;
  repout_t o(out);
  o.fixed(v, prec, width);
  o.flush();
  return out;
}

TEST(Writer, FixedPointAsPrintf)
{
  std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, 1.5, 2.5, -2.5, 0.125, 0.375, 9.995, 0.9999995,
                                999999.5, 0.0000005, -0.0000005, 0.005, 0.015, 0.025, 1e-300, DBL_MIN,
                                DBL_TRUE_MIN, DBL_MAX, -DBL_MAX, 1e22, 1e23, 4503599627370497.5,
                                9007199254740993.0, INFINITY, -INFINITY, NAN, -NAN, 1e-6, 0.009034365215,
                                -8.525, 12.345, 99.995, 0.45, 1.0 / 3, 2.0 / 3};
  // Every tie that a double can hold at each printed precision: k / 2^m.
  for (int m = 1; m <= 14; m++)
    for (int k = 1; k < 40; k += 2)
      values.push_back(k / std::ldexp(1.0, m));
  // Values that carry into a new leading digit: 9.99..95 and their neighbours.
  for (int d = 1; d <= 13; d++) {
    double v = std::pow(10.0, 2) - 5 * std::pow(10.0, -d - 1);
    values.push_back(v);
    values.push_back(std::nextafter(v, 0));
    values.push_back(std::nextafter(v, 1e9));
  }
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 200000; i++) {
    uint64_t bits = rng();
    double v;
    memcpy(&v, &bits, sizeof v);
    values.push_back(v);
    values.push_back(std::ldexp(static_cast<double>(rng() >> 11), -53 + static_cast<int>(rng() % 80) - 40));
  }
  long checked = 0;
  for (double v : values)
    for (int prec : {0, 2, 6, 12})
      for (int width : {0, 6}) {
        ASSERT_EQ(viawriter(v, prec, width), viaprintf(v, prec, width)) << v << " %" << width << "." << prec << "f";
        checked++;
      }
  EXPECT_GT(checked, 3000000);
}

TEST(Writer, IntegersAndLongTextAsPrintf)
{
  std::vector<long> values = {0, 1, -1, 9, 10, 99, 100, 12345, -12345, 2147483647L, -2147483648L, LONG_MAX, LONG_MIN};
  for (long v : values)
    for (int width : {0, 2, 3, 5, 9, 25}) {
      char buf[64];
      snprintf(buf, sizeof buf, "%*ld", width, v);
      std::string out;
      repout_t o(out);
      o.integer(v, width);
      o.flush();
      EXPECT_EQ(out, buf);
    }
  // Output past the buffer, in pieces and as one block, keeps its order.
  std::string out, expect;
  repout_t o(out);
  for (int i = 0; i < 30000; i++) {
    o.integer(i, 7);
    o.ch('\n');
    char buf[16];
    snprintf(buf, sizeof buf, "%7d\n", i);
    expect += buf;
  }
  std::string block(200000, 'x');
  o.text(block.data(), block.size());
  o.flush();
  EXPECT_EQ(out, expect + block);
}

} // namespace
