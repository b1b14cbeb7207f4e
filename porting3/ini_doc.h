// t_iniDoc: an ini file in memory over 16-bit strings: sections and their
// key=value lines in file order, comment lines where they stood, lookups that
// ignore ASCII case; loads any encoding the text reader detects, saves as
// UTF-16LE, or in an enciphered form. One thread at a time per document.
#pragma once

#include <cstddef>
#include <cstdint>

#include "porting3/block_heap.h"
#include "porting3/path16.h"
#include "porting3/str_class.h"
#include "porting3/text_file16.h"

namespace n_porting {

// Texts in file order: section names or keys, and comment lines (";...").
class t_iniItems {
public:
    static constexpr int32_t kMaxItems = 0x0FFFFFFF;

    explicit t_iniItems(t_heap* heap) : m_heap(heap) {}
    // -1, or an index at or past the count, appends; 0 to count-1 inserts
    // there; another negative index leaves the text out (true). False when
    // memory runs out or the array is full.
    bool Insert(const char16_t* text, int index);
    void RemoveAt(int index);
    // The first item equal to text (exact), or -1.
    int Find(const char16_t* text) const;
    // The item that is this very pointer, or -1.
    int FindPointer(const char16_t* text) const;
    int GetCount() const { return m_count; }
    const char16_t* Get(int index) const { return m_items[index]; }

private:
    const char16_t** m_items = nullptr;
    int32_t m_count = 0;
    int32_t m_capacity = 0;
    t_heap* m_heap;
};

using t_iniNameMap = t_poolHashMap<const char16_t*, const char16_t*, t_nameKeyPolicy>;

class t_iniSection {
public:
    explicit t_iniSection(t_heap* heap) : m_map(heap), m_items(heap), m_heap(heap) {}

    // Copies the value (null stays null). An existing key gets it in its
    // place; a new key is copied and placed at index (see t_iniItems). False,
    // nothing changed, when memory runs out or the file could not give the
    // pair back: a key led by "[" or ";", holding "=" or with a blank at
    // either end, or a line break in the key or the value.
    bool SetValueAt(const char16_t* key, const char16_t* value, int index);
    // Null for a key that is not there or holds no value.
    const char16_t* GetValue(const char16_t* key) const;
    // The stored spelling of the key, or null.
    const char16_t* FindKey(const char16_t* key) const;
    bool RemoveKey(const char16_t* key);
    const t_iniItems& Items() const { return m_items; }

private:
    friend class t_iniDoc;
    t_iniNameMap m_map;
    t_iniItems m_items;
    t_heap* m_heap;
};

class t_iniDoc {
public:
    static constexpr uint64_t kBlockSize = 32768;
    static constexpr uint64_t kMaxFileBytes = uint64_t(64) << 20;  // larger files are not loaded

    explicit t_iniDoc(int enciphered = 0);
    ~t_iniDoc() = default;
    t_iniDoc(const t_iniDoc&) = delete;
    t_iniDoc& operator=(const t_iniDoc&) = delete;

    void Clear();
    // The section of that name, else a new one placed at index (see
    // t_iniItems). Null for a null or empty name, one the file could not
    // give back (a line break, a "]", a blank at either end), or when memory
    // runs out.
    t_iniSection* GetSection(const char16_t* name, int index);
    t_iniSection* FindSection(const char16_t* name) const;
    static const char16_t* GetValue(const t_iniSection* section, const char16_t* key) {
        return section ? section->GetValue(key) : nullptr;
    }
    const char16_t* GetValueIn(const char16_t* section, const char16_t* key) const {
        return GetValue(FindSection(section), key);
    }
    static bool SetValue(t_iniSection* section, const char16_t* key, const char16_t* value,
                         int index) {
        return section && section->SetValueAt(key, value, index);
    }
    static bool SetNumber(t_iniSection* section, const char16_t* key, int value, int index);
    bool SetValueByName(const char16_t* section, const char16_t* key, const char16_t* value,
                        int index) {
        return SetValue(GetSection(section, -1), key, value, index);
    }
    bool SetNumberByName(const char16_t* section, const char16_t* key, int value, int index) {
        return SetNumber(GetSection(section, -1), key, value, index);
    }
    bool RemoveKey(const char16_t* section, const char16_t* key);
    // The section and its place in the order go: a section made again under
    // that name is written once.
    bool RemoveSection(const char16_t* name);
    // No section: appended to the document. A section and an anchor key:
    // into the section before the first item equal to the anchor (appended
    // when none is). A section without an anchor: into the document before
    // the section. A text with a line break is refused.
    bool AddComment(const char16_t* section, const char16_t* anchor, const char16_t* text);

    // 1, or 0 ("无法解析ini文件", or the enciphered form's own texts) with the
    // document left empty. Files above 64 MiB are not read.
    int Load(t_errorContext& ctx, const t_path& path, int codePage);
    // Through a synced temporary renamed over the target: on failure (0) the
    // file keeps its old content. The code page is not used.
    int Save(t_errorContext& ctx, const t_path& path, int codePage);
    // Replaces the document with the reader's lines; malformed lines are dropped.
    int Parse(t_fileTextRead& reader);
    // The file text, lines ending CR LF.
    bool WriteText(t_fileTextWrite& writer) const;

    // The document's items (section names and comments); null when empty.
    const t_iniItems* GetItems() const;

    // ---- byte-level helpers; results are malloc'd (release with free) ----
    // The whole file and two zero bytes after it; null when it cannot be
    // read whole or is larger than kMaxFileBytes.
    static uint8_t* ReadWholeFile(t_errorContext& ctx, const t_path& path, uint64_t* size);
    // -1 for FF FE, -2 for FE FF (mark length 2), 65001 for EF BB BF (3),
    // else 0 (length 0).
    static int DetectBom(const uint8_t* bytes, size_t length, size_t* bomLength);
    // Swaps each byte pair in place; false for an odd length.
    static bool SwapBytePairs(uint8_t* bytes, size_t length);
    // Code page -1: the bytes are UTF-16LE units, -2: UTF-16BE units (both
    // need an even length); any other: converted from that code page, where
    // a NUL byte does not convert. A terminated text and its units, or null
    // when the bytes do not convert whole.
    static char16_t* BytesToUnits(const uint8_t* bytes, size_t length, int codePage, size_t* units);
    // The reverse: -1 gives UTF-16LE bytes, -2 UTF-16BE, any other code page
    // its bytes (terminated; a NUL unit does not convert). Null when the
    // units do not convert whole.
    static uint8_t* UnitsToBytes(const char16_t* units, size_t count, int codePage, size_t* length);

private:
    struct t_table;

    t_table* Table();
    char16_t* Copy(const char16_t* text);
    int LoadEnciphered(t_errorContext& ctx, const t_path& path, int codePage);
    int SaveEnciphered(t_errorContext& ctx, const t_path& path);

    t_heap m_heap;
    t_table* m_table = nullptr;
    int m_enciphered;
};

}  // namespace n_porting
