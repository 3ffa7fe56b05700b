// The help text of hfimport.
#pragma once

#include <cstdio>

void hfimport_help(FILE *f);
