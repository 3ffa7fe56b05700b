#include "lines.h"

bool hs_getline(FILE *f, std::string &line)
{
  line.clear();
  int ch;
  bool any = false;
  while ((ch = getc_unlocked(f)) != EOF) {
    any = true;
    if (ch == '\n')
      break;
    line.push_back(static_cast<char>(ch));
  }
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  return any;
}
