// The recent-input caches.
#include "kernel/userdict/recent_cache.h"

#include <cwchar>
#include <new>
#include <vector>

#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_validators.h"

// ---------------------------------------------------------------- recent inputs

void t_usrInputCache::Init() {
    m_cache = std::make_unique<t_container>();
}

bool t_usrInputCache::Add(const wchar_t* input) {
    if (!input || !m_cache) return false;
    t_container& c = *m_cache;
    while (c.queue.size() >= kCapacity - 1) {
        auto it = c.counts.try_emplace(c.queue.front(), 0).first;
        if (--it->second <= 0) c.counts.erase(it);
        c.queue.pop_front();
    }
    c.queue.emplace_back(input);
    ++c.counts[c.queue.back()];
    return true;
}

int t_usrInputCache::Contains(const t_lstr* input) const {
    if (!input || !m_cache) return 0;
    std::wstring w;
    w.reserve(LstrGetLength(input));
    for (uint16_t i = 0; i < LstrGetLength(input); ++i) w.push_back(wchar_t(LstrGetUnit(input, i)));
    return m_cache->counts.count(w) ? 1 : 0;
}

void t_usrInputCache::Clear() {
    if (!m_cache) return;
    m_cache->queue.clear();
    m_cache->counts.clear();
}

int t_usrInputCache::CountOf(const std::wstring& input) const {
    if (!m_cache) return 0;
    auto it = m_cache->counts.find(input);
    return it == m_cache->counts.end() ? 0 : it->second;
}

// ---------------------------------------------------------------- committed words

namespace {

bool ValidRingKey(const t_lstr* key) {
    return key && IsValidPyIdString(key) && LstrGetByteLength(key) < 513;
}

}  // namespace

void t_submittedUsrWord::Clear() {
    m_count = 0;
    m_write = 0;
}

void t_submittedUsrWord::Add(const t_lstr* key, const wchar_t* text) {
    if (!key || !text || !ValidRingKey(key)) return;
    const size_t n = wcsnlen(text, kTextUnits + 1);
    if (n > kTextUnits) return;
    // The text is converted before anything is written, so a commit is
    // stored whole or not at all (never a new key beside an old text).
    uint16_t units[kTextUnits];
    size_t u = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t c = uint32_t(text[i]);
        if (c > 0x10FFFF) return;
        if (c > 0xFFFF) {
            if (u + 2 > kTextUnits) return;
            units[u++] = uint16_t(0xD7C0 + (c >> 10));
            units[u++] = uint16_t(0xDC00 + (c & 0x3FF));
        } else {
            if (u + 1 > kTextUnits) return;
            units[u++] = uint16_t(c);
        }
    }
    std::memcpy(m_keys[m_write], key, LstrGetTotalBytes(key));
    t_lstr* slot = reinterpret_cast<t_lstr*>(m_texts[m_write]);
    LstrSetByteLength(slot, uint16_t(2 * u));
    std::memcpy(LstrGetBytes(slot), units, 2 * u);
    m_write = (m_write + 1) % kSlots;
    if (m_count < kSlots) ++m_count;
}

void t_submittedUsrWord::Get(int i, const t_lstr** key, const t_lstr** text) const {
    if (key) *key = nullptr;
    if (text) *text = nullptr;
    if (i < 0 || i >= m_count) return;
    const int slot = (m_write + kSlots - 1 - i) % kSlots;
    const auto* k = reinterpret_cast<const t_lstr*>(m_keys[slot]);
    const auto* t = reinterpret_cast<const t_lstr*>(m_texts[slot]);
    if (!ValidRingKey(k) || LstrGetByteLength(t) >= 513) return;
    if (key) *key = k;
    if (text) *text = t;
}

// ---------------------------------------------------------------- continuations

bool t_CAStringCache::t_key::operator<(const t_key& o) const {
    return LstrCompare(reinterpret_cast<const t_lstr*>(bytes),
                       reinterpret_cast<const t_lstr*>(o.bytes)) < 0;
}

bool t_CAStringCache::MakeKey(const t_lstr* s, t_key* out) {
    const uint16_t n = LstrGetLength(s);
    if (!s || n < 1 || n > kMaxUnits || LstrGetByteLength(s) != 2 * n) return false;
    *out = t_key{};
    std::memcpy(out->bytes, s, LstrGetTotalBytes(s));
    return true;
}

void t_CAStringCache::CreateMap() {
    m_map = std::make_unique<std::map<t_key, t_caValue>>();
}

void t_CAStringCache::Clear() {
    if (m_map) m_map->clear();
    m_filledFor.clear();
}

void t_CAStringCache::FillFor(const t_lstr* word, const t_lstr* reading1, const t_lstr* reading2,
                              const t_sysDict* sys, t_usrDictV3Core* usr) {
    if (!word || !reading1 || !reading2) return;
    // Asked for every candidate: the same three are recognised in place.
    size_t at = 0;
    bool same = bool(m_map);
    for (const t_lstr* s : {word, reading1, reading2}) {
        const size_t n = LstrGetTotalBytes(s);
        same = same && at + n <= m_filledFor.size() && std::memcmp(&m_filledFor[at], s, n) == 0;
        at += n;
    }
    // A user dictionary replaced since (an import, a restore, a removal)
    // must not lend its words: they may be gone.
    const uint64_t attach = usr ? usr->GetAttachCount() : 0;
    if (same && at == m_filledFor.size() && m_filledFrom == usr && m_filledAttach == attach) return;
    if (!m_map) CreateMap();
    m_map->clear();
    m_filledFor.clear();
    m_filledFrom = usr;
    m_filledAttach = attach;
    for (const t_lstr* s : {word, reading1, reading2}) {
        const auto* b = reinterpret_cast<const uint8_t*>(s);
        m_filledFor.insert(m_filledFor.end(), b, b + LstrGetTotalBytes(s));
    }
    AddFromWord(0, word, reading1, reading2, sys, usr);
}

