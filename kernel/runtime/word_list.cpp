// Reader and writer of the UTF-16 word-list text format.
#include "kernel/runtime/word_list.h"

#include <unistd.h>

#include <cstring>

#include "kernel/runtime/path.h"

namespace {

constexpr uint16_t kBom = 0xFEFF;
constexpr uint16_t kTab = 0x09;
constexpr uint16_t kLf = 0x0A;
constexpr uint16_t kCr = 0x0D;
constexpr uint16_t kHash = '#';
constexpr uint16_t kOpenGroup = '[';
constexpr uint16_t kCloseGroup = ']';

// "FormatVersion=v1.0", then an empty line.
constexpr char kHeaderText[] = "FormatVersion=v1.0\n\n";
constexpr size_t kFileFlushBytes = 64 * 1024;

size_t Utf16Len(const uint16_t* s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

bool BreaksLine(uint16_t u) {
    return u == kLf || u == kCr;
}

void PutUnit(uint8_t* p, uint16_t u) {
    p[0] = static_cast<uint8_t>(u & 0xFF);
    p[1] = static_cast<uint8_t>(u >> 8);
}

}  // namespace

// ---------------------------------------------------------------- reader

void t_utf16TextReader::Init() {
    m_header[0] = 0;
    m_headerLen = 0;
    m_line[0] = 0;
    m_lineLen = 0;
    m_kind = kKindNone;
    m_word[0] = m_code[0] = 0;
    m_number[0] = 0;
    m_wordLen = m_codeLen = m_numberLen = 0;
    m_numberValue = -1;
    m_comment[0] = 0;
    m_commentLen = 0;
    m_tokenPos = 0;
    m_file = nullptr;
    m_mem = nullptr;
    m_memLeft = 0;
    m_source = kSourceNone;
    m_linesRead = 0;
}

void t_utf16TextReader::Close() {
    if (m_file) fclose(m_file);
    Init();
}

int t_utf16TextReader::OpenFile(const wchar_t* path) {
    Close();
    if (!path || PathAccess(path, F_OK) != 0) return -1;
    FILE* f = nullptr;
    if (!FOpen(&f, path, L"rb") || !f) return -2;
    m_file = f;
    m_source = kSourceFile;
    if (ReadHeader() != 0) {
        Close();
        return -3;
    }
    return 0;
}

int t_utf16TextReader::OpenMemory(const void* data, size_t bytes) {
    Close();
    if (!data) return -1;
    m_mem = static_cast<const uint8_t*>(data);
    m_memLeft = bytes;
    m_source = kSourceMemory;
    if (ReadHeader() != 0) {
        Close();
        return -1;
    }
    return 0;
}

bool t_utf16TextReader::NextUnit(uint16_t* unit) {
    if (m_source == kSourceMemory) {
        if (m_memLeft < 2) return false;
        *unit = static_cast<uint16_t>(m_mem[0] | (m_mem[1] << 8));
        m_mem += 2;
        m_memLeft -= 2;
        return true;
    }
    if (m_source == kSourceFile) {
        const int lo = getc(m_file);
        if (lo == EOF) return false;
        const int hi = getc(m_file);
        if (hi == EOF) return false;  // a lone trailing byte is no unit
        *unit = static_cast<uint16_t>(lo | (hi << 8));
        return true;
    }
    return false;
}

int t_utf16TextReader::ReadRawLine() {
    m_lineLen = 0;
    m_line[0] = 0;
    uint16_t u;
    for (;;) {
        if (!NextUnit(&u)) {
            if (m_lineLen == 0) return 1;
            ++m_linesRead;  // the last line may lack its line end
            break;
        }
        if (BreaksLine(u)) {
            ++m_linesRead;
            if (m_lineLen == 0) continue;  // empty lines and CR LF pairs
            break;
        }
        if (m_lineLen == kWordListMaxLine) {
            // Too long: consume the rest of it so the next read starts afresh.
            while (NextUnit(&u) && !BreaksLine(u)) {
            }
            ++m_linesRead;
            m_lineLen = 0;
            m_line[0] = 0;
            return -1;
        }
        m_line[m_lineLen++] = u;
    }
    m_line[m_lineLen] = 0;
    return 0;
}

int t_utf16TextReader::ReadHeader() {
    uint16_t u;
    if (!NextUnit(&u) || u != kBom) return -1;
    if (ReadRawLine() != 0) return -1;
    int eq = 0;
    while (eq < m_lineLen && m_line[eq] != '=') ++eq;
    if (eq == m_lineLen) return -1;
    const int valueLen = m_lineLen - eq - 1;
    if (valueLen >= kWordListFieldUnits) return -1;
    memcpy(m_header, m_line + eq + 1, size_t(valueLen) * 2);
    m_header[valueLen] = 0;
    m_headerLen = valueLen + 1;
    return 0;
}

int t_utf16TextReader::ReadEntry() {
    m_kind = kKindNone;
    m_wordLen = m_codeLen = m_numberLen = 0;
    m_numberValue = -1;
    m_commentLen = 0;
    m_tokenPos = 0;
    if (m_source == kSourceNone) return 1;
    const int r = ReadRawLine();
    if (r != 0) return r;
    if (m_lineLen == 0) return -1;
    if (m_line[0] == kHash) {
        m_commentLen = m_lineLen - 1;
        memcpy(m_comment, m_line + 1, size_t(m_commentLen) * 2);
        m_comment[m_commentLen] = 0;
        m_kind = kKindComment;
        return 0;
    }
    return ParseEntry();
}

int t_utf16TextReader::ParseEntry() {
    int field = 0;  // 0 word, 1 code, 2 number
    int wordLen = 0, codeLen = 0, digits = 0;
    int64_t value = 0;
    for (int i = 0; i < m_lineLen; ++i) {
        const uint16_t u = m_line[i];
        if (u == kTab) {
            if (++field > 2) return -1;
            continue;
        }
        if (field == 0) {
            if (wordLen == kWordListFieldUnits - 1) return -1;
            m_word[wordLen++] = u;
        } else if (field == 1) {
            if (codeLen == kWordListFieldUnits - 1) return -1;
            m_code[codeLen++] = u;
        } else {
            if (u < '0' || u > '9' || digits == kWordListMaxDigits) return -1;
            m_number[digits++] = static_cast<char>(u);
            value = value * 10 + (u - '0');  // 19 digits cannot overflow 64 bits
        }
    }
    if (field != 2 || value > INT32_MAX) return -1;
    m_word[wordLen] = 0;
    m_code[codeLen] = 0;
    m_number[digits] = 0;
    m_wordLen = wordLen + 1;
    m_codeLen = codeLen + 1;
    m_numberLen = digits + 1;
    m_numberValue = static_cast<int>(value);
    m_kind = kKindEntry;
    return 0;
}

int t_utf16TextReader::GetWordLength() const {
    return m_kind == kKindEntry ? m_wordLen : -1;
}

int t_utf16TextReader::GetCodeLength() const {
    return m_kind == kKindEntry ? m_codeLen : -1;
}

int t_utf16TextReader::GetWord(uint16_t* buffer, int size) const {
    if (m_kind != kKindEntry || !buffer || size < m_wordLen) return 0;
    memcpy(buffer, m_word, size_t(m_wordLen) * 2);
    return m_wordLen;
}

int t_utf16TextReader::GetCode(uint16_t* buffer, int size) const {
    if (m_kind != kKindEntry || !buffer || size < m_codeLen) return 0;
    memcpy(buffer, m_code, size_t(m_codeLen) * 2);
    return m_codeLen;
}

int t_utf16TextReader::GetNumber(int* out) const {
    if (m_kind != kKindEntry || m_numberLen <= 1) return 0;
    if (out) *out = m_numberValue;
    return 1;
}

int t_utf16TextReader::GetComment(uint16_t* buffer, int size) const {
    if (m_kind != kKindComment || !buffer || size <= m_commentLen) return 0;
    memcpy(buffer, m_comment, size_t(m_commentLen + 1) * 2);
    return 1;
}

int t_utf16TextReader::GetHeaderValue(uint16_t* buffer, int size) const {
    if (m_headerLen == 0 || !buffer || size < m_headerLen) return 0;
    memcpy(buffer, m_header, size_t(m_headerLen) * 2);
    return 1;
}

int t_utf16TextReader::NextToken(void* buffer, int size, int* type, bool narrow) {
    if (m_kind != kKindEntry || !buffer) return -1;
    const int end = m_wordLen - 1;
    if (m_tokenPos >= end) return 1;
    int first, count, next, kind;
    if (m_word[m_tokenPos] == kOpenGroup) {
        int close = m_tokenPos + 1;
        while (close < end && m_word[close] != kCloseGroup) ++close;
        if (close == end) return -1;
        first = m_tokenPos + 1;
        count = close - first;
        next = close + 1;
        kind = kTokenGroup;
    } else {
        first = m_tokenPos;
        count = 1;
        if (narrow) {
            while (first + count < end && m_word[first + count] != kOpenGroup) ++count;
        }
        next = first + count;
        kind = kTokenUnit;
    }
    if (size <= count) return -1;
    if (narrow) {
        char* out = static_cast<char*>(buffer);
        for (int i = 0; i < count; ++i) out[i] = static_cast<char>(m_word[first + i] & 0xFF);
        out[count] = 0;
    } else {
        uint16_t* out = static_cast<uint16_t*>(buffer);
        memcpy(out, m_word + first, size_t(count) * 2);
        out[count] = 0;
    }
    if (type) *type = kind;
    m_tokenPos = next;
    return 0;
}

int t_utf16TextReader::NextWordToken(uint16_t* buffer, int size, int* type) {
    return NextToken(buffer, size, type, false);
}

int t_utf16TextReader::NextWordTokenA(char* buffer, int size, int* type) {
    return NextToken(buffer, size, type, true);
}

int64_t t_utf16TextReader::CountLines() {
    int64_t ahead = 0;
    if (m_source == kSourceMemory) {
        for (size_t i = 0; i + 1 < m_memLeft; i += 2) {
            const uint16_t u = static_cast<uint16_t>(m_mem[i] | (m_mem[i + 1] << 8));
            if (BreaksLine(u)) ++ahead;
        }
        return m_linesRead + ahead;
    }
    if (m_source != kSourceFile) return -1;
    const long pos = ftell(m_file);
    if (pos < 0) return -1;
    uint16_t u;
    while (NextUnit(&u)) {
        if (BreaksLine(u)) ++ahead;
    }
    clearerr(m_file);
    if (fseek(m_file, pos, SEEK_SET) != 0) return -1;
    return m_linesRead + ahead;
}

// ---------------------------------------------------------------- writer

void t_utf16TextWriter::Init() {
    m_file.Abort();
    m_fileBuf.clear();
    m_target = kTargetNone;
    m_buf = nullptr;
    m_bufSize = 0;
    m_bufUsed = 0;
    ClearEntry();
}

void t_utf16TextWriter::ClearEntry() {
    m_pending = kPendingNone;
    m_word[0] = 0;
    m_wordLen = 0;
    m_code[0] = 0;
    m_codeLen = 0;
    m_number[0] = 0;
    m_numberLen = 0;
    m_numberValue = 0;
}

int t_utf16TextWriter::OpenFile(const wchar_t* path) {
    CloseFile();
    Init();
    if (!path) return kErrNotOpen;
    t_pathName target(path);
    if (!m_file.Begin(target)) return kErrNotOpen;
    m_target = kTargetFile;
    uint16_t header[sizeof kHeaderText];
    size_t n = 0;
    for (const char* p = kHeaderText; *p; ++p) header[n++] = static_cast<uint8_t>(*p);
    uint8_t bom[2];
    PutUnit(bom, kBom);
    m_fileBuf.assign(bom, bom + 2);
    const int r = WriteLine(header, n, kTargetFile);
    if (r != kOk) return r;
    return FlushFile();
}

int t_utf16TextWriter::OpenBuffer(void* buffer, size_t size) {
    CloseFile();
    Init();
    if (!buffer) return kErrNotOpen;
    const size_t headerBytes = 2 + 2 * (sizeof kHeaderText - 1);
    if (headerBytes >= size) return kErrBufferFull;
    m_buf = static_cast<uint8_t*>(buffer);
    m_bufSize = size;
    PutUnit(m_buf, kBom);
    m_bufUsed = 2;
    for (const char* p = kHeaderText; *p; ++p) {
        PutUnit(m_buf + m_bufUsed, static_cast<uint8_t>(*p));
        m_bufUsed += 2;
    }
    m_target = kTargetBuffer;
    return kOk;
}

int t_utf16TextWriter::FlushFile() {
    if (m_fileBuf.empty()) return kOk;
    const bool ok = m_file.Write(m_fileBuf.data(), m_fileBuf.size());
    m_fileBuf.clear();
    if (ok) return kOk;
    m_file.Abort();
    m_target = kTargetNone;
    ClearEntry();
    return kErrWrite;
}

int t_utf16TextWriter::CloseFile() {
    if (m_target == kTargetBuffer) {
        m_target = kTargetNone;
        ClearEntry();
        return kOk;
    }
    if (m_target != kTargetFile) return kOk;
    int r = FlushFile();
    if (r == kOk && !m_file.Commit()) r = kErrCommit;
    m_file.Abort();
    m_target = kTargetNone;
    ClearEntry();
    return r;
}

bool t_utf16TextWriter::TargetOpen() {
    if (m_target != kTargetNone) return true;
    ClearEntry();
    return false;
}

int t_utf16TextWriter::AppendWord(const uint16_t* units, size_t n, size_t limit) {
    if (!TargetOpen() || !units) return 0;
    if (m_wordLen + n > limit) return 0;
    for (size_t i = 0; i < n; ++i) {
        if (units[i] == kTab || BreaksLine(units[i])) return 0;
    }
    memcpy(m_word + m_wordLen, units, n * 2);
    m_wordLen += n;
    m_word[m_wordLen] = 0;
    m_pending = kPendingEntry;
    return 1;
}

int t_utf16TextWriter::SetWordText(const uint16_t* text) {
    if (!TargetOpen() || !text) return 0;
    const size_t n = Utf16Len(text);
    if (n == 0 || n > kWordListMaxWordWrite - 2) return 0;
    const size_t oldLen = m_wordLen;
    m_wordLen = 0;
    if (AppendWord(text, n, kWordListMaxWordWrite)) return 1;
    m_wordLen = oldLen;
    return 0;
}

int t_utf16TextWriter::AppendWordText(const uint16_t* text) {
    if (!TargetOpen() || !text) return 0;
    return AppendWord(text, Utf16Len(text), kWordListMaxWordWrite);
}

int t_utf16TextWriter::AppendWordN(const uint16_t* units, size_t n) {
    return AppendWord(units, n, kWordListMaxWordWrite);
}

int t_utf16TextWriter::AppendWordAnsi(const char* text) {
    if (!TargetOpen() || !text) return 0;
    uint16_t units[kWordListMaxWordWrite + 1];
    size_t n = 0;
    for (; text[n]; ++n) {
        if (n == kWordListMaxWordWrite) return 0;
        units[n] = static_cast<uint16_t>(static_cast<int16_t>(static_cast<signed char>(text[n])));
    }
    return AppendWord(units, n, kWordListMaxWordWrite);
}

int t_utf16TextWriter::AppendWordGroup(const uint16_t* text) {
    if (!TargetOpen() || !text) return 0;
    const size_t n = Utf16Len(text);
    if (n > kWordListMaxWordWrite - 2) return 0;
    uint16_t units[kWordListMaxWordWrite + 1];
    units[0] = kOpenGroup;
    memcpy(units + 1, text, n * 2);
    units[n + 1] = kCloseGroup;
    return AppendWord(units, n + 2, kWordListMaxWordWrite);
}

int t_utf16TextWriter::AppendWordGroupAnsi(const char* text) {
    if (!TargetOpen() || !text) return 0;
    uint16_t units[kWordListMaxWordWrite + 1];
    size_t n = 0;
    for (; text[n]; ++n) {
        if (n == kWordListMaxWordWrite - 2) return 0;
        units[n] = static_cast<uint16_t>(static_cast<int16_t>(static_cast<signed char>(text[n])));
    }
    units[n] = 0;
    return AppendWordGroup(units);
}

int t_utf16TextWriter::SetCode(const uint16_t* text) {
    if (!TargetOpen() || !text) return 0;
    const size_t n = Utf16Len(text);
    if (n == 0 || n > kWordListMaxCodeWrite) return 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == kTab || BreaksLine(text[i])) return 0;
    }
    memcpy(m_code, text, (n + 1) * 2);
    m_codeLen = n + 1;
    m_pending = kPendingEntry;
    return 1;
}

