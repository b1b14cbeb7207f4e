// The candidate generator through the kernel's real start-up on the built
// system data: what a user sees on the first page for typical inputs.
#include <algorithm>
#include <string>
#include <vector>

#include "kernel/api/kernel_startup.h"
#include "kernel/convert/cand_generator.h"
#include "kernel/convert/cloud_request.h"
#include "kernel/convert/freq_adjust.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/cloud_cache.h"
#include "tests/kernel/api/api_support.h"

namespace {

// Unit by unit: a record's text may lie at any byte in the arena.
std::u16string Text(const t_candWord* w) {
    std::u16string out;
    for (uint32_t i = 0; w && i < LstrGetLength(w->text); ++i)
        out.push_back(char16_t(LstrGetUnit(w->text, i)));
    return out;
}

class GeneratorBuiltDataTest : public BuiltDataKernelTest {
public:
    // The first page of input.
    std::vector<std::u16string> Page(const std::wstring& input, t_convertRequest* out = nullptr,
                                     bool correction = false, const wchar_t* aux = nullptr) {
        t_convertRequest request;
        request.correction = correction;
        request.auxCode = aux;
        request.allLowerCase = 1;
        request.names = names;
        request.context = context;
        std::vector<std::u16string> texts = Raw(request, input.c_str());
        if (out) *out = request;
        return texts;
    }
    // The first page of a request as given (only the input and the page size set here).
    std::vector<std::u16string> Raw(t_convertRequest& request, const wchar_t* input,
                                    t_cloudRequestParams* params = nullptr,
                                    t_cloudAsked* asked = nullptr) {
        request.input = input;
        request.inputLength = int32_t(wcslen(input));
        request.pageSize = pageSize;
        n = generator.Generate(&request, results, params, asked);
        std::vector<std::u16string> texts;
        for (int i = 0; i < n; ++i) texts.push_back(Text(results[i]));
        return texts;
    }
    // The context of 吃 (chi) committed just before, in heap.
    static t_adjustRequest AfterChi(t_scopeHeap& heap) {
        t_adjustRequest before;
        before.on = true;
        before.wordText = heap.WideToLstr(L"吃");
        const uint16_t chi[] = {uint16_t(t_singleton<t_pyDict>::Get().GetSyllableId(L"chi"))};
        before.wordIds = heap.MakeLstr(chi, 2);
        return before;
    }
    static int IndexOf(const std::vector<std::u16string>& page, const std::u16string& text) {
        for (size_t i = 0; i < page.size(); ++i)
            if (page[i] == text) return int(i);
        return -1;
    }

