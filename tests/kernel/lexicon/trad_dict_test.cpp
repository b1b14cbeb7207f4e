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

TEST(TradDictTest, LongestStoredEndingDecidesTheConversion) {
    t_attached a(BuildImage(kPairs));
    ASSERT_TRUE(a.dict.IsReady());
    const struct {
        const char16_t* text;
        const char16_t* converted;
    } conversions[] = {
        {u"头发", u"頭髮"}, {u"发头", u"發頭"}, {u"方便面", u"方便麪"},
        {u"后", u"後"},     {u"呂后", u"呂后"}, {u"皇后来", u"皇后来"},  // identity blocks 后
    };
    for (size_t i = 0; i < std::size(conversions); ++i)
        EXPECT_EQ(Convert(a.dict, conversions[i].text), conversions[i].converted) << "row " << i;

    // One match at the end of the text: its length, and its text or none
    // when the text is kept.
    const struct {
        std::map<std::u16string, std::u16string> pairs;
        const char16_t* text;
        int length;
        const char16_t* replacement;  // null: out is left null
    } matches[] = {
        {kPairs, u"呂后", 2, nullptr},
        {kPairs, u"头发x", 0, nullptr},  // last character unknown
        {{{u"AB", u"ab"}, {u"XYAB", u"xyab"}, {u"B", u"b"}}, u"QXYAB", 4, u"xyab"},  // longer wins
        {{{u"AB", u"ab"}, {u"XYAB", u"xyab"}, {u"B", u"b"}}, u"YAB", 2, u"ab"},
        {{{u"B", u"b"}}, u"AAB", 1, u"b"},  // a node without children ends the walk
    };
    for (size_t i = 0; i < std::size(matches); ++i) {
        const auto& m = matches[i];
        SCOPED_TRACE("match row " + std::to_string(i));
        t_attached d(BuildImage(m.pairs));
        t_scopeHeap heap;
        t_lstr* out = reinterpret_cast<t_lstr*>(1);
        EXPECT_EQ(d.dict.MatchSuffix(&heap, &out, MakeText(heap, m.text)), m.length);
        if (m.replacement)
            EXPECT_EQ(Units(out), m.replacement);
        else
            EXPECT_EQ(out, nullptr);
    }
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
    const struct {
        size_t at;
        uint32_t value;
        const char* what;
    } damage[] = {
        {0, 0xFFFFFFF0u, "node area outside"},
        {16, 0x10000000u, "too many nodes"},
        {16, 0, "no root"},
        {12, 8, "another node size"},
        {nodes + 8, 0x7FFFFFFF, "root children past the node area"},
        {nodes + 4, 0, "the root as its own child"},
        {nodes + 16 + 12, 0x00FFFFFF, "a value offset past the end"},
        {nodes + 16 + 12, uint32_t(-3), "a negative value offset"},
    };
    for (const auto& d : damage) {
        Bytes b = good;
        Put32(b, d.at, d.value);
        EXPECT_FALSE(loads(b)) << d.what;
    }
    Bytes b = good;
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
