// The run: open the input, find the windows of this part, number each
// marker once as it streams past, hand the windows to a pool of threads
// and write their rows in marker order.

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include <sys/stat.h>

#include "scan.h"

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
};

// The windows in flight. The reader queues at most two windows per thread;
// finished rows wait until every earlier row is written, and the reader
// stays at most AHEAD windows ahead of the writer, so memory stays bounded
// when one window takes long.
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

  pool_t(const scan_settings_t &s, const std::vector<sample_t> &smp, int jobs) : set(s), samples(smp)
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
      {
        std::unique_lock<std::mutex> lock(mu);
        work.wait(lock, [this] { return closing || !queue.empty(); });
        if (closing)
          break;
        job = std::move(queue.front());
        queue.pop_front();
      }
      progress.notify_all();
      done_t d;
      try {
        scan_row_t row = scan_window(w, set, samples, job.ms);
        d.ok = row.status == "ok";
        d.permutations = std::max(row.perm_n, 0L);
        d.text = scan_format(row);
      } catch (const std::bad_alloc &) {
        // scan_window keeps a window's own exhaustion in its row; failing
        // to format the row leaves an empty text, which ends the run.
        d.ok = false;
        d.permutations = 0;
        d.text.clear();
      }
      job.ms.clear();
      {
        std::lock_guard<std::mutex> lock(mu);
        done[job.seq] = std::move(d);
        completed++;
      }
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
};

// Counts the heterozygous calls of males at a marker of the X chromosome,
// which the X estimator takes as missing.
void count_x_het(const scan_marker_t &sm, const std::vector<sample_t> &samples, tally_t &tally)
{
  if (!sm.problem.empty() || !x_chromosome(sm.m.chrom))
    return;
  size_t calls = 0;
  for (size_t i = 0; i < samples.size(); i++)
    calls += samples[i].sex == SEX_MALE && sm.a[i] > 0 && sm.a[i] != sm.b[i];
  tally.x_het_calls += calls;
  tally.x_het_markers += calls > 0;
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
    if (d.text.empty())
      throw std::bad_alloc();
    out.write(d.text);
    (d.ok ? tally.ok : tally.flagged)++;
    tally.permutations += d.permutations;
    next++;
  }
}

