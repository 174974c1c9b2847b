// The vendor's side of the text cipher: the inverse of the program's table.
#pragma once
#include <string>

// Enciphers a text that the program's decipher_table turns back into it.
// Bytes of value 0 cannot be enciphered (they end a text) and stay 0.
std::string encipher(const std::string& plain);
std::string decipher(const std::string& enciphered);