    t_candGenerator generator;
    uint8_t names = 1;
    const t_adjustRequest* context = nullptr;
    uint32_t pageSize = 9;
    t_candWord* results[60] = {};
    int n = 0;
};

TEST_F(GeneratorBuiltDataTest, TypicalInputsOfferTheExpectedWordsOnTheFirstPage) {
    const struct {
        const wchar_t* input;
        std::u16string text;
        int atMost;  // its highest allowed place (0 = first)
    } cases[] = {
        {L"nihao", u"你好", 0},
        {L"zhongguo", u"中国", 0},
        {L"xian", u"先", 8},
        {L"xian", u"西安", 8},
        {L"zg", u"中国", 8},
        // A character's rare reading (和 read huo) costs as much in a sentence
        // as alone, a strong pair of one-syllable words keeps its strength,
        // and a word just past the words with statistics is not priced apart.
        {L"wenjianhuomulu", u"文件或目录", 0},
        {L"shuruhuoshuchu", u"输入或输出", 0},
        {L"tupianhuoshipin", u"图片或视频", 0},
        {L"shiyige", u"是一个", 0},
        {L"shiyonghuituji", u"使用绘图机", 0},
        // A reading rare in the survey but common in the words that hold the
        // character (行 hang: 银行, 一行) is not priced as rare after a word.
        {L"charuhang", u"插入行", 0},
        {L"shanchuhang", u"删除行", 0},
        // A composed reading is followed by the same reading with one word
        // exchanged for a homophone, the phrase a user looks for when the
        // first reading picked the wrong word.
        {L"yilvzuzhi", u"一律阻止", 4},
        {L"buyaofasonghuifu", u"不要发送回复", 4},
        {L"buyaotuoliyuanyi", u"不要脱离原意", 4},
        {L"zhutiyianzhuang", u"主题已安装", 4},
        {L"yugaifuwuqishang", u"于该服务器上", 4},
        // The first page of five: after the first reading and at most two
        // close ones, the first word (to pick it and type on) and the
        // common words of the whole input, priced on one scale whether or
        // not the statistics pair them.
        {L"woxiang", u"我", 4},
        {L"bj", u"北京", 4},
        {L"jt", u"今天", 4},
        {L"shixian", u"视线", 4},
        {L"shixian", u"时限", 4},
        {L"mingtianjian", u"明天", 4},
        // A close reading that reads the first word's keys as another word
        // brings that word onto the page.
        {L"tamenkeyibeizuowei", u"它们", 4},
        // Where the keys read whole, that reading stands first: a longer
        // word that reads on (这件事情, 那就是说) comes after it.
        {L"zhejianshi", u"这件事", 0},
        {L"najiushi", u"那就是", 0},
        {L"gaizenme", u"该怎么", 0},
        {L"fazhanzhong", u"发展中", 0},
        {L"yibanlai", u"一般来", 0},
        {L"xiuxishi", u"休息室", 0},
        {L"guanliren", u"管理人", 0},
        // A word is priced by its parts as the statistics read them with
        // their whole context (是 不 是), and a word they know worse than its
        // parts goes on as its last part does (一个 月 as 个 月).
        {L"shibushi", u"是不是", 0},
        {L"yigeyue", u"一个月", 0},
        {L"womendeyigeyue", u"我们的一个月", 0},
        // A reading ending in a character the statistics do not pair with
        // the word before stays on the page while it costs about as much as
        // the first; so does a name beside a first reading that is unsure.
        {L"fasongminglingzhi", u"发送命令至", 4},
        {L"zhangweiguo", u"张伟国", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input, c.input + wcslen(c.input)));
        const int at = IndexOf(Page(c.input), c.text);
        EXPECT_GE(at, 0);
        EXPECT_LE(at, c.atMost);
    }
}

// Beside a sure first reading the first page holds no reading that only
// glues a stray character onto its words, and no name made of them (a
// page as wide as the engine's, whose lookup finds the parts' words).
TEST_F(GeneratorBuiltDataTest, NoStrayReadingsBesideASureOne) {
    pageSize = 60;
    const struct {
        const wchar_t* input;
        std::u16string text;
    } cases[] = {
        {L"mingtianjian", u"明天健"}, {L"mingtianjian", u"明天间"}, {L"mingtianjian", u"明天键"},
        {L"chifanlema", u"吃饭了马"}, {L"chifanlema", u"吃饭了骂"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input, c.input + wcslen(c.input)));
        const int at = IndexOf(Page(c.input), c.text);
        EXPECT_TRUE(at < 0 || at > 4) << at;
    }
}

