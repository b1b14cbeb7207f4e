// The result objects without a kernel: element truncation and accessors, the
// fills from a kernel record and from raw values, the word buffer's merge,
// removal and truncation, refused appends, and exact reference counts (the
// sanitizer build reports any leak or double release).
#include "src/engine/results.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace n_engine {
namespace {

// An element: text, input ends, pinyin ids (none: no pinyin), covered input.
CVetraCoreResultElement* Element(const std::u16string& text, std::vector<int8_t> ends,
                                 std::vector<uint16_t> ids, uint32_t inputLength,
                                 const std::u16string& display = u"") {
    t_elementValues v;
    v.text = text.c_str();
    v.textUnits = uint32_t(text.size());
    v.displayText = display.empty() ? nullptr : display.c_str();
    v.displayUnits = uint32_t(display.size());
    v.inputEnds = ends.data();
    v.inputEndCount = uint32_t(ends.size());
    v.pinyin = ids.empty() ? nullptr : ids.data();
    v.pinyinCount = uint32_t(ids.size());
    v.inputLength = inputLength;
    return NewElementFromValues(v);
}

std::vector<int8_t> Ends(const IVetraCoreResultElement* e) {
    std::vector<int8_t> ends;
    for (uint32_t i = 0; i < e->GetInputEndCount(); ++i)
        ends.push_back(int8_t(e->GetInputEnd(int32_t(i))));
    return ends;
}

std::string Text(const char* s) {
    return s ? s : "(null)";
}

// An element of another implementation, with a text that can change.
struct t_foreignElement final : IVetraCoreResultElement {
    const char* text = nullptr;
    int32_t refs = 1;
    int32_t AddRef() override { return ++refs; }
    int32_t Release() override { return --refs; }  // lives on the stack
    const char* GetText() const override { return text; }
    uint32_t GetLength() const override { return text ? uint32_t(std::strlen(text)) : 0; }
    uint32_t GetInputLength() const override { return 3; }
    uint32_t GetInputEndCount() const override { return 3; }
    int32_t GetInputEnd(int32_t) const override { return 1; }
    const char* GetDisplayText() const override { return text; }
    bool Truncate(uint32_t) override { return false; }
    char* GetPinyinText() const override { return nullptr; }
};

std::map<int32_t, t_lstrHolder>& Spellings() {
    static auto* table = [] {
        auto* t = new std::map<int32_t, t_lstrHolder>;
        for (auto [id, s] : {std::pair{1, std::u16string(u"ni")}, {2, u"hao"}})
            t->emplace(id, t_lstrHolder(s.data(), s.size() * 2));
        return t;
    }();
    return *table;
}

const t_lstr* Spelling(int32_t id) {
    auto it = Spellings().find(id);
    return it == Spellings().end() ? nullptr : it->second.Get();
}

TEST(ResultElementTest, Truncate) {
    const struct {
        std::u16string display;
        std::vector<int8_t> ends;
        uint32_t n;
        bool ok;
        std::string text, shown;
        uint32_t inputLength, endCount, pinyinBytes;
    } cases[] = {
        {u"中國人", {2, 4, 7}, 2, true, "中国", "中國", 4, 2, 4},
        {u"中國人", {2, 4, 7}, 0, true, "", "", 0, 0, 0},
        {u"中國人", {2, 4, 7}, 3, false, "中国人", "中國人", 7, 3, 6},  // at the character count
        {u"中國人", {2, 4, 7}, 9, false, "中国人", "中國人", 7, 3, 6},
        {u"中", {2, 4, 7}, 1, false, "中国人", "中", 7, 3, 6},  // the display text is too short
        {u"", {}, 2, true, "中国", "中国", 7, 0, 4},  // no input end: the covered input stays
    };
    for (const auto& c : cases) {
        CVetraCoreResultElement* e = Element(u"中国人", c.ends, {1, 2, 3}, 7, c.display);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Truncate(c.n), c.ok) << c.n;
        EXPECT_EQ(Text(e->GetText()), c.text);
        EXPECT_EQ(Text(e->GetDisplayText()), c.shown);
        EXPECT_EQ(e->GetLength(), c.ok ? c.n : 3u);
        EXPECT_EQ(e->GetInputLength(), c.inputLength);
        EXPECT_EQ(e->GetInputEndCount(), c.endCount);
        EXPECT_EQ(e->GetPinyinBytes(), c.pinyinBytes);
        EXPECT_EQ(e->Release(), 0);
    }
}

