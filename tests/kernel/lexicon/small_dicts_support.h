// Helpers of the string, cell, privilege and small-dictionary tests: UTF-16
// strings, packed table items, images of the system layouts made by the
// table-file builder, and a dictionary-manager fixture with its own user,
// system and dictionary directories. Single-threaded test code.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kernel/lexicon/small_dicts_layout.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/lstr.h"
#include "tests/support/dict_env.h"

namespace dicttest {

using Bytes = std::vector<uint8_t>;

// A length-prefixed string of UTF-16 text.
Bytes U(const std::u16string& text);
inline const t_lstr* L(const Bytes& b) {
    return reinterpret_cast<const t_lstr*>(b.data());
}
std::u16string Text(const t_lstr* s);

// Fields of one builder item, in key-table order.
class t_fields {
public:
    t_fields& S(const std::u16string& text);
    t_fields& U8(uint8_t v) { return Raw(&v, 1); }
    t_fields& U16(uint16_t v) { return Raw(&v, 2); }
    t_fields& I16(int16_t v) { return Raw(&v, 2); }
    t_fields& U32(uint32_t v) { return Raw(&v, 4); }
    t_fields& Raw(const void* p, size_t n);
    Bytes Packed() const;  // i32 size, then the fields

private:
    Bytes m_bytes;
};

// A plain image of the layout holding the items (one list per key table).
Bytes BuildImage(t_systemTable which, const std::vector<std::vector<t_fields>>& items);

struct t_cellWord {
    std::vector<uint16_t> key;
    std::u16string word;
    std::vector<uint32_t> codes;
    uint32_t frequency = 1;
    float power = 0;
};

struct t_cellName {
    std::u16string number;
    std::u16string name;
};

// A cell-dictionary image in the reader's layout (see cell_dict.h), keys
// bucketed by their first id.
Bytes BuildCellImage(std::vector<t_cellWord> words, const std::vector<t_cellName>& cells,
                     uint32_t buckets);

std::string TempDir();
bool WriteBytes(const std::string& path, const void* data, size_t size);
Bytes ReadBytes(const std::string& path);
inline std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

}  // namespace dicttest

// A dictionary manager over fresh user, system and kind-4 directories.
class DictManagerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string user, sys, dict4;
    testsupport::t_dictManagerEnv env;
    std::unique_ptr<t_dictManager>& manager = env.manager;
};
