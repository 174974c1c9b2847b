// dlmtool encipher and dlmtool decipher: a file or standard input, turned
// as the servers send replies or as the program reads them.
#include <string>

#include "cli/args.h"
#include "commands/commands.h"
#include "files/files.h"
#include "files/output.h"
#include "site/formats/encipher.h"

const char encipher_usage[] =
    "usage: dlmtool encipher [IN] [--output OUT]\n"
    "Enciphers IN (standard input without it) into OUT (standard output\n"
    "without it), as the servers send their replies.\n" BINARY_OUTPUT_NOTE OUTPUT_FILE_NOTE;
const char decipher_usage[] =
    "usage: dlmtool decipher [IN] [--output OUT]\n"
    "Deciphers IN (standard input without it) into OUT (standard output\n"
    "without it), as the program reads replies.\n" OUTPUT_FILE_NOTE;

namespace {

// Writes the input, turned, to the output.
int write_turned(const ParsedArgs& args, std::string (*turn)(const std::string&),
                 const std::string& out)
{
    write_output(out, turn(read_input(args.positional)));
    return 0;
}

}  // namespace

int encipher_command(const ParsedArgs& args)
{
    return write_turned(args, encipher, binary_output(args));
}

int decipher_command(const ParsedArgs& args)
{
    return write_turned(args, decipher, args.get("-o"));
}
