// Import, restore and conversion of user dictionary files, and the smaller
// file operations. Every file is untrusted: each offset, length and count is
// checked against its size (64-bit arithmetic) before use.
#include "kernel/userdict/usr_dict_file_ops.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "kernel/lexicon/hz_dict.h"
#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/scope_heap.h"
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
    t_cursor(const uint8_t* data, uint64_t size, uint64_t pos = 0)
        : m_data(data), m_size(size), m_pos(pos) {}
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

const t_lstr* AsLstr(const std::vector<uint8_t>& v) {
    return reinterpret_cast<const t_lstr*>(v.data());
}

// Places a word of a file in the arena; false when memory is short.
bool PushWord(t_scopeHeap& arena, t_usrWordRecords& out, const std::vector<uint8_t>& reading,
              const uint8_t* word, uint16_t freq, uint16_t flags, uint32_t stamp, uint16_t extra) {
    t_usrWordFields f;
    f.reading = AsLstr(reading);
    f.word = reinterpret_cast<const t_lstr*>(word);
    f.freq = freq;
    f.flags = flags;
    f.stamp = stamp;
    f.extra = extra;
    const UsrWordRecord* r = MakeUsrWordRecord(arena, f);
    if (!r) return false;
    out.push_back(r);
    return true;
}

// chars: the character dictionary every unit of a word must be in (or an
// ASCII letter); null for the count check alone.
bool ParseV1(const uint8_t* data, uint64_t size, const t_hzDict* chars, t_scopeHeap& arena,
             t_usrWordRecords& out) {
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
        std::vector<uint8_t> word;
        for (int32_t w = 0; w < words; ++w) {
            uint16_t freq = 0;
            if (!c.Lstr(word, kUsrMaxTextBytes) ||
                !IsValidWordStringStrict(AsLstr(word), chars != nullptr, chars))
                return false;
            if (!c.U16(&freq) || !c.Skip(uint64_t(recordSize) - 2)) return false;
            if (!PushWord(arena, out, reading, word.data(), freq, 0, kUsrNoAge, 0)) return false;
        }
    }
    return true;
}

bool ParseV2(const uint8_t* data, uint64_t size, t_scopeHeap& arena, t_usrWordRecords& out) {
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
        if (!rc.Lstr(reading, kUsrMaxTextBytes) || reading.size() < 3 ||
            !IsValidPyIdString(AsLstr(reading)))
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
            ++count;
            if (IsValidWordString(text, true) &&
                !PushWord(arena, out, reading, buf, Rd16(we + 8), Rd16(we + 10), Rd32(we + 12),
                          Rd16(we + 18)))
                return false;
            index = next;
        }
    }
    return true;
}

bool ParseV3(const uint8_t* data, uint64_t size, t_scopeHeap& arena, t_usrWordRecords& out) {
    t_usrDictV3Core local;
    if (!local.AttachCopy(data, size)) return false;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!local.CollectItems(pairs)) return false;
    uint8_t buf[kUsrTextBufBytes];
    auto* text = reinterpret_cast<t_lstr*>(buf);
    for (const auto& pr : pairs) {
        const t_lstr* reading = nullptr;
        t_usrWordAttr a;
        if (!local.ReadPair(pr, &reading, &a) || a.freq == 0)
            continue;  // deleted words stay deleted
        if (!local.GetWordText(a.textId, a.checksum, text) || !IsValidWordString(text, true))
            continue;
        const uint8_t* rb = reinterpret_cast<const uint8_t*>(reading);
        const std::vector<uint8_t> readingBytes(rb, rb + LstrGetTotalBytes(reading));
        if (!PushWord(arena, out, readingBytes, buf, a.freq, a.flags, a.stamp, a.extra))
            return false;
    }
    return true;
}

// The live dictionary picks up the new file: through the manager when it is
// registered, else by attaching the file itself.
void ReattachLive(const std::wstring& target) {
    t_usrDictV3Core& live = GetUsrDictInstance();
    // The new file holds the live changes (a merge started from the live
    // image) or deliberately replaces them: replaying them would count them
    // twice or bring removed words back.
    live.ForgetChanges();
    if (live.GetEntry()) {
        live.IncreaseVersion();
        t_versionManager& vm = t_singleton<t_versionManager>::Get();
        if (vm.IsReady()) vm.CheckUpdate2();
    } else {
        live.AttachFile(target.c_str());
    }
}

