// dlmtool stamp: a copy of the program with a distribution tag.
#include "cli/args.h"
#include "cli/cli.h"
#include "commands/commands.h"
#include "files/output.h"
#include "pe/stamp.h"

const char stamp_usage[] =
    "usage: dlmtool stamp IN.exe --id ID [--suffix S] [--in-signature] [--output OUT.exe]\n"
    "Writes a copy of IN.exe (a Windows program) that ends with the\n"
    "distribution tag trailer: identifier 1 to 11, suffix 1 to 20 letters,\n"
    "digits or '-' (they name files, travel in URLs and go to the registry).\n"
    "Without --output (or -o) the copy goes to standard output; -o - says so\n"
    "too. A trailer that IN.exe\n"
    "already has is replaced, not followed by a second one. The program then\n"
    "reads the tag ID, or ID_S with a suffix.\n"
    "A signed IN.exe stays signed: the trailer goes inside its certificate\n"
    "table, after the signature, or with --in-signature inside an\n"
    "unauthenticated attribute of the signature (for systems that refuse\n"
    "bytes after the signature). Signed files laid out otherwise are refused.\n" BINARY_OUTPUT_NOTE
    OUTPUT_FILE_NOTE;

int stamp_command(const ParsedArgs& args)
{
    std::string identifier = required_option(args, "--id", "ID");
    check_tag_words(identifier, args.get("--suffix"));
    if (args.has("--suffix") && args.get("--suffix").empty())
        throw ToolError("--suffix needs 1 to 20 letters, digits or '-'; leave it out for none");
    stamp_file(args.positional[0], binary_output(args), identifier, args.get("--suffix"),
               args.has("--in-signature") ? TrailerPlace::SIGNATURE
                                          : TrailerPlace::CERTIFICATE_TABLE);
    return 0;
}