// A lone a, e or o is its own syllable and the first letter of the
// syllables it begins, as an initial is the first letter of its syllables:
// in first-letter input the common word comes first, and at the end of the
// input the word of the syllable not typed out yet (方案, 晚安) and the
// vowel's own syllable (行啊) are both on the first page, the one the
// statistics price lower first; a reading that splits the keys elsewhere
// (啊那 for ana) or reads the vowel begun too (和而 for hee) does not come
// before the word. Before a whole syllable the vowel begins its syllables
// too (显而易见), where the statistics favour them over its own (阿拉), also
// after a vowel it could go on (第二页 dieye) and before a letter it could
// go on with (然而你 raneni); not so where no whole syllable follows (恰啊).
// A page as wide as the engine's.
TEST_F(GeneratorBuiltDataTest, ALoneVowelAlsoBeginsTheSyllablesWithoutInitial) {
    pageSize = 60;
    const struct {
        const wchar_t* input;
        std::u16string text;
        int atMost;  // -1: anywhere but first
    } cases[] = {
        {L"aq", u"安全", 0},
        {L"az", u"安装", 0},
        {L"ez", u"儿子", 0},
        {L"ag", u"爱国", 0},
        {L"tianam", u"天安门", 0},
        {L"changaj", u"长安街", 0},
        {L"fanga", u"方案", 0},
        {L"qina", u"亲爱", 4},
        {L"anq", u"安全", 0},
        {L"fangan", u"方案", 0},
        {L"a", u"啊", 0},
        {L"nihaoa", u"你好啊", 0},
        {L"haoa", u"好啊", 0},
        {L"shia", u"是啊", 0},
        {L"diedai", u"迭代", 0},
        {L"xinga", u"行啊", 4},
        {L"gana", u"干啊", 4},
        {L"changa", u"长安", 0},
        {L"duia", u"对啊", 4},
        {L"wana", u"晚安", 0},
        {L"tenga", u"疼爱", 0},
        {L"ana", u"啊那", -1},
        {L"tana", u"他那", -1},
        {L"shune", u"书呢", -1},
        {L"lea", u"了啊", 0},
        {L"shuoa", u"说啊", 0},
        {L"xianeyijian", u"显而易见", 0},
        {L"youganefa", u"有感而发", 0},
        {L"tianamen", u"天安门", 0},
        {L"ala", u"阿拉", 0},
        {L"amen", u"阿门", 0},
        {L"hee", u"赫尔", 0},
        {L"duane", u"短耳", 0},
        {L"dieye", u"第二页", 0},
        {L"guanbiebubaocun", u"关闭而不保存", 0},
        {L"zaienvqingdan", u"在儿女清单", 0},
        {L"raneni", u"然而你", 0},
        {L"dianjianiu", u"点击按钮", 0},
        {L"qiaa", u"恰啊", 0},
        {L"huia", u"灰暗", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input, c.input + wcslen(c.input)));
        // As the dispatcher asks by default: corrections and English words too.
        t_convertRequest request;
        request.allLowerCase = request.correction = request.names = 1;
        request.longWordHint = wcslen(c.input) > 1;
        const int at = IndexOf(Raw(request, c.input), c.text);
        if (c.atMost < 0) {
            EXPECT_NE(at, 0);
        } else {
            EXPECT_GE(at, 0);
            EXPECT_LE(at, c.atMost);
        }
    }
}

// The shipped given-name characters carry the places the name lattice
// needs, so that surname and given name are read over the whole input:
// every name starts with a surname of the input's first syllable, three
// syllables give three-character names, and the given-name characters that
// names use most come first; a surname character may stand in the given
// name too (刘德华, 成龙). With the first context byte 2 only names of a
// surname and one character, with 16 none.
TEST_F(GeneratorBuiltDataTest, TheNameOrientedGenerationFindsNamesOfTheShippedData) {
    const struct {
        const wchar_t* input;
        uint8_t contextByte;
        std::u16string surnames;  // empty: no name
        size_t chars;
        std::u16string first;  // the first name, when checked
        std::u16string among;  // a name on the page, when checked
    } cases[] = {
        {L"liuzhiqiang", 0, u"刘柳", 3, u"刘志强", u""},
        {L"wangxiaoming", 0, u"王汪", 3, u"", u"王小明"},
        {L"lixiaolong", 0, u"李黎", 3, u"", u"李小龙"},
        {L"liudehua", 0, u"刘柳", 3, u"", u"刘德华"},
        {L"chenjianguo", 0, u"陈", 3, u"", u""},
        {L"zhangwei", 0, u"张章", 2, u"张伟", u""},
        {L"liming", 0, u"李黎", 2, u"", u"李明"},
        {L"chenglong", 0, u"成程", 2, u"", u"成龙"},
        {L"liuwei", 2, u"刘柳", 2, u"刘伟", u""},
        {L"liuzhiqiang", 2, u"", 0, u"", u""},
        {L"liuwei", 16, u"", 0, u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input, c.input + wcslen(c.input)) + " " +
                     std::to_string(c.contextByte));
        t_convertRequest request;
        request.input = c.input;
        request.pageSize = 9;
        request.contextBytes[0] = c.contextByte;
        n = generator.GenerateAlt(&request, results);
        EXPECT_EQ(c.surnames.empty(), n == 0);
        if (n > 0 && !c.first.empty()) {
            EXPECT_EQ(c.first, Text(results[0]));
        }
        std::u16string page;
        for (int i = 0; i < n; ++i) page += Text(results[i]) + u" ";
        if (!c.among.empty()) {
            EXPECT_NE(std::u16string::npos, page.find(c.among + u" ")) << n;
        }
        for (int i = 0; i < n; ++i) {
            const std::u16string name = Text(results[i]);
            EXPECT_EQ(kCandSourceComposedName, results[i]->sourceType);
            ASSERT_EQ(c.chars, name.size());
            EXPECT_NE(std::u16string::npos, c.surnames.find(name[0])) << i;
        }
    }
}

