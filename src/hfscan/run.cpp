// The run: open the input, find the windows of this part, number each
// marker once as it streams past, hand the windows to a pool of threads
// and write their rows in marker order.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include <sys/stat.h>

#include "run_log.h"
#include "scan.h"
#include "start.h"

#include "hfscan.h"
namespace {

using markers_t = std::vector<std::shared_ptr<const scan_marker_t>>;

struct job_t {
  size_t seq;
  markers_t ms;
};

struct done_t {
  std::string text;
  bool ok;
  long permutations;
  std::string status;
  double p = 0;      // --max-t: the observed p value of the shared permutations, NaN for none
  scan_row_t row;    // --max-t in a single run: the row, written once fwer_p is known
};

// The row of one window, formatted.
done_t run_window(scan_worker_t *w, const scan_settings_t &set, const std::vector<sample_t> &samples,
                  const markers_t &ms)
{
  done_t d;
  try {
    scan_row_t row = scan_window(w, set, samples, ms);
    d.ok = row.status == "ok";
    d.permutations = std::max(row.perm_n, 0L);
    if (set.maxt) {
      d.p = d.ok && row.perm_n > 0 ? row.assoc_p : std::nan("");
      d.row = row;
    }
    d.text = scan_format(row);
    d.status = std::move(row.status);
  } catch (const std::bad_alloc &) {
    // scan_window keeps a window's own exhaustion in its row; failing
    // to format the row leaves an empty text, which ends the run.
    d.ok = false;
    d.permutations = 0;
    d.text.clear();
  }
  return d;
}

// The windows in flight. The reader queues at most DEPTH windows per
// thread and is woken when half of them are taken or the queue runs dry,
// not for every window; finished rows wait until every earlier row is
// written, and the reader stays at most AHEAD windows ahead of the writer,
// so memory stays bounded when one window takes long.
struct pool_t {
  const scan_settings_t &set;
  const std::vector<sample_t> &samples;
  std::mutex mu;
  std::condition_variable work, progress;
  std::deque<job_t> queue;
  std::map<size_t, done_t> done;
  size_t completed = 0;
  bool closing = false;
  std::vector<std::thread> threads;
  static const size_t AHEAD = 65536;
  static const size_t DEPTH = 4;
  const size_t nthreads;

  pool_t(const scan_settings_t &s, const std::vector<sample_t> &smp, int jobs)
      : set(s), samples(smp), nthreads(static_cast<size_t>(jobs))
  {
    for (int t = 0; t < jobs; t++)
      threads.emplace_back([this] { serve(); });
  }
  ~pool_t()
  {
    {
      std::lock_guard<std::mutex> lock(mu);
      closing = true;
      queue.clear();
    }
    work.notify_all();
    for (std::thread &t : threads)
      t.join();
  }

