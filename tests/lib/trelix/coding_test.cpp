#include <gtest/gtest.h>

#include "txlib.h"

TEST(Coding, PairsAndCodesCorrespondOneToOne)
{
  EXPECT_EQ(tx_a2g(3, 1), 4);
  EXPECT_EQ(tx_a2g(1, 3), 4);
  EXPECT_EQ(tx_a2g(50, 50), 1275);
  // A missing allele, 0 or negative, makes the whole locus missing.
  EXPECT_EQ(tx_a2g(0, 7), 0);
  EXPECT_EQ(tx_a2g(-1, 3), 0);
  EXPECT_EQ(tx_a2g(-1, 0), 0);

  int a = -9, b = -9;
  tx_g2a(0, &a, &b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);
  // All pairs up to 50/50, ordered by larger then smaller allele, take the
  // codes 1 ... 1275 without gaps and decode back, smaller allele first.
  int code = 0;
  for (int hi = 1; hi <= TX_MAXALLELES; hi++)
    for (int lo = 1; lo <= hi; lo++) {
      ASSERT_EQ(tx_a2g(hi, lo), ++code);
      tx_g2a(code, &a, &b);
      ASSERT_TRUE(a == lo && b == hi) << "code " << code << " gives " << a << "/" << b;
    }
  EXPECT_EQ(code, TX_MAXCODE);
}
