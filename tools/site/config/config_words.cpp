#include "site/config/config_words.h"

#include <stddef.h>

const char SEPARATORS[] = " \t";

namespace {

// What an editor on Windows may put at the start of a text file.
const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

bool is_blank(const std::string& text)
{
    return text.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

bool split_first(const std::string& text, std::string* head, std::string* rest)
{
    size_t space = text.find_first_of(SEPARATORS);
    *head = text.substr(0, space);
    *rest = space == std::string::npos ? std::string() : text.substr(space + 1);
    return space != std::string::npos;
}

bool is_blank_or_comment(const std::string& text)
{
    return is_blank(text) || text[text.find_first_not_of(" \t")] == '#';
}

void for_each_line(const std::string& text, ConfigReader& reader,
                   const std::function<void(const std::string&)>& read)
{
    size_t start = text.compare(0, 3, BYTE_ORDER_MARK) == 0 ? 3 : 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ++reader.line;
        // A line may end with CR LF: the CR is no part of it.
        size_t length = end - start - (end > start && text[end - 1] == '\r' ? 1 : 0);
        read(text.substr(start, length));
        start = end + 1;
    }
    reader.line = 0;
}

std::string single_argument(const ConfigReader& reader, const std::string& keyword,
                            const std::string& args, bool has_args, const std::string& what)
{
    if (!has_args || args.empty())
        config_error(reader, "'" + keyword + "' needs " + what);
    size_t space = args.find_first_of(SEPARATORS);
    if (space != std::string::npos)
        config_error(reader, "'" + keyword + "' takes only " + what + "; unexpected '" +
                                 args.substr(space + 1) + "'");
    return args;
}
