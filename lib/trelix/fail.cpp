#include "fail.h"

#include <cstdarg>
#include <cstdio>

namespace {

std::string vformat(const char *fmt, va_list ap)
{
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(nullptr, 0, fmt, ap);
  std::string text;
  if (n > 0) {
    text.assign(static_cast<size_t>(n), '\0');
    vsnprintf(&text[0], static_cast<size_t>(n) + 1, fmt, again);
  }
  va_end(again);
  return text;
}

} // namespace

std::string tx_format(const char *fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  std::string text = vformat(fmt, ap);
  va_end(ap);
  return text;
}

int tx_fail(trelix_t &tx, int code, const char *fmt, ...)
{
  va_list ap;
  va_start(ap, fmt);
  tx.message = vformat(fmt, ap);
  va_end(ap);
  return code;
}
