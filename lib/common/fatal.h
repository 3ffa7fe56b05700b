// The one way out for fatal conditions: flush the results written so far,
// write the message to standard error and end the program.
#pragma once

[[noreturn]] void hs_fatal(int status, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

// As perror: the message, a colon, a blank and the system's error text.
[[noreturn]] void hs_fatal_perror(int status, const char *msg);
