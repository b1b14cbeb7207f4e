// Learning, deleting, merging and restoring user words; the weight curve and
// the weighted lookups built on it.
#include <cmath>
#include <cstring>

#include "kernel/userdict/usr_dict_internal.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_scramble.h"
#include "kernel/userdict/usr_validators.h"

using namespace n_tableFormat;
using namespace n_usrDict;

namespace {

// Kept only when the new flags have them too.
constexpr uint16_t kKeptOnRelearn = kUsrFlagJoined | kUsrFlagNoAge;
constexpr uint16_t kKindBits = 0x01 | 0x02;  // always taken from the new flags

uint16_t CombineFlags(uint16_t stored, uint16_t incoming) {
    return uint16_t((stored & ~(kKindBits | kKeptOnRelearn)) |
                    (stored & kKeptOnRelearn & incoming) | (incoming & kKindBits));
}

uint32_t ClampStamp(uint32_t s) {
    return s < kUsrClockMax ? s : kUsrClockMax - 1;
}
uint32_t Tick(uint32_t now) {
    return now < kUsrClockMax ? now + 1 : kUsrClockMax;
}

}  // namespace

// ---------------------------------------------------------------- weight curve

void t_usrWeightCurve::Init(uint32_t n, uint32_t avg, uint32_t t, uint32_t k) {
    now = n;
    average = avg;
    top = t;
    span = t != avg ? t - avg : 1;
    base = (double(k) / 255.0) * 0.5;
    oneMinusBase = 1.0 - base;
    ageLimit = 8192.0;
    baseAgain = base;
    ellipse = 65028096.0;
    halfRest = 0.5 - 0.5 * base;
}

void t_usrWeightCurve::Prepare() {
    const uint32_t a = uint32_t(age);
    if (a < 128) {
        factor = base;
        if (boost) factor = base + double(128 - a) * oneMinusBase * 0.0078125;
        target = top - uint32_t((uint64_t(a) * span) >> 7);
    } else if (a > 8191) {
        target = 0;
        factor = 0.5 * base + 0.5;
    } else {
        target = uint32_t(((uint64_t(8192 - a) * average) >> 7) / 63);
        const double d = double(a) - 8192.0;
        factor = base + halfRest * std::sqrt(1.0 - d * d / ellipse);
    }
}

uint32_t t_usrWeightCurve::Eval(uint32_t f) {
    const double delta = (double(target) - double(f)) * factor;
    const int64_t w = int64_t(f) + int64_t(std::trunc(delta));
    lastWeight = uint32_t(w < 0 ? 0 : w);
    return lastWeight;
}

void t_usrWeightCurve::RaiseTop(uint32_t f) {
    if (f > top) {
        top = f;
        span = f - average;
    }
}

// ---------------------------------------------------------------- changes

bool t_usrDictV3Core::WriteAttr(const t_wordLoc& loc, const t_usrWordAttr& a) {
    if (!loc.wordFound) return false;
    t_editRow row = loc.row;
    row.generation = m_store.GetGeneration();
    return m_store.SetFieldAt(&a.freq, 2, row, kOffFreq, false) &&
           m_store.SetFieldAt(&a.flags, 2, row, kOffFlags, false) &&
           m_store.SetFieldAt(&a.stamp, 4, row, kOffStamp, false) &&
           m_store.SetFieldAt(&a.extra, 2, row, kOffExtra, false);
}

