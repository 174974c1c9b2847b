#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ticker.h"

namespace {

// What the status box shows on each of `ticks` ticks, as the timer does it.
std::vector<std::string> run_ticks(const std::string& news, int ticks)
{
    std::string text = news;
    char* start = &text[0];
    char* pos = start;
    std::vector<std::string> shown;
    for (int k = 0; k < ticks; ++k) {
        char out[256];
        size_t len = ticker_compose(start, pos, out, sizeof out);
        EXPECT_EQ(len, strlen(out));
        shown.push_back(out);
        pos = ticker_advance(start, pos);
    }
    EXPECT_EQ(text, news) << "the news text is never changed";
    return shown;
}

TEST(Ticker, EachTickShowsTheNewsRotatedByOneMoreLine)
{
    struct Case {
        const char* news;
        std::vector<std::string> ticks;
    } cases[] = {
        {"L1\nL2\nL3\n",
         {"L1\nL2\nL3\n", "L2\nL3\nL1\n", "L3\nL1\nL2\n", "L1\nL2\nL3\n", "L2\nL3\nL1\n"}},
        {"L1\nL2\nL3",
         {"L1\nL2\nL3", "L2\nL3L1\n", "L3L1\nL2\n", "L2\nL3L1\n", "L3L1\nL2\n"}},
        {"A\r\nB\r\n", {"A\r\nB\r\n", "B\r\nA\r\n", "A\r\nB\r\n"}},
        {"", {"", "", ""}},
        {"Only line\n", {"Only line\n", "Only line\n", "Only line\n"}},
        {"No line end", {"No line end", "No line end", "No line end"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.news);
        EXPECT_EQ(run_ticks(c.news, static_cast<int>(c.ticks.size())), c.ticks);
    }
}

TEST(Ticker, AdvanceWithoutLineEndStaysAtStart)
{
    char text[] = "No line end";
    EXPECT_EQ(ticker_advance(text, text), text);
    EXPECT_EQ(ticker_advance(text, text + 3), text);
}

TEST(Ticker, ComposeIsBoundedAndTerminated)
{
    char text[] = "L1\nL2\n";
    const std::string rotated = "L2\nL1\n";
    for (size_t size : {0, 1, 2, 3, 4, 6, 7}) {
        SCOPED_TRACE(size);
        char out[16];
        memset(out, 'Z', sizeof out);
        size_t len = ticker_compose(text, text + 3, out, size);
        size_t expected = size == 0 ? 0 : std::min(rotated.size(), size - 1);
        EXPECT_EQ(len, expected);
        if (size > 0) {
            EXPECT_EQ(std::string(out, len + 1), rotated.substr(0, expected) + '\0');
        }
        EXPECT_EQ(out[size], 'Z') << "nothing written past out_size";
    }
}

}  // namespace
