// Random draws of the permutations. The generator is xoshiro256** (Blackman
// and Vigna), a fixed, portable sequence of 64-bit integer operations, so
// the same seed gives the same permutations with any compiler, library or
// machine; rand() would tie the results to one C library.

#include "scan.h"

namespace {

uint64_t splitmix64(uint64_t &x)
{
  uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

uint64_t rotl(uint64_t x, int k)
{
  return (x << k) | (x >> (64 - k));
}

} // namespace

// The window's stream: splitmix64 of the run's seed, mixed with the input
// index of the window's first marker, expands into the four state words.
// Distinct windows thus get unrelated streams, and a window's stream does
// not depend on which thread, chunk or run computes it.
rng_t rng_for_window(uint64_t seed, uint64_t first_index)
{
  uint64_t x = seed;
  uint64_t mixed = splitmix64(x) ^ first_index;
  rng_t r;
  for (uint64_t &w : r.s)
    w = splitmix64(mixed);
  return r;
}

uint64_t rng_next(rng_t &r)
{
  uint64_t *s = r.s;
  const uint64_t result = rotl(s[1] * 5, 7) * 9;
  const uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotl(s[3], 45);
  return result;
}

// Rejection keeps every value equally likely: the draws below the threshold
// (2^64 mod n of them) are the ones that would make the low residues more
// frequent, and are drawn again.
//
// The threshold is below n, so a draw of at least n is kept without it: the
// threshold's division is made only for the rare draw below n (the same
// draws are kept as always; one division per draw is saved).
uint64_t rng_below(rng_t &r, uint64_t n)
{
  for (;;) {
    uint64_t x = rng_next(r);
    if (x >= n || x >= (0 - n) % n)
      return x % n;
  }
}

// Fisher-Yates: position j takes a uniform draw among positions 0 .. j, so
// each of the n! orders is equally likely.
void rng_shuffle(rng_t &r, std::vector<int8_t> &v)
{
  for (size_t j = v.size(); j > 1; j--) {
    size_t g = static_cast<size_t>(rng_below(r, j));
    std::swap(v[j - 1], v[g]);
  }
}

void rng_shuffle(rng_t &r, uint32_t *v, size_t n)
{
  for (size_t j = n; j > 1; j--) {
    size_t g = static_cast<size_t>(rng_below(r, j));
    std::swap(v[j - 1], v[g]);
  }
}

// The remainder by multiplication (Lemire, Kaser and Kurz 2019, "Faster
// remainder by direct computation", Software: Practice and Experience
// 49:953, Theorem 1 with F = 128 fraction bits, N = 64): with
// c = ceil(2^128 / d), x mod d = ((c x mod 2^128) d) >> 128 exactly for
// every 64-bit x and 2 <= d < 2^64.
void rng_moduli_t::reach(size_t n)
{
  while (c.size() <= n) {
    unsigned __int128 d = c.size() < 2 ? 2 : c.size();
    c.push_back(~static_cast<unsigned __int128>(0) / d + 1);
  }
}

namespace {

uint64_t remainder_of(uint64_t x, unsigned __int128 c, uint64_t d)
{
  unsigned __int128 low = c * x;  // mod 2^128
  unsigned __int128 bottom = (low & UINT64_MAX) * d;
  unsigned __int128 top = (low >> 64) * d;
  return static_cast<uint64_t>((top + (bottom >> 64)) >> 64);
}

} // namespace

void rng_shuffle(rng_t &r, uint32_t *v, size_t n, const rng_moduli_t &mod)
{
  for (size_t j = n; j > 1; j--) {
    // rng_below(r, j), its division by multiplication.
    uint64_t x = rng_next(r);
    size_t g;
    if (x >= j)
      g = static_cast<size_t>(remainder_of(x, mod.c[j], j));
    else {
      while (x < (0 - static_cast<uint64_t>(j)) % j)
        x = rng_next(r);
      g = static_cast<size_t>(x % j);
    }
    std::swap(v[j - 1], v[g]);
  }
}

// A stream apart from every window's: the seed is first mixed with a
// constant of its own ("max-t" in ASCII), then with k as a window's stream
// is with its first marker.
rng_t rng_for_permutation(uint64_t seed, uint64_t k)
{
  return rng_for_window(seed ^ 0x6d61782d74ULL, k);
}
