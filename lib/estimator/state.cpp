// A state's life: creation with the default settings, the settings, and the
// messages of failed calls.

#include <cmath>
#include <cstdarg>
#include <new>

#include "report.h"

hfstate_t *hf_new(int xdata)
{
  hfstate_t *s = new (std::nothrow) hfstate_t;
  if (s == nullptr)
    return nullptr;
  s->xdata = xdata != 0;
  machineprecision(*s);
  return s;
}

void hf_free(hfstate_t *s)
{
  if (s == nullptr)
    return;
  hrtree(s->hrt);
  delete s;
}

const char *hf_message(const hfstate_t *s)
{
  return s->nomem ? "Sorry, but I cannot allocate memory\n" : s->message.c_str();
}

void hf_set_cutoff(hfstate_t *s, double pl)
{
  // Text that is no number gives 0 and so the floor; so does "nan".
  s->pl = pl >= s->precis ? pl : s->precis;
}

void hf_set_debug(hfstate_t *s, int debug)
{
  s->debug = debug;
}

void hf_set_stoprule(hfstate_t *s, double gain, int maxsteps)
{
  s->stopgain = gain;
  s->maxsteps = maxsteps < 1 ? 1 : maxsteps;
}

int hf_fail(hfstate_t &s, int code, const char *fmt, ...)
{
  char small[512];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  s.nomem = 0;
  if (n < 0) {
    s.message = "the estimator's message could not be formatted\n";
    return code;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    s.message.assign(small, static_cast<size_t>(n));
    return code;
  }
  std::string text(static_cast<size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  vsnprintf(&text[0], text.size(), fmt, ap);
  va_end(ap);
  text.resize(static_cast<size_t>(n));
  s.message.swap(text);
  return code;
}

int hf_nomemory(hfstate_t &s)
{
  // The message is a constant: setting it must not need memory.
  s.nomem = 1;
  return HF_ENOMEM;
}

void machineprecision(hfstate_t &s)
{
  s.precis = 1.0;
  do {
    s.precis /= 2;
    s.tol = s.precis + 1;
  } while (s.tol > 1);
}

void inith(hfstate_t &s, int n)
{
  size_t size = static_cast<size_t>(n > 0 ? n : 1);
  s.h.assign(size, 0.0);
  s.h0.assign(size, 0.0);
  s.c.assign(size, 0.0);
  s.hm.assign(size, 0.0);
}