void scan_windows(marker_source_t &src, const std::vector<size_t> &starts, size_t lo, size_t hi,
                  const scan_options_t &o, const scan_settings_t &set,
                  const std::vector<sample_t> &samples, atomic_output_t &out, tally_t &tally)
{
  progress_t bar;
  bar.begin(hi - lo, !o.quiet);
  pool_t pool(set, samples, o.jobs);
  std::deque<std::shared_ptr<const scan_marker_t>> ring;  // kept markers [ring_lo, next_read)
  size_t ring_lo = 0, next_read = 0, written = lo;
  const size_t k = static_cast<size_t>(o.window);
  marker_calls_t mc;
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
        throw import_error(o.input + ": the input ended before marker " +
                           src.markers[next_read].name + " (was it changed during the scan?)");
      ring.push_back(number_marker(mc));
      count_x_het(*ring.back(), samples, tally);
      next_read++;
    }
    job_t job{seq, markers_t(ring.begin(), ring.begin() + static_cast<long>(k))};
    size_t completed = 0;
    for (;;) {
      written = write_ready(pool, written, out, tally);
      std::unique_lock<std::mutex> lock(pool.mu);
      auto room = [&] {
        return pool.queue.size() < 2 * pool.threads.size() && seq - written < pool_t::AHEAD;
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

// Renaming the finished table over one of the files being read would lose
// that file: refuse an output that is an input.
void check_output_is_not_input(const scan_options_t &o)
{
  struct stat out;
  if (stat(o.output.c_str(), &out) != 0)
    return;
  std::vector<std::string> inputs = {o.input, o.pheno, o.sex_file};
  for (const char *kind : {".ped", ".bed"})
    if (o.input.size() > 4 && o.input.compare(o.input.size() - 4, 4, kind) == 0) {
      std::string stem = o.input.substr(0, o.input.size() - 4);
      for (const char *part : {".map", ".bim", ".fam"})
        inputs.push_back(stem + part);
    }
  for (const std::string &path : inputs) {
    struct stat in;
    if (!path.empty() && stat(path.c_str(), &in) == 0 && in.st_dev == out.st_dev &&
        in.st_ino == out.st_ino)
      throw import_error(o.output + ": the output would replace the input file " + path);
  }
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
  try {
    if (argc < 2) {
      fprintf(stderr, "Usage: hfscan [options] INPUT OUTPUT\n"
                      "(hfscan --help lists the inputs, the output columns and the options)\n");
      return 1;
    }
    double t0 = scan_clock();
    scan_options_t o = scan_parse(argc, argv);
    if (o.jobs == 0)
      o.jobs = std::max(1u, std::thread::hardware_concurrency());
    check_output_is_not_input(o);
    bool plink = true;
    std::unique_ptr<marker_source_t> src = open_input(o.input, o.sel, true, plink);
    std::vector<sample_t> samples = src->samples;
    std::string notes[2];
    if (!o.pheno.empty())
      notes[0] = table_note(o.pheno, apply_status_table(o.pheno, o.pheno_col, samples, plink));
    if (!o.sex_file.empty())
      notes[1] = table_note(o.sex_file, apply_sex_table(o.sex_file, "sex", samples, plink));
    for (const std::string &note : notes)
      if (!note.empty())
        fprintf(stderr, "hfscan: note: %s\n", note.c_str());
    if (src->markers.empty())
      throw import_error(o.input + ": no marker of the input is kept (see --region, --index "
                         "and --markers)");

    scan_settings_t set;
    set.min_freq = o.min_freq;
    set.em_max_iter = o.em_max_iter;
    set.em_gain = o.em_gain;
    set.permutations = o.permutations;
    set.perm_hits = o.perm_hits;
    set.seed = o.seed;
    long cases = 0, controls = 0;
    for (const sample_t &s : samples) {
      cases += s.status == STATUS_CASE;
      controls += s.status == STATUS_CONTROL;
    }
    set.casecontrol = cases > 0 && controls > 0;

    size_t short_markers = 0;
    std::vector<size_t> starts = window_starts(src->markers, o.window, o.step, short_markers);
    if (starts.empty())
      throw import_error(o.input + ": no window of " + std::to_string(o.window) + " markers: " +
                         "every chromosome has fewer kept markers than that (" +
                         std::to_string(src->markers.size()) + " kept in all)");
    size_t lo, hi;
    chunk_range(starts.size(), o.chunk, o.chunks, lo, hi);

    tally_t tally;
    {
      atomic_output_t out(o.output);
      if (o.chunk == 1)
        out.write(scan_header());
      scan_windows(*src, starts, lo, hi, o, set, samples, out, tally);
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
    if (!set.casecontrol)
      fprintf(stderr, "hfscan: note: %s; cc_* and perm_* are NA\n",
              cases + controls == 0 ? "no individual has case-control status"
              : cases ? "the individuals with case-control status are all cases"
                      : "the individuals with case-control status are all controls");
    if (tally.x_het_calls)
      fprintf(stderr, "hfscan: note: %zu heterozygous call%s of males at %zu X-chromosome "
                      "marker%s read as missing\n",
              tally.x_het_calls, tally.x_het_calls == 1 ? "" : "s", tally.x_het_markers,
              tally.x_het_markers == 1 ? "" : "s");
    if (short_markers)
      fprintf(stderr, "hfscan: note: %zu marker%s on chromosomes with fewer than %d kept markers "
                      "lie in no window\n",
              short_markers, short_markers == 1 ? "" : "s", o.window);
    return 0;
  } catch (const import_error &e) {
    fflush(stdout);
    fprintf(stderr, "hfscan: %s\n", e.what());
    return 1;
  } catch (const std::bad_alloc &) {
    fflush(stdout);
    fprintf(stderr, "hfscan: out of memory\n");
    return 1;
  }
}
