// dlmtool: the vendor's tool for the download manager's servers. This file
// only picks the command; each command lives in a file of its own.
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "site/encipher.h"
#include "site/program_info.h"
#include "site/package_manifest.h"
#include "commands/reply_command.h"
#include "site/site_build.h"
#include "site/site_check.h"
#include "pe/stamp.h"
#include "files/files.h"

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
    "usage: dlmtool site build CONFIG OUTDIR [--json]\n"
    "       dlmtool site check BOOTSTRAP_URL [SECOND_URL] [--as-program] [--json]\n"
    "                          [--ca-file FILE]\n";

const char encipher_usage[] =
    "usage: dlmtool encipher [IN] [--output OUT]\n"
    "Enciphers IN (standard input without it) into OUT (standard output\n"
    "without it), as the servers send their replies.\n" OUTPUT_FILE_NOTE;
const char decipher_usage[] =
    "usage: dlmtool decipher [IN] [--output OUT]\n"
    "Deciphers IN (standard input without it) into OUT (standard output\n"
    "without it), as the program reads replies.\n" OUTPUT_FILE_NOTE;

std::string input_text(const ParsedArgs& args)
{
    if (!args.positional.empty())
        return read_file(args.positional[0]);
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}

int encipher_command(const ParsedArgs& args)
{
    write_output(args.get("-o"), encipher(input_text(args)));
    return 0;
}

int decipher_command(const ParsedArgs& args)
{
    write_output(args.get("-o"), decipher(input_text(args)));
    return 0;
}

const size_t ANY_NUMBER = static_cast<size_t>(-1);

// A command, what it takes and how it is explained. A command runs only
// with its number of positional arguments.
struct NamedCommand {
    const char* name;
    int (*run)(const ParsedArgs& args);
    const char* usage;
    std::set<std::string> value_options;
    size_t min_positional;
    size_t max_positional;
    // Why a count is refused; null: the first argument too many is named.
    const char* count_error;
    std::set<std::string> flag_options = {};
};

const NamedCommand commands[] = {
    {"encipher", encipher_command, encipher_usage, {"-o"}, 0, 1, "takes at most one input file"},
    {"decipher", decipher_command, decipher_usage, {"-o"}, 0, 1, "takes at most one input file"},
    {"reply", reply_command, reply_usage, {"-o"}, 0, ANY_NUMBER, nullptr},
    {"manifest", manifest_command, manifest_usage, {"--installer", "--news", "-o"}, 0, 0,
     nullptr},
    {"stamp", stamp_command, stamp_usage, {"--id", "--suffix", "-o"}, 1, 1,
     "give exactly one input file", {"--in-signature"}},
    {"tag", tag_command, tag_usage, {}, 1, 1, "give exactly one file"},
    {"info", info_command, info_usage, {}, 1, 1, "give exactly one program file"},
    {"site build", site_build_command, site_build_usage, {}, 2, 2,
     "give a configuration file and an output folder", {"--json"}},
    {"site check", site_check_command, site_check_usage,
     {"--connect-timeout", "--max-time", "--max-size", "--signer", "--signer-ca-file",
      "--ca-file"}, 1, 2,
     "give one or two bootstrap URLs", {"--as-program", "--json"}},
};

// Parses the arguments, answers --help, checks the count, then runs.
int run_command(const NamedCommand& command, const std::vector<std::string>& args)
{
    ParsedArgs parsed = parse_args(args, command.value_options, command.flag_options);
    if (parsed.help) {
        fputs(command.usage, stdout);
        return 0;
    }
    size_t count = parsed.positional.size();
    if (count < command.min_positional || count > command.max_positional) {
        if (command.count_error)
            throw UsageError(command.count_error);
        throw UsageError("unexpected argument " + parsed.positional[command.max_positional]);
    }
    return command.run(parsed);
}

// Runs the command, reporting its failure as the tool does for all.
int run_reporting(const NamedCommand& command, const std::vector<std::string>& args)
{
    try {
        return run_command(command, args);
    } catch (const UsageError& error) {
        fprintf(stderr, "dlmtool %s: %s\n%s", command.name, error.what(), command.usage);
        return 2;
    } catch (const ToolError& error) {
        fprintf(stderr, "dlmtool %s: %s\n", command.name, error.what());
        return 1;
    }
}

// Prints the usage (on standard output when asked for) and returns the
// exit code.
int show_usage(const char* text, bool asked)
{
    fputs(text, asked ? stdout : stderr);
    return asked ? 0 : 2;
}

bool asks_for_help(const std::string& arg)
{
    return arg == "--help" || arg == "-h";
}

// The command names, for a suggestion when one is mistyped.
std::vector<std::string> command_names()
{
    std::vector<std::string> names;
    for (const NamedCommand& command : commands)
        names.push_back(command.name);
    return names;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || asks_for_help(args[0]))
        return show_usage(usage, !args.empty());
    if (args[0] == "--version") {
        printf("dlmtool %s\n", DLMTOOL_VERSION);
        return 0;
    }
    std::string name = args[0];
    size_t words = 1;
    if (name == "site") {
        if (args.size() < 2 || asks_for_help(args[1]))
            return show_usage(site_usage, args.size() >= 2);
        name += " " + args[1];
        words = 2;
    }
    for (const NamedCommand& command : commands) {
        if (name == command.name)
            return run_reporting(command, std::vector<std::string>(
                                              args.begin() + static_cast<std::ptrdiff_t>(words),
                                              args.end()));
    }
    fprintf(stderr, "dlmtool: unknown command '%s'%s\n%s", printable(name).c_str(),
            nearest_suggestion(name, command_names()).c_str(), usage);
    return 2;
}
