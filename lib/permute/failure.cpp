// The driver's way out of a failed run. In the main thread a failure stops
// the workers, removes the temporary files and ends the program; in a worker
// thread it becomes an hfpabort that the main thread reports when it reaches
// the worker's pass, so that the first failing pass is the one reported,
// whatever the number of workers.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hfp.h"

namespace {

thread_local bool inworker = false;

std::string vformat(const char *fmt, va_list ap)
{
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0)
    vsnprintf(&text[0], text.size() + 1, fmt, ap);
  return text;
}

} // namespace

void setworkerthread()
{
  inworker = true;
}

void hfpfail(const char *fmt, ...)
{
  {
    // The message is gone before exit, which unwinds nothing.
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    if (inworker)
      throw hfpabort(text, 1);
    stopworkers();
    fflush(stdout);
    fputs(text.c_str(), stderr);
  }
  removetemps();
  exit(1);
}

void *xmalloc(size_t size)
{
  void *block = malloc(size ? size : 1);
  if (block != nullptr)
    return block;
  const char *text = "Sorry, but I cannot allocate memory\n";
  if (inworker)
    throw hfpabort(text, -1);
  stopworkers();
  fflush(stdout);
  fputs(text, stderr);
  removetemps();
  exit(-1);
}