// The file of the manager entry dict is registered with; empty when none.
std::wstring LiveFilePath(const t_dictStorageBase& dict) {
    t_pathName path;
    const t_dictEntry* entry = dict.GetEntry();
    return entry && t_dictManager::BuildEntryPath(entry, path) ? path.Str() : std::wstring();
}

// The image of work, once it attaches and validates; *taken as BuildImage's.
bool BuildImageFrom(t_usrDictV3Core& work, const t_usrWordRecords& words, int mode,
                    std::vector<uint8_t>& image, int* taken) {
    if (!work.Validate() || !work.RebuildImage(image)) return false;
    t_usrDictV3Core check;
    if (!check.AttachCopy(image.data(), image.size())) return false;
    *taken = CountKeptUsrWords(check, words);
    return *taken > 0 || (mode == 1 && words.empty());
}

// Carries the file's words into work; *dropped receives those refused for
// want of room: an import (mode 0) takes new words while it keeps its margin
// below the trim point, a restore (mode 1) up to one word short of it. No
// word work holds is ever traded for one of the file.
bool TakeWords(t_usrDictV3Core& work, const t_usrWordRecords& words, int format, int mode,
               int* dropped) {
    *dropped = 0;
    const uint32_t margin = mode == 1 ? kUsrRestoreMargin : kUsrImportMargin;
    work.SetNoEviction(true);
    work.HoldTrims(true);
    for (const UsrWordRecord* rec : words) {
        t_usrWordFields w;
        if (!ReadUsrWordRecord(rec, &w)) return false;
        if (!work.HasImportRoom(w.reading, w.word, margin)) {
            ++*dropped;
            continue;
        }
        const int res = format == kUsrFormatV2
                            ? work.RestoreWord(w.reading, w.word, w.freq, w.flags, w.stamp, w.extra)
                            : work.MergeWord(w.reading, w.word, w.freq, w.flags, w.stamp);
        if (res == 0) return false;
    }
    return true;
}

// The records with the most used words first (then the most recent).
t_usrWordRecords MostUsedFirst(const t_usrWordRecords& words) {
    struct t_ranked {
        uint16_t freq;
        uint32_t stamp;
        const UsrWordRecord* rec;
    };
    std::vector<t_ranked> ranked;
    ranked.reserve(words.size());
    for (const UsrWordRecord* rec : words) {
        t_usrWordFields f;
        if (ReadUsrWordRecord(rec, &f)) ranked.push_back({f.freq, f.stamp, rec});
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const t_ranked& a, const t_ranked& b) {
        return a.freq != b.freq ? a.freq > b.freq : a.stamp > b.stamp;
    });
    t_usrWordRecords out;
    out.reserve(ranked.size());
    for (const t_ranked& r : ranked) out.push_back(r.rec);
    return out;
}

// Builds the new dictionary apart from the live one into image: mode 0
// starts from base (the live image; null: the file at target) and merges
// the file's words into it (TakeWords); mode 1 holds the file's words
// alone, the most used when the file holds more than fit. *taken receives
// the words of the file the new dictionary holds. False with nothing built,
// also when it holds none of them (a restore from a file without words
// empties the dictionary).
bool BuildImage(const uint8_t* base, uint64_t baseSize, const t_usrWordRecords& words, int format,
                int mode, const std::wstring& target, std::vector<uint8_t>& image, int* taken) {
    std::vector<uint8_t> compact;
    if (mode == 0) {
        t_usrDictV3Core held;
        bool have = false;
        if (base)
            have = held.AttachCopy(base, baseSize);
        else if (PathIsFile(t_pathName(target.c_str())))
            have = held.AttachFile(target.c_str());
        if (!have && PathIsFile(t_pathName(target.c_str())))
            return false;  // never replace words we cannot read
        // Compacted first, so that deleted rows take no room from the import.
        if (have && !held.RebuildImage(compact)) return false;
    }
    const auto build = [&](t_usrDictV3Core& work, const t_usrWordRecords& list, int* dropped) {
        if (!compact.empty()
                ? !work.AttachCopy(compact.data(), compact.size())
                : !work.CreateEmpty(ComputeCapacity(uint32_t(list.size()), kUsrMaxCapacity)))
            return false;
        return TakeWords(work, list, format, mode, dropped);
    };
    const auto finish = [&](t_usrDictV3Core& work, int dropped) {
        if (dropped > 0 && mode == 1)
            fprintf(stderr, "user dictionary restore: %d words of the file dropped, %d kept\n",
                    dropped, work.GetWordCount());
        return BuildImageFrom(work, words, mode, image, taken);
    };
    // A restore of more words than a dictionary keeps takes the most used:
    // ranked first when the file has more records than fit, and again when
    // their bytes turned out not to fit.
    const bool rankFirst = mode == 1 && words.size() >= kUsrTrimPoint;
    t_usrDictV3Core work;
    int dropped = 0;
    if (!build(work, rankFirst ? MostUsedFirst(words) : words, &dropped)) return false;
    if (mode != 1 || dropped == 0 || rankFirst) return finish(work, dropped);
    t_usrDictV3Core most;
    return build(most, MostUsedFirst(words), &dropped) && finish(most, dropped);
}

