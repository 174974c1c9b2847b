// The news ticker: the news lines shown rotated by one more line each tick.
#pragma once
#include <stddef.h>

// Composes into out the ticker text (start to its terminator) rotated to
// begin at pos: the text from pos to the end, then the bytes from start to
// pos. Cut to fit out_size. Returns the length written.
size_t ticker_compose(const char* start, const char* pos, char* out, size_t out_size);

// The line after pos: just after the first LF at or after pos; when there is
// none, just after the first LF at or after start; with no LF at all, start.
char* ticker_advance(char* start, char* pos);
