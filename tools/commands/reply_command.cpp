#include "commands/reply_command.h"

#include "site/encipher.h"
#include "reply_record.h"
#include "text.h"
#include "files/files.h"

const char reply_usage[] =
    "usage: dlmtool reply FIELD=VALUE... [--output FILE]\n"
    "Joins the fields with '|' into one reply record and writes it enciphered.\n"
    "Field names are ASCII letters and digits; values cannot hold '|'. The\n"
    "program takes an sUrl or sDlurl that is not an http or https URL free of\n"
    "spaces and control characters as absent: such a value is refused.\n"
    "Example: dlmtool reply iFlag=0 sDlurl=http://example.com/dl/ -o primary.txt\n" OUTPUT_FILE_NOTE;

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

int reply_command(const ParsedArgs& args)
{
    write_output(args.get("-o"), encipher(build_reply_record(args.positional)));
    return 0;
}
