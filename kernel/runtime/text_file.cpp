// Text files in six encodings: reading line by line, writing queued lines.
#include "kernel/runtime/text_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>

#include "kernel/runtime/codepage.h"

namespace {

constexpr size_t kChunkBytes = 1024;  // the read buffer is filled this much at a time
constexpr wchar_t kReplacement = 0xFFFD;
constexpr uint32_t kLf = 0x0A;
constexpr uint32_t kCr = 0x0D;

constexpr wchar_t kErrBadArgument[] = L"参数错误";
constexpr wchar_t kErrLineTooLong[] = L"行过长";
constexpr wchar_t kErrTooLarge[] = L"文件过大";
constexpr wchar_t kErrNoMemory[] = L"内存不足";
constexpr wchar_t kErrUnencodable[] = L"文本无法转换为文件编码";
constexpr wchar_t kErrWrite[] = L"写入文件失败";
constexpr wchar_t kErrNotWritable[] = L"文件未以写入方式打开";

struct t_encodingInfo {
    uint8_t mark[4];
    size_t markLength;
    size_t unit;  // bytes per code unit
    bool bigEndian;
};

const t_encodingInfo kEncodings[] = {
    {{0, 0, 0, 0}, 0, 1, false},              // GBK
    {{0xEF, 0xBB, 0xBF, 0}, 3, 1, false},     // UTF-8
    {{0xFF, 0xFE, 0, 0}, 2, 2, false},        // UTF-16LE
    {{0xFE, 0xFF, 0, 0}, 2, 2, true},         // UTF-16BE
    {{0xFF, 0xFE, 0x00, 0x00}, 4, 4, false},  // UTF-32LE
    {{0x00, 0x00, 0xFE, 0xFF}, 4, 4, true},   // UTF-32BE
};

bool ValidEncoding(int e) {
    return e >= kTextGbk && e <= kTextUtf32Be;
}

bool IsReadMode(int mode) {
    return mode == 1 || mode == 3 || mode == 4;
}
bool IsNewFileMode(int mode) {
    return mode == kOpenWrite || mode == kOpenTruncate;
}
bool IsInPlaceWriteMode(int mode) {
    return mode == kOpenAppend || mode == kOpenReadAppend || mode == kOpenReadWriteTruncate;
}

void PutUnit(std::string* out, uint32_t v, size_t unit, bool bigEndian) {
    for (size_t i = 0; i < unit; ++i) {
        const size_t shift = 8 * (bigEndian ? unit - 1 - i : i);
        out->push_back(static_cast<char>((v >> shift) & 0xFF));
    }
}

// Decodes GBK or UTF-8 bytes into out (room for n characters: no byte yields
// more than one). An invalid or cut-off sequence gives U+FFFD and decoding
// resumes at the next byte, counted in *bad; the reader tells them, once per
// file, so the converter is kept quiet. Returns the characters produced.
size_t DecodeMultibyte(const uint8_t* bytes, size_t n, int charset, wchar_t* out, size_t* bad) {
    const char* in = reinterpret_cast<const char*>(bytes);
    size_t inLeft = n;
    char* o = reinterpret_cast<char*>(out);
    size_t outLeft = n * sizeof(wchar_t);
    while (inLeft > 0) {
        if (IconvConvert(kCharsetUcs4, charset, &in, &inLeft, &o, &outLeft, true)) break;
        if (outLeft < sizeof(wchar_t)) break;  // cannot happen: one byte, at most one character
        const wchar_t r = kReplacement;
        memcpy(o, &r, sizeof r);
        o += sizeof r;
        outLeft -= sizeof r;
        ++in;
        --inLeft;
        ++*bad;
    }
    return (n * sizeof(wchar_t) - outLeft) / sizeof(wchar_t);
}

// Whether the bytes are well-formed UTF-8 throughout: the reader's own
// decoder finds no byte to replace.
bool IsUtf8(const uint8_t* bytes, size_t n) {
    std::vector<wchar_t> out(n);
    size_t bad = 0;
    DecodeMultibyte(bytes, n, kCharsetUtf8, out.data(), &bad);
    return bad == 0;
}

const wchar_t* EncodingName(int encoding) {
    switch (encoding) {
        case kTextGbk:
            return L"GBK";
        case kTextUtf8:
            return L"UTF-8";
        case kTextUtf16Le:
        case kTextUtf16Be:
            return L"UTF-16";
        default:
            return L"UTF-32";
    }
}

}  // namespace

