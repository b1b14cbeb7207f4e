// t_textFile: line-oriented text files in one of six encodings told apart by
// their byte-order mark. Reading hands out one line at a time as wchar_t text;
// writing queues whole lines and writes them at Close into a temporary file
// that then replaces the target, so a failed run never leaves half a file.
// One thread at a time per object (the queue has its own lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/runtime/fd_file.h"

// Encoding codes and the byte-order marks that select them on reading.
enum : int {
    kTextGbk = 0,      // no mark
    kTextUtf8 = 1,     // EF BB BF
    kTextUtf16Le = 2,  // FF FE
    kTextUtf16Be = 3,  // FE FF
    kTextUtf32Le = 4,  // FF FE 00 00
    kTextUtf32Be = 5,  // 00 00 FE FF
};

class t_textFile : public t_fdFile {
public:
    // Characters WriteFormat keeps of one formatted text.
    static constexpr size_t kFormatChars = 2048;
    // Larger files are refused on reading: the whole text is held in memory.
    static constexpr int64_t kMaxReadBytes = int64_t(256) << 20;

    t_textFile() = default;
    t_textFile(const wchar_t* path, int mode, int encoding) { Open(path, mode, encoding); }
    t_textFile(const t_pathName& path, int mode, int encoding) { OpenPath(path, mode, encoding); }
    // Close, then the file part.
    ~t_textFile();
    t_textFile(const t_textFile&) = delete;
    t_textFile& operator=(const t_textFile&) = delete;

    // Opens the file; an open file is closed first (its queued lines written).
    //  - modes 1, 3, 4 read: `encoding` is ignored, the file's mark decides;
    //  - modes 2, 10 write a new file: a temporary beside the target receives
    //    the mark of `encoding` at once, and Close moves it over the target;
    //  - any other mode only opens the file (6, 7 and 11 can then write queued
    //    lines in `encoding`, without a mark).
    // False when the file cannot be opened, the encoding code is unknown (for a
    // writing mode), or a file to read exceeds kMaxReadBytes; last error set.
    bool Open(const wchar_t* path, int mode, int encoding);
    bool OpenStr(const std::wstring& path, int mode, int encoding) {
        return Open(path.c_str(), mode, encoding);
    }
    bool OpenPath(const t_pathName& path, int mode, int encoding);

    bool IsOpen() const { return t_fdFile::IsOpen() || m_writer; }

    // Next line up to its LF, decoded into buffer (capacity in characters,
    // terminator included); a CR before the LF stays in the line. Returns the
    // buffer, or null at the end, when nothing is open for reading, or for a
    // capacity below 1. A line longer than capacity - 1 characters is cut
    // there (last error "行过长"); the next call reads the following line.
    // Bytes that are not valid in the file's encoding become U+FFFD.
    wchar_t* ReadLine(wchar_t* buffer, int capacity);
    // The same, but a line also ends at CR LF or a lone CR.
    wchar_t* ReadLineAnyBreak(wchar_t* buffer, int capacity);
    // ReadLineAnyBreak for UTF-16 files only (null for any other encoding);
    // surrogate pairs become single characters, an empty line an empty text.
    wchar_t* ReadLineUtf16(wchar_t* buffer, int capacity);
    // Of the lines read so far, the bytes that were no text of the file's
    // encoding (each read as U+FFFD, with nothing printed) as a note for the
    // user, empty when every byte decoded: "N bytes are not GBK text, the
    // first on line L" (lines counted from 1), and for a file read as GBK
    // (no byte-order mark) that is UTF-8 text, that it needs the mark.
    // Before Close, which drops what was read.
    std::wstring UndecodableNote() const;

    // Queues a copy of text (no line end is added). False for null.
    bool WriteLine(const wchar_t* text);
    // Formats with vswprintf, keeps at most kFormatChars characters and queues
    // the result. A null format: last error "参数错误", false.
    bool WriteFormat(const wchar_t* format, ...);

    // Releases the read buffer, writes the queued lines and closes. For a new
    // file (modes 2, 10) the lines go into the temporary, which is synced and
    // renamed over the target only when every line was converted and written;
    // otherwise the target keeps its previous content. Returns false, with the
    // last error set, when the lines could not all be written or the file not
    // closed; true otherwise (also when nothing was open).
    bool Close();
    // The same as Close: every encoding writes characters above U+FFFF in its
    // own form (surrogate pairs in UTF-16).
    bool CloseUtf16() { return Close(); }
    // Drops the queued lines without writing them.
    void ClearLines();

    int GetEncoding() const { return m_encoding; }
    // The text callers report when opening fails.
    const wchar_t* GetErrorText() const { return L"no-error"; }

private:
    bool OpenForReading();
    bool OpenForWriting(int encoding);
    int DetectEncoding();
    void LoadChunk();
    bool EnsureLoaded(size_t bytes);
    uint32_t UnitAt(size_t offset) const;
    // Finds the next line: its bytes [start, start + length) and the offset of
    // the line after it. False at the end.
    bool NextLine(bool anyBreak, size_t* start, size_t* length);
    wchar_t* DecodeLine(size_t start, size_t length, wchar_t* buffer, int capacity);
    bool EncodeLine(const std::wstring& line, std::string* out) const;
    bool FlushLines();

    int m_encoding = kTextGbk;
    std::unique_ptr<uint8_t[]> m_readBuf;  // null when not reading
    size_t m_readPos = 0;                  // offset of the next line in m_readBuf
    size_t m_loaded = 0;                   // bytes of text loaded so far
    size_t m_textSize = 0;                 // file size less the mark
    bool m_end = false;                    // nothing more to load
    std::vector<wchar_t> m_decoded;        // scratch of the line being decoded
    size_t m_lineNumber = 0;               // lines handed out so far
    size_t m_undecodable = 0;              // bytes read as U+FFFD
    size_t m_undecodableLine = 0;          // the line of the first of them

    std::unique_ptr<t_safeFileWriter> m_writer;  // modes 2 and 10
    bool m_fdWritable = false;  // modes 6, 7, 11 write queued lines through the descriptor

    std::mutex m_queueLock;
    std::vector<std::wstring> m_queue;  // guarded by m_queueLock
};
