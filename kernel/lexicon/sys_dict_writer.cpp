// Writers of the system dictionary images. Everything is laid out from
// sorted containers, so equal sources give byte-identical images.
#include "kernel/lexicon/sys_dict_writer.h"

#include <algorithm>
#include <map>
#include <memory>

#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/storage/table_builder.h"

using n_tableFormat::Wr16;
using n_tableFormat::Wr32;

namespace {

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// One node of the word tree below a syllable pair.
struct t_trieNode {
    int32_t word = -1;
    std::map<uint16_t, std::unique_ptr<t_trieNode>> kids;
};

struct t_nodeOut {
    int16_t skip;
    uint16_t id;
    int32_t word;
};

// Preorder emission; returns the subtree size or -1 when a skip overflows.
int64_t Emit(const t_trieNode& parent, std::vector<t_nodeOut>& nodes) {
    int64_t total = 0;
    size_t i = 0;
    for (const auto& [id, kid] : parent.kids) {
        const size_t at = nodes.size();
        nodes.push_back({0, id, kid->word});
        const int64_t below = Emit(*kid, nodes);
        if (below < 0) return -1;
        const int64_t size = 1 + below;
        const bool last = ++i == parent.kids.size();
        if (!last) {
            if (size > 32767) return -1;
            nodes[at].skip = int16_t(size);
        } else {
            nodes[at].skip = kid->kids.empty() ? int16_t(-1) : int16_t(0);
        }
        total += size;
    }
    return total;
}

// A packed builder item: i32 size, then the fields.
class t_packer {
public:
    t_packer& Str16(const std::u16string& s) {
        Put16(m_b, uint16_t(s.size() * 2));
        for (char16_t u : s) Put16(m_b, uint16_t(u));
        return *this;
    }
    t_packer& U8(uint8_t v) {
        m_b.push_back(v);
        return *this;
    }
    t_packer& U16(uint16_t v) {
        Put16(m_b, v);
        return *this;
    }
    t_packer& U32(uint32_t v) {
        Put32(m_b, v);
        return *this;
    }
    std::vector<uint8_t> Packed() const {
        std::vector<uint8_t> out;
        Put32(out, uint32_t(4 + m_b.size()));
        out.insert(out.end(), m_b.begin(), m_b.end());
        return out;
    }

private:
    std::vector<uint8_t> m_b;
};

}  // namespace

bool BuildGramImage(const std::vector<t_gramUnigram>& unigrams, std::vector<t_gramPair> pairs,
                    uint32_t secondWord, std::vector<uint8_t>& out, std::string* error) {
    using namespace n_gram;
    out.clear();
    if (unigrams.size() > uint64_t(kMaxGramId) + 1)
        return Fail(error, "more gram ids than 17 bits hold");
    const uint32_t count = uint32_t(unigrams.size());
    Put32(out, kMagic);
    Put32(out, secondWord);
    Put32(out, count);
    for (const t_gramUnigram& u : unigrams) {
        if (u.freq > 0x3FFF || u.leftBackOff > kMaxGramId || u.rightBackOff > kMaxGramId)
            return Fail(error, "unigram value out of range");
        Put16(out,
              uint16_t(u.freq | ((u.leftBackOff >> 16) << 14) | ((u.rightBackOff >> 16) << 15)));
        Put16(out, u.cap);
        Put16(out, u.flags);
        Put16(out, uint16_t(u.rightBackOff));
        Put16(out, uint16_t(u.leftBackOff));
    }
    for (const t_gramPair& p : pairs)
        if (p.id1 == 0 || p.id2 == 0 || p.id1 > kMaxGramId || p.id2 > kMaxGramId ||
            p.scoreClass > 15)
            return Fail(error, "pair value out of range");
    auto section = [](const t_gramPair& p) { return 2 * (p.id1 >> 16) + (p.id2 >> 16); };
    std::sort(pairs.begin(), pairs.end(), [&](const t_gramPair& a, const t_gramPair& b) {
        const uint32_t sa = section(a), sb = section(b);
        if (sa != sb) return sa < sb;
        if ((a.id1 & 0xFFFF) != (b.id1 & 0xFFFF)) return (a.id1 & 0xFFFF) < (b.id1 & 0xFFFF);
        return (a.id2 & 0xFFFF) < (b.id2 & 0xFFFF);
    });
    for (size_t i = 1; i < pairs.size(); ++i)
        if (pairs[i].id1 == pairs[i - 1].id1 && pairs[i].id2 == pairs[i - 1].id2)
            return Fail(error, "duplicate pair");
    size_t at = 0;
    for (uint32_t s = 0; s < 4; ++s) {
        size_t end = at;
        while (end < pairs.size() && section(pairs[end]) == s) ++end;
        const uint32_t indexCount = end > at ? (pairs[end - 1].id1 & 0xFFFF) + 1 : 0;
        Put32(out, s);
        Put32(out, 0);
        Put32(out, indexCount);
        Put32(out, uint32_t(end - at));
        size_t q = at;
        for (uint32_t k = 0; k < indexCount; ++k) {
            while (q < end && (pairs[q].id1 & 0xFFFF) <= k) ++q;
            Put32(out, uint32_t(q - at));
        }
        for (size_t i = at; i < end; ++i) {
            Put16(out, uint16_t(pairs[i].id2));
            out.push_back(uint8_t((pairs[i].scoreClass << 4) | (pairs[i].flags & 3)));
        }
        at = end;
    }
    // Keep the image at least as long as the reader's minimum.
    while (out.size() < kMinImage) out.push_back(0);
    return true;
}

