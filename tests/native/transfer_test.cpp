#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "buffer_sizes.h"
#include "transfer.h"

namespace {

struct ScriptedRead {
    int ok;
    uint32_t count;  // bytes handed over, or the count a failed read leaves
};

// The server side is a script of reads, the file a byte string; the writer
// can be told to write short on one call.
struct FakeTransfer {
    std::vector<ScriptedRead> reads;
    int short_write_at = -1;
    size_t reads_done = 0;
    int pauses = 0;
    std::vector<uint32_t> asked, writes;  // sizes read for; counts written
    std::string body, file;  // bytes handed over by good reads; bytes written
    std::vector<int> posts;

    static FakeTransfer& of(void* context) { return *static_cast<FakeTransfer*>(context); }
    static int read(void* context, char* buffer, uint32_t size, uint32_t* count)
    {
        FakeTransfer& t = of(context);
        EXPECT_EQ(t.pauses, static_cast<int>(t.reads_done)) << "a pause after every read";
        if (t.reads_done == t.reads.size()) {
            ADD_FAILURE() << "read after the end of the script";
            return *count = 0, 1;
        }
        t.asked.push_back(size);
        ScriptedRead r = t.reads[t.reads_done++];
        for (uint32_t k = 0; r.ok && k < r.count && k < size; ++k)
            buffer[k] = static_cast<char>('a' + (t.body.size() + k) % 23);
        if (r.ok)
            t.body.append(buffer, r.count);
        *count = r.count;
        return r.ok;
    }
    static int64_t write(void* context, const char* buffer, uint32_t count)
    {
        FakeTransfer& t = of(context);
        uint32_t written = static_cast<int>(t.writes.size()) == t.short_write_at ? count / 2 : count;
        t.writes.push_back(count);
        t.file.append(buffer, written);
        return written;
    }
    static void pause(void* context) { ++of(context).pauses; }
    static void post(void* context, int ok) { of(context).posts.push_back(ok); }

