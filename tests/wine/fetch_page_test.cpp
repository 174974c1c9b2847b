// fetch_page against the test web server, through the real WinInet.
#include <gtest/gtest.h>

#include <cstdio>
#include <string.h>

#include <string>
#include <vector>

#include "internet_session.h"
#include "buffer_sizes.h"
#include "prepare_download.h"
#include "system_libraries.h"
#include "test_support.h"

namespace {

const size_t GUARD_SIZE = 64;
const char FILL = 'x';
const char GUARD = 'G';

// The reply block with guard bytes after it, filled with marks so that the
// terminator and any write past the block show.
class ReplyBlock {
public:
    ReplyBlock() : bytes_(REPLY_BLOCK_SIZE + GUARD_SIZE, GUARD)
    {
        memset(bytes_.data(), FILL, REPLY_BLOCK_SIZE);
    }
    char* data() { return bytes_.data(); }
    std::string text() const { return std::string(bytes_.data()); }
    bool guard_intact() const
    {
        for (size_t i = REPLY_BLOCK_SIZE; i < bytes_.size(); ++i)
            if (bytes_[i] != GUARD)
                return false;
        return true;
    }

private:
    std::vector<char> bytes_;
};

class FetchPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(server.port(), 0) << "no test server: run through ctest (fixture "
                                       "polvex_test_server)";
        prefix = test_case_prefix();
        ASSERT_TRUE(server.reset(prefix));
    }

    int fetch(const std::string& url, ReplyBlock& block)
    {
        return fetch_page(nullptr, url.c_str(), block.data());
    }

    TestServer server;
    std::string prefix;
};

// A body of this many bytes with no zero byte, so that it reads as a text.
std::string text_body(size_t size)
{
    std::string body = pattern_bytes(size, 7);
    for (char& c : body)
        if (c == '\0')
            c = '0';
    return body;
}

struct StatusCase {
    int status;
    const char* body;
};

TEST_F(FetchPage, BodyOfAnyStatusIsTheReply)
{
    // An error page is a reply like any other: the caller reads the text.
    const StatusCase cases[] = {
        {200, "iFlag=0|sDlurl=http://example.invalid/dl/"},
        {404, "<html><body>Not Found</body></html>"},
        {500, "<html><body>Internal Server Error</body></html>"},
        {302, "moved, but no Location"},
    };
    for (const StatusCase& c : cases) {
        std::string path = prefix + "status" + std::to_string(c.status);
        ASSERT_TRUE(server.set(path, c.body, c.status));
        ReplyBlock block;
        EXPECT_EQ(fetch(server.url(path), block), 1) << c.status;
        EXPECT_EQ(block.text(), c.body) << c.status;
        EXPECT_TRUE(block.guard_intact());
    }
}

TEST_F(FetchPage, EmptyBodyGivesOneAndEmptyReply)
{
    ASSERT_TRUE(server.set(prefix + "empty", ""));
    ReplyBlock block;
    EXPECT_EQ(fetch(server.url(prefix + "empty"), block), 1);
    EXPECT_EQ(block.data()[0], '\0');
    EXPECT_TRUE(block.guard_intact());
}

TEST_F(FetchPage, LongBodyIsCutToTheBufferAndTerminatedInsideTheBlock)
{
    // Bodies around and beyond the buffer: at most REPLY_BUFFER_SIZE bytes
    // arrive, the terminator right after them, nothing past the block.
    const size_t sizes[] = {REPLY_BUFFER_SIZE - 1, REPLY_BUFFER_SIZE, REPLY_BUFFER_SIZE + 1,
                            30000};
    for (size_t size : sizes) {
        std::string body = text_body(size);
        std::string path = prefix + "long" + std::to_string(size);
        ASSERT_TRUE(server.set(path, body));
        ReplyBlock block;
        EXPECT_EQ(fetch(server.url(path), block), 1) << size;
        size_t expected = size < REPLY_BUFFER_SIZE ? size : REPLY_BUFFER_SIZE;
        EXPECT_EQ(memcmp(block.data(), body.data(), expected), 0) << size;
        EXPECT_EQ(block.data()[expected], '\0') << size;
        EXPECT_EQ(block.text().size(), expected) << size;
        EXPECT_TRUE(block.guard_intact()) << size;
    }
}

