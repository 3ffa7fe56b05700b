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
uint64_t rng_below(rng_t &r, uint64_t n)
{
  const uint64_t threshold = (0 - n) % n;
  for (;;) {
    uint64_t x = rng_next(r);
    if (x >= threshold)
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

// A stream apart from every window's: the seed is first mixed with a
// constant of its own ("max-t" in ASCII), then with k as a window's stream
// is with its first marker.
rng_t rng_for_permutation(uint64_t seed, uint64_t k)
{
  return rng_for_window(seed ^ 0x6d61782d74ULL, k);
}
