// The key-map builder: from each syllable's spellings to its keys.
//
// One syllable becomes a list of spelling nodes, and every node gives its
// keys by the scheme in use. xiong with the fuzzy rule x=s, in full pinyin:
//   (x, iong) own   -> xiong, x (abbrev.), xio xion (partial; xi is a syllable)
//   (s, iong) fuzzy -> siong, s, sio sion, all flagged fuzzy
// ju also gets the own node (j, v), so jv types it as well.
#include "kernel/lexicon/key_map_builder.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/configuration.h"

namespace {

// Corrected spellings asked for one syllable.
constexpr int kMaxCorrections = 6;
// Longest shuangpin key of one part, and of a whole key pair.
constexpr size_t kMaxSpPartKeys = 3;
constexpr size_t kMaxSpPairKeys = 3;
// Refused mappings named in the notes; the rest are only counted.
constexpr int kRefusalsShown = 5;

bool CopyPart(wchar_t* out, const wchar_t* text) {
    const size_t n = wcsnlen(text, t_keyPyMapBuilder::kPartChars);
    if (n >= t_keyPyMapBuilder::kPartChars) return false;
    wmemcpy(out, text, n + 1);
    return true;
}

// initial + final into key; false when it would pass kMaxKeyLetters.
bool JoinKey(wchar_t (&key)[t_keyPyMapBuilder::kPartChars], const wchar_t* initial,
             const wchar_t* final) {
    const size_t a = wcslen(initial), b = wcslen(final);
    if (a + b > t_keyPyMapBuilder::kMaxKeyLetters) return false;
    wmemcpy(key, initial, a);
    wmemcpy(key + a, final, b);
    key[a + b] = L'\0';
    return true;
}

// The other spelling of a final that is typed both ways: ü written v after
// j, q, x, y (u, un, uan, ue), and ue after l, n, whose syllables the list
// spells lve and nve but most people type lue and nue. Null when none applies.
const wchar_t* UmlautFinal(const wchar_t* initial, const wchar_t* final) {
    if (!initial[0] || initial[1]) return nullptr;
    const wchar_t c = initial[0];
    const bool jqxy = c == L'j' || c == L'q' || c == L'x' || c == L'y';
    if (jqxy) {
        if (!wcscmp(final, L"u")) return L"v";
        if (!wcscmp(final, L"un")) return L"vn";
        if (!wcscmp(final, L"uan")) return L"van";
    }
    const bool ln = c == L'l' || c == L'n';
    if ((jqxy || ln) && !wcscmp(final, L"ue")) return L"ve";
    if (ln && !wcscmp(final, L"ve")) return L"ue";
    return nullptr;
}

}  // namespace

t_keyMapOptions ReadKeyMapOptions(t_configuration& store) {
    t_keyMapOptions o;
    o.fullPinyin = store.GetByte(n_config::QuanPin) || store.GetByte(n_config::AllowQuanPin);
    o.shuangPin = store.GetByte(n_config::ShuangPin) != 0;
    o.superSpJp = store.GetByte(n_config::SuperSPJP) != 0;
    o.correction = store.GetByte(n_config::Correction) != 0;
    o.zcs = store.GetByte(n_config::ZCSForZhChSh) != 0;
    o.smartFuzzy = store.GetByte(n_config::SmartFuzzyKeys) != 0;
    return o;
}

const wchar_t* KeyMapOptionsLeaveNoWay(const t_keyMapOptions& options) {
    if (options.fullPinyin || options.shuangPin) return nullptr;
    return L"QuanPin=0 with ShuangPin=0 leaves no way to type (set either to 1)";
}

