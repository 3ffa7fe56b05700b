#include "tokens.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace {

const char *skipws(const char *s)
{
  while (isspace(static_cast<unsigned char>(*s)))
    s++;
  return s;
}

} // namespace

bool scan_int(const char *&s, int &value)
{
  char *end;
  long v = strtol(s, &end, 10);
  if (end == s)
    return false;
  if (v < INT_MIN)
    v = INT_MIN;
  else if (v > INT_MAX)
    v = INT_MAX;
  value = static_cast<int>(v);
  s = end;
  return true;
}

bool scan_word(const char *&s, std::string &word)
{
  const char *p = skipws(s);
  const char *q = p;
  while (*q && !isspace(static_cast<unsigned char>(*q)))
    q++;
  if (q == p)
    return false;
  word.assign(p, q);
  s = q;
  return true;
}

bool scan_rest(const char *&s)
{
  const char *p = skipws(s);
  if (!*p)
    return false;
  s = p;
  return true;
}
