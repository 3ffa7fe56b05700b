#include "fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void hs_fatal(int status, const char *fmt, ...)
{
  va_list ap;
  fflush(stdout);
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  exit(status);
}

void hs_fatal_perror(int status, const char *msg)
{
  fflush(stdout);
  perror(msg);
  exit(status);
}
