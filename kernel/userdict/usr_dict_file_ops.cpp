// Import, restore and conversion of user dictionary files, and the smaller
// file operations. Every file is untrusted: each offset, length and count is
// checked against its size (64-bit arithmetic) before use.
#include "kernel/userdict/usr_dict_file_ops.h"

#include <cstring>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/usr_dict_internal.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_scramble.h"
#include "kernel/userdict/usr_validators.h"

using namespace n_tableFormat;
using namespace n_usrDict;

namespace {

constexpr int32_t kV1MaxWordsPerGroup = 999999;

// A bounded reader over a file image.
class t_cursor {
public:
    t_cursor(const uint8_t* data, uint64_t size, uint64_t pos = 0) : m_data(data), m_size(size), m_pos(pos) {}
    bool Has(uint64_t n) const { return m_pos <= m_size && n <= m_size - m_pos; }
    bool U16(uint16_t* v) {
        if (!Has(2)) return false;
        *v = Rd16(m_data + m_pos);
        m_pos += 2;
        return true;
    }
    bool I32(int32_t* v) {
        if (!Has(4)) return false;
        *v = RdI32(m_data + m_pos);
        m_pos += 4;
        return true;
    }
    bool Skip(uint64_t n) {
        if (!Has(n)) return false;
        m_pos += n;
        return true;
    }
    // A length-prefixed string of at most maxBytes bytes, copied with its count.
    bool Lstr(std::vector<uint8_t>& out, uint32_t maxBytes) {
        uint16_t n;
        if (!U16(&n) || n > maxBytes || !Has(n)) return false;
        out.assign(m_data + m_pos - 2, m_data + m_pos + n);
        m_pos += n;
        return true;
    }

private:
    const uint8_t* m_data;
    uint64_t m_size;
    uint64_t m_pos;
};

const t_lstr* AsLstr(const std::vector<uint8_t>& v) { return reinterpret_cast<const t_lstr*>(v.data()); }

// The word check of format-1 files: an even count of 2 to 129 bytes.
bool IsValidV1Word(const std::vector<uint8_t>& w) { return w.size() >= 2 && IsValidWordString(AsLstr(w), false); }

bool ParseV1(const uint8_t* data, uint64_t size, std::vector<t_importedWord>& out) {
    if (!IsValidOldUsrDictHeader(data, size)) return false;
    const int32_t groups = RdI32(data + 20);
    const int32_t recordSize = RdI32(data + 40);
    if (recordSize < 2) return false;  // the frequency is the record's first u16
    t_cursor c(data, size, 44);
    int32_t names;
    if (!c.I32(&names) || names < 0) return false;
    for (int32_t i = 0; i < names; ++i) {
        uint16_t tag;
        if (!c.U16(&tag)) return false;
        if (int32_t(int16_t(tag)) == i) {
            uint16_t n;
            if (!c.U16(&n) || !c.Skip(n)) return false;
        }
    }
    std::vector<uint8_t> reading;
    for (int32_t g = 0; g < groups; ++g) {
        int32_t words;
        if (!c.I32(&words) || words < 0 || words > kV1MaxWordsPerGroup) return false;
        if (!c.Lstr(reading, kUsrMaxTextBytes) || !IsValidPyIdString(AsLstr(reading))) return false;
        for (int32_t w = 0; w < words; ++w) {
            t_importedWord iw;
            if (!c.Lstr(iw.word, kUsrMaxTextBytes) || !IsValidV1Word(iw.word)) return false;
            if (!c.U16(&iw.freq) || !c.Skip(uint64_t(recordSize) - 2)) return false;
            iw.reading = reading;
            out.push_back(std::move(iw));
        }
    }
    return true;
}

bool ParseV2(const uint8_t* data, uint64_t size, std::vector<t_importedWord>& out) {
    constexpr uint64_t kHeaderAt = 32, kHeaderEnd = 32 + 92;
    if (!data || size < kHeaderEnd) return false;
    const uint8_t* h = data + kHeaderAt;
    const int32_t readings = RdI32(data + 48), words = RdI32(data + 52);
    const uint64_t readingOff = Rd32(data + 92), wordOff = Rd32(data + 96);
    const uint32_t bound = Rd32(data + 108);
    const int32_t q = RdI32(data + 116), o = RdI32(data + 120);
    if (readings < 0 || words < 0) return false;
    if (bound > size) return false;  // the texts end past the file: it was cut
    if (readingOff > size || uint64_t(readings) * 12 > size - readingOff) return false;
    if (wordOff > size || uint64_t(words) * 24 > size - wordOff) return false;
    int32_t count = 0;
    uint8_t buf[kUsrTextBufBytes];
    auto* text = reinterpret_cast<t_lstr*>(buf);
    for (int32_t r = 0; r < readings && count < words; ++r) {
        const uint8_t* e = data + readingOff + uint64_t(r) * 12;
        const int32_t entry[3] = {RdI32(e), RdI32(e + 4), RdI32(e + 8)};
        if (!IsValidOldIndexEntry(entry) || !IsValidOldWordEntry(entry, h)) continue;
        t_cursor rc(data, bound < size ? bound : size, uint64_t(entry[0]));
        std::vector<uint8_t> reading;
        if (!rc.Lstr(reading, kUsrMaxTextBytes) || reading.size() < 3 || !IsValidPyIdString(AsLstr(reading)))
            continue;
        int32_t index = entry[2];
        for (int32_t step = 0; step < entry[1] && index != -1 && count < words; ++step) {
            if (index < 0 || index >= words) break;
            const uint8_t* we = data + wordOff + uint64_t(index) * 24;
            const int32_t next = RdI32(we + 4);
            const int16_t flag = RdI16(we + 16);
            if (!IsValidOldAttrEntry(next, flag, h)) break;
            t_oldWordRef ref;
            ref.storedOffset = Rd32(we);
            ref.index = index;
            ref.a = Rd32(we + 8);
            ref.b = Rd32(we + 12);
            ref.flag = flag;
            if (!ReadOldImageWord(data, size, bound, ref, text, q, o)) break;
            t_importedWord iw;
            iw.reading = reading;
            iw.word.assign(buf, buf + LstrGetTotalBytes(text));
            iw.freq = Rd16(we + 8);
            iw.flags = Rd16(we + 10);
            iw.stamp = Rd32(we + 12);
            iw.extra = Rd16(we + 18);
            ++count;
            if (IsValidWordString(text, true)) out.push_back(std::move(iw));
            index = next;
        }
    }
    return true;
}

bool ParseV3(const uint8_t* data, uint64_t size, std::vector<t_importedWord>& out) {
    t_usrDictV3Core local;
    if (!local.AttachCopy(data, size)) return false;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!local.CollectItems(pairs)) return false;
    uint8_t buf[kUsrTextBufBytes];
    auto* text = reinterpret_cast<t_lstr*>(buf);
    for (const auto& pr : pairs) {
        const t_lstr* reading = nullptr;
        t_usrWordAttr a;
        if (!local.ReadPair(pr, &reading, &a) || a.freq == 0) continue;  // deleted words stay deleted
        if (!local.GetWordText(a.textId, a.checksum, text) || !IsValidWordString(text, true)) continue;
        t_importedWord iw;
        const uint8_t* rb = reinterpret_cast<const uint8_t*>(reading);
        iw.reading.assign(rb, rb + LstrGetTotalBytes(reading));
        iw.word.assign(buf, buf + LstrGetTotalBytes(text));
        iw.freq = a.freq;
        iw.flags = a.flags;
        iw.stamp = a.stamp;
        iw.extra = a.extra;
        out.push_back(std::move(iw));
    }
    return true;
}

