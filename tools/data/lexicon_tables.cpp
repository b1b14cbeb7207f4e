// Writes the table-file images of the English and web-address lists, the
// English prediction keys, the number-frequency table, the tables of the
// project's own records and the tables that ship without rows, with the
// kernel's own table-file builder and the layouts its readers expect.
// Same input, same bytes: rows are inserted in input order and the builder
// orders every bucket itself.
//
//   vetra_lexicon_tables strings eng|url WORDS.tsv OUT.bin   (word TAB frequency)
//   vetra_lexicon_tables numbers NUMERALS.txt OUT.bin        (one text a line, '#' comments)
//   vetra_lexicon_tables keys KEYS.txt OUT.bin               (English prediction keys, a line each)
//   vetra_lexicon_tables empty NAME OUT.bin
//       NAME: preeng abbr infokey infoblack urlguide smartinfo quick tip adjcache
//   vetra_lexicon_tables records abbr|quick|urlguide|tip SOURCE.tsv OUT.bin
//       TAB-separated fields, "\n" for a line break and "\\" for a backslash:
//       abbr:     key, position, phrase
//       quick:    word, position, flag, picture      (a char-art entry)
//                 =category, sub1, sub2, text1, text2, text3   (a symbol group row)
//       urlguide: word|input, key, guide text, web address
//       tip:      syllable ids (decimal, space separated), word, tip
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "kernel/lexicon/small_dicts_layout.h"
#include "kernel/storage/table_builder.h"

namespace {

int Fail(const std::string& message) {
    fprintf(stderr, "vetra_lexicon_tables: %s\n", message.c_str());
    return 1;
}

// UTF-8 to UTF-16 units; false on a malformed sequence.
bool Utf16Of(const std::string& s, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0;
        size_t n = 0;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            n = 4;
        } else {
            return false;
        }
        if (i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp >= 0x110000 || (cp >= 0xD800 && cp < 0xE000)) return false;
        if (cp >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += n;
    }
    return true;
}

class t_item {
public:
    t_item& Str(const std::u16string& s) {
        const int16_t n = int16_t(2 * s.size());
        Put(&n, 2);
        return Put(s.data(), 2 * s.size());
    }
    t_item& U16(uint16_t v) { return Put(&v, 2); }
    t_item& U32(uint32_t v) { return Put(&v, 4); }
    std::vector<uint8_t> Packed() const {
        std::vector<uint8_t> out(4 + m_bytes.size());
        const uint32_t n = uint32_t(m_bytes.size());
        std::memcpy(out.data(), &n, 4);
        if (!m_bytes.empty()) std::memcpy(out.data() + 4, m_bytes.data(), m_bytes.size());
        return out;
    }

private:
    t_item& Put(const void* p, size_t n) {
        const size_t at = m_bytes.size();
        m_bytes.resize(at + n);
        if (n) std::memcpy(m_bytes.data() + at, p, n);
        return *this;
    }
    std::vector<uint8_t> m_bytes;
};

int Write(t_systemTable which, const std::vector<t_item>& items, const std::string& out,
          const std::vector<t_item>& secondTable = {}) {
    const t_systemTableLayout layout = SystemTableLayout(which);
    t_tableFileBuilder builder;
    if (!builder.InitStoreWithBuckets(layout.keys, layout.attris, layout.datas, layout.version,
                                      layout.version, {}, layout.compares, layout.buckets))
        return Fail(std::string("layout refused: ") +
                    (builder.GetLastError() ? builder.GetLastError() : "?"));
    for (const t_item& item : items) {
        const std::vector<uint8_t> packed = item.Packed();
        if (builder.InsertOne(packed.data(), 0) != 1)
            return Fail("a row was refused by the builder");
    }
    for (const t_item& item : secondTable) {
        const std::vector<uint8_t> packed = item.Packed();
        if (builder.InsertOne(packed.data(), 1) != 1)
            return Fail("a row of key table 1 was refused by the builder");
    }
    const std::wstring path(out.begin(), out.end());
    if (builder.SaveToFile(path.c_str()) != 1) return Fail("cannot write " + out);
    // The kernel's writer keeps what it writes private, as user files must
    // be; system data is for every user of the machine.
    if (chmod(out.c_str(), 0644) != 0)
        return Fail("cannot make " + out + " readable: " + strerror(errno));
    return 0;
}

