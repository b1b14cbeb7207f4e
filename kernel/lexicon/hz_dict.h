// t_hzDict: the character dictionary (qzim_hz.bin), the syllable ids with
// which each character can be read.
// One thread at a time (the kernel's dictionary lock); lookups answer 0
// until an image is attached.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/dict_base.h"
#include "kernel/storage/table_file.h"

struct t_keyDesc;
struct t_attriDesc;

class t_hzDict : public t_dictStorageBase {
public:
    static constexpr uint32_t kFormatVersion = 20140219;

    t_hzDict();
    ~t_hzDict() override;

    // Attaches the image; the result is also the ready flag. False for a null
    // image or an image of another layout.
    bool Load(void* data, int32_t size) override;
    static void Describe(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
                         std::vector<uint32_t>& datas);

    // Copies the character's syllable ids into out, which has room for
    // `capacity` ids. Returns their count; 0 when not ready, the character is
    // unknown, it has more readings than capacity, or its chain does not
    // hold exactly the stored count.
    int GetCharPinyinIds(uint32_t ch, uint16_t* out, int capacity) const;
    // The stored reading count of a character (0 when unknown), so a caller
    // can size its buffer.
    int GetCharReadingCount(uint32_t ch) const;
    bool Contains(uint32_t ch) const;
    int32_t GetCharCount() const;
    // The i-th character of the key data table; 0 when out of range.
    uint32_t GetCharAt(int32_t i) const;

private:
    const uint8_t* RowOf(uint32_t ch) const;

    t_tableFile m_table;
};
