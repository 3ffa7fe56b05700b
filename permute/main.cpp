#include "hfp.h"

int main(int argc, char **argv)
{
  return hfprun(argc, argv);
}
