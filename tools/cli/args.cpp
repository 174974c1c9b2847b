#include "cli/args.h"

#include <stddef.h>
#include <unistd.h>

#include "cli/cli.h"
#include "cli/printing.h"
#include "cli/suggestion.h"

std::string ParsedArgs::get(const std::string& option) const
{
    auto it = options.find(option);
    return it == options.end() ? std::string() : it->second;
}

namespace {

// One option and its value, from "--name=value" or from the next argument.
// Returns the option's canonical name.
std::string take_option(const std::vector<std::string>& args, size_t* i,
                        const std::set<std::string>& value_options,
                        const std::set<std::string>& flag_options, std::string* value)
{
    const std::string& arg = args[*i];
    size_t equals = arg.compare(0, 2, "--") == 0 ? arg.find('=') : std::string::npos;
    std::string name = arg.substr(0, equals);
    if (name == "--output")
        name = "-o";
    if (flag_options.count(name)) {
        if (equals != std::string::npos)
            throw UsageError(name + " takes no value");
        return name;
    }
    if (!value_options.count(name)) {
        std::vector<std::string> known(value_options.begin(), value_options.end());
        known.insert(known.end(), flag_options.begin(), flag_options.end());
        if (value_options.count("-o"))
            known.push_back("--output");
        throw UsageError("unknown option " + printable(arg) + nearest_suggestion(name, known));
    }
    if (equals != std::string::npos) {
        *value = arg.substr(equals + 1);
    } else {
        if (*i + 1 >= args.size())
            throw UsageError(name + " needs a value");
        *value = args[++*i];
    }
    if (name == "-o" && *value == "-")
        value->clear();  // standard output, as without -o
    return name;
}

}  // namespace

ParsedArgs parse_args(const std::vector<std::string>& args,
                      const std::set<std::string>& value_options,
                      const std::set<std::string>& flag_options)
{
    ParsedArgs parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::string value;
            std::string name = take_option(args, &i, value_options, flag_options, &value);
            if (parsed.has(name) && !flag_options.count(name))
                throw UsageError(name + " given twice");
            parsed.options[name] = value;
        } else {
            parsed.positional.push_back(arg);
        }
    }
    return parsed;
}

std::string required_option(const ParsedArgs& args, const std::string& option,
                            const std::string& value_name)
{
    if (!args.has(option))
        throw UsageError(option + " " + value_name + " is required");
    return args.get(option);
}

uint64_t number_option(const ParsedArgs& args, const std::string& option, uint64_t fallback,
                       uint64_t largest)
{
    if (!args.has(option))
        return fallback;
    const std::string text = args.get(option);
    uint64_t value = 0;
    bool fits = !text.empty() && text.size() <= 19;  // 19 digits cannot overflow
    for (char c : text) {
        fits = fits && c >= '0' && c <= '9';
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!fits || value < 1 || value > largest)
        throw UsageError(option + " takes a whole number from 1 to " + std::to_string(largest) +
                         ", not '" + printable(text) + "'");
    return value;
}

std::string binary_output(const ParsedArgs& args)
{
    if (!args.has("-o") && isatty(STDOUT_FILENO))
        throw UsageError("the output is binary and standard output is a terminal: give -o FILE, "
                         "or -o - to write it there anyway");
    return args.get("-o");
}