TEST_F(FetchPage, EveryCallAsksTheServerAgain)
{
    // No cache: the second fetch of the same URL gets the new page.
    std::string path = prefix + "reply.txt";
    ASSERT_TRUE(server.set(path, "first"));
    ReplyBlock first;
    EXPECT_EQ(fetch(server.url(path), first), 1);
    ASSERT_TRUE(server.set(path, "second"));
    ReplyBlock second;
    EXPECT_EQ(fetch(server.url(path), second), 1);
    EXPECT_EQ(first.text(), "first");
    EXPECT_EQ(second.text(), "second");

    std::vector<ServedRequest> log = server.log(prefix);
    ASSERT_EQ(log.size(), 2u);
    for (const ServedRequest& request : log) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.path, path);
        EXPECT_EQ(request.agent, AGENT_NAME);
    }
}

TEST_F(FetchPage, EmptyUrlGivesZeroAndEmptyReply)
{
    ReplyBlock block;
    EXPECT_EQ(fetch("", block), 0);
    EXPECT_EQ(block.data()[0], '\0');
    EXPECT_TRUE(block.guard_intact());
}

TEST_F(FetchPage, WithoutWinInetNothingIsAskedAndTheReplyIsEmpty)
{
    // Where WinInet cannot be had, every fetch fails, which the site
    // resolution shows as the connect error; with WinInet the same page
    // is fetched.
    std::string path = prefix + "page";
    ASSERT_TRUE(server.set(path, "iFlag=0|sDlurl=http://example.invalid/dl/"));
    {
        ScratchFolder empty(false);
        SystemLibrariesFrom none(empty.path());
        ASSERT_FALSE(system_library_ready(SYSTEM_WININET));
        ReplyBlock block;
        EXPECT_EQ(fetch(server.url(path), block), 0);
        EXPECT_EQ(block.data()[0], '\0');
        EXPECT_TRUE(block.guard_intact());
    }
    EXPECT_EQ(server.log(prefix).size(), 0u);
    ReplyBlock block;
    EXPECT_EQ(fetch(server.url(path), block), 1);
    EXPECT_EQ(block.text(), "iFlag=0|sDlurl=http://example.invalid/dl/");
}

TEST_F(FetchPage, FailureAfterSuccessLeavesNoTraceOfTheEarlierReply)
{
    std::string path = prefix + "earlier";
    ASSERT_TRUE(server.set(path, "iFlag=1|sUrl=http://127.0.0.1/next.txt"));
    ReplyBlock block;
    ASSERT_EQ(fetch(server.url(path), block), 1);
    ASSERT_EQ(block.text(), "iFlag=1|sUrl=http://127.0.0.1/next.txt");

    RefusedPort refused;
    ASSERT_GT(refused.port(), 0);
    std::string nowhere = "http://127.0.0.1:" + std::to_string(refused.port()) + "/reply.txt";
    EXPECT_EQ(fetch(nowhere, block), 0);
    EXPECT_EQ(block.text(), "");
    EXPECT_TRUE(block.guard_intact());
}

TEST_F(FetchPage, BodyCutShortGivesTheEmptyReply)
{
    // The server announces more than it sends and closes: what arrived is
    // no reply (a cut one could end the search), and the fetch fails.
    std::string path = prefix + "short";
    ASSERT_TRUE(server.set(path, "iFlag=0|sDlurl=http://x/", 200, "short", "&length=5000"));
    ReplyBlock block;
    EXPECT_EQ(fetch(server.url(path), block), 0);
    EXPECT_EQ(block.text(), "");
    EXPECT_TRUE(block.guard_intact());
}

