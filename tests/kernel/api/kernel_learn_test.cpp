// Learning entries: the switches that decide what is learned, a committed
// selection learned whole, English learning under the dictionary lock, and
// the pending commit's length limit.
#include <chrono>
#include <future>
#include <map>
#include <string>
#include <thread>

#include "kernel/api/kernel_dict_ops.h"
#include "kernel/api/kernel_learn.h"
#include "kernel/api/kernel_options.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/userdict/deleted_words.h"
#include "tests/kernel/api/api_support.h"

namespace {

class LearnTest : public KernelTest {
public:
    void SetUp() override {
        KernelTest::SetUp();
        Start();
    }
    // A syllable string of the given syllables, in the fixture's arena.
    const t_lstr* Ids(std::initializer_list<const wchar_t*> syllables) {
        std::u16string units;
        for (const wchar_t* s : syllables) units.push_back(char16_t(SyllableTableFind(s)));
        return pool.MakeLstr(units.data(), units.size() * 2);
    }
    void Set(const t_configItem& item, uint8_t value) { GetConfiguration().SetByte(item, value); }
    bool UserHas(const t_lstr* ids, const wchar_t* word) {
        t_usrWordAttr attr;
        return LookupUserWord(ids, Word(word), &attr) && attr.freq != 0;  // frequency 0: deleted
    }
    uint32_t EnglishCount(const wchar_t* word) {
        uint32_t count = 0;
        return t_singleton<t_engUsrDict>::Get().GetWordFreq(Word(word), &count) ? count : 0;
    }
    t_scopeHeap pool;
};

struct t_recorder : n_convertor::t_kernelDelegate {
    std::wstring last;
    int OnCommitText(const wchar_t* text, intptr_t, intptr_t, intptr_t, intptr_t) override {
        last = text;
        return 1;
    }
};

}  // namespace

TEST_F(LearnTest, SwitchesDecideWhichWordsAreLearned) {
    ASSERT_EQ(1u, LearnCommittedText(L"你好", Ids({L"ni", L"hao"}), 0));
    enum { kNone, kEmpty, kReading };
    static const uint8_t empty[2] = {0, 0};
    const struct {
        uint8_t freq, fresh;
        const wchar_t* word;
        int reading;
        int expected;
    } cases[] = {
        {1, 0, L"你好", kReading, 1},  // every commit learned
        {0, 0, L"世界", kReading, 0},  // learning off
        {0, 1, L"世界", kNone, 1},     // no reading known
        {0, 1, L"世界", kEmpty, 0},    // an empty reading
        {0, 1, L"你好", kReading, 0},  // already a user word
        {0, 1, L"世界", kReading, 1},  // a new word
    };
    for (const auto& c : cases) {
        Set(n_config::LearnFreq, c.freq);
        Set(n_config::LearnNewWord, c.fresh);
        const t_lstr* ids = c.reading == kNone    ? nullptr
                            : c.reading == kEmpty ? reinterpret_cast<const t_lstr*>(empty)
                            : c.word[0] == L'你'  ? Ids({L"ni", L"hao"})
                                                  : Ids({L"shi", L"jie"});
        EXPECT_EQ(c.expected, ShouldLearnWord(c.word, ids))
            << int(c.freq) << int(c.fresh) << c.reading;
    }
    EXPECT_EQ(0, ShouldLearnWord(nullptr, nullptr));
}

TEST_F(LearnTest, ASelectionOfTwoWordsIsLearnedWholeAndTheDelegateToldFirst) {
    t_recorder delegate;
    SetKernelDelegate(&delegate);
    const t_lstr* ids = Ids({L"ni", L"hao", L"shi", L"jie"});
    EXPECT_FALSE(UserHas(ids, L"你好世界"));
    uint8_t known = 9;
    EXPECT_EQ(1u, LearnCommittedTextEx(L"你好世界", ids, 0, &known));
    EXPECT_EQ(0, known);
    EXPECT_EQ(L"你好世界", delegate.last);
    EXPECT_TRUE(UserHas(ids, L"你好世界"));
    EXPECT_EQ(1u, LearnCommittedTextEx(L"你好世界", ids, 0, &known));
    EXPECT_EQ(1, known);
    // Learning off: only the delegate hears of the commit.
    Set(n_config::LearnFreq, 0);
    Set(n_config::LearnNewWord, 0);
    EXPECT_EQ(1u, LearnCommittedText(L"世界", Ids({L"shi", L"jie"}), 0));
    EXPECT_EQ(L"世界", delegate.last);
    EXPECT_FALSE(UserHas(Ids({L"shi", L"jie"}), L"世界"));
}

