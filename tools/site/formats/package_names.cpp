#include "site/formats/package_names.h"

#include "cli/cli.h"
#include "language.h"
#include "package.h"

namespace {

// The names are short and fixed; a buffer this size always holds them.
const size_t FILE_NAME_SIZE = 64;

std::string checked(int made, const char* name)
{
    if (!made)
        throw ToolError("a package file name does not fit");
    return name;
}

}  // namespace

std::string SitePackage::name() const
{
    return std::string(prefix) + code;
}

std::string SitePackage::manifest() const
{
    char name[FILE_NAME_SIZE];
    return checked(make_manifest_name(prefix, code, name, sizeof name), name);
}

std::string SitePackage::installer() const
{
    char name[FILE_NAME_SIZE];
    return checked(make_installer_name(prefix, code, name, sizeof name), name);
}

std::vector<SitePackage> all_packages()
{
    std::vector<SitePackage> packages;
    for (const char* prefix : {PREFIX_REGULAR, PREFIX_SYSTEM}) {
        for (int k = 0; k < LANGUAGE_COUNT; ++k)
            packages.push_back(SitePackage{prefix, language_codes[k]});
    }
    return packages;
}

std::vector<std::string> all_package_names()
{
    std::vector<std::string> names;
    for (const SitePackage& package : all_packages())
        names.push_back(package.name());
    return names;
}
