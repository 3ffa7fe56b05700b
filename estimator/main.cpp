#include "hf.h"

int main(int argc, char **argv)
{
  return hfrun(argc, argv);
}
