// Checked files: every refusal of the checked load with its text, plain loads,
// and the ".qzbak" fallback only for a file that cannot be opened.
#include "porting3/check_header.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "porting3/crypto.h"
#include "porting3/str16.h"
#include "tests/support/test_dir.h"

namespace n_porting {
namespace {

std::string U32(uint32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
}

std::string Checked(const std::string& data) {
    t_checkHeader header;
    EXPECT_TRUE(header.Build(data.data(), uint32_t(data.size())));
    return data + std::string(reinterpret_cast<const char*>(header.GetBytes()), 44) + U32(44);
}

// A header field changed and the self digest made right again.
std::string WithField(const std::string& data, size_t at, uint32_t value) {
    std::string file = Checked(data);
    std::memcpy(&file[data.size() + at], &value, 4);
    uint8_t self[16];
    Md5Digest(self, file.data() + data.size(), 28);
    std::memcpy(&file[data.size() + 28], self, 16);
    return file;
}

struct t_loadDir {
    testsupport::t_testDir dir{"vetra-checked"};
    t_path At(const char* name) const {
        char16_t* root = Utf8ToStr16Alloc(dir.Path().c_str());
        t_path path(root, std::u16string(name, name + std::strlen(name)).c_str());
        std::free(root);
        return path;
    }
};

TEST(CheckHeaderTest, CheckedLoadRefusals) {
    const std::string data = "settings data";
    struct Case {
        const char* name;
        std::string file;
        const char16_t* error;
    } cases[] = {
        {"3-byte file", "abc", u"打开文件失败 - 文件太小"},
        {"trailer 45", data + std::string(45, 'h') + U32(45), u"验证校验头信息失败：大小不正确"},
        // Refused before any header byte is read.
        {"trailer 1000 in 2000 bytes", std::string(1996, 'x') + U32(1000),
         u"验证校验头信息失败：大小不正确"},
        {"trailer 44 in 10 bytes", std::string(6, 'x') + U32(44), u"打开文件失败: 校验头大小错误"},
        {"version 2", WithField(data, 0, 2), u"验证校验头信息失败：版本不匹配"},
        {"self digest",
         [&] {
             std::string f = Checked(data);
             f[data.size() + 30] ^= 1;
             return f;
         }(),
         u"验证校验头信息失败：自验证失败"},
        {"data size", WithField(data, 24, 12), u"数据大小不一致"},
        {"one data byte",
         [&] {
             std::string f = Checked(data);
             f[3] ^= 0x20;
             return f;
         }(),
         u"打开文件失败: 校验错误"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t_loadDir d;
        ASSERT_TRUE(d.dir.Put("f", c.file));
        t_errorContext ctx;
        t_fileBufferRead r;
        EXPECT_FALSE(r.Load(ctx, d.At("f"), 0));
        EXPECT_EQ(std::u16string(c.error), ctx.GetError());
        EXPECT_EQ(0u, r.GetSize());
    }
    // Another mark still loads; a plain load takes any file whole.
    t_loadDir d;
    ASSERT_TRUE(d.dir.Put("f", WithField(data, 4, 7)));
    t_errorContext ctx;
    t_fileBufferRead r;
    ASSERT_TRUE(r.Load(ctx, d.At("f"), 0));
    EXPECT_EQ(data, std::string(reinterpret_cast<const char*>(r.GetData()), r.GetSize()));
    ASSERT_TRUE(d.dir.Put("f", "abc"));
    ASSERT_TRUE(r.Load(ctx, d.At("f"), t_fileBufferRead::kPlain));
    char out[4] = {};
    EXPECT_FALSE(r.Read(ctx, out, 4));
    EXPECT_TRUE(r.Read(ctx, out, 3));
    EXPECT_STREQ("abc", out);
}

TEST(CheckHeaderTest, BackupCopyOnlyForAFileThatCannotBeOpened) {
    const std::string good = Checked("good data");
    struct Case {
        const char* name;
        const char* file;  // null: no file
        bool ok;
    } cases[] = {
        {"missing file, good copy", nullptr, true},
        {"corrupt file, good copy", "corrupt", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t_loadDir d;
        if (c.file) {
            ASSERT_TRUE(d.dir.Put("f.dat", c.file));
        }
        ASSERT_TRUE(d.dir.Put("f.dat.qzbak", good));
        t_errorContext ctx;
        t_fileBufferRead r;
        EXPECT_EQ(c.ok, r.Load(ctx, d.At("f.dat"), 0));
        EXPECT_EQ(c.ok ? 9u : 0u, r.GetSize());
    }
    t_loadDir d;
    t_errorContext ctx;
    t_fileBufferRead r;
    EXPECT_FALSE(r.Load(ctx, d.At("none"), t_fileBufferRead::kPlain));
    EXPECT_EQ(std::u16string(u"打开文件失败"), ctx.GetError());
}

}  // namespace
}  // namespace n_porting
