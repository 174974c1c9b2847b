#include "cipher.h"

#include <stdint.h>

#include "buffer_sizes.h"

const unsigned char decipher_table[256] = {
#include "decipher_table.inc"
};

int decipher_into(const char* text, char* plain, size_t plain_size)
{
    // Each byte is read before its place is written, so plain may be text;
    // the terminator deciphers to itself.
    size_t i = 0;
    for (; i < plain_size; ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        plain[i] = static_cast<char>(decipher_table[byte]);
        if (byte == 0)
            return 1;
    }
    if (i > 0)
        plain[0] = '\0';
    return 0;
}

char* decipher_text(char* text)
{
    decipher_into(text, text, SIZE_MAX);
    return text;
}

void decipher_reply(char* reply_buffer)
{
    if (reply_buffer)
        decipher_into(reply_buffer, reply_buffer, REPLY_BLOCK_SIZE);
}
