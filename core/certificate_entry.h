// What a signed program's certificate entry may hold after its signature.
// The Authenticode digest leaves the certificate table out, so bytes there
// are covered by no signature: a program that reads data from its own
// file's end could be steered by them.
#pragma once
#include <stddef.h>

// The entry holding the signature (and the table, which holds that entry
// alone) may go on past the signature only with zero padding that keeps
// the next 8-byte boundary, perhaps followed by a tag trailer (the one
// form of trailer that lives there; the other lives inside the
// signature). after and size: the bytes from the signature's end to the
// table's end. Returns 1 when they are only that, 0 otherwise.
int only_padding_after_signature(const char* after, size_t size);