    int run(std::atomic<int32_t>& received, int64_t announced = LENGTH_UNKNOWN,
            int64_t manifest = LENGTH_UNKNOWN)
    {
        std::vector<char> chunk(CHUNK_SIZE);
        TransferIo io = {&read, &write, &pause, &post, this};
        return run_transfer(io, chunk.data(), received, announced, manifest);
    }
};

std::vector<ScriptedRead> full_chunks(int k)
{
    std::vector<ScriptedRead> reads(k, ScriptedRead{1, static_cast<uint32_t>(CHUNK_SIZE)});
    reads.push_back({1, 0});
    return reads;
}

TEST(Transfer, WholeBodyArrives)
{
    for (int k : {0, 1, 3}) {
        SCOPED_TRACE(k);
        FakeTransfer t;
        t.reads = full_chunks(k);
        std::atomic<int32_t> received{0};
        EXPECT_EQ(t.run(received), 1);
        EXPECT_EQ(t.reads_done, static_cast<size_t>(k + 1));
        EXPECT_EQ(t.pauses, k + 1);
        ASSERT_EQ(t.writes.size(), static_cast<size_t>(k + 1));
        EXPECT_EQ(t.writes.back(), 0u);
        EXPECT_EQ(t.posts, std::vector<int>(k + 1, 1));
        EXPECT_EQ(received.load(), k * 4096);
        EXPECT_EQ(t.file, t.body);
    }
}

TEST(Transfer, FailuresStopTheLoop)
{
    struct Case {
        const char* name;
        std::vector<ScriptedRead> reads;
        int short_write_at;
        std::vector<int> posts;
        size_t file_size;
    } cases[] = {
        {"failed read", {{1, 4096}, {1, 4096}, {0, 0}}, -1, {1, 1, 0}, 8192},
        {"failed read with a bogus count", {{1, 4096}, {1, 4096}, {0, 0xFFFFFFFF}}, -1, {1, 1, 0},
         8192},
        {"short write", {{1, 4096}, {1, 4096}, {1, 0}}, 1, {1, 0}, 4096 + 2048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTransfer t;
        t.reads = c.reads;
        t.short_write_at = c.short_write_at;
        std::atomic<int32_t> received{0};
        EXPECT_EQ(t.run(received), 0);
        EXPECT_EQ(t.posts, c.posts);
        EXPECT_EQ(t.reads_done, c.posts.size());
        EXPECT_EQ(t.file, t.body.substr(0, c.file_size));
        EXPECT_EQ(received.load(), 8192) << "every byte read is counted";
    }
}

TEST(Transfer, BodyShorterThanAnnouncedFails)
{
    struct Case {
        int64_t announced;
        int chunks;
        int result;
    } cases[] = {{10000, 2, 0}, {8192, 2, 1}, {LENGTH_UNKNOWN, 2, 1}, {0, 0, 1}, {1, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.announced);
        FakeTransfer t;
        t.reads = full_chunks(c.chunks);
        std::atomic<int32_t> received{0};
        EXPECT_EQ(t.run(received, c.announced), c.result);
        ASSERT_EQ(t.posts.size(), static_cast<size_t>(c.chunks + 1));
        EXPECT_EQ(t.posts.back(), c.result);
        EXPECT_EQ(t.file, t.body);
    }
}

TEST(Transfer, WithoutLengthTheManifestSizeBoundsTheBody)
{
    // A server may send any number of bytes when it announces no length:
    // the file then holds at most the manifest's size, and only a body of
    // exactly that size succeeds. An announced length overrides the manifest.
    struct Case {
        const char* name;
        int64_t announced, manifest;
        std::vector<ScriptedRead> reads;
        std::vector<uint32_t> asked;
        int result;
        size_t file_size;
    } cases[] = {
        {"exact", LENGTH_UNKNOWN, 5000, {{1, 4096}, {1, 904}, {1, 0}}, {4096, 904, 1}, 1, 5000},
        {"exact chunks", LENGTH_UNKNOWN, 8192, full_chunks(2), {4096, 4096, 1}, 1, 8192},
        {"short", LENGTH_UNKNOWN, 5000, {{1, 4096}, {1, 0}}, {4096, 904}, 0, 4096},
        {"long by a byte", LENGTH_UNKNOWN, 5000, {{1, 4096}, {1, 904}, {1, 1}}, {4096, 904, 1}, 0,
         5000},
        {"read beyond the size asked", LENGTH_UNKNOWN, 5000, {{1, 4096}, {1, 2000}},
         {4096, 904}, 0, 4096},
        {"failed read with a bogus count", LENGTH_UNKNOWN, 5000, {{1, 4096}, {0, 0xFFFFFFFF}},
         {4096, 904}, 0, 4096},
        {"length longer than the manifest", 8192, 5000, full_chunks(2), {4096, 4096, 4096}, 1,
         8192},
        {"length shorter than the manifest", 4000, 8192, {{1, 4000}, {1, 0}}, {4096, 4096}, 1,
         4000},
        {"length and a short body", 8192, 5000, {{1, 4096}, {1, 0}}, {4096, 4096}, 0,
         4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTransfer t;
        t.reads = c.reads;
        std::atomic<int32_t> received{0};
        EXPECT_EQ(t.run(received, c.announced, c.manifest), c.result);
        EXPECT_EQ(t.asked, c.asked);
        EXPECT_EQ(t.reads_done, c.reads.size());
        ASSERT_FALSE(t.posts.empty());
        EXPECT_EQ(t.posts.back(), c.result);
        EXPECT_EQ(t.file, t.body.substr(0, c.file_size));
        if (c.announced == LENGTH_UNKNOWN) {
            EXPECT_LE(t.file.size(), static_cast<size_t>(c.manifest)) << "nothing past the size";
        }
        EXPECT_EQ(received.load(), static_cast<int32_t>(t.file.size()));
    }
}

TEST(Transfer, ReceivedBytesSaturate)
{
    FakeTransfer t;
    t.reads = full_chunks(2);
    std::atomic<int32_t> received{INT32_MAX - 5000};
    EXPECT_EQ(t.run(received), 1);
    EXPECT_EQ(received.load(), INT32_MAX);
}

TEST(Transfer, InstallerUrlJoinsWithoutSeparator)
{
    const std::string name = "p_Vandel_reg_ENG.exe";
    for (size_t dir_len : {size_t{21}, DOWNLOAD_URL_SIZE - 1 - name.size(),
                           DOWNLOAD_URL_SIZE - name.size()}) {
        char url[DOWNLOAD_URL_SIZE];
        std::string dir = "http://" + std::string(dir_len - 8, 'd') + "/";
        memcpy(url, dir.c_str(), dir.size() + 1);
        bool fits = dir_len + name.size() < DOWNLOAD_URL_SIZE;
        EXPECT_EQ(join_installer_url(url, sizeof url, name.c_str()), fits ? 1 : 0) << dir_len;
        EXPECT_EQ(std::string(url), fits ? dir + name : dir) << dir_len;
    }
}

}  // namespace
