// The failures and warnings of the readers: the text kept in the state.
#pragma once

#include <string>

#include "txlib.h"

// The text of a printf format.
std::string tx_format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Sets tx.message to the formatted text and returns code.
int tx_fail(trelix_t &tx, int code, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
