#include "site/config/code_pages.h"

#include <iconv.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "cli/cli.h"
#include "buffer_sizes.h"

namespace {

struct LanguagePage {
    const char* code;
    int page;
};

const LanguagePage LANGUAGE_PAGES[] = {
    {"CHT", 950},  {"DEU", 1252}, {"ENG", 1252}, {"SPA", 1252}, {"FRE", 1252}, {"ITA", 1252},
    {"JAP", 932},  {"KOR", 949},  {"DUT", 1252}, {"POR", 1252}, {"SWE", 1252},
};

// The bytes of the UTF-8 character at the start of text, and its code
// point; 0 bytes when text does not start with one.
size_t utf8_character(const std::string& text, size_t at, uint32_t* code_point)
{
    unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                                   : lead >= 0xE0 && lead <= 0xEF   ? 3
                                   : lead >= 0xF0 && lead <= 0xF4   ? 4
                                                                    : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    *code_point = value;
    return length;
}

std::string hex_code_point(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(value));
    return text;
}

// Owns an iconv descriptor.
struct Converter {
    iconv_t cd;
    explicit Converter(int code_page)
        : cd(iconv_open(("CP" + std::to_string(code_page)).c_str(), "UTF-8"))
    {
    }
    ~Converter()
    {
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
};

}  // namespace

int code_page_of(const std::string& language)
{
    for (const LanguagePage& entry : LANGUAGE_PAGES) {
        if (language == entry.code)
            return entry.page;
    }
    return 0;
}

std::string in_code_page(const std::string& utf8, int code_page, std::string* out)
{
    Converter converter(code_page);
    if (converter.cd == reinterpret_cast<iconv_t>(-1))
        throw ToolError("this system cannot write code page " + std::to_string(code_page));
    out->clear();
    // One character at a time, so that the one that fails is known.
    std::vector<char> room(16);
    for (size_t at = 0; at < utf8.size();) {
        uint32_t code_point = 0;
        size_t length = utf8_character(utf8, at, &code_point);
        if (length == 0)
            return "byte '" + utf8.substr(at, 1) + "' is not UTF-8";
        char* in = const_cast<char*>(utf8.data() + at);
        size_t in_left = length;
        char* written = room.data();
        size_t room_left = room.size();
        if (iconv(converter.cd, &in, &in_left, &written, &room_left) == static_cast<size_t>(-1))
            return "'" + utf8.substr(at, length) + "' (" + hex_code_point(code_point) +
                   ") cannot be written in code page " + std::to_string(code_page);
        out->append(room.data(), static_cast<size_t>(written - room.data()));
        at += length;
    }
    return std::string();
}

void check_manifest_length(size_t length, const std::string& what)
{
    if (length > REPLY_BUFFER_SIZE)
        throw ToolError(what + " would have " + std::to_string(length) + " bytes; the program reads " +
                        std::to_string(REPLY_BUFFER_SIZE) + " and would cut the rest");
}

std::string lines_in_code_page(const std::string& utf8, int code_page, std::string* out,
                               size_t* line)
{
    out->clear();
    *line = 0;
    for (size_t at = 0; at <= utf8.size(); ++*line) {
        size_t end = std::min(utf8.find('\n', at), utf8.size());
        std::string written;
        std::string why = in_code_page(utf8.substr(at, end - at), code_page, &written);
        if (!why.empty())
            return why;
        *out += written;
        if (end < utf8.size())
            *out += '\n';
        at = end + 1;
    }
    return std::string();
}
