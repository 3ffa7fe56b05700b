// The driver's way out of a failed run: an hfpabort that unwinds to the
// worker loop (which hands it to the main thread at the worker's pass, so
// that the first failing pass is the one reported, whatever the number of
// workers) or to hfprun, which stops the workers, removes the temporary
// files and returns the status with the message kept in the state.

#include <cstdarg>
#include <cstdio>
#include <string>

#include "hfp.h"

const char HFP_NOMEMORY[] = "Sorry, but I cannot allocate memory\n";

void hfpfail(const char *fmt, ...)
{
  va_list ap, copy;
  va_start(ap, fmt);
  va_copy(copy, ap);
  int n = vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0)
    vsnprintf(&text[0], text.size() + 1, fmt, ap);
  va_end(ap);
  throw hfpabort(text, 1);
}
