// hfscan's own: its help text and the whole run over the scan library.
#pragma once

#include <cstdio>

void hfscan_help(FILE *f);
// The whole program (run.cpp); returns the exit status.
int hfscanrun(int argc, char **argv);