// The live dictionary picks up the new file: through the manager when it is
// registered, else by attaching the file itself.
void ReattachLive(const std::wstring& target) {
    t_usrDictV3Core& live = GetUsrDictInstance();
    if (live.GetEntry()) {
        live.IncreaseVersion();
        t_versionManager& vm = t_singleton<t_versionManager>::Get();
        if (vm.IsReady()) vm.CheckUpdate2();
    } else {
        live.AttachFile(target.c_str());
    }
}

int ConvertFile(const wchar_t* path, int* count, int mode, int expectedFormat) {
    if (count) *count = 0;
    if (!path || (mode != 0 && mode != 1)) return 0;
    std::wstring target;
    if (!GetUsrDictFilePath(target)) return 0;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) return 0;
    int format = 0;
    if (!DetectUsrDictFormatBytes(bytes.data(), bytes.size(), &format)) return 0;
    if (expectedFormat && format != expectedFormat) return 0;
    std::vector<t_importedWord> words;
    if (!ParseUsrDictImage(bytes.data(), bytes.size(), format, words)) return 0;

    // The new dictionary is built apart from the live one.
    t_usrDictV3Core work;
    t_usrDictV3Core& live = GetUsrDictInstance();
    const uint8_t* liveImage = nullptr;
    uint64_t liveSize = 0;
    bool ready = false;
    if (mode == 0) {
        if (live.GetImageBytes(&liveImage, &liveSize))
            ready = work.AttachCopy(liveImage, liveSize);
        else if (PathIsFile(t_pathName(target.c_str())))
            ready = work.AttachFile(target.c_str());
        if (!ready && PathIsFile(t_pathName(target.c_str()))) return 0;  // never replace words we cannot read
    }
    if (!ready && !work.CreateEmpty(ComputeCapacity(uint32_t(words.size()), kUsrMaxCapacity))) return 0;

    int taken = 0;
    for (const t_importedWord& w : words) {
        const t_lstr* r = AsLstr(w.reading);
        const t_lstr* t = AsLstr(w.word);
        const int res = format == kUsrFormatV2 ? work.RestoreWord(r, t, w.freq, w.flags, w.stamp, w.extra)
                                               : work.MergeWord(r, t, w.freq, w.flags, w.stamp);
        if (res == 0) return 0;
        ++taken;
    }
    // Only an image that attaches and validates replaces the file.
    std::vector<uint8_t> image;
    if (!work.Validate() || !work.RebuildImage(image)) return 0;
    t_usrDictV3Core check;
    if (!check.AttachCopy(image.data(), image.size())) return 0;
    if (!DictWriteFileSafely(t_pathName(target.c_str()), image.data(), image.size())) return 0;
    ReattachLive(target);
    if (count) *count = taken;
    return 1;
}

}  // namespace