// Lines of a text file without comments and blank lines.
bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        lines.push_back(line);
    }
    return true;
}

int Strings(const std::string& kind, const std::string& in, const std::string& out) {
    if (kind != "eng" && kind != "url") return Fail("strings: kind must be eng or url");
    std::vector<std::string> lines;
    if (!ReadLines(in, lines)) return Fail("cannot read " + in);
    std::vector<t_item> items;
    for (const std::string& line : lines) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) return Fail(in + ": no frequency in: " + line);
        std::u16string word;
        if (!Utf16Of(line.substr(0, tab), word) || word.empty() || word.size() > 1000)
            return Fail(in + ": bad word: " + line);
        char* end = nullptr;
        const unsigned long freq = strtoul(line.c_str() + tab + 1, &end, 10);
        if (*end != '\0' || freq > 0x7FFFFFFFul) return Fail(in + ": bad frequency: " + line);
        items.push_back(t_item().Str(word).U32(0).U32(uint32_t(freq)));
    }
    return Write(kind == "eng" ? t_systemTable::kEngSys : t_systemTable::kUrlSys, items, out);
}

int Numbers(const std::string& in, const std::string& out) {
    std::vector<std::string> lines;
    if (!ReadLines(in, lines)) return Fail("cannot read " + in);
    std::vector<t_item> items;
    std::map<std::u16string, bool> seen;
    for (const std::string& line : lines) {
        std::u16string text;
        if (!Utf16Of(line, text) || text.empty() || text.size() > 64)
            return Fail(in + ": bad number text: " + line);
        if (seen[text]) return Fail(in + ": listed twice: " + line);
        seen[text] = true;
        items.push_back(t_item().Str(text).U16(0).U32(0));
    }
    return Write(t_systemTable::kNumFreq, items, out);
}

// Typed inputs: lower-case ASCII letters, as the keys are compared exactly.
int Keys(const std::string& in, const std::string& out) {
    std::vector<std::string> lines;
    if (!ReadLines(in, lines)) return Fail("cannot read " + in);
    std::vector<t_item> items;
    std::map<std::string, bool> seen;
    for (const std::string& line : lines) {
        const bool letters =
            !line.empty() && line.size() <= 64 &&
            line.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos;
        if (!letters) return Fail(in + ": not a key of lower-case letters: " + line);
        if (seen[line]) return Fail(in + ": listed twice: " + line);
        seen[line] = true;
        items.push_back(t_item().Str(std::u16string(line.begin(), line.end())));
    }
    if (items.empty()) return Fail(in + ": no keys");
    return Write(t_systemTable::kPreEng, items, out);
}

int Empty(const std::string& name, const std::string& out) {
    static const std::map<std::string, t_systemTable> kTables = {
        {"preeng", t_systemTable::kPreEng},     {"abbr", t_systemTable::kAbbrSys},
        {"infokey", t_systemTable::kInfoKey},   {"infoblack", t_systemTable::kInfoBlack},
        {"urlguide", t_systemTable::kUrlGuide}, {"smartinfo", t_systemTable::kSmartInfo},
        {"quick", t_systemTable::kQuickSys},    {"tip", t_systemTable::kPyTip},
        {"adjcache", t_systemTable::kAdjCache},
    };
    const auto it = kTables.find(name);
    if (it == kTables.end()) return Fail("empty: unknown table " + name);
    return Write(it->second, {}, out);
}

// Splits a line at tabs and undoes the escapes of each field.
bool Fields(const std::string& line, std::vector<std::u16string>& out) {
    out.clear();
    std::string field;
    std::vector<std::string> raw;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == '\t') {
            raw.push_back(field);
            field.clear();
        } else if (line[i] == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            field += next == 'n' ? '\n' : next;
        } else {
            field += line[i];
        }
    }
    for (const std::string& f : raw) {
        std::u16string u;
        if (!Utf16Of(f, u)) return false;
        out.push_back(u);
    }
    return true;
}

