// A command line read into its options and the arguments that are not.
#pragma once
#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <vector>

// A command line split into options and the arguments that are not options.
struct ParsedArgs {
    std::map<std::string, std::string> options;  // "--id" -> "X"
    std::vector<std::string> positional;
    bool help = false;

    bool has(const std::string& option) const { return options.count(option) != 0; }
    std::string get(const std::string& option) const;
};

// The value of option as a whole number from 1 to largest; fallback when
// the option is not given.
uint64_t number_option(const ParsedArgs& args, const std::string& option, uint64_t fallback,
                       uint64_t largest);

// The value of option; refuses (UsageError) a command line without it,
// naming the option and what its value is (its metavariable, "FILE").
std::string required_option(const ParsedArgs& args, const std::string& option,
                            const std::string& value_name);

// What the usage of every command that writes binary output says of it.
#define BINARY_OUTPUT_NOTE "Binary output goes to a terminal only with -o -.\n"

// Where binary output goes (the value of -o): refuses (UsageError) a
// terminal on standard output unless "-o -" asked for it.
std::string binary_output(const ParsedArgs& args);

// Splits args: "--help" anywhere asks for help; each of value_options takes
// the next argument as its value, or the text after '=' when given as
// --option=value; each of flag_options stands alone (its value is empty);
// "--output" is another name of "-o", and "-o -" names standard output
// (the value is then empty, as without -o); any other argument starting
// with '-' is refused, with the nearest option suggested; the rest are
// positional, in order.
ParsedArgs parse_args(const std::vector<std::string>& args,
                      const std::set<std::string>& value_options,
                      const std::set<std::string>& flag_options = {});
