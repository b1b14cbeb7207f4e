// Writer of the phrase file and the readers that fill images and arrays.
#include "kernel/userdict/phrase_file.h"

#include <cstdio>
#include <string>

#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/text_file.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/phrase_dict.h"

const t_phraseHeaderLine kPhraseFileHeader[kPhraseHeaderLines] = {
    {L";  维塔拼音输入法--自定义短语配置文件", true},                                   // 1
    {L";  自定义短语说明：", false},                                                    // 2
    {L";  1、自定义短语支持多行、空格、指定位置。", false},                             // 3
    {L";  2、每条自定义短语最多支持30000个汉字，总共支持100000条自定义短语。", false},  // 4
    {L";  3、自定义短语的格式如下：", true},                                            // 5
    {L";  单行的格式：", false},                                                        // 6
    {L";  字符串+英文逗号+数字（指定排序位置）=短语", true},                            // 7
    {L";  多行的格式：", false},                                                        // 8
    {L";  字符串+英文逗号+数字（指定排序位置）=", false},                               // 9
    {L";  多行短语", true},                                                             // 10
    {L";  具体格式可以参考下面的实例。", false},                                        // 11
    {L";  自定义短语文件名为phrases.ini，存放在用户文件夹的根目录下。", false},         // 12
    {L";  4、最多支持100000行自定义短语。", false},                                     // 13
    {L";  5、自定义短语的用途有：快捷输入手机号、邮箱、诗词、小短文等，大家可以自由发挥。",
     false},                                                                                  // 14
    {L";  6、时间函数功能。具体定义格式如下：", false},                                       // 15
    {L";  字符串+英文逗号+数字（指定排序位置）=#表达式", false},                              // 16
    {L";  注意：表达式以英文#开头，后面的表达式中的每一个函数的前面都包含有英文$。", false},  // 17
    {L";  函数表如下：", false},                                                              // 18
    {L";  函数    \t含义    \t举例", false},                                                  // 19
    {L";  $year    \t年(4位) \t2006、2008", false},                                           // 20
    {L";  $year_yy\t年(2位) \t06、08", false},                                                // 21
    {L";  $month     \t月      \t12、8、3", false},                                           // 22
    {L";  $month_mm  \t月      \t12、08、03\t\t//此函数在输入法3.1版之后（含）有效", false},  // 23
    {L";  $day     \t日      \t3、13、22", false},                                            // 24
    {L";  $day_dd\t日\t       03、13、22\t//此函数在输入法3.1版之后（含）有效", false},       // 25
    {L";  $weekday \t星期    \t0、1、2、5、6", false},                                        // 26
    {L";  $fullhour\t时(24小时制)  \t02、08、13、23", false},                                 // 27
    {L";  $halfhour\t时(12小时制)\t02、08、01、11", false},                                   // 28
    {L";  $ampm    \tAM、PM(英)\tAM、PM（大写）", false},                                     // 29
    {L";  $minute  \t分      \t02、08、15、28", false},                                       // 30
    {L";  $second  \t秒      \t02、08、15、28", false},                                       // 31
    {L";  $year_cn \t年(中文4位)\t二〇〇六", false},                                          // 32
    {L";  $year_yy_cn\t年(中文2位)\t〇六", false},                                            // 33
    {L";  $month_cn\t月(中文)\t十二、八、三", false},                                         // 34
    {L";  $day_cn  \t日(中文)\t三、十三、二十二", false},                                     // 35
    {L";  $weekday_cn \t星期(中文)\t日、一、二、五、六", false},                              // 36
    {L";  $fullhour_cn\t时(中文24时制)\t二、八、十三、二十三", false},                        // 37
    {L";  $halfhour_cn\t时(中文12时制)\t二、八、一、十一", false},                            // 38
    {L";  $ampm_cn \t上午下午(中文)\t上午、下午", false},                                     // 39
    {L";  $minute_cn\t分(中文)\t零二、零八、十五、二十八", false},                            // 40
    {L";  $second_cn\t秒(中文)\t零二、零八、十五、二十八", false},                            // 41
    {L";  具体你可以参考这个文件最下面的例子，实际体验一下就明白了。", false},                // 42
    {L";  你可以用自定义短语来做一个带动态时间的多行回信落款。", false},                      // 43
};