TEST(ResultElementTest, InputEndsAndPinyinText) {
    CVetraCoreResultElement* e = Element(u"你好吗", {2, 5}, {1, 7, 2}, 5);
    for (auto [i, end] :
         {std::pair{-1, -1}, {0, 2}, {1, 5}, {2, -1} /* the count */, {3, -1} /* the length */})
        EXPECT_EQ(e->GetInputEnd(i), end) << i;
    SetPinyinSpellingSource(Spelling);
    char* pinyin = e->GetPinyinText();
    EXPECT_STREQ(pinyin, "[ni'hao]");  // id 7 has no spelling
    std::free(pinyin);
    EXPECT_EQ(e->Release(), 0);

    // 64 ends over a longer text: the index 64 is past the table.
    const std::u16string text(70, u'a');
    e = Element(text, std::vector<int8_t>(64, 1), {}, 0);
    EXPECT_EQ(e->GetInputEndCount(), 64u);
    EXPECT_EQ(e->GetInputEnd(63), 1);
    EXPECT_EQ(e->GetInputEnd(64), -1);
    EXPECT_FALSE(e->HasPinyin());
    pinyin = e->GetPinyinText();
    EXPECT_STREQ(pinyin, "[]");
    std::free(pinyin);
    EXPECT_STREQ(e->GetDisplayText(), e->GetText());
    EXPECT_EQ(e->Release(), 0);
    SetPinyinSpellingSource(nullptr);
}

TEST(ResultElementTest, FillFromRecord) {
    const std::u16string text = u"中国";
    const std::u16string surrogate = u"\xD800";
    const struct {
        const char* name;
        const std::u16string* text;
        uint32_t segments, ids;
        bool made;
        uint32_t endCount, pinyinIds;
    } cases[] = {
        {"64 segments and 63 ids fit", &text, 64, 63, true, 64, 63},
        {"65 segments: none", &text, 65, 2, true, 0, 2},
        {"64 ids: no pinyin", &text, 2, 64, true, 2, 0},
        {"no text", nullptr, 2, 2, false, 0, 0},
        {"text without UTF-8", &surrogate, 2, 2, false, 0, 0},
    };
    for (const auto& c : cases) {
        t_lstrHolder textHolder, segments, ids, second(u"中國", 4);
        if (c.text) textHolder.Assign(c.text->data(), c.text->size() * 2);
        std::vector<uint16_t> units(std::max(c.segments, c.ids));
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = uint16_t(0x1200 + i + 1);  // low byte i + 1
        segments.Assign(units.data(), c.segments * 2);
        ids.Assign(units.data(), c.ids * 2);
        t_candWord w;
        t_candWord::Clear(&w);
        w.text = c.text ? textHolder.Get() : nullptr;
        w.secondText = second.Get();
        w.segmentList = segments.Get();
        w.syllableIds = ids.Get();
        w.coveredLength = 6;
        CVetraCoreResultElement* e = NewElementFromRecord(w);
        ASSERT_EQ(e != nullptr, c.made) << c.name;
        if (!e) continue;
        EXPECT_EQ(Text(e->GetText()), "中国") << c.name;
        EXPECT_EQ(Text(e->GetDisplayText()), "中國");
        EXPECT_EQ(e->GetInputLength(), 6u);
        EXPECT_EQ(e->GetInputEndCount(), c.endCount) << c.name;
        EXPECT_EQ(e->GetInputEnd(1), c.endCount ? 2 : -1);
        EXPECT_EQ(e->GetPinyinBytes(), c.pinyinIds * 2) << c.name;
        EXPECT_EQ(e->HasPinyin(), c.pinyinIds != 0);
        EXPECT_EQ(e->Release(), 0);
    }
}