int t_utf16TextWriter::SetNumber(int number) {
    if (!TargetOpen() || number < 0) return 0;
    const int n = snprintf(m_number, sizeof m_number, "%d", number);
    m_numberLen = size_t(n) + 1;
    m_numberValue = number;
    m_pending = kPendingEntry;
    return 1;
}

int t_utf16TextWriter::WriteLine(const uint16_t* units, size_t n, int target) {
    if (target == kTargetBuffer) {
        // The whole line or nothing, so the buffer never ends in half a line.
        const uint64_t bytes = uint64_t(n) * 2;
        if (m_bufUsed + bytes >= m_bufSize) return kErrBufferFull;
        for (size_t i = 0; i < n; ++i) PutUnit(m_buf + m_bufUsed + 2 * i, units[i]);
        m_bufUsed += size_t(bytes);
        return kOk;
    }
    const size_t old = m_fileBuf.size();
    m_fileBuf.resize(old + n * 2);
    for (size_t i = 0; i < n; ++i) PutUnit(m_fileBuf.data() + old + 2 * i, units[i]);
    return m_fileBuf.size() >= kFileFlushBytes ? FlushFile() : kOk;
}

int t_utf16TextWriter::WriteEntryTo(int target) {
    if (m_target != target) return kErrNotOpen;
    if (m_pending == kPendingNone) return kErrNoText;
    if (m_wordLen == 0 || m_codeLen == 0 || m_numberLen == 0) {
        ClearEntry();
        return kErrIncomplete;
    }
    uint16_t line[kWordListMaxWordWrite + kWordListMaxCodeWrite + 24];
    size_t n = 0;
    memcpy(line, m_word, m_wordLen * 2);
    n += m_wordLen;
    line[n++] = kTab;
    memcpy(line + n, m_code, (m_codeLen - 1) * 2);
    n += m_codeLen - 1;
    line[n++] = kTab;
    for (size_t i = 0; i + 1 < m_numberLen; ++i) line[n++] = static_cast<uint8_t>(m_number[i]);
    line[n++] = kLf;
    const int r = WriteLine(line, n, target);
    ClearEntry();
    return r;
}

int t_utf16TextWriter::WriteCommentTo(const uint16_t* text, int target) {
    if (m_target != target) return kErrNotOpen;
    if (!text) return kErrNoText;
    const size_t n = Utf16Len(text);
    if (n > kWordListMaxComment) return kErrNoText;
    uint16_t line[kWordListMaxComment + 2];
    line[0] = kHash;
    for (size_t i = 0; i < n; ++i) {
        if (BreaksLine(text[i])) return kErrNoText;
        line[i + 1] = text[i];
    }
    line[n + 1] = kLf;
    return WriteLine(line, n + 2, target);
}

int t_utf16TextWriter::WriteEntry() {
    return WriteEntryTo(kTargetFile);
}

int t_utf16TextWriter::WriteEntryToBuffer() {
    return WriteEntryTo(kTargetBuffer);
}

int t_utf16TextWriter::WriteComment(const uint16_t* text) {
    return WriteCommentTo(text, kTargetFile);
}

int t_utf16TextWriter::WriteCommentToBuffer(const uint16_t* text) {
    return WriteCommentTo(text, kTargetBuffer);
}
