// The traditional-form trie: matching, and images that must be refused.
#include "kernel/lexicon/trad_dict.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/kernel/lexicon/built_data_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, size_t at, uint32_t v) {
    std::memcpy(b.data() + at, &v, 4);
}
void Put16(Bytes& b, size_t at, uint16_t v) {
    std::memcpy(b.data() + at, &v, 2);
}

// Builds an image from (simplified, replacement) pairs; a replacement equal to
// its text is stored as "keep the text".
Bytes BuildImage(const std::map<std::u16string, std::u16string>& pairs) {
    struct t_trie {
        std::map<char16_t, int> children;
        int32_t value = -1;
    };
    std::vector<t_trie> trie(1);
    Bytes values;
    for (const auto& [text, repl] : pairs) {
        int node = 0;
        for (auto it = text.rbegin(); it != text.rend(); ++it) {
            auto found = trie[size_t(node)].children.find(*it);
            if (found == trie[size_t(node)].children.end()) {
                trie.push_back({});
                found = trie[size_t(node)].children.emplace(*it, int(trie.size() - 1)).first;
            }
            node = found->second;
        }
        if (repl == text) {
            trie[size_t(node)].value = -2;
        } else {
            trie[size_t(node)].value = int32_t(values.size());
            const uint16_t n = uint16_t(repl.size() * 2);
            values.push_back(uint8_t(n));
            values.push_back(uint8_t(n >> 8));
            for (char16_t u : repl) {
                values.push_back(uint8_t(u));
                values.push_back(uint8_t(u >> 8));
            }
        }
    }
    // Breadth-first numbering keeps every node's children consecutive.
    std::vector<int> order{0}, number(trie.size(), 0);
    for (size_t i = 0; i < order.size(); ++i)
        for (const auto& [unit, child] : trie[size_t(order[i])].children) {
            number[size_t(child)] = int(order.size());
            order.push_back(child);
        }
    Bytes image(20 + 16 * order.size());
    Put32(image, 0, 20);
    Put32(image, 4, uint32_t(pairs.size()));
    Put32(image, 8, uint32_t(values.size()));
    Put32(image, 12, 16);
    Put32(image, 16, uint32_t(order.size()));
    for (size_t i = 0; i < order.size(); ++i) {
        const t_trie& t = trie[size_t(order[i])];
        const size_t at = 20 + 16 * i;
        const int first = t.children.empty() ? 0 : number[size_t(t.children.begin()->second)];
        Put16(image, at, 0);
        Put32(image, at + 4, uint32_t(first));
        Put32(image, at + 8, uint32_t(t.children.size()));
        Put32(image, at + 12, uint32_t(t.value));
    }
    for (size_t i = 1; i < order.size(); ++i) {
        // a node's unit is the key under which its parent holds it
        for (const t_trie& parent : trie)
            for (const auto& [unit, child] : parent.children)
                if (child == order[i]) Put16(image, 20 + 16 * i, uint16_t(unit));
    }
    image.insert(image.end(), values.begin(), values.end());
    return image;
}

struct t_attached {
    Bytes image;
    t_traDict dict;
    explicit t_attached(Bytes b) : image(std::move(b)) {
        dict.SetReady(dict.Load(image.data(), int32_t(image.size())));
    }
};

std::u16string Units(const t_lstr* s) {
    std::u16string out;
    for (uint16_t i = 0; i < LstrGetLength(s); ++i) out += char16_t(LstrGetUnit(s, i));
    return out;
}

t_lstr* MakeText(t_scopeHeap& heap, const std::u16string& text) {
    return heap.MakeLstr(text.data(), text.size() * 2);
}

// Converts a whole text the way the conversion does: the longest stored
// ending is replaced, then the text before it is converted in turn.
std::u16string Convert(const t_traDict& dict, const std::u16string& text) {
    t_scopeHeap heap;
    std::u16string rest = text, done;
    while (!rest.empty()) {
        t_lstr* out = nullptr;
        const int n = dict.MatchSuffix(&heap, &out, MakeText(heap, rest));
        if (n == 0) {
            done.insert(0, 1, rest.back());
            rest.pop_back();
            continue;
        }
        done.insert(0, out ? Units(out) : rest.substr(rest.size() - size_t(n)));
        rest.resize(rest.size() - size_t(n));
    }
    return done;
}