t_textFile::~t_textFile() {
    Close();
}

bool t_textFile::Open(const wchar_t* path, int mode, int encoding) {
    if (!path) {
        m_lastError = kErrBadArgument;
        return false;
    }
    t_pathName p(path);
    return OpenPath(p, mode, encoding);
}

bool t_textFile::OpenPath(const t_pathName& path, int mode, int encoding) {
    if (IsOpen()) Close();
    m_lastError = nullptr;
    if (IsNewFileMode(mode)) {
        if (!ValidEncoding(encoding)) {
            m_lastError = kErrBadArgument;
            return false;
        }
        m_path.AssignPath(path);
        m_mode = mode;
        return OpenForWriting(encoding);
    }
    if (!t_fdFile::OpenPath(path, mode)) return false;
    if (IsReadMode(mode)) return OpenForReading();
    if (IsInPlaceWriteMode(mode) && ValidEncoding(encoding)) {
        m_encoding = encoding;
        m_fdWritable = true;
    }
    return true;
}

bool t_textFile::OpenForWriting(int encoding) {
    auto writer = std::make_unique<t_safeFileWriter>();
    if (!writer->Begin(m_path)) {
        m_lastError = kErrWrite;
        return false;
    }
    const t_encodingInfo& e = kEncodings[encoding];
    if (e.markLength && !writer->Write(e.mark, e.markLength)) {
        m_lastError = kErrWrite;
        return false;  // the writer's destructor removes the temporary
    }
    m_encoding = encoding;
    m_writer = std::move(writer);
    return true;
}

int t_textFile::DetectEncoding() {
    uint8_t b[4] = {};
    size_t n = 0;
    while (n < sizeof b) {
        size_t got = 0;
        if (!Read(b + n, sizeof b - n, &got) || got == 0) break;
        n += got;
    }
    if (n == 4 && b[0] == 0x00 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF) return kTextUtf32Be;
    if (n == 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00) return kTextUtf32Le;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return kTextUtf8;
    if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) return kTextUtf16Be;
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) return kTextUtf16Le;
    return kTextGbk;
}

bool t_textFile::OpenForReading() {
    const int64_t size = GetSize();
    if (size < 0) {
        t_fdFile::Close();
        return false;
    }
    if (size > kMaxReadBytes) {
        m_lastError = kErrTooLarge;
        t_fdFile::Close();
        return false;
    }
    m_encoding = DetectEncoding();
    const size_t markLength = kEncodings[m_encoding].markLength;
    m_textSize =
        static_cast<size_t>(size) > markLength ? static_cast<size_t>(size) - markLength : 0;
    m_readBuf.reset(new (std::nothrow) uint8_t[m_textSize + 1]);
    if (!m_readBuf || !Seek(static_cast<uint32_t>(markLength), SEEK_SET)) {
        m_lastError = m_readBuf ? nullptr : kErrNoMemory;
        m_readBuf.reset();
        t_fdFile::Close();
        return false;
    }
    m_readPos = 0;
    m_loaded = 0;
    m_end = m_textSize == 0;
    m_lineNumber = m_undecodable = m_undecodableLine = 0;
    LoadChunk();
    return true;
}

void t_textFile::LoadChunk() {
    if (m_end) return;
    const size_t want = std::min(kChunkBytes, m_textSize - m_loaded);
    size_t got = 0;
    if (!Read(m_readBuf.get() + m_loaded, want, &got) || got == 0) {
        // A failed read, or a file that shrank since it was opened: what is
        // loaded is all there is.
        m_textSize = m_loaded;
        m_end = true;
        return;
    }
    m_loaded += got;
    if (m_loaded >= m_textSize) m_end = true;
}

bool t_textFile::EnsureLoaded(size_t bytes) {
    while (m_loaded < bytes && !m_end) LoadChunk();
    return m_loaded >= bytes;
}