TEST(ResultElementTest, ListLeavesOutRecordsWithoutText) {
    t_lstrHolder good(u"好", 2), bad(u"\xDC00", 2), other(u"号", 2);
    t_candWord words[3];
    const t_lstr* texts[3] = {good.Get(), bad.Get(), other.Get()};
    const t_candWord* records[3];
    for (int i = 0; i < 3; ++i) {
        t_candWord::Clear(&words[i]);
        words[i].text = texts[i];
        records[i] = &words[i];
    }
    CVetraCoreResult* list = NewResultFromRecords(records, 3);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->GetCount(), 2);
    EXPECT_STREQ(list->GetElement(0)->GetText(), "好");
    EXPECT_STREQ(list->GetElement(1)->GetText(), "号");
    EXPECT_EQ(list->GetElement(2), nullptr);
    EXPECT_EQ(list->Release(), 0);
    EXPECT_EQ(NewResultFromRecords(records + 1, 1), nullptr);
}

int32_t LetterId(uint32_t ch) {
    return ch >= 'a' && ch <= 'z' ? int32_t(413 + ch - 'a') : -1;
}

TEST(ResultElementTest, UnconvertedText) {
    const struct {
        std::string text;
        bool made;
        uint32_t pinyinIds;
    } cases[] = {
        {"abc", true, 3},
        {std::string(63, 'q'), true, 63},
        {std::string(64, 'q'), true, 0},  // does not fit the room: no pinyin, nothing overrun
        {"a1", true, 0},                  // a byte without letter id
        {"\xE4\xB8", false, 0},           // not UTF-8
        {"", false, 0},
    };
    for (const auto& c : cases) {
        CVetraCoreResultElement* e = NewUnconvertedElement(c.text.c_str(), LetterId);
        ASSERT_EQ(e != nullptr, c.made) << c.text;
        if (!e) continue;
        EXPECT_EQ(Text(e->GetText()), c.text);
        EXPECT_EQ(e->GetLength(), c.text.size());
        EXPECT_EQ(e->GetInputLength(), 0u);
        EXPECT_EQ(e->GetInputEndCount(), 0u);
        EXPECT_EQ(e->GetPinyinBytes(), c.pinyinIds * 2) << c.text;
        if (c.pinyinIds) {
            EXPECT_EQ(LstrGetUnit(e->GetPinyin(), 2), 413 + c.text[2] - 'a');
        }
        EXPECT_EQ(e->Release(), 0);
    }
}

// Appends elements of the given input-end counts (one id per end, each end
// one letter further); checks what the merged word holds.
TEST(WordBufferTest, AppendFreezesTheTablesAtSixtyFourEnds) {
    const struct {
        std::vector<uint32_t> counts;
        uint32_t endCount, pinyinIds;
    } cases[] = {
        {{2, 3}, 5, 5},
        {{31, 32}, 63, 63},
        {{32, 32}, 32, 32},     // 64 ends: the second element adds text, length and input only
        {{40, 30, 1}, 40, 40},  // and stay so for later elements that would fit
    };
    for (const auto& c : cases) {
        CVetraCoreWordBuffer* buffer = CVetraCoreWordBuffer::Create();
        uint32_t length = 0, input = 0;
        std::vector<int8_t> expected;
        bool frozen = false;
        for (uint32_t count : c.counts) {
            std::vector<int8_t> ends;
            for (uint32_t k = 1; k <= count; ++k) ends.push_back(int8_t(k));
            CVetraCoreResultElement* e =
                Element(std::u16string(count, u'字'), ends, std::vector<uint16_t>(count, 5), count);
            ASSERT_TRUE(buffer->Append(e));
            EXPECT_EQ(e->Release(), 1);  // the buffer holds its own reference
            frozen = frozen || expected.size() + count > 63;
            if (!frozen)
                for (int8_t end : ends) expected.push_back(int8_t(input + uint32_t(end)));
            length += count;
            input += count;
        }
        EXPECT_EQ(buffer->GetLength(), length);
        EXPECT_EQ(std::string(buffer->GetText()).size(), 3 * length);
        EXPECT_EQ(buffer->GetInputLength(), input);
        EXPECT_EQ(buffer->GetInputEndCount(), c.endCount);
        EXPECT_EQ(Ends(buffer), expected);
        EXPECT_EQ(buffer->GetMerged()->GetPinyinBytes(), c.pinyinIds * 2);
        EXPECT_EQ(buffer->Release(), 0);
    }
}

