#include <cstdlib>

#include "fatal.h"
#include "hf.h"

void nomemory()
{
  hs_fatal(-1, "Sorry, but I cannot allocate memory\n");
}

void *xmalloc(size_t size)
{
  void *block = malloc(size ? size : 1);
  if (block == nullptr)
    nomemory();
  return block;
}
