// dlmtool decipher: a file or standard input, deciphered.
#include "cli/args.h"
#include "commands/commands.h"
#include "files/files.h"
#include "files/output.h"
#include "site/encipher.h"

const char decipher_usage[] =
    "usage: dlmtool decipher [IN] [--output OUT]\n"
    "Deciphers IN (standard input without it) into OUT (standard output\n"
    "without it), as the program reads replies.\n" OUTPUT_FILE_NOTE;

int decipher_command(const ParsedArgs& args)
{
    write_output(args.get("-o"), decipher(read_input(args.positional)));
    return 0;
}