bool BuildSysDictImage(const t_sysDictSource& src, std::vector<uint8_t>& out, std::string* error,
                       t_sysDictStats* stats) {
    using namespace n_sysDict;
    out.clear();
    if (src.words.empty()) return Fail(error, "no words");
    if (src.shortKeys.size() > kShortKeyEntries) return Fail(error, "too many short keys");
    if (src.classes.size() > 0x8000) return Fail(error, "class index beyond 15 bits");

    // Groups by id sequence, each ordered by cost, then text.
    std::map<std::vector<uint16_t>, std::vector<size_t>> groups;
    for (size_t i = 0; i < src.words.size(); ++i) {
        const t_sysWordEntry& w = src.words[i];
        if (w.ids.empty() || w.ids.size() > size_t(kMaxState) + 1)
            return Fail(error, "word of bad length");
        for (uint16_t id : w.ids)
            if (id >= kIndexIds) return Fail(error, "syllable id not below 441");
        if (w.text.empty() || w.text.size() > 32767) return Fail(error, "bad word text");
        if (w.cost > 0x7FF || w.gramId > n_gram::kMaxGramId)
            return Fail(error, "cost or gram id out of range");
        if (w.classIndex != 0 && w.classIndex >= src.classes.size())
            return Fail(error, "class index out of range");
        groups[w.ids].push_back(i);
    }

    std::vector<uint8_t> records, text;
    std::map<std::u16string, uint32_t> textAt;
    std::map<std::vector<uint16_t>, int32_t> firstWord;
    uint32_t recordCount = 0;
    for (auto& [ids, members] : groups) {
        std::sort(members.begin(), members.end(), [&](size_t a, size_t b) {
            const t_sysWordEntry &x = src.words[a], &y = src.words[b];
            if (x.cost != y.cost) return x.cost < y.cost;
            if (x.text != y.text) return x.text < y.text;
            return a < b;
        });
        firstWord[ids] = int32_t(recordCount);
        for (size_t m = 0; m < members.size(); ++m) {
            const t_sysWordEntry& w = src.words[members[m]];
            auto it = textAt.find(w.text);
            uint32_t off;
            if (it == textAt.end()) {
                off = uint32_t(text.size() / 2);
                if (off + 1 + w.text.size() >= kMaxTextUnits)
                    return Fail(error, "text area beyond 1999999 units");
                textAt.emplace(w.text, off);
                Put16(text, uint16_t(w.text.size() * 2));
                for (char16_t u : w.text) Put16(text, uint16_t(u));
            } else {
                off = it->second;
            }
            const bool last = m + 1 == members.size();
            Put16(records, uint16_t(w.gramId));
            Put32(records, (off + (last ? kLastOfGroup : 0)) | ((w.classIndex >> 5) << 22));
            records.push_back(uint8_t((w.flags & 0x7F) | ((w.gramId >> 16) ? kFlagGramHigh : 0)));
            Put16(records, uint16_t(w.cost | ((w.classIndex & 31) << 11)));
            ++recordCount;
        }
    }

    // Pair index and word tree.
    std::vector<uint8_t> index(size_t(kIndexEntries) * kIndexEntrySize);
    for (uint32_t e = 0; e < kIndexEntries; ++e) {
        Wr32(index.data() + e * kIndexEntrySize, kNone);
        Wr32(index.data() + e * kIndexEntrySize + 4, kNone);
        Wr16(index.data() + e * kIndexEntrySize + 8, 0);
    }
    auto entryAt = [&](uint32_t e) { return index.data() + size_t(e) * kIndexEntrySize; };
    std::map<std::pair<uint16_t, uint16_t>, t_trieNode> tails;
    for (const auto& [ids, first] : firstWord) {
        if (ids.size() == 1) {
            Wr32(entryAt(kRootBase + ids[0]) + 4, uint32_t(first));
            continue;
        }
        uint8_t* root = entryAt(kRootBase + ids[0]);
        Wr16(root + 8, uint16_t(n_tableFormat::Rd16(root + 8) | (1u << (ids[1] & 15))));
        if (ids.size() == 2) {
            Wr32(entryAt(uint32_t(ids[1]) * kIndexIds + ids[0]) + 4, uint32_t(first));
            continue;
        }
        t_trieNode* n = &tails[{ids[0], ids[1]}];
        for (size_t i = 2; i < ids.size(); ++i) {
            auto& slot = n->kids[ids[i]];
            if (!slot) slot = std::make_unique<t_trieNode>();
            n = slot.get();
        }
        n->word = first;
    }
    std::vector<t_nodeOut> nodes;
    for (const auto& [pair, tail] : tails) {
        uint8_t* e = entryAt(uint32_t(pair.second) * kIndexIds + pair.first);
        Wr32(e, uint32_t(nodes.size()));
        uint16_t mask = 0;
        for (const auto& kid : tail.kids) mask |= uint16_t(1u << (kid.first & 15));
        Wr16(e + 8, mask);
        if (Emit(tail, nodes) < 0) return Fail(error, "word tree too wide for its skip field");
    }
    if (nodes.size() > 0x7FFFFFFF) return Fail(error, "too many tree nodes");

    // Short-key table.
    std::vector<uint8_t> block(kShortKeyBlockSize, 0), items;
    uint32_t itemCount = 0;
    for (size_t k = 0; k < src.shortKeys.size(); ++k) {
        const auto& list = src.shortKeys[k];
        if (list.size() > 255) return Fail(error, "more than 255 short-key items");
        Wr32(block.data() + k * kShortKeyEntrySize, list.empty() ? 0 : itemCount);
        block[k * kShortKeyEntrySize + 4] = uint8_t(list.size());
        for (const t_shortKeyWord& w : list) {
            if (w.ids.size() > 2 || w.text.size() > 2 || w.text.empty() || w.cost > 0x7FFF ||
                w.gramId > n_gram::kMaxGramId)
                return Fail(error, "short-key item does not fit");
            uint8_t item[kShortItemSize] = {};
            Wr16(item + kShortItemIds, uint16_t(w.ids.size() * 2));
            // The bounds repeat the check above for the compiler's sake.
            for (size_t i = 0; i < w.ids.size() && i < 2; ++i)
                Wr16(item + kShortItemIds + 2 + 2 * i, w.ids[i]);
            Wr16(item + kShortItemGram, uint16_t(w.gramId));
            Wr16(item + kShortItemCost, uint16_t(w.cost | ((w.gramId >> 16) << 15)));
            Wr16(item + kShortItemText, uint16_t(w.text.size() * 2));
            for (size_t i = 0; i < w.text.size() && i < 2; ++i)
                Wr16(item + kShortItemText + 2 + 2 * i, uint16_t(w.text[i]));
            items.insert(items.end(), item, item + kShortItemSize);
            ++itemCount;
        }
    }

    std::vector<uint8_t> gram;
    if (!BuildGramImage(src.unigrams, src.pairs, src.gramSecondWord, gram, error)) return false;

    const uint32_t textUnits = uint32_t(text.size() / 2);
    Put32(out, uint32_t(src.date));
    Put32(out, kMagic);
    Put32(out, uint32_t(nodes.size()));
    Put32(out, recordCount);
    Put32(out, textUnits);
    Put32(out, uint32_t(src.classes.size()));
    Put32(out, itemCount);
    out.insert(out.end(), index.begin(), index.end());
    out.insert(out.end(), records.begin(), records.end());
    for (const t_nodeOut& n : nodes) {
        Put16(out, uint16_t(n.skip));
        Put16(out, n.id);
        Put32(out, uint32_t(n.word));
    }
    out.insert(out.end(), text.begin(), text.end());
    for (const auto& c : src.classes) out.insert(out.end(), c.begin(), c.end());
    out.insert(out.end(), block.begin(), block.end());
    out.insert(out.end(), items.begin(), items.end());
    out.insert(out.end(), gram.begin(), gram.end());
    if (out.size() > 0x7FFFFFFF) return Fail(error, "image beyond 2 GiB");
    if (stats) {
        stats->groups = uint32_t(groups.size());
        stats->nodes = uint32_t(nodes.size());
        stats->records = recordCount;
        stats->textUnits = textUnits;
        stats->shortItems = itemCount;
        stats->pairs = uint32_t(src.pairs.size());
        stats->gramBytes = gram.size();
    }
    return true;
}