namespace {

// The stored phrase as wide text: a surrogate pair becomes one character,
// and, unlike LstrToCodePoints, a lone surrogate becomes U+FFFD (it has no
// form in the file); stops at a 0 unit. False when scratch fails.
bool AppendPhrase(t_scopeHeap& scratch, std::wstring& out, const t_lstr* s) {
    const uint32_t* c = LstrToCodePoints(scratch, s);
    if (!c) return false;
    for (; *c; ++c) out.push_back(*c >= 0xD800 && *c <= 0xDFFF ? wchar_t(0xFFFD) : wchar_t(*c));
    return true;
}

bool HasLineFeed(const t_lstr* s) {
    for (uint16_t i = 0; i < LstrGetLength(s); ++i)
        if (LstrGetUnit(s, i) == u'\n') return true;
    return false;
}

}  // namespace

int WritePhrasesFile(t_scopeHeap& arena, const wchar_t* imagePath, const wchar_t* textPath,
                     bool withStates) {
    if (!textPath || !textPath[0]) return 0;
    t_abbrUsrDict dict;
    t_phraseRecord** items = nullptr;
    int count = 0;
    t_fdFile probe;
    if (imagePath && imagePath[0] && probe.Open(imagePath, kOpenRead)) {
        probe.Close();
        if (!dict.AttachFile(imagePath) || !dict.GetAllItems(arena, &items, &count)) return 0;
    }

    t_textFile out;
    if (!out.Open(textPath, kOpenTruncate, kTextUtf16Le)) return 0;
    for (const t_phraseHeaderLine& line : kPhraseFileHeader) {
        out.WriteLine(line.text);
        out.WriteLine(line.blankAfter ? L"\r\n\r\n" : L"\r\n");
    }
    std::wstring text;
    t_scopeHeap scratch(t_scopeHeap::kDefaultBlockSize);
    for (int i = 0; i < count; ++i) {
        const t_phraseRecord& r = *items[i];
        if (!withStates && r.state == kPhraseDeleted) continue;
        text.assign(L"\r\n");
        for (uint16_t u = 0; u < LstrGetLength(r.key); ++u)
            text.push_back(wchar_t(LstrGetUnit(r.key, u)));
        wchar_t number[16];
        swprintf(number, 16, L",%d=", int(r.position));
        text += number;
        if (HasLineFeed(r.phrase)) text += L"\r\n";
        const bool converted = AppendPhrase(scratch, text, r.phrase);
        scratch.FreeAll();
        if (withStates) {
            swprintf(number, 16, L"(%d)", int(r.state));
            text += number;
        }
        if (!converted || !out.WriteLine(text.c_str())) {
            out.ClearLines();
            return 0;
        }
    }
    // Close writes the lines into the temporary and renames it over the
    // target only when all of them made it.
    return out.Close() ? 1 : 0;
}

namespace {

bool AddToDict(const t_phraseEntry& e, void* context) {
    static_cast<t_abbrUsrDict*>(context)->AddItem(e.key, e.phrase, e.position, kPhrasePlain);
    return true;
}

}  // namespace

int ParsePhrasesText(t_scopeHeap& arena, const wchar_t* textPath, const wchar_t* imagePath) {
    if (!textPath || !imagePath) return 0;
    t_abbrUsrDict dict;
    if (!dict.AttachEmpty()) return 0;
    if (!ReadPhrasesFile(arena, textPath, &AddToDict, &dict)) return 0;
    return dict.SaveToFile(imagePath);
}