// Adds a word that is not stored yet; the header counters are the caller's.
// Returns the store's result mapped by AfterChange, 0 when nothing was added.
int t_usrDictV3Core::AddNewWord(const t_lstr* reading, const t_lstr* word, const t_usrWordAttr& a,
                                bool) {
    uint8_t item[2 + kUsrMaxTextBytes + 2 + kUsrMaxTextBytes + 14];
    const uint32_t rl = LstrGetTotalBytes(reading), wl = LstrGetTotalBytes(word);
    if (rl > 2 + kUsrMaxTextBytes || wl > 2 + kUsrMaxTextBytes) return 0;
    uint8_t* p = item;
    std::memcpy(p, reading, rl);
    p += rl;
    std::memcpy(p, word, wl);
    p += wl;
    Wr16(p, a.freq);
    Wr16(p + 2, a.flags);
    Wr32(p + 4, a.stamp);
    Wr16(p + 8, a.checksum);
    Wr16(p + 10, a.extra);
    Wr16(p + 12, 0);
    p += 14;
    int32_t maxKey = int32_t(kUsrMaxCapacity), maxAttri = int32_t(kUsrMaxCapacity);
    // The new attri row goes at the end of the table: a trim this add runs
    // must keep it.
    m_addingRow = int64_t(m_store.GetAttriUsedCount(0)) * m_store.GetAttriRowSize(0);
    const int r = m_store.AddItem(item, uint32_t(p - item), 0, &maxKey, &maxAttri);
    m_addingRow = -1;
    if (r == 1) return 0;  // already there: the caller located it wrongly
    return AfterChange(r);
}

namespace {
// The header as it was, put back when a change could not be made.
struct t_headerUndo {
    uint8_t saved[kUsrHeaderBytes];
    uint8_t* header;
    explicit t_headerUndo(uint8_t* h) : header(h) {
        if (h) std::memcpy(saved, h, kUsrHeaderBytes);
    }
    void Restore(uint8_t* current) const {
        if (current) std::memcpy(current, saved, kUsrHeaderBytes);
    }
};
}  // namespace

bool t_usrDictV3Core::LocateChange(const t_lstr* reading, const t_lstr* word,
                                   t_wordLoc* loc) const {
    return m_loaded && IsValidPyIdString(reading) && IsValidWordString(word, true) &&
           LocateWord(reading, word, loc);
}

int t_usrDictV3Core::AddLocatedWord(const t_lstr* reading, const t_wordLoc& loc,
                                    const t_usrWordAttr& a, uint32_t clock, bool countChange) {
    t_headerUndo undo(m_store.GetExtraData(kUsrHeaderBytes));
    SetWord(kUsrHdrTotal, Word(kUsrHdrTotal) + a.freq);
    if (clock != 0) SetWord(kUsrHdrClock, clock);
    if (countChange) SetWord(kUsrHdrChanges, Word(kUsrHdrChanges) + 1);
    SetWord(kUsrHdrWords, Word(kUsrHdrWords) + 1);
    if (!loc.keyFound) SetWord(kUsrHdrKeys, Word(kUsrHdrKeys) + 1);
    const int result =
        AddNewWord(reading, reinterpret_cast<const t_lstr*>(loc.scrambled), a, !loc.keyFound);
    if (result == 0) undo.Restore(m_store.GetExtraData(kUsrHeaderBytes));
    return result;
}

// The caller saves: the change log is only restarted here.
void t_usrDictV3Core::RestartLogIfFull() {
    if (FixedOn() && m_store.IsFull()) {
        ClearFixedCapacityState();
        m_inPlaceOk = false;  // the changes before the restart are in no log
    }
}