bool BuildPyDictImage(const t_pyDictSource& src, std::vector<uint8_t>& out, std::string* error) {
    const size_t S = size_t(t_pyDict::kSyllables);
    if (src.syllables.size() != S) return Fail(error, "the syllable set must hold 413 syllables");
    if (src.costs.size() != S || src.pairCosts.size() != S * S)
        return Fail(error, "cost tables of wrong size");
    if (src.trigram.size() != size_t(t_pyDict::kTrigramKeys) ||
        src.xpos.size() != size_t(t_pyDict::kXposKeys))
        return Fail(error, "letter tables of wrong size");
    for (size_t i = 0; i < S; ++i) {
        const std::string& s = src.syllables[i];
        if (s.empty() || s.size() > 10 || (i > 0 && !(src.syllables[i - 1] < s)))
            return Fail(error, "syllables must be distinct and in code-unit order");
        for (char c : s)
            if (c < 'a' || c > 'z') return Fail(error, "syllable with a character other than a-z");
    }
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    t_pyDict::Describe(keys, attris, datas);
    std::vector<int32_t> buckets(std::begin(t_pyDict::kBuckets), std::end(t_pyDict::kBuckets));
    t_tableFileBuilder b;
    if (!b.InitStoreWithBuckets(keys, attris, datas, t_pyDict::kFormatVersion,
                                t_pyDict::kFormatVersion, {&t_pyDict::SyllableHash},
                                {&t_pyDict::SyllableCompare}, buckets))
        return Fail(error, "table layout refused");
    auto insert = [&](const t_packer& p, int k) {
        const std::vector<uint8_t> item = p.Packed();
        return b.InsertOne(item.data(), k) == 1;
    };
    for (const std::string& s : src.syllables)
        if (!insert(t_packer().Str16(std::u16string(s.begin(), s.end())), 0))
            return Fail(error, "insert failed");
    for (char c = 'A'; c <= 'Z'; ++c)
        if (!insert(t_packer().Str16(std::u16string(1, char16_t(c))), 0))
            return Fail(error, "insert failed");
    for (size_t i = 0; i < S; ++i)
        if (!insert(t_packer().U32(uint32_t(i)).U16(src.costs[i]), 1))
            return Fail(error, "insert failed");
    for (size_t i = 0; i < S * S; ++i)
        if (!insert(t_packer().U32(uint32_t(i)).U16(src.pairCosts[i]), 2))
            return Fail(error, "insert failed");
    for (size_t i = 0; i < src.trigram.size(); ++i)
        if ((src.trigramPresent.empty() || src.trigramPresent[i]) &&
            !insert(t_packer().U32(uint32_t(i)).U8(src.trigram[i]), 3))
            return Fail(error, "insert failed");
    for (size_t i = 0; i < src.xpos.size(); ++i)
        if ((src.xposPresent.empty() || src.xposPresent[i]) &&
            !insert(t_packer().U32(uint32_t(i)).U8(src.xpos[i]), 4))
            return Fail(error, "insert failed");
    if (!b.BuildPlainImage(out)) return Fail(error, "image does not fit");
    return true;
}

