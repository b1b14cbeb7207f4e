// Decoding text files by their byte-order mark, reading them line by line,
// and writing UTF-16LE text files.
#include "porting3/text_file16.h"

#include <locale.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "kernel/runtime/codepage.h"
#include "porting3/file_stream.h"
#include "porting3/format16.h"
#include "porting3/str16.h"

namespace n_porting {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void PutCodePoint(std::vector<char16_t>& out, char32_t c) {
    if (c > 0xFFFF && c <= 0x10FFFF) {
        c -= 0x10000;
        out.push_back(char16_t(0xD800 + (c >> 10)));
        out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(c > 0x10FFFF ? char16_t(kReplacement) : char16_t(c));
    }
}

// Bytes in a charset to 16-bit units; a byte that does not decode gives
// U+FFFD and decoding resumes at the next byte.
void DecodeBytes(const uint8_t* bytes, size_t n, int charset, std::vector<char16_t>& out) {
    std::vector<char32_t> wide(n + 1);
    const char* in = reinterpret_cast<const char*>(bytes);
    size_t inLeft = n;
    while (inLeft > 0) {
        char* o = reinterpret_cast<char*>(wide.data());
        size_t outLeft = wide.size() * sizeof(char32_t);
        const bool ok = IconvConvert(kCharsetUcs4, charset, &in, &inLeft, &o, &outLeft, true);
        const size_t got = (wide.size() * sizeof(char32_t) - outLeft) / sizeof(char32_t);
        for (size_t i = 0; i < got; ++i) PutCodePoint(out, wide[i]);
        if (ok) break;
        out.push_back(char16_t(kReplacement));
        ++in;
        --inLeft;
    }
}

bool IsBlank(char16_t c) {
    return c >= 1 && c <= 32 && c != u'\n' && c != u'\r';
}

}  // namespace

// ---- reading ----

bool t_fileTextRead::LoadFile(t_errorContext& ctx, const t_path& path, int codePage) {
    m_text.clear();
    m_loaded = false;
    t_fileRead file;
    t_errorContext inner;
    if (!file.Open(inner, path)) {
        t_str text(u"打开文件失败：");
        text.Append(path.GetStr());
        ctx.SetError(text.GetStr());
        return false;
    }
    const size_t size = size_t(file.GetFileSize());
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size + 4]);
    if (!bytes) {
        ctx.SetError(u"打开文件失败：内存不足或者文件大小错误\n");
        return false;
    }
    if (!file.Read(inner, bytes.get(), size) || !Decode(inner, bytes.get(), size, codePage)) {
        t_str text(u"打开文件失败：");
        text.Append(path.GetStr());
        ctx.SetError(text.GetStr());
        return false;
    }
    return true;
}

bool t_fileTextRead::LoadMemory(t_errorContext& ctx, const void* data, size_t length,
                                int codePage) {
    m_text.clear();
    m_loaded = false;
    if (!data && length) {
        ctx.SetError(u"加载内存文件失败：内存不足或者原始内存块大小错误");
        return false;
    }
    if (!Decode(ctx, static_cast<const uint8_t*>(data), length, codePage)) {
        ctx.SetError(u"加载内存文件失败");
        return false;
    }
    return true;
}

bool t_fileTextRead::Decode(t_errorContext& ctx, const uint8_t* bytes, size_t length,
                            int codePage) {
    std::vector<char16_t> text;
    if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        // A trailing odd byte is taken with a zero high byte.
        for (size_t i = 2; i < length; i += 2)
            text.push_back(char16_t(bytes[i] | (i + 1 < length ? bytes[i + 1] << 8 : 0)));
    } else if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        if (length % 2) {
            t_str message;
            message.Format(u"BigEndianUnicode解码错误：数据长度为奇数（len = %d）", int(length));
            ctx.SetError(message.GetStr());
            return false;
        }
        for (size_t i = 2; i < length; i += 2)
            text.push_back(char16_t(bytes[i] << 8 | bytes[i + 1]));
    } else if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        DecodeBytes(bytes + 3, length - 3, kCharsetUtf8, text);
    } else {
        const int charset = CodePageCharset(codePage);
        if (charset == kNoCharset || charset == kCharsetUcs2 || charset == kCharsetUcs4) {
            // Only byte code pages decode text files.
            t_str message;
            message.Format(u"编码不识别[%02x%02x-%02x%02x]", length > 0 ? bytes[0] : 0,
                           length > 1 ? bytes[1] : 0, length > 2 ? bytes[2] : 0,
                           length > 3 ? bytes[3] : 0);
            ctx.SetError(message.GetStr());
            return false;
        }
        DecodeBytes(bytes, length, charset, text);
    }
    // The text ends at its first zero unit.
    size_t n = 0;
    while (n < text.size() && text[n]) ++n;
    text.resize(n);
    text.push_back(0);
    m_text.swap(text);
    m_length = n;
    m_cursor = 0;
    m_loaded = true;
    return true;
}

