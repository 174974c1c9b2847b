#include "site/formats/package_manifest.h"

#include <stdint.h>

#include "cli/cli.h"

void check_installer_size(uint64_t size, const std::string& what)
{
    if (size == 0)
        throw ToolError(what + " is empty; the program refuses a size of 0");
    if (size > static_cast<uint64_t>(INT32_MAX))
        throw ToolError(what + " has " + std::to_string(size) +
                        " bytes; the program takes at most 2147483647");
}

std::string make_manifest(uint64_t installer_size, const std::string& news_text)
{
    std::string manifest = std::to_string(installer_size) + "\n" + news_text;
    if (!news_text.empty() && news_text.back() != '\n')
        manifest += '\n';
    return manifest;
}

std::string news_text_of(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}