int t_usrDictV3Core::LearnWord(const t_lstr* reading, const t_lstr* word, uint16_t flags) {
    t_wordLoc loc;
    if (!LocateChange(reading, word, &loc)) return 0;
    const uint32_t now = Word(kUsrHdrClock);
    int result = 1;
    if (loc.wordFound) {
        t_usrWordAttr a;
        ReadAttr(loc.row.ptr, &a);
        const uint16_t oldFreq = a.freq;
        uint32_t f = a.freq;
        uint16_t g = a.flags;
        if (f > 0) {
            if ((g & kUsrFlagHidden) && !(flags & kUsrFlagHidden)) {
                g &= uint16_t(~kUsrFlagHidden);
                f = 0;  // a word brought back from hiding starts counting again
            }
            if ((g & kUsrFlagNoAge) && !(flags & kUsrFlagNoAge)) g &= uint16_t(~kUsrFlagNoAge);
            a.flags = CombineFlags(g, flags);
        } else {
            a.flags = flags;
        }
        // Halfway between the old stamp and now (both unsigned, so a late
        // stamp never turns negative).
        a.stamp = (flags & kUsrFlagNoAge) ? kUsrNoAge : (now >> 1) + (a.stamp >> 1);
        if (f < 65535) ++f;
        a.freq = uint16_t(f);
        if (!WriteAttr(loc, a)) return 0;
        const uint32_t total = Word(kUsrHdrTotal) - oldFreq + a.freq;
        SetWord(kUsrHdrTotal, total);
        SetWord(kUsrHdrClock, Tick(now));
        SetWord(kUsrHdrChanges, Word(kUsrHdrChanges) + 1);
    } else {
        t_usrWordAttr a;
        a.freq = 1;
        a.flags = flags;
        a.checksum = loc.checksum;
        const bool noAge = loc.keyFound && (flags & kUsrFlagNoAge);
        a.stamp = noAge ? kUsrNoAge : now;
        result = AddLocatedWord(reading, loc, a, noAge ? 0 : Tick(now), true);
        if (result == 0) return 0;
    }
    RecordChange(t_changeRecord(kUsrChangeLearn).PutLstr(reading).PutLstr(word).Put16(flags));
    SaveIfFull();
    return result;
}

int t_usrDictV3Core::DeleteWord(const t_lstr* reading, const t_lstr* word) {
    const int result = DeleteWordHere(reading, word);
    // Recorded also when the word is absent here: the newest file may hold it.
    if (result) RecordChange(t_changeRecord(kUsrChangeDelete).PutLstr(reading).PutLstr(word));
    return result;
}

int t_usrDictV3Core::DeleteWordHere(const t_lstr* reading, const t_lstr* word) {
    if (!m_loaded || LstrGetByteLength(reading) < 1 || LstrGetByteLength(word) < 1) return 0;
    // A reading or word that could never be stored is simply absent.
    if (!IsValidPyIdString(reading) || !IsValidWordString(word, true)) return 1;
    t_wordLoc loc;
    if (!LocateWord(reading, word, &loc)) return 0;
    if (!loc.wordFound) return 1;
    t_usrWordAttr a;
    ReadAttr(loc.row.ptr, &a);
    const uint16_t oldFreq = a.freq;
    a.freq = 0;
    a.stamp = kUsrNoAge;
    if (!WriteAttr(loc, a)) return 0;
    const uint32_t total = Word(kUsrHdrTotal);
    SetWord(kUsrHdrTotal, total >= oldFreq ? total - oldFreq : 0);
    SaveIfFull();
    return 1;
}

int t_usrDictV3Core::MergeWord(const t_lstr* reading, const t_lstr* word, uint16_t freq,
                               uint16_t flags, uint32_t stamp) {
    return MergeWithRule(reading, word, freq, flags, stamp, false);
}

int t_usrDictV3Core::AddWordFreq(const t_lstr* reading, const t_lstr* word, uint16_t freq,
                                 uint16_t flags, uint32_t stamp) {
    return MergeWithRule(reading, word, freq, flags, stamp, true);
}

int t_usrDictV3Core::MergeWordRebased(const t_lstr* reading, const t_lstr* word, uint16_t freq,
                                      uint16_t flags, uint32_t stamp, uint32_t otherNow) {
    if (!m_loaded) return 0;
    // The word's age on the other clock; a stamp past that clock is new.
    const uint32_t age = otherNow > stamp ? otherNow - stamp : 0;
    const uint32_t now = Word(kUsrHdrClock);
    uint32_t rebased = now > age && now - age > kUsrNoAge ? now - age : kUsrNoAge;
    if (flags & kUsrFlagNoAge) rebased = kUsrNoAge;
    return MergeWithRule(reading, word, freq, flags, rebased, false);
}

