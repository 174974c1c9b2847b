#include "site/config/config_file.h"

#include <filesystem>

#include "files/files.h"
#include "site/config/config_keywords.h"
#include "site/config/config_reader.h"
#include "site/config/config_words.h"
#include "site/config/reply_graph.h"

namespace fs = std::filesystem;

SiteConfig parse_site_config(const std::string& text, const std::string& name,
                             const std::string& folder)
{
    ConfigReader reader;
    reader.name = name;
    reader.folder = folder;
    for_each_line(text, reader, [&](const std::string& line) { read_config_line(reader, line); });
    finish_config(reader);
    check_reply_graph(reader);
    return reader.config;
}

SiteConfig read_site_config(const std::string& path)
{
    // Installers beside a configuration in the current folder are "./NAME".
    std::string folder = fs::path(path).parent_path().string();
    return parse_site_config(read_file(path), path, folder.empty() ? "." : folder);
}