const std::map<std::u16string, std::u16string> kPairs = {
    {u"发", u"發"},     {u"头", u"頭"},     {u"头发", u"頭髮"}, {u"后", u"後"},
    {u"呂后", u"呂后"}, {u"皇后", u"皇后"}, {u"面", u"麪"},     {u"方便面", u"方便麪"},
    {u"里", u"裏"},     {u"里面", u"裏面"}, {u"公里", u"公里"},
};

}  // namespace

TEST(TradDictTest, PhraseWinsOverItsCharacters) {
    t_attached a(BuildImage(kPairs));
    ASSERT_TRUE(a.dict.IsReady());
    EXPECT_EQ(Convert(a.dict, u"头发"), u"頭髮");
    EXPECT_EQ(Convert(a.dict, u"发头"), u"發頭");
    EXPECT_EQ(Convert(a.dict, u"方便面"), u"方便麪");
}

TEST(TradDictTest, IdentityPhraseBlocksTheShorterWrongMatch) {
    t_attached a(BuildImage(kPairs));
    EXPECT_EQ(Convert(a.dict, u"后"), u"後");
    EXPECT_EQ(Convert(a.dict, u"呂后"), u"呂后");
    EXPECT_EQ(Convert(a.dict, u"皇后来"), u"皇后来");
    t_scopeHeap heap;
    t_lstr* out = reinterpret_cast<t_lstr*>(1);
    EXPECT_EQ(a.dict.MatchSuffix(&heap, &out, MakeText(heap, u"呂后")), 2);
    EXPECT_EQ(out, nullptr);  // a match that keeps its text
}

TEST(TradDictTest, LastCharacterUnknownMatchesNothing) {
    t_attached a(BuildImage(kPairs));
    t_scopeHeap heap;
    t_lstr* out = nullptr;
    EXPECT_EQ(a.dict.MatchSuffix(&heap, &out, MakeText(heap, u"头发x")), 0);
    EXPECT_EQ(out, nullptr);
}

TEST(TradDictTest, LongerMatchWithTextWins) {
    // both "AB" and "XYAB" are stored: the four-unit match wins
    t_attached a(BuildImage({{u"AB", u"ab"}, {u"XYAB", u"xyab"}, {u"B", u"b"}}));
    t_scopeHeap heap;
    t_lstr* out = nullptr;
    EXPECT_EQ(a.dict.MatchSuffix(&heap, &out, MakeText(heap, u"QXYAB")), 4);
    EXPECT_EQ(Units(out), u"xyab");
    EXPECT_EQ(a.dict.MatchSuffix(&heap, &out, MakeText(heap, u"YAB")), 2);
    EXPECT_EQ(Units(out), u"ab");
}

TEST(TradDictTest, NodeWithoutChildrenEndsTheWalk) {
    t_attached a(BuildImage({{u"B", u"b"}}));
    t_scopeHeap heap;
    t_lstr* out = nullptr;
    EXPECT_EQ(a.dict.MatchSuffix(&heap, &out, MakeText(heap, u"AAB")), 1);
    EXPECT_EQ(Units(out), u"b");
}

TEST(TradDictTest, NotReadyOrEmptyTextMatchesNothing) {
    t_attached a(BuildImage(kPairs));
    t_scopeHeap heap;
    t_lstr* out = nullptr;
    const uint8_t empty[2] = {0, 0};
    EXPECT_EQ(a.dict.MatchSuffix(&heap, &out, reinterpret_cast<const t_lstr*>(empty)), 0);
    EXPECT_EQ(a.dict.MatchSuffix(&heap, &out, nullptr), 0);
    EXPECT_EQ(a.dict.GetNodeSize(), 16u);
    t_traDict fresh;
    EXPECT_EQ(fresh.MatchSuffix(&heap, &out, MakeText(heap, u"发")), 0);
    EXPECT_EQ(fresh.GetNodeSize(), 0u);
}

