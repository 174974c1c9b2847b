#include "site/config/value_rules.h"

#include <algorithm>

#include "site/config/site_urls.h"

namespace {

bool is_not_relative(const std::string& value)
{
    return starts_at_root(value) || !lacks_scheme(value);
}

bool ends_with_slash(const std::string& value)
{
    return value.back() == '/';
}

bool lacks_final_slash(const std::string& value)
{
    return !ends_with_slash(value);
}

bool climbs(const std::string& value)
{
    return value.find("..") != std::string::npos;
}

bool is_unrepresentable(const std::string& value)
{
    return !is_representable_url(value);
}

}  // namespace

// Each list in the order of its messages' priority.
const std::vector<ValueRule> BASE_RULES = {
    {lacks_scheme, "is not an absolute URL (scheme://host/...)"},
    {lacks_final_slash, "must end with '/'"},
    {is_unrepresentable, UNREPRESENTABLE},
    {is_not_program_url, NOT_PROGRAM_URL},
};
const std::vector<ValueRule> DIRECTORY_RULES = {
    {lacks_final_slash, "must end with '/'"},
    {is_not_relative, "must be relative to base"},
    {climbs, "must not hold '..'"},
    {is_unrepresentable, UNREPRESENTABLE},
};
const std::vector<ValueRule> REPLY_PATH_RULES = {
    {starts_at_root, "must be relative to the site folder"},
    {climbs, "must not hold '..'"},
    {ends_with_slash, "names a folder, not a file"},
};

void check_rules(const ConfigReader& reader, const std::string& what, const std::string& value,
                 const std::vector<ValueRule>& rules)
{
    auto broken = std::find_if(rules.begin(), rules.end(),
                               [&](const ValueRule& rule) { return rule.broken(value); });
    if (broken != rules.end())
        config_error(reader, what + " '" + value + "' " + broken->complaint);
}