// Builds the new dictionary (mode 0 starting from the live image) and
// writes it as target. False with the file untouched.
bool BuildAndWrite(t_usrDictV3Core& live, const t_usrWordRecords& words, int format, int mode,
                   const std::wstring& target, int* taken) {
    const uint8_t* liveImage = nullptr;
    uint64_t liveSize = 0;
    if (mode != 0 || !live.GetImageBytes(&liveImage, &liveSize)) liveImage = nullptr;
    std::vector<uint8_t> image;
    return BuildImage(liveImage, liveSize, words, format, mode, target, image, taken) &&
           DictWriteFileSafely(t_pathName(target.c_str()), image.data(), image.size());
}

// The file read and parsed; false when nothing can be taken over.
bool ReadAndParse(const wchar_t* path, int expectedFormat, t_scopeHeap& arena,
                  t_usrWordRecords& words, int* format) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) return false;
    if (!DetectUsrDictFormatBytes(bytes.data(), bytes.size(), format)) return false;
    if (expectedFormat && *format != expectedFormat) return false;
    return ParseUsrDictImage(bytes.data(), bytes.size(), *format, arena, words);
}

int ConvertFile(const wchar_t* path, int* count, int mode, int expectedFormat) {
    if (count) *count = 0;
    if (!path || (mode != 0 && mode != 1)) return 0;
    std::wstring target;
    if (!GetUsrDictFilePath(target)) return 0;
    int format = 0;
    t_scopeHeap arena;
    t_usrWordRecords words;
    if (!ReadAndParse(path, expectedFormat, arena, words, &format)) return 0;

    t_usrDictV3Core& live = GetUsrDictInstance();
    int taken = 0;
    const auto build = [&] { return BuildAndWrite(live, words, format, mode, target, &taken); };
    t_dictEntry* entry = live.GetEntry();
    // A merge starts from the live image: a file another process saved
    // since is taken up first, or its words would be overwritten.
    if (entry && entry->manager && target == LiveFilePath(live)
            ? !entry->manager->SaveEntryWith(entry, build)
            : !build())
        return 0;
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

t_usrDictV3Core& GetUsrDictInstance() {
    return t_singleton<t_usrDictV3Core>::Get();
}

int CountKeptUsrWords(const t_usrDictV3Core& dict, const t_usrWordRecords& words) {
    struct t_key {
        std::string_view reading, word;
        const t_lstr *r, *w;
        bool operator<(const t_key& o) const {
            return reading != o.reading ? reading < o.reading : word < o.word;
        }
    };
    const auto bytes = [](const t_lstr* s) {
        return std::string_view(reinterpret_cast<const char*>(s), LstrGetTotalBytes(s));
    };
    std::vector<t_key> keys;
    keys.reserve(words.size());
    for (const UsrWordRecord* rec : words) {
        t_usrWordFields f;
        if (ReadUsrWordRecord(rec, &f))
            keys.push_back({bytes(f.reading), bytes(f.word), f.reading, f.word});
    }
    std::sort(keys.begin(), keys.end());
    int kept = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i > 0 && !(keys[i - 1] < keys[i])) continue;  // a repeat
        t_usrWordAttr a;
        if (dict.GetWordRecord(keys[i].r, keys[i].w, &a) && a.freq != 0) ++kept;
    }
    return kept;
}

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

bool ParseUsrDictImage(const uint8_t* data, uint64_t size, int format, t_scopeHeap& arena,
                       t_usrWordRecords& out) {
    out.clear();
    if (!data || size == 0) return false;
    bool ok = false;
    switch (format) {
        case kUsrFormatV1:
            ok = ParseV1(data, size, nullptr, arena, out);
            break;
        case kUsrFormatV2:
            ok = ParseV2(data, size, arena, out);
            break;
        case kUsrFormatV3:
            ok = ParseV3(data, size, arena, out);
            break;
        default:
            break;
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
        case kUsrFormatV1:
            return ConvertV1UsrDict(path, count, mode);
        case kUsrFormatV2:
            return ConvertV2UsrDict(path, count, mode);
        default:
            return ImportV3UsrDict(path, count, mode);
    }
}

