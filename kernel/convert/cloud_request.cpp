// The cloud trigger, the cloud request record and the typing speed. Engine
// thread only; the record is written into the caller's buffer.
#include "kernel/convert/cloud_request.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/freq_adjust.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/convert/py_lattice.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

constexpr int kMaxTexts = 5;
constexpr int kMaxUserRows = 64;
constexpr uint16_t kCommonSystemCost = 600;  // system words cheaper than this need no user entry

bool CoversAll(const t_candWord* w, int n) {
    return w && w->coveredLength >= uint32_t(n);
}

// Little-endian writer that never passes its end.
struct t_out {
    uint8_t* p;
    int at;
    int end;
    bool ok = true;
    void Byte(uint32_t v) {
        if (at + 1 > end)
            ok = false;
        else
            p[at++] = uint8_t(v);
    }
    void U16(uint32_t v) { Byte(v & 0xFF), Byte((v >> 8) & 0xFF); }
    void U32(uint32_t v) { U16(v & 0xFFFF), U16(v >> 16); }
    void Units(const t_lstr* s) {
        const uint32_t n = LstrGetLength(s);
        U16(n * 2);
        for (uint32_t i = 0; i < n; ++i) U16(LstrGetUnit(s, i));
    }
    void Str(const char* s, size_t n) {
        for (size_t i = 0; i < n; ++i) Byte(uint8_t(s[i]));
        Byte(0);
    }
};

}  // namespace

uint8_t CloudArcWeight(double p) {
    if (!(p > 0)) p = 0;  // NaN too
    if (p > 1) p = 1;
    const uint8_t w = uint8_t(int(p * 128.0) & 0xE0);
    return w ? w : 1;
}

int32_t CloudRequestDelay(uint32_t averageMs, int16_t factor, bool lacksPlainSyllable,
                          int32_t plainOffset, int32_t partialOffset) {
    const int64_t d =
        int64_t(averageMs) * factor / 256 + (lacksPlainSyllable ? partialOffset : plainOffset);
    return d < 0 ? 0 : int32_t(d > INT32_MAX ? INT32_MAX : d);
}

// ---------------------------------------------------------------- trigger

int t_cloudTrigger::ShouldRequest(t_scopeHeap* arena) {
    m_local = m_user = 0;
    if (!m_array) return 0;
    const t_candWord* top = m_array->GetTopWord();
    if (top && top->kind == kCandKindPinned && CoversAll(top, m_n)) {
        ++m_local;
        if (top->text && LstrGetLength(top->text) > 0) return 0;
    }
    t_candWord** ranked = nullptr;
    const int count = arena ? m_array->CopyRanked(arena, &ranked) : 0;
    for (int i = 0; i < count && CoversAll(ranked[i], m_n); ++i) {
        const t_candWord* w = ranked[i];
        const uint16_t source = uint16_t(w->sourceType & ~(kCandSourceFlag | kCandSourceMerged));
        if (source == kCandSourceSystem || source == kCandSourceComposed ||
            source == kCandSourceCloud)
            ++m_local;
        if (source == kCandSourceUser || source == kCandSourceFixedFirst ||
            source == kCandSourceExternalUser) {
            ++m_user;
            return 0;
        }
        const uint32_t chars = w->text ? LstrGetLength(w->text) : 0;
        if (chars == 1 || chars > 2) return 0;
    }
    if (m_local > 1) return 0;
    if (!top || !top->syllableIds || LstrGetLength(top->syllableIds) != 2) return 1;
    const uint16_t a = LstrGetUnit(top->syllableIds, 0), b = LstrGetUnit(top->syllableIds, 1);
    if (a >= kTrustedPairSide || b >= kTrustedPairSide || !m_trusted) return 1;
    return m_trusted[a * kTrustedPairSide + b] ? 0 : 1;
}

// ---------------------------------------------------------------- packer

t_latticePacker::t_latticePacker(const t_pyLattice* syllables, const t_inputLattice* words,
                                 const wchar_t* input, const t_arrayWord* array, t_scopeHeap* arena,
                                 const t_cloudSources& sources)
    : m_syllables(syllables),
      m_words(words),
      m_input(input),
      m_array(array),
      m_arena(arena),
      m_sources(sources) {}

bool t_latticePacker::KeptArc(uint16_t id, uint16_t flags) const {
    if (flags & kPyArcDead) return false;
    return m_sources.py ? m_sources.py->IsSyllableId(int16_t(id)) : id < kTrustedPairSide;
}

