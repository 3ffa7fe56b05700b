#include "phf.h"

int main(int argc, char **argv)
{
  return phfrun(argc, argv);
}
