// Field scanning over a whole input line, with the acceptance rules of the
// C scanning conversions: each routine advances s past what it accepted and
// leaves s unchanged when it accepts nothing.
#pragma once

#include <string>

// "%d": optional white space, an optional sign and decimal digits. A number
// outside the int range is held as INT_MIN or INT_MAX, never wrapped.
bool scan_int(const char *&s, int &value);

// "%s": optional white space, then a word of one or more characters up to
// the next white space.
bool scan_word(const char *&s, std::string &word);

// " %[^\n]": true when anything but white space is left on the line; s is
// moved to its first character.
bool scan_rest(const char *&s);
