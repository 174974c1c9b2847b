#include "site/formats/program_info.h"

#include <stddef.h>

#include <vector>

#include "pe/pe_signature.h"
#include "pe/tag_reading.h"
#include "site/formats/encipher.h"


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

// Whether text is UTF-8 without control characters: a name the build took.
bool is_name_text(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t more = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1
                                  : lead >= 0xE0 && lead <= 0xEF   ? 2
                                  : lead >= 0xF0 && lead <= 0xF4   ? 3
                                                                   : 4;
        if (lead < ' ' || lead == 0x7F || more == 4 || i + more >= text.size())
            return false;
        for (size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += 1 + more;
    }
    return !text.empty();
}

// The stored text beyond the run from at to end (its NUL), in the
// direction of the layout, when only NUL bytes of alignment lie between;
// its bounds go into at and end. Empty when there is none.
std::string stored_text_beyond(const std::string& image, bool forward, size_t* at, size_t* end)
{
    size_t start, stop;
    if (forward) {
        start = image.find_first_not_of('\0', *end);
        if (start == std::string::npos || start - *end > LARGEST_GAP)
            return std::string();
        stop = image.find('\0', start);
        if (stop == std::string::npos)
            return std::string();
    } else {
        if (*at == 0)
            return std::string();
        stop = image.find_last_not_of('\0', *at - 1);
        if (stop == std::string::npos || *at - stop > LARGEST_GAP)
            return std::string();
        ++stop;
        size_t before = image.rfind('\0', stop - 1);
        start = before == std::string::npos ? 0 : before + 1;
    }
    std::string text = decipher(image.substr(start, stop - start));
    if (!is_name_text(text))
        return std::string();
    *at = start;
    *end = stop;
    return text;
}

// The signer's and the issuer's names beyond the key, in a build that
// loads the function that checks signatures.
void find_signer_texts(const std::string& image, const DecipheredRun& key, bool forward,
                       StoredTexts* texts)
{
    texts->checks_signer = image.find(std::string("WinVerifyTrust\0", 15)) != std::string::npos;
    if (!texts->checks_signer)
        return;
    size_t at = key.at, end = key.end;
    texts->signer = stored_text_beyond(image, forward, &at, &end);
    if (!texts->signer.empty())
        texts->issuer = stored_text_beyond(image, forward, &at, &end);
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
        if (is_url(run[0].text) == is_url(run[2].text))
            continue;
        bool forward = is_url(run[0].text);
        const DecipheredRun& first = run[forward ? 0 : 2];
        const DecipheredRun& key = run[forward ? 2 : 0];
        StoredTexts texts;
        texts.found = true;
        texts.bootstrap_1 = first.text;
        texts.bootstrap_2 = run[1].text;
        texts.tag_key = key.text;
        find_signer_texts(image, key, forward, &texts);
        return texts;
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
        if (!texts.checks_signer)
            text += "installer signer: none (the installer is started unchecked)\n";
        else if (texts.signer.empty())
            text += "installer signer: checked, name not found\n";
        else
            text += "installer signer: " + texts.signer + "\n";
        if (!texts.issuer.empty())
            text += "installer issuer: " + texts.issuer + "\n";
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