TEST(WordBufferTest, ElementWithoutPinyinClearsItForGood) {
    CVetraCoreWordBuffer* buffer = CVetraCoreWordBuffer::Create();
    CVetraCoreResultElement* parts[] = {Element(u"中国", {3, 6}, {1, 2}, 6),
                                        Element(u"ok", {1, 2}, {}, 2), Element(u"人", {2}, {3}, 2)};
    for (auto* e : parts) {
        ASSERT_TRUE(buffer->Append(e));
        e->Release();
    }
    EXPECT_STREQ(buffer->GetText(), "中国ok人");
    EXPECT_EQ(buffer->GetLength(), 5u);
    EXPECT_FALSE(buffer->GetMerged()->HasPinyin());
    EXPECT_EQ(buffer->GetInputLength(), 6u);
    EXPECT_EQ(Ends(buffer), (std::vector<int8_t>{3, 6}));
    EXPECT_EQ(buffer->GetMerged()->GetPinyinBytes(), 4u);

    // Taking the last two off undoes only what they added.
    buffer->RemoveLast();
    buffer->RemoveLast();
    EXPECT_STREQ(buffer->GetText(), "中国");
    EXPECT_EQ(buffer->GetInputLength(), 6u);
    EXPECT_EQ(Ends(buffer), (std::vector<int8_t>{3, 6}));
    EXPECT_EQ(buffer->GetMerged()->GetPinyinBytes(), 4u);
    EXPECT_FALSE(buffer->GetMerged()->HasPinyin());
    EXPECT_EQ(buffer->Release(), 0);
}

TEST(WordBufferTest, InputEndsSaturateInsteadOfWrapping) {
    CVetraCoreWordBuffer* buffer = CVetraCoreWordBuffer::Create();
    for (int i = 0; i < 2; ++i) {
        CVetraCoreResultElement* e = Element(u"云", {100}, {1}, 100);
        buffer->Append(e);
        e->Release();
    }
    EXPECT_EQ(Ends(buffer), (std::vector<int8_t>{100, 127}));
    EXPECT_EQ(buffer->Release(), 0);
}

TEST(WordBufferTest, RemoveLast) {
    const struct {
        const char* name;
        const char* atAppend;  // the foreign element's text when appended and when removed
        const char* atRemove;
        std::string merged;
    } cases[] = {
        {"plain", "ab", "ab", "中"},
        {"missing text", nullptr, nullptr, "中"},
        {"text longer than the merged one", "", "much longer", "中"},
    };
    for (const auto& c : cases) {
        CVetraCoreWordBuffer* buffer = CVetraCoreWordBuffer::Create();
        CVetraCoreResultElement* first = Element(u"中", {2}, {1}, 2);
        buffer->Append(first);
        first->Release();
        t_foreignElement foreign;
        foreign.text = c.atAppend;
        ASSERT_TRUE(buffer->Append(&foreign));
        EXPECT_EQ(foreign.refs, 2);
        foreign.text = c.atRemove;
        buffer->RemoveLast();
        EXPECT_EQ(foreign.refs, 1) << c.name;  // released in every case
        EXPECT_EQ(Text(buffer->GetText()), c.merged) << c.name;
        EXPECT_EQ(buffer->GetLength(), 1u) << c.name;
        EXPECT_EQ(Ends(buffer), (std::vector<int8_t>{2})) << c.name;
        EXPECT_EQ(buffer->GetElementCount(), 1);
        buffer->RemoveLast();
        buffer->RemoveLast();  // on an empty list: nothing
        EXPECT_EQ(buffer->Release(), 0);
    }
}

