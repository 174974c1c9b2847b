// site/formats/: what the program and the download site agree on (package
// names and manifests, reply fields, enciphered texts, a built program's
// stored texts). Here: the packages a download site offers, named as the
// program names them (core's package.h builds the file names).
#pragma once
#include <string>
#include <vector>

struct SitePackage {
    const char* prefix;  // PREFIX_REGULAR or PREFIX_SYSTEM
    const char* code;    // one of language_codes

    std::string name() const;       // "p_Vandel_reg_DEU"
    std::string manifest() const;   // "p_Vandel_reg_DEU.DEU"
    std::string installer() const;  // "p_Vandel_reg_DEU.exe"
};

// The 22 packages, prefix by prefix in language order.
std::vector<SitePackage> all_packages();

// Their names ("p_Vandel_reg_CHT" ...), in the same order.
std::vector<std::string> all_package_names();