TEST_F(GeneratorBuiltDataTest, AnAuxiliaryCodeKeepsOnlyTheWordsItNames) {
    const struct {
        const wchar_t* input;
        const wchar_t* code;
        std::u16string kept, dropped;
    } cases[] = {{L"jiang", L"s", u"江", u"将"}, {L"lin", L"m", u"林", u"临"}};
    for (const auto& c : cases) {
        const auto all = Page(c.input);
        ASSERT_GE(IndexOf(all, c.dropped), 0);
        const auto kept = Page(c.input, nullptr, false, c.code);
        EXPECT_GE(IndexOf(kept, c.kept), 0);
        EXPECT_EQ(-1, IndexOf(kept, c.dropped));
        EXPECT_GT(kept.size(), 0u);
    }
}

// 刘志强 is no word of the list: a surname and two given-name characters.
TEST_F(GeneratorBuiltDataTest, ASurnameAndGivenNameAreComposedIntoANameWhenNamesAreWanted) {
    const struct {
        const wchar_t* input;
        uint8_t names;
        std::u16string name;
        bool offered;
    } cases[] = {{L"liuzhiqiang", 1, u"刘志强", true},
                 {L"liuzhiqiang", 0, u"刘志强", false},
                 {L"chenjianguo", 1, u"陈健国", true},
                 {L"nihao", 1, u"", false}};
    for (const auto& c : cases) {
        names = c.names;
        const auto page = Page(c.input);
        const int at = c.name.empty() ? -1 : IndexOf(page, c.name);
        EXPECT_EQ(c.offered, at >= 1) << std::string(c.input, c.input + wcslen(c.input));
        if (at >= 0) {
            EXPECT_EQ(kCandSourceComposedName, results[at]->sourceType);
        }
        EXPECT_EQ(c.offered, generator.PersonNameFlag());
    }
}

// A person name of the list read over the whole input marks the run as a
// name input, when names are wanted.
TEST_F(GeneratorBuiltDataTest, ANameOfTheListOverTheWholeInputMarksTheRun) {
    const struct {
        const wchar_t* input;
        uint8_t names;
        bool marked;
    } cases[] = {{L"zhouenlai", 1, true}, {L"zhouenlai", 0, false}, {L"nihao", 1, false}};
    for (const auto& c : cases) {
        names = c.names;
        Page(c.input);
        EXPECT_EQ(c.marked, generator.PersonNameFlag())
            << std::string(c.input, c.input + wcslen(c.input)) << int(c.names);
    }
}

