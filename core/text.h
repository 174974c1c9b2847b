// Bounded copies into fixed NUL-terminated buffers, and reading numbers.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Copies src into dst. If dst is too small the copy is not made and dst
// holds the empty text. Returns 1 when copied, 0 otherwise.
int copy_text(char* dst, size_t dst_size, const char* src);

// Appends src to the text in dst. If the result would not fit, dst is left
// as it was. Returns 1 when appended, 0 otherwise.
int append_text(char* dst, size_t dst_size, const char* src);

// Copies at most src_len bytes of src (fewer if a NUL comes first) and
// terminates; cuts the text to fit. Returns the length written.
size_t copy_text_cut(char* dst, size_t dst_size, const char* src, size_t src_len);

// Reads a number the way atoi does: leading white space, one sign, then
// digits up to the first other byte (no digits read as 0). Returns 1 with
// the value; 0, leaving value untouched, when it does not fit a signed
// 32-bit integer.
int read_decimal_int32(const char* text, int32_t* value);

int is_ascii_digit(char c);
int is_ascii_alnum(char c);

// Whether text begins with prefix, ASCII letters compared without case.
int starts_with_ignoring_case(const char* text, const char* prefix);