uint32_t t_textFile::UnitAt(size_t offset) const {
    const t_encodingInfo& e = kEncodings[m_encoding];
    const uint8_t* p = m_readBuf.get() + offset;
    uint32_t v = 0;
    for (size_t i = 0; i < e.unit; ++i) {
        const size_t shift = 8 * (e.bigEndian ? e.unit - 1 - i : i);
        v |= uint32_t(p[i]) << shift;
    }
    return v;
}

bool t_textFile::NextLine(bool anyBreak, size_t* start, size_t* length) {
    if (!m_readBuf || m_mode == 2 || m_mode == 8) return false;
    const size_t unit = kEncodings[m_encoding].unit;
    // Trailing bytes shorter than one unit make no character.
    if (!EnsureLoaded(m_readPos + unit)) {
        m_readPos = m_loaded;
        return false;
    }
    // Scan whole units only: in UTF-16 and UTF-32 an LF byte can sit inside
    // another character.
    size_t off = m_readPos;
    size_t next;
    for (;;) {
        if (!EnsureLoaded(off + unit)) {
            next = m_loaded;
            break;
        }
        const uint32_t u = UnitAt(off);
        if (u == kLf) {
            next = off + unit;
            break;
        }
        if (anyBreak && u == kCr) {
            next = off + unit;
            if (EnsureLoaded(next + unit) && UnitAt(next) == kLf) next += unit;
            break;
        }
        off += unit;
    }
    *start = m_readPos;
    *length = std::min(off, m_loaded) - m_readPos;
    m_readPos = next;
    ++m_lineNumber;
    return true;
}

wchar_t* t_textFile::DecodeLine(size_t start, size_t length, wchar_t* buffer, int capacity) {
    const t_encodingInfo& e = kEncodings[m_encoding];
    const size_t units = length / e.unit;
    m_decoded.resize(units + 1);
    wchar_t* out = m_decoded.data();
    size_t n = 0, bad = 0;
    if (e.unit == 1) {
        n = DecodeMultibyte(m_readBuf.get() + start, units,
                            m_encoding == kTextUtf8 ? kCharsetUtf8 : kCharsetGbk, out, &bad);
    } else if (e.unit == 2) {
        // A high surrogate with a low one after it is one character; any other
        // unit, a lone surrogate too, stands for itself.
        for (size_t i = 0; i < units; ++i) {
            const uint32_t u = UnitAt(start + 2 * i);
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
                const uint32_t low = UnitAt(start + 2 * (i + 1));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    out[n++] =
                        static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                    ++i;
                    continue;
                }
            }
            out[n++] = static_cast<wchar_t>(u);
        }
    } else {
        for (size_t i = 0; i < units; ++i) {
            const uint32_t u = UnitAt(start + 4 * i);
            out[n++] = u > 0x10FFFF ? kReplacement : static_cast<wchar_t>(u);
            bad += u > 0x10FFFF ? 4 : 0;
        }
    }
    if (bad > 0 && m_undecodable == 0) m_undecodableLine = m_lineNumber;
    m_undecodable += bad;
    size_t keep = n;
    if (keep > size_t(capacity) - 1) {
        keep = size_t(capacity) - 1;
        m_lastError = kErrLineTooLong;
    }
    memcpy(buffer, out, keep * sizeof(wchar_t));
    buffer[keep] = 0;
    return buffer;
}

wchar_t* t_textFile::ReadLine(wchar_t* buffer, int capacity) {
    if (!buffer || capacity < 1) return nullptr;
    size_t start, length;
    if (!NextLine(false, &start, &length)) return nullptr;
    return DecodeLine(start, length, buffer, capacity);
}

wchar_t* t_textFile::ReadLineAnyBreak(wchar_t* buffer, int capacity) {
    if (!buffer || capacity < 1) return nullptr;
    size_t start, length;
    if (!NextLine(true, &start, &length)) return nullptr;
    return DecodeLine(start, length, buffer, capacity);
}

wchar_t* t_textFile::ReadLineUtf16(wchar_t* buffer, int capacity) {
    if (m_encoding != kTextUtf16Le && m_encoding != kTextUtf16Be) return nullptr;
    return ReadLineAnyBreak(buffer, capacity);
}