// Four syllables forecast the long word at the long-word place; three, whose
// lead is weak, get it as a predicted word. Neither stands first where the
// keys read whole.
TEST_F(GeneratorBuiltDataTest, LongWordsAreForecastAndPredictedOnlyWithTheForecastSwitch) {
    const struct {
        const wchar_t* input;
        std::u16string word;
        int32_t forecast;
        bool offered;
        uint16_t kind;
        uint16_t associationMark;
    } cases[] = {{L"zhonghuarenmin", u"中华人民共和国", 1, true, kCandKindPinned, 1},
                 {L"zhonghuarenmin", u"中华人民共和国", 0, false, 0, 0},
                 {L"zhonghuaren", u"中华人民共和国", 1, true, kCandKindScored, 1},
                 {L"zhonghuaren", u"中华人民共和国", 0, false, 0, 0},
                 {L"zhejianshi", u"这件事情", 1, true, kCandKindScored, 1},
                 {L"fazhanzhong", u"发展中国家", 1, true, kCandKindScored, 1}};
    for (const auto& c : cases) {
        generator.SetOptions(c.forecast, 2, 2, 4);
        const auto page = Page(c.input);
        const int at = IndexOf(page, c.word);
        EXPECT_EQ(c.offered, at >= 0)
            << std::string(c.input, c.input + wcslen(c.input)) << c.forecast;
        if (at < 0) continue;
        EXPECT_EQ(c.kind, results[at]->kind);
        EXPECT_EQ(c.associationMark, results[at]->associationMark);
        EXPECT_GE(at, 1);
    }
}

// "u" then a component code: the characters it names, and no composition.
TEST_F(GeneratorBuiltDataTest, AStrokeLookupOffersTheCharactersOfTheCode) {
    for (const uint8_t lookup : {0, 1}) {
        t_convertRequest request;
        request.strokeLookup = lookup;
        Raw(request, L"umu");
        int strokes = 0;
        for (int i = 0; i < n; ++i) strokes += results[i]->sourceType == kCandSourceStroke;
        EXPECT_EQ(lookup != 0, strokes > 0);
        EXPECT_EQ(lookup, request.noPhrase);
    }
}

TEST_F(GeneratorBuiltDataTest, AbbreviatedKeysAreReadKeyByKeyInTheSecondaryCollection) {
    for (const uint8_t secondary : {0, 1}) {
        t_convertRequest request;
        request.secondaryCollection = secondary;
        // 公安局: the a is a key, not the syllable a
        EXPECT_EQ(secondary != 0, IndexOf(Raw(request, L"gaj"), u"公安局") >= 0);
    }
}

// The English word the input begins comes with the long-word hint; letters
// that read as pinyin keep their words before it.
TEST_F(GeneratorBuiltDataTest, TheEnglishWordOfTheInputComesWithTheLongWordHint) {
    const struct {
        const wchar_t* input;
        std::u16string english, chinese;  // chinese: before english, when given
    } cases[] = {
        {L"hello", u"hello", u""}, {L"dale", u"dale", u"打了"}, {L"gaini", u"gaining", u"该你"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input, c.input + wcslen(c.input)));
        for (const uint8_t hint : {0, 1}) {
            t_convertRequest request;
            request.longWordHint = hint;
            const auto page = Raw(request, c.input);
            const int english = IndexOf(page, c.english);
            EXPECT_EQ(hint != 0, english >= 0);
            if (c.chinese.empty()) continue;
            const int chinese = IndexOf(page, c.chinese);
            EXPECT_GE(chinese, 0);
            if (english >= 0) {
                EXPECT_LT(chinese, english);
            }
        }
    }
}

TEST_F(GeneratorBuiltDataTest, TheWordCommittedBeforeRaisesItsFollower) {
    const auto plain = Page(L"fan");
    t_scopeHeap heap;
    const t_adjustRequest before = AfterChi(heap);
    context = &before;
    const auto after = Page(L"fan");
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(u"饭", after[0]);
    EXPECT_NE(u"饭", plain[0]);
}