bool t_keyPyMapBuilder::Build(t_scopeHeap& arena, uint8_t** buffer, uint32_t* size,
                              const t_keyMapOptions& options, const t_schemeLoadSettings& settings,
                              std::wstring* messages) {
    if (!buffer || !size) return false;
    *buffer = nullptr;
    *size = 0;
    // Fuzzy rules multiply the spellings of a syllable: a hundred of them
    // need several times the default room.
    t_keyPyMap map{t_keyPyMap::t_growing{}};
    if (!map.StartEmpty()) return false;
    t_keyPyMapBuilder builder;
    if (!builder.Initialise(options, settings, &map, messages) || !builder.AddAll()) return false;
    if (messages) *messages += builder.Notes();
    // A map without keys converts nothing; saved, it would be attached as is
    // at every later start.
    if (map.Table().GetKeyUsedCount(0) <= 0) return false;
    const int64_t total = map.GetTotalSize();
    if (total <= 0 || uint64_t(total) > t_scopeHeap::kMaxRequest) return false;
    void* out = arena.DupBytes(map.GetImage(), size_t(total));
    if (!out) return false;
    *buffer = static_cast<uint8_t*>(out);
    *size = uint32_t(total);
    return true;
}

bool t_keyPyMapBuilder::Initialise(const t_keyMapOptions& options,
                                   const t_schemeLoadSettings& settings, i_keyMapSink* target,
                                   std::wstring* messages) {
    Clear();
    if (!target) return false;
    m_options = options;
    m_target = target;
    std::wstring loaded;
    m_configs.LoadAll(loaded, settings);
    if (messages && !loaded.empty()) *messages += loaded + L'\n';
    const bool fuzzy = m_configs.HasFuzzyRules();
    m_target->SetExtraFlagA((options.zcs && !options.shuangPin && !fuzzy) ? 1 : 0);
    m_target->SetExtraFlagB(fuzzy ? 1 : 0);
    m_ready = true;
    return true;
}

void t_keyPyMapBuilder::Clear() {
    m_configs.Clear();
    m_heap.FreeAll();
    m_target = nullptr;
    m_ready = false;
    m_refused = 0;
    m_refusedShown.clear();
    m_partners.clear();
}

std::wstring t_keyPyMapBuilder::Notes() const {
    if (m_refused == 0) return std::wstring();
    std::wstring notes = L"left out " + std::to_wstring(m_refused) +
                         (m_refused == 1 ? L" key" : L" keys") +
                         L" the map could not take (a character it cannot hold, or no room "
                         L"left): " +
                         m_refusedShown;
    if (m_refused > kRefusalsShown) notes += L", ...";
    return notes + L'\n';
}

bool t_keyPyMapBuilder::AddAll() {
    if (!m_ready) return false;
    for (int id = 0; id < kSyllableCount; ++id) {
        if (!AddSyllable(id)) return false;
    }
    AddFixedPairs();
    return true;
}

t_keyPyMapBuilder::t_spellingNode* t_keyPyMapBuilder::NewNode(const wchar_t* initial,
                                                              const wchar_t* final, uint8_t fuzzy,
                                                              uint8_t smart) {
    auto* node = static_cast<t_spellingNode*>(m_heap.Alloc(sizeof(t_spellingNode)));
    if (!node) return nullptr;
    if (!CopyPart(node->initial, initial) || !CopyPart(node->final, final)) return nullptr;
    node->fuzzy = fuzzy;
    node->smart = smart;
    node->next = nullptr;
    return node;
}

const t_keyPyMapBuilder::t_partners& t_keyPyMapBuilder::Partners(const wchar_t* part, bool gray) {
    const std::wstring key = (gray ? L"g" : L"f") + std::wstring(part);
    auto [it, added] = m_partners.try_emplace(key);
    if (added) {
        const t_fuzzyConfig& fuzzy = m_configs.Fuzzy();
        t_partners& p = it->second;
        p.count = gray ? fuzzy.GetGrayPartners(p.slots, kMaxAlternatives, part)
                       : fuzzy.GetFuzzyPartners(p.slots, kMaxAlternatives, part);
    }
    return it->second;
}