  void serve()
  {
    scan_worker_t *w = scan_worker_new();
    for (;;) {
      job_t job;
      bool wake;
      {
        std::unique_lock<std::mutex> lock(mu);
        work.wait(lock, [this] { return closing || !queue.empty(); });
        if (closing)
          break;
        job = std::move(queue.front());
        queue.pop_front();
        wake = queue.size() == DEPTH / 2 * nthreads || queue.empty();
      }
      if (wake)
        progress.notify_all();
      done_t d = run_window(w, set, samples, job.ms);
      job.ms.clear();
      {
        std::lock_guard<std::mutex> lock(mu);
        done[job.seq] = std::move(d);
        completed++;
        wake = queue.empty();
      }
      if (wake)
        progress.notify_all();
    }
    scan_worker_free(w);
  }
};

const std::chrono::milliseconds TICK(250);

struct tally_t {
  size_t ok = 0, flagged = 0;
  long permutations = 0;
  size_t x_het_calls = 0, x_het_markers = 0;  // male heterozygous X calls, read as missing
  size_t unusable = 0;                        // markers read that no window can use
  std::map<std::string, size_t> reasons;      // windows with a status, by its reason
  bool hold = false;               // --max-t, single run: rows wait for fwer_p
  std::vector<scan_row_t> rows;    // the rows held
  std::vector<double> window_p;    // --max-t: each window's observed p value
};

// A window's status without the figures in brackets that some carry, so
// that windows stopped for one reason count together.
std::string reason_of(const std::string &status)
{
  size_t open = status.find(" (");
  return open != std::string::npos && status.back() == ')' ? status.substr(0, open) : status;
}

// Counts the heterozygous calls of males at a marker of the X chromosome,
// which the X estimator takes as missing.
void count_x_het(const scan_marker_t &sm, const std::vector<sample_t> &samples, tally_t &tally)
{
  if (!sm.problem.empty() || !x_chromosome(sm.m.chrom))
    return;
  size_t calls = 0;
  for (size_t i = 0; i < samples.size(); i++)
    calls += samples[i].sex == SEX_MALE && sm.first(i) > 0 && sm.first(i) != sm.second(i);
  tally.x_het_calls += calls;
  tally.x_het_markers += calls > 0;
}

// Writes a finished row (or holds it for fwer_p) and counts it.
void write_row(done_t &d, const scan_settings_t &set, atomic_output_t &out, tally_t &tally)
{
  if (d.text.empty())
    throw std::bad_alloc();
  if (set.maxt)
    tally.window_p.push_back(d.p);
  if (tally.hold)
    tally.rows.push_back(std::move(d.row));
  else
    out.write(d.text);
  (d.ok ? tally.ok : tally.flagged)++;
  if (!d.ok)
    tally.reasons[reason_of(d.status)]++;
  tally.permutations += d.permutations;
}

// Writes every finished row that follows the rows written; returns how many
// rows are written now.
size_t write_ready(pool_t &pool, size_t next, atomic_output_t &out, tally_t &tally)
{
  for (;;) {
    done_t d;
    {
      std::lock_guard<std::mutex> lock(pool.mu);
      auto it = pool.done.find(next);
      if (it == pool.done.end())
        return next;
      d = std::move(it->second);
      pool.done.erase(it);
    }
    write_row(d, pool.set, out, tally);
    next++;
  }
}

void scan_windows(marker_source_t &src, const std::vector<size_t> &starts, size_t lo, size_t hi,
                  const scan_options_t &o, const scan_settings_t &set,
                  const std::vector<sample_t> &samples, atomic_output_t &out, tally_t &tally)
{
  progress_t bar;
  bar.begin(hi - lo, !o.quiet);
  // One thread reads and estimates in turn, without a pool to hand the
  // windows over to.
  const bool alone = o.jobs == 1;
  std::unique_ptr<pool_t> pooled(alone ? nullptr : new pool_t(set, samples, o.jobs));
  std::unique_ptr<scan_worker_t, void (*)(scan_worker_t *)> worker(alone ? scan_worker_new() : nullptr,
                                                                   scan_worker_free);
  std::deque<std::shared_ptr<const scan_marker_t>> ring;  // kept markers [ring_lo, next_read)
  size_t ring_lo = 0, next_read = 0, written = lo;
  const size_t k = static_cast<size_t>(o.window);
  marker_calls_t mc;
  markers_t ms;
  for (size_t seq = lo; seq < hi; seq++) {
    const size_t s = starts[seq];
    while (!ring.empty() && ring_lo < s) {
      ring.pop_front();
      ring_lo++;
    }
    if (ring.empty() && next_read < s) {
      src.skip_to(s);
      next_read = ring_lo = s;
    }
    while (next_read < s + k) {
      if (!src.next(mc))
        throw input_error(o.input + ": the input ended before marker " +
                           src.markers[next_read].name + " (was it changed during the scan?)");
      ring.push_back(number_marker(mc));
      count_x_het(*ring.back(), samples, tally);
      tally.unusable += !ring.back()->problem.empty();
      next_read++;
    }
    if (alone) {
      ms.assign(ring.begin(), ring.begin() + static_cast<long>(k));
      done_t d = run_window(worker.get(), set, samples, ms);
      write_row(d, set, out, tally);
      written = seq + 1;
      bar.update(written - lo);
      continue;
    }
    pool_t &pool = *pooled;
    job_t job{seq, markers_t(ring.begin(), ring.begin() + static_cast<long>(k))};
    size_t completed = 0;
    for (;;) {
      written = write_ready(pool, written, out, tally);
      std::unique_lock<std::mutex> lock(pool.mu);
      auto room = [&] {
        return pool.queue.size() < pool_t::DEPTH * pool.threads.size() && seq - written < pool_t::AHEAD;
      };
      if (!pool.progress.wait_for(lock, TICK, [&] { return room() || pool.done.count(written) > 0; })) {
        completed = pool.completed;
        lock.unlock();
        bar.update(completed);  // the clock moves on while a long window runs
        continue;
      }
      if (room()) {
        pool.queue.push_back(std::move(job));
        completed = pool.completed;
        break;
      }
    }
    pool.work.notify_one();
    bar.update(completed);
  }
  while (written < hi) {
    pool_t &pool = *pooled;
    {
      std::unique_lock<std::mutex> lock(pool.mu);
      if (!pool.progress.wait_for(lock, TICK, [&] { return pool.done.count(written) > 0; })) {
        size_t completed = pool.completed;
        lock.unlock();
        bar.update(completed);
        continue;
      }
    }
    written = write_ready(pool, written, out, tally);
    size_t completed;
    {
      std::lock_guard<std::mutex> lock(pool.mu);
      completed = pool.completed;
    }
    bar.update(completed);
  }
  bar.end();
}


std::string thousands(long n)
{
  std::string s = std::to_string(n);
  for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3)
    s.insert(static_cast<size_t>(i), ",");
  return s;
}

} // namespace

