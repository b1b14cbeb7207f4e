// Helpers of the string, cell, privilege and small-dictionary tests.
#include "tests/kernel/lexicon/small_dicts_support.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "kernel/storage/table_builder.h"
#include "tests/support/test_dir.h"

namespace fs = std::filesystem;

namespace dicttest {

Bytes U(const std::u16string& text) {
    Bytes b(2 + 2 * text.size());
    const uint16_t n = uint16_t(2 * text.size());
    std::memcpy(b.data(), &n, 2);
    std::memcpy(b.data() + 2, text.data(), 2 * text.size());
    return b;
}

std::u16string Text(const t_lstr* s) {
    std::u16string out;
    for (uint32_t i = 0; i < LstrGetLength(s); ++i) out.push_back(char16_t(LstrGetUnit(s, i)));
    return out;
}

t_fields& t_fields::S(const std::u16string& text) {
    const int16_t n = int16_t(2 * text.size());
    Raw(&n, 2);
    return Raw(text.data(), 2 * text.size());
}

t_fields& t_fields::Raw(const void* p, size_t n) {
    const size_t at = m_bytes.size();
    m_bytes.resize(at + n);
    if (n > 0) std::memcpy(m_bytes.data() + at, p, n);
    return *this;
}

Bytes t_fields::Packed() const {
    Bytes b(4 + m_bytes.size());
    const uint32_t n = uint32_t(m_bytes.size());
    std::memcpy(b.data(), &n, 4);
    if (!m_bytes.empty()) std::memcpy(b.data() + 4, m_bytes.data(), m_bytes.size());
    return b;
}

Bytes BuildImage(t_systemTable which, const std::vector<std::vector<t_fields>>& items) {
    const t_systemTableLayout layout = SystemTableLayout(which);
    t_tableFileBuilder builder;
    EXPECT_TRUE(builder.InitStoreWithBuckets(layout.keys, layout.attris, layout.datas, layout.version,
                                             layout.version, {}, layout.compares, layout.buckets))
        << (builder.GetLastError() ? builder.GetLastError() : "");
    for (size_t k = 0; k < items.size(); ++k)
        for (const t_fields& f : items[k]) {
            const Bytes packed = f.Packed();
            EXPECT_EQ(1, builder.InsertOne(packed.data(), int(k)));
        }
    Bytes image;
    EXPECT_TRUE(builder.BuildPlainImage(image));
    return image;
}

std::string TempDir() {
    return testsupport::TempDirUntilExit("vetra-dicts");
}

bool WriteBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
    return bool(out.flush());
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace dicttest

void DictManagerTest::SetUp() {
    const std::string root = dicttest::TempDir();
    user = root + "/user";
    sys = root + "/sys";
    dict4 = root + "/dict4";
    fs::create_directories(root + "/home");
    ASSERT_NO_FATAL_FAILURE(env.Open(root + "/home", user, sys, dict4));
}

void DictManagerTest::TearDown() {
    env.Close();
    fs::remove_all(fs::path(user).parent_path());
}
