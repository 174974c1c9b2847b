// dlmtool stamp and dlmtool tag: the distribution tag trailer of an
// executable, written and read as the program reads it.
#pragma once
#include <stdint.h>

#include <string>

#include "files/files.h"

extern const char stamp_usage[];
extern const char tag_usage[];

// Letters, digits and '-', 1 to longest of them: what an identifier or a
// suffix may hold. They name the partner's file (polvexTAG.exe, where a '.'
// would end the tag), travel in URLs, and are written to the registry and
// shown by the program as they are; '_' joins identifier and suffix.
bool is_tag_word(const std::string& word, size_t longest);

// Refuses (ToolError) an identifier or a suffix that breaks that rule; the
// suffix may be empty.
void check_tag_words(const std::string& identifier, const std::string& suffix);

// Refuses (ToolError) a file that cannot be read or is not a Windows
// program (no MZ and PE headers).
void check_program(const std::string& path);

// The 35-byte trailer for an identifier and a suffix. Throws ToolError when
// either is too long for its field.
std::string trailer_for(const std::string& identifier, const std::string& suffix);

// How many leading bytes of the file at path are not a trailer: its whole
// size, less 35 when it ends with a trailer the program would accept.
uint64_t length_without_trailer(const std::string& path);

// Where the trailer of a signed program goes; an unsigned one simply ends
// with it.
enum class TrailerPlace {
    CERTIFICATE_TABLE,  // inside the certificate table, after the signature
    SIGNATURE,          // at the end of the signer's tag attribute
};

// Writes in with the new trailer in place of any it has, to out (to
// standard output when out is empty). in and out may be the same file. A
// signed in keeps its signature: the trailer goes to place, the checksum
// is recomputed; a signed in laid out so that a trailer would break or
// hide the signature, or an in that is not a Windows program, is refused
// (ToolError, nothing written). The words are taken as they are: callers
// check them with check_tag_words.
void stamp_file(const std::string& in, const std::string& out, const std::string& identifier,
                const std::string& suffix, TrailerPlace place = TrailerPlace::CERTIFICATE_TABLE);

// What dlmtool tag tells of a copy of the program.
struct TagReading {
    bool found = false;  // the program would read a tag
    std::string tag;
    std::string form;       // where the program found it, in words
    bool is_signed = false;  // the file has a signature...
    bool intact = false;     // ...whose image digest matches the file
    std::string signature;   // the signature's state, in words
};

// Reads the tag as the program would when run from path, whose bytes are
// image (null: the file cannot be opened; the name alone then counts).
TagReading read_tag_of(const std::string* image, const std::string& path);

// The tag the program would read when run from the file at path, trailer
// first, then the file name. Returns false when it would read none.
bool tag_of_file(const std::string& path, std::string* tag);

// The commands, with one input file as the only positional argument.
int stamp_command(const ParsedArgs& args);
int tag_command(const ParsedArgs& args);

// The file's bytes, refusing what is not a regular readable file.
std::string read_program_file(const std::string& path);