// add: freq is added to the stored frequency and the flags replaced;
// otherwise the larger frequency wins and the flags combine.
int t_usrDictV3Core::MergeWithRule(const t_lstr* reading, const t_lstr* word, uint16_t freq,
                                   uint16_t flags, uint32_t stamp, bool add) {
    t_wordLoc loc;
    if (!LocateChange(reading, word, &loc)) return 0;
    stamp = ClampStamp(stamp);
    const uint32_t now = Word(kUsrHdrClock);
    const uint32_t newNow = Tick(now > stamp ? now : stamp);
    int result = 1;
    if (loc.wordFound) {
        t_usrWordAttr a;
        ReadAttr(loc.row.ptr, &a);
        const uint16_t oldFreq = a.freq;
        if (add) {
            a.flags = flags;
            const uint32_t sum = uint32_t(a.freq) + freq;
            a.freq = uint16_t(sum > 65535 ? 65535 : sum);
        } else {
            a.flags = oldFreq == 0 ? flags : CombineFlags(a.flags, flags);
            if (freq > a.freq) a.freq = freq;
        }
        if (stamp > a.stamp) a.stamp = stamp;
        if (!WriteAttr(loc, a)) return 0;
        SetWord(kUsrHdrTotal, Word(kUsrHdrTotal) + (a.freq - oldFreq));
        SetWord(kUsrHdrClock, newNow);
        SetWord(kUsrHdrChanges, Word(kUsrHdrChanges) + 1);
    } else {
        t_usrWordAttr a;
        a.freq = freq;
        a.flags = flags;
        a.stamp = stamp;
        a.checksum = loc.checksum;
        result = AddLocatedWord(reading, loc, a, newNow, true);
        if (result == 0) return 0;
    }
    RecordChange(t_changeRecord(kUsrChangeMerge)
                     .PutLstr(reading)
                     .PutLstr(word)
                     .Put16(freq)
                     .Put16(flags)
                     .Put32(stamp)
                     .Put16(add ? 1 : 0));
    RestartLogIfFull();
    return result;
}

int t_usrDictV3Core::RestoreWord(const t_lstr* reading, const t_lstr* word, uint16_t freq,
                                 uint16_t flags, uint32_t stamp, uint16_t extra) {
    t_wordLoc loc;
    if (!LocateChange(reading, word, &loc)) return 0;
    stamp = ClampStamp(stamp);
    const uint32_t now = Word(kUsrHdrClock);
    int result = 1;
    if (loc.wordFound) {
        t_usrWordAttr a;
        ReadAttr(loc.row.ptr, &a);
        const uint16_t oldFreq = a.freq;
        if (a.freq == 0 || a.freq < freq) {
            a.freq = freq;
            a.extra = extra;
            a.flags = flags;
        }
        bool clockMoves = false;
        if (a.stamp < stamp || a.stamp == kUsrNoAge) {
            a.stamp = stamp;
            clockMoves = stamp >= now;
        }
        if (a.extra > a.freq) a.extra = 0;
        if (!WriteAttr(loc, a)) return 0;
        SetWord(kUsrHdrTotal, Word(kUsrHdrTotal) - oldFreq + a.freq);
        if (clockMoves) SetWord(kUsrHdrClock, Tick(stamp));
    } else {
        t_usrWordAttr a;
        a.freq = freq;
        a.flags = flags;
        a.stamp = stamp;
        a.extra = extra > freq ? 0 : extra;
        a.checksum = loc.checksum;
        result = AddLocatedWord(reading, loc, a, stamp >= now ? Tick(stamp) : 0, false);
        if (result == 0) return 0;
    }
    RecordChange(t_changeRecord(kUsrChangeRestore)
                     .PutLstr(reading)
                     .PutLstr(word)
                     .Put16(freq)
                     .Put16(flags)
                     .Put32(stamp)
                     .Put16(extra));
    RestartLogIfFull();
    return result;
}

