#include "tag.h"

#include <string.h>

#include "text.h"

const char TRAILER_MARKER[] = "DLID";
const char TAG_NAME_PREFIX[] = "polvex";

namespace {

const int MARKER_SIZE = 4;

// Seeks to offset from the end (the position must be past the start) and
// reads exactly size bytes.
bool read_field(const TagFileOps& ops, int fd, int offset, char* field, int size)
{
    if (ops.seek_end(ops.context, fd, offset) <= 0)
        return false;
    return ops.read(ops.context, fd, field, size) == size;
}

}  // namespace

int read_tag_trailer(const char* path, const TagFileOps& ops, char* tag, size_t tag_size)
{
    if (tag_size == 0)
        return 0;
    tag[0] = '\0';
    int fd = ops.open(ops.context, path);
    if (fd < 0)
        return 0;
    char marker[MARKER_SIZE] = {0, 0, 0, 0};
    char identifier[TRAILER_ID_SIZE + 1] = {0};
    char suffix[TRAILER_SUFFIX_SIZE + 1] = {0};
    // A short read leaves zeros in the marker, which then fails the compare.
    bool valid = ops.seek_end(ops.context, fd, -MARKER_SIZE) > 0 &&
                 ops.read(ops.context, fd, marker, MARKER_SIZE) >= 0 &&
                 memcmp(marker, TRAILER_MARKER, MARKER_SIZE) == 0 &&
                 read_field(ops, fd, -(MARKER_SIZE + TRAILER_ID_SIZE), identifier,
                            TRAILER_ID_SIZE) &&
                 read_field(ops, fd, -TRAILER_SIZE, suffix, TRAILER_SUFFIX_SIZE);
    ops.close(ops.context, fd);
    if (!valid)
        return 0;
    copy_text_cut(tag, tag_size, identifier, TRAILER_ID_SIZE);
    if (suffix[0] != '\0') {
        append_text(tag, tag_size, "_");
        append_text(tag, tag_size, suffix);
    }
    return 1;
}

int tag_from_file_name(const char* path, char* tag, size_t tag_size)
{
    if (tag_size == 0)
        return 0;
    tag[0] = '\0';
    size_t len = strlen(path);
    if (len > 0 && path[len - 1] == '\\')
        return 0;
    const char* name = strrchr(path, '\\');
    name = name ? name + 1 : path;
    if (*name == '"')
        ++name;
    if (!starts_with_ignoring_case(name, TAG_NAME_PREFIX))
        return 1;
    // The tag ends at the first byte that a stamped tag cannot hold: the
    // dot of ".exe", or the " (1)" a browser adds to a second copy.
    const char* rest = name + strlen(TAG_NAME_PREFIX);
    const char* end = rest;
    while (is_ascii_alnum(*end) || *end == '_' || *end == '-')
        ++end;
    copy_text_cut(tag, tag_size, rest, static_cast<size_t>(end - rest));
    return 1;
}

int read_distribution_tag_from(const char* path, const TagFileOps& ops, char* tag,
                               size_t tag_size)
{
    if (tag_size == 0)
        return 0;
    tag[0] = '\0';
    if (path[0] == '\0')
        return 0;
    if (read_tag_trailer(path, ops, tag, tag_size))
        return 1;
    return tag_from_file_name(path, tag, tag_size);
}

int make_tag_trailer(const char* identifier, const char* suffix, char trailer[TRAILER_SIZE])
{
    size_t id_len = strlen(identifier);
    size_t suffix_len = strlen(suffix);
    if (id_len > static_cast<size_t>(TRAILER_ID_SIZE) ||
        suffix_len > static_cast<size_t>(TRAILER_SUFFIX_SIZE))
        return 0;
    // Fixed-width fields padded with zero bytes: a full-width field has no
    // terminator of its own, by design of the trailer.
    memset(trailer, 0, TRAILER_SIZE);
    memcpy(trailer, suffix, suffix_len);  // NOLINT(bugprone-not-null-terminated-result)
    memcpy(trailer + TRAILER_SUFFIX_SIZE, identifier,  // NOLINT(bugprone-not-null-terminated-result)
           id_len);
    memcpy(trailer + TRAILER_SUFFIX_SIZE + TRAILER_ID_SIZE, TRAILER_MARKER, MARKER_SIZE);
    return 1;
}
