// Helpers shared by the table-file tests: key and item encoders, a few table
// layouts, images made by the builder, temporary files and an independent
// check-number computation. Single-threaded test code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/runtime/lstr.h"
#include "kernel/storage/table_builder.h"
#include "kernel/storage/table_file.h"

namespace tabletest {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kVersion = 20140219;
constexpr uint32_t kTag = 7;

// A length-prefixed UTF-16 string of ASCII text.
Bytes Str(const std::string& ascii);
// A length-prefixed string of raw 16-bit units (pinyin ids and the like).
Bytes Units(const std::vector<uint16_t>& units);
inline const t_lstr* L(const Bytes& b) {
    return reinterpret_cast<const t_lstr*>(b.data());
}
std::string Text(const t_lstr* s);  // ASCII text of a UTF-16 string

// Packs fields into the builder's item form: i32 size, then the fields.
class t_item {
public:
    t_item& S(const std::string& ascii);  // string field (types 0, 10, 12)
    t_item& Raw(const Bytes& b);
    t_item& U8(uint8_t v);
    t_item& U16(uint16_t v);
    t_item& U32(uint32_t v);
    Bytes Packed() const;
    Bytes Update(uint16_t code) const;  // u16 code + packed item

private:
    Bytes m_fields;
};

t_keyDesc Key(int16_t keyType, std::vector<int16_t> fields, uint32_t attriIndex, uint32_t keyData,
              uint32_t valueData, uint32_t capacity = 0);

// The plain image of a builder's store (asserts success).
Bytes Plain(t_tableFileBuilder& builder);
// Sets the used word of table record `table` (key, attri, data order) and
// fixes the check number, as the editable form does when it appends.
void SetUsed(Bytes& image, size_t table, uint32_t used);
// The check number an image should carry, computed from its bytes alone.
uint32_t ExpectedCheck(const Bytes& image);
void FixCheck(Bytes& image);
// Byte offset of the header and of the items area of a plain image.
size_t HeaderOffset(const Bytes& image);
size_t ItemsOffset(const Bytes& image);

// A fresh temporary directory for this test process, and paths in it.
std::string TempDir();
std::wstring Wide(const std::string& s);
Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& data);

// A table of every kind the format knows, populated, for the round-trip and
// corruption tests: key 0 English words with chained attri rows, key 1 a
// prefix-skip table, key 2 sorted attri rows, key 3 digit keys, key 4 a
// caller-hashed table, key 5 hashed binary data with packed attri rows.
struct t_fullTable {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    std::vector<int32_t> buckets;
    std::vector<t_keyHashFn> hashFns;
    std::vector<t_keyCompareFn> compareFns;
    std::vector<std::vector<Bytes>> items;  // packed items per key table
};
t_fullTable MakeFullTable();
bool AttachFull(t_tableFile& reader, const t_fullTable& t, const Bytes& image);
// Runs every search and walk over every key table; returns rows seen.
size_t ExerciseReader(const t_tableFile& reader);

}  // namespace tabletest
