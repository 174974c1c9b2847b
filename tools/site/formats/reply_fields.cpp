#include "site/formats/reply_fields.h"

#include <string.h>

#include "cli/cli.h"
#include "reply_record.h"
#include "site/formats/package_names.h"
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
    std::string problem = download_dir_problem(record);
    if (!problem.empty())
        throw ToolError(problem);
    return record;
}

std::string download_dir_problem(const std::string& record)
{
    const char* value = find_field(record.c_str(), "sDlurl");
    if (!value || !is_url_value(value))
        return std::string();
    std::string url(value, strcspn(value, "|"));
    if (url.back() == '/')
        return std::string();
    return "sDlurl '" + url + "' does not end with '/': the program would fetch " + url +
           all_packages().front().manifest();
}
