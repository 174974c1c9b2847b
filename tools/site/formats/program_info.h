// What a built program will do, read from its file: the texts it stores
// enciphered, its tag and its signature.
#pragma once
#include <string>

// The texts the program stores enciphered, found in its file.
struct StoredTexts {
    bool found = false;
    std::string bootstrap_1;
    std::string bootstrap_2;
    std::string tag_key;  // below HKEY_LOCAL_MACHINE
    // A build that checks the installer's signer stores its name right after
    // the key, and the issuer's, when it has one, after that.
    bool checks_signer = false;
    std::string signer;
    std::string issuer;
};

// Finds the three stored texts in a program's bytes: three enciphered texts
// that the build lays out next to each other, apart only by NUL bytes, two
// of them http:// or https:// URLs and the third the registry path; then,
// in a build that checks the installer's signer (it loads WinVerifyTrust),
// the signer's name and the issuer's beyond the key.
StoredTexts find_stored_texts(const std::string& image);

// The report of dlmtool info, one line a fact.
std::string describe_program(const std::string& path, const std::string& image);