int t_latticePacker::CollectTexts() {
    m_textCount = 0;
    if (!m_array || !m_arena) return 0;
    const int n = m_syllables->GetLength();
    t_candWord** list = nullptr;
    const int pinned = m_array->CopyPinned(m_arena, &list);
    for (int i = 0; i < pinned && m_textCount < kMaxTexts; ++i)
        if (CoversAll(list[i], n) && list[i]->syllableIds && list[i]->text &&
            list[i]->wantedPlace <= 5)
            m_texts[m_textCount++] = list[i]->text;
    const int ranked = m_array->CopyRanked(m_arena, &list);
    for (int i = 0; i < ranked && m_textCount < kMaxTexts && CoversAll(list[i], n); ++i)
        if (list[i]->syllableIds && list[i]->text) m_texts[m_textCount++] = list[i]->text;
    return m_textCount;
}

int t_latticePacker::TextsSize(int size, int limit) {
    CollectTexts();
    int kept = 0;
    for (; kept < m_textCount; ++kept) {
        const int bytes = 2 + 2 * int(LstrGetLength(static_cast<const t_lstr*>(m_texts[kept])));
        if (size + bytes > limit) break;
        size += bytes;
    }
    m_textCount = kept;
    return size;
}

int t_latticePacker::UserWordEstimate() const {
    int64_t w = 4;
    t_usrDictV3Core* user = m_sources.user;
    if (!m_words || !user || !user->IsLoaded()) return 8;
    uint32_t textIds[kMaxUserRows];
    uint16_t checksums[kMaxUserRows];
    for (int e = 1; e <= m_words->GetLength(); ++e)
        for (const t_wordArcNode* node = m_words->NodesEndingAt(e); node; node = node->next)
            for (const t_wordArc* a = node->arcs; a; a = a->next) {
                if (a->source != kArcSourceUser || !a->ids || LstrGetLength(a->ids) < 2) continue;
                const int rows = user->GetWords(0, int32_t(a->value), textIds, nullptr, checksums,
                                                nullptr, nullptr, nullptr, nullptr, kMaxUserRows);
                uint8_t buf[2 + 2 * 130];
                for (int k = 0; k < rows; ++k) {
                    auto* text = reinterpret_cast<t_lstr*>(buf);
                    const int64_t bytes = user->GetWordText(textIds[k], checksums[k], text)
                                              ? 2 * LstrGetLength(text)
                                              : 0;
                    w += bytes + 2 * 2 * int64_t(LstrGetLength(a->ids)) + 18;
                }
            }
    w *= 2;
    return w > kCloudRecordLimit ? kCloudRecordLimit + 1 : int(w);
}

int t_latticePacker::ComputeSize(int limit) {
    if (!m_syllables) return 0;
    const int n = m_syllables->GetLength();
    if (n <= 0 || n > kMaxInputChars) return 0;
    int size = n + 7;
    bool any = false;
    for (int p = 0; p < n; ++p) {
        int kept = 0;
        for (const t_pyArcLink* l = m_syllables->Out(p); l; l = l->next)
            kept += KeptArc(l->arc->id, l->arc->flags);
        if (kept) size += 2 + 5 * kept, any = true;
    }
    if (!any) return 0;
    size += 1;
    if (size >= limit) return m_size = size;
    size = TextsSize(size, limit);
    const int w = UserWordEstimate();
    size += 1;
    m_size = size;
    // The user words go first when the record would not fit.
    m_userSize = size + w <= limit ? w : 4;
    return size + m_userSize;
}

