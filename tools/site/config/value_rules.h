// What a value of a site configuration must be (base, directory, a reply
// path, a redirect's URL), each rule with the complaint that names it.
#pragma once
#include <string>
#include <vector>

#include "site/config/config_reader.h"

// One rule for a value of the configuration (base, directory, a reply
// path): broken(value) tells that the value breaks it, complaint what it
// must be.
struct ValueRule {
    bool (*broken)(const std::string& value);
    const char* complaint;
};

// Each list in the order of its messages' priority.
extern const std::vector<ValueRule> BASE_RULES;
extern const std::vector<ValueRule> DIRECTORY_RULES;
extern const std::vector<ValueRule> REPLY_PATH_RULES;

// Refuses value, named what, when it breaks one of rules: the first that
// it breaks is named.
void check_rules(const ConfigReader& reader, const std::string& what, const std::string& value,
                 const std::vector<ValueRule>& rules);