TEST(WordBufferTest, TruncateReleasesTheLaterElements) {
    CVetraCoreWordBuffer* buffer = CVetraCoreWordBuffer::Create();
    EXPECT_FALSE(buffer->Truncate(0));
    CVetraCoreResultElement* parts[] = {Element(u"中国", {2, 5}, {1, 2}, 5),
                                        Element(u"人民", {2, 5}, {3, 4}, 5),
                                        Element(u"万岁", {2, 4}, {5, 6}, 4)};
    for (auto* e : parts) buffer->Append(e);
    EXPECT_FALSE(buffer->Truncate(7));
    ASSERT_TRUE(buffer->Truncate(3));
    EXPECT_STREQ(buffer->GetText(), "中国人");
    EXPECT_EQ(buffer->GetInputLength(), 7u);
    EXPECT_EQ(Ends(buffer), (std::vector<int8_t>{2, 5, 7}));
    EXPECT_STREQ(parts[1]->GetText(), "人");
    EXPECT_EQ(buffer->GetElementCount(), 2);
    EXPECT_EQ(parts[2]->Release(), 0);  // the buffer let go of it
    buffer->RemoveLast();
    EXPECT_STREQ(buffer->GetText(), "中国");
    EXPECT_EQ(Ends(buffer), (std::vector<int8_t>{2, 5}));
    EXPECT_EQ(parts[1]->Release(), 0);
    buffer->ClearElements();
    EXPECT_EQ(buffer->GetText(), nullptr);
    EXPECT_EQ(parts[0]->Release(), 0);
    EXPECT_EQ(buffer->Release(), 0);
}

void* FailingRealloc(void*, size_t) {
    return nullptr;
}

// A list that cannot grow refuses the append and leaves the reference with
// the caller: releasing it once frees it (no leak, no double release).
TEST(ResultListTest, RefusedAppendLeavesTheReference) {
    CVetraCoreAbbrResult* abbrs = CVetraCoreAbbrResult::Create();
    CVetraCoreResult* results = CVetraCoreResult::Create();
    CVetraCoreQuickInputResult* quick = CVetraCoreQuickInputResult::Create();
    CVetraCoreWordBuffer* buffer = CVetraCoreWordBuffer::Create();
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(results->Append(Element(u"字", {}, {}, 0)));  // grows by doubling

    const t_reallocFn previous = SetArrayReallocator(FailingRealloc);
    CVetraCoreAbbrElement* abbr = CVetraCoreAbbrElement::Create();
    EXPECT_FALSE(abbrs->Append(abbr));
    EXPECT_EQ(abbrs->GetCount(), 0);
    EXPECT_EQ(abbr->Release(), 0);
    CVetraCoreQuickInputElement* entry = CVetraCoreQuickInputElement::Create();
    EXPECT_FALSE(quick->Append(entry));
    EXPECT_EQ(entry->Release(), 0);
    CVetraCoreResultElement* e = Element(u"字", {1}, {1}, 1);
    EXPECT_FALSE(buffer->Append(e));
    EXPECT_EQ(buffer->GetLength(), 0u);
    for (int i = 1000; i < 1024; ++i)
        ASSERT_TRUE(results->Append(Element(u"字", {}, {}, 0)));  // room left
    EXPECT_FALSE(results->Append(e));
    EXPECT_EQ(results->GetCount(), 1024);
    EXPECT_EQ(e->Release(), 0);
    SetArrayReallocator(previous);

    EXPECT_FALSE(abbrs->Append(nullptr));
    EXPECT_EQ(abbrs->Release(), 0);
    EXPECT_EQ(results->Release(), 0);
    EXPECT_EQ(quick->Release(), 0);
    EXPECT_EQ(buffer->Release(), 0);
}

}  // namespace
}  // namespace n_engine
