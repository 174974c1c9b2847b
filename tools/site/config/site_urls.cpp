#include "site/config/site_urls.h"

#include "reply_record.h"

const char UNREPRESENTABLE[] = "holds '|' or a control character";
const char NOT_PROGRAM_URL[] = "is not an http or https URL, the only kind the program asks";

bool is_representable_url(const std::string& url)
{
    for (unsigned char c : url) {
        if (c == '|' || c <= ' ' || c == 0x7F)
            return false;
    }
    return true;
}

bool lacks_scheme(const std::string& value)
{
    return value.find("://") == std::string::npos;
}

bool starts_at_root(const std::string& value)
{
    return value[0] == '/';
}

bool is_not_program_url(const std::string& value)
{
    return !is_url_value(value.c_str());
}
