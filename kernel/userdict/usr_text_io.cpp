// User-word records and their word-list text form.
//
//   [ni][hao]  TAB 你好 TAB 7 LF
//   #35 TAB 1 LF            <- stamp and flags of the entry above
#include "kernel/userdict/usr_text_io.h"

#include <cstdio>
#include <cstring>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/word_list.h"
#include "kernel/storage/table_format.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_scramble.h"

using namespace n_tableFormat;

namespace {

constexpr uint32_t kMaxReadingBytes = 2 * kUsrTextMaxReadingIds;
constexpr int kCommentUnits = 1000;  // comment text ParseTwoNumbers looks at

const uint8_t* RecordBytes(const UsrWordRecord* r) {
    return reinterpret_cast<const uint8_t*>(r) + 4;
}

// A t_lstr with room for the longest reading.
struct t_readingBuf {
    alignas(2) uint8_t bytes[2 + kMaxReadingBytes] = {};
    t_lstr* get() { return reinterpret_cast<t_lstr*>(bytes); }
    void Clear() { Wr16(bytes, 0); }
};

// A t_lstr with room for the longest code field.
struct t_wordBuf {
    alignas(2) uint8_t bytes[2 + 2 * kUsrTextWordUnits] = {};
    t_lstr* get() { return reinterpret_cast<t_lstr*>(bytes); }
};

// The parts of one entry line, as the text readers take them.
struct t_textEntry {
    t_readingBuf reading;
    t_wordBuf word;
    int number = 0;
};

// Reads the current entry line of the reader: the reading token by token,
// the code field as the word, the number. False for a bad token, an empty
// reading, or a missing code or number.
bool ParseEntry(t_utf16TextReader& reader, t_textEntry& e) {
    e.reading.Clear();
    uint16_t token[kUsrTextTokenUnits];
    int type = 0;
    for (;;) {
        const int r = reader.NextWordToken(token, kUsrTextTokenUnits, &type);
        if (r == 1) break;
        if (r != 0 ||
            (type != t_utf16TextReader::kTokenGroup && type != t_utf16TextReader::kTokenUnit))
            return false;
        if (!AppendPinyinId(e.reading.get(), sizeof e.reading.bytes, token, type)) return false;
    }
    if (LstrGetByteLength(e.reading.get()) == 0) return false;
    uint16_t code[kUsrTextWordUnits];
    const int units = reader.GetCode(code, kUsrTextWordUnits);
    if (units < 2) return false;  // the terminator alone: empty code
    Wr16(e.word.bytes, uint16_t(2 * (units - 1)));
    std::memcpy(e.word.bytes + 2, code, 2 * size_t(units - 1));
    return reader.GetNumber(&e.number) == 1;
}

bool OpenWordList(t_utf16TextReader& reader, const wchar_t* path) {
    if (reader.OpenFile(path) != 0) return false;
    uint16_t header[kWordListFieldUnits];
    return reader.GetHeaderValue(header, kWordListFieldUnits) == 1;
}

uint16_t ClampFreq(int number) {
    return number > 0xFFFF ? 0xFFFF : uint16_t(number < 0 ? 0 : number);
}

const UsrWordRecord* EntryRecord(t_scopeHeap& arena, t_textEntry& e, uint16_t flags,
                                 uint32_t stamp) {
    t_usrWordFields f;
    f.reading = e.reading.get();
    f.word = e.word.get();
    f.freq = ClampFreq(e.number);
    f.flags = flags;
    f.stamp = stamp;
    return MakeUsrWordRecord(arena, f);
}

// The comment of the current line as text for ParseTwoNumbers.
bool CommentNumbers(t_utf16TextReader& reader, uint32_t* stamp, uint16_t* flags) {
    uint16_t comment[kCommentUnits + 1];
    if (reader.GetComment(comment, kCommentUnits + 1) != 1) return false;
    return ParseTwoNumbers(comment, kCommentUnits, stamp, flags);
}

bool ToUnits(const wchar_t* text, uint16_t* out, size_t capacity) {
    size_t i = 0;
    for (; text[i]; ++i) {
        if (i + 1 >= capacity || uint32_t(text[i]) > 0xFFFF) return false;
        out[i] = uint16_t(text[i]);
    }
    out[i] = 0;
    return true;
}

}  // namespace

