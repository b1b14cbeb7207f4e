// Text files of the platform layer: t_fileTextRead decodes a file or memory
// block of any byte-order-mark encoding or code page into 16-bit lines;
// t_fileTextWrite collects text with CR LF line ends and saves it as UTF-16LE
// with a mark. One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "porting3/path16.h"
#include "porting3/str_class.h"

namespace n_porting {

class t_fileTextRead {
public:
    virtual ~t_fileTextRead() = default;

    // FF FE: UTF-16LE; FE FF: UTF-16BE (odd length fails); EF BB BF: UTF-8;
    // otherwise the code page. A byte that does not decode becomes U+FFFD and
    // decoding goes on, so no later line is lost; characters beyond U+FFFF
    // become surrogate pairs. False (no text) when the file cannot be read or
    // the code page has no converter.
    bool LoadFile(t_errorContext& ctx, const t_path& path, int codePage);
    bool LoadMemory(t_errorContext& ctx, const void* data, size_t length, int codePage);
    // The next line, terminated in place; null at the end. A line ends at LF,
    // CR, CR LF or the end. With trim, units 1-32 (but CR, LF) are dropped at
    // both ends.
    char16_t* ReadLine(bool trim);
    // Lines holding a unit other than a blank, counted from the start.
    size_t CountLines() const;

private:
    bool Decode(t_errorContext& ctx, const uint8_t* bytes, size_t length, int codePage);

    std::vector<char16_t> m_text;  // the decoded text and a terminator
    size_t m_length = 0;           // units before the terminator
    size_t m_cursor = 0;
    bool m_loaded = false;
};

class t_fileTextWrite {
public:
    static constexpr size_t kPrintfUnits = 1024;

    t_fileTextWrite();
    virtual ~t_fileTextWrite() = default;

    // Appends the text; LF, CR, CR LF and LF CR each become one CR LF.
    bool WriteText(const char16_t* text);
    bool WriteU32(uint32_t v);
    bool WriteI32(int32_t v);
    // At most 10 significant digits ("%.10g"), with a decimal point whatever the locale.
    bool WriteDouble(double v);
    bool WriteNewLine() { return WriteText(u"\r\n"); }
    // Formats into 1024 units and appends them; returns their number.
    int Printf(const char16_t* format, ...);
    size_t GetSaveSize() const { return m_units.size() * 2 + 2; }
    // Too small a *size: stores the needed size, false. Else the mark and the
    // text, and the buffer is released.
    bool SaveToMemory(void* dst, size_t* size);
    // Through a synced temporary renamed over the target; on failure the
    // target is untouched and the text kept for another try.
    bool SaveToFile(t_errorContext& ctx, const t_path& path);
    void Discard();

private:
    std::vector<uint8_t> Bytes() const;

    std::vector<char16_t> m_units;
};

}  // namespace n_porting
