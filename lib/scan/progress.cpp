// The progress bar: windows done of the total, time elapsed and the time
// left at the rate so far, redrawn at most five times a second on standard
// error, and only when it is a terminal.

#include <cstdio>
#include <ctime>

#include <unistd.h>

#include "scan.h"

double scan_clock()
{
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

namespace {

void clock_text(char *buf, size_t n, double seconds)
{
  long s = seconds > 0 && seconds < 1e9 ? static_cast<long>(seconds + 0.5) : 0;
  if (s >= 3600)
    snprintf(buf, n, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    snprintf(buf, n, "%02ld:%02ld", s / 60, s % 60);
}

} // namespace

void progress_t::begin(size_t total_windows, bool enabled)
{
  total = total_windows;
  on = enabled && isatty(STDERR_FILENO);
  start = scan_clock();
  last = -1;
  update(0);
}

void progress_t::update(size_t done)
{
  if (!on)
    return;
  double now = scan_clock();
  if (done < total && last >= 0 && now - last < 0.2)
    return;
  last = now;
  const int width = 30;
  int filled = total ? static_cast<int>(static_cast<double>(width) * done / total) : width;
  char bar[width + 1];
  for (int i = 0; i < width; i++)
    bar[i] = i < filled ? '=' : ' ';
  bar[width] = '\0';
  char elapsed[48], left[48] = "--:--";
  clock_text(elapsed, sizeof elapsed, now - start);
  if (done > 0 && done < total)
    clock_text(left, sizeof left, (now - start) * static_cast<double>(total - done) / done);
  else if (done >= total)
    clock_text(left, sizeof left, 0);
  fprintf(stderr, "\r[%s] %zu/%zu windows, %s elapsed, %s left ", bar, done, total, elapsed,
          left);
  fflush(stderr);
}

void progress_t::end()
{
  if (!on)
    return;
  fprintf(stderr, "\r%*s\r", 79, "");
  fflush(stderr);
}
