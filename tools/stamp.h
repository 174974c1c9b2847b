// dlmtool stamp and dlmtool tag: the distribution tag trailer of an
// executable, written and read as the program reads it.
#pragma once
#include <stdint.h>

#include <string>

#include "tool_support.h"

extern const char stamp_usage[];
extern const char tag_usage[];

// The 35-byte trailer for an identifier and a suffix. Throws ToolError when
// either is too long for its field.
std::string trailer_for(const std::string& identifier, const std::string& suffix);

// How many leading bytes of the file at path are not a trailer: its whole
// size, less 35 when it ends with a trailer the program would accept.
uint64_t length_without_trailer(const std::string& path);

// Writes in's bytes without any trailer, then the new trailer, to out (to
// standard output when out is empty). in and out may be the same file.
void stamp_file(const std::string& in, const std::string& out, const std::string& identifier,
                const std::string& suffix);

// The tag the program would read when run from the file at path, trailer
// first, then the file name. Returns false when it would read none.
bool tag_of_file(const std::string& path, std::string* tag);

// The commands, with one input file as the only positional argument.
int stamp_command(const ParsedArgs& args);
int tag_command(const ParsedArgs& args);
