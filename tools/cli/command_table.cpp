#include "cli/command_table.h"

#include <stddef.h>
#include <stdio.h>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/printing.h"
#include "cli/suggestion.h"

namespace {

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
        // One line of what was wrong; the whole usage is one --help away.
        fprintf(stderr, "dlmtool %s: %s\nTry 'dlmtool %s --help'\n", command.name, error.what(),
                command.name);
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
std::vector<std::string> command_names(const ToolTable& tool)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < tool.count; ++i)
        names.push_back(tool.commands[i].name);
    return names;
}

}  // namespace

int run_tool(const ToolTable& tool, const std::vector<std::string>& args)
{
    if (args.empty() || asks_for_help(args[0]))
        return show_usage(tool.usage, !args.empty());
    if (args[0] == "--version") {
        printf("dlmtool %s\n", tool.version);
        return 0;
    }
    std::string name = args[0];
    size_t words = 1;
    if (name == tool.group) {
        if (args.size() < 2 || asks_for_help(args[1]))
            return show_usage(tool.group_usage, args.size() >= 2);
        name += " " + args[1];
        words = 2;
    }
    for (size_t i = 0; i < tool.count; ++i) {
        if (name == tool.commands[i].name)
            return run_reporting(tool.commands[i], std::vector<std::string>(
                                                       args.begin() + static_cast<std::ptrdiff_t>(words),
                                                       args.end()));
    }
    fprintf(stderr, "dlmtool: unknown command '%s'%s\nTry 'dlmtool --help'\n", printable(name).c_str(),
            nearest_suggestion(name, command_names(tool)).c_str());
    return 2;
}
