// The reply record: fields "name=value" joined by '|', as a server reply
// reads once deciphered. Reading never changes the reply text.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Returns the first byte of the named field's value, or null when the text
// has no such field. The name is compared with case.
const char* find_field(const char* text, const char* name);

// Reads an integer field (digits and '-' only) of the reply. Returns 1 and
// stores the value (when value is not null); 0 when the field is missing,
// malformed or outside the 32-bit signed range, leaving value untouched.
// A null reply answers 0.
int get_int_field(const char* reply, const char* name, int32_t* value);

// Bytes that the value starting at value takes once copied: each LF as
// CR LF, up to the next '|' or the end, with the terminator.
size_t expanded_value_size(const char* value);

// Copies a string field of the reply into dest, each LF written as CR LF.
// With a null dest it only tests for the field. Returns 0 when the field is
// missing, or when the expanded copy and its terminator would not fit
// dest_size (dest is then untouched). A null reply answers 0.
int get_string_field(const char* reply, const char* name, char* dest, size_t dest_size);

// Whether the value starting at value (up to the next '|' or the end) is a
// URL the program may ask: its scheme is http or https, in any case, and it
// holds no control character or space, which could end the request line and
// start a header of the server's choosing.
int is_url_value(const char* value);

// As get_string_field, for a URL field (sUrl, sDlurl): a value that is not a
// URL the program may ask counts as a missing field.
int get_url_field(const char* reply, const char* name, char* dest, size_t dest_size);