std::wstring t_textFile::UndecodableNote() const {
    if (m_undecodable == 0) return std::wstring();
    std::wstring note = std::to_wstring(m_undecodable) +
                        (m_undecodable == 1 ? L" byte is not " : L" bytes are not ") +
                        EncodingName(m_encoding) + L" text, the first on line " +
                        std::to_wstring(m_undecodableLine);
    // Without a byte-order mark a file is read as GBK: UTF-8 text needs one.
    if (m_encoding == kTextGbk && m_readBuf && IsUtf8(m_readBuf.get(), m_loaded))
        note += L" (the file is UTF-8 text: save it with a byte-order mark)";
    return note;
}

bool t_textFile::WriteLine(const wchar_t* text) {
    if (!text) return false;
    std::lock_guard<std::mutex> guard(m_queueLock);
    m_queue.emplace_back(text);
    return true;
}

bool t_textFile::WriteFormat(const wchar_t* format, ...) {
    if (!format) {
        m_lastError = kErrBadArgument;
        return false;
    }
    wchar_t buf[kFormatChars + 1] = {};
    va_list args;
    va_start(args, format);
    const int n = vswprintf(buf, kFormatChars + 1, format, args);
    va_end(args);
    // On overflow glibc fills the buffer but leaves its last element unset.
    buf[kFormatChars] = 0;
    if (n < 0 && wcslen(buf) < kFormatChars) {
        // Not an overflow but a failed conversion: keep nothing of it.
        buf[0] = 0;
    }
    std::lock_guard<std::mutex> guard(m_queueLock);
    m_queue.emplace_back(buf);
    return true;
}

void t_textFile::ClearLines() {
    std::lock_guard<std::mutex> guard(m_queueLock);
    m_queue.clear();
}

bool t_textFile::EncodeLine(const std::wstring& line, std::string* out) const {
    out->clear();
    const t_encodingInfo& e = kEncodings[m_encoding];
    if (e.unit == 1) {
        // UTF-8 needs up to 4 bytes per character (beyond U+FFFF), GBK up to 2.
        size_t capacity = 4 * line.size() + 4;
        out->resize(capacity);
        if (!WideToBytes(line.c_str(), out->data(), capacity,
                         m_encoding == kTextUtf8 ? kCharsetUtf8 : kCharsetGbk))
            return false;
        out->resize(capacity);
        return true;
    }
    out->reserve(line.size() * 4);
    for (const wchar_t wc : line) {
        const uint32_t c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF) return false;
        if (e.unit == 4) {
            PutUnit(out, c, 4, e.bigEndian);
        } else if (c >= 0x10000) {
            PutUnit(out, 0xD800 + ((c - 0x10000) >> 10), 2, e.bigEndian);
            PutUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), 2, e.bigEndian);
        } else {
            PutUnit(out, c, 2, e.bigEndian);
        }
    }
    return true;
}

bool t_textFile::FlushLines() {
    std::lock_guard<std::mutex> guard(m_queueLock);
    bool ok = true;
    if (!m_queue.empty() && !m_writer && !(m_fdWritable && t_fdFile::IsOpen())) {
        m_lastError = kErrNotWritable;
        ok = false;
    }
    std::string bytes;
    for (size_t i = 0; ok && i < m_queue.size(); ++i) {
        if (!EncodeLine(m_queue[i], &bytes)) {
            m_lastError = kErrUnencodable;
            ok = false;
        } else if (!bytes.empty()) {
            const bool written = m_writer ? m_writer->Write(bytes.data(), bytes.size())
                                          : WriteAll(bytes.data(), bytes.size());
            if (!written) {
                m_lastError = kErrWrite;
                ok = false;
            }
        }
    }
    m_queue.clear();
    return ok;
}

bool t_textFile::Close() {
    m_readBuf.reset();
    m_decoded = std::vector<wchar_t>();
    m_readPos = m_loaded = m_textSize = 0;
    m_end = false;
    bool ok = FlushLines();
    if (m_writer) {
        if (ok) {
            if (!m_writer->Commit()) {
                m_lastError = kErrWrite;
                ok = false;
            }
        } else {
            m_writer->Abort();
        }
        m_writer.reset();
    }
    m_fdWritable = false;
    if (!t_fdFile::Close()) ok = false;
    return ok;
}
