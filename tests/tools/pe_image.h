// A PE image for tests: the headers that make it a Windows program, as
// dlmtool reads them, and a body of filler bytes.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "site/formats/encipher.h"

constexpr size_t PE_AT = 0x40;
constexpr size_t OPTIONAL_AT = PE_AT + 24;

inline void put(std::string* image, size_t at, uint32_t value, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        (*image)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Headers and body of a PE image, padded to body_size; the security
// directory entry is left empty. plus: PE32+ rather than PE32.
inline std::string pe_image(bool plus, size_t body_size = 1024)
{
    std::string image(body_size, 'p');
    image.replace(0, 2, "MZ");
    put(&image, 0x3C, PE_AT, 4);
    image.replace(PE_AT, 4, std::string("PE\0\0", 4));
    size_t directories = plus ? 112 : 96;
    put(&image, PE_AT + 20, static_cast<uint32_t>(directories + 16 * 8), 2);
    put(&image, OPTIONAL_AT, plus ? 0x20B : 0x10B, 2);
    put(&image, OPTIONAL_AT + directories - 4, 16, 4);
    for (size_t at = OPTIONAL_AT + directories; at < OPTIONAL_AT + directories + 16 * 8; ++at)
        image[at] = '\0';
    return image;
}


// A text enciphered and NUL-padded as the compiler lays out the program's
// stored texts.
inline std::string stored_text(const std::string& text, size_t align)
{
    std::string bytes = encipher(text) + '\0';
    return bytes + std::string((align - bytes.size() % align) % align, '\0');
}

// A build of the program that asks first and then second.
inline std::string program_asking(const std::string& first, const std::string& second)
{
    return pe_image(false) + std::string(4, '\0') + stored_text(first, 32) + stored_text(second, 32) +
           stored_text("SOFTWARE\\Vendor\\Tag", 4);
}