bool BuildHzDictImage(const std::vector<t_hzCharEntry>& chars, std::vector<uint8_t>& out,
                      std::string* error) {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    t_hzDict::Describe(keys, attris, datas);
    t_tableFileBuilder b;
    if (!b.InitStore(keys, attris, datas, t_hzDict::kFormatVersion, t_hzDict::kFormatVersion, {},
                     {}))
        return Fail(error, "table layout refused");
    uint32_t previous = 0;
    for (const t_hzCharEntry& c : chars) {
        if (c.ch == 0 || (c.ch >= 0xD800 && c.ch <= 0xDFFF))
            return Fail(error, "not a character of the BMP");
        if (c.ch <= previous) return Fail(error, "characters must be distinct and ascending");
        previous = c.ch;
        if (c.ids.empty() || c.ids.size() > 0x7FFF)
            return Fail(error, "character without readings");
        for (uint16_t id : c.ids) {
            const std::vector<uint8_t> item = t_packer()
                                                  .Str16(std::u16string(1, char16_t(c.ch)))
                                                  .U16(uint16_t(c.ids.size()))
                                                  .U16(id)
                                                  .Packed();
            if (b.InsertOne(item.data(), 0) != 1) return Fail(error, "insert failed");
        }
    }
    if (!b.BuildPlainImage(out)) return Fail(error, "image does not fit");
    return true;
}
