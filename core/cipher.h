// The text cipher: a fixed byte substitution. The program only deciphers;
// enciphering belongs to the vendor's tool.
#pragma once

// Enciphered byte to plain byte. Entry 0 is never consulted.
extern const unsigned char decipher_table[256];

// Deciphers a terminated text in place and returns it. The end is fixed by
// the terminator of the enciphered text.
char* decipher_text(char* text);

// Deciphers the reply held in the reply buffer; does nothing without one.
void decipher_reply(char* reply_buffer);
