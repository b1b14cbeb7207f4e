// The candidate collector, the context adjustment and the name marks: a
// hand-worked lattice for the walk, the bound and the group-abandon rule,
// and the built data for the rankings a user sees.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/cand_collector.h"
#include "kernel/convert/freq_adjust.h"
#include "kernel/convert/name_marks.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/recent_cache.h"
#include "tests/kernel/convert/convert_support.h"
#include "tests/kernel/convert/user_sources_support.h"

using namespace convtest;

namespace {

t_sysWordEntry W(std::initializer_list<const char*> ids, const std::u16string& text, uint16_t cost,
                 uint8_t flags = 0, uint32_t cls = 0) {
    t_sysWordEntry w;
    w.ids = Ids(ids);
    w.text = text;
    w.cost = cost;
    w.flags = flags;
    w.classIndex = cls;
    return w;
}

// 你 泥 尼 (costs 10 20 30), 里, 你好, 你好吗; 王 a surname (class 1),
// 王明 a person name, 明 a name-like word.
const t_testLexicon& Fixture() {
    static const std::unique_ptr<t_testLexicon> lex = [] {
        auto l = std::make_unique<t_testLexicon>();
        EXPECT_TRUE(
            l->MakeSmall({W({"ni"}, u"你", 10), W({"ni"}, u"泥", 20), W({"ni"}, u"尼", 30),
                          W({"li"}, u"里", 15), W({"ni", "hao"}, u"你好", 15),
                          W({"ni", "hao", "ma"}, u"你好吗", 12), W({"wang"}, u"王", 10, 0, 1),
                          W({"wang", "ming"}, u"王明", 40, n_sysDict::kFlagPersonName),
                          W({"ming"}, u"明", 20, n_sysDict::kFlagNameLike),
                          W({"ni", "hao", "ma", "li"}, u"你好吗里", 800),
                          W({"ni", "hao", "ma", "ni"}, u"你好吗你", 950)}));
        return l;
    }();
    return *lex;
}

uint32_t GroupOf(const t_sysDict& sys, std::initializer_list<const char*> syllables) {
    t_sysDictCursor c(&sys);
    for (uint16_t id : Ids(syllables)) {
        uint8_t stepped = 0;
        c.PushSyllable(id, &stepped);
    }
    return uint32_t(c.word);
}

// A lattice of three positions with hand-placed system arcs from 0.
struct t_handRun {
    t_scopeHeap arena;
    t_inputLattice lattice{&arena, &arena};
    std::vector<Bytes> keep;

    void Arc(int end, std::initializer_list<const char*> syllables, float p) {
        const t_sysDict& sys = Fixture().sys;
        keep.push_back(Units(Ids(syllables)));
        std::vector<uint16_t> pos;
        for (int i = 1; i <= end; ++i) pos.push_back(uint16_t(i));
        keep.push_back(Units(pos));
        lattice.AddArc(0, end, GroupOf(sys, syllables), L(keep[keep.size() - 2]), L(keep.back()), 0,
                       kArcSourceSystem, int32_t(syllables.size()), kArcKindSure, 0, p);
    }
    std::vector<std::u16string> Collect(const std::vector<double>& probs, uint32_t count,
                                        t_candCollector** keepC) {
        t_candWord* page[16] = {};
        arrays.push_back(std::make_unique<t_arrayWord>(page, 0, count, 0, nullptr, &arena));
        collectors.push_back(std::make_unique<t_candCollector>(&arena, Fixture().Dicts(), &lattice,
                                                               arrays.back().get()));
        collectors.back()->CollectAll(probs.data(), false);
        if (keepC) *keepC = collectors.back().get();
        std::vector<std::u16string> out;
        const int n = arrays.back()->Arrange();
        for (int i = 0; i < n; ++i) out.push_back(ToU16(page[i]->text));
        return out;
    }
    std::vector<std::unique_ptr<t_arrayWord>> arrays;
    std::vector<std::unique_ptr<t_candCollector>> collectors;
};

}  // namespace

