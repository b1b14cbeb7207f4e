// The file stream: counts and positions, and -1 for every failure.
#include "kernel/runtime/file_stream.h"

#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/kernel/runtime/runtime_support.h"

namespace {

using FileStreamTest = TempHomeTest;

TEST_F(FileStreamTest, CountsAndPositions) {
    t_fileStream s;
    ASSERT_TRUE(s.Open(home.WAt("f").c_str(), kOpenReadWriteTruncate));
    EXPECT_EQ(10, s.Write("0123456789", 10));
    EXPECT_EQ(0, s.Write(nullptr, 0));
    const struct {
        int64_t offset;
        int whence;
        int64_t position;
        const char* next;  // the bytes a read of 4 then gets
    } rows[] = {{0, SEEK_SET, 0, "0123"},
                {2, SEEK_CUR, 6, "6789"},
                {-3, SEEK_END, 7, "789"},
                {-8, SEEK_CUR, 2, "2345"},
                {20, SEEK_SET, 20, ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.position);
        EXPECT_EQ(row.position, s.Seek(row.offset, row.whence));
        char buf[4] = {};
        const int64_t n = s.Read(buf, sizeof buf);
        EXPECT_EQ(std::string(row.next), std::string(buf, size_t(n < 0 ? 0 : n)));
    }
    EXPECT_EQ(0, s.Close());
    EXPECT_EQ(0, s.Close());  // closing twice is harmless
}

TEST_F(FileStreamTest, EveryFailureAnswersMinusOne) {
    ASSERT_TRUE(WriteFileBytes(home.At("f"), "abc"));
    t_fileStream reader, writer, closed;
    ASSERT_TRUE(reader.Open(home.WAt("f").c_str(), kOpenRead));
    ASSERT_TRUE(writer.Open(home.WAt("g").c_str(), kOpenWrite));
    char buf[4];
    const struct {
        const char* what;
        std::function<int64_t()> op;
    } rows[] = {
        {"read while closed", [&] { return closed.Read(buf, 1); }},
        {"write while closed", [&] { return closed.Write("x", 1); }},
        {"seek while closed", [&] { return closed.Seek(0, SEEK_SET); }},
        {"write to a file opened for reading", [&] { return reader.Write("x", 1); }},
        {"read from a file opened for writing", [&] { return writer.Read(buf, 1); }},
        {"read into no buffer", [&] { return reader.Read(nullptr, 1); }},
        {"write from no buffer", [&] { return writer.Write(nullptr, 1); }},
        {"unknown whence", [&] { return reader.Seek(0, 3); }},
        {"before the start", [&] { return reader.Seek(-1, SEEK_SET); }},
        {"before the start from the end", [&] { return reader.Seek(-4, SEEK_END); }},
    };
    for (const auto& row : rows) EXPECT_EQ(-1, row.op()) << row.what;
    EXPECT_EQ(0, reader.Seek(0, SEEK_CUR));  // the failures moved nothing
    EXPECT_EQ("abc", ReadFileBytes(home.At("f")));

    t_fileStream none;
    EXPECT_FALSE(none.Open(home.WAt("missing/f").c_str(), kOpenRead));
    EXPECT_FALSE(none.Open(home.WAt("").c_str(), kOpenRead));  // a folder
    EXPECT_FALSE(none.IsOpen());
}

// A write the file system refuses half way (a size limit: EFBIG) is a
// failure, not the count of what got through.
TEST_F(FileStreamTest, WriteCutShortFails) {
    const std::string path = home.At("big");
    const pid_t pid = ForkChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
        t_fileStream s;
        if (!s.Open(Widen(path).c_str(), kOpenTruncate)) return 2;
        const std::string data(10000, 'x');
        return s.Write(data.data(), data.size()) == -1 ? 0 : 1;
    });
    EXPECT_EQ(0, WaitChild(pid, 10000));
}

}  // namespace