const UsrWordRecord* MakeUsrWordRecord(t_scopeHeap& arena, const t_usrWordFields& f) {
    if (!f.reading || !f.word) return nullptr;
    const uint32_t readingBytes = LstrGetTotalBytes(f.reading);
    const uint32_t wordBytes = LstrGetTotalBytes(f.word);
    const uint32_t size = readingBytes + wordBytes + kUsrRecordTailBytes;
    auto* p = static_cast<uint8_t*>(arena.Alloc(4 + size_t(size)));
    if (!p) return nullptr;
    Wr32(p, size);
    uint8_t* q = p + 4;
    std::memcpy(q, f.reading, readingBytes);
    q += readingBytes;
    std::memcpy(q, f.word, wordBytes);
    q += wordBytes;
    Wr16(q, f.freq);
    Wr16(q + 2, f.flags);
    Wr32(q + 4, f.stamp);
    Wr16(q + 8, f.checksum);
    Wr16(q + 10, f.extra);
    Wr16(q + 12, f.reserved);
    return reinterpret_cast<const UsrWordRecord*>(p);
}

bool ReadUsrWordRecord(const UsrWordRecord* record, t_usrWordFields* out) {
    if (!record || !out || record->size < 0) return false;
    const uint64_t size = uint64_t(record->size);
    const uint8_t* p = RecordBytes(record);
    uint64_t at = 0;
    if (at + 2 > size) return false;
    const uint64_t readingBytes = 2 + uint64_t(Rd16(p));
    if (at + readingBytes + 2 > size) return false;
    out->reading = reinterpret_cast<const t_lstr*>(p);
    at += readingBytes;
    const uint64_t wordBytes = 2 + uint64_t(Rd16(p + at));
    if (at + wordBytes + kUsrRecordTailBytes > size) return false;
    out->word = reinterpret_cast<const t_lstr*>(p + at);
    at += wordBytes;
    const uint8_t* t = p + at;
    out->freq = Rd16(t);
    out->flags = Rd16(t + 2);
    out->stamp = Rd32(t + 4);
    out->checksum = Rd16(t + 8);
    out->extra = Rd16(t + 10);
    out->reserved = Rd16(t + 12);
    return true;
}

bool CollectUsrDictWords(t_scopeHeap& arena, const wchar_t* path, t_usrWordRecords& out) {
    t_usrDictV3Core dict;
    if (!path || !dict.AttachFile(path)) return false;
    return CollectUsrDictCoreWords(arena, dict, nullptr, out);
}

bool CollectUsrDictCoreWords(t_scopeHeap& arena, const t_usrDictV3Core& dict,
                             const t_usrDictV3Core* base, t_usrWordRecords& out) {
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!dict.CollectItems(pairs)) return false;
    alignas(2) uint8_t text[kUsrTextBufBytes];
    auto* word = reinterpret_cast<t_lstr*>(text);
    for (const auto& pair : pairs) {
        const t_lstr* reading = nullptr;
        t_usrWordAttr a;
        if (!dict.ReadPair(pair, &reading, &a) || !reading) continue;
        if (!dict.GetWordText(a.textId, a.checksum, word)) continue;
        t_usrWordAttr old;
        if (base && base->GetWordRecord(reading, word, &old) && old.freq == a.freq) continue;
        t_usrWordFields f;
        f.reading = reading;
        f.word = word;
        f.freq = a.freq;
        f.flags = a.flags;
        f.stamp = a.stamp;
        f.checksum = a.checksum;
        f.extra = a.extra;
        f.reserved = a.reserved;
        const UsrWordRecord* r = MakeUsrWordRecord(arena, f);
        if (!r) return false;
        out.push_back(r);
    }
    return true;
}