char16_t* t_fileTextRead::ReadLine(bool trim) {
    if (!m_loaded || m_cursor >= m_length) {
        m_loaded = false;  // the text is exhausted
        return nullptr;
    }
    char16_t* text = m_text.data();
    size_t start = m_cursor;
    size_t end = start;
    while (end < m_length && text[end] != u'\n' && text[end] != u'\r' && text[end] != 0) ++end;
    size_t next = end;
    if (end < m_length)
        next += text[end] == u'\r' && end + 1 < m_length && text[end + 1] == u'\n' ? 2 : 1;
    m_cursor = next;
    if (trim) {
        while (start < end && IsBlank(text[start])) ++start;
        while (end > start && IsBlank(text[end - 1])) --end;
    }
    text[end] = 0;
    return text + start;
}

size_t t_fileTextRead::CountLines() const {
    size_t count = 0;
    bool content = false;
    for (size_t i = 0; i <= m_length && i < m_text.size(); ++i) {
        const char16_t c = i < m_length ? m_text[i] : 0;
        if (c == 0 || c == u'\n' || c == u'\r') {
            count += content;
            content = false;
        } else if (c > 32) {
            content = true;
        }
    }
    return count;
}

// ---- writing ----

t_fileTextWrite::t_fileTextWrite() {
    m_units.reserve(65536 / 2);
}

bool t_fileTextWrite::WriteText(const char16_t* text) {
    if (!text) return false;
    for (const char16_t* p = text; *p; ++p) {
        if (*p != u'\n' && *p != u'\r') {
            m_units.push_back(*p);
            continue;
        }
        // A CR LF or LF CR pair counts as one line end.
        if ((p[1] == u'\n' || p[1] == u'\r') && p[1] != *p) ++p;
        m_units.push_back(u'\r');
        m_units.push_back(u'\n');
    }
    return true;
}

bool t_fileTextWrite::WriteU32(uint32_t v) {
    return Printf(u"%u", v) > 0;
}

bool t_fileTextWrite::WriteI32(int32_t v) {
    return Printf(u"%d", v) > 0;
}

bool t_fileTextWrite::WriteDouble(double v) {
    char text[400];
    const locale_t old = uselocale(CNumericLocale());
    const int n = std::snprintf(text, sizeof text, "%.10g", v);
    uselocale(old);
    if (n < 0 || n > 348) return false;
    for (int i = 0; i < n; ++i) m_units.push_back(char16_t(uint8_t(text[i])));
    return true;
}

int t_fileTextWrite::Printf(const char16_t* format, ...) {
    char16_t buf[kPrintfUnits];
    va_list args;
    va_start(args, format);
    const int n = VswPrintf16(buf, kPrintfUnits, format, args);
    va_end(args);
    if (n <= 0) return n;
    m_units.insert(m_units.end(), buf, buf + n);
    return n;
}

std::vector<uint8_t> t_fileTextWrite::Bytes() const {
    std::vector<uint8_t> out;
    out.reserve(GetSaveSize());
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (char16_t u : m_units) {
        out.push_back(uint8_t(u & 0xFF));
        out.push_back(uint8_t(u >> 8));
    }
    return out;
}

bool t_fileTextWrite::SaveToMemory(void* dst, size_t* size) {
    if (!size) return false;
    const size_t needed = GetSaveSize();
    if (!dst || *size < needed) {
        *size = needed;
        return false;
    }
    const std::vector<uint8_t> bytes = Bytes();
    std::memcpy(dst, bytes.data(), bytes.size());
    *size = needed;
    Discard();
    return true;
}

bool t_fileTextWrite::SaveToFile(t_errorContext& ctx, const t_path& path) {
    const std::vector<uint8_t> bytes = Bytes();
    if (!SaveFileSafely(ctx, path, bytes.data(), bytes.size(), nullptr, 0)) return false;
    Discard();
    return true;
}

void t_fileTextWrite::Discard() {
    std::vector<char16_t>().swap(m_units);
}

}  // namespace n_porting