TEST_F(LearnTest, LetterTextGoesToTheEnglishDictionaryAndLeavesTheDeletedWords) {
    ASSERT_EQ(1u, LearnCommittedText(L"世界", Ids({L"shi", L"jie"}), 0));
    EXPECT_EQ(1, DeleteCandidateWord(Ids({L"shi", L"jie"}), L"世界"));
    EXPECT_FALSE(UserHas(Ids({L"shi", L"jie"}), L"世界"));
    EXPECT_EQ(1, IsWordDeleted(L"世界"));
    t_delWordDict& deleted = t_singleton<t_delWordDict>::Get();
    ASSERT_TRUE(deleted.AddWord(Word(L"hello"), 1));
    EXPECT_EQ(1u, LearnCommittedText(L"hello", nullptr, 0));
    EXPECT_EQ(1u, EnglishCount(L"hello"));
    EXPECT_EQ(0, deleted.IsDeleted(Word(L"hello")));
    EXPECT_EQ(1, DeleteEnglishWord(L"hello"));
    EXPECT_EQ(0u, EnglishCount(L"hello"));
    EXPECT_EQ(1, deleted.IsDeleted(Word(L"hello")));
    Set(n_config::LearnEnglishCommits, 0);
    EXPECT_EQ(1u, LearnEnglishCommit(L"world"));
    EXPECT_EQ(0u, EnglishCount(L"world"));

    // English mode, new words only: a word used twice stays as it is.
    Set(n_config::LearnEnglishAllWords, 0);
    EXPECT_EQ(1u, LearnEnglishWord(L"everything"));
    EXPECT_EQ(1u, EnglishCount(L"everything"));
    ASSERT_EQ(1u, LearnEnglishWordCore(L"everything", 0, 100));
    const uint32_t used = EnglishCount(L"everything");
    EXPECT_EQ(1u, LearnEnglishWordCore(L"everything", 1, 200));
    EXPECT_EQ(used, EnglishCount(L"everything"));
    Set(n_config::LearnEnglishNewWords, 0);
    EXPECT_EQ(1u, LearnEnglishWord(L"never"));
    EXPECT_EQ(0u, EnglishCount(L"never"));
}

