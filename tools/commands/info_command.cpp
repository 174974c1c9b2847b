// dlmtool info: what a built program will do, read from its file.
#include "cli/args.h"
#include "commands/commands.h"
#include "files/output.h"
#include "pe/program_file.h"
#include "site/formats/program_info.h"

const char info_usage[] =
    "usage: dlmtool info PROGRAM.exe\n"
    "Prints what a built program will do: its two bootstrap URLs and the\n"
    "registry key of its distribution tag (stored enciphered, shown\n"
    "deciphered), the installer signer it checks (DLM_INSTALLER_SIGNER, and\n"
    "the issuer when it has one, or that it checks none), the tag it would read when run from PROGRAM.exe and where\n"
    "that comes from, whether it is signed with its image digest intact, and\n"
    "its size. Exits 1 when PROGRAM.exe holds no stored texts (not a build of\n"
    "the program).\n";

int info_command(const ParsedArgs& args)
{
    std::string image = read_windows_program(args.positional[0]);
    write_output("", describe_program(args.positional[0], image));
    // No stored texts: not a build of the program.
    return find_stored_texts(image).found ? 0 : 1;
}
