#include "cli/suggestion.h"

#include <ctype.h>
#include <stddef.h>

#include <algorithm>

namespace {

// Single-character edits from a to b, letters compared without case.
size_t edit_distance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            bool same = tolower(static_cast<unsigned char>(a[i - 1])) ==
                        tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string nearest_suggestion(const std::string& word, const std::vector<std::string>& candidates)
{
    const std::string* best = nullptr;
    size_t best_distance = 3;  // more than two edits is not a slip of the hand
    for (const std::string& candidate : candidates) {
        size_t distance = edit_distance(word, candidate);
        if (distance < best_distance && distance < word.size()) {
            best = &candidate;
            best_distance = distance;
        }
    }
    return best ? " (did you mean '" + *best + "'?)" : std::string();
}