// The hidden trace names the capitals offered as typed and the raise that
// the word committed before gave.
TEST_F(GeneratorBuiltDataTest, TheTraceNamesTypedCapitalsAndTheRaiseOfTheContext) {
    t_scopeHeap heap;
    const t_adjustRequest before = AfterChi(heap);
    const struct {
        const wchar_t* input;
        const t_adjustRequest* context;
        std::u16string text, trace;
    } cases[] = {{L"Nihao", nullptr, u"N", u"输入串首段大写"},
                 {L"fan", &before, u"饭", u"经上文调频("}};
    generator.SetDebugDisplay(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input, c.input + wcslen(c.input)));
        context = c.context;
        const int at = IndexOf(Page(c.input), c.text);
        ASSERT_GE(at, 0);
        ASSERT_NE(nullptr, results[at]->debugText);
        const std::u16string trace(
            reinterpret_cast<const char16_t*>(LstrGetUnits(results[at]->debugText)),
            LstrGetLength(results[at]->debugText));
        EXPECT_NE(std::u16string::npos, trace.find(c.trace)) << trace.size();
    }
    generator.SetDebugDisplay(false);
}

// A cached cloud answer for the syllables of the whole input joins the page.
TEST_F(GeneratorBuiltDataTest, TheCloudCacheAnswersTheWholeInputWhenAsked) {
    t_cloudCacheDict& cache = t_singleton<t_cloudCacheDict>::Get();
    ASSERT_TRUE(cache.IsReady());
    t_scopeHeap heap;
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    const uint16_t ids[] = {uint16_t(py.GetSyllableId(L"ni")), uint16_t(py.GetSyllableId(L"hao"))};
    const t_lstr* key = heap.MakeLstr(ids, sizeof ids);
    // Both answers join: the page takes them until it is full.
    for (const wchar_t* text : {L"泥蒿", L"尼蒿"}) {
        const t_lstr* answer = heap.WideToLstr(text);
        ASSERT_EQ(1, cache.AddEntry(key, answer, 5, 0, answer, answer));
    }
    for (const uint8_t asked : {0, 1}) {
        t_convertRequest request;
        request.cloudCache = asked;
        const auto page = Raw(request, L"nihao");
        for (const std::u16string text : {u"泥蒿", u"尼蒿"}) {
            const int at = IndexOf(page, text);
            EXPECT_EQ(asked != 0, at >= 0);
            if (at >= 0) {
                EXPECT_EQ(kCandSourceCloud, results[at]->sourceType & ~kCandSourceMerged);
            }
        }
    }
}

TEST_F(GeneratorBuiltDataTest, InputLengthLimitAndGameKeys) {
    // Of a longer input the first 79 characters are converted.
    std::wstring sentence;
    for (int i = 0; i < 17; ++i) sentence += L"nihao";
    for (const size_t length : {size_t(78), size_t(79), size_t(85)}) {
        ASSERT_GT(Page(sentence.substr(0, length)).size(), 0u) << length;
        EXPECT_EQ(std::min<size_t>(length, 79), results[0]->coveredLength) << length;
    }
    t_convertRequest request;
    Page(L"wwwwaaaa", &request);
    EXPECT_EQ(1, request.gameKeys);
    Page(L"nihao", &request);
    EXPECT_EQ(0, request.gameKeys);
}

TEST_F(GeneratorBuiltDataTest, ASlipOfTheFingerIsCorrectedWhenAsked) {
    t_convertRequest request;
    EXPECT_EQ(-1, IndexOf(Page(L"nihaao", &request), u"你好"));
    EXPECT_EQ(0, request.correctionUsed);
    EXPECT_EQ(0, IndexOf(Page(L"nihaao", &request, true), u"你好"));
    EXPECT_EQ(1, request.correctionUsed);
    EXPECT_NE(0, request.mergedMask & 1);
    EXPECT_EQ(0, results[0]->sourceType & kCandSourceMerged);
    // The corrected letters ride along; the word itself is what is shown.
    ASSERT_NE(nullptr, results[0]->furtherText);
    EXPECT_EQ(nullptr, results[0]->secondText);
    EXPECT_EQ(6u, results[0]->coveredLength);
    // The hidden trace shows the edit and its scores.
    generator.SetDebugDisplay(true);
    Page(L"nihaao", &request, true);
    generator.SetDebugDisplay(false);
    ASSERT_NE(nullptr, results[0]->debugText);
    const std::u16string trace(
        reinterpret_cast<const char16_t*>(LstrGetUnits(results[0]->debugText)),
        LstrGetLength(results[0]->debugText));
    EXPECT_EQ(0u, trace.find(u"adj("));
    EXPECT_NE(std::u16string::npos, trace.find(u"nihao_del("));
}

