// The Windows code page the program's users read news in, for each
// language, and news text written in it.
#pragma once
#include <string>

// The ANSI code page of the systems a language's package is for: 950 for
// CHT (Traditional Chinese, as the language chooser's own Big5 label),
// 932 for JAP, 949 for KOR, 1252 for the Western languages. 0 for a code
// that is not a language of the program.
int code_page_of(const std::string& language);

// Writes the UTF-8 text in code_page into out. Returns the empty text when
// it could, else why not: the character that code page cannot hold, or
// bytes that are not UTF-8.
std::string in_code_page(const std::string& utf8, int code_page, std::string* out);

// As in_code_page, line by line (LF ends each); *line: the index of the
// line that cannot be written, from 0.
std::string lines_in_code_page(const std::string& utf8, int code_page, std::string* out,
                               size_t* line);

// Throws ToolError unless a manifest of this many bytes is read whole by
// the program (its reply buffer). what names the manifest.
void check_manifest_length(size_t length, const std::string& what);
