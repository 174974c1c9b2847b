#include "site/reply_fields.h"

#include "cli/cli.h"
#include "reply_record.h"
#include "text.h"

std::string build_reply_record(const std::vector<std::string>& fields)
{
    if (fields.empty())
        throw UsageError("no fields given");
    std::string record;
    for (const std::string& field : fields) {
        size_t equals = field.find('=');
        if (equals == std::string::npos)
            throw ToolError("'" + field + "' is not FIELD=VALUE");
        std::string name = field.substr(0, equals);
        if (name.empty())
            throw ToolError("'" + field + "' has an empty field name");
        for (char c : name) {
            if (!is_ascii_alnum(c))
                throw ToolError("field name '" + name +
                                "' holds a character other than ASCII letters and digits");
        }
        if (field.find('|', equals) != std::string::npos)
            throw ToolError("the value of " + name + " holds '|', which a reply record cannot carry");
        if ((name == "sUrl" || name == "sDlurl") && !is_url_value(field.c_str() + equals + 1))
            throw ToolError("the value of " + name + " is not an http or https URL free of spaces "
                            "and control characters: the program would take it as absent");
        if (!record.empty())
            record += '|';
        record += field;
    }
    return record;
}
