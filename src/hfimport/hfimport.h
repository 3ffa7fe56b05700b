// hfimport's own: its help text and the whole run over the genotypes library.
#pragma once

#include <cstdio>

void hfimport_help(FILE *f);
// The whole program (run.cpp); returns the exit status.
int hfimportrun(int argc, char **argv);
