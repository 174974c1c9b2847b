// dlmtool: the vendor's tool for the download manager's servers. This file
// is the top of the house: the table of commands, each in a file of its
// own under commands/, and cli/command_table.h runs the one asked for.
#include <string>
#include <vector>

#include "cli/command_table.h"
#include "commands/commands.h"

namespace {

const char usage[] =
    "usage: dlmtool COMMAND [ARGS]   (dlmtool COMMAND --help for its usage)\n"
    "       dlmtool --version\n"
    "Options take their value as --option VALUE or --option=VALUE; --output\n"
    "(or -o) FILE writes FILE, and -o - or no --output writes standard output.\n"
    "commands:\n"
    "  encipher     encipher a file or standard input\n"
    "  decipher     decipher a file or standard input\n"
    "  reply        write an enciphered reply record\n"
    "  manifest     write the manifest of an installer\n"
    "  stamp        write a copy of the program with a distribution tag\n"
    "  tag          print the distribution tag the program would read\n"
    "  info         print what a built program will do (URLs, tag key, tag)\n"
    "  site build   write a complete static download site\n"
    "  site check   check a download site as the program sees it\n";

const char site_usage[] =
    "usage: dlmtool site build CONFIG OUTDIR [--release NAME] [--signer-ca-file FILE] [--json]\n"
    "       dlmtool site check BOOTSTRAP_URL [SECOND_URL] [--as-program] [--json]\n"
    "                          [--ca-file FILE]\n"
    "       dlmtool site check --program PROGRAM.exe [BOOTSTRAP_URL [SECOND_URL]] [...]\n";

const NamedCommand commands[] = {
    {"encipher", encipher_command, encipher_usage, {"-o"}, 0, 1, "takes at most one input file"},
    {"decipher", decipher_command, decipher_usage, {"-o"}, 0, 1, "takes at most one input file"},
    {"reply", reply_command, reply_usage, {"-o"}, 0, ANY_NUMBER, nullptr},
    {"manifest", manifest_command, manifest_usage, {"--installer", "--news", "--language", "-o"}, 0, 0,
     nullptr},
    {"stamp", stamp_command, stamp_usage, {"--id", "--suffix", "-o"}, 1, 1,
     "give exactly one input file", {"--in-signature"}},
    {"tag", tag_command, tag_usage, {}, 1, 1, "give exactly one file"},
    {"info", info_command, info_usage, {}, 1, 1, "give exactly one program file"},
    {"site build", site_build_command, site_build_usage, {"--release", "--signer-ca-file"}, 2, 2,
     "give a configuration file and an output folder", {"--json"}},
    {"site check", site_check_command, site_check_usage,
     {"--connect-timeout", "--max-time", "--max-size", "--signer", "--issuer", "--signer-ca-file",
      "--ca-file", "--program"}, 0, 2,
     "give one or two bootstrap URLs", {"--as-program", "--json"}},
};

const ToolTable tool = {commands, sizeof commands / sizeof commands[0], usage, DLMTOOL_VERSION,
                        "site", site_usage};

}  // namespace

int main(int argc, char** argv)
{
    return run_tool(tool, std::vector<std::string>(argv + 1, argv + argc));
}
