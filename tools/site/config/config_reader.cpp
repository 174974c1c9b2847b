#include "site/config/config_reader.h"

#include "cli/cli.h"
#include "cli/printing.h"

void config_error(const ConfigReader& reader, const std::string& message, int line)
{
    int at = line < 0 ? reader.line : line;
    // Invisible characters of the configuration are shown escaped.
    throw ToolError(reader.name + (at > 0 ? ":" + std::to_string(at) : std::string()) + ": " +
                    printable(message));
}

void check_first(const ConfigReader& reader, const std::string& what, int first_line)
{
    if (first_line)
        config_error(reader, what + " given twice (first on line " + std::to_string(first_line) +
                                 ")");
}
