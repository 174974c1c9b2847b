#include "cipher.h"

const unsigned char decipher_table[256] = {
#include "decipher_table.inc"
};

char* decipher_text(char* text)
{
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p != 0; ++p)
        *p = decipher_table[*p];
    return text;
}

void decipher_reply(char* reply_buffer)
{
    if (reply_buffer)
        decipher_text(reply_buffer);
}
