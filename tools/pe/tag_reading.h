// The distribution tag that the program would read from a copy of itself,
// read with the program's own reader, and the state of the copy's
// signature.
#pragma once
#include <string>

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

// Whether image ends with a trailer the program would accept.
bool has_trailer(const std::string& image);
