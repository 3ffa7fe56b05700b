// The passes on their workers. The main thread copies each pass's
// arrangement of individuals into a slot, draws the next permutation, and
// folds the results back strictly in pass order; the workers take the
// slots in pass order and compute their statistics. The permutations never
// depend on the estimates, so the draws, and with them the report, are
// those of a single run for any number of workers.

#include <algorithm>
#include <climits>
#include <csignal>
#include <functional>
#include <new>

#include "hfp.h"

namespace {

void workerloop(hfp_t &s, int worker)
{
  passpool_t &p = s.pool;
  for (;;) {
    int pass;
    {
      std::unique_lock<std::mutex> lock(p.mu);
      p.work.wait(lock, [&] { return p.stopping || (p.claimed < p.submitted && p.claimed <= p.firstfailed); });
      if (p.stopping)
        return;
      pass = p.claimed++;
    }
    passslot_t &slot = p.slots[static_cast<size_t>(pass) % p.slots.size()];
    passresult_t r;
    try {
      computepass(s, worker, slot.people.data(), pass, r);
    } catch (const hfpabort &e) {
      r.error = e.what();
      r.status = e.status;
      r.interrupted = e.interrupted;
    } catch (const std::bad_alloc &) {
      r.error = HFP_NOMEMORY;
      r.status = -1;
    }
    {
      std::lock_guard<std::mutex> lock(p.mu);
      if (r.interrupted || !r.error.empty())
        p.firstfailed = std::min(p.firstfailed, pass);
      slot.result = std::move(r);
      slot.done = true;
    }
    p.ready.notify_all();
  }
}

// Ends the run for a failed or interrupted pass, as a single run would at
// that pass: an interruption carries its signal (SIGTERM for runs
// abandoned without one).
[[noreturn]] void endrun(hfp_t &s, const passresult_t &r)
{
  stopworkers(s);
  int sig = interruption(s);
  if (sig != 0 || r.interrupted)
    throw hfpabort("", sig != 0 ? sig : SIGTERM, true);
  throw hfpabort(r.error, r.status);
}

} // namespace

void stopworkers(hfp_t &s)
{
  passpool_t &p = s.pool;
  if (p.threads.empty())
    return;
  abandonruns(s);
  {
    std::lock_guard<std::mutex> lock(p.mu);
    p.stopping = true;
  }
  p.work.notify_all();
  for (std::thread &t : p.threads)
    t.join();
  p.threads.clear();
}

void runpasses(hfp_t &s, int workers, void (*draw)(hfp_t &, int pass),
               void (*fold)(hfp_t &, int pass, const passresult_t &r))
{
  passpool_t &p = s.pool;
  // Two slots per worker: one being computed, one ready for it.
  p.slots = std::vector<passslot_t>(static_cast<size_t>(2 * workers));
  size_t nslots = p.slots.size();
  p.submitted = p.claimed = 0;
  p.firstfailed = INT_MAX;
  p.stopping = false;
  for (int w = 0; w < workers; w++)
    p.threads.emplace_back(workerloop, std::ref(s), w);

  int folded = 0;
  // Folds the next pass; waits for it only when wait is set.
  auto foldnext = [&](bool wait) {
    passslot_t &slot = p.slots[static_cast<size_t>(folded) % nslots];
    {
      std::unique_lock<std::mutex> lock(p.mu);
      if (!slot.done && !wait)
        return false;
      p.ready.wait(lock, [&] { return slot.done; });
    }
    if (slot.result.interrupted || !slot.result.error.empty())
      endrun(s, slot.result);
    fold(s, folded, slot.result);
    slot.result = passresult_t();
    folded++;
    return true;
  };

  try {
    for (int pass = 0; pass <= s.npermute; pass++) {
      while (pass - folded >= static_cast<int>(nslots))
        foldnext(true);
      while (folded < pass && foldnext(false)) {
      }
      passslot_t &slot = p.slots[static_cast<size_t>(pass) % nslots];
      slot.people.assign(s.individuals.begin(), s.individuals.end());
      {
        std::lock_guard<std::mutex> lock(p.mu);
        slot.done = false;
        p.submitted = pass + 1;
      }
      p.work.notify_one();
      draw(s, pass);
    }
    while (folded <= s.npermute)
      foldnext(true);
  } catch (const std::bad_alloc &) {
    passresult_t r;
    r.error = HFP_NOMEMORY;
    r.status = -1;
    endrun(s, r);
  }
  stopworkers(s);
  p.slots.clear();
}
