// A whole site resolution over a fuzzed sequence of server replies.
//
// Input: plain reply texts separated by NUL bytes, served in order to the
// fetches of the resolution, each enciphered as the vendor's tool does;
// fetches past the last reply find nothing (an empty reply). A reply that
// begins with byte 0x01 or 0x02 is stretched, so that small inputs reach
// replies as long as the reply buffer and values as long as the URL buffer:
// its next byte k and the rest R; R is split at its first 0x01 into a head
// and a tail, and the head's last byte is repeated until head and tail
// together are REPLY_BUFFER_SIZE - 128 + k bytes long (0x01) or, each LF
// counted twice as when a value is copied, URL_BUFFER_SIZE - 128 + k bytes
// long (0x02).
//
// Checked: the fetches stay within two chains of at most 1 + the
// redirection bound each; every URL asked is a terminated text inside the
// URL buffer; on success the URL buffer holds a terminated text shorter
// than the buffer; and the result, the URLs asked and the directory found
// are those that the table of outcomes, one reply at a time, gives for the
// same replies.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "site/formats/encipher.h"
#include "fuzz_check.h"
#include "buffer_sizes.h"
#include "page_fetcher.h"
#include "reply_reference.h"
#include "site_resolution.h"

namespace {

const int MAX_FETCHES = 2 * (1 + MAX_REDIRECTIONS);
const char BOOTSTRAP_1[] = "http://boot-1.test/dlm/primary.txt";
const char BOOTSTRAP_2[] = "http://boot-2.test/dlm/alt1.txt";
const char STRETCH_BYTES = '\x01';     // also ends the head
const char STRETCH_EXPANDED = '\x02';

std::string stretched(const std::string& piece)
{
    if (piece.empty() || (piece[0] != STRETCH_BYTES && piece[0] != STRETCH_EXPANDED))
        return piece;
    bool expanded = piece[0] == STRETCH_EXPANDED;
    size_t k = piece.size() > 1 ? static_cast<unsigned char>(piece[1]) : 0;
    std::string rest = piece.size() > 2 ? piece.substr(2) : "";
    size_t split = rest.find(STRETCH_BYTES);
    std::string head = rest.substr(0, split);
    std::string tail = split == std::string::npos ? "" : rest.substr(split + 1);
    if (head.empty())
        return tail;
    auto measure = [expanded](const std::string& text) {
        size_t length = text.size();
        if (expanded) {
            for (char c : text)
                length += c == '\n';
        }
        return length;
    };
    size_t target = (expanded ? URL_BUFFER_SIZE : REPLY_BUFFER_SIZE) - 128 + k;
    size_t length = measure(head) + measure(tail);
    if (length < target) {
        size_t unit = expanded && head.back() == '\n' ? 2 : 1;
        head.append((target - length + unit - 1) / unit, head.back());
    }
    return head + tail;
}

struct Server {
    std::vector<std::string> plain;       // the replies, as the program should read them
    std::vector<std::string> enciphered;  // as they are sent
    std::vector<std::string> asked;
    char* reply_block = nullptr;

