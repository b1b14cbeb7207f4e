// Writes stroke-annex images (the layout t_sysBhBsh reads) with the table-file
// builder; used by the data build and by tests. One thread per writer.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class t_tableFileBuilder;

struct t_annexReading {
    uint16_t tone;  // 0..4 in the low byte; 0 and 7 are unmarked
    int16_t id;     // PinyinId
};

class t_strokeAnnexWriter {
public:
    explicit t_strokeAnnexWriter(uint32_t headerTag = 0);
    ~t_strokeAnnexWriter();
    t_strokeAnnexWriter(const t_strokeAnnexWriter&) = delete;
    t_strokeAnnexWriter& operator=(const t_strokeAnnexWriter&) = delete;

    // Adds a character under a stroke sequence (codes 1..5); characters of
    // one sequence are listed in the order they were added. False for an
    // empty or over-long sequence.
    bool AddStrokeChar(const std::vector<uint16_t>& codes, uint16_t ch);
    // Adds the character's syllable ids. False when empty or too long.
    bool SetPinyinIds(uint16_t ch, const std::vector<uint16_t>& ids);
    // Adds an entry and returns its number, or -1 when the entry table is
    // full (32768 entries), the character already has one, or a value does
    // not fit an item. Empty vectors store no item.
    int AddEntry(uint16_t ch, const std::vector<uint16_t>& strokes,
                 const std::vector<t_annexReading>& readings, uint16_t codeTag,
                 const std::vector<uint16_t>& codes);

    // The plain image; false when the builder refused it.
    bool Build(std::vector<uint8_t>& out);
    int GetEntryCount() const { return m_entries; }
    const char* GetLastError() const { return m_lastError; }

private:
    bool Insert(const std::vector<uint8_t>& item, int table);

    std::unique_ptr<t_tableFileBuilder> m_builder;
    int m_entries = 0;
    std::vector<bool> m_hasEntry = std::vector<bool>(65536, false);
    const char* m_lastError = nullptr;
};