TEST_F(LearnTest, EnglishLearningWaitsForTheDictionaryLock) {
    std::promise<void> held, release;
    std::thread holder([&] {
        t_processLock::t_locker lock(GetDictLocker());
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    std::future<uint32_t> learning =
        std::async(std::launch::async, [] { return LearnEnglishWord(L"locked"); });
    EXPECT_EQ(std::future_status::timeout, learning.wait_for(std::chrono::milliseconds(100)));
    release.set_value();
    holder.join();
    EXPECT_EQ(1u, learning.get());
    EXPECT_EQ(1u, EnglishCount(L"locked"));
}

TEST_F(LearnTest, WordsChosenInPlaceOfTheSentenceAreLearnedWithTheirNeighbours) {
    const t_lstr *ni = Ids({L"ni", L"hao"}), *shi = Ids({L"shi", L"jie"}),
                 *ren = Ids({L"ren", L"min"});
    const t_lstr* whole = Ids({L"ni", L"hao", L"shi", L"jie", L"ren", L"min"});
    const struct {
        const wchar_t* sentence;
        std::vector<const wchar_t*> words;
        std::vector<const t_lstr*> keys;
        int learned;
        std::vector<std::pair<const wchar_t*, const t_lstr*>>
            now;  // words the user dictionary then holds
    } cases[] = {
        {L"你好世界人民",
         {L"你好", L"事节", L"人民"},
         {ni, shi, ren},
         3,
         {{L"事节", shi},
          {L"你好事节", Ids({L"ni", L"hao", L"shi", L"jie"})},
          {L"事节人民", Ids({L"shi", L"jie", L"ren", L"min"})}}},
        {L"你好世界人民",
         {L"你好世界", L"人名"},
         {Ids({L"ni", L"hao", L"shi", L"jie"}), ren},
         1,
         {{L"人名", ren}}},
        {L"你好世界人民",
         {L"你好", L"是界", L"人民"},
         {ni, ren, shi},
         0,
         {}},                                               // readings out of order
        {L"你好世", {L"你好", L"失节"}, {ni, shi}, 0, {}},  // too short a sentence
    };
    for (const auto& c : cases) {
        const t_lstr* key =
            c.sentence == std::wstring(L"你好世") ? Ids({L"ni", L"hao", L"shi", L"jie"}) : whole;
        EXPECT_EQ(c.learned, LearnWordPairs(c.sentence, key, c.words.data(), c.keys.data(),
                                            int32_t(c.words.size())))
            << c.words[1];
        for (const auto& [word, ids] : c.now) EXPECT_TRUE(UserHas(ids, word)) << word;
    }
    EXPECT_FALSE(UserHas(Ids({L"ni", L"hao"}), L"你好"));  // unchanged words are not learned
    EXPECT_FALSE(UserHas(shi, L"失节"));
}

TEST_F(LearnTest, APendingCommitHoldsAt255CharactersAndIsLearnedOnFlush) {
    const std::wstring longest(kPendingTextChars, L'好'), tooLong(kPendingTextChars + 1, L'好');
    t_recorder delegate;
    SetKernelDelegate(&delegate);
    EXPECT_EQ(0, RememberCommit(tooLong.c_str()));
    EXPECT_FALSE(HasPendingCommit());
    EXPECT_EQ(tooLong, delegate.last);
    EXPECT_EQ(1, RememberCommit(longest.c_str()));
    EXPECT_EQ(1, CancelRecentCommit());
    EXPECT_FALSE(HasPendingCommit());

    const t_lstr* ids = Ids({L"shi", L"jie"});
    EXPECT_EQ(1, RememberCommitWithPinyin(L"世界", ids, 0));
    EXPECT_EQ(0, FlushPendingEnglish());
    EXPECT_EQ(1, FlushPendingWord());
    EXPECT_TRUE(UserHas(ids, L"世界"));
    EXPECT_EQ(0, FlushPendingWord());

    EXPECT_EQ(1, RememberEnglishWord(L"later"));
    EXPECT_EQ(1, FlushPendingEnglish());
    EXPECT_EQ(1u, EnglishCount(L"later"));
}

TEST_F(LearnTest, ANotedAdjustmentRaisesTheFlushedWordOnce) {
    const t_lstr* ids = Ids({L"shi", L"jie"});
    const auto freq = [&] {
        t_usrWordAttr attr;
        return LookupUserWord(ids, Word(L"世界"), &attr) ? int(attr.freq) : -1;
    };
    const struct {
        int32_t first;
        uint16_t second;
        uint32_t third;
        int raised;
    } cases[] = {
        {1, 1, 0x08, 1}, {0, 1, 0x08, 0}, {1, 78, 0x80, 0}, {2, 1, 0x07, 0}, {-1, 78, 0, 0}};
    ASSERT_EQ(1u, LearnCommittedText(L"世界", ids, 0));
    for (const auto& c : cases) {
        const int before = freq();
        SetPendingAdjust(c.first, c.second, c.third);
        ASSERT_EQ(1, RememberCommitWithPinyin(L"世界", ids, 0));
        ASSERT_EQ(1, FlushPendingWord());
        const int learned = freq();
        ASSERT_EQ(1, RememberCommitWithPinyin(L"世界", ids, 0));  // the adjustment was used up
        ASSERT_EQ(1, FlushPendingWord());
        EXPECT_EQ(c.raised, (learned - before) - (freq() - learned)) << c.first << " " << c.third;
    }
}

TEST_F(LearnTest, OnlyOneFuzzyPairCountsAsAFuzzyCorrection) {
    const struct {
        const wchar_t *typed, *corrected;
        int counted;
    } cases[] = {
        {L"nan", L"lan", 1},  {L"hu", L"fu", 1},   {L"ri", L"li", 1}, {L"zi", L"zhi", 1},
        {L"lang", L"lan", 1}, {L"nan", L"lal", 0}, {L"ba", L"pa", 0}, {L"zi", L"zii", 0},
        {L"an", L"an", 0},    {L"a", L"angg", 0},
    };
    for (const auto& c : cases) {
        const int32_t before = GetConfiguration().GetInt(n_config::FuzzyPairCount);
        EXPECT_EQ(c.counted, LearnFuzzyPair(c.typed, c.corrected)) << c.typed << " " << c.corrected;
        EXPECT_EQ(before + c.counted, GetConfiguration().GetInt(n_config::FuzzyPairCount));
    }
}

TEST_F(LearnTest, AddressesAreLearnedWithTheirShorterForms) {
    const auto stored = [&] {
        std::map<std::wstring, uint32_t> out;
        t_scopeHeap heap;
        t_strUsrEntry** rows = nullptr;
        uint32_t count = 0;
        if (t_singleton<t_urlUsrDict>::Get().ListAll(heap, &rows, &count))
            for (uint32_t i = 0; i < count; ++i)
                out[heap.LstrToWide(rows[i]->stored)] = rows[i]->count;
        return out;
    };
    EXPECT_EQ(1, LearnCommittedPlain(L"www.example.com"));
    EXPECT_EQ(1, LearnUrlCommit(L"me@mail.example.org"));
    const std::map<std::wstring, uint32_t> expected = {{L"www.example.com", 2},
                                                       {L"example.com", 2},
                                                       {L"me@mail.example.org", 2},
                                                       {L"@mail.example.org", 2}};
    EXPECT_EQ(expected, stored());
    Set(n_config::LearnAddressCommits, 0);
    EXPECT_EQ(1, LearnUrlCommit(L"www.other.net"));
    EXPECT_EQ(expected, stored());
}

namespace {
class LearnBuiltDataTest : public StartedOnBuiltData<LearnTest> {};
}  // namespace

TEST_F(LearnBuiltDataTest, NewWordsOnlyLeavesKnownSystemWordsAlone) {
    Set(n_config::LearnFreq, 0);
    Set(n_config::LearnNewWord, 1);
    const t_lstr* zhongguo = Ids({L"zhong", L"guo"});
    EXPECT_EQ(1u, LearnCommittedText(L"中国", zhongguo, 0));
    EXPECT_FALSE(UserHas(zhongguo, L"中国"));
    const t_lstr* joined = Ids({L"zhong", L"guo", L"ni", L"hao"});
    EXPECT_EQ(1u, LearnCommittedText(L"中国你好", joined, 0));
    EXPECT_TRUE(UserHas(joined, L"中国你好"));

    Set(n_config::LearnEnglishAllWords, 0);
    Set(n_config::LearnEnglishNewWords, 1);
    EXPECT_EQ(1u, LearnEnglishWord(L"hello"));
    EXPECT_EQ(0u, EnglishCount(L"hello"));
    EXPECT_EQ(1u, LearnEnglishWord(L"vetrax"));
    EXPECT_EQ(1u, EnglishCount(L"vetrax"));
}

// Letters sent as typed: one letter, and pinyin being typed that the
// English list does not know, are no English word; a word of the list
// that also reads as pinyin is one.
TEST_F(LearnBuiltDataTest, OneLetterAndPinyinSentAsTypedAreNoEnglishWords) {
    const struct {
        const wchar_t* text;
        bool learned;
    } cases[] = {{L"w", false},     {L"B", false},    {L"zhongguo", false}, {L"Zhongg", false},
                 {L"xi'an", false}, {L"women", true}, {L"hello", true},     {L"vetrax", true}};
    for (const auto& c : cases) {
        EXPECT_EQ(1u, LearnEnglishWord(c.text));
        EXPECT_EQ(c.learned, EnglishCount(c.text) > 0)
            << std::string(c.text, c.text + wcslen(c.text));
    }
}

TEST_F(LearnBuiltDataTest, ReadingsAreCheckedAgainstTheCharacters) {
    const t_lstr* zhongguo = Ids({L"zhong", L"guo"});
    std::wstring spelling;
    ASSERT_TRUE(IdsToSpelling(zhongguo, spelling));
    EXPECT_EQ(L"zhong'guo", spelling);
    const uint16_t tooLarge = 441, letterB = uint16_t(GetLetterIdOfChar(L'b'));
    const struct {
        const t_lstr* ids;
        const wchar_t* text;
        int code;
    } cases[] = {
        {zhongguo, L"中国", kReadingFits},
        {nullptr, L"中国", kReadingNullArgument},
        {zhongguo, L"中", kReadingLengthMismatch},
        {pool.MakeLstr(&tooLarge, 2), L"中", kReadingIdTooLarge},
        {pool.MakeLstr(&letterB, 2), L"a", kReadingLetterMismatch},
        {Ids({L"zhong"}), L"\uE000", kReadingNoCharReadings},
        {Ids({L"ni"}), L"中", kReadingNotAmongReadings},
    };
    for (const auto& c : cases) {
        int code = -1;
        EXPECT_EQ(c.code == kReadingFits, CheckPinyinOfTextEx(c.ids, c.text, &code) == 1) << c.code;
        EXPECT_EQ(c.code, code);
    }
}
