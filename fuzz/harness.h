// Shared scaffolding of the fuzz targets: a private scratch directory for the
// inputs, and the check that reports a broken invariant. The libraries never
// end the program (libFuzzer reports a target that exits as a failure), and
// a leak checker sees any file a reader leaves open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the bytes to name in the target's private working directory and
// returns the name.
const char *fuzz_file(const char *name, const uint8_t *data, size_t size);
const char *fuzz_file(const char *name, const std::string &text);

// Stops with a message and abort() (a finding) when cond is false.
void fuzz_check(bool cond, const char *what);

// Moves the process into a fresh scratch directory and sends the readers'
// standard output and error to /dev/null (unless HS_FUZZ_VERBOSE is set).
void fuzz_setup();
