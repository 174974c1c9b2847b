#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fakes.h"
#include "site_resolution.h"

namespace {

const std::string B1 = "http://boot-1.test/list.txt";
const std::string B2 = "http://boot-2.test/list.txt";
const std::string A = "http://a.test/next.txt";
const std::string B = "http://b.test/next.txt";
const std::string D = "http://dl.test/files/";
const std::string ANSWER_2 = "iFlag=0|sDlurl=http://second.test/";

// Returns the result and, on success, the directory found.
std::pair<int, std::string> resolve(FakeWeb& web)
{
    std::string boot_1 = encipher(B1);
    std::string boot_2 = encipher(B2);
    char* url = nullptr;
    char* reply = nullptr;
    int result = resolve_download_site(&url, &reply, boot_1.c_str(), boot_2.c_str(),
                                       web.fetcher());
    EXPECT_EQ(boot_1, encipher(B1)) << "the bootstraps stay enciphered";
    EXPECT_EQ(boot_2, encipher(B2));
    std::string directory = result ? url : "";
    free(url);
    free(reply);
    return {result, directory};
}

// A URL whose copy, each of its 10000 LFs as CR LF, is expanded_len bytes:
// the reply carrying it still fits the reply buffer.
std::string url_expanding_to(size_t expanded_len)
{
    return "http://" + std::string(expanded_len - 20007, 'x') + std::string(10000, '\n');
}

TEST(SiteResolution, FollowsChainsAsTheRepliesSay)
{
    // About as long as a reply can carry: a URL holds no line feed, so no
    // URL that a reply carries can outgrow the URL buffer.
    const std::string longest = "http://" + std::string(21900, 'x') + "/";
    const std::string too_long = url_expanding_to(URL_BUFFER_SIZE);
    const std::string UPPER = "HTTP://A.TEST/NEXT.TXT";
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> replies;  // plain; raw when a page
        int result;
        std::string directory;
        std::vector<std::string> asked;
    } cases[] = {
        {"no network", {}, 0, "", {B1, B2}},
        {"first reply answers", {{B1, "iFlag=0|sDlurl=" + D}, {B2, ANSWER_2}}, 1, D, {B1}},
        {"second chain answers", {{B1, "iFlag=1"}, {B2, ANSWER_2}}, 1, "http://second.test/",
         {B1, B2}},
        {"two redirections",
         {{B1, "iFlag=1|sUrl=" + A}, {A, "iFlag=1|sUrl=" + B}, {B, "iFlag=0|sDlurl=" + D}}, 1, D,
         {B1, A, B}},
        {"verdict 0 without either URL", {{B1, "iFlag=0"}, {B2, ANSWER_2}}, 0, "", {B1}},
        {"verdict 0 with sUrl only goes on",
         {{B1, "iFlag=0|sUrl=" + A}, {A, "iFlag=0|sDlurl=" + D}}, 1, D, {B1, A}},
        {"verdict 2 goes on despite sDlurl",
         {{B1, "iFlag=2|sUrl=" + A + "|sDlurl=http://no.test/"}, {A, "iFlag=0|sDlurl=" + D}}, 1,
         D, {B1, A}},
        {"verdict 0 with both URLs answers at once",
         {{B1, "iFlag=0|sUrl=" + A + "|sDlurl=" + D}, {A, "iFlag=0|sDlurl=http://no.test/"}}, 1,
         D, {B1}},
        {"HTML error page ends the chain",
         {{"raw " + B1, "<html><title>404 Not Found</title><body>iFlag=0</body></html>"},
          {B2, ANSWER_2}},
         1, "http://second.test/", {B1, B2}},
        {"failed fetch mid-chain", {{B1, "iFlag=1|sUrl=" + A}}, 0, "", {B1, A, B2}},
        {"missing verdict mid-chain", {{B1, "iFlag=1|sUrl=" + A}, {A, "sUrl=" + B}}, 0, "",
         {B1, A, B2}},
        {"verdict 0 is not carried over a redirection",
         {{B1, "iFlag=0|sUrl=" + A}, {A, "sDlurl=" + D}}, 0, "", {B1, A, B2}},
        {"malformed verdict", {{B1, "iFlag=0x|sDlurl=" + D}, {B2, ANSWER_2}}, 1,
         "http://second.test/", {B1, B2}},
        {"sDlurl with LF counts as absent", {{B1, "iFlag=0|sDlurl=http://x/\nY"}}, 0, "", {B1}},
        {"long sDlurl", {{B1, "iFlag=0|sUrl=" + A + "|sDlurl=" + longest}}, 1, longest, {B1}},
        {"sDlurl with line feeds past the buffer counts as absent",
         {{B1, "iFlag=0|sUrl=" + A + "|sDlurl=" + too_long}, {A, "iFlag=0|sDlurl=" + D}}, 1, D,
         {B1, A}},
        {"sUrl too long ends the chain", {{B1, "iFlag=1|sUrl=" + too_long}}, 0, "", {B1, B2}},
        {"sUrl too long, verdict 0 and sDlurl answer",
         {{B1, "iFlag=0|sUrl=" + too_long + "|sDlurl=" + D}}, 1, D, {B1}},
        {"sUrl carrying a header line counts as absent",
         {{B1, "iFlag=1|sUrl=" + A + "\nX-Injected: yes"}, {B2, ANSWER_2}}, 1,
         "http://second.test/", {B1, B2}},
        {"sUrl with a space counts as absent",
         {{B1, "iFlag=1|sUrl=http://a.test/a b"}, {B2, ANSWER_2}}, 1, "http://second.test/",
         {B1, B2}},
        {"ftp sUrl, verdict 0 and no sDlurl fail at once",
         {{B1, "iFlag=0|sUrl=ftp://a.test/next.txt"}, {B2, ANSWER_2}}, 0, "", {B1}},
        {"empty sUrl, verdict 0 and no sDlurl fail at once", {{B1, "iFlag=0|sUrl="}, {B2, ANSWER_2}},
         0, "", {B1}},
        {"file sDlurl goes on at sUrl",
         {{B1, "iFlag=0|sUrl=" + A + "|sDlurl=file:///C:/dl/"}, {A, "iFlag=0|sDlurl=" + D}}, 1, D,
         {B1, A}},
        {"schemes in capitals",
         {{B1, "iFlag=1|sUrl=" + UPPER}, {UPPER, "iFlag=0|sDlurl=HTTPS://DL.TEST/"}}, 1,
         "HTTPS://DL.TEST/", {B1, UPPER}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWeb web;
        for (const auto& r : c.replies) {
            if (r.first.compare(0, 4, "raw ") == 0)
                web.pages[r.first.substr(4)] = r.second;
            else
                web.reply(r.first, r.second);
        }
        EXPECT_EQ(resolve(web), std::make_pair(c.result, c.directory));
        EXPECT_EQ(web.asked, c.asked);
    }
}

TEST(SiteResolution, ChainFollowsAtMostTwentyRedirections)
{
    auto hop = [](int k) { return "http://hop.test/" + std::to_string(k); };
    for (int hops : {MAX_REDIRECTIONS, MAX_REDIRECTIONS + 1}) {
        SCOPED_TRACE(hops);
        // B1 redirects to hop 1, hop k to hop k + 1; the last hop answers.
        FakeWeb web;
        web.reply(B1, "iFlag=1|sUrl=" + hop(1));
        for (int k = 1; k < hops; ++k)
            web.reply(hop(k), "iFlag=1|sUrl=" + hop(k + 1));
        web.reply(hop(hops), "iFlag=0|sDlurl=" + D);
        bool answered = hops <= MAX_REDIRECTIONS;
        EXPECT_EQ(resolve(web).first, answered ? 1 : 0);
        std::vector<std::string> expected = {B1};
        for (int k = 1; k <= MAX_REDIRECTIONS; ++k)
            expected.push_back(hop(k));
        if (!answered)
            expected.push_back(B2);
        EXPECT_EQ(web.asked, expected);
    }
    // A loop on each bootstrap: 21 fetches per chain.
    FakeWeb web;
    web.reply(B1, "iFlag=1|sUrl=" + B1);
    web.reply(B2, "iFlag=1|sUrl=" + B2);
    EXPECT_EQ(resolve(web).first, 0);
    std::vector<std::string> expected(MAX_REDIRECTIONS + 1, B1);
    expected.resize(2 * (MAX_REDIRECTIONS + 1), B2);
    EXPECT_EQ(web.asked, expected);
}

}  // namespace
