// The distribution tag trailer of an executable and where it is placed:
// at the end of an unsigned program, inside a signed one's certificate
// table or its signature.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

// Letters, digits and '-', 1 to longest of them: what an identifier or a
// suffix may hold. They name the partner's file (polvexTAG.exe, where a '.'
// would end the tag), travel in URLs, and are written to the registry and
// shown by the program as they are; '_' joins identifier and suffix.
bool is_tag_word(const std::string& word, size_t longest);

// Refuses (ToolError) an identifier or a suffix that breaks that rule; the
// suffix may be empty.
void check_tag_words(const std::string& identifier, const std::string& suffix);

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
