// Byte streams: typed records, reads past the end, the in-memory writer's
// growth and limit, and saves into new folders and over old files.
#include "porting3/file_stream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "porting3/str16.h"
#include "tests/support/test_dir.h"

namespace n_porting {
namespace {

std::u16string U(const std::string& utf8) {
    char16_t* s = Utf8ToStr16Alloc(utf8.c_str());
    std::u16string out = s ? s : u"";
    std::free(s);
    return out;
}

TEST(FileStreamTest, TypedRecordsRoundTripAndBadCountsFail) {
    t_errorContext ctx;
    t_fileBufWrite w;
    ASSERT_TRUE(w.WriteU32(ctx, 0xA1B2C3D4));
    ASSERT_TRUE(w.WriteI16(ctx, -2));
    ASSERT_TRUE(w.WriteString16(ctx, u"中文"));
    ASSERT_TRUE(w.WriteU16(ctx, 5));  // an odd byte count
    ASSERT_TRUE(w.WriteU16(ctx, 8));  // four units
    ASSERT_TRUE(w.Write(ctx, u"abcd", 8));
    EXPECT_FALSE(w.WriteString16(ctx, std::u16string(40000, u'x').c_str()));
    ASSERT_TRUE(w.Seek(ctx, 0));
    uint32_t u32 = 0;
    int16_t i16 = 0;
    char16_t text[4];
    EXPECT_TRUE(w.ReadU32(ctx, &u32));
    EXPECT_EQ(0xA1B2C3D4u, u32);
    EXPECT_TRUE(w.ReadI16(ctx, &i16));
    EXPECT_EQ(-2, i16);
    EXPECT_TRUE(w.ReadString16(ctx, text, 3));
    EXPECT_EQ(std::u16string(u"中文"), text);
    EXPECT_FALSE(w.ReadString16(ctx, text, 4));
    EXPECT_EQ(std::u16string(u"读字符串失败：字符串长度非法: 5"), ctx.GetError());
    EXPECT_FALSE(w.ReadString16(ctx, text, 4));  // 4 units and no room for the terminator
    EXPECT_EQ(std::u16string(u"读字符串失败：缓冲区不足: 8"), ctx.GetError());
    EXPECT_FALSE(w.Seek(ctx, w.GetSize() + 1));
}

TEST(FileStreamTest, WriterGrowsByDoublingUpToItsLimit) {
    t_errorContext ctx;
    t_fileBufWrite w;
    const std::vector<uint8_t> block(65536, 7);
    ASSERT_TRUE(w.Write(ctx, block.data(), block.size()));
    EXPECT_EQ(65536u, w.GetCapacity());
    ASSERT_TRUE(w.Write(ctx, "x", 1));
    EXPECT_EQ(131072u, w.GetCapacity());
    // More than 100 MiB fails before a byte is read from the source.
    EXPECT_FALSE(w.Write(ctx, block.data(), t_fileBufWrite::kMaxBytes));
    EXPECT_EQ(std::u16string(u"写文件失败：数据量太大: 104857600字节"), ctx.GetError());
    EXPECT_FALSE(w.Write(ctx, block.data(), UINT64_MAX - 10));  // position + n would wrap
    EXPECT_EQ(65537u, w.GetSize());
    // Past 64 MiB the capacity stops at the limit instead of doubling past it.
    const std::vector<uint8_t> mib(1 << 20, 1);
    t_fileBufWrite large;
    for (int i = 0; i < 70; ++i) ASSERT_TRUE(large.Write(ctx, mib.data(), mib.size())) << i;
    EXPECT_EQ(t_fileBufWrite::kMaxBytes, large.GetCapacity());
    uint8_t out[2];
    ASSERT_TRUE(w.Seek(ctx, 65536));
    EXPECT_FALSE(w.Read(ctx, out, 2));
    EXPECT_EQ(65536u, w.GetPosition());
}

TEST(FileStreamTest, FileReadersStopAtTheEnd) {
    testsupport::t_testDir dir("vetra-stream");
    ASSERT_TRUE(dir.Put("data", "0123456789"));
    const std::u16string root = U(dir.Path());
    t_errorContext ctx;
    t_fileRead f;
    ASSERT_TRUE(f.Open(ctx, t_path(root.c_str(), u"data")));
    char buf[16];
    ASSERT_TRUE(f.Read(ctx, buf, 4));
    EXPECT_FALSE(f.Read(ctx, buf, 7));
    EXPECT_EQ(6u, f.GetRemaining());  // the failed read moved nothing
    EXPECT_TRUE(f.Read(ctx, buf, 6));
    EXPECT_EQ("456789", std::string(buf, 6));
    EXPECT_TRUE(f.IsEnd());
    EXPECT_FALSE(f.Seek(ctx, 11));

    t_fileBufRead whole;
    ASSERT_TRUE(whole.Open(ctx, t_path(root.c_str(), u"data")));
    EXPECT_FALSE(whole.Read(ctx, buf, 11));
    EXPECT_EQ(std::u16string(u"读文件越界: 11字节"), ctx.GetError());
    EXPECT_FALSE(whole.Open(ctx, t_path(root.c_str(), u"missing")));
    EXPECT_EQ(std::u16string(u"打开文件失败"), ctx.GetError());
}

TEST(FileStreamTest, SavesMakeTheFolderAndReplaceTheFile) {
    testsupport::t_testDir dir("vetra-stream");
    const std::u16string root = U(dir.Path());
    t_errorContext ctx;
    const t_path target(root.c_str(), u"new", u"deeper", u"file.dat");
    for (const char* content : {"first", "second"}) {
        t_fileBakWrite w;
        ASSERT_TRUE(w.Write(ctx, content, std::char_traits<char>::length(content)));
        ASSERT_TRUE(w.Save(ctx, target));
        EXPECT_EQ(content, dir.Get("new/deeper/file.dat"));
        EXPECT_EQ(0u, w.GetCapacity());
        ASSERT_TRUE(w.Write(ctx, "z", 1));  // a released writer can be used again
    }
    EXPECT_EQ(1u, testsupport::ListNames(dir.At("new/deeper")).size());
}

}  // namespace
}  // namespace n_porting
