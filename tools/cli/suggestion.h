// The word a user most likely meant, for a message about a mistyped one.
#pragma once
#include <string>
#include <vector>

// " (did you mean 'WORD'?)" for the candidate nearest to word, or the
// empty text when none is near: at most two single-character edits
// (insert, delete, replace, ignoring case) and fewer than word's length.
std::string nearest_suggestion(const std::string& word, const std::vector<std::string>& candidates);
