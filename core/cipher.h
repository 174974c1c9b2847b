// The text cipher: a fixed byte substitution. The program only deciphers;
// enciphering belongs to the vendor's tool.
#pragma once
#include <stddef.h>

// Enciphered byte to plain byte. Entry 0 is 0: the terminator stays one.
extern const unsigned char decipher_table[256];

// Deciphers the terminated text into plain (plain_size bytes), which may be
// the text itself. If plain is too small it holds the empty text. Returns 1
// when deciphered, 0 otherwise.
int decipher_into(const char* text, char* plain, size_t plain_size);

// Deciphers a terminated text in place and returns it. The end is fixed by
// the terminator of the enciphered text.
char* decipher_text(char* text);

// Deciphers the reply held in the reply buffer (REPLY_BLOCK_SIZE bytes);
// does nothing without one.
void decipher_reply(char* reply_buffer);
