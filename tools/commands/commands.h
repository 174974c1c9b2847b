// commands/: dlmtool's commands, one small file each. A command reads its
// options and arguments and calls the folders beneath (site/, pe/, files/,
// cli/); what it does lives there. Each runs with the positional arguments
// that the table in dlmtool.cpp lets through, and returns its exit code.
#pragma once
#include "cli/args.h"

extern const char encipher_usage[];
extern const char decipher_usage[];
extern const char reply_usage[];
extern const char manifest_usage[];
extern const char stamp_usage[];
extern const char tag_usage[];
extern const char info_usage[];
extern const char site_build_usage[];
extern const char site_check_usage[];

int encipher_command(const ParsedArgs& args);
int decipher_command(const ParsedArgs& args);
int reply_command(const ParsedArgs& args);
int manifest_command(const ParsedArgs& args);
int stamp_command(const ParsedArgs& args);
int tag_command(const ParsedArgs& args);
int info_command(const ParsedArgs& args);
int site_build_command(const ParsedArgs& args);
int site_check_command(const ParsedArgs& args);