void t_keyPyMapBuilder::AppendFuzzyNodes(t_spellingNode* base, t_spellingNode**& tail, bool gray) {
    const t_partners& pi = Partners(base->initial, gray);
    const t_partners& pf = Partners(base->final, gray);
    if (pi.count == 0 && pf.count == 0) return;
    // Each list with the original last.
    t_ruleSlot initials[kMaxAlternatives + 1], finals[kMaxAlternatives + 1];
    std::memcpy(initials, pi.slots, sizeof(t_ruleSlot) * size_t(pi.count));
    std::memcpy(finals, pf.slots, sizeof(t_ruleSlot) * size_t(pf.count));
    int ni = pi.count, nf = pf.count;
    CopyPart(initials[ni++], base->initial);
    CopyPart(finals[nf++], base->final);
    for (int i = 0; i < ni; ++i) {
        for (int f = 0; f < nf; ++f) {
            if (i == ni - 1 && f == nf - 1) continue;  // the original pair
            if (wcslen(initials[i]) + wcslen(finals[f]) > kMaxKeyLetters) continue;
            if (t_spellingNode* node = NewNode(initials[i], finals[f], 1, gray ? 1 : 0)) {
                *tail = node;
                tail = &node->next;
            }
        }
    }
}

bool t_keyPyMapBuilder::AddSyllable(int id) {
    if (!m_ready || id < 0 || id >= kSyllableCount) return false;
    const wchar_t* text = SyllableTableText(id);
    wchar_t initial[kPartChars], final[kPartChars];
    if (!SplitSyllable(initial, kPartChars, final, kPartChars, text)) return false;

    m_heap.FreeAll();
    t_spellingNode* head = NewNode(initial, final, 0, 0);
    if (!head) return false;
    t_spellingNode** tail = &head->next;
    if (const wchar_t* umlaut = UmlautFinal(initial, final)) {
        if (t_spellingNode* node = NewNode(initial, umlaut, 0, 0)) {
            *tail = node;
            tail = &node->next;
        }
    }
    // Fuzzy spellings of the own (and ü) nodes, appended behind them.
    t_spellingNode* bases[2] = {head, head->next};
    for (t_spellingNode* base : bases) {
        if (!base) continue;
        AppendFuzzyNodes(base, tail, false);
        if (m_options.smartFuzzy) AppendFuzzyNodes(base, tail, true);
    }

    const uint16_t pid = uint16_t(id);
    m_pendingId = pid;
    m_collecting = true;
    for (const t_spellingNode* node = head; node; node = node->next) {
        if (m_options.fullPinyin) EmitFullPinyin(*node, pid);
        if (m_options.shuangPin) EmitShuangPin(*node, pid);
    }
    Flush();
    return true;
}

void t_keyPyMapBuilder::Emit(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly) {
    if (!key[0]) return;
    if (smartOnly) flags |= kKeyFlagSmartOnly;
    // Fuzzy spellings of a syllable meet on the same keys again and again:
    // merged here, each key costs the map one add.
    const size_t n = wcsnlen(key, kPartChars);
    if (m_collecting && id == m_pendingId && n < kPartChars) {
        const auto [at, added] = m_pendingIndex.try_emplace(std::wstring(key, n), m_pending.size());
        if (!added) {
            t_pendingKey& p = m_pending[at->second];
            p.flags = MergeMappingFlags(p.flags, flags);
            return;
        }
        t_pendingKey p;
        wmemcpy(p.key, key, n + 1);
        p.flags = flags;
        m_pending.push_back(p);
        return;
    }
    if (!m_target->AddMapping(key, id, flags & ~kKeyFlagSmartOnly, flags & kKeyFlagSmartOnly))
        Refused(key, id);
}

void t_keyPyMapBuilder::Flush() {
    m_collecting = false;
    for (const t_pendingKey& p : m_pending) {
        if (!m_target->AddNewMapping(p.key, m_pendingId, p.flags & ~kKeyFlagSmartOnly,
                                     p.flags & kKeyFlagSmartOnly))
            Refused(p.key, m_pendingId);
    }
    m_pending.clear();
    m_pendingIndex.clear();
}

// One unusable rule (an odd scheme key, a committed pair past the room)
// costs its own keys, not the map.
void t_keyPyMapBuilder::Refused(const wchar_t* key, uint16_t id) {
    if (++m_refused > kRefusalsShown) return;
    if (!m_refusedShown.empty()) m_refusedShown += L", ";
    m_refusedShown += L'"' + std::wstring(key) + L"\" for " + SyllableTableText(id);
}