int ExportUsrWordsToText(const wchar_t* path, const t_usrWordRecords& records) {
    t_utf16TextWriter writer;
    if (!path || writer.OpenFile(path) != t_utf16TextWriter::kOk) return 0;
    // Init drops the temporary without committing it: the destructor would
    // otherwise move a half-written export over the target.
    auto fail = [&writer]() {
        writer.Init();
        return 0;
    };
    uint16_t text[kWordListFieldUnits];
    for (const UsrWordRecord* record : records) {
        t_usrWordFields f;
        if (!ReadUsrWordRecord(record, &f)) continue;
        writer.ClearEntry();
        bool keep = LstrGetLength(f.reading) > 0;
        for (uint16_t i = 0; keep && i < LstrGetLength(f.reading); ++i) {
            const wchar_t* syllable = SyllableTableText(LstrGetUnit(f.reading, i));
            keep = syllable && ToUnits(syllable, text, kWordListFieldUnits) &&
                   ((text[0] >= 'A' && text[0] <= 'Z') ? writer.AppendWordText(text)
                                                       : writer.AppendWordGroup(text));
        }
        const uint16_t units = LstrGetLength(f.word);
        if (!keep || units == 0 || units >= kWordListFieldUnits) continue;
        std::memcpy(text, LstrGetUnits(f.word), 2 * size_t(units));
        text[units] = 0;
        // A word the format cannot carry (a TAB or a line end in it) is left out.
        if (!writer.SetCode(text) || !writer.SetNumber(f.freq)) continue;
        if (writer.WriteEntry() != t_utf16TextWriter::kOk) return fail();
        if (!FormatTwoNumbers(text, kWordListFieldUnits, f.stamp, f.flags) ||
            writer.WriteComment(text) != t_utf16TextWriter::kOk)
            return fail();
    }
    return writer.CloseFile() == t_utf16TextWriter::kOk ? 1 : 0;
}

bool ReadUsrWordText(t_scopeHeap& arena, const wchar_t* path, t_usrWordRecords& out) {
    t_utf16TextReader reader;
    if (!path || !OpenWordList(reader, path)) return false;
    t_textEntry entry;
    bool pending = false;
    for (;;) {
        const int r = reader.ReadEntry();
        if (r == 1) break;
        if (r != 0) {  // a malformed line: its entry, or the one waiting for it, is lost
            pending = false;
            continue;
        }
        if (reader.GetLineKind() == t_utf16TextReader::kKindEntry) {
            pending = ParseEntry(reader, entry);
            continue;
        }
        if (!pending) continue;
        pending = false;
        uint32_t stamp = kUsrNoAge;
        uint16_t flags = 0;
        if (!CommentNumbers(reader, &stamp, &flags)) {
            stamp = kUsrNoAge;
            flags = 0;
        }
        const UsrWordRecord* record = EntryRecord(arena, entry, flags, stamp);
        if (!record) return false;
        out.push_back(record);
    }
    return true;
}

int ImportWordsIntoUsrDict(const wchar_t* dictPath, const wchar_t* listPath,
                           const wchar_t* secondListPath) {
    if (!dictPath || !dictPath[0] || !listPath) return 0;
    // Read, merged and written back as one step against other writers.
    t_entryFileLock lock(GetUsrDictInstance());
    if (lock.Refused()) return 0;
    t_usrDictV3Core dict;
    // A missing dictionary starts empty in memory; the file appears only
    // with the final save.
    if (PathIsFile(t_pathName(dictPath)) ? !dict.AttachFile(dictPath)
                                         : !dict.CreateEmpty(kUsrDefaultCapacity))
        return 0;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    // The words held are never traded for listed ones: new words are taken
    // while there is room.
    dict.SetNoEviction(true);
    t_usrWordRecords listed;
    auto merge = [&](const wchar_t* list) {
        t_usrWordRecords records;
        if (!ReadUsrWordText(arena, list, records)) return false;
        for (const UsrWordRecord* record : records) {
            t_usrWordFields f;
            // One word the dictionary refuses does not stop the others.
            if (ReadUsrWordRecord(record, &f) && dict.HasImportRoom(f.reading, f.word))
                dict.MergeWord(f.reading, f.word, f.freq, f.flags, f.stamp);
        }
        listed.insert(listed.end(), records.begin(), records.end());
        return true;
    };
    if (secondListPath && secondListPath[0] && !merge(secondListPath)) return 0;
    if (!merge(listPath)) return 0;
    // A save that keeps none of the listed words would answer success for
    // nothing: such an import changes no file.
    const int kept = CountKeptUsrWords(dict, listed);
    if (kept == 0) return 0;
    return dict.SaveToFile(dictPath, 1) ? kept : 0;
}

