#include "certificate_entry.h"

#include <string.h>

#include "tag.h"

namespace {

// Padding beyond the next 8-byte boundary is not padding.
const size_t MAX_PADDING = 7;
const size_t MARKER_SIZE = 4;

}  // namespace

int only_padding_after_signature(const char* after, size_t size)
{
    size_t padding = size;
    if (size >= static_cast<size_t>(TRAILER_SIZE) &&
        memcmp(after + size - MARKER_SIZE, TRAILER_MARKER, MARKER_SIZE) == 0)
        padding -= TRAILER_SIZE;
    if (padding > MAX_PADDING)
        return 0;
    for (size_t i = 0; i < padding; ++i)
        if (after[i] != '\0')
            return 0;
    return 1;
}
