#include "isdir.h"

#include <sys/stat.h>

bool hs_is_directory(const char *path)
{
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
