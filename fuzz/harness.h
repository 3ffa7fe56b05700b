// Shared scaffolding of the fuzz targets. The readers end the program with
// exit() on bad input; the fuzz build links them with -Wl,--wrap=exit so that
// such a refusal throws refused_t back to the target instead, unwinding the
// reader's locals. Files the reader opened and did not close are closed after
// every input (-Wl,--wrap=fopen,--wrap=fclose), so a refusal that leaves its
// file open is not taken for a leak.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct refused_t {
  int status;
};

// Calls body(); returns NOEXIT when it returned normally, else the exit
// status the reader asked for.
constexpr int NOEXIT = -1000;
// Only inside guarded() does exit() throw; elsewhere (libFuzzer's own exit
// at the end of a run) it is the real one.
extern bool fuzz_inside;
void fuzz_closeleft();
template <class F> int guarded(F body)
{
  int status = NOEXIT;
  fuzz_inside = true;
  try {
    body();
  } catch (const refused_t &r) {
    status = r.status;
  }
  fuzz_inside = false;
  fuzz_closeleft();
  return status;
}

// Writes the bytes to name in the target's private working directory and
// returns the name.
const char *fuzz_file(const char *name, const uint8_t *data, size_t size);
const char *fuzz_file(const char *name, const std::string &text);

// Stops with a message and abort() (a finding) when cond is false.
void fuzz_check(bool cond, const char *what);

// Moves the process into a fresh scratch directory and sends the readers'
// standard output and error to /dev/null (unless HS_FUZZ_VERBOSE is set).
void fuzz_setup();