bool t_usrDictV3Core::AddExtraCount(const t_lstr* reading, const t_lstr* word, uint16_t by) {
    t_wordLoc loc;
    if (!m_loaded || !LocateWord(reading, word, &loc) || !loc.wordFound) return false;
    t_usrWordAttr a;
    ReadAttr(loc.row.ptr, &a);
    const uint32_t e = uint32_t(a.extra) + by;
    a.extra = uint16_t(e > 65535 ? 65535 : e);
    if (!WriteAttr(loc, a)) return false;
    RecordChange(t_changeRecord(kUsrChangeExtra).PutLstr(reading).PutLstr(word).Put16(by));
    return true;
}

bool t_usrDictV3Core::ApplyChange(t_changeReader& change) {
    const t_lstr* reading = nullptr;
    const t_lstr* word = nullptr;
    if (!change.GetLstr(&reading) || !change.GetLstr(&word)) return false;
    uint16_t a = 0, b = 0, c = 0;
    uint32_t stamp = 0;
    switch (change.Op()) {
        case kUsrChangeLearn:
            return change.Get16(&a) && LearnWord(reading, word, a) != 0;
        case kUsrChangeDelete:
            return DeleteWord(reading, word) != 0;
        case kUsrChangeMerge:
            return change.Get16(&a) && change.Get16(&b) && change.Get32(&stamp) &&
                   change.Get16(&c) && MergeWithRule(reading, word, a, b, stamp, c != 0) != 0;
        case kUsrChangeRestore:
            return change.Get16(&a) && change.Get16(&b) && change.Get32(&stamp) &&
                   change.Get16(&c) && RestoreWord(reading, word, a, b, stamp, c) != 0;
        case kUsrChangeExtra:
            return change.Get16(&a) && AddExtraCount(reading, word, a);
        default:
            return false;
    }
}

// ---------------------------------------------------------------- weighted lookups

void t_usrDictV3Core::SetupWeightCurve(uint32_t k) {
    const uint32_t words = Word(kUsrHdrWords);
    uint32_t average = words ? Word(kUsrHdrTotal) / words : 1;
    if (average < 1) average = 1;
    const uint64_t top = words ? uint64_t(average) * 17 : 17;
    m_curve.Init(Word(kUsrHdrClock), average, uint32_t(top > 0xFFFFFFFFull ? 0xFFFFFFFFull : top),
                 k > 255 ? 255 : k);
}

int t_usrDictV3Core::GetWords(int mode, int32_t group, uint32_t* textIds, uint16_t* flags,
                              uint16_t* checksums, uint16_t* freqs, uint32_t* stamps,
                              uint32_t* weights, uint16_t* extras, int max) {
    const uint8_t* keyRow = GroupRow(group);
    if (!keyRow || max <= 0) return 0;
    std::vector<const uint8_t*> rows;
    WalkChain(keyRow, rows, max);
    m_curve.boost = uint8_t(mode != 0);
    int n = 0;
    for (const uint8_t* r : rows) {
        t_usrWordAttr a;
        ReadAttr(r, &a);
        if (a.freq == 0 || (a.flags & (kUsrFlagHidden | kUsrFlagNoAge))) continue;
        if (textIds) textIds[n] = a.textId;
        if (flags) flags[n] = a.flags;
        if (checksums) checksums[n] = a.checksum;
        if (weights) {
            m_curve.age = int32_t(m_curve.now - a.stamp);
            m_curve.Prepare();
            weights[n] = m_curve.Eval(a.freq);
        }
        if (freqs) freqs[n] = a.freq;
        if (stamps) stamps[n] = a.stamp;
        if (extras) extras[n] = a.extra;
        ++n;
    }
    return n;
}