// Regression: Load used to trust the node offset, the counts, the child
// ranges and the value offsets of the image.
TEST(TradDictTest, LoadRefusesImagesThatPointOutsideThemselves) {
    const Bytes good = BuildImage(kPairs);
    auto loads = [](Bytes b) {
        t_traDict d;
        return d.Load(b.data(), int32_t(b.size()));
    };
    ASSERT_TRUE(loads(good));
    const uint32_t nodes = 20;
    Bytes b = good;
    Put32(b, 0, 0xFFFFFFF0u);  // node area outside
    EXPECT_FALSE(loads(b));
    b = good;
    Put32(b, 16, 0x10000000u);  // too many nodes
    EXPECT_FALSE(loads(b));
    b = good;
    Put32(b, 16, 0);  // no root
    EXPECT_FALSE(loads(b));
    b = good;
    Put32(b, 12, 8);  // another node size
    EXPECT_FALSE(loads(b));
    b = good;
    Put32(b, nodes + 8, 0x7FFFFFFF);  // root: children past the node area
    EXPECT_FALSE(loads(b));
    b = good;
    Put32(b, nodes + 4, 0);  // root: the root as its own child
    EXPECT_FALSE(loads(b));
    b = good;
    Put32(b, nodes + 16 + 12, 0x00FFFFFF);  // a value offset past the end
    EXPECT_FALSE(loads(b));
    b = good;
    Put32(b, nodes + 16 + 12, uint32_t(-3));
    EXPECT_FALSE(loads(b));
    b = good;
    b.resize(b.size() - 1);  // the last text cut short
    EXPECT_FALSE(loads(b));
    EXPECT_FALSE(loads(Bytes(19, 0)));
    t_traDict d;
    EXPECT_FALSE(d.Load(nullptr, 100));
}

TEST(TradDictTest, UnsortedChildrenAreRefused) {
    Bytes b = BuildImage({{u"A", u"a"}, {u"B", u"b"}});
    ASSERT_EQ(b[20 + 16], 'A');
    Put16(b, 20 + 16, 'C');  // children C, B: out of order
    t_traDict d;
    EXPECT_FALSE(d.Load(b.data(), int32_t(b.size())));
}

// Every byte of a valid image set to values that break it: Load either
// refuses the image or every look-up stays inside it (checked under ASan).
TEST(TradDictTest, CorruptionSweepNeverReadsOutsideTheImage) {
    const Bytes good = BuildImage(kPairs);
    const std::u16string probes[] = {u"头发", u"呂后", u"方便面", u"公里面", u"x"};
    int accepted = 0;
    for (size_t at = 0; at < good.size(); ++at) {
        for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x7F), uint8_t(good[at] ^ 0x01),
                          uint8_t(0x10)}) {
            // an exact-size heap copy, so ASan sees any read past the end
            auto* copy = static_cast<uint8_t*>(malloc(good.size()));
            std::memcpy(copy, good.data(), good.size());
            copy[at] = v;
            t_traDict d;
            const bool ok = d.Load(copy, int32_t(good.size()));
            d.SetReady(ok);
            if (ok) {
                ++accepted;
                t_scopeHeap heap;
                for (const auto& p : probes) {
                    t_lstr* out = nullptr;
                    const int n = d.MatchSuffix(&heap, &out, MakeText(heap, p));
                    EXPECT_LE(n, int(p.size()));
                }
            }
            free(copy);
        }
    }
    EXPECT_GT(accepted, 0);
}

// The built traditional-form data, when the data build made it.
TEST(TradDictBuiltDataTest, HairAndIdentityPhrasesConvert) {
    Bytes image;
    if (!ReadBuiltSystemFile("qzim_tra.bin", image))
        GTEST_SKIP() << "qzim_tra.bin not built (data build off)";
    t_attached a(std::move(image));
    ASSERT_TRUE(a.dict.IsReady());
    EXPECT_EQ(Convert(a.dict, u"头发"), u"頭髮");
    EXPECT_EQ(Convert(a.dict, u"后"), u"後");
    EXPECT_EQ(Convert(a.dict, u"呂后"), u"呂后");  // identity phrase kept
    EXPECT_EQ(Convert(a.dict, u"汉语拼音输入法"), u"漢語拼音輸入法");
}
