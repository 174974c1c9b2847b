// A site configuration read from its file or its text.
#pragma once
#include <string>

#include "site/config/site_config.h"

// Reads a configuration from text. name is used in messages, folder to
// resolve relative installer paths. Installers are opened to learn their
// sizes. Throws ToolError with "name:line: " in front of every mistake.
SiteConfig parse_site_config(const std::string& text, const std::string& name,
                             const std::string& folder);

SiteConfig read_site_config(const std::string& path);
