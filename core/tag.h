// The distribution tag: from the 35-byte trailer at the end of the
// executable, or else from its file name ("polvex" followed by the tag).
#pragma once
#include <stddef.h>
#include <stdint.h>

const int TRAILER_SIZE = 35;
const int TRAILER_SUFFIX_SIZE = 20;
const int TRAILER_ID_SIZE = 11;
extern const char TRAILER_MARKER[];  // "DLID"
extern const char TAG_NAME_PREFIX[]; // "polvex"

// The file operations the trailer reader needs.
struct TagFileOps {
    // Opens the file at path for reading; returns a descriptor, negative on
    // failure. The caller's ops may open it by a fuller name of their own
    // (a path the file name's characters cannot spell).
    int (*open)(void* context, const char* path);
    // Seeks relative to the end; returns the new position from the start.
    int64_t (*seek_end)(void* context, int fd, int offset);
    // Reads up to size bytes; returns the number read.
    int (*read)(void* context, int fd, char* buffer, int size);
    void (*close)(void* context, int fd);
    void* context;
};

// Reads the trailer of the file at path into tag. Returns 0 when the file
// has no valid trailer (tag then empty).
int read_tag_trailer(const char* path, const TagFileOps& ops, char* tag, size_t tag_size);

// The tag carried by the file name of path: what follows the prefix, up to
// the first byte that is not an ASCII letter, digit, '_' or '-'. Returns 0
// when the path ends with a backslash (no name); 1 otherwise, with an empty
// tag when the name does not begin with the prefix.
int tag_from_file_name(const char* path, char* tag, size_t tag_size);

// Trailer first, then the file name. An empty path gives 0.
int read_distribution_tag_from(const char* path, const TagFileOps& ops, char* tag,
                               size_t tag_size);

// Builds a trailer; returns 0 when the identifier is longer than 11 bytes
// or the suffix longer than 20.
int make_tag_trailer(const char* identifier, const char* suffix, char trailer[TRAILER_SIZE]);