bool Number(const std::u16string& s, long low, long high, long* value) {
    const std::string a(s.begin(), s.end());
    char* end = nullptr;
    *value = strtol(a.c_str(), &end, 10);
    return !a.empty() && *end == '\0' && *value >= low && *value <= high;
}

// Syllable ids written as decimal numbers between spaces, one for each of
// the word's units, as the string of u16 ids a tip is keyed by.
bool SyllableIds(const std::u16string& text, size_t units, std::u16string* out) {
    out->clear();
    std::u16string number;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != u' ') {
            number += text[i];
            continue;
        }
        long id = 0;
        if (!Number(number, 0, 438, &id)) return false;
        out->push_back(char16_t(id));
        number.clear();
    }
    return out->size() == units;
}

int Records(const std::string& kind, const std::string& in, const std::string& out) {
    std::vector<std::string> lines;
    if (!ReadLines(in, lines)) return Fail("cannot read " + in);
    std::vector<t_item> first, second;
    std::vector<std::u16string> f;
    for (const std::string& line : lines) {
        long a = 0, b = 0, c = 0;
        std::u16string ids;
        if (!Fields(line, f)) return Fail(in + ": not UTF-8: " + line);
        for (const std::u16string& field : f)
            if (field.empty() || field.size() > 4000)
                return Fail(in + ": empty or over-long field: " + line);
        if (kind == "abbr" && f.size() == 3 && Number(f[1], 1, 32767, &a)) {
            first.push_back(t_item().Str(f[0]).Str(f[2]).U16(uint16_t(a)));
        } else if (kind == "quick" && f.size() == 4 && f[0][0] != u'=' &&
                   Number(f[1], 1, 32767, &a) && Number(f[2], 0, 32766, &b)) {
            first.push_back(t_item().Str(f[0]).Str(f[3]).U16(uint16_t(a)).U16(uint16_t(b + 1)));
        } else if (kind == "quick" && f.size() == 6 && f[0][0] == u'=' &&
                   Number(f[0].substr(1), 0, 65534, &a) && Number(f[1], 0, 32766, &b) &&
                   Number(f[2], 0, 32766, &c)) {
            second.push_back(t_item()
                                 .U32(uint32_t(a + 1))
                                 .U16(uint16_t(b + 1))
                                 .U16(uint16_t(c + 1))
                                 .Str(f[3])
                                 .Str(f[4])
                                 .Str(f[5]));
        } else if (kind == "tip" && f.size() == 3 && SyllableIds(f[0], f[1].size(), &ids)) {
            first.push_back(t_item().Str(ids).Str(f[1]).Str(f[2]));
        } else if (kind == "urlguide" && f.size() == 4 && (f[0] == u"word" || f[0] == u"input")) {
            (f[0] == u"word" ? first : second).push_back(t_item().Str(f[1]).Str(f[2]).Str(f[3]));
        } else {
            return Fail(in + ": bad " + kind + " line: " + line);
        }
    }
    static const std::map<std::string, t_systemTable> kTables = {
        {"abbr", t_systemTable::kAbbrSys},
        {"quick", t_systemTable::kQuickSys},
        {"urlguide", t_systemTable::kUrlGuide},
        {"tip", t_systemTable::kPyTip}};
    const auto it = kTables.find(kind);
    if (it == kTables.end()) return Fail("records: kind must be abbr, quick, urlguide or tip");
    return Write(it->second, first, out, second);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "strings") return Strings(args[1], args[2], args[3]);
    if (args.size() == 3 && args[0] == "numbers") return Numbers(args[1], args[2]);
    if (args.size() == 3 && args[0] == "keys") return Keys(args[1], args[2]);
    if (args.size() == 3 && args[0] == "empty") return Empty(args[1], args[2]);
    if (args.size() == 4 && args[0] == "records") return Records(args[1], args[2], args[3]);
    return Fail(
        "usage: strings eng|url WORDS.tsv OUT | numbers NUMERALS.txt OUT | keys KEYS.txt OUT | "
        "empty NAME OUT | "
        "records KIND SOURCE.tsv OUT");
}
