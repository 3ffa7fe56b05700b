// Whole-line reading for the plain-text input files.
#pragma once

#include <cstdio>
#include <string>

// Reads the next line of f into line, whatever its length, without its line
// end; a carriage return before the line end is dropped too, so files written
// with CRLF line ends read as their plain counterparts. Returns false at end
// of file when nothing was read.
bool hs_getline(FILE *f, std::string &line);