bool GetUsrDictFilePath(std::wstring& out) {
    const wchar_t* dir = GetConfiguredUserDir();
    if (!dir || !dir[0]) return false;
    t_pathName p;
    if (!p.InitJoin(dir, kUsrDictFileName)) return false;
    out = p.Str();
    return true;
}

t_usrDictV3Core& GetUsrDictInstance() { return t_singleton<t_usrDictV3Core>::Get(); }

bool DetectUsrDictFormatBytes(const uint8_t* data, uint64_t size, int* format) {
    if (!data || !format || size < 4) return false;
    const uint32_t magic = Rd32(data);
    if (magic == kV1MagicA || magic == kV1MagicB)
        *format = kUsrFormatV1;
    else if (size >= 36 && Rd32(data + 32) == kV2Magic)
        *format = kUsrFormatV2;
    else
        *format = kUsrFormatV3;
    return true;
}

bool DetectUsrDictFormat(const wchar_t* path, int* format) {
    t_fdFile f;
    if (!path || !format || !f.Open(path, kOpenRead)) return false;
    uint8_t head[36];
    size_t got = 0;
    while (got < sizeof head) {
        size_t n = 0;
        if (!f.Read(head + got, sizeof head - got, &n) || n == 0) break;
        got += n;
    }
    return DetectUsrDictFormatBytes(head, got, format);
}

bool ParseUsrDictImage(const uint8_t* data, uint64_t size, int format, std::vector<t_importedWord>& out) {
    out.clear();
    if (!data || size == 0) return false;
    bool ok = false;
    switch (format) {
    case kUsrFormatV1: ok = ParseV1(data, size, out); break;
    case kUsrFormatV2: ok = ParseV2(data, size, out); break;
    case kUsrFormatV3: ok = ParseV3(data, size, out); break;
    default: break;
    }
    if (!ok) out.clear();
    return ok;
}

int LoadOrConvertUsrDict(const wchar_t* path, int* count, int mode) {
    if (count) *count = 0;
    t_versionManager& vm = t_singleton<t_versionManager>::Get();
    if (vm.IsReady()) vm.CheckUpdate2();  // every dictionary current first
    int format = 0;
    if (!DetectUsrDictFormat(path, &format)) return 0;
    switch (format) {
    case kUsrFormatV1: return ConvertV1UsrDict(path, count, mode);
    case kUsrFormatV2: return ConvertV2UsrDict(path, count, mode);
    default: return ImportV3UsrDict(path, count, mode);
    }
}

int ConvertV1UsrDict(const wchar_t* path, int* count, int mode) { return ConvertFile(path, count, mode, kUsrFormatV1); }
int ConvertV2UsrDict(const wchar_t* path, int* count, int mode) { return ConvertFile(path, count, mode, kUsrFormatV2); }
int ImportV3UsrDict(const wchar_t* path, int* count, int mode) { return ConvertFile(path, count, mode, kUsrFormatV3); }

void DeleteUsrDictFile() {
    std::wstring target;
    if (!GetUsrDictFilePath(target)) return;
    const t_pathName p(target.c_str());
    if (!PathIsFile(p)) {
        GetUsrDictInstance().IncreaseVersion();
        return;
    }
    // An empty dictionary takes the file's place. A missing file would be
    // refilled from the newest backup when the dictionary attaches again,
    // bringing the removed words back.
    if (!t_usrDictV3Core::CreateEmptyFile(target.c_str(), kUsrDefaultCapacity)) PathRemoveFile(p);
    ReattachLive(target);
}

bool ValidateUsrDict(int) { return GetUsrDictInstance().Validate(); }

int GetUsrDictWordCount(const wchar_t* path, int check) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) return 0;
    t_usrDictV3Core local;
    if (!local.AttachCopy(bytes.data(), bytes.size())) return check ? -1 : 0;
    return local.GetWordCount();
}

bool ReconvertWithLimit(const wchar_t* path, int32_t limit) {
    t_usrDictV3Core local;
    return local.AttachFile(path) && local.TrimToLimit(limit) && local.SaveToFile(path, 0);
}

bool SaveUsrDictCopy(const wchar_t* path, const wchar_t* copyPath) {
    if (!path || !copyPath) return false;
    return GetUsrDictInstance().SaveToFile(path, 1) && PathCopyFile(t_pathName(path), t_pathName(copyPath));
}
