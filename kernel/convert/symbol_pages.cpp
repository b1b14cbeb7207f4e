// The symbol pages of the single digits 1 to 9: GB2312's symbol rows 1 to 9
// in code order, as GBK maps them to Unicode. Row 6 holds the GBK vertical
// forms that have only private-use code points there (U+E78D to U+E796), row 8
// the pinyin m with acute at U+E7C7. Checked by hand against the code table.
// Constant data; any thread.
#include "kernel/convert/number_cands.h"

namespace {

constexpr const wchar_t* kSymbolPages[9] = {
    // row 1: punctuation and signs (94)
    L"　、。·ˉˇ¨〃々—～‖…‘’“”〔〕〈〉《》「」『』〖〗【】±"
    L"×÷∶∧∨∑∏∪∩∈∷√⊥∥∠⌒⊙∫∮≡≌≈∽∝≠≮≯≤≥∞∵∴"
    L"♂♀°′″℃＄¤￠￡‰§№☆★○●◎◇◆□■△▲※→←↑↓〓",
    // row 2: enumerated numbers and Roman numerals (82)
    L"ⅰⅱⅲⅳⅴⅵⅶⅷⅸⅹ⒈⒉⒊⒋⒌⒍⒎⒏⒐⒑⒒⒓⒔⒕⒖⒗⒘⒙⒚⒛⑴⑵"
    L"⑶⑷⑸⑹⑺⑻⑼⑽⑾⑿⒀⒁⒂⒃⒄⒅⒆⒇①②③④⑤⑥⑦⑧⑨⑩㈠㈡㈢㈣"
    L"㈤㈥㈦㈧㈨㈩ⅠⅡⅢⅣⅤⅥⅦⅧⅨⅩⅪⅫ",
    // row 3: full-width ASCII (94)
    L"！＂＃￥％＆＇（）＊＋，－．／０１２３４５６７８９：；＜＝＞？＠"
    L"ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ［＼］＾＿｀"
    L"ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ｛｜｝￣",
    // row 4: hiragana (83)
    L"ぁあぃいぅうぇえぉおかがきぎくぐけげこごさざしじすずせぜそぞただ"
    L"ちぢっつづてでとどなにぬねのはばぱひびぴふぶぷへべぺほぼぽまみむ"
    L"めもゃやゅゆょよらりるれろゎわゐゑをん",
    // row 5: katakana (86)
    L"ァアィイゥウェエォオカガキギクグケゲコゴサザシジスズセゼソゾタダ"
    L"チヂッツヅテデトドナニヌネノハバパヒビピフブプヘベペホボポマミム"
    L"メモャヤュユョヨラリルレロヮワヰヱヲンヴヵヶ",
    // row 6: Greek letters and vertical forms (77)
    L"ΑΒΓΔΕΖΗΘΙΚΛΜΝΞΟΠΡΣΤΥΦΧΨΩαβγδεζηθ"
    L"ικλμνξοπρστυφχψω\uE78D\uE78E\uE78F\uE790\uE791\uE792\uE793︵︶︹︺︿﹀︽︾﹁"
    L"﹂﹃﹄\uE794\uE795︻︼︷︸︱\uE796︳︴",
    // row 7: Cyrillic letters (66)
    L"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮ"
    L"Яабвгдеёжзийклмнопрстуфхцчшщъыьэ"
    L"юя",
    // row 8: pinyin letters with tones and bopomofo (69)
    L"āáǎàēéěèīíǐìōóǒòūúǔùǖǘǚǜüêɑ\uE7C7ńňǹɡ"
    L"ㄅㄆㄇㄈㄉㄊㄋㄌㄍㄎㄏㄐㄑㄒㄓㄔㄕㄖㄗㄘㄙㄚㄛㄜㄝㄞㄟㄠㄡㄢㄣㄤ"
    L"ㄥㄦㄧㄨㄩ",
    // row 9: box-drawing characters (76)
    L"─━│┃┄┅┆┇┈┉┊┋┌┍┎┏┐┑┒┓└┕┖┗┘┙┚┛├┝┞┟"
    L"┠┡┢┣┤┥┦┧┨┩┪┫┬┭┮┯┰┱┲┳┴┵┶┷┸┹┺┻┼┽┾┿"
    L"╀╁╂╃╄╅╆╇╈╉╊╋",
};

}  // namespace

const wchar_t* GetSymbolPage(int digit) {
    return digit >= 1 && digit <= 9 ? kSymbolPages[digit - 1] : nullptr;
}