TEST_F(FetchPage, LocationThatDoesNotFitFailsTheRequest)
{
    // Wine cuts a header line at 4096 bytes: a Location that long or longer
    // is never followed, neither cut nor combined into another URL.
    for (size_t length : {4085u, 30000u}) {
        std::string path = prefix + "far" + std::to_string(length);
        std::string target = server.url(prefix + "target/");
        target += std::string(length - target.size(), 'a');
        ASSERT_TRUE(server.set(path, "", 302, "full", "&location=" + url_encode(target)));
        ReplyBlock block;
        EXPECT_EQ(fetch(server.url(path), block), 0) << length;
        EXPECT_EQ(block.text(), "") << length;
    }
    EXPECT_EQ(server.log(prefix + "target").size(), 0u);
}

// Fetches that wait for the receive timeout: a suite of their own, run
// alone (see CMakeLists.txt).
class TimeoutFetchPage : public FetchPage {};

struct SilentCase {
    const char* name;
    const char* mode;
    const char* options;  // "{self}" stands for the page's own URL
    DWORD at_least_ms;
    DWORD at_most_ms;
};

TEST_F(TimeoutFetchPage, SilentServerFailsAfterTheReceiveTimeout)
{
    const SilentCase cases[] = {
        // Takes the connection and never answers: the fetch gives up after
        // the receive timeout (30 s), on wine too, with an empty reply.
        {"silent", "silent", "&delay_ms=120000", 29000, 40000},
        // The rest end at the request's whole bound, 60 s, with a margin
        // for a slow machine, and leave nothing of what arrived.
        // A byte every 5 s, never 30 s without one: "iFlag=0" has arrived
        // when the deadline cuts the page.
        {"slow", "slow", "&chunk=1&delay_ms=5000", 59000, 66000},
        // Headers that never end, one line every 5 s.
        {"endless", "endless", "&delay_ms=5000", 59000, 66000},
        // Redirections to itself, each answered after 25 s.
        {"late", "late", "&delay_ms=25000&location={self}", 59000, 66000},
    };
    for (const SilentCase& c : cases) {
        std::string path = prefix + c.name;
        std::string options = c.options;
        size_t self = options.find("{self}");
        if (self != std::string::npos)
            options.replace(self, 6, url_encode(server.url(path)));
        int status = strcmp(c.mode, "late") == 0 ? 302 : 200;
        ASSERT_TRUE(server.set(path, "iFlag=0|sDlurl=http://x/", status, c.mode, options.c_str()));
        ReplyBlock block;
        DWORD start = GetTickCount();
        EXPECT_EQ(fetch(server.url(path), block), 0) << c.name;
        DWORD waited = GetTickCount() - start;
        std::printf("%s: failed after %lu ms\n", c.name, waited);
        EXPECT_GE(waited, c.at_least_ms) << c.name;
        EXPECT_LE(waited, c.at_most_ms) << c.name;
        EXPECT_TRUE(block.guard_intact()) << c.name;
        EXPECT_EQ(block.text(), "") << c.name;
    }
}

TEST_F(FetchPage, UrlsThatAreNotHttpGiveZeroAndEmptyReply)
{
    const char* urls[] = {"no scheme", "ftp://127.0.0.1/reply.txt", "http://"};
    for (const char* url : urls) {
        ReplyBlock block;
        EXPECT_EQ(fetch(url, block), 0) << url;
        EXPECT_EQ(block.data()[0], '\0') << url;
    }
}

TEST_F(FetchPage, QueryOfTheUrlIsSent)
{
    ASSERT_TRUE(server.set(prefix + "reply.txt", "queried"));
    ReplyBlock block;
    EXPECT_EQ(fetch(server.url(prefix + "reply.txt?a=1&b=2"), block), 1);
    EXPECT_EQ(block.text(), "queried");
    std::vector<ServedRequest> log = server.log(prefix);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].path, prefix + "reply.txt?a=1&b=2");
}

}  // namespace