// With corrections on, what was typed as meant keeps its reading: a phrase
// typed whole comes first with no correction on the first two places,
// initials that read as words keep their words ahead of a variant with a
// key fewer (which reads likelier) and no correction comes first; a slip is
// still corrected.
TEST_F(GeneratorBuiltDataTest, CorrectionsStayAwayFromWhatWasTypedAsMeant) {
    const struct {
        const wchar_t* input;
        std::u16string word;
        int atMost;       // its highest allowed place; -1: not checked
        uint16_t places;  // mask of the places checked for a correction
        uint16_t corrected;
    } cases[] = {
        {L"nihao", u"你好", 0, 3, 0},
        {L"zhongguo", u"中国", 0, 3, 0},
        {L"woaini", u"我爱你", 0, 3, 0},
        {L"haode", u"好的", 0, 3, 0},
        {L"maozedong", u"毛泽东", 0, 3, 0},
        {L"weininhuhang", u"为您护航", 0, 3, 0},
        {L"jikeniantie", u"即可黏贴", 0, 3, 0},
        // A sure reading keeps a correction that reads far worse (一家子)
        // off the page; one a slipped vowel made (shigong for shiyong) is
        // shown second.
        {L"yijiazai", u"已加载", 0, 3, 0},
        {L"shigongxitongdayinduihuakuangdayin", u"使用系统打印对话框打印", 1, 3, 2},
        // Keys that read as pinyin up to a last initial are being typed: a
        // correction never comes first there.
        {L"nihap", u"你好", 1, 3, 2},
        {L"weilejianh", u"为了简化", 0, 1, 0},
        {L"xiaz", u"下载", 0, 1, 0},
        {L"nh", u"女孩", 3, 1, 0},
        {L"dd", u"等等", 0, 1, 0},
        {L"bjdx", u"北京大学", 0, 1, 0},
        {L"zg", u"中国", 1, 1, 0},
        {L"bj", u"北京", 3, 1, 0},
        {L"yhgl", u"用户管理", 1, 1, 0},
        {L"aftd", u"法庭", -1, 1, 0},
        // z for zh: seven initials, each weighing a tenth, against the
        // characters of zh with one initial fewer.
        {L"zhrmghg", u"中华人民共和国", 0, 1, 0},
        // A whole syllable is typed as meant: no correction drops or
        // changes one of its keys on the first page (里 for liu, 行 for xiong).
        {L"liu", u"六", 0, 0x1F, 0},
        {L"xiong", u"胸", 0, 0x1F, 0},
        {L"tuo", u"", -1, 0x1F, 0},
        {L"niu", u"", -1, 0x1F, 0},
        {L"diu", u"", -1, 0x1F, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input, c.input + wcslen(c.input)));
        t_convertRequest request;
        const auto page = Page(c.input, &request, true);
        EXPECT_EQ(c.corrected, request.correctionUsed ? request.mergedMask & c.places : 0);
        if (c.atMost < 0) continue;
        const int at = IndexOf(page, c.word);
        EXPECT_GE(at, 0);
        EXPECT_LE(at, c.atMost);
    }
}