int hfscanrun(int argc, char **argv)
{
  run_log_t log;
  scan_voice_t voice;
  try {
    if (argc < 2) {
      fprintf(stderr, "Usage: hfscan [options] INPUT OUTPUT\n"
                      "       hfscan [options] --bfile PREFIX|--file PREFIX|--vcf FILE --out PREFIX\n"
                      "(hfscan --help lists the inputs, the output columns and the options)\n");
      return 1;
    }
    double t0 = scan_clock();
    scan_options_t o = scan_parse(argc, argv);
    assoc_blas_one_thread();
    if (o.jobs == 0)
      o.jobs = std::max(1u, std::thread::hardware_concurrency());
    check_output_is_not_input(o, o.output);
    check_output_is_not_input(o, o.log);
    log.open(o.log, "hfscan", argc, argv);
    voice.log = &log;
    log.field("Input", o.input);
    log.field("Table", o.output);
    log.field("Seed", std::to_string(o.seed));
    log.field("Threads", std::to_string(o.jobs));
    if (o.chunks > 1)
      log.field("Part", std::to_string(o.chunk) + " of " + std::to_string(o.chunks));
    log.line("");
    run_start_t start = start_run(
        o, o.input, log, [&voice](const std::string &line) { tell(voice, line); }, "note: ",
        "is kept (see --region, --index and --markers)");
    std::unique_ptr<marker_source_t> &src = start.src;
    std::vector<sample_t> &samples = start.samples;
    const bool plink = start.plink;

    scan_settings_t set;
    set.min_freq = o.min_freq;
    set.em_max_iter = o.em_max_iter;
    set.em_gain = o.em_gain;
    set.permutations = o.permutations;
    set.permute = score_permutations;
    set.perm_hits = o.perm_hits;
    set.seed = o.seed;
    set.max_pairs = o.max_pairs;
    set.lrt = o.lrt;
    set.variance = o.variance;
    set.glm = o.glm;
    set.glm_set.min_freq = o.min_freq;
    if (o.em_given) {
      set.glm_set.gain = o.em_gain;
      set.glm_set.max_iter = o.em_max_iter;
    }
    trait_summary_t ts = read_association_inputs(o, samples, plink, set, voice);
    {
      std::string line = std::to_string(samples.size()) + " in the input; " +
                         std::to_string(ts.with_trait) + " with the trait";
      if (set.assoc && set.binary)
        line += " (" + plural(ts.cases, "case", "cases") + ", " +
                plural(ts.with_trait - ts.cases, "control", "controls") + ")";
      line += ", " + std::to_string(samples.size() - ts.with_trait) + " without";
      if (ts.left)
        line += "; " + std::to_string(ts.left) + " with the trait left out of the association " +
                "test for a missing covariate or stratum";
      size_t unknown_sex = 0;
      for (const sample_t &sm : samples)
        unknown_sex += sm.sex == SEX_UNKNOWN;
      if (unknown_sex && std::any_of(src->markers.begin(), src->markers.end(),
                                     [](const marker_t &m) { return x_chromosome(m.chrom); }))
        line += "; " + std::to_string(unknown_sex) + " of unknown sex, left out of the " +
                "X-chromosome windows";
      log.field("Individuals", line);
      log.field("Trait", ts.trait);
      log.field("Covariates", ts.covariates);
      log.field("Strata", ts.strata);
    }
    scan_maxt_t maxt;
    if (o.max_t) {
      if (!set.assoc)
        throw input_error("--max-t needs a trait: " +
                           (o.pheno.empty() ? o.input + ": no individual has a phenotype; give the trait with --pheno FILE --pheno-col NAME"
                                            : o.pheno + ": no individual of the input has a value in column " + o.pheno_col));
      scan_maxt_init(maxt, o.permutations, o.seed, samples.size(), set.stratum);
      set.maxt = &maxt;
    }
    // The score test's permutations run through the BLAS, on every thread.
    if (set.assoc && !set.lrt && set.permutations > 0 &&
        !assoc_blas_room(static_cast<size_t>(o.jobs) + 1))
      throw input_error("the permutations' matrix products need " +
                         std::to_string((ASSOC_BLAS_AREA >> 20) + 1) + " MiB of address space per "
                         "thread (--jobs " + std::to_string(o.jobs) + "), more than the limit (ulimit -v) "
                         "leaves; raise the limit or give fewer --jobs");
    size_t short_markers = 0;
    std::vector<size_t> starts = window_starts(src->markers, o.window, o.step, short_markers);
    if (starts.empty())
      throw input_error(o.input + ": no window of " + std::to_string(o.window) + " markers: " +
                         "every chromosome has fewer kept markers than that (" +
                         std::to_string(src->markers.size()) + " kept in all)");
    size_t lo, hi;
    chunk_range(starts.size(), o.chunk, o.chunks, lo, hi);
    log.field("Windows", std::to_string(starts.size()) + " of " + plural(o.window, "marker", "markers") +
                             ", step " + std::to_string(o.step) +
                             (o.chunks > 1 ? "; this part: windows " + std::to_string(lo + 1) + " to " +
                                                 std::to_string(hi)
                                           : ""));
    log.line("");

    tally_t tally;
    tally.hold = o.max_t && o.chunks == 1;
    {
      atomic_output_t out(o.output);
      if (o.chunk == 1)
        out.write(scan_header());
      scan_windows(*src, starts, lo, hi, o, set, samples, out, tally);
      if (o.max_t) {
        std::vector<double> min_p = scan_maxt_min_p(maxt);
        if (tally.hold)
          for (size_t j = 0; j < tally.rows.size(); j++) {
            tally.rows[j].fwer_p = scan_fwer(min_p, tally.window_p[j]);
            out.write(scan_format(tally.rows[j]));
          }
        else
          // The workflow's gather (or any reader of the parts) computes
          // fwer_p from the side files of every part.
          scan_maxt_write_side(scan_maxt_side_path(o.output), o.chunk, o.chunks, o.seed, min_p,
                               tally.window_p);
      }
      out.commit();
    }

    // The summary, and what the user should know about the whole run.
    std::string part = o.chunks > 1 ? " (part " + std::to_string(o.chunk) + " of " +
                                          std::to_string(o.chunks) + ")"
                                    : "";
    fprintf(stderr, "hfscan: %zu window%s of %d marker%s%s written to %s: %zu ok, %zu with a "
                    "status; %s permutation%s; %.1f s, %d thread%s\n",
            hi - lo, hi - lo == 1 ? "" : "s", o.window, o.window == 1 ? "" : "s", part.c_str(),
            o.output.c_str(), tally.ok, tally.flagged, thousands(tally.permutations).c_str(),
            tally.permutations == 1 ? "" : "s", scan_clock() - t0, o.jobs, o.jobs == 1 ? "" : "s");
    log.field("Windows written", std::to_string(hi - lo) + ": " + std::to_string(tally.ok) +
                                     " ok, " + std::to_string(tally.flagged) + " with a status");
    for (const auto &r : tally.reasons)
      log.line("  " + r.first + ": " + plural(r.second, "window", "windows"));
    log.field("Permutations", thousands(tally.permutations));
    if (tally.unusable)
      log.field("Markers that no window can use", std::to_string(tally.unusable));
    if (!ts.note.empty())
      tell(voice, ts.note);
    if (tally.x_het_calls)
      tell(voice, "note: " + plural(tally.x_het_calls, "heterozygous call", "heterozygous calls") +
           " of males at " + plural(tally.x_het_markers, "X-chromosome marker", "X-chromosome markers") +
           " read as missing");
    if (short_markers)
      tell(voice, std::string("note: ") + plural(short_markers, "marker", "markers") +
           " on chromosomes with fewer than " + std::to_string(o.window) +
           " kept markers lie in no window");
    voice.log = nullptr;
    log.finish("");
    return 0;
  } catch (const input_error &e) {
    fflush(stdout);
    fprintf(stderr, "hfscan: %s\n", e.what());
    voice.log = nullptr;
    log.finish(e.what());
    return 1;
  } catch (const std::bad_alloc &) {
    fflush(stdout);
    fprintf(stderr, "hfscan: out of memory\n");
    voice.log = nullptr;
    log.finish("out of memory");
    return 1;
  }
}
