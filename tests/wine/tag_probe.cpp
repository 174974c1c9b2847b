// Does what the download window does with the distribution tag when it
// opens, in a process of its own: reads the tag of this executable and,
// when that works, records it. Prints the tag; the exit code is 10 plus the
// reader's result.
#include <stdio.h>
#include <string.h>

#include "distribution_tag.h"
#include "buffer_sizes.h"

int main()
{
    char tag[TAG_BUFFER_SIZE];
    memset(tag, 'x', sizeof tag);
    int read = read_distribution_tag(tag, sizeof tag);
    if (read)
        record_distribution_tag(tag);
    printf("%s\n", tag);
    return 10 + read;
}