void t_keyPyMapBuilder::EmitFullPinyin(const t_spellingNode& node, uint16_t id) {
    const uint16_t flags = node.fuzzy ? kKeyFlagFuzzy : 0;
    wchar_t full[kPartChars];
    const bool fits = JoinKey(full, node.initial, node.final);
    if (node.smart) {
        if (fits) Emit(full, id, flags, true);
        return;
    }

    const bool sp = m_options.shuangPin;
    if (!sp) {
        // Abbreviations.
        if (node.initial[0]) {
            Emit(node.initial, id, flags | kKeyFlagAbbrev, false);
            if (m_options.zcs && IsRetroflexInitial(node.initial)) {
                const wchar_t first[2] = {node.initial[0], 0};
                Emit(first, id, flags | kKeyFlagAbbrev, false);
            }
        } else if (m_options.zcs && wcslen(node.final) >= 2) {
            const wchar_t first[2] = {node.final[0], 0};
            Emit(first, id, flags | kKeyFlagAbbrev | kKeyFlagZeroInitial, false);
        }
        // Partial spellings: the initial grown letter by letter, short of the whole.
        if (fits) {
            const size_t initialLen = wcslen(node.initial), fullLen = wcslen(full);
            wchar_t partial[kPartChars];
            for (size_t n = initialLen + 1; n < fullLen; ++n) {
                wmemcpy(partial, full, n);
                partial[n] = L'\0';
                if (!IsPinyinSyllable(partial)) Emit(partial, id, flags | kKeyFlagPartial, false);
            }
        }
        // Mistyped spellings.
        if (m_options.correction && fits) {
            t_ruleSlot variants[kMaxCorrections];
            const int n = m_configs.Correction().MistypeAll(variants, kMaxCorrections, full);
            for (int i = 0; i < n; ++i) Emit(variants[i], id, flags | kKeyFlagCorrection, false);
        }
    }
    if (fits) Emit(full, id, flags, false);
}

void t_keyPyMapBuilder::EmitShuangPin(const t_spellingNode& node, uint16_t id) {
    const uint16_t flags = node.fuzzy ? kKeyFlagFuzzy : 0;
    const bool smart = node.smart != 0;
    const t_spScheme& scheme = m_configs.Scheme();
    wchar_t initialKeys[kMaxSpPartKeys + 1], finalKeys[kMaxSpPartKeys + 1];
    if (node.initial[0]) {
        if (!scheme.GetMapping(initialKeys, sizeof initialKeys / sizeof(wchar_t), node.initial,
                               kSpInitial) ||
            !scheme.GetMapping(finalKeys, sizeof finalKeys / sizeof(wchar_t), node.final,
                               kSpFinal)) {
            return;  // the scheme has no key for this spelling
        }
        if (initialKeys[0] && !smart) Emit(initialKeys, id, flags | kKeyFlagAbbrev, false);
        wchar_t pair[kPartChars];
        if (wcslen(initialKeys) + wcslen(finalKeys) <= kMaxSpPairKeys &&
            JoinKey(pair, initialKeys, finalKeys))
            Emit(pair, id, flags, smart);
        return;
    }
    if (!scheme.GetMapping(finalKeys, sizeof finalKeys / sizeof(wchar_t), node.final,
                           kSpZeroInitialFinal)) {
        return;
    }
    Emit(finalKeys, id, flags, smart);
    if (m_options.superSpJp && !smart && finalKeys[0]) {
        const wchar_t first[2] = {finalKeys[0], 0};
        Emit(first, id, flags | kKeyFlagAbbrev | kKeyFlagZeroInitial, false);
    }
}

void t_keyPyMapBuilder::AddFixedPairs() {
    // The fixed pair first: a file of committed pairs may fill the room.
    if (m_options.fullPinyin) {
        const int sou = SyllableTableFind(L"sou");
        if (sou >= 0) Emit(L"so", uint16_t(sou), kKeyFlagFuzzy, false);
    }
    for (const t_pairRule* rule = m_configs.Fuzzy().GetList(t_fuzzyConfig::kCommit); rule;
         rule = rule->next) {
        const int id = SyllableTableFind(rule->second.c_str());
        if (id < 0 || id >= kSyllableCount) continue;
        if (rule->first.empty() || rule->first.size() > kMaxKeyLetters) continue;
        Emit(rule->first.c_str(), uint16_t(id), kKeyFlagFuzzy, false);
    }
}
