// dlmtool reply: one reply record, enciphered as the servers send it.
#include "cli/args.h"
#include "commands/commands.h"
#include "files/output.h"
#include "site/formats/encipher.h"
#include "site/formats/reply_fields.h"

const char reply_usage[] =
    "usage: dlmtool reply FIELD=VALUE... [--output FILE]\n"
    "Joins the fields with '|' into one reply record and writes it enciphered.\n"
    "Field names are ASCII letters and digits; values cannot hold '|'. The\n"
    "program takes an sUrl or sDlurl that is not an http or https URL free of\n"
    "spaces and control characters as absent: such a value is refused, and so\n"
    "is an sDlurl without its final '/'.\n"
    "Example: dlmtool reply iFlag=0 sDlurl=http://example.com/dl/ -o primary.txt\n" BINARY_OUTPUT_NOTE
    OUTPUT_FILE_NOTE;

int reply_command(const ParsedArgs& args)
{
    std::string out = binary_output(args);
    write_output(out, encipher(build_reply_record(args.positional)));
    return 0;
}
