// t_fileConfig: one ini-style text file held in memory: named sections of
// key/value lines, each line joined by one of a list of registered separators
// ("=" always, "=>" when a caller registers it) that it keeps for writing back.
// Every line is kept, also a key that repeats inside a section.
// One thread at a time per object; its lock guards the separator list.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/text_file.h"

class t_fileConfig {
public:
    // Characters of one line that Load accepts; longer lines are ignored.
    static constexpr size_t kMaxLineChars = 1024;

    // One line of a section. The texts live as long as the object; value is
    // null for an empty value.
    struct t_keyRecord {
        const wchar_t* key;
        const wchar_t* separator;
        const wchar_t* value;
    };

    // Code-point order of section names and keys.
    struct t_codePointLess {
        bool operator()(std::wstring_view a, std::wstring_view b) const;
    };

    // Every line of one section. Iterating it visits the lines in key order
    // (lines of one key in the order they were added); Lines() gives them in
    // the order they were read or added.
    class t_section {
    public:
        using t_keyMap = std::multimap<std::wstring_view, const t_keyRecord*, t_codePointLess>;

        t_keyMap::const_iterator begin() const { return m_keys.begin(); }
        t_keyMap::const_iterator end() const { return m_keys.end(); }
        size_t size() const { return m_lines.size(); }
        const std::vector<t_keyRecord*>& Lines() const { return m_lines; }
        // The line that answers a lookup of key: the last one added. Null when
        // the key is absent.
        const t_keyRecord* Find(std::wstring_view key) const;

    private:
        friend class t_fileConfig;
        t_keyMap m_keys;
        std::vector<t_keyRecord*> m_lines;
    };

    using t_sectionMap = std::map<std::wstring_view, t_section, t_codePointLess>;

    // Empty, separator list "=", encoding UTF-8.
    t_fileConfig();
    t_fileConfig(const t_fileConfig&) = delete;
    t_fileConfig& operator=(const t_fileConfig&) = delete;

    // Reads the file at path (encoding from its byte-order mark, none means
    // GBK) and adds its sections and lines to the object. Returns false with
    // the last error "no-error" when the file cannot be opened. A key line
    // before the first section header, a line with no separator, an empty key
    // and a line longer than kMaxLineChars are ignored. Bytes that are no
    // text of the encoding are read as U+FFFD, quietly: UndecodableNote
    // tells them.
    bool Load(const wchar_t* path);
    // After Load: the bytes of the file that were no text of its encoding,
    // as t_textFile::UndecodableNote tells them; empty when there were none.
    const std::wstring& UndecodableNote() const { return m_undecodableNote; }
    // SaveAs to the path of the last successful Load; "尚未打开文件" when none.
    bool Save();
    // Writes every section in name order, each with all its lines in key
    // order (a repeated key's lines in the order they were added), in the
    // object's encoding. The file is replaced only once fully written. False
    // with the last error set when the file cannot be created ("no-error") or
    // a text cannot be written in the encoding; the old file is then kept.
    bool SaveAs(const wchar_t* path);

    // Registers a separator and returns the object's copy of it (an equal
    // one, ignoring case, is returned unchanged). A separator goes before the
    // last registered one that compares greater, else to the front, so "=>"
    // registered after "=" is tried first. Null with "参数错误" for a null or
    // empty text.
    const wchar_t* AddSeparator(const wchar_t* text);

    // The section of that name, or null ("参数错误" for a null name,
    // "未找到Section" when absent).
    const t_section* FindSection(const wchar_t* name);
    // The value of the last line with key in section (null for an empty
    // value); *separator, when given, gets its separator. Null with
    // "参数错误", "未找到Section" or "未找到Key" when there is none.
    const wchar_t* GetValue(const wchar_t* section, const wchar_t* key, const wchar_t** separator);
    // GetValue, or def when that gives null.
    const wchar_t* GetString(const wchar_t* section, const wchar_t* key, const wchar_t** separator,
                             const wchar_t* def);
    // The value read as a base-10 number (leading blanks and a sign allowed,
    // digits up to the first other character, clamped to 32 bits), or def
    // when GetValue gives null.
    int GetInt(const wchar_t* section, const wchar_t* key, const wchar_t** separator, int def);

    // Sets key in section (creating the section): when the key is present the
    // line that answers lookups gets the new value and separator, otherwise a
    // line is added. A null separator means "="; it is registered. False with
    // "参数错误" for a null or empty section or key, or a text holding CR or LF.
    bool SetValue(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                  const wchar_t* separator);
    // Adds a line even when the key is already present (rule sections list
    // one key several times). Same arguments and failures as SetValue.
    bool AddValue(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                  const wchar_t* separator);
    // SetValue with the number formatted by "%d".
    bool SetInt(const wchar_t* section, const wchar_t* key, int number, const wchar_t* separator);

    // Every section in name order.
    const t_sectionMap& GetSections() const { return m_sections; }
    const wchar_t* GetLastError() const { return m_lastError; }
    int GetEncoding() const { return m_encoding; }
    const std::wstring& GetFileName() const { return m_fileName; }
    const std::vector<const wchar_t*>& GetSeparators() const { return m_separators; }

    // Strips U+3000, space, TAB and CR from both ends of text in place and
    // returns its new start (null for null).
    static wchar_t* Trim(wchar_t* text);

private:
    bool CheckArguments(const wchar_t* section, const wchar_t* key, const wchar_t* value);
    bool PutValue(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                  const wchar_t* separator, bool addLine);
    const wchar_t* CopyText(const wchar_t* text, size_t n);
    void LoadLine(wchar_t* line, const wchar_t** section);

    std::recursive_mutex m_lock;        // guards the separator list and the arena while loading
    t_scopeHeap m_heap;                 // every text and separator copy
    std::deque<t_keyRecord> m_records;  // stays in place as it grows
    t_sectionMap m_sections;
    std::vector<const wchar_t*> m_separators;
    std::wstring m_fileName;
    std::wstring m_undecodableNote;
    const wchar_t* m_lastError = nullptr;
    int m_encoding = kTextUtf8;
};
