// dlmtool encipher: a file or standard input, enciphered.
#include "cli/args.h"
#include "commands/commands.h"
#include "files/files.h"
#include "files/output.h"
#include "site/encipher.h"

const char encipher_usage[] =
    "usage: dlmtool encipher [IN] [--output OUT]\n"
    "Enciphers IN (standard input without it) into OUT (standard output\n"
    "without it), as the servers send their replies.\n" OUTPUT_FILE_NOTE;

int encipher_command(const ParsedArgs& args)
{
    write_output(args.get("-o"), encipher(read_input(args.positional)));
    return 0;
}
