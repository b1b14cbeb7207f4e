// The conversion dispatcher on the built system data: which branch each
// kind of input reaches, the length limit, the auxiliary code after a TAB,
// the plain conversion, the cloud gates, and what a learned selection
// changes in the next conversion.
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/api/convert_dispatch.h"
#include "kernel/api/kernel_dict_ops.h"
#include "kernel/api/kernel_learn.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/convert/cand_generator.h"
#include "kernel/convert/cloud_request.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/runtime/cand_word.h"
#include "tests/kernel/api/api_support.h"

namespace {

struct t_cand {
    std::u16string text;
    uint16_t source;
};

class DispatchBuiltDataTest : public BuiltDataKernelTest {
public:
    // One conversion of input (a TAB cuts the caller's copy in `typed`).
    std::vector<t_cand> Convert(const std::wstring& input, uint8_t plain = 0, uint8_t english = 0,
                                uint32_t pageSize = kPage, const std::u16string& before = u"",
                                const std::vector<uint16_t>& beforeIds = {}) {
        typed = input;
        uint8_t scratch[kConvertScratchBytes] = {};
        if (!before.empty())
            WriteScratchWord(scratch, reinterpret_cast<const uint16_t*>(before.data()),
                             beforeIds.data(), before.size());
        n = ConvertInput(typed.data(), results, scratch, 0, pageSize, nullptr, nullptr, plain,
                         english, 0, nullptr);
        std::vector<t_cand> page;
        for (int i = 0; i < n; ++i)
            page.push_back(
                {std::u16string(reinterpret_cast<const char16_t*>(LstrGetUnits(results[i]->text)),
                                LstrGetLength(results[i]->text)),
                 uint16_t(results[i]->sourceType & ~kCandSourceMerged)});
        return page;
    }
    static int IndexOf(const std::vector<t_cand>& page, const std::u16string& text) {
        for (size_t i = 0; i < page.size(); ++i)
            if (page[i].text == text) return int(i);
        return -1;
    }
    static void SetByte(const t_configItem& item, uint8_t value) {
        GetConfiguration().SetByte(item, value);
    }
    // The ids of syllables written apart ("gong zuo").
    static std::vector<uint16_t> Ids(const wchar_t* syllables) {
        const t_pyDict& py = t_singleton<t_pyDict>::Get();
        std::vector<uint16_t> ids;
        std::wistringstream in(syllables);
        for (std::wstring syllable; in >> syllable;)
            ids.push_back(uint16_t(py.GetSyllableId(syllable.c_str())));
        return ids;
    }

