#include "ticker.h"

#include <string.h>

#include "text.h"

size_t ticker_compose(const char* start, const char* pos, char* out, size_t out_size)
{
    if (out_size == 0)
        return 0;
    size_t tail = copy_text_cut(out, out_size, pos, strlen(pos));
    size_t head = copy_text_cut(out + tail, out_size - tail, start,
                                static_cast<size_t>(pos - start));
    return tail + head;
}

char* ticker_advance(char* start, char* pos)
{
    char* line_feed = strchr(pos, '\n');
    if (!line_feed)
        line_feed = strchr(start, '\n');
    // Without any line end there is no next line: stay on the whole text.
    return line_feed ? line_feed + 1 : start;
}
