// Estimations in threads: states share nothing, so eight threads running
// different inputs fifty times each get exactly the sequential results.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hflib.h"

namespace {

struct sample_t {
  int xdata;
  std::vector<int> alleles;
  std::vector<geno_t> records;
};

// A small deterministic sample: missing alleles, several alleles per locus,
// and for X data one-allele males.
sample_t makesample(unsigned seed, int xdata)
{
  sample_t s;
  s.xdata = xdata;
  unsigned x = seed * 2654435761u + 1;
  auto next = [&] { return (x = x * 1103515245u + 12345u) >> 16; };
  int nloci = 2 + static_cast<int>(next() % 4);
  for (int l = 0; l < nloci; l++)
    s.alleles.push_back(2 + static_cast<int>(next() % 3));
  for (int i = 0; i < 60; i++) {
    geno_t g = {};
    g.id = i + 1;
    g.instances = 1 + next() % 3;
    g.sex = static_cast<int16_t>(xdata ? next() % 2 : 0);
    for (int l = 0; l < nloci; l++) {
      int n = s.alleles[l];
      int a = next() % 10 == 0 ? 0 : 1 + static_cast<int>(next() % n);
      int b = 1 + static_cast<int>(next() % n);
      if (xdata && g.sex == 0) {
        g.allele[l] = static_cast<int16_t>(a);
      } else {
        g.allele[2 * l] = static_cast<int16_t>(a < b ? a : b);
        g.allele[2 * l + 1] = static_cast<int16_t>(a < b ? b : a);
      }
    }
    s.records.push_back(g);
  }
  return s;
}

// The report and the results of one estimation, as one text.
std::string estimate(const sample_t &in)
{
  std::unique_ptr<hfstate_t, void (*)(hfstate_t *)> s(hf_new(in.xdata), hf_free);
  if (hf_set_data(s.get(), in.alleles.data(), static_cast<int>(in.alleles.size()), in.records.data(),
                  in.records.size()) != HF_OK ||
      hf_estimate(s.get()) != HF_OK)
    return std::string("failed: ") + hf_message(s.get());
  std::string out;
  hf_report_string(s.get(), HF_REPORT_ALL, out);
  const hf_result_t *r = hf_result(s.get());
  char line[200];
  snprintf(line, sizeof line, "%a %a %d %d %d\n", r->ll0, r->ll1, r->df, r->iterations, r->capped);
  return out + line;
}

TEST(Threads, EightThreadsGetTheSequentialResults)
{
  const int nthreads = 8, reps = 50;
  std::vector<sample_t> samples;
  std::vector<std::string> expect;
  for (int t = 0; t < nthreads; t++) {
    samples.push_back(makesample(static_cast<unsigned>(t), t % 2));
    expect.push_back(estimate(samples.back()));
    ASSERT_EQ(expect.back().rfind("failed", 0), std::string::npos) << expect.back();
  }
  std::vector<int> mismatches(nthreads, 0);
  std::vector<std::thread> pool;
  for (int t = 0; t < nthreads; t++)
    pool.emplace_back([&, t] {
      for (int r = 0; r < reps; r++)
        if (estimate(samples[t]) != expect[t])
          mismatches[t]++;
    });
  for (auto &th : pool)
    th.join();
  for (int t = 0; t < nthreads; t++)
    EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

} // namespace