int t_CAStringCache::Lookup(const t_lstr* key, t_caValue* value) const {
    t_key k;
    if (!m_map || !MakeKey(key, &k)) return 0;
    auto it = m_map->find(k);
    if (it == m_map->end()) return 0;
    if (value) *value = it->second;
    return 1;
}

void t_CAStringCache::AddOrUpdate(const t_lstr* key, const t_caValue& value) {
    t_key k;
    if (!m_map || !MakeKey(key, &k)) return;
    auto [it, inserted] = m_map->try_emplace(k, value);
    if (!inserted && value.source > it->second.source) it->second = value;
}

void t_CAStringCache::AddFromWord(uint8_t mode, const t_lstr* word, const t_lstr* reading1,
                                  const t_lstr* reading2) {
    const t_sysDict* sys =
        t_singleton<t_sysDict>::Exists() ? &t_singleton<t_sysDict>::Get() : nullptr;
    t_usrDictV3Core* usr =
        t_singleton<t_usrDictV3Core>::Exists() ? &t_singleton<t_usrDictV3Core>::Get() : nullptr;
    AddFromWord(mode, word, reading1, reading2, sys, usr);
}

void t_CAStringCache::AddFromWord(uint8_t, const t_lstr* word, const t_lstr* reading1,
                                  const t_lstr* reading2, const t_sysDict* sys,
                                  t_usrDictV3Core* usr) {
    if (!m_map || !word || !reading1 || !reading2) return;
    const uint32_t syllables = LstrGetLength(reading1) + LstrGetLength(reading2);
    if (syllables >= 6) return;
    uint8_t joined[12];
    auto* ids = reinterpret_cast<t_lstr*>(joined);
    if (!LstrConcatBounded(ids, sizeof joined, reading1, reading2)) return;

    const uint16_t wordUnits = LstrGetLength(word);
    if (sys && sys->IsReady() && syllables >= 2 && syllables <= 5) {
        t_sysDictCursor cursor(sys);
        int hasWords = 0;
        bool path = true;
        for (uint32_t i = 0; i < syllables && path; ++i) {
            uint8_t stepped = 0;
            hasWords = cursor.PushSyllable(LstrGetUnit(ids, i), &stepped);
            path = stepped != 0;
        }
        if (path && hasWords && cursor.word >= 0) {
            uint8_t more = 1;
            for (uint32_t i = uint32_t(cursor.word), seen = 0; more && seen < 256; ++i, ++seen) {
                uint32_t textOffset = 0, gramId = 0;
                uint16_t cost = 0;
                if (!sys->GetWordRecord(i, &textOffset, &cost, &gramId, &more)) break;
                const t_lstr* text = sys->GetWordText(i);
                const uint16_t n = LstrGetLength(text);
                if (!text || n <= wordUnits || uint32_t(n - wordUnits) > kMaxUnits) continue;
                if (Ucs2CompareN(LstrGetUnits(text), LstrGetUnits(word), wordUnits) != 0) continue;
                uint8_t rest[10] = {};
                auto* r = reinterpret_cast<t_lstr*>(rest);
                if (!LstrSubBytes(r, sizeof rest, text, 2 * wordUnits, 2 * n - 1)) continue;
                AddOrUpdate(r, t_caValue{sys->ListCost(cost, gramId, n), kSourceSystem,
                                         uint8_t(sys->GetWordFlags(i) & 1)});
            }
        }
    }
    if (usr && usr->IsLoaded()) {
        std::vector<t_usrContinuation> found;
        usr->CollectWordContinuations(reading1, word, reading2, found);
        for (const t_usrContinuation& c : found)
            AddOrUpdate(reinterpret_cast<const t_lstr*>(c.rest),
                        t_caValue{c.weight, c.marker, c.zero});
    }
}

// ---------------------------------------------------------------- committed-word list

void PushWordKeyPair(t_wordKeyList& list, const wchar_t* text, const t_lstr* key) {
    if (!text || !key) return;
    const size_t n = wcslen(text);
    auto* node = new (std::nothrow) t_wordKeyNode{nullptr, nullptr, nullptr};
    if (!node) return;
    node->text = new (std::nothrow) wchar_t[n + 1];
    node->key = reinterpret_cast<t_lstr*>(new (std::nothrow) uint8_t[LstrGetTotalBytes(key)]);
    if (!node->text || !node->key) {
        delete[] node->text;
        delete[] reinterpret_cast<uint8_t*>(node->key);
        delete node;
        return;
    }
    std::wmemcpy(node->text, text, n + 1);
    std::memcpy(node->key, key, LstrGetTotalBytes(key));
    node->next = list.head;
    list.head = node;
}

void ClearWordKeyPairs(t_wordKeyList& list) {
    while (t_wordKeyNode* node = list.head) {
        list.head = node->next;
        delete[] node->text;
        delete[] reinterpret_cast<uint8_t*>(node->key);
        delete node;
    }
}