bool t_usrDictReplace::Read(const wchar_t* path, int mode) {
    m_words.clear();
    m_mode = mode;
    return path && (mode == 0 || mode == 1) && GetUsrDictFilePath(m_target) &&
           ReadAndParse(path, 0, m_arena, m_words, &m_format);
}

bool t_usrDictReplace::Take() {
    t_versionManager& vm = t_singleton<t_versionManager>::Get();
    if (vm.IsReady()) vm.CheckUpdate2();  // every dictionary current first
    t_usrDictV3Core& live = GetUsrDictInstance();
    t_dictEntry* entry = live.GetEntry();
    if (!entry || !entry->manager || m_target != LiveFilePath(live) ||
        !entry->manager->MarkEntry(entry, m_mark))
        return false;
    m_live.clear();
    if (m_mode == 0) {
        // A merge starts from the live image, which the mark describes.
        const uint8_t* image = nullptr;
        uint64_t size = 0;
        if (!live.GetImageBytes(&image, &size)) return false;
        m_live.assign(image, image + size);
    }
    return true;
}

bool t_usrDictReplace::Build() {
    m_image.clear();
    m_taken = 0;
    return (m_mode != 0 || !m_live.empty()) &&
           BuildImage(m_live.data(), m_live.size(), m_words, m_format, m_mode, m_target, m_image,
                      &m_taken);
}

t_usrDictReplace::t_built t_usrDictReplace::Write() {
    t_dictEntry* entry = GetUsrDictInstance().GetEntry();
    if (!entry || !entry->manager || m_image.empty()) return t_built::kFailed;
    const int r = entry->manager->WriteMarkedEntry(entry, m_mark, m_image.data(), m_image.size());
    return r > 0 ? t_built::kWritten : r == 0 ? t_built::kReplaced : t_built::kFailed;
}

int t_usrDictReplace::Finish() {
    t_usrDictV3Core& live = GetUsrDictInstance();
    // The attach the raised version brings takes the file up: the changes
    // the build started from are in it, later ones are replayed onto it.
    live.IncreaseVersion();
    t_versionManager& vm = t_singleton<t_versionManager>::Get();
    if (vm.IsReady()) vm.CheckUpdate2();
    return m_taken;
}

int ConvertV1UsrDict(const wchar_t* path, int* count, int mode) {
    return ConvertFile(path, count, mode, kUsrFormatV1);
}
int ConvertV2UsrDict(const wchar_t* path, int* count, int mode) {
    return ConvertFile(path, count, mode, kUsrFormatV2);
}
int ImportV3UsrDict(const wchar_t* path, int* count, int mode) {
    return ConvertFile(path, count, mode, kUsrFormatV3);
}

void DeleteUsrDictFile() {
    std::wstring target;
    if (!GetUsrDictFilePath(target)) return;
    const t_pathName p(target.c_str());
    {
        t_entryFileLock lock(GetUsrDictInstance());
        if (lock.Refused()) return;
        if (!PathIsFile(p)) {
            GetUsrDictInstance().IncreaseVersion();
            return;
        }
        // An empty dictionary takes the file's place. A missing file would be
        // refilled from the newest backup when the dictionary attaches again,
        // bringing the removed words back.
        if (!t_usrDictV3Core::CreateEmptyFile(target.c_str(), kUsrDefaultCapacity))
            PathRemoveFile(p);
    }
    ReattachLive(target);
}

bool ValidateUsrDict(int) {
    return GetUsrDictInstance().Validate();
}

int GetUsrDictWordCount(const wchar_t* path, int check) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) return 0;
    t_usrDictV3Core local;
    if (!local.AttachCopy(bytes.data(), bytes.size())) return check ? -1 : 0;
    return local.GetWordCount();
}

bool ReconvertWithLimit(const wchar_t* path, int32_t limit) {
    // Read, trimmed and written back as one step against other writers.
    t_entryFileLock lock(GetUsrDictInstance());
    if (lock.Refused()) return false;
    t_usrDictV3Core local;
    return local.AttachFile(path) && local.TrimToLimit(limit) && local.SaveToFile(path, 0);
}

