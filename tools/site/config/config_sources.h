// The rules of the keywords that name files: the installers (installer,
// package, language) and the program stamped for each partner (program,
// tag, placement).
#pragma once
#include "site/config/config_reader.h"
#include "site/config/config_words.h"

void read_installer(ConfigReader& reader, const KeywordLine& line);
void read_package(ConfigReader& reader, const KeywordLine& line);
void read_language(ConfigReader& reader, const KeywordLine& line);
void read_program(ConfigReader& reader, const KeywordLine& line);
void read_tag(ConfigReader& reader, const KeywordLine& line);
void read_placement(ConfigReader& reader, const KeywordLine& line);

// After the last line: the copies can be stamped.
void finish_tags(ConfigReader& reader);

// The program's bootstrap URLs lead into the site: each is base (or a
// mirror) and the path of one of its reply pages. A file without the program's stored
// texts (not a build of it) is not asked.
void check_program_urls(ConfigReader& reader);