int t_latticePacker::Write(uint8_t* out, const char* a, int32_t v, const char* b, int limit) {
    if (!out || limit < 16) return 0;
    const int size = ComputeSize(limit);
    if (size == 0 || size >= limit) return 0;
    const int n = m_syllables->GetLength();
    t_out o{out, 0, limit - 1};  // the last byte is kept for the check byte
    o.U16(0);
    o.Byte(kCloudRecordFormat);
    o.U16(0);
    o.Byte(uint32_t(n));
    for (int i = 0; i < n; ++i) o.Byte(uint32_t(m_input[i]) & 0xFF);
    const int groupsAt = o.at;
    o.Byte(0);
    int groups = 0;
    for (int p = 0; p < n; ++p) {
        int kept = 0;
        for (const t_pyArcLink* l = m_syllables->Out(p); l; l = l->next)
            kept += KeptArc(l->arc->id, l->arc->flags);
        if (!kept) continue;
        o.Byte(uint32_t(p));
        o.Byte(uint32_t(kept));
        for (const t_pyArcLink* l = m_syllables->Out(p); l; l = l->next) {
            const t_pyArc* arc = l->arc;
            if (!KeptArc(arc->id, arc->flags)) continue;
            o.U16(arc->id);
            o.Byte(uint32_t(arc->end));
            o.Byte((arc->flags & kPyArcPartialMask) ? 1 : 0);
            o.Byte(CloudArcWeight(arc->prob));
        }
        ++groups;
    }
    if (!o.ok || groups == 0 || groups > 255) return 0;
    out[groupsAt] = uint8_t(groups);
    const int latticeLength = o.at - 5;
    out[3] = uint8_t(latticeLength & 0xFF), out[4] = uint8_t(latticeLength >> 8);
    o.Byte(uint32_t(m_textCount));
    for (int i = 0; i < m_textCount; ++i) {
        const t_lstr* t = static_cast<const t_lstr*>(m_texts[i]);
        const uint32_t c = 2 * LstrGetLength(t);
        const uint16_t mask = uint16_t(((i + 1) * 256) | c);
        o.U16(c);
        for (uint32_t k = 0; k < c / 2; ++k) o.U16(uint16_t(LstrGetUnit(t, k) ^ mask));
    }
    // User words, each entry whole or not at all.
    const int uAt = o.at;
    o.U32(0);
    if (m_userSize != 4 && m_sources.user && m_words) {
        uint32_t textIds[kMaxUserRows], weights[kMaxUserRows];
        uint16_t checksums[kMaxUserRows];
        uint8_t buf[2 + 2 * 130];
        for (int e = 1; e <= m_words->GetLength(); ++e)
            for (const t_wordArcNode* node = m_words->NodesEndingAt(e); node; node = node->next)
                for (const t_wordArc* arc = node->arcs; arc; arc = arc->next) {
                    if (arc->source != kArcSourceUser || !arc->ids || LstrGetLength(arc->ids) < 2)
                        continue;
                    const uint32_t idBytes = 2 * LstrGetLength(arc->ids),
                                   typed = uint32_t(arc->end - arc->start);
                    if (idBytes > 128 || 2 * typed < 2 || 2 * typed > 128) continue;
                    const int rows = m_sources.user->GetWords(0, int32_t(arc->value), textIds,
                                                              nullptr, checksums, nullptr, nullptr,
                                                              weights, nullptr, kMaxUserRows);
                    for (int k = 0; k < rows; ++k) {
                        auto* text = reinterpret_cast<t_lstr*>(buf);
                        if (!m_sources.user->GetWordText(textIds[k], checksums[k], text)) continue;
                        const uint32_t bytes = 2 * LstrGetLength(text);
                        if (bytes < 3 || bytes > 128) continue;
                        if (!CheckWordPinyin(m_sources.py, m_sources.hz, arc->ids, text)) continue;
                        uint32_t index = 0, offset = 0, gram = 0;
                        uint16_t cost = 0;
                        if (m_sources.sys &&
                            m_sources.sys->FindWordEx(arc->ids, text, &index, &offset, &cost,
                                                      &gram) &&
                            cost < kCommonSystemCost)
                            continue;
                        const int entryAt = o.at;
                        o.U16(4), o.U16(uint32_t(arc->start)), o.U16(uint32_t(arc->end));
                        o.Units(arc->ids);
                        o.U16(2 * typed);
                        for (uint32_t i = 0; i < typed; ++i)
                            o.U16(uint32_t(m_input[arc->start + int(i)]) & 0xFFFF);
                        o.Units(text);
                        o.U16(4), o.U32(weights[k]);
                        // An entry that does not fit beside the tagged values is taken back.
                        if (!o.ok || o.at + 32 > limit) {
                            o.at = entryAt;
                            o.ok = true;
                        }
                    }
                }
        const uint32_t u = uint32_t(o.at - uAt - 4);
        for (int i = 0; i < 4; ++i) out[uAt + i] = uint8_t(u >> (8 * i));
    }
    // Tagged values.
    const int tagAt = o.at;
    o.U16(0), o.U16(0);
    int items = 0;
    if (a) {
        const size_t len = std::min<size_t>(std::strlen(a), 2047);
        if (o.at + int(len) + 10 < limit) o.Byte(0x75), o.Byte(0x61), o.Str(a, len), ++items;
    }
    o.Byte(0x73), o.Byte(0x69), o.U32(uint32_t(v)), ++items;
    if (b) {
        const size_t len = std::min<size_t>(std::strlen(b), 2047);
        if (o.at + int(len) + 10 < limit) o.Byte(0x78), o.Byte(0x67), o.Str(b, len), ++items;
    }
    if (!o.ok) return 0;
    const int tagLength = o.at - tagAt - 2;
    out[tagAt] = uint8_t(tagLength & 0xFF), out[tagAt + 1] = uint8_t(tagLength >> 8);
    out[tagAt + 2] = uint8_t(items), out[tagAt + 3] = 0;
    const int total = o.at + 1;
    out[0] = uint8_t(total & 0xFF), out[1] = uint8_t(total >> 8);
    uint8_t check = 0;
    for (int i = 0; i < total - 1; ++i) check ^= out[i];
    out[total - 1] = check;
    return 1;
}