bool ImportUsrWordsFromText(t_scopeHeap& arena, const wchar_t* path, t_usrWordRecords& out,
                            uint16_t flagBit) {
    t_utf16TextReader reader;
    if (!path || !OpenWordList(reader, path)) return false;
    t_usrDictV3Core& usr = GetUsrDictInstance();
    t_textEntry entry;
    bool pending = false;
    auto flush = [&]() {
        if (!pending) return true;
        pending = false;
        const UsrWordRecord* record = EntryRecord(arena, entry, flagBit, kUsrNoAge);
        if (!record) return false;
        out.push_back(record);
        return true;
    };
    bool afterEntry = false;
    for (;;) {
        const int r = reader.ReadEntry();
        if (r == 1) break;
        if (r != 0) {  // malformed line: skipped
            afterEntry = false;
            continue;
        }
        if (reader.GetLineKind() == t_utf16TextReader::kKindEntry) {
            if (!flush()) return false;
            afterEntry = true;
            pending = ParseEntry(reader, entry) &&
                      !usr.GetWordRecord(entry.reading.get(), entry.word.get(), nullptr);
            continue;
        }
        const bool comment = afterEntry;
        afterEntry = false;
        if (!comment || !pending) continue;
        uint32_t stamp = 0;
        uint16_t flags = 0;
        if (!CommentNumbers(reader, &stamp, &flags)) flags = 0;
        if (entry.number == 0 || (flags & kUsrTextSkipFlag)) {
            pending = false;
            continue;
        }
        if (!flush()) return false;
    }
    return flush();
}

bool ParseTwoNumbers(const uint16_t* s, int n, uint32_t* first, uint16_t* second) {
    if (!s || !first || !second) return false;
    uint64_t a = 0, b = 0;
    int tabs = 0, digitsA = 0, digitsB = 0;
    bool negative = false;
    for (int i = 0; i < n; ++i) {
        const uint16_t u = s[i];
        if (u == 0 || u == '\n') break;
        if (u == '\r') continue;
        if (u == '\t') {
            if (++tabs > 1) return false;
            continue;
        }
        if (tabs == 1 && u == '-' && digitsB == 0 && !negative) {
            negative = true;
            continue;
        }
        if (u < '0' || u > '9') return false;
        if (tabs == 0) {
            a = a * 10 + (u - '0');
            if (a > UINT32_MAX) return false;
            ++digitsA;
        } else {
            b = b * 10 + (u - '0');
            if (b > UINT32_MAX) return false;
            ++digitsB;
        }
    }
    if (tabs != 1 || digitsA == 0 || digitsB == 0) return false;
    *first = uint32_t(a);
    *second = uint16_t(negative ? 0 - uint32_t(b) : uint32_t(b));
    return true;
}

int FormatTwoNumbers(uint16_t* out, int capacity, uint32_t first, uint16_t second) {
    if (!out || capacity <= 0) return 0;
    // The stamp is unsigned: printed signed, a large one would not read back.
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%u\t%d", first, int(int16_t(second)));
    if (n <= 0 || n >= capacity) return 0;
    for (int i = 0; i <= n; ++i) out[i] = uint16_t(uint8_t(text[i]));
    return 1;
}

bool AppendPinyinId(t_lstr* reading, uint32_t capacity, const uint16_t* token, int type) {
    if (!reading || !token) return false;
    if (type != t_utf16TextReader::kTokenGroup && type != t_utf16TextReader::kTokenUnit)
        return true;
    auto append = [&](int id) {
        const uint32_t bytes = LstrGetByteLength(reading);
        if (id < 0 || bytes + 2 + 2 > capacity) return false;
        Wr16(reinterpret_cast<uint8_t*>(reading) + 2 + bytes, uint16_t(id));
        LstrSetByteLength(reading, uint16_t(bytes + 2));
        return true;
    };
    if (type == t_utf16TextReader::kTokenGroup) {
        wchar_t text[kUsrTextTokenUnits];
        int i = 0;
        for (; token[i]; ++i) {
            if (i + 1 >= kUsrTextTokenUnits) return false;
            text[i] = wchar_t(token[i]);
        }
        text[i] = L'\0';
        return append(SyllableTableFind(text));
    }
    for (int i = 0; token[i]; ++i) {
        const uint16_t u = token[i];
        int id = -1;
        if (u >= 'A' && u <= 'Z')
            id = kSyllableCount + (u - 'A');
        else if (u >= 'a' && u <= 'z')
            id = kSyllableCount + (u - 'a');
        if (!append(id)) return false;
    }
    return true;
}