bool SaveLiveUsrDict(t_usrDictV3Core& dict, const wchar_t* path) {
    if (!path || !path[0]) return false;
    const auto write = [&] { return dict.SaveToFile(path, 1); };
    t_dictEntry* entry = dict.GetEntry();
    if (entry && entry->manager && LiveFilePath(dict) == path)
        return entry->manager->SaveEntryWith(entry, write);
    return write();
}

bool SaveUsrDictCopy(const wchar_t* path, const wchar_t* copyPath) {
    if (!path || !copyPath) return false;
    t_usrDictV3Core& live = GetUsrDictInstance();
    // The copy is taken under the same lock as the save, so it is the file
    // just written, not a later save of another process half-way.
    t_entryFileLock lock(live);
    return !lock.Refused() && SaveLiveUsrDict(live, path) &&
           PathCopyFile(t_pathName(path), t_pathName(copyPath));
}

namespace {

// The words of an older file as 276-byte records in the arena.
bool ReadOldRecords(t_scopeHeap& arena, const wchar_t* path, int format, t_oldUsrRecord** records,
                    int32_t* count) {
    if (records) *records = nullptr;
    if (count) *count = 0;
    if (!path || !records || !count) return false;
    std::vector<uint8_t> bytes;
    int found = 0;
    if (!ReadWholeFile(path, bytes) ||
        !DetectUsrDictFormatBytes(bytes.data(), bytes.size(), &found) || found != format)
        return false;
    t_usrWordRecords words;
    const bool ok = format == kUsrFormatV1 ? ParseV1(bytes.data(), bytes.size(),
                                                     &t_singleton<t_hzDict>::Get(), arena, words)
                                           : ParseV2(bytes.data(), bytes.size(), arena, words);
    if (!ok || words.size() > size_t(INT32_MAX) / sizeof(t_oldUsrRecord)) return false;
    auto* out = static_cast<t_oldUsrRecord*>(arena.Alloc(words.size() * sizeof(t_oldUsrRecord)));
    if (!out && !words.empty()) return false;
    int32_t n = 0;
    for (const UsrWordRecord* rec : words) {
        t_usrWordFields f;
        // Both texts passed their checks (even counts of at most 128 bytes), so they fit their
        // fields.
        if (!ReadUsrWordRecord(rec, &f) || LstrGetTotalBytes(f.reading) > sizeof out[n].reading ||
            LstrGetTotalBytes(f.word) > sizeof out[n].word)
            continue;
        t_oldUsrRecord& r = out[n++];
        std::memset(&r, 0, sizeof r);
        std::memcpy(r.reading, f.reading, LstrGetTotalBytes(f.reading));
        std::memcpy(r.word, f.word, LstrGetTotalBytes(f.word));
        r.freq = f.freq;
        r.flags = f.flags;
        r.stamp = f.stamp;
    }
    *records = out;
    *count = n;
    return true;
}

}  // namespace

bool ReadV1UsrDictRecords(t_scopeHeap& arena, const wchar_t* path, t_oldUsrRecord** records,
                          int32_t* count) {
    return ReadOldRecords(arena, path, kUsrFormatV1, records, count);
}

bool ReadV2UsrDictRecords(t_scopeHeap& arena, const wchar_t* path, t_oldUsrRecord** records,
                          int32_t* count) {
    return ReadOldRecords(arena, path, kUsrFormatV2, records, count);
}

int AppendMissingRecords(t_scopeHeap& arena, const t_oldUsrRecord* records, int32_t n,
                         t_usrWordRecords& out, uint16_t flags) {
    if (!records && n > 0) return 0;
    const t_usrDictV3Core& live = GetUsrDictInstance();
    for (int32_t i = 0; i < n; ++i) {
        const t_oldUsrRecord& r = records[i];
        const auto* reading = reinterpret_cast<const t_lstr*>(r.reading);
        const auto* word = reinterpret_cast<const t_lstr*>(r.word);
        // The counts come from the caller's records: each must lie inside its field.
        if (LstrGetTotalBytes(reading) > sizeof r.reading ||
            LstrGetTotalBytes(word) > sizeof r.word)
            continue;
        if (!IsValidPyIdString(reading) || !IsValidWordString(word, true)) continue;
        if (live.GetWordRecord(reading, word, nullptr)) continue;
        t_usrWordFields f;
        f.reading = reading;
        f.word = word;
        f.freq = r.freq;
        f.flags = flags;
        f.stamp = r.stamp;
        const UsrWordRecord* rec = MakeUsrWordRecord(arena, f);
        if (!rec) return 0;
        out.push_back(rec);
    }
    return 1;
}