// After the readings of the whole input, the words of its start come
// before the characters of its first syllable.
TEST_F(GeneratorBuiltDataTest, LongerWordsOfTheStartComeBeforeItsCharacters) {
    const struct {
        const wchar_t* input;
        std::u16string whole, word,
            character;  // whole: first (when given); character: after word, or off the page
    } cases[] = {
        {L"jintiantianqihenhao", u"今天天气很好", u"今天天气", u"今"},
        {L"jintiantianqihenhao", u"今天天气很好", u"今天", u"金"},
        {L"woaini", u"我爱你", u"我爱", u"我"},
        {L"liechule", u"", u"列出", u"里"},
        {L"liechule", u"", u"列", u"离"},
    };
    for (const auto& c : cases) {
        const std::string name(c.input, c.input + wcslen(c.input));
        const auto page = Page(c.input);
        ASSERT_FALSE(page.empty()) << name;
        if (!c.whole.empty()) {
            EXPECT_EQ(c.whole, page[0]) << name;
        }
        const int word = IndexOf(page, c.word), character = IndexOf(page, c.character);
        EXPECT_GT(word, 0) << name;
        if (character >= 0) {
            EXPECT_LT(word, character) << name;
        }
    }
}

TEST_F(GeneratorBuiltDataTest, ALearnedWordMovesUp) {
    auto page = Page(L"shishi");
    ASSERT_GE(n, 4);
    const std::u16string chosen = page[3];
    const t_lstr* ids = results[3]->syllableIds;
    ASSERT_NE(nullptr, ids);
    const std::vector<uint16_t> units(LstrGetUnits(ids), LstrGetUnits(ids) + LstrGetLength(ids));
    const std::wstring word(chosen.begin(), chosen.end());
    t_scopeHeap heap;
    ASSERT_TRUE(LearnUserWord(heap.MakeLstr(units.data(), 2 * units.size()), word.c_str(), 0, 0));
    EXPECT_EQ(0, IndexOf(Page(L"shishi"), chosen));
}

TEST_F(GeneratorBuiltDataTest, CloudRecordOnlyForTheFirstPageOfTheWholeInput) {
    static uint8_t buffer[kCloudRecordLimit];
    const struct {
        uint32_t pageStart;
        const wchar_t* aux;
        int32_t segment;
        bool withBuffer;
        uint8_t asked;
    } cases[] = {{0, nullptr, 0, true, 1},
                 {9, nullptr, 0, true, 0},
                 {0, L"k", 0, true, 0},
                 {0, nullptr, 2, true, 0},
                 {0, nullptr, 0, false, 0}};
    for (const auto& c : cases) {
        t_convertRequest request;
        request.pageStart = c.pageStart;
        request.auxCode = c.aux;
        request.segmentLength = c.segment;
        t_cloudRequestParams params;
        params.buffer = c.withBuffer ? buffer : nullptr;
        t_cloudAsked asked;
        asked.asked = 7;
        Raw(request, L"liuqiang", &params, &asked);  // no word of the list: not trusted
        EXPECT_EQ(c.asked, asked.asked) << c.pageStart << " " << c.segment << " " << c.withBuffer;
        if (asked.asked) {
            uint8_t x = 0;
            for (int i = 0; i < (buffer[0] | buffer[1] << 8); ++i) x ^= buffer[i];
            EXPECT_EQ(0, x);
        }
    }
}

// The data build's table: 你好 stands out under ni hao, liu qiang has no
// reading that does; several words of the input's reading (事实 实施) ask nothing.
TEST_F(GeneratorBuiltDataTest, TrustedSyllablePairsAskNoCloud) {
    static uint8_t buffer[kCloudRecordLimit];
    ASSERT_NE(nullptr, KernelTrustedPairs());
    for (const auto& [input, asked] :
         {std::pair{L"nihao", 0}, std::pair{L"liuqiang", 1}, std::pair{L"shishi", 0}}) {
        t_convertRequest request;
        t_cloudRequestParams params;
        params.buffer = buffer;
        t_cloudAsked out;
        Raw(request, input, &params, &out);
        EXPECT_EQ(asked, out.asked) << std::string(input, input + wcslen(input));
    }
}

}  // namespace
