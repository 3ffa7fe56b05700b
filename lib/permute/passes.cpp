// The passes on their workers. The main thread copies each pass's
// arrangement of individuals into a slot, draws the next permutation, and
// folds the results back strictly in pass order; the workers take the
// slots in pass order and compute their statistics. The permutations never
// depend on the estimates, so the draws, and with them the report, are
// those of a single run for any number of workers.

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "hfp.h"

namespace {

struct slot_t {
  std::vector<indiv_t> people;
  passresult_t result;
  bool done = false;
};

std::mutex mu;
std::condition_variable work, ready;
std::vector<slot_t> slots;
std::vector<std::thread> threads;
int submitted = 0, claimed = 0;
int firstfailed = INT_MAX; // no pass after a failed one is started
bool stopping = false;

void workerloop(int worker)
{
  setworkerthread();
  for (;;) {
    int pass;
    {
      std::unique_lock<std::mutex> lock(mu);
      work.wait(lock, [] { return stopping || (claimed < submitted && claimed <= firstfailed); });
      if (stopping)
        return;
      pass = claimed++;
    }
    slot_t &slot = slots[static_cast<size_t>(pass) % slots.size()];
    passresult_t r;
    try {
      computepass(worker, slot.people.data(), pass, r);
    } catch (const hfpabort &e) {
      r.error = e.what();
      r.status = e.status;
      r.interrupted = e.interrupted;
    } catch (const std::bad_alloc &) {
      r.error = "Sorry, but I cannot allocate memory\n";
      r.status = -1;
    }
    {
      std::lock_guard<std::mutex> lock(mu);
      if (r.interrupted || !r.error.empty())
        firstfailed = std::min(firstfailed, pass);
      slot.result = std::move(r);
      slot.done = true;
    }
    ready.notify_all();
  }
}

// Ends the run for a failed or interrupted pass, as a single run would at
// that pass.
[[noreturn]] void endrun(const passresult_t &r)
{
  stopworkers();
  int sig = interruption();
  if (sig != 0 || r.interrupted) {
    removetemps();
    reraise(sig != 0 ? sig : SIGTERM);
  }
  fflush(stdout);
  fputs(r.error.c_str(), stderr);
  removetemps();
  exit(r.status);
}

} // namespace

void stopworkers()
{
  if (threads.empty())
    return;
  abandonruns();
  {
    std::lock_guard<std::mutex> lock(mu);
    stopping = true;
  }
  work.notify_all();
  for (std::thread &t : threads)
    t.join();
  threads.clear();
}

void runpasses(int workers, void (*draw)(int pass), void (*fold)(int pass, const passresult_t &r))
{
  // Two slots per worker: one being computed, one ready for it.
  slots = std::vector<slot_t>(static_cast<size_t>(2 * workers));
  size_t nslots = slots.size();
  submitted = claimed = 0;
  firstfailed = INT_MAX;
  stopping = false;
  for (int w = 0; w < workers; w++)
    threads.emplace_back(workerloop, w);

  int folded = 0;
  // Folds the next pass; waits for it only when wait is set.
  auto foldnext = [&](bool wait) {
    slot_t &slot = slots[static_cast<size_t>(folded) % nslots];
    {
      std::unique_lock<std::mutex> lock(mu);
      if (!slot.done && !wait)
        return false;
      ready.wait(lock, [&] { return slot.done; });
    }
    if (slot.result.interrupted || !slot.result.error.empty())
      endrun(slot.result);
    fold(folded, slot.result);
    slot.result = passresult_t();
    folded++;
    return true;
  };

  try {
    for (int pass = 0; pass <= npermute; pass++) {
      while (pass - folded >= static_cast<int>(nslots))
        foldnext(true);
      while (folded < pass && foldnext(false)) {
      }
      slot_t &slot = slots[static_cast<size_t>(pass) % nslots];
      slot.people.assign(individuals, individuals + sample_size);
      {
        std::lock_guard<std::mutex> lock(mu);
        slot.done = false;
        submitted = pass + 1;
      }
      work.notify_one();
      draw(pass);
    }
    while (folded <= npermute)
      foldnext(true);
  } catch (const std::bad_alloc &) {
    passresult_t r;
    r.error = "Sorry, but I cannot allocate memory\n";
    r.status = -1;
    endrun(r);
  }
  stopworkers();
  slots.clear();
}
