// dlmtool: the vendor's tool for the download manager's servers. This file
// only picks the command; each command lives in a file of its own.
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "encipher.h"
#include "manifest_command.h"
#include "reply_command.h"
#include "site_build.h"
#include "site_check.h"
#include "stamp.h"
#include "tool_support.h"

namespace {

const char usage[] =
    "usage: dlmtool COMMAND [ARGS]   (dlmtool COMMAND --help for its usage)\n"
    "commands:\n"
    "  encipher     encipher a file or standard input\n"
    "  decipher     decipher a file or standard input\n"
    "  reply        write an enciphered reply record\n"
    "  manifest     write the manifest of an installer\n"
    "  stamp        write a copy of the program with a distribution tag\n"
    "  tag          print the distribution tag the program would read\n"
    "  site build   write a complete static download site\n"
    "  site check   check a download site as the program sees it\n";

const char site_usage[] =
    "usage: dlmtool site build CONFIG OUTDIR\n"
    "       dlmtool site check BOOTSTRAP_URL [SECOND_URL]\n";

typedef int (*Command)(const std::vector<std::string>& args);

struct NamedCommand {
    const char* name;
    Command run;
    const char* usage;
};

const char encipher_usage[] =
    "usage: dlmtool encipher [IN] [-o OUT]\n"
    "Enciphers IN (standard input without it) into OUT (standard output\n"
    "without it), as the servers send their replies.\n";
const char decipher_usage[] =
    "usage: dlmtool decipher [IN] [-o OUT]\n"
    "Deciphers IN (standard input without it) into OUT (standard output\n"
    "without it), as the program reads replies.\n";

int cipher_command(const std::vector<std::string>& args, bool encipher_input)
{
    ParsedArgs parsed = parse_args(args, {"-o"});
    if (parsed.help) {
        std::cout << (encipher_input ? encipher_usage : decipher_usage);
        return 0;
    }
    if (parsed.positional.size() > 1)
        throw UsageError("takes at most one input file");
    std::string text;
    if (parsed.positional.empty())
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    else
        text = read_file(parsed.positional[0]);
    write_output(parsed.get("-o"), encipher_input ? encipher(text) : decipher(text));
    return 0;
}

int encipher_command(const std::vector<std::string>& args)
{
    return cipher_command(args, true);
}

int decipher_command(const std::vector<std::string>& args)
{
    return cipher_command(args, false);
}

const NamedCommand commands[] = {
    {"encipher", encipher_command, encipher_usage},
    {"decipher", decipher_command, decipher_usage},
    {"reply", reply_command, reply_usage},
    {"manifest", manifest_command, manifest_usage},
    {"stamp", stamp_command, stamp_usage},
    {"tag", tag_command, tag_usage},
    {"site build", site_build_command, site_build_usage},
    {"site check", site_check_command, site_check_usage},
};

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        fputs(usage, stderr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        fputs(usage, stdout);
        return 0;
    }
    std::string name = args[0];
    size_t words = 1;
    if (name == "site") {
        if (args.size() < 2 || args[1] == "--help" || args[1] == "-h") {
            bool asked = args.size() >= 2;
            fputs(site_usage, asked ? stdout : stderr);
            return asked ? 0 : 2;
        }
        name += " " + args[1];
        words = 2;
    }
    for (const NamedCommand& command : commands) {
        if (name != command.name)
            continue;
        try {
            return command.run(std::vector<std::string>(
                args.begin() + static_cast<std::ptrdiff_t>(words), args.end()));
        } catch (const UsageError& error) {
            fprintf(stderr, "dlmtool %s: %s\n%s", command.name, error.what(), command.usage);
            return 2;
        } catch (const ToolError& error) {
            fprintf(stderr, "dlmtool %s: %s\n", command.name, error.what());
            return 1;
        }
    }
    fprintf(stderr, "dlmtool: unknown command '%s'\n%s", name.c_str(), usage);
    return 2;
}