    static int fetch(void* context, const char* url, char* reply)
    {
        Server& server = *static_cast<Server*>(context);
        FUZZ_CHECK(url != nullptr && reply != nullptr);
        FUZZ_CHECK(server.asked.size() < static_cast<size_t>(MAX_FETCHES));
        // The URL asked is a terminated text inside the URL buffer.
        FUZZ_CHECK(strnlen(url, URL_BUFFER_SIZE) < URL_BUFFER_SIZE);
        if (server.reply_block)
            FUZZ_CHECK(reply == server.reply_block);
        server.reply_block = reply;
        size_t k = server.asked.size();
        server.asked.push_back(url);
        if (k >= server.enciphered.size()) {
            reply[0] = '\0';
            return 0;
        }
        // Like the page fetcher: at most REPLY_BUFFER_SIZE bytes, terminated.
        const std::string& body = server.enciphered[k];
        size_t len = std::min(body.size(), REPLY_BUFFER_SIZE);
        memcpy(reply, body.data(), len);
        reply[len] = '\0';
        return 1;
    }
};

struct Outcome {
    bool found = false;
    std::string directory;
    std::vector<std::string> asked;
};

// What one reply leads to, by the resolution's table of outcomes. A reply
// without a well-formed iFlag ends the chain without an answer whatever
// else it holds; otherwise the row of iFlag being 0 or not, sUrl and sDlurl
// being present decides. A URL value that is no URL to ask (the reference's
// url_field), or that does not fit the URL buffer, counts as absent.
enum class Step { NO_ANSWER, ASK_NEXT, DIRECTORY, FAIL_AT_ONCE };
enum class Has { NO, YES, ANY };

struct Row {
    Has flag_zero;
    Has next_url;
    Has directory;
    Step step;
};

const Row OUTCOMES[] = {
    // iFlag 0  sUrl      sDlurl
    {Has::YES, Has::YES, Has::YES, Step::DIRECTORY},
    {Has::YES, Has::NO, Has::YES, Step::DIRECTORY},
    {Has::YES, Has::YES, Has::NO, Step::ASK_NEXT},
    {Has::YES, Has::NO, Has::NO, Step::FAIL_AT_ONCE},  // the second bootstrap is not asked
    {Has::NO, Has::YES, Has::ANY, Step::ASK_NEXT},
    {Has::NO, Has::NO, Has::ANY, Step::NO_ANSWER},
};

bool matches(Has column, bool value)
{
    return column == Has::ANY || (column == Has::YES) == value;
}

bool usable_url(const std::string& reply, const char* name, std::string* value)
{
    return reference::url_field(reply, name, value) && value->size() + 1 <= URL_BUFFER_SIZE;
}

// The step for one reply, with the URL it names for that step.
Step read_reply(const std::string& reply, std::string* url)
{
    int32_t flag = 0;
    if (!reference::int_field(reply, "iFlag", &flag))
        return Step::NO_ANSWER;
    std::string next;
    std::string directory;
    bool has_next = usable_url(reply, "sUrl", &next);
    bool has_directory = usable_url(reply, "sDlurl", &directory);
    for (const Row& row : OUTCOMES) {
        if (matches(row.flag_zero, flag == 0) && matches(row.next_url, has_next) &&
            matches(row.directory, has_directory)) {
            *url = row.step == Step::DIRECTORY ? directory : next;
            return row.step;
        }
    }
    FUZZ_CHECK(!"every reply has a row");
    return Step::NO_ANSWER;
}

// The resolution over the plain replies, served in order (an empty reply
// once they run out): a chain from each bootstrap URL in turn, each chain
// asking at most 1 + MAX_REDIRECTIONS URLs; a redirection from the last of
// them is not followed, and the chain ends without an answer.
Outcome expected_outcome(const std::vector<std::string>& replies)
{
    Outcome outcome;
    for (const char* bootstrap : {BOOTSTRAP_1, BOOTSTRAP_2}) {
        std::string url = bootstrap;
        for (int asked = 1; asked <= 1 + MAX_REDIRECTIONS; ++asked) {
            size_t served = outcome.asked.size();
            outcome.asked.push_back(url);
            std::string named;
            Step step = read_reply(served < replies.size() ? replies[served] : "", &named);
            if (step == Step::DIRECTORY) {
                outcome.found = true;
                outcome.directory = named;
            }
            if (step == Step::DIRECTORY || step == Step::FAIL_AT_ONCE)
                return outcome;
            if (step == Step::NO_ANSWER)
                break;
            url = named;
        }
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Server server;
    const char* bytes = reinterpret_cast<const char*>(data);
    size_t start = 0;
    while (start <= size && server.plain.size() < static_cast<size_t>(MAX_FETCHES)) {
        const char* nul = static_cast<const char*>(memchr(bytes + start, '\0', size - start));
        size_t end = nul ? static_cast<size_t>(nul - bytes) : size;
        std::string reply = stretched(std::string(bytes + start, end - start));
        server.enciphered.push_back(encipher(reply));
        server.plain.push_back(reply.substr(0, REPLY_BUFFER_SIZE));
        start = end + 1;
    }

    std::string boot_1 = encipher(BOOTSTRAP_1);
    std::string boot_2 = encipher(BOOTSTRAP_2);
    char* url_buffer = nullptr;
    char* reply_buffer = nullptr;
    int result = resolve_download_site(&url_buffer, &reply_buffer, &boot_1[0], &boot_2[0],
                                       PageFetcher{&Server::fetch, &server});
    FUZZ_CHECK(url_buffer != nullptr && reply_buffer != nullptr);
    FUZZ_CHECK(boot_1 == encipher(BOOTSTRAP_1) && boot_2 == encipher(BOOTSTRAP_2));  // as stored
    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK(server.asked.size() <= static_cast<size_t>(MAX_FETCHES));

    Outcome expected = expected_outcome(server.plain);
    FUZZ_CHECK(result == (expected.found ? 1 : 0));
    FUZZ_CHECK(server.asked == expected.asked);
    if (result) {
        FUZZ_CHECK(strnlen(url_buffer, URL_BUFFER_SIZE) < URL_BUFFER_SIZE);
        FUZZ_CHECK(url_buffer == expected.directory);
    }
    free(url_buffer);
    free(reply_buffer);
    return 0;
}
