// The package manifest: a size line, LF, then the news lines.
#pragma once
#include <stdint.h>

// Reads a size the way atoi does (leading white space, one sign, digits up
// to the first other byte). Returns 0 when the number does not fit a signed
// 32-bit integer; otherwise 1 with the value (0 when there are no digits).
int read_manifest_size(const char* text, int32_t* size);

// Splits the manifest in reply at its first LF (replaced by a terminator),
// points *ticker_start at the news lines and reads the size line into
// *total_bytes. Returns 1 when the size is valid and greater than 0. Without
// any LF nothing is changed; with a bad size *ticker_start is still set.
int parse_manifest(char* reply, char** ticker_start, int32_t* total_bytes);
