// The --help and --version requests that every program answers before it
// looks at its other arguments.
#pragma once

// When argv[1] is exactly "--help" or "--version", prints the help (through
// help) or "NAME (HAPLOSIFT) VERSION" to standard output and returns the
// exit status (0, or 1 when standard output cannot be written); otherwise
// returns -1 and the program goes on as usual.
int hs_infoflags(int argc, char **argv, const char *name, const char *version, void (*help)());