// Expected orders worked out by hand: score (the arc's probability) first,
// then cost; an end whose probability lies below the bound is skipped; a
// refused entry ends its group (no context).
TEST(CandCollectorTest, WalkBoundAndGroupAbandon) {
    struct {
        const char* name;
        std::vector<double> probs;
        float pShort;  // arc 0..1 (你 泥 尼)
        uint32_t count;
        std::vector<std::u16string> expected;
        double bound;
        uint32_t firstAdded;
    } cases[] = {
        // 你好吗 .6, 你好 .5, then 你 .9 and 泥 .9 evict both; 尼 is refused: bound .9.
        {"all ends", {1, .9, .5, .6}, .9f, 2, {u"你", u"泥"}, .9, 3},
        // 你好 is refused at end 2 (bound .5), so end 1 at .4 is never asked.
        {"bounded end", {1, .4, .5, .6}, .9f, 1, {u"你好吗"}, .5, 3},
        // 你 (.3) is refused after 你好吗 and 你好; 泥 and 尼 are not offered.
        {"group abandoned", {1, .9, .5, .6}, .3f, 2, {u"你好吗", u"你好"}, .3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        t_handRun run;
        run.lattice.Reset(3);
        run.Arc(3, {"ni", "hao", "ma"}, .6f);
        run.Arc(2, {"ni", "hao"}, .5f);
        run.Arc(1, {"ni"}, c.pShort);
        t_candCollector* col = nullptr;
        EXPECT_EQ(run.Collect(c.probs, c.count, &col), c.expected);
        EXPECT_NEAR(col->GetBound(), c.bound, 1e-6);
        EXPECT_EQ(col->GetFirstAddedEnd(), c.firstAdded);
        EXPECT_EQ(col->GetLongestEnd(), 3u);
    }
}

// After 你好 the filter keeps four-character words of cost 900 at most.
TEST(CandCollectorTest, FourCharacterAssociationFilter) {
    for (bool four : {false, true}) {
        t_handRun run;
        run.lattice.Reset(2);
        t_candWord* page[8] = {};
        t_arrayWord array(page, 0, 8, 0, nullptr, &run.arena);
        t_candCollector col(&run.arena, Fixture().Dicts(), &run.lattice, &array);
        col.SetFourCharAssociation(four);
        const std::vector<uint16_t> ids = Ids({"ni", "hao"}), pos = {2, 5};
        col.ScoreAssociation(0, ids.data(), pos.data(), 2, 1.0);
        std::vector<std::u16string> got;
        for (int i = 0, n = array.Arrange(); i < n; ++i) got.push_back(ToU16(page[i]->text));
        const std::vector<std::u16string> all = {u"你好吗", u"你好吗里", u"你好吗你"},
                                          kept = {u"你好吗里"};
        EXPECT_EQ(got, four ? kept : all);
    }
}

// A weak arc listed before a strong one at the same end must not cut off
// the strong one's word by its refusal.
TEST(CandCollectorTest, GoodWordOfALaterGroupIsKept) {
    t_handRun run;
    run.lattice.Reset(1);
    run.Arc(1, {"ni"}, .2f);
    run.Arc(1, {"li"}, .9f);
    EXPECT_EQ(run.Collect({1, 1}, 1, nullptr), std::vector<std::u16string>{u"里"});
}

TEST(CandCollectorTest, CellRankStaysInSixteenBits) {
    const struct {
        int64_t freq;
        double factor;
        int16_t rank;
    } cases[] = {{40000, 1.0, 32767}, {100, .5, 50}, {5, .1, 1},
                 {0, 1.0, -1},        {-3, 1.0, -1}, {1LL << 40, 1.0, 32767}};
    for (const auto& c : cases) EXPECT_EQ(CellWordRank(c.freq, c.factor), c.rank) << c.freq;
}

// A letter of the text takes the capital typed within its syllable's span.
TEST(CandCollectorTest, CaseMapCapitalisesTypedLetters) {
    const struct {
        const wchar_t* input;
        std::u16string text;
        std::vector<uint16_t> ends;
        std::u16string expected;
    } cases[] = {{L"aBc", u"abc", {1, 2, 3}, u"aBc"},
                 {L"ABc", u"ab", {2, 3}, u"Ab"},    // the first capital typed in the span
                 {L"Abc", u"中b", {1, 3}, u"中b"},  // only ASCII letters change
                 {L"ABC", u"a", {1, 2, 3}, u"a"}};  // a text shorter than its segments stays
    for (const auto& c : cases) {
        t_scopeHeap arena;
        t_inputCaseMap map;
        map.Init(&arena, c.input, int(std::wcslen(c.input)));
        ASSERT_TRUE(map.IsActive());
        Bytes text = Text(c.text), ends = Units(c.ends);
        t_candWord w;
        t_candWord::Clear(&w);
        w.text = L(text);
        w.segmentList = L(ends);
        map.Apply(&w, &arena);
        EXPECT_EQ(ToU16(w.text), c.expected) << int(c.text[0]);
    }
    t_scopeHeap arena;
    t_inputCaseMap lower;
    lower.Init(&arena, L"abc", 3);
    EXPECT_FALSE(lower.IsActive());
}

TEST(CandCollectorTest, NameMarks) {
    const t_sysDict& sys = Fixture().sys;
    uint32_t wangMing = GroupOf(sys, {"wang", "ming"}), wang = GroupOf(sys, {"wang"});
    t_nameMarkState state;
    t_candWord w;
    t_candWord::Clear(&w);
    SetSystemWordNameMark(&state, wangMing, &sys, &w, true, true);
    EXPECT_EQ(w.nameMark, kCandNameMarkPerson);
    EXPECT_EQ(state.found, 1);
    SetSystemWordNameMark(&state, wangMing, &sys, &w, true, true);  // once per run
    EXPECT_EQ(w.nameMark, 0);
    SetSystemWordNameMark(&state, wang, &sys, &w, true, true);  // by its class
    EXPECT_EQ(w.nameMark, 2);
    EXPECT_EQ(w.markCompanion, 1);
    SetUserWordNameMark(&state, 3, &w, true, true);
    EXPECT_EQ(uint8_t(w.nameMark), 128);
    EXPECT_EQ(w.markCompanion, 3);
}

TEST(CandCollectorTest, ComposedNameIsOneCandidateInPathOrder) {
    const t_sysDict& sys = Fixture().sys;
    t_scopeHeap arena;
    t_candWord* page[4] = {};
    t_arrayWord array(page, 0, 4, 0, nullptr, &arena);
    Bytes wangIds = Units(Ids({"wang"})), mingIds = Units(Ids({"ming"})), s1 = Units({1}),
          s2 = Units({2}), s3 = Units({3});
    uint32_t off[3];
    uint16_t cost;
    uint32_t gram;
    uint8_t more;
    sys.GetWordRecord(GroupOf(sys, {"wang"}), &off[0], &cost, &gram, &more);
    sys.GetWordRecord(GroupOf(sys, {"ming"}), &off[1], &cost, &gram, &more);
    sys.GetWordRecord(GroupOf(sys, {"ni"}), &off[2], &cost, &gram, &more);
    const t_nameNode nodes[3] = {
        {L(wangIds), L(s1), off[0]}, {L(mingIds), L(s2), off[1]}, {L(s3), L(s3), off[2]}};
    ASSERT_EQ(AddComposedNames(&array, &arena, &sys, 3, nodes, 3, 700, false), kArrayAdded);
    ASSERT_EQ(array.Arrange(), 1);
    EXPECT_EQ(ToU16(page[0]->text), u"王明你");
    EXPECT_EQ(page[0]->sourceType, kCandSourceComposedName);
    EXPECT_EQ(page[0]->rank, 700);
    EXPECT_EQ(LstrGetLength(page[0]->segmentList), 3);
}

// Every dictionary's words reach the page with their kind and source; the
// learned word leads, a cloud-cache word is ordered by its hits.
TEST(CandCollectorTest, EveryDictionaryReachesThePage) {
    t_convertDicts dicts = SmallLexicon().Dicts();
    t_otherSources sources;
    ASSERT_TRUE(sources.Make());
    sources.AddTo(dicts);
    const Bytes woaini = Units(Ids({"wo", "ai", "ni"}));
    t_cloudCacheDict cache;
    ASSERT_TRUE(cache.AttachEmpty());
    const Bytes answer = Text(u"我矮你");
    ASSERT_EQ(cache.AddEntry(L(woaini), L(answer), 7, 0, L(answer), L(answer)), 1);
    dicts.cloudCache = &cache;

    t_scopeHeap records;
    t_candWord* page[16] = {};
    t_arrayWord array(page, 0, 16, 0, nullptr, &records);
    t_conversion conv;
    t_candCollector col(&records, dicts, &conv.input, &array);
    t_findSwitches on;
    on.cell = on.user = on.privilege = on.cloudCache = true;
    on.cloudCollector = &col;
    ASSERT_TRUE(conv.Run(dicts, L"woaini", on));
    std::vector<double> probs;
    for (int e = 0; e <= conv.syllables.GetLength(); ++e)
        probs.push_back(conv.syllables.GetForward(e));
    col.CollectAll(probs.data(), false);
    const struct {
        std::u16string text;
        uint16_t kind, source;
    } expected[] = {{u"沃爱妮", kCandKindUser, kCandSourceUser},
                    {u"我爱你", kCandKindScored, kCandSourceSystem},
                    {u"我爱妮", kCandKindCell, kCandSourceCell},
                    {u"我愛你", kCandKindScored, kCandSourcePrivilege},
                    {u"卧爱", kCandKindExternal, kCandSourceExternalUser},
                    {u"我矮你", kCandKindScored, kCandSourceCloud}};
    const int n = array.Arrange();
    ASSERT_GT(n, 0);
    EXPECT_EQ(ToU16(page[0]->text), u"沃爱妮");
    for (const auto& e : expected) {
        const t_candWord* w = nullptr;
        for (int i = 0; i < n; ++i)
            if (ToU16(page[i]->text) == e.text) w = page[i];
        ASSERT_NE(w, nullptr) << int(e.text[0]);
        EXPECT_EQ(w->kind, e.kind) << int(e.text[0]);
        EXPECT_EQ(w->sourceType, e.source) << int(e.text[0]);
        if (e.source == kCandSourceCloud) {
            EXPECT_EQ(w->orderNumber, 7);
        }
    }
    // After wo ai the user, cell and privilege words of wo ai ni follow.
    t_candWord* assoc[16] = {};
    t_arrayWord next(assoc, 0, 16, 0, nullptr, &records);
    t_candCollector after(&records, dicts, &conv.input, &next);
    after.SetAssociationSources(true, true, true);
    const std::vector<uint16_t> path = Ids({"wo", "ai"}), ends = {2, 4};
    after.ScoreAssociation(0, path.data(), ends.data(), 2, 1.0);
    std::set<std::u16string> got;
    for (int i = 0, m = next.Arrange(); i < m; ++i) got.insert(ToU16(assoc[i]->text));
    for (const char16_t* w : {u"我爱你", u"沃爱妮", u"我爱妮", u"我愛你"})
        EXPECT_TRUE(got.count(w)) << int(w[0]);
    // After wo alone the external word of wo ai follows too.
    t_candWord* fromWo[16] = {};
    t_arrayWord afterWo(fromWo, 0, 16, 0, nullptr, &records);
    t_candCollector external(&records, dicts, &conv.input, &afterWo);
    external.SetAssociationSources(false, false, false, true);
    external.ScoreAssociation(0, path.data(), ends.data(), 1, 1.0);
    got.clear();
    for (int i = 0, m = afterWo.Arrange(); i < m; ++i) got.insert(ToU16(fromWo[i]->text));
    EXPECT_TRUE(got.count(u"卧爱"));
}

// ---------------------------------------------------------------- built data

namespace {

class CollectorBuiltTest : public ::testing::Test {
protected:
    void SetUp() override {
        lex = BuiltLexicon();
        if (!lex) GTEST_SKIP() << "VETRA_SYSTEM_DATA_DIR is unset (the data build sets it)";
        dicts = lex->Dicts();
        hzBytes = [] {
            FILE* f = std::fopen((BuiltDataDir() + "/qzim_hz.bin").c_str(), "rb");
            Bytes b;
            if (!f) return b;
            uint8_t buf[65536];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
                b.insert(b.end(), buf, buf + n);
            std::fclose(f);
            return b;
        }();
        ASSERT_TRUE(hz.Load(hzBytes.data(), int32_t(hzBytes.size())));
    }
    // The page of an input (whole-input candidates first).
    std::vector<std::u16string> Page(const std::wstring& input, t_freqAdjust* adjust,
                                     bool user = false, int count = 12) {
        t_findSwitches sw;
        sw.user = user;
        conv = std::make_unique<t_conversion>();
        EXPECT_TRUE(conv->Run(dicts, input, sw));
        std::vector<double> probs;
        for (int e = 0; e <= conv->syllables.GetLength(); ++e)
            probs.push_back(conv->syllables.GetForward(e));
        t_candWord* page[64] = {};
        t_arrayWord array(page, 0, uint32_t(count), 0, nullptr, &conv->arena);
        t_candCollector col(&conv->arena, dicts, &conv->input, &array);
        col.SetCharReadings(&hz);
        col.SetAdjust(adjust);
        if (names) col.SetNameMarker(names, true);
        col.CollectAll(probs.data(), false);
        std::vector<std::u16string> out;
        records.clear();
        for (int i = 0, n = array.Arrange(); i < n; ++i) {
            out.push_back(ToU16(page[i]->text));
            records.push_back(page[i]);
        }
        return out;
    }
    uint32_t GramOf(std::initializer_list<const char*> syllables, const std::u16string& text) {
        Bytes ids = Units(Ids(syllables)), t = Text(text);
        uint32_t gram = 0;
        EXPECT_TRUE(lex->sys.FindWord(L(ids), L(t), nullptr, nullptr, &gram)) << int(text[0]);
        return gram;
    }
    static int IndexOf(const std::vector<std::u16string>& page, const std::u16string& w) {
        for (size_t i = 0; i < page.size(); ++i)
            if (page[i] == w) return int(i);
        return 1000;
    }
    const t_testLexicon* lex = nullptr;
    t_convertDicts dicts;
    Bytes hzBytes;
    t_hzDict hz;
    std::unique_ptr<t_conversion> conv;
    t_nameMarkState* names = nullptr;
    std::vector<const t_candWord*> records;
};

}  // namespace

TEST_F(CollectorBuiltTest, CheckWordPinyinRefusesAMismatchedReading) {
    const struct {
        std::initializer_list<const char*> ids;
        std::u16string text;
        int ok;
    } cases[] = {{{"ni", "hao"}, u"你好", 1},
                 {{"ni", "hao"}, u"你们", 0},
                 {{"hang"}, u"行", 1},
                 {{"ni"}, u"你好", 0},
                 {{"a"}, u"a", 0}};
    for (const auto& c : cases) {
        Bytes ids = Units(Ids(c.ids)), t = Text(c.text);
        EXPECT_EQ(CheckWordPinyin(&lex->py, &hz, L(ids), L(t)), c.ok) << int(c.text[0]);
    }
    Bytes bad = Units({441}), t = Text(u"你");
    EXPECT_EQ(CheckWordPinyin(&lex->py, &hz, L(bad), L(t)), 0);
}

TEST_F(CollectorBuiltTest, LearnedUserWordOutranksTheSystemWord) {
    t_usrDictV3Core usr;
    ASSERT_TRUE(usr.CreateEmpty(1000));
    Bytes ids = Units(Ids({"shi", "shi"})), word = Text(u"时事"), wrong = Text(u"你好");
    ASSERT_NE(usr.LearnWord(L(ids), L(word), 0), 0);
    ASSERT_NE(usr.LearnWord(L(ids), L(wrong), 0), 0);  // not readable as shishi: never shown
    dicts.user = &usr;
    const auto page = Page(L"shishi", nullptr, true);
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(page[0], u"时事");
    EXPECT_EQ(IndexOf(page, u"你好"), 1000);
}

// The word committed just before (named by the caller, or the newest
// committed word) raises its usual follower; after a number the context is
// the number's.
TEST_F(CollectorBuiltTest, PrecedingWordRaisesItsFollower) {
    const auto plain = Page(L"fan", nullptr);
    Bytes ctx = Text(u"吃"), ctxIds = Units(Ids({"chi"}));
    t_submittedUsrWord submitted, lastTwo;
    submitted.Add(L(ctxIds), L"吃");
    Bytes twoIds = Units(Ids({"wo", "chi"}));
    lastTwo.Add(L(twoIds), L"我吃");
    t_adjustRequest byCaller, byCommit, byTail, byNumber;
    byCaller.on = byCommit.on = byTail.on = byNumber.on = true;
    byTail.recentText = L"我吃";  // only its last character is compared
    byTail.recentLength = 1;
    byTail.submitted = &lastTwo;
    byCaller.wordText = L(ctx);
    byCaller.wordIds = L(ctxIds);
    byCommit.recentText = L"吃";
    byCommit.recentLength = 1;
    byCommit.submitted = &submitted;
    byNumber.number = true;
    for (const t_adjustRequest* r : {&byCaller, &byCommit, &byTail}) {
        t_freqAdjust adjust;
        adjust.src = {&lex->sys, &lex->py, &hz, nullptr, nullptr};
        PrepareContextAdjust(&adjust, *r);
        EXPECT_EQ(adjust.ids[0], int32_t(GramOf({"chi"}, u"吃")));
        adjust.Init(adjust.src, 0, 1);
        const auto after = Page(L"fan", &adjust);
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(after[0], u"饭");
        EXPECT_LT(IndexOf(after, u"饭"), IndexOf(plain, u"饭"));
    }
    t_freqAdjust adjust;
    PrepareContextAdjust(&adjust, byNumber);
    EXPECT_EQ(adjust.ids[0], kNumberContextId);
}

TEST_F(CollectorBuiltTest, RecentInputRaisesItsUserWord) {
    t_usrDictV3Core usr;
    ASSERT_TRUE(usr.CreateEmpty(1000));
    Bytes ids = Units(Ids({"shi", "shi"})), often = Text(u"时事"), recent = Text(u"实施");
    for (int i = 0; i < 5; ++i) ASSERT_NE(usr.LearnWord(L(ids), L(often), 0), 0);
    ASSERT_NE(usr.LearnWord(L(ids), L(recent), 0), 0);
    dicts.user = &usr;
    t_usrInputCache inputs;
    inputs.Init();
    t_freqAdjust adjust;
    Bytes ctx = Text(u"我们");
    adjust.contextText = L(ctx);
    adjust.Init({&lex->sys, &lex->py, &hz, nullptr, &inputs}, 2, 1);
    EXPECT_EQ(Page(L"shishi", &adjust, true)[0], u"时事");
    ASSERT_TRUE(inputs.Add(L"实施"));
    EXPECT_EQ(Page(L"shishi", &adjust, true)[0], u"实施");
}

// A character's rare reading ranks by its own frequency, not the
// character's: 说 is read shuo far more often than yue.
TEST_F(CollectorBuiltTest, SingleCharactersRankByTheirReading) {
    const struct {
        const wchar_t* input;
        std::vector<std::u16string> before;
        std::u16string after;
        int minIndex;  // of after (for xing, its common reading: the most)
    } cases[] = {{L"yue", {u"月", u"越", u"约"}, u"说", 3},
                 {L"heng", {u"横", u"恒"}, u"行", 2},
                 {L"ni", {u"你"}, u"呢", 2},
                 {L"xing", {}, u"行", 2}};
    for (const auto& c : cases) {
        const auto page = Page(c.input, nullptr, false, 30);
        for (const auto& b : c.before)
            EXPECT_LT(IndexOf(page, b), IndexOf(page, c.after)) << int(b[0]);
        if (c.before.empty())
            EXPECT_LE(IndexOf(page, c.after), c.minIndex);
        else
            EXPECT_GE(IndexOf(page, c.after), c.minIndex);
    }
}

// Words the model knows badly cost no more than the path through their parts.
TEST_F(CollectorBuiltTest, WordsNoWorseThanTheirParts) {
    for (const auto& [input, word] : {std::pair{L"yige", u"一个"}, std::pair{L"nihao", u"你好"}}) {
        const auto page = Page(input, nullptr, false, 40);
        int firstWhole = -1;
        for (size_t i = 0; i < records.size() && firstWhole < 0; ++i)
            if (records[i]->coveredLength == std::wcslen(input)) firstWhole = int(i);
        ASSERT_GE(firstWhole, 0);
        EXPECT_EQ(page[size_t(firstWhole)], word);
    }
}

// 邓颖超 is a name of the word list; 刘 + 志 + 强 read as a name that is not.
TEST_F(CollectorBuiltTest, PersonNames) {
    t_nameMarkState state;
    names = &state;
    const auto page = Page(L"dengyingchao", nullptr);
    const int at = IndexOf(page, u"邓颖超");
    ASSERT_LT(at, int(page.size()));
    EXPECT_EQ(records[size_t(at)]->nameMark, kCandNameMarkPerson);
    EXPECT_EQ(state.found, 1);

    Page(L"liuzhiqiang", nullptr);
    t_nameNode nodes[3];
    int16_t value = 0;
    ASSERT_EQ(FindSurnameName(&conv->input, &lex->sys, nodes, &value), 3);
    t_candWord* out[4] = {};
    t_arrayWord array(out, 0, 4, 0, nullptr, &conv->arena);
    ASSERT_EQ(AddComposedNames(&array, &conv->arena, &lex->sys, 11, nodes, 3, value, true),
              kArrayAdded);
    ASSERT_EQ(array.Arrange(), 1);
    const std::u16string name = ToU16(out[0]->text);
    EXPECT_EQ(name, u"刘志强");
    EXPECT_FALSE(lex->sys.FindWord(out[0]->syllableIds, out[0]->text, nullptr, nullptr, nullptr));
    EXPECT_EQ(ToU16(out[0]->debugText), u"-组名: " + name);
}

TEST(FreqAdjustTest, PlainUserWordAndFlagLabels) {
    t_freqAdjust adjust;
    adjust.Init({}, 0, 1);
    Bytes ids = Units({10, 20}), text = Text(u"你好");
    t_candWord w;
    t_candWord::Clear(&w);
    w.syllableIds = L(ids);
    w.text = L(text);
    EXPECT_EQ(adjust.ComputeInputHistory(&w, 0, 0, 1.0), 0);
    EXPECT_EQ(w.orderNumber, -1000);
    EXPECT_EQ(w.adjustFlags, kAdjustPlainUser);
    EXPECT_EQ(adjust.ComputeInputHistory(&w, INT32_MAX, 10, 1.0), 0);  // saturates, never wraps
    EXPECT_EQ(w.orderNumber, INT32_MAX);
    adjust.recentText = L"我说你好";
    adjust.recentLength = 4;
    w.rank = 50;
    EXPECT_EQ(adjust.ComputeInputHistory(&w, 5, 0, 1.0), 1);
    EXPECT_EQ(w.sourceType, kCandSourceSystem);
    EXPECT_EQ(w.rank, 150);
    std::wstring s;
    FormatAdjustFlags(s, kAdjustPlainUser | kAdjustUserCache);
    EXPECT_EQ(s, L"单纯用户词 用户cache ");
    s.clear();
    FormatAdjustFlags(s, 0x400);
    EXPECT_EQ(s, L"未知调频 ");
}

TEST(FreqAdjustTest, ReadingMismatchesCountByMode) {
    ASSERT_TRUE(usersrc::EnsureConfiguration());
    t_configurationImpl& config = t_singleton<t_configurationImpl>::Get();
    const t_configItem* counters[] = {&n_config::PinyinMismatchCount1,
                                      &n_config::PinyinMismatchCount2};
    for (const t_configItem* c : counters) config.SetInt(*c, 0);
    Bytes bad = Units({441}), good = Units({10}), text = Text(u"你");
    const struct {
        const Bytes* ids;
        int mode, result, first, second;  // the counters after the call
    } cases[] = {{&bad, 0, 0, 0, 0},
                 {&bad, 1, 0, 1, 0},
                 {&bad, 2, 0, 1, 1},
                 {&good, 1, 1, 1, 1},
                 {&bad, 1, 0, 2, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(CheckWordPinyin(nullptr, nullptr, L(*c.ids), L(text), c.mode), c.result)
            << c.mode;
        EXPECT_EQ(config.GetInt(*counters[0]), c.first) << c.mode;
        EXPECT_EQ(config.GetInt(*counters[1]), c.second) << c.mode;
    }
    config.SetInt(*counters[0], INT32_MAX);  // a full counter stays full
    CheckWordPinyin(nullptr, nullptr, L(bad), L(text), 1);
    EXPECT_EQ(config.GetInt(*counters[0]), INT32_MAX);
    for (const t_configItem* c : counters) config.SetInt(*c, 0);
}
