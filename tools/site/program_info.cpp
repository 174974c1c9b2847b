#include "site/program_info.h"

#include <stddef.h>

#include <vector>

#include "pe/pe_signature.h"
#include "pe/tag_reading.h"
#include "site/encipher.h"


namespace {

// The program's limit on its own size.
const size_t PROGRAM_SIZE_LIMIT = 32768;
// The shortest stored text worth considering: "http://a" and a key alike.
const size_t SHORTEST_TEXT = 8;
// Texts stored one after the other are apart by at most their alignment.
const size_t LARGEST_GAP = 64;

// A run of bytes between NUL bytes that deciphers to printable text.
struct DecipheredRun {
    size_t at;
    size_t end;
    std::string text;
};

bool is_printable_text(const std::string& text)
{
    for (unsigned char c : text) {
        if (c < ' ' || c >= 0x7F)
            return false;
    }
    return true;
}

std::vector<DecipheredRun> deciphered_runs(const std::string& image)
{
    std::vector<DecipheredRun> runs;
    size_t at = 0;
    while (at < image.size()) {
        size_t end = image.find('\0', at);
        if (end == std::string::npos)
            break;  // a stored text ends with its NUL
        if (end - at >= SHORTEST_TEXT) {
            std::string text = decipher(image.substr(at, end - at));
            if (is_printable_text(text))
                runs.push_back({at, end, text});
        }
        at = end + 1;
    }
    return runs;
}

bool is_url(const std::string& text)
{
    return text.compare(0, 7, "http://") == 0 || text.compare(0, 8, "https://") == 0;
}

// Whether only a few NUL bytes lie between two runs.
bool adjacent(const std::string& image, const DecipheredRun& first, const DecipheredRun& second)
{
    return second.at - first.end <= LARGEST_GAP &&
           image.find_first_not_of('\0', first.end) == second.at;
}

}  // namespace

StoredTexts find_stored_texts(const std::string& image)
{
    std::vector<DecipheredRun> runs = deciphered_runs(image);
    for (size_t i = 0; i + 2 < runs.size(); ++i) {
        const DecipheredRun* run = &runs[i];
        if (!adjacent(image, run[0], run[1]) || !adjacent(image, run[1], run[2]) ||
            !is_url(run[1].text))
            continue;
        // The compiler lays the three out in the order of their definition
        // (URL 1, URL 2, key) or in the reverse order (key, URL 2, URL 1).
        if (is_url(run[0].text) && !is_url(run[2].text))
            return StoredTexts{true, run[0].text, run[1].text, run[2].text};
        if (!is_url(run[0].text) && is_url(run[2].text))
            return StoredTexts{true, run[2].text, run[1].text, run[0].text};
    }
    return StoredTexts();
}

std::string describe_program(const std::string& path, const std::string& image)
{
    std::string text;
    StoredTexts texts = find_stored_texts(image);
    if (texts.found) {
        text += "first bootstrap URL: " + texts.bootstrap_1 + "\n";
        text += "second bootstrap URL: " + texts.bootstrap_2 + "\n";
        text += "tag key: HKEY_LOCAL_MACHINE\\" + texts.tag_key + "\n";
    } else {
        text += "stored texts: not found (not a build of the program?)\n";
    }
    TagReading reading = read_tag_of(&image, path);
    if (reading.found && !reading.tag.empty())
        text += "tag: " + reading.tag + " (" + reading.form + ")\n";
    else
        text += "tag: none (" + reading.form + ")\n";
    text += "signature: " + reading.signature + "\n";
    text += "size: " + std::to_string(image.size()) + " bytes" +
            (image.size() > PROGRAM_SIZE_LIMIT ? " (more than the program's 32768)" : "") + "\n";
    return text;
}