    static constexpr uint32_t kPage = 60;
    t_candWord* results[kPage] = {};
    std::wstring typed;
    int n = 0;
};

TEST_F(DispatchBuiltDataTest, EachKindOfInputReachesItsBranch) {
    const struct {
        const wchar_t* input;
        uint8_t shuangPin;
        uint8_t english;
        const char16_t* text;  // a candidate the branch gives; null: none of `source`
        uint16_t source;       // source type of every candidate when text is set
    } cases[] = {
        {L"v1+2", 0, 0, u"1+2=3", 25},
        {L">12.5", 0, 0, u"一十二元五角", 22},
        {L">12.5", 1, 0, u"一十二元五角", 22},
        {L"v1.5", 0, 0, u"一元五角", 22},
        {L"V1+2", 1, 0, u"3", 25},
        {L"v1+2", 1, 0, nullptr, 25},
        {L"uhh", 0, 0, u"二", 28},
        {L"Uhh", 1, 0, u"二", 28},
        {L"uhh", 1, 0, nullptr, 28},
        {L"Uhh", 0, 0, nullptr, 28},
        {L"www.goo", 0, 0, u"www.google.com", 6},
        {L"ABC", 0, 0, u"ABC", 17},
        {L"hello", 0, 1, u"hello", 8},
        {L"xx@qq", 0, 0, u"xx@qq.com", 6},  // a common mail domain
    };
    for (const auto& c : cases) {
        SetByte(n_config::ShuangPin, c.shuangPin);
        const auto page = Convert(c.input, 0, c.english);
        const std::string label =
            std::string(c.input, c.input + wcslen(c.input)) + " sp" + std::to_string(c.shuangPin);
        if (!c.text) {
            for (const t_cand& cand : page) EXPECT_NE(c.source, cand.source) << label;
            continue;
        }
        EXPECT_GE(IndexOf(page, c.text), 0) << label;
        for (const t_cand& cand : page) EXPECT_EQ(c.source, cand.source) << label;
    }
}

// A page smaller than what a branch makes still holds its best records; an
// empty page holds nothing and writes nothing; a custom phrase of English
// input shows without any English word.
TEST_F(DispatchBuiltDataTest, SmallPagesAndPhrasesWithoutWordsAreHandedBack) {
    ASSERT_EQ(1, AddUsrPhrase(L"zzq", L"自己的短语", 1));
    const struct {
        const wchar_t* input;
        uint8_t plain, english;
        uint32_t pageSize;
        std::vector<std::u16string> texts;
    } cases[] = {
        {L"v1+2", 0, 0, 1, {u"3"}},
        {L"uhh", 0, 0, 2, {u"二", u"三"}},
        {L"123", 1, 0, 0, {}},
        {L"zzq", 0, 1, 5, {u"自己的短语"}},
    };
    for (const auto& c : cases) {
        results[0] = nullptr;
        const auto page = Convert(c.input, c.plain, c.english, c.pageSize);
        std::vector<std::u16string> texts;
        for (const t_cand& cand : page) texts.push_back(cand.text);
        EXPECT_EQ(c.texts, texts) << std::string(c.input, c.input + wcslen(c.input));
        if (c.pageSize == 0) {
            EXPECT_EQ(nullptr, results[0]);
        }
    }
}

TEST_F(DispatchBuiltDataTest, InputsOf79CharactersGiveNothing) {
    std::wstring text;
    while (text.size() < 78) text += L"nihao";
    text.resize(78);
    EXPECT_GT(Convert(text).size(), 0u);
    results[0] = nullptr;
    EXPECT_EQ(0u, Convert(text + L"a").size());
    EXPECT_EQ(nullptr, results[0]);
}

TEST_F(DispatchBuiltDataTest, TextAfterATabNarrowsTheCandidates) {
    const auto all = Convert(L"shi", 0, 0, kPage);
    const auto narrowed = Convert(L"shi\tr");
    EXPECT_EQ(0, typed[3]);  // the caller's copy is cut at the TAB
    ASSERT_GT(narrowed.size(), 0u);
    EXPECT_LT(narrowed.size(), all.size());
    EXPECT_EQ(-1, IndexOf(narrowed, u"十"));  // no 日 in it, not read "r..."
    EXPECT_GE(IndexOf(narrowed, u"是"), 0);
    // A TAB in the first place separates nothing.
    Convert(L"\tnihao");
    EXPECT_EQ(L"\tnihao", typed);
}

// The settings and the caller's record reach the generator: the key-by-key
// reading of an abbreviation, and the word committed before, which decides
// between the words it raises (水 before 谁 after 喝, 药 before 要 after 吃),
// raises the words a character typed alone makes with the next (跳舞, 时间),
// and after a longer word where no stronger pair stands beside (特别是,
// 上海市, 这件事, but 工作 shi is not 工作室 nor 人类 shi 人类史, and the rare
// 联系国 does not pass 过), keeps a weak pair of a rare character below the
// common word the model's text splits (所以 shi: 是, not 试; 我 bushi:
// 不是, not 不时), raises no composition of common characters (完整 yishi:
// 意识, not 一事) and reads no syllable typed whole as two (系统 ao: 熬, not
// 啊哦), still decides beside a word the user chose once when typing its
// syllable alone (可能 xiang: 想 after 向; 上海 shi: 市 after 是), and
// yields to a word the user chose once right after it (是 after 工作).
TEST_F(DispatchBuiltDataTest, TheSettingsAndTheCallersContextReachTheGenerator) {
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    const struct {
        const wchar_t* input;
        uint8_t superSpjp;
        const char16_t* before;  // committed before
        const wchar_t* beforeSyllables;
        const char16_t* text;
        int from, to;               // the text's place is in [from, to); -1: not there
        const char16_t* learned;    // chosen once for the input typed alone before
        bool learnedAfter = false;  // chosen right after the word before instead
    } cases[] = {
        {L"gaj", 1, u"", L"", u"公安局", 0, 5, u""},
        {L"gaj", 0, u"", L"", u"公安局", -1, 5, u""},  // not on the first five
        {L"fan", 1, u"吃", L"chi", u"饭", 0, 1, u""},
        {L"fan", 1, u"", L"", u"饭", 1, kPage, u""},
        {L"yao", 1, u"吃", L"chi", u"药", 0, 1, u""},
        {L"shui", 1, u"喝", L"he", u"水", 0, 1, u""},
        {L"jiu", 1, u"喝", L"he", u"酒", 0, 1, u""},
        {L"wu", 1, u"跳", L"tiao", u"舞", 0, 1, u""},
        {L"zao", 1, u"洗", L"xi", u"澡", 0, 1, u""},
        {L"ban", 1, u"上", L"shang", u"班", 0, 1, u""},
        {L"hua", 1, u"说", L"shuo", u"话", 0, 1, u""},
        {L"ge", 1, u"唱", L"chang", u"歌", 0, 1, u""},
        {L"jia", 1, u"请", L"qing", u"假", 0, 1, u""},
        {L"jian", 1, u"时", L"shi", u"间", 0, 1, u""},
        {L"shi", 1, u"特别", L"te bie", u"是", 0, 1, u""},
        {L"shi", 1, u"或者", L"huo zhe", u"是", 0, 1, u""},
        {L"shi", 1, u"上海", L"shang hai", u"市", 0, 1, u""},
        {L"guo", 1, u"共和", L"gong he", u"国", 0, 1, u""},
        {L"shi", 1, u"这件", L"zhe jian", u"事", 0, 1, u""},
        {L"shi", 1, u"人类", L"ren lei", u"史", -1, 1, u""},
        {L"bushi", 1, u"我", L"wo", u"不是", 0, 1, u""},
        {L"bushi", 1, u"这些", L"zhe xie", u"不是", 0, 1, u""},
        {L"shi", 1, u"所以", L"suo yi", u"是", 0, 1, u""},
        {L"ao", 1, u"系统", L"xi tong", u"熬", 0, 1, u""},
        {L"jie", 1, u"数量", L"shu liang", u"皆", 0, 1, u""},
        {L"huai", 1, u"服务器", L"fu wu qi", u"坏", 0, 1, u""},
        {L"yishi", 1, u"完整", L"wan zheng", u"意识", 0, 1, u""},
        {L"shishi", 1, u"行动", L"xing dong", u"实施", 0, 1, u""},
        {L"youshi", 1, u"那么", L"na me", u"有时", 0, 1, u""},
        {L"yijian", 1, u"求", L"qiu", u"意见", 0, 1, u""},
        {L"yichang", 1, u"收到", L"shou dao", u"异常", 0, 1, u""},
        {L"guo", 1, u"联系", L"lian xi", u"过", 0, 1, u""},
        {L"shui", 1, u"", L"", u"谁", 0, 1, u"谁"},
        {L"shui", 1, u"喝", L"he", u"水", 0, 1, u""},
        {L"yao", 1, u"", L"", u"要", 0, 1, u"要"},
        {L"yao", 1, u"吃", L"chi", u"药", 0, 1, u""},
        {L"shi", 1, u"工作", L"gong zuo", u"室", -1, 1, u""},
        {L"xiang", 1, u"可能", L"ke neng", u"想", 0, 1, u"向"},
        {L"shi", 1, u"上海", L"shang hai", u"市", 0, 1, u"是"},
        {L"shi", 1, u"工作", L"gong zuo", u"是", 0, 1, u"是", true},
    };
    for (const auto& c : cases) {
        const std::u16string before = c.before;
        const std::vector<uint16_t> beforeIds = Ids(c.beforeSyllables);
        const std::u16string learned = c.learned;
        if (!learned.empty()) {
            const std::vector<uint8_t> id = {2, 0, uint8_t(py.GetSyllableId(c.input)),
                                             uint8_t(py.GetSyllableId(c.input) >> 8)};
            // Two commits in a row, as typing on after the word before.
            SetContinuingInput(c.learnedAfter ? 1 : 0);
            if (c.learnedAfter) {
                std::vector<uint16_t> key = {uint16_t(2 * beforeIds.size())};
                key.insert(key.end(), beforeIds.begin(), beforeIds.end());
                ASSERT_EQ(1u, LearnCommittedText(std::wstring(before.begin(), before.end()).c_str(),
                                                 reinterpret_cast<const t_lstr*>(key.data()), 0));
            }
            ASSERT_EQ(1u, LearnCommittedText(std::wstring(learned.begin(), learned.end()).c_str(),
                                             reinterpret_cast<const t_lstr*>(id.data()), 0));
            SetContinuingInput(0);
            NotifyCommitEnd(0, true);
        }
        SetByte(n_config::SuperSPJP, c.superSpjp);
        ASSERT_EQ(before.size(), beforeIds.size()) << c.input;
        const auto page = Convert(c.input, 0, 0, kPage, before, beforeIds);
        const int at = IndexOf(page, c.text);
        if (c.from < 0)
            EXPECT_TRUE(at < 0 || at >= c.to) << c.input << " " << at;
        else
            EXPECT_TRUE(at >= c.from && at < c.to) << c.input << " " << at;
    }
    SetByte(n_config::SuperSPJP, 1);
    // The smart-fuzzy pass: every plain conversion, else two letters only.
    const struct {
        const wchar_t* input;
        uint8_t normal, smartFuzzy;
    } passes[] = {{L"zi", 1, 1}, {L"zhi", 1, 0}, {L"z", 1, 0}, {L"zhi", 0, 1}};
    for (const auto& c : passes) {
        t_convertRequest request;
        request.input = c.input;
        request.inputLength = request.segmentLength = int32_t(wcslen(c.input));
        request.pageSize = kPage;
        uint8_t scratch[kConvertScratchBytes] = {};
        ConvertPinyin(&request, c.normal, results, scratch, nullptr, nullptr, nullptr);
        EXPECT_EQ(c.smartFuzzy, request.smartFuzzy) << c.input << " " << int(c.normal);
    }
}

// A user who committed 不是 and 应 once and then 1,024 other words (each
// once): 不是 keeps its place after the word before (it fell below 不时, a
// pair with 我, 他 and 更, and 不适, with 这些, once about 110 words had been
// learned after it); 应, as common a word as 硬 is rare, stays right after
// 硬, which 然后 speaks for.
TEST_F(DispatchBuiltDataTest, WordsLearnedLongAgoKeepTheirPlaceAfterTheWordBefore) {
    const auto learn = [](const std::u16string& text, const wchar_t* syllables) {
        std::vector<uint16_t> key = Ids(syllables);
        key.insert(key.begin(), uint16_t(2 * key.size()));
        return LearnCommittedText(std::wstring(text.begin(), text.end()).c_str(),
                                  reinterpret_cast<const t_lstr*>(key.data()), 0);
    };
    ASSERT_EQ(1u, learn(u"不是", L"bu shi"));
    ASSERT_EQ(1u, learn(u"应", L"ying"));
    static const struct {
        char16_t text;
        const wchar_t* syllable;
    } kChars[] = {{u'天', L"tian"},  {u'山', L"shan"}, {u'风', L"feng"},  {u'云', L"yun"},
                  {u'花', L"hua"},   {u'草', L"cao"},  {u'木', L"mu"},    {u'林', L"lin"},
                  {u'河', L"he"},    {u'海', L"hai"},  {u'江', L"jiang"}, {u'湖', L"hu"},
                  {u'星', L"xing"},  {u'月', L"yue"},  {u'雪', L"xue"},   {u'田', L"tian"},
                  {u'土', L"tu"},    {u'火', L"huo"},  {u'金', L"jin"},   {u'光', L"guang"},
                  {u'红', L"hong"},  {u'蓝', L"lan"},  {u'白', L"bai"},   {u'黑', L"hei"},
                  {u'黄', L"huang"}, {u'东', L"dong"}, {u'南', L"nan"},   {u'西', L"xi"},
                  {u'北', L"bei"},   {u'春', L"chun"}, {u'夏', L"xia"},   {u'秋', L"qiu"}};
    for (const auto& a : kChars)
        for (const auto& b : kChars) {
            ASSERT_EQ(1u, learn({a.text, b.text},
                                (std::wstring(a.syllable) + L" " + b.syllable).c_str()));
        }
    NotifyCommitEnd(0, true);
    const struct {
        const char16_t* before;
        const wchar_t* beforeSyllables;
        const wchar_t* input;
        const char16_t* first;
        const char16_t* second = nullptr;
    } cases[] = {
        {u"我", L"wo", L"bushi", u"不是"},
        {u"他", L"ta", L"bushi", u"不是"},
        {u"更", L"geng", L"bushi", u"不是"},
        {u"这些", L"zhe xie", L"bushi", u"不是"},
        {u"然后", L"ran hou", L"ying", u"硬", u"应"},
    };
    for (const auto& c : cases) {
        const auto page = Convert(c.input, 0, 0, kPage, c.before, Ids(c.beforeSyllables));
        ASSERT_GT(page.size(), 1u) << c.input;
        EXPECT_EQ(std::u16string(c.first), page[0].text) << c.input;
        if (c.second) {
            EXPECT_EQ(std::u16string(c.second), page[1].text) << c.input;
        }
    }
}

// The smart-fuzzy pass keeps a fuzzy reading as sure as a plain one: one
// record, marked, never before place 2, where no sure reading was found
// (two letters that are no syllable). A syllable typed as such keeps its
// page with the defaults and with a tuning file that allows a few sure words.
TEST_F(DispatchBuiltDataTest, TheSmartFuzzyPassAddsOneFuzzyReadingAfterTheFirst) {
    const std::string tuned = root.At("tuned");
    std::filesystem::create_directories(tuned);
    ASSERT_TRUE(
        testsupport::WriteFileBytes(tuned + "/SmartFParams.txt", "20090410\n1\n5,5,0,10.0\n"));
    const struct {
        bool tuned;
        const wchar_t* input;
        const char16_t* first;
        const char16_t* fuzzy;  // empty: none
        int at;
    } cases[] = {
        {false, L"fe", u"分", u"和", 1},  // f read as h
        {false, L"ra", u"让", u"啦", 1},  // r read as l
        {true, L"ra", u"让", u"啦", 1},  {false, L"he", u"和", u"", -1},
        {true, L"he", u"和", u"", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.tuned << " " << std::string(c.input, c.input + wcslen(c.input)));
        ASSERT_EQ(1, ChangeUserDir(testsupport::Widen(c.tuned ? tuned : user).c_str()));
        const auto page = Convert(c.input);
        ASSERT_FALSE(page.empty());
        EXPECT_EQ(std::u16string(c.first), page[0].text);
        int marked = 0, at = -1;
        for (int i = 0; i < n; ++i)
            if (results[i]->smartFuzzy) {
                ++marked;
                at = i;
            }
        EXPECT_EQ(c.at < 0 ? 0 : 1, marked);
        EXPECT_EQ(c.at, at);
        if (at >= 0) {
            EXPECT_EQ(std::u16string(c.fuzzy), page[size_t(at)].text);
        }
    }
}

// The default shuangpin scheme types the final ing with ";": after the map
// is rebuilt for shuangpin, the key reads as that final, not as the end of
// the input.
TEST_F(DispatchBuiltDataTest, TheSemicolonOfTheShuangpinSchemeTypesItsFinal) {
    SetByte(n_config::ShuangPin, 1);
    ASSERT_TRUE(ReloadKeymapFile());
    const struct {
        const wchar_t* input;
        const char16_t* text;
        int atMost;
    } cases[] = {
        {L"hry;", u"欢迎", 0}, {L"olq;", u"爱情", 0}, {L"y;", u"英", 4},
        {L"y;", u"应", 4},     {L"q;", u"请", 4},     {L"q;", u"情", 4},
    };
    for (const auto& c : cases) {
        const auto page = Convert(c.input);
        const int at = IndexOf(page, c.text);
        EXPECT_GE(at, 0) << std::string(c.input, c.input + wcslen(c.input));
        EXPECT_LE(at, c.atMost) << std::string(c.input, c.input + wcslen(c.input));
    }
}

// The shipped tips tell how a word reads a character unusually.
TEST_F(DispatchBuiltDataTest, ATipTellsTheUnusualReadingOfAWord) {
    const struct {
        const wchar_t* input;
        const char16_t* word;
        const char16_t* tip;  // empty: none
    } cases[] = {
        {L"yinhang", u"银行", u"行(háng)"},
        {L"chongqing", u"重庆", u"重(chóng)"},
        {L"nihao", u"你好", u""},
    };
    for (const auto& c : cases) {
        const int at = IndexOf(Convert(c.input), c.word);
        ASSERT_GE(at, 0) << c.input;
        const t_lstr* tip = results[at]->furtherText;
        const std::u16string text =
            tip ? std::u16string(reinterpret_cast<const char16_t*>(LstrGetUnits(tip)),
                                 LstrGetLength(tip))
                : u"";
        EXPECT_EQ(std::u16string(c.tip), text) << c.input;
    }
}

TEST_F(DispatchBuiltDataTest, PlainConversionPutsTheForecastBackHoweverItEnds) {
    const struct {
        const wchar_t* input;
        uint8_t forecast;
        int count;  // -1: some
        const char16_t* first;
    } cases[] = {
        {L"nihao", 1, -1, u"你好"},
        {L"123", 1, 1, u"123"},  // the input itself when nothing is
                                 // found
        {L"123\tk", 1, 0, nullptr},
        {L"123", 0, 1, u"123"},
        {L"nihao", 0, -1, u"你好"},
    };
    for (const auto& c : cases) {
        SetByte(n_config::ForecastLongWord, c.forecast);
        const auto page = Convert(c.input, 1);
        const std::string label(c.input, c.input + wcslen(c.input));
        if (c.count >= 0) {
            EXPECT_EQ(size_t(c.count), page.size()) << label;
        }
        if (c.first) {
            ASSERT_FALSE(page.empty()) << label;
            EXPECT_EQ(c.first, page[0].text) << label;
        }
        EXPECT_EQ(c.forecast, GetConfiguration().GetByte(n_config::ForecastLongWord)) << label;
    }
    // Without the plain flag nothing stays nothing.
    EXPECT_EQ(0u, Convert(L"123").size());
}

TEST_F(DispatchBuiltDataTest, CloudIsAskedOnlyWhenEnabledAndWithoutCapitals) {
    static uint8_t buffer[kCloudRecordLimit];
    const struct {
        const wchar_t* input;
        uint8_t enabled;
        uint8_t asked;
    } cases[] = {{L"liuqiang", 1, 1}, {L"liuqiang", 0, 0}, {L"liuQiang", 1, 0}};
    for (const auto& c : cases) {
        SetByte(n_config::EnableCloudRequest, c.enabled);
        t_cloudRequestParams params;
        params.buffer = buffer;
        t_cloudAsked asked;
        asked.asked = 7;
        std::wstring input = c.input;
        uint8_t scratch[kConvertScratchBytes] = {};
        EXPECT_GT(ConvertInput(input.data(), results, scratch, 0, kPage, &params, &asked, 0, 0, 0,
                               nullptr),
                  0);
        // Disabled: the record is not even handed on, so it keeps its value.
        EXPECT_EQ(c.enabled ? c.asked : 7, asked.asked)
            << c.enabled << " " << std::string(input.begin(), input.end());
    }
}

TEST_F(DispatchBuiltDataTest, ALearnedAddressIsListedForItsBeginning) {
    EXPECT_EQ(0u, Convert(L"abc.def").size());
    ASSERT_EQ(1, LearnUrl(L"abc.def.org"));
    const auto page = Convert(L"abc.def");
    ASSERT_EQ(1u, page.size());
    EXPECT_EQ(u"abc.def.org", page[0].text);
    EXPECT_EQ(5, page[0].source);  // the user's own address
}

// Letters sent as typed stand first on nothing they begin: one letter and
// pinyin are not learned as English, a word learned before that covers
// only the start of the input comes after the readings of the whole input,
// and pinyin learned as English before completes nothing.
TEST_F(DispatchBuiltDataTest, LettersSentAsTypedNeverLeadWhatTheyBegin) {
    const struct {
        const wchar_t* sent;
        bool learnedBefore;  // in the English list already, as older versions learned it
        const wchar_t* input;
        const char16_t* first;
    } cases[] = {
        {L"w", false, L"wf", u"无法"},
        {L"w", false, L"wj", u"文件"},
        {L"zhongguo", false, L"zh", u"中"},
        {L"zhongguo", false, L"zhongg", u"中国"},
        {L"b", true, L"bj", u"比较"},
        {L"b", true, L"bjdx", u"北京大学"},
        {L"zhongguo", true, L"zh", u"中"},
        {L"zhongguo", true, L"zhongg", u"中国"},
        {L"zhongguo", true, L"zhongguo", u"中国"},
    };
    for (const auto& c : cases) {
        if (c.learnedBefore)
            ASSERT_EQ(1u, LearnEnglishWordCore(c.sent, 0, 1));
        else
            ASSERT_EQ(1u, LearnEnglishWord(c.sent));
        const auto page = Convert(c.input);
        ASSERT_FALSE(page.empty());
        EXPECT_EQ(std::u16string(c.first), page[0].text)
            << std::string(c.input, c.input + wcslen(c.input));
    }
}

// Keys that spell an English word take no correction with a rare
// character: "hello" read as "helo" would show 和囖.
TEST_F(DispatchBuiltDataTest, ACorrectionBringsNoRareCharacterToAnEnglishWord) {
    const auto page = Convert(L"hello");
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(-1, IndexOf(page, u"和囖"));
}

// An initial before a whole syllable is typed as meant when it reaches a
// word: the correction with a key fewer (绝 for jjue, 我 for wwo) comes
// after that word, never first, and stays on the page.
TEST_F(DispatchBuiltDataTest, AnInitialBeforeASyllableKeepsItsWordBeforeTheCorrection) {
    const struct {
        const wchar_t* input;
        std::u16string word, correction;
    } cases[] = {{L"jjue", u"解决", u"绝"}, {L"zzhong", u"这种", u"中"}, {L"tgao", u"提高", u"套"},
                 {L"hyou", u"还有", u"后"}, {L"lkai", u"离开", u"来"},   {L"hjun", u"海军", u"混"},
                 {L"wwo", u"问我", u"我"}};
    for (const auto& c : cases) {
        const auto page = Convert(c.input);
        ASSERT_FALSE(page.empty());
        EXPECT_EQ(c.word, page[0].text) << std::string(c.input, c.input + wcslen(c.input));
        EXPECT_EQ(1, IndexOf(page, c.correction))
            << std::string(c.input, c.input + wcslen(c.input));
    }
}

TEST_F(DispatchBuiltDataTest, ASelectionOfTwoWordsIsLearnedWholeAndComesFirst) {
    // The user picks 实践 for "shijian", then 表 for the rest, as the front
    // end learns it: the texts and syllables of the two records joined.
    const std::u16string whole = u"实践表";
    ASSERT_NE(whole, Convert(L"shijianbiao")[0].text);
    int at = IndexOf(Convert(L"shijianbiao"), u"实践");
    ASSERT_GE(at, 0);
    std::u16string ids(reinterpret_cast<const char16_t*>(LstrGetUnits(results[at]->syllableIds)),
                       LstrGetLength(results[at]->syllableIds));
    at = IndexOf(Convert(L"biao"), u"表");
    ASSERT_GE(at, 0);
    ids.append(reinterpret_cast<const char16_t*>(LstrGetUnits(results[at]->syllableIds)),
               LstrGetLength(results[at]->syllableIds));
    ASSERT_EQ(3u, ids.size());
    t_scopeHeap heap;
    EXPECT_EQ(1u, LearnCommittedText(L"实践表", heap.MakeLstr(ids.data(), 2 * ids.size()), 0));
    EXPECT_EQ(whole, Convert(L"shijianbiao")[0].text);
}

}  // namespace