void BuildCloudRequestData(const t_pyLattice* syllables, const t_inputLattice* words,
                           const wchar_t* input, const t_arrayWord* array, t_scopeHeap* arena,
                           const t_cloudSources& sources, const t_cloudRequestParams* params,
                           t_cloudAsked* asked) {
    if (!asked || !params) return;
    asked->asked = 0;
    if (!params->buffer || !syllables || !input) return;
    t_latticePacker packer(syllables, words, input, array, arena, sources);
    const int s = packer.ComputeSize(kCloudRecordLimit);
    if (s == 0) return;
    int e = s + (params->stringA ? int(std::strlen(params->stringA)) + 7 : 4);
    if (params->stringB) e += int(std::strlen(params->stringB)) + 3;
    e += 5;
    if (e > kCloudRecordLimit - 2) return;
    if (!packer.Write(params->buffer, params->stringA, params->value, params->stringB,
                      kCloudRecordLimit))
        return;
    asked->asked = 1;
    asked->delay = CloudRequestDelay(GetKeyPressSpeedStat().GetAverage(), params->speedFactor,
                                     syllables->LacksPlainSyllable(), params->plainOffset,
                                     params->partialOffset);
}

// ---------------------------------------------------------------- typing speed

void t_keyPressSpeedStat::KeyPress(uint64_t nowMs) {
    const uint32_t interval = uint32_t(nowMs - m_last);
    m_last = nowMs;
    if (interval >= 1 && interval <= 999) {
        ++m_count;
        m_sum += interval;
    }
}

void t_keyPressSpeedStat::Update(uint64_t nowMs) {
    if (m_count > 0) {
        const double avg = m_sum / m_count;
        const double next = m_previous > 0 ? 0.9 * m_previous + 0.1 * avg : avg;
        m_previous = next;
        m_average = uint32_t(next);
    }
    m_last = nowMs;
}

void t_keyPressSpeedStat::Reset(uint32_t saved) {
    m_count = 0;
    m_sum = 0;
    m_previous = saved / 1000.0;
    m_average = saved ? saved / 1000 : 250;
}

bool t_keyPressSpeedStat::ValueToSave(uint32_t* out) {
    if (m_count < 11 || !out) return false;
    const double now = m_sum / m_count * 1000;
    m_saved = uint32_t(m_saved ? 0.9 * m_saved + 0.1 * now : now);
    *out = m_saved;
    return true;
}

t_keyPressSpeedStat& GetKeyPressSpeedStat() {
    return t_singleton<t_keyPressSpeedStat>::Get();
}

bool LoadTrustedPairs(const wchar_t* path, std::vector<uint8_t>* table) {
    if (!table) return false;
    table->clear();
    if (!path) return false;
    t_fdFile file;
    if (!file.Open(path, kOpenRead) || file.GetSize() != int64_t(kTrustedPairBytes)) return false;
    std::vector<uint8_t> bytes(kTrustedPairBytes);
    if (!file.ReadExact(bytes.data(), bytes.size())) return false;
    for (uint8_t b : bytes)
        if (b > 1) return false;
    *table = std::move(bytes);
    return true;
}

const uint8_t* KernelTrustedPairs() {
    static std::vector<uint8_t> table;
    static std::wstring loadedFrom;
    static bool tried = false;
    const std::wstring dir = GetConfiguredSysDir();
    if (!tried || dir != loadedFrom) {
        tried = true;
        loadedFrom = dir;
        std::wstring path = dir;
        if (!path.empty() && path.back() != L'/') path += L'/';
        path += kTrustedPairFile;
        LoadTrustedPairs(dir.empty() ? nullptr : path.c_str(), &table);
    }
    return table.empty() ? nullptr : table.data();
}