bool t_usrDictV3Core::FindUsrDictWordForAssoc(const t_lstr* reading, const t_lstr* part1,
                                              const t_lstr* part2, int32_t* group, uint16_t* flags,
                                              uint16_t* extra) {
    if (!m_loaded || !part1 || !part2) return false;
    uint8_t joinedBuf[12];
    auto* joined = reinterpret_cast<t_lstr*>(joinedBuf);
    if (LstrConcatBounded(joined, sizeof joinedBuf, part1, part2) == 0) return false;
    if (group) *group = -1;
    const int32_t g = Find(reading, nullptr);
    SetupWeightCurve(127);
    if (g < 0) return false;
    const int mode = LstrGetByteLength(reading) > 2 ? 1 : 0;
    uint32_t ids[64];
    uint16_t fl[64], sums[64], ex[64];
    const int n = GetWords(mode, g, ids, fl, sums, nullptr, nullptr, nullptr, ex, 64);
    int count = 0;
    bool equalSeen = false;
    uint16_t lastFlags = 0, lastExtra = 0;
    uint8_t textBuf[kUsrTextBufBytes];
    auto* text = reinterpret_cast<t_lstr*>(textBuf);
    const uint16_t p1Len = LstrGetByteLength(part1);
    for (int i = 0; i < n; ++i) {
        if (!GetWordText(ids[i], sums[i], text)) continue;
        if (LstrCompare(text, joined) == 0) {
            ++count;
            equalSeen = true;
            lastFlags = fl[i];
            lastExtra = ex[i];
        } else if (LstrGetByteLength(text) > p1Len &&
                   std::memcmp(LstrGetBytes(text), LstrGetBytes(part1), p1Len) == 0) {
            ++count;
        }
    }
    if (!equalSeen || count != 1) return false;
    if (group) *group = g;
    if (flags) *flags = lastFlags;
    if (extra) *extra = lastExtra;
    return true;
}

bool t_usrDictV3Core::CollectWordContinuations(const t_lstr* reading1, const t_lstr* prefix,
                                               const t_lstr* reading2,
                                               std::vector<t_usrContinuation>& out) {
    if (!m_loaded || !reading1 || !reading2 || !prefix) return false;
    if (uint32_t(LstrGetByteLength(reading1)) + LstrGetByteLength(reading2) > 18) return false;
    uint8_t readingBuf[24];
    auto* reading = reinterpret_cast<t_lstr*>(readingBuf);
    if (LstrConcatBounded(reading, sizeof readingBuf, reading1, reading2) == 0) return false;
    const int32_t g = Find(reading, nullptr);
    if (g < 1) return false;
    // Weighed on a curve of its own: a conversion that asks this keeps the
    // curve it set up for its own lookups.
    const t_usrWeightCurve callers = m_curve;
    SetupWeightCurve(127);
    uint32_t ids[64], weights[64];
    uint16_t fl[64], sums[64];
    const int n = GetWords(LstrGetByteLength(reading) >= 3 ? 1 : 0, g, ids, fl, sums, nullptr,
                           nullptr, weights, nullptr, 64);
    m_curve = callers;
    uint8_t textBuf[kUsrTextBufBytes];
    auto* text = reinterpret_cast<t_lstr*>(textBuf);
    const uint16_t pl = LstrGetByteLength(prefix);
    bool added = false;
    for (int i = 0; i < n; ++i) {
        if (!GetWordText(ids[i], sums[i], text)) continue;
        const uint16_t tl = LstrGetByteLength(text);
        if (tl <= pl || std::memcmp(LstrGetBytes(text), LstrGetBytes(prefix), pl) != 0) continue;
        const uint16_t rest = uint16_t(tl - pl);
        if (rest > 8) continue;
        t_usrContinuation c;
        Wr16(c.rest, rest);
        std::memcpy(c.rest + 2, LstrGetBytes(text) + pl, rest);
        c.weight = uint16_t(weights[i] > 65535 ? 65535 : weights[i]);
        c.marker = (fl[i] & kUsrFlagJoined) ? 0x80 : 0x40;
        out.push_back(c);
        added = true;
    }
    return added;
}
