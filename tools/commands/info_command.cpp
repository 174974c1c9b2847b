// dlmtool info: what a built program will do, read from its file.
#include "cli/args.h"
#include "cli/cli.h"
#include "commands/commands.h"
#include "files/output.h"
#include "pe/pe_signature.h"
#include "pe/program_file.h"
#include "site/program_info.h"

const char info_usage[] =
    "usage: dlmtool info PROGRAM.exe\n"
    "Prints what a built program will do: its two bootstrap URLs and the\n"
    "registry key of its distribution tag (stored enciphered, shown\n"
    "deciphered), the tag it would read when run from PROGRAM.exe and where\n"
    "that comes from, whether it is signed with its image digest intact, and\n"
    "its size. Exits 1 when PROGRAM.exe holds no stored texts (not a build of\n"
    "the program).\n";

int info_command(const ParsedArgs& args)
{
    const std::string& path = args.positional[0];
    std::string image = read_program_file(path);
    if (read_signed_image(image).kind == SignedImage::NOT_PE)
        throw ToolError(path + " is not a Windows program (no MZ and PE headers)");
    std::string report = describe_program(path, image);
    write_output("", report);
    return find_stored_texts(image).found ? 0 : 1;
}
