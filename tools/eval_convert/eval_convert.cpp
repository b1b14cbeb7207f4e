// Conversion as a user meets it: starts the kernel on the system data with
// a fresh user directory, runs the candidate generator over every phrase of
// a calibration set and prints the exact first-candidate rate, the
// character accuracy of the first candidate, the top-5 rate and the time
// per keystroke (every prefix converted twice, a page of 2600 places).
// Beside them it counts the spelling corrections shown at places 1 and 2
// of the correctly typed phrases, converts a typo set made from the same
// phrases (one slip of each edit kind the corrector knows: a substituted,
// deleted, inserted and swapped letter) and an abbreviation set (the
// initials of the phrases of 2 to 4 syllables). The first page: the
// intended phrase and its first word among the first five; and the
// corrections shown at places 1 and 2 while the phrases are typed (every
// prefix of their readings). The word before: every distinct pair of
// neighbouring characters of the phrases, the first committed and the
// second's syllable typed alone, with the second expected first; once in
// the fresh user folder and once more after each syllable's usual first
// candidate was learned (the floor on the gain holds for both). Every
// syllable typed alone, and followed by a lone a. With --cut-words (the
// data build's word list and, for how common each word is, its unigrams):
// common words of two syllables typed with the second cut to its vowel
// (wana for 晚安), and common words of three and four characters with
// 而, 儿, 二, 安 or 爱 inside typed with that syllable cut to its vowel
// (xianeyijian for 显而易见), also where the vowel comes after a vowel it
// could go on or before a letter it could go on with (第二页 dieye, 二年级
// enianji), the word expected first; and common words of three characters
// typed as the word of their first two committed and then the last
// syllable (公安 then ju), the last character expected first. With
// --everyday, the word before once more with a user dictionary of 1,000
// learned words (the usual firsts, then everyday words committed once).
//
// With --word-before 1 (and --cut-words, --unigrams) it measures the word
// before alone, over the 1,000 commonest words of the model committed
// before: every syllable that also reads as two syllables (ao: a o), the
// firsts that read it as two where alone it gives one character (a ceiling
// with --max-read-as-two; those a stored pair of the word before puts
// there are counted apart); and the word pairs cut from the phrases and
// the sentences (the longest words of the list from the left), the next
// word typed after the word before committed, with a fresh user folder and
// after each next word's input was typed alone once and its first
// committed (floors --min-word-pairs, --min-word-pairs-learned). --firsts
// FILE writes each pair's first candidate and, after each of the 1,000
// words, the first of every syllable and (with --everyday) every everyday
// input of two characters, in both profiles (--firsts-sweep 0: the pairs
// only), to compare two trees first by first.
//
// The phrases of the set that occur word for word in the text the statistics
// were made from (--seen, written by the data build) measure memory rather
// than conversion: the exact rate is also given over the others, the clean
// figure. An everyday-words set (--everyday, also from the data build) types
// common words alone, each reading's likeliest word expected first; the
// rate is given for the two-character words, the 1,000 most frequent of
// them, and the words of three and four characters. A harder set (--harder)
// types common words and phrases of three and four syllables that the word
// list reads several ways or does not hold. Over all of them it counts
// first candidates that read on beyond the typed syllables (a ceiling with
// --max-first-longer) and first pages that hold another reading of the
// whole input composed of words. An everyday-sentences set (--sentences,
// also from the data build) types clauses of narrative text: the exact
// rate, and how often a clause about a person (written with 他 or 她, typed
// "ta...") starts with 他 or 她 rather than 它.
//
// Usage: eval_convert --data DIR --calibration TSV [--min-exact PERCENT]
//                     [--seen TSV [--min-clean PERCENT]]
//                     [--everyday TSV [--min-everyday-two PERCENT]
//                      [--min-everyday-common PERCENT]
//                      [--min-everyday-longer PERCENT]]
//                     [--sentences TSV [--min-sentence-person PERCENT]]
//                     [--harder TSV [--min-harder PERCENT]] [--max-first-longer N]
//                     [--min-top5 PERCENT] [--errors N]
//                     [--show INPUT [--before "WORD SYLLABLE ..."]
//                      [--learn "WORD SYLLABLE ..." ...] [--learned-words N]]
//                     [--no-timing 1] [--slow MS] [--correction 0]
//                     [--forecast 0] [--secondary 1] [--typos 0] [--min-typos PERCENT]
//                     [--abbreviations 0] [--examples N] [--first-page 0]
//                     [--prefixes 0] [--min-first-word PERCENT]
//                     [--max-prefix-first N] [--max-prefix-second PERCENT]
//                     [--context 0] [--min-context PERCENT]
//                     [--min-context-learned PERCENT] [--min-context-gain POINTS]
//                     [--lone 0] [--min-lone-a PERCENT]
//                     [--cut-words WORDS_TSV --unigrams TSV [--min-cut-words PERCENT]
//                      [--min-vowel-words PERCENT] [--min-word-then-syllable PERCENT]]
//                     [--min-context-grown PERCENT] [--min-vowel-closed PERCENT]
//        eval_convert --data DIR --calibration TSV --word-before 1 --cut-words WORDS_TSV
//                     --unigrams TSV [--sentences TSV] [--everyday TSV]
//                     [--max-read-as-two N] [--min-word-pairs PERCENT]
//                     [--min-word-pairs-learned PERCENT] [--firsts FILE [--firsts-sweep 0]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kernel/api/kernel_learn.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/convert/cand_generator.h"
#include "kernel/convert/freq_adjust.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tools/common/utf_text.h"

namespace {

using n_toolText::Utf16;
using n_toolText::Utf8;

std::u16string TextOf(const t_candWord* w) {
    if (!w) return {};
    const t_lstr* t = w->text;
    return t ? std::u16string(reinterpret_cast<const char16_t*>(LstrGetUnits(t)), LstrGetLength(t))
             : std::u16string();
}

// One conversion as the pinyin branch makes it (the engine asks for 2600
// places; the page size also decides how widely the word finder looks).
bool g_correction = true;
bool g_forecast = true;
bool g_secondary = false;
bool g_trace = false;
bool g_sweepFirsts = true;  // --firsts also holds every input after each word before

int Convert(t_candGenerator& generator, const std::wstring& input, uint32_t pageSize,
            t_candWord** results, uint16_t* corrected = nullptr,
            const t_adjustRequest* context = nullptr) {
    t_convertRequest request;
    request.context = context;
    request.input = input.c_str();
    request.inputLength = int32_t(input.size());
    request.pageSize = pageSize;
    request.allLowerCase = 1;
    request.correction = g_correction ? 1 : 0;
    request.names = 1;
    request.longWordHint = input.size() > 1 ? 1 : 0;
    request.secondaryCollection = g_secondary && input.size() <= 11 ? 1 : 0;
    const int n = generator.Generate(&request, results);
    // Bit i: result i is a correction.
    if (corrected) *corrected = request.correctionUsed ? request.mergedMask : 0;
    return n;
}

struct t_phrase {
    std::u16string text;
    std::wstring typed;
    std::vector<std::wstring> syllables;
};

// Keys next to each letter on a QWERTY keyboard: where a finger slips to.
const char* const kNeighbours[26] = {
    "qwsz",   "vghn",  "xdfv", "serfcx", "wsdr", "drtgvc", "ftyhbv", "gyujnb", "ujko",
    "huikmn", "jiolm", "kop",  "njk",    "bhjm", "iklp",   "ol",     "wa",     "edft",
    "awedxz", "rfgy",  "yhji", "cfgb",   "qase", "zsdc",   "tghu",   "asx",
};

uint32_t Mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    return h ^ (h >> 16);
}

// One slip of the given kind (1 substitute, 2 delete, 3 insert, 4 swap)
// in typed, away from the first letter; empty when the input is too short
// for it. The same phrase always gets the same slip.
std::wstring Slip(const std::wstring& typed, int kind, uint32_t seed) {
    const int n = int(typed.size());
    if (n < 3) return {};
    const uint32_t h = Mix(seed * 4 + uint32_t(kind));
    const auto neighbour = [&](wchar_t c) {
        const char* keys = c >= L'a' && c <= L'z' ? kNeighbours[c - L'a'] : "a";
        return wchar_t(keys[(h >> 8) % std::strlen(keys)]);
    };
    std::wstring out = typed;
    switch (kind) {
        case 1: {
            const int p = 1 + int(h % uint32_t(n - 1));
            out[size_t(p)] = neighbour(typed[size_t(p)]);
            break;
        }
        case 2:
            out.erase(size_t(1 + h % uint32_t(n - 1)), 1);
            break;
        case 3: {
            const int p = 1 + int(h % uint32_t(n));
            out.insert(size_t(p), 1, neighbour(typed[size_t(p - 1)]));
            break;
        }
        default: {
            // The first pair of different letters from a chosen place on.
            for (int k = 0; k < n - 2; ++k) {
                const int p = 1 + int((h + uint32_t(k)) % uint32_t(n - 2));
                if (typed[size_t(p)] != typed[size_t(p + 1)]) {
                    std::swap(out[size_t(p)], out[size_t(p + 1)]);
                    break;
                }
            }
        }
    }
    return out == typed ? std::wstring() : out;
}

int PlaceOf(t_candWord** results, int n, const std::u16string& text, int within) {
    for (int i = 0; i < std::min(n, within); ++i)
        if (TextOf(results[i]) == text) return i;
    return -1;
}

// The first field of every line that is not a comment.
std::vector<std::string> FirstFields(const std::string& path, bool* ok) {
    std::vector<std::string> out;
    std::ifstream in(path);
    *ok = bool(in);
    std::string line;
    while (in && std::getline(in, line))
        if (!line.empty() && line[0] != '#') out.push_back(line.substr(0, line.find('\t')));
    return out;
}

struct t_everyday {
    std::u16string word;
    std::wstring typed;
    std::vector<std::wstring> syllables;
};

// Rows "word TAB syllables ..."; rows without a Latin reading are skipped.
std::vector<t_everyday> ReadEveryday(const std::string& path, bool* ok) {
    std::vector<t_everyday> out;
    std::ifstream in(path);
    *ok = bool(in);
    std::string line;
    while (in && std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t t1 = line.find('\t');
        if (t1 == std::string::npos) continue;
        const size_t t2 = line.find('\t', t1 + 1);
        t_everyday e;
        e.word = Utf16(line.substr(0, t1));
        e.syllables.emplace_back();
        for (char c : line.substr(t1 + 1, t2 == std::string::npos ? t2 : t2 - t1 - 1)) {
            if (c >= 'a' && c <= 'z') {
                e.typed.push_back(wchar_t(c));
                e.syllables.back().push_back(wchar_t(c));
            } else if (c == ' ') {
                if (!e.syllables.back().empty()) e.syllables.emplace_back();
            } else {
                e.typed.clear();
                break;
            }
        }
        if (!e.typed.empty() && !e.word.empty()) out.push_back(std::move(e));
    }
    return out;
}

double Share(long part, long whole) {
    return whole ? 100.0 * double(part) / double(whole) : 0.0;
}

// A first candidate that reads on beyond the typed syllables (more
// syllables than the keys gave ends) commits characters never typed.
bool FirstReadsOn(t_candWord** results, int n) {
    const t_candWord* w = n > 0 ? results[0] : nullptr;
    return w && w->syllableIds && w->segmentList &&
           LstrGetLength(w->syllableIds) > LstrGetLength(w->segmentList);
}

// What places 2 to 5 hold of other readings of the whole input composed of
// words (a sentence or a name) rather than a word of the lists: bit 1 any,
// bit 2 one that is the first candidate with another last character (a
// word of the first reading with a character glued on).
int ComposedOnPage(t_candWord** results, int n, size_t typed) {
    int found = 0;
    const std::u16string top = n > 0 ? TextOf(results[0]) : std::u16string();
    for (int i = 1; i < std::min(n, 5); ++i) {
        const uint16_t source =
            results[i]->sourceType & uint16_t(~(kCandSourceFlag | kCandSourceMerged));
        if (results[i]->coveredLength < typed ||
            (source != kCandSourceComposed && source != kCandSourceComposedName))
            continue;
        const std::u16string text = TextOf(results[i]);
        found |= 1;
        if (text.size() == top.size() && text.size() > 1 &&
            text.compare(0, text.size() - 1, top, 0, top.size() - 1) == 0)
            found |= 2;
    }
    return found;
}

// Counts of first pages: with another composed reading, with one that
// glues a character on.
struct t_pageCounts {
    long composed = 0, glued = 0;
    void Add(int found) {
        composed += found & 1;
        glued += (found >> 1) & 1;
    }
};

// Counts of one set of words typed alone.
struct t_wordSetCounts {
    long rows = 0, first = 0, readsOn = 0;
    t_pageCounts pages;
};

// Prints a failure when the share is under a floor given (below 0: none).
bool UnderFloor(const char* what, double share, double floor) {
    if (floor < 0 || share >= floor) return false;
    std::fprintf(stderr, "eval_convert: %s %.1f%% is below the floor %.1f%%\n", what, share, floor);
    return true;
}

double Percentile(std::vector<double>& v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

// The longest start of a phrase, shorter than the phrase, that is a
// system word of its reading; the first character when none is.
std::u16string FirstWordOf(const t_phrase& ph) {
    const t_sysDict& sys = t_singleton<t_sysDict>::Get();
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    if (ph.text.size() != ph.syllables.size() || ph.text.empty()) return ph.text.substr(0, 1);
    constexpr size_t kLongestWord = 8;
    for (size_t k = std::min(ph.text.size() - 1, kLongestWord); k >= 2; --k) {
        uint16_t ids[kLongestWord + 1], text[kLongestWord + 1];
        ids[0] = text[0] = uint16_t(2 * k);
        bool known = true;
        for (size_t i = 0; i < k && known; ++i) {
            const int32_t id = py.GetSyllableId(ph.syllables[i].c_str());
            known = id >= 0;
            ids[i + 1] = uint16_t(id);
            text[i + 1] = uint16_t(ph.text[i]);
        }
        uint32_t index = 0, offset = 0, gram = 0;
        if (known && sys.FindWord(reinterpret_cast<const t_lstr*>(ids),
                                  reinterpret_cast<const t_lstr*>(text), &index, &offset, &gram))
            return ph.text.substr(0, k);
    }
    return ph.text.substr(0, 1);
}

// Everyday sentences: the exact first rate, and on the clauses beginning
// with 他 or 她 the share whose first candidate begins with one of them
// (which of the two the reading cannot tell); on those beginning with 它
// the share with 它 first. Returns the person share.
double ReportSentences(t_candGenerator& generator, const std::vector<t_everyday>& all,
                       t_candWord** results, int errors) {
    long exact = 0, people = 0, personFirst = 0, things = 0, thingFirst = 0;
    for (const t_everyday& s : all) {
        const int n = Convert(generator, s.typed, 2600, results);
        const std::u16string got = n > 0 ? TextOf(results[0]) : std::u16string();
        exact += got == s.word;
        const char16_t lead = got.empty() ? 0 : got[0];
        if (s.word[0] == u'他' || s.word[0] == u'她') {
            ++people;
            personFirst += lead == u'他' || lead == u'她';
        } else if (s.word[0] == u'它') {
            ++things;
            thingFirst += lead == u'它';
        }
        if (got != s.word && errors-- > 0)
            std::printf("  %s -> %s\n", Utf8(s.word).c_str(), Utf8(got).c_str());
    }
    const long all_ = long(all.size());
    std::printf(
        "everyday sentences: %ld, exact first %.1f%%; about a person (他, 她) %ld, 他 or 她 "
        "first %.1f%%; about a thing (它) %ld, 它 first %.1f%%\n",
        all_, Share(exact, all_), people, Share(personFirst, people), things,
        Share(thingFirst, things));
    return Share(personFirst, people);
}

// The first page as a user meets it: the intended phrase, and the phrase's
// first word (to pick it and type on), among the first five candidates.
// The share of phrases with their first word there.
double ReportFirstPage(t_candGenerator& generator, const std::vector<t_phrase>& all,
                       t_candWord** results, int examples) {
    long phrases = 0, phraseOn = 0, wordOn = 0, eitherOn = 0;
    for (const t_phrase& ph : all) {
        const int got = Convert(generator, ph.typed, 2600, results);
        const bool phrase = PlaceOf(results, got, ph.text, 5) >= 0;
        const bool word = PlaceOf(results, got, FirstWordOf(ph), 5) >= 0;
        if (!word && examples-- > 0)
            std::printf("  first word off the first page: %s\n", Utf8(ph.text).c_str());
        ++phrases;
        phraseOn += phrase;
        wordOn += word;
        eitherOn += phrase || word;
    }
    if (phrases == 0) return 0;
    const auto share = [&](long k) { return 100.0 * double(k) / double(phrases); };
    std::printf(
        "first page of five: phrase %.1f%%, its first word %.1f%%, phrase or first word "
        "%.1f%%\n",
        share(phraseOn), share(wordOn), share(eitherOn));
    return share(wordOn);
}

// Corrections while the phrases are being typed: every prefix of their
// readings (each different prefix once), typed as meant, with a correction
// at place 1 or 2. The count
// at place 1 and the share at place 2.
std::pair<long, double> ReportPrefixCorrections(t_candGenerator& generator,
                                                const std::vector<t_phrase>& all,
                                                t_candWord** results, int examples) {
    long prefixes = 0, first = 0, second = 0;
    uint16_t corrected = 0;
    std::set<std::wstring> seen;
    for (const t_phrase& ph : all)
        for (size_t k = 1; k <= ph.typed.size(); ++k) {
            const std::wstring prefix = ph.typed.substr(0, k);
            if (!seen.insert(prefix).second) continue;
            const int got = Convert(generator, prefix, 2600, results, &corrected);
            ++prefixes;
            if ((corrected & 1) && ++first <= examples && got > 0)
                std::printf("  prefix corrected first: %s -> %s\n",
                            std::string(prefix.begin(), prefix.end()).c_str(),
                            Utf8(TextOf(results[0])).c_str());
            if ((corrected & 2) && ++second <= examples && got > 1)
                std::printf("  prefix corrected second: %s -> %s\n",
                            std::string(prefix.begin(), prefix.end()).c_str(),
                            Utf8(TextOf(results[1])).c_str());
        }
    if (prefixes == 0) return {0, 0};
    std::printf("prefixes: %ld, correction at place 1 %ld (%.1f%%), place 2 %ld (%.1f%%)\n",
                prefixes, first, 100.0 * double(first) / double(prefixes), second,
                100.0 * double(second) / double(prefixes));
    return {first, 100.0 * double(second) / double(prefixes)};
}

// A word and its syllables, "TEXT SYLLABLE ..." (特别 te bie): one syllable
// a character.
struct t_typedWord {
    std::u16string text;
    std::vector<uint16_t> ids;
    const t_lstr* Text(t_scopeHeap& heap) const {
        return heap.MakeLstr(text.data(), 2 * text.size());
    }
    const t_lstr* Ids(t_scopeHeap& heap) const { return heap.MakeLstr(ids.data(), 2 * ids.size()); }
};

bool ReadTypedWord(const std::string& spec, t_typedWord* out) {
    const size_t space = spec.find(' ');
    out->text = Utf16(spec.substr(0, space));
    out->ids.clear();
    std::string rest = space == std::string::npos ? "" : spec.substr(space + 1);
    for (size_t at = 0; at < rest.size();) {
        const size_t end = std::min(rest.find(' ', at), rest.size());
        const std::wstring syllable(rest.begin() + long(at), rest.begin() + long(end));
        at = end + 1;
        if (syllable.empty()) continue;
        const int32_t id = t_singleton<t_pyDict>::Get().GetSyllableId(syllable.c_str());
        if (id < 0) return false;
        out->ids.push_back(uint16_t(id));
    }
    return !out->text.empty() && out->text.size() == out->ids.size();
}

// The word before: each distinct pair of neighbouring characters once, the
// first committed (with its syllable) and the second's syllable typed
// alone. The share with the second character first, and the same without
// the character before.
struct t_contextShares {
    double with = 0, without = 0;
};

t_contextShares ReportContextPairs(t_candGenerator& generator, const std::vector<t_phrase>& all,
                                   t_candWord** results, const char* profile) {
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    std::set<std::wstring> seen;
    long pairs = 0, first = 0, plainFirst = 0;
    t_scopeHeap heap;
    for (const t_phrase& ph : all) {
        if (ph.text.size() != ph.syllables.size()) continue;
        for (size_t i = 1; i < ph.text.size(); ++i) {
            const std::wstring key = std::wstring{wchar_t(ph.text[i - 1]), wchar_t(ph.text[i])} +
                                     ph.syllables[i - 1] + L' ' + ph.syllables[i];
            const int32_t id = py.GetSyllableId(ph.syllables[i - 1].c_str());
            if (id < 0 || !seen.insert(key).second) continue;
            heap.FreeAll();
            t_adjustRequest before;
            before.on = true;
            const uint16_t unit = uint16_t(ph.text[i - 1]), ids = uint16_t(id);
            before.wordText = heap.MakeLstr(&unit, 2);
            before.wordIds = heap.MakeLstr(&ids, 2);
            const std::u16string next = ph.text.substr(i, 1);
            ++pairs;
            int got = Convert(generator, ph.syllables[i], 2600, results, nullptr, &before);
            first += got > 0 && TextOf(results[0]) == next;
            got = Convert(generator, ph.syllables[i], 2600, results);
            plainFirst += got > 0 && TextOf(results[0]) == next;
        }
    }
    std::printf(
        "the word before (%s): %ld pairs, next character first %ld (%.1f%%; without the "
        "character before %ld, %.1f%%)\n",
        profile, pairs, first, Share(first, pairs), plainFirst, Share(plainFirst, pairs));
    return {Share(first, pairs), Share(plainFirst, pairs)};
}

// A user's first day: each syllable of the phrases typed alone once and its
// first candidate committed, as the input method learns it.
void LearnUsualFirsts(t_candGenerator& generator, const std::vector<t_phrase>& all,
                      t_candWord** results) {
    std::set<std::wstring> syllables;
    for (const t_phrase& ph : all) syllables.insert(ph.syllables.begin(), ph.syllables.end());
    for (const std::wstring& s : syllables) {
        if (Convert(generator, s, 60, results) <= 0 || !results[0]->text) continue;
        const std::u16string text = TextOf(results[0]);
        LearnCommittedText(std::wstring(text.begin(), text.end()).c_str(), results[0]->syllableIds,
                           0);
    }
}

// Every syllable of two or more letters typed alone (a whole syllable
// reads as typed: no correction on the first page), and each one followed
// by a lone a, where the syllable does not end in i, u or v (the a would go
// on that vowel: jia, hua) and the two do not make a syllable (xinga, gana,
// haoa, fanga; 289 inputs): the share whose first candidate is two
// characters, the second 啊 (and how many hold such a candidate among the
// first five).
double ReportLoneSyllables(t_candGenerator& generator, t_candWord** results, int examples) {
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    long lone = 0, corrected = 0, withA = 0, ah = 0, ahOnPage = 0;
    for (const wchar_t* s : kSyllableTexts) {
        const std::wstring typed = s;
        if (typed.size() < 2) continue;
        ++lone;
        uint16_t mask = 0;
        const int got = Convert(generator, typed, 2600, results, &mask);
        if (mask & ((1u << std::min(got, 5)) - 1)) {
            ++corrected;
            if (corrected <= examples)
                std::printf("  lone syllable corrected: %s\n",
                            std::string(typed.begin(), typed.end()).c_str());
        }
        const wchar_t last = typed.back();
        const std::wstring plusA = typed + L"a";
        if (last == L'i' || last == L'u' || last == L'v' || py.GetSyllableId(plusA.c_str()) >= 0)
            continue;
        ++withA;
        const int n = Convert(generator, plusA, 2600, results);
        const std::u16string top = n > 0 ? TextOf(results[0]) : std::u16string();
        const auto isAhAt = [&](int i) {
            const std::u16string text = i < n ? TextOf(results[i]) : std::u16string();
            return text.size() == 2 && text[1] == u'啊';
        };
        const bool isAh = isAhAt(0);
        ah += isAh;
        ahOnPage += isAh || isAhAt(1) || isAhAt(2) || isAhAt(3) || isAhAt(4);
        if (!isAh && withA - ah <= examples)
            std::printf("  %s -> %s\n", std::string(plusA.begin(), plusA.end()).c_str(),
                        Utf8(top).c_str());
    }
    std::printf(
        "lone syllables: %ld, a correction on the first page %ld; followed by a: %ld, the "
        "syllable and 啊 first %ld (%.1f%%), among the first five %ld\n",
        lone, corrected, withA, ah, Share(ah, withA), ahOnPage);
    return Share(ah, withA);
}

// The words of the model's unigrams (unigrams.tsv of the data build) up to
// a frequency rank, with their ranks; *ok is false when the file is not
// readable.
std::map<std::u16string, long> ReadRanks(const std::string& path, long maxRank, bool* ok) {
    std::map<std::u16string, long> rank;
    std::ifstream unigrams(path);
    *ok = bool(unigrams);
    std::string line;
    while (unigrams && std::getline(unigrams, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t t1 = line.find('\t'), t3 = line.rfind('\t');
        if (t1 == std::string::npos || t3 == t1) continue;
        const long r = std::atol(line.c_str() + t3 + 1);
        if (r > 0 && r <= maxRank) rank[Utf16(line.substr(0, t1))] = r;
    }
    return rank;
}

// The commonest words of the model (by its frequency rank) that the sets
// of words typed cut are drawn from.
constexpr long kCutWordsRank = 50000;

// A word of the data build's word list among the commonest of the model.
struct t_listedWord {
    std::u16string word;
    std::vector<std::string> syllables;
    long rank = 0;
};

// The words of the list (WORD, tab, syllables split by spaces) that the
// unigrams (WORD, tab, ..., tab, frequency rank) rank within kCutWordsRank,
// in the list's order; ok false when a file cannot be read or none is left.
std::vector<t_listedWord> CommonListedWords(const std::string& wordsPath,
                                            const std::string& unigramsPath, bool* ok) {
    std::ifstream list(wordsPath);
    const std::map<std::u16string, long> rank = ReadRanks(unigramsPath, kCutWordsRank, ok);
    *ok = *ok && list;
    std::string line;
    std::vector<t_listedWord> out;
    while (list && std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t t1 = line.find('\t');
        if (t1 == std::string::npos) continue;
        t_listedWord w;
        w.word = Utf16(line.substr(0, t1));
        const auto found = rank.find(w.word);
        if (found == rank.end()) continue;
        w.rank = found->second;
        for (size_t at = t1 + 1; at <= line.size();) {
            const size_t space = std::min(line.find(' ', at), line.size());
            if (space > at) w.syllables.push_back(line.substr(at, space - at));
            at = space + 1;
        }
        out.push_back(std::move(w));
    }
    *ok = *ok && !out.empty();
    return out;
}

// Per input typed: the likeliest word meant, its rank, and whether it is
// of the set measured.
struct t_likeliest {
    std::u16string word;
    long rank = 0;
    bool counted = false;
};

// Keeps w as the word meant by typed where it is the likeliest yet.
void Consider(std::map<std::wstring, t_likeliest>* inputs, const std::wstring& typed,
              const t_listedWord& w, bool counted) {
    t_likeliest& best = (*inputs)[typed];
    if (best.rank != 0 && best.rank <= w.rank) return;
    best = {w.word, w.rank, counted};
}

// Converts each input of the set and prints the share with its word first.
double ReportFirstOfSet(t_candGenerator& generator,
                        const std::map<std::wstring, t_likeliest>& inputs, const char* what,
                        t_candWord** results, int examples) {
    long count = 0, first = 0;
    for (const auto& [typed, best] : inputs) {
        if (!best.counted) continue;
        ++count;
        const int n = Convert(generator, typed, 2600, results);
        const std::u16string top = n > 0 ? TextOf(results[0]) : std::u16string();
        first += top == best.word;
        if (top != best.word && count - first <= examples)
            std::printf("  %s %s -> %s\n", std::string(typed.begin(), typed.end()).c_str(),
                        Utf8(best.word).c_str(), Utf8(top).c_str());
    }
    std::printf("%s: %ld, first %ld (%.1f%%)\n", what, count, first, Share(first, count));
    return Share(first, count);
}

// Words of two syllables typed with the second cut to its vowel (晚安
// wana, 疼爱 tenga, 反而 fane): where the likeliest word that the input
// begins so (of the commonest words whose second syllable starts with that
// vowel) ends in an, ai, ao or er, the share with that word first. Inputs
// that are one syllable (xian) or whose vowel goes on the first syllable's
// last one (jia) are left out.
double ReportCutWords(t_candGenerator& generator, const std::vector<t_listedWord>& words,
                      t_candWord** results, int examples) {
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    std::map<std::wstring, t_likeliest> inputs;
    for (const t_listedWord& w : words) {
        if (w.word.size() != 2 || w.syllables.size() != 2) continue;
        const std::string& first = w.syllables[0];
        const std::string& second = w.syllables[1];
        if (first.empty() || second.size() < 2 || (second[0] != 'a' && second[0] != 'e') ||
            std::strchr("iuv", first.back()))
            continue;
        const std::wstring typed = std::wstring(first.begin(), first.end()) + wchar_t(second[0]);
        if (py.GetSyllableId(typed.c_str()) >= 0) continue;
        Consider(&inputs, typed, w,
                 second == "an" || second == "ai" || second == "ao" || second == "er");
    }
    return ReportFirstOfSet(generator, inputs,
                            "words typed with the last syllable cut to its vowel", results,
                            examples);
}

// Whether a syllable begins with the letters a and b (an, ai, ao of a; en,
// er, ei of e): a vowel typed before b would not stand alone.
bool SyllableBegins(char a, char b) {
    for (const wchar_t* text : kSyllableTexts)
        if (text[0] == wchar_t(a) && text[1] == wchar_t(b)) return true;
    return false;
}

// Idioms and words of three and four characters with 而, 儿 or 二 (er),
// 安 (an) or 爱 (ai) before their last character, typed with that syllable
// cut to its vowel, as a user types 而 fast (显而易见 xianeyijian, 天安门
// tianamen, 爱国者 aguozhe): the share with the word first. The first such
// character of a word is cut, where its vowel would neither go on the
// syllable before (幼儿园: the u of you) nor make a longer key with the
// next letter (二年级: en). Per input the word meant is the likeliest of
// the words it spells so, with any syllable of a or e cut (艾滋病 beside
// 爱滋病), or spells out whole; only inputs whose likeliest word is of the
// set count.
//
// With closed, the places that set leaves out instead: the vowel after a
// vowel it could go on (第二页 dieye) or before a letter it makes a longer
// key with (按钮 aniu, 二年级 enianji).
double ReportVowelWords(t_candGenerator& generator, const std::vector<t_listedWord>& words,
                        t_candWord** results, int examples, bool closed = false) {
    static const struct {
        char16_t character;
        const char* syllable;
    } kMeasured[] = {{u'而', "er"}, {u'儿', "er"}, {u'二', "er"}, {u'安', "an"}, {u'爱', "ai"}};
    const auto join = [](const std::vector<std::string>& syllables, size_t cut) {
        std::string letters;
        for (size_t i = 0; i < syllables.size(); ++i)
            letters += i == cut ? syllables[i].substr(0, 1) : syllables[i];
        return std::wstring(letters.begin(), letters.end());
    };
    std::map<std::wstring, t_likeliest> inputs;
    for (const t_listedWord& w : words) {
        const size_t chars = w.word.size();
        if ((chars != 3 && chars != 4) || w.syllables.size() != chars) continue;
        bool measured = false;
        for (size_t k = 0; k + 1 < chars; ++k) {
            const std::string& s = w.syllables[k];
            if (s.size() < 2 || (s[0] != 'a' && s[0] != 'e')) continue;
            const bool shut = (k > 0 && std::strchr("iuv", w.syllables[k - 1].back())) ||
                              SyllableBegins(s[0], w.syllables[k + 1][0]);
            if (shut != closed) continue;
            const bool counted =
                !measured &&
                std::any_of(std::begin(kMeasured), std::end(kMeasured), [&](const auto& c) {
                    return c.character == w.word[k] && s == c.syllable;
                });
            measured = measured || counted;
            Consider(&inputs, join(w.syllables, k), w, counted);
        }
    }
    for (const t_listedWord& w : words) {
        const auto typed = inputs.find(join(w.syllables, w.syllables.size()));
        if (typed != inputs.end()) Consider(&inputs, typed->first, w, false);
    }
    return ReportFirstOfSet(generator, inputs,
                            closed ? "words with 而 儿 二 安 爱 inside typed as the vowel alone, "
                                     "after a vowel or before a letter it goes on with"
                                   : "words with 而 儿 二 安 爱 inside typed as the vowel alone",
                            results, examples);
}

// The commonest words of the model (by its frequency rank) that the set of
// three-character words typed after their first two is drawn from.
constexpr long kThreeCharWordsRank = 12000;

// A word of the data's list with its syllables (a word read several ways
// keeps each reading).
std::multimap<std::u16string, std::vector<std::wstring>> ReadWordList(const std::string& path) {
    std::multimap<std::u16string, std::vector<std::wstring>> words;
    bool ok = true;
    for (t_everyday& e : ReadEveryday(path, &ok)) words.emplace(e.word, std::move(e.syllables));
    return words;
}

// The commonest three-character words whose first two characters are a
// word read the same way (公安局: 公安 gong an), typed as that word
// committed and then the last syllable: the share with the last character
// first.
double ReportWordThenLastSyllable(t_candGenerator& generator, const std::string& wordsPath,
                                  const std::string& unigramsPath, t_candWord** results,
                                  int examples, bool* ok) {
    const auto words = ReadWordList(wordsPath);
    std::map<std::u16string, long> rank = ReadRanks(unigramsPath, kThreeCharWordsRank, ok);
    std::erase_if(rank, [](const auto& r) { return r.first.size() != 3; });
    *ok = *ok && !words.empty();
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    long count = 0, first = 0;
    t_scopeHeap heap;
    for (const auto& [word, r] : rank) {
        const auto readings = words.equal_range(word);
        if (readings.first == readings.second) continue;
        const std::vector<std::wstring>& syllables = readings.first->second;
        if (syllables.size() != 3) continue;
        bool before = false;
        const auto heads = words.equal_range(word.substr(0, 2));
        for (auto h = heads.first; h != heads.second && !before; ++h)
            before = h->second.size() == 2 && h->second[0] == syllables[0] &&
                     h->second[1] == syllables[1];
        uint16_t ids[2];
        for (int i = 0; i < 2; ++i) {
            const int32_t id = py.GetSyllableId(syllables[size_t(i)].c_str());
            before = before && id >= 0;
            ids[i] = uint16_t(id);
        }
        if (!before) continue;
        heap.FreeAll();
        t_adjustRequest context;
        context.on = true;
        context.wordText = heap.MakeLstr(word.data(), 4);
        context.wordIds = heap.MakeLstr(ids, 4);
        ++count;
        const int n = Convert(generator, syllables[2], 2600, results, nullptr, &context);
        const std::u16string top = n > 0 ? TextOf(results[0]) : std::u16string();
        const bool right = top == word.substr(2);
        first += right;
        if (!right && count - first <= examples)
            std::printf("  %s %s -> %s\n", Utf8(word.substr(0, 2)).c_str(),
                        std::string(syllables[2].begin(), syllables[2].end()).c_str(),
                        Utf8(top).c_str());
    }
    *ok = *ok && count > 0;
    std::printf(
        "three-character words typed as their first two committed and the last syllable: %ld, "
        "the last character first %ld (%.1f%%)\n",
        count, first, Share(first, count));
    return Share(first, count);
}

// A word committed before the input: its text and syllables.
struct t_wordBefore {
    std::u16string text;
    std::vector<uint16_t> ids;
};

// The request that puts the word before the next conversion (its strings
// live in heap).
t_adjustRequest BeforeRequest(const t_wordBefore& w, t_scopeHeap& heap) {
    t_adjustRequest request;
    request.on = true;
    request.wordText = heap.MakeLstr(w.text.data(), 2 * w.text.size());
    request.wordIds = heap.MakeLstr(w.ids.data(), 2 * w.ids.size());
    return request;
}

// The syllable ids of a reading; false when one is no syllable.
bool IdsOf(const std::vector<std::wstring>& syllables, std::vector<uint16_t>* ids) {
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    ids->clear();
    for (const std::wstring& s : syllables) {
        const int32_t id = py.GetSyllableId(s.c_str());
        if (id < 0) return false;
        ids->push_back(uint16_t(id));
    }
    return !ids->empty();
}

// The `count` commonest words of the model (by its frequency rank) that the
// word list reads, each with its first reading there.
std::vector<t_wordBefore> CommonWordsBefore(const std::string& wordsPath,
                                            const std::string& unigramsPath, size_t count,
                                            bool* ok) {
    const auto words = ReadWordList(wordsPath);
    const std::map<std::u16string, long> rank = ReadRanks(unigramsPath, 20 * long(count), ok);
    std::vector<std::pair<long, std::u16string>> byRank;
    for (const auto& [word, r] : rank) byRank.emplace_back(r, word);
    std::sort(byRank.begin(), byRank.end());
    std::vector<t_wordBefore> out;
    for (const auto& [r, word] : byRank) {
        if (out.size() >= count) break;
        const auto reading = words.find(word);
        t_wordBefore w{word, {}};
        if (reading == words.end() || reading->second.size() != word.size() ||
            !IdsOf(reading->second, &w.ids))
            continue;
        out.push_back(std::move(w));
    }
    *ok = *ok && out.size() == count;
    return out;
}

// Every syllable that also reads as two syllables (ao: a o; jie: ji e;
// xian: xi an).
std::vector<std::wstring> SyllablesReadAsTwo() {
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    std::vector<std::wstring> out;
    for (const wchar_t* s : kSyllableTexts) {
        const std::wstring text = s;
        for (size_t cut = 1; cut < text.size(); ++cut)
            if (py.GetSyllableId(text.substr(0, cut).c_str()) >= 0 &&
                py.GetSyllableId(text.substr(cut).c_str()) >= 0) {
                out.push_back(text);
                break;
            }
    }
    return out;
}

// Each syllable that also reads as two, typed after each word before,
// where alone it gives one character first: the firsts that read it as two
// syllables (系统 then ao giving 啊哦 for 熬), and of them those that only a
// stored pair of the word before and that word puts there (设计 then tuan
// giving 图案). Returns the others' count.
long ReportSyllablesReadAsTwo(t_candGenerator& generator, const std::vector<t_wordBefore>& before,
                              t_candWord** results, int examples) {
    long typed = 0, split = 0, paired = 0;
    t_scopeHeap heap;
    for (const std::wstring& s : SyllablesReadAsTwo()) {
        const int alone = Convert(generator, s, 2600, results);
        if (alone <= 0 || TextOf(results[0]).size() != 1) continue;
        for (const t_wordBefore& w : before) {
            heap.FreeAll();
            const t_adjustRequest request = BeforeRequest(w, heap);
            ++typed;
            const int n = Convert(generator, s, 2600, results, nullptr, &request);
            if (n <= 0 || LstrGetLength(results[0]->syllableIds) < 2) continue;
            if (results[0]->adjustFlags == kAdjustPairBigram) {
                ++paired;
                continue;
            }
            if (++split <= examples)
                std::printf("  %s %s -> %s\n", Utf8(w.text).c_str(),
                            std::string(s.begin(), s.end()).c_str(),
                            Utf8(TextOf(results[0])).c_str());
        }
    }
    std::printf(
        "one syllable after the word before (%zu words): %ld typed where alone one character "
        "comes first, read as two syllables first %ld (and %ld where the two make a word the "
        "statistics pair with the word before)\n",
        before.size(), typed, split, paired);
    return split;
}

// Word pairs cut from text: the longest words of the list, read as the
// text is read, from the left; each distinct pair of neighbouring words.
struct t_wordPair {
    t_wordBefore before;
    std::u16string next;
    std::wstring typed;        // the next word's syllables, as typed
    std::wstring beforeTyped;  // the word before's
};

std::vector<t_wordPair> CutWordPairs(
    const std::multimap<std::u16string, std::vector<std::wstring>>& words,
    const std::vector<std::pair<std::u16string, std::vector<std::wstring>>>& texts) {
    constexpr size_t kLongest = 6;
    std::set<std::pair<std::u16string, std::vector<std::wstring>>> listed;
    for (const auto& [word, syllables] : words) listed.emplace(word, syllables);
    std::set<std::u16string> seen;
    std::vector<t_wordPair> out;
    for (const auto& [text, syllables] : texts) {
        if (text.size() != syllables.size()) continue;
        std::vector<std::pair<size_t, size_t>> cut;  // start, length
        for (size_t at = 0; at < text.size();) {
            size_t len = std::min(kLongest, text.size() - at);
            for (; len > 1; --len) {
                const std::vector<std::wstring> reading(syllables.begin() + long(at),
                                                        syllables.begin() + long(at + len));
                if (listed.count({text.substr(at, len), reading})) break;
            }
            cut.emplace_back(at, len);
            at += len;
        }
        for (size_t k = 1; k < cut.size(); ++k) {
            const auto [a, an] = cut[k - 1];
            const auto [b, bn] = cut[k];
            t_wordPair p;
            p.before.text = text.substr(a, an);
            p.next = text.substr(b, bn);
            const std::vector<std::wstring> first(syllables.begin() + long(a),
                                                  syllables.begin() + long(a + an));
            if (!IdsOf(first, &p.before.ids)) continue;
            for (size_t i = b; i < b + bn; ++i) p.typed += syllables[i];
            for (size_t i = a; i < a + an; ++i) p.beforeTyped += syllables[i];
            std::u16string key = p.before.text + u'|' + p.next + u'|';
            for (size_t i = a; i < b + bn; ++i)
                key += std::u16string(syllables[i].begin(), syllables[i].end()) + u' ';
            if (seen.insert(key).second) out.push_back(std::move(p));
        }
    }
    return out;
}

// The next word of each pair typed after the word before committed: the
// share with the next word first (and without the word before).
double ReportWordPairs(t_candGenerator& generator, const std::vector<t_wordPair>& pairs,
                       t_candWord** results, const char* profile, int examples,
                       std::FILE* firsts = nullptr, const char* tag = "") {
    long first = 0, plainFirst = 0, shown = 0;
    t_scopeHeap heap;
    for (const t_wordPair& p : pairs) {
        heap.FreeAll();
        const t_adjustRequest request = BeforeRequest(p.before, heap);
        int n = Convert(generator, p.typed, 2600, results, nullptr, &request);
        const bool right = n > 0 && TextOf(results[0]) == p.next;
        first += right;
        if (firsts)
            std::fprintf(firsts, "%s\t%s\t%s\t%s\t%s\t%s\n", tag, Utf8(p.before.text).c_str(),
                         std::string(p.typed.begin(), p.typed.end()).c_str(), Utf8(p.next).c_str(),
                         n > 0 ? Utf8(TextOf(results[0])).c_str() : "",
                         std::string(p.beforeTyped.begin(), p.beforeTyped.end()).c_str());
        if (!right && shown++ < examples)
            std::printf("  %s %s %s -> %s\n", Utf8(p.before.text).c_str(),
                        std::string(p.typed.begin(), p.typed.end()).c_str(), Utf8(p.next).c_str(),
                        n > 0 ? Utf8(TextOf(results[0])).c_str() : "");
        n = Convert(generator, p.typed, 2600, results);
        plainFirst += n > 0 && TextOf(results[0]) == p.next;
    }
    const long count = long(pairs.size());
    std::printf(
        "the word before, word pairs cut from text (%s): %ld pairs, next word first %ld (%.1f%%; "
        "without the word before %ld, %.1f%%)\n",
        profile, count, first, Share(first, count), plainFirst, Share(plainFirst, count));
    return Share(first, count);
}

// Types each input alone once and commits its first candidate, as a user
// new to the input method does.
void LearnFirstsOf(t_candGenerator& generator, const std::set<std::wstring>& inputs,
                   t_candWord** results) {
    for (const std::wstring& s : inputs) {
        if (Convert(generator, s, 60, results) <= 0 || !results[0]->text) continue;
        const std::u16string text = TextOf(results[0]);
        LearnCommittedText(std::wstring(text.begin(), text.end()).c_str(), results[0]->syllableIds,
                           0);
    }
}

// Writes the first candidate of each input after each word before, one
// line each: PROFILE, the word before, the input, the first candidate.
void WriteFirsts(t_candGenerator& generator, const std::vector<t_wordBefore>& before,
                 const std::vector<std::wstring>& inputs, const char* profile, std::FILE* out,
                 t_candWord** results) {
    t_scopeHeap heap;
    for (const t_wordBefore& w : before)
        for (const std::wstring& s : inputs) {
            heap.FreeAll();
            const t_adjustRequest request = BeforeRequest(w, heap);
            const int n = Convert(generator, s, 2600, results, nullptr, &request);
            std::fprintf(out, "%s\t%s\t%s\t%s\n", profile, Utf8(w.text).c_str(),
                         std::string(s.begin(), s.end()).c_str(),
                         n > 0 ? Utf8(TextOf(results[0])).c_str() : "");
        }
}

// The floors of the word-before run (below 0: none).
struct t_sweepFloors {
    long maxReadAsTwo = -1;
    double minPairs = -1, minPairsLearned = -1;
};

// The word before over the commonest words: each syllable that also reads
// as two typed after each of the 1,000 commonest words; the word pairs cut
// from the phrases and sentences; then the same after each input measured
// was typed alone once and its first committed. With firsts, every
// syllable (and every everyday input of two characters) after each of the
// 1,000 words, in both profiles, written there. 0, 1 under a floor, 2
// when a file cannot be read.
int RunWordBefore(t_candGenerator& generator, const std::vector<t_phrase>& phrases,
                  const std::vector<t_everyday>& sentences, const std::vector<t_everyday>& everyday,
                  const std::string& wordsPath, const std::string& unigramsPath,
                  const std::string& firstsPath, const t_sweepFloors& floors, int examples,
                  t_candWord** results) {
    constexpr size_t kWordsBefore = 1000;
    bool ok = !wordsPath.empty();
    const std::vector<t_wordBefore> before =
        ok ? CommonWordsBefore(wordsPath, unigramsPath, kWordsBefore, &ok)
           : std::vector<t_wordBefore>();
    std::FILE* firsts = firstsPath.empty() ? nullptr : std::fopen(firstsPath.c_str(), "w");
    if (!ok || (!firstsPath.empty() && !firsts)) {
        std::fprintf(stderr, "eval_convert: cannot read %s or %s, or write %s\n", wordsPath.c_str(),
                     unigramsPath.c_str(), firstsPath.c_str());
        if (firsts) std::fclose(firsts);
        return 2;
    }
    std::vector<std::pair<std::u16string, std::vector<std::wstring>>> texts;
    for (const t_phrase& ph : phrases) texts.emplace_back(ph.text, ph.syllables);
    for (const t_everyday& e : sentences) texts.emplace_back(e.word, e.syllables);
    const std::vector<t_wordPair> pairs = CutWordPairs(ReadWordList(wordsPath), texts);
    std::vector<std::wstring> inputs(std::begin(kSyllableTexts), std::end(kSyllableTexts));
    for (const t_everyday& e : everyday)
        if (e.word.size() == 2) inputs.push_back(e.typed);
    int status = 0;
    const long split = ReportSyllablesReadAsTwo(generator, before, results, examples);
    if (floors.maxReadAsTwo >= 0 && split > floors.maxReadAsTwo) {
        std::fprintf(stderr,
                     "eval_convert: %ld syllables read as two first, above the ceiling %ld\n",
                     split, floors.maxReadAsTwo);
        status = 1;
    }
    if (UnderFloor("the word before, word pairs",
                   ReportWordPairs(generator, pairs, results, "fresh user folder", examples, firsts,
                                   "pairs-fresh"),
                   floors.minPairs))
        status = 1;
    if (firsts && g_sweepFirsts) WriteFirsts(generator, before, inputs, "fresh", firsts, results);
    // The learned-once profile: each next word's input typed alone once and
    // its first committed, then the pairs; then every input of the sweep
    // likewise.
    std::set<std::wstring> nextInputs;
    for (const t_wordPair& p : pairs) nextInputs.insert(p.typed);
    LearnFirstsOf(generator, nextInputs, results);
    if (UnderFloor("the word before, word pairs, learned once",
                   ReportWordPairs(generator, pairs, results,
                                   "each next word's input typed alone once and its first "
                                   "committed",
                                   examples, firsts, "pairs-learned"),
                   floors.minPairsLearned))
        status = 1;
    LearnFirstsOf(generator, std::set<std::wstring>(inputs.begin(), inputs.end()), results);
    ReportSyllablesReadAsTwo(generator, before, results, examples);
    if (firsts) {
        if (g_sweepFirsts) WriteFirsts(generator, before, inputs, "learned", firsts, results);
        std::fclose(firsts);
    }
    return status;
}

constexpr int32_t kGrownUserWords = 1000;

// A user dictionary of `size` learned words: each syllable's usual first
// (LearnUsualFirsts, done before), then the everyday words, commonest first,
// each committed once, until the dictionary holds that many.
void LearnEverydayWords(const std::vector<t_everyday>& everyday, int32_t size) {
    const t_usrDictV3Core& user = t_singleton<t_usrDictV3Core>::Get();
    const t_pyDict& py = t_singleton<t_pyDict>::Get();
    t_scopeHeap heap;
    for (const t_everyday& e : everyday) {
        if (user.GetWordCount() >= size) break;
        heap.FreeAll();
        std::vector<uint16_t> ids;
        for (const std::wstring& s : e.syllables) {
            const int32_t id = py.GetSyllableId(s.c_str());
            if (id >= 0) ids.push_back(uint16_t(id));
        }
        if (ids.size() != e.word.size()) continue;
        LearnCommittedText(std::wstring(e.word.begin(), e.word.end()).c_str(),
                           heap.MakeLstr(ids.data(), 2 * ids.size()), 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> learn;  // words learned before --show
    std::string data, calibration, show, before, seenPath, everydayPath, sentencesPath, hardPath,
        cutWordsPath, unigramsPath;
    double minExact = -1, minTop5 = -1, minFirstWord = -1, maxPrefixSecond = -1, minClean = -1,
           minTwo = -1, minCommon = -1, minLonger = -1, minTypos = -1, minContext = -1,
           minContextLearned = -1, minContextGain = -1, minPerson = -1, minHard = -1, minLoneA = -1,
           minCutWords = -1, minVowelWords = -1, minWordThenSyllable = -1, minContextGrown = -1,
           minVowelClosed = -1, minWordPairs = -1, minWordPairsLearned = -1;
    long maxSplit = -1;
    bool sweep = false;
    std::string firstsPath;
    long maxPrefixFirst = -1, maxReadsOn = -1;
    bool typos = true, abbreviations = true, firstPage = true, prefixes = true, context = true,
         lone = true;
    int examples = 0;          // phrases shown per kind of count
    int32_t learnedWords = 0;  // with --show: everyday words learned before
    int showErrors = 0;
    bool timing = true;
    double slowMs = 0;  // prints the keystrokes that take this long
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--data")
            data = v;
        else if (k == "--calibration")
            calibration = v;
        else if (k == "--min-exact")
            minExact = std::atof(v.c_str());
        else if (k == "--seen")
            seenPath = v;
        else if (k == "--min-clean")
            minClean = std::atof(v.c_str());
        else if (k == "--everyday")
            everydayPath = v;
        else if (k == "--min-everyday-two")
            minTwo = std::atof(v.c_str());
        else if (k == "--min-everyday-common")
            minCommon = std::atof(v.c_str());
        else if (k == "--min-everyday-longer")
            minLonger = std::atof(v.c_str());
        else if (k == "--sentences")
            sentencesPath = v;
        else if (k == "--min-sentence-person")
            minPerson = std::atof(v.c_str());
        else if (k == "--harder")
            hardPath = v;
        else if (k == "--min-harder")
            minHard = std::atof(v.c_str());
        else if (k == "--max-first-longer")
            maxReadsOn = std::atol(v.c_str());
        else if (k == "--min-top5")
            minTop5 = std::atof(v.c_str());
        else if (k == "--typos")
            typos = v != "0";
        else if (k == "--min-typos")
            minTypos = std::atof(v.c_str());
        else if (k == "--abbreviations")
            abbreviations = v != "0";
        else if (k == "--min-first-word")
            minFirstWord = std::atof(v.c_str());
        else if (k == "--max-prefix-first")
            maxPrefixFirst = std::atol(v.c_str());
        else if (k == "--max-prefix-second")
            maxPrefixSecond = std::atof(v.c_str());
        else if (k == "--first-page")
            firstPage = v != "0";
        else if (k == "--prefixes")
            prefixes = v != "0";
        else if (k == "--context")
            context = v != "0";
        else if (k == "--min-context")
            minContext = std::atof(v.c_str());
        else if (k == "--min-context-learned")
            minContextLearned = std::atof(v.c_str());
        else if (k == "--min-context-gain")
            minContextGain = std::atof(v.c_str());
        else if (k == "--lone")
            lone = v != "0";
        else if (k == "--min-lone-a")
            minLoneA = std::atof(v.c_str());
        else if (k == "--cut-words")
            cutWordsPath = v;
        else if (k == "--unigrams")
            unigramsPath = v;
        else if (k == "--min-cut-words")
            minCutWords = std::atof(v.c_str());
        else if (k == "--min-vowel-words")
            minVowelWords = std::atof(v.c_str());
        else if (k == "--min-word-then-syllable")
            minWordThenSyllable = std::atof(v.c_str());
        else if (k == "--min-context-grown")
            minContextGrown = std::atof(v.c_str());
        else if (k == "--min-vowel-closed")
            minVowelClosed = std::atof(v.c_str());
        else if (k == "--word-before")
            sweep = v != "0";
        else if (k == "--max-read-as-two")
            maxSplit = std::atol(v.c_str());
        else if (k == "--min-word-pairs")
            minWordPairs = std::atof(v.c_str());
        else if (k == "--min-word-pairs-learned")
            minWordPairsLearned = std::atof(v.c_str());
        else if (k == "--firsts")
            firstsPath = v;
        else if (k == "--firsts-sweep")
            g_sweepFirsts = v != "0";
        else if (k == "--learned-words")
            learnedWords = std::atoi(v.c_str());
        else if (k == "--examples")
            examples = std::atoi(v.c_str());
        else if (k == "--errors")
            showErrors = std::atoi(v.c_str());
        else if (k == "--show")
            show = v;
        else if (k == "--before")
            before = v;
        else if (k == "--learn")
            learn.push_back(v);
        else if (k == "--no-timing")
            timing = v != "1";
        else if (k == "--slow")
            slowMs = std::atof(v.c_str());
        else if (k == "--correction")
            g_correction = v != "0";
        else if (k == "--forecast")
            g_forecast = v != "0";
        else if (k == "--secondary")
            g_secondary = v != "0";
        else if (k == "--trace")
            g_trace = v != "0";
    }
    if (data.empty() || (calibration.empty() && show.empty())) {
        std::fprintf(
            stderr,
            "usage: eval_convert --data DIR --calibration TSV [--min-exact PERCENT] [--errors N] "
            "[--seen TSV] [--min-clean PERCENT] [--everyday TSV] [--min-everyday-two PERCENT] "
            "[--min-everyday-common PERCENT] [--min-everyday-longer PERCENT] "
            "[--sentences TSV] [--min-sentence-person PERCENT] "
            "[--harder TSV] [--min-harder PERCENT] [--max-first-longer N] "
            "[--show INPUT] [--no-timing 1] [--slow MS] [--min-top5 PERCENT] [--typos 0] "
            "[--min-typos PERCENT] "
            "[--abbreviations 0] [--examples N] [--context 0] [--min-context PERCENT] "
            "[--min-context-learned PERCENT] [--min-context-gain POINTS] [--lone 0] "
            "[--min-lone-a PERCENT] [--cut-words WORDS_TSV --unigrams TSV] "
            "[--min-cut-words PERCENT] [--min-vowel-words PERCENT] "
            "[--min-word-then-syllable PERCENT] [--min-context-grown PERCENT] "
            "[--min-vowel-closed PERCENT] [--word-before 1 [--max-read-as-two N] "
            "[--min-word-pairs PERCENT] [--min-word-pairs-learned PERCENT] [--firsts FILE] "
            "[--firsts-sweep 0]]\n");
        return 2;
    }
    char tmpl[] = "/tmp/vetra-eval-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::fprintf(stderr, "eval_convert: no temporary directory\n");
        return 2;
    }
    const std::string home = tmpl;
    std::filesystem::create_directories(home + "/user");
    setenv("HOME", home.c_str(), 1);
    const std::wstring user(home.begin(), home.end()), sys(data.begin(), data.end());
    const std::wstring userDir = user + L"/user";
    InitDictionaries(L"Vetra", userDir.c_str(), sys.c_str(), userDir.c_str(), L"eval", nullptr, 1,
                     0, nullptr);
    const bool keyMapReady = RegisterKeyPyMap(0) == 1;
    static t_candGenerator generator;
    // The default settings: long words forecast at place 2, two of them.
    generator.SetOptions(g_forecast ? 1 : 0, 2, 2, 4);
    static t_candWord* results[2600];
    int status = 0;
    if (!keyMapReady) {
        std::fprintf(stderr, "eval_convert: the system data in %s did not start\n", data.c_str());
        status = 2;
    } else if (!show.empty()) {
        uint16_t corrected = 0;
        t_scopeHeap heap;
        t_typedWord word;
        for (const std::string& spec : learn)
            if (ReadTypedWord(spec, &word))
                LearnCommittedText(std::wstring(word.text.begin(), word.text.end()).c_str(),
                                   word.Ids(heap), 0);
        bool readable = true;
        if (learnedWords > 0)
            LearnEverydayWords(ReadEveryday(everydayPath, &readable), learnedWords);
        t_adjustRequest context;
        if (!before.empty() && ReadTypedWord(before, &word)) {
            context.on = true;
            context.wordText = word.Text(heap);
            context.wordIds = word.Ids(heap);
        }
        generator.SetDebugDisplay(g_trace);
        const int n = Convert(generator, std::wstring(show.begin(), show.end()), 60, results,
                              &corrected, context.on ? &context : nullptr);
        for (int i = 0; i < n; ++i) {
            const t_lstr* trace = results[i]->debugText;
            const std::u16string why =
                g_trace && trace
                    ? std::u16string(reinterpret_cast<const char16_t*>(LstrGetUnits(trace)),
                                     LstrGetLength(trace))
                    : std::u16string();
            std::printf("%2d %s  kind %u source %u rank %d score %g%s %s\n", i + 1,
                        Utf8(TextOf(results[i])).c_str(), results[i]->kind, results[i]->sourceType,
                        results[i]->rank, results[i]->score,
                        i < 16 && (corrected >> i & 1) ? " correction" : "", Utf8(why).c_str());
        }
    } else {
        std::ifstream in(calibration);
        long phrases = 0, exact = 0, top5 = 0, chars = 0, rightChars = 0, fixFirst = 0,
             fixSecond = 0, clean = 0, cleanExact = 0, readsOnPhrases = 0;
        t_pageCounts phrasePages;
        bool readable = true;
        std::vector<std::u16string> seen;
        if (!seenPath.empty())
            for (const std::string& s : FirstFields(seenPath, &readable)) seen.push_back(Utf16(s));
        std::sort(seen.begin(), seen.end());
        std::vector<t_everyday> everyday;
        const int errorsToShow = showErrors;  // the misses listed of each set
        if (readable && !everydayPath.empty()) everyday = ReadEveryday(everydayPath, &readable);
        std::vector<t_everyday> sentences;
        if (readable && !sentencesPath.empty()) sentences = ReadEveryday(sentencesPath, &readable);
        std::vector<t_everyday> harder;
        if (readable && !hardPath.empty()) harder = ReadEveryday(hardPath, &readable);
        std::vector<double> keystrokes;
        std::vector<t_phrase> all;
        std::string line;
        uint16_t corrected = 0;
        while (in && std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
            if (t1 == std::string::npos) continue;
            t_phrase ph;
            ph.text = Utf16(line.substr(0, t1));
            ph.syllables.emplace_back();
            for (char c :
                 line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos : t2 - t1 - 1)) {
                if (c == ' ') {
                    if (!ph.syllables.back().empty()) ph.syllables.emplace_back();
                    continue;
                }
                ph.typed.push_back(wchar_t(c));
                ph.syllables.back().push_back(wchar_t(c));
            }
            if (ph.syllables.back().empty()) ph.syllables.pop_back();
            if (ph.typed.empty()) continue;
            const std::u16string& phrase = ph.text;
            const std::wstring& typed = ph.typed;
            const int n = std::min(Convert(generator, typed, 2600, results, &corrected), 5);
            const std::u16string got = n > 0 ? TextOf(results[0]) : std::u16string();
            readsOnPhrases += FirstReadsOn(results, n);
            phrasePages.Add(ComposedOnPage(results, n, typed.size()));
            ++phrases;
            chars += long(phrase.size());
            if (corrected & 1) {
                ++fixFirst;
                if (examples > 0 && fixFirst <= examples)
                    std::printf("  correction first: %s -> %s\n", Utf8(phrase).c_str(),
                                Utf8(got).c_str());
            }
            if (corrected & 2) {
                ++fixSecond;
                if (examples > 0 && fixSecond <= examples && n > 1)
                    std::printf("  correction second: %s -> %s\n", Utf8(phrase).c_str(),
                                Utf8(TextOf(results[1])).c_str());
            }
            const bool unseen = !std::binary_search(seen.begin(), seen.end(), phrase);
            clean += unseen;
            if (got == phrase) {
                ++exact;
                cleanExact += unseen;
            } else if (showErrors-- > 0)
                std::printf("  %s -> %s\n", Utf8(phrase).c_str(), Utf8(got).c_str());
            if (PlaceOf(results, n, phrase, 5) >= 0) ++top5;
            for (size_t i = 0; i < phrase.size() && i < got.size(); ++i)
                rightChars += phrase[i] == got[i];
            all.push_back(ph);
            if (!timing) continue;
            for (size_t k = 1; k <= typed.size(); ++k) {
                const std::wstring prefix = typed.substr(0, k);
                const auto t0 = std::chrono::steady_clock::now();
                Convert(generator, prefix, 2600, results);
                Convert(generator, prefix, 2600, results);
                const double ms =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                        .count();
                keystrokes.push_back(ms);
                if (slowMs > 0 && ms >= slowMs)
                    std::printf("  slow %.2f ms: %s\n", ms,
                                std::string(prefix.begin(), prefix.end()).c_str());
            }
        }
        if (!readable || (!everydayPath.empty() && everyday.empty()) ||
            (!sentencesPath.empty() && sentences.empty()) ||
            (!hardPath.empty() && harder.empty())) {
            std::fprintf(stderr, "eval_convert: cannot read %s, %s, %s or %s\n", seenPath.c_str(),
                         everydayPath.c_str(), sentencesPath.c_str(), hardPath.c_str());
            status = 2;
        } else if (phrases == 0) {
            std::fprintf(stderr, "eval_convert: no phrases in %s\n", calibration.c_str());
            status = 2;
        } else if (sweep) {
            t_sweepFloors floors;
            floors.maxReadAsTwo = maxSplit;
            floors.minPairs = minWordPairs;
            floors.minPairsLearned = minWordPairsLearned;
            status = RunWordBefore(generator, all, sentences, everyday, cutWordsPath, unigramsPath,
                                   firstsPath, floors, examples, results);
        } else {
            const double exactShare = 100.0 * double(exact) / double(phrases);
            const double top5Share = 100.0 * double(top5) / double(phrases);
            std::printf(
                "generator: %ld phrases, exact first %.1f%%, characters %.1f%%, top-5 %.1f%%\n",
                phrases, exactShare, 100.0 * double(rightChars) / double(chars), top5Share);
            std::printf(
                "corrections on correctly typed phrases: place 1 %ld (%.1f%%), place 2 %ld "
                "(%.1f%%)\n",
                fixFirst, 100.0 * double(fixFirst) / double(phrases), fixSecond,
                100.0 * double(fixSecond) / double(phrases));
            const double cleanShare = Share(cleanExact, clean);
            if (!seenPath.empty())
                std::printf(
                    "not word for word in the statistics' sources: %ld phrases, exact first "
                    "%.1f%%\n",
                    clean, cleanShare);
            // Everyday words: the first 1,000 two-character rows are the most
            // frequent (the set is ordered by frequency).
            long two = 0, twoFirst = 0, common = 0, commonFirst = 0, longer = 0, longerFirst = 0;
            int everydayErrors = errorsToShow;
            t_wordSetCounts easy, hard;
            const auto typeAlone = [&](const t_everyday& e, t_wordSetCounts* counts) {
                const int n = Convert(generator, e.typed, 2600, results);
                const bool first = n > 0 && TextOf(results[0]) == e.word;
                ++counts->rows;
                counts->first += first;
                counts->readsOn += FirstReadsOn(results, n);
                counts->pages.Add(ComposedOnPage(results, n, e.typed.size()));
                if (!first && everydayErrors-- > 0)
                    std::printf(
                        "  %s %s -> %s\n", std::string(e.typed.begin(), e.typed.end()).c_str(),
                        Utf8(e.word).c_str(), n > 0 ? Utf8(TextOf(results[0])).c_str() : "");
                return first;
            };
            for (const t_everyday& e : everyday) {
                const bool first = typeAlone(e, &easy);
                if (e.word.size() == 2) {
                    ++two;
                    twoFirst += first;
                    if (two <= 1000) {
                        ++common;
                        commonFirst += first;
                    }
                } else {
                    ++longer;
                    longerFirst += first;
                }
            }
            for (const t_everyday& e : harder) typeAlone(e, &hard);
            if (!everyday.empty())
                std::printf(
                    "everyday words first: two characters %.1f%% of %ld (the 1,000 most frequent "
                    "%.1f%%), three and four %.1f%% of %ld\n",
                    Share(twoFirst, two), two, Share(commonFirst, common),
                    Share(longerFirst, longer), longer);
            if (!harder.empty())
                std::printf(
                    "harder everyday words (three and four syllables) first: %.1f%% of %ld\n",
                    Share(hard.first, hard.rows), hard.rows);
            const long readsOn = readsOnPhrases + easy.readsOn + hard.readsOn;
            std::printf(
                "first candidate longer than the typed reading: %ld (phrases %ld, everyday %ld, "
                "harder %ld)\n",
                readsOn, readsOnPhrases, easy.readsOn, hard.readsOn);
            std::printf(
                "first pages with another composed reading of the whole input: phrases %.1f%%, "
                "everyday %.1f%%, harder %.1f%%\n",
                Share(phrasePages.composed, phrases), Share(easy.pages.composed, easy.rows),
                Share(hard.pages.composed, hard.rows));
            std::printf(
                "  of them only the first with another last character: phrases %.1f%%, everyday "
                "%.1f%%, harder %.1f%%\n",
                Share(phrasePages.glued, phrases), Share(easy.pages.glued, easy.rows),
                Share(hard.pages.glued, hard.rows));
            // Each floor reports its own failure.
            if (UnderFloor("clean exact", cleanShare, minClean) |
                UnderFloor("everyday two-character", Share(twoFirst, two), minTwo) |
                UnderFloor("everyday most frequent", Share(commonFirst, common), minCommon) |
                UnderFloor("everyday longer", Share(longerFirst, longer), minLonger) |
                UnderFloor("harder everyday", Share(hard.first, hard.rows), minHard))
                status = 1;
            if (!sentences.empty() &&
                UnderFloor("sentences about a person with 他 or 她 first",
                           ReportSentences(generator, sentences, results, errorsToShow), minPerson))
                status = 1;
            if (maxReadsOn >= 0 && readsOn > maxReadsOn) {
                std::fprintf(stderr,
                             "eval_convert: %ld first candidates read on beyond the input, above "
                             "the ceiling %ld\n",
                             readsOn, maxReadsOn);
                status = 1;
            }
            if (typos) {
                static const char* const kKinds[5] = {"", "substituted", "deleted", "inserted",
                                                      "swapped"};
                long made = 0, found = 0;
                std::string perKind;
                for (int kind = 1; kind <= 4; ++kind) {
                    long kindMade = 0, kindFound = 0;
                    for (size_t i = 0; i < all.size(); ++i) {
                        const std::wstring slip = Slip(all[i].typed, kind, uint32_t(i));
                        if (slip.empty()) continue;
                        ++kindMade;
                        const int got = Convert(generator, slip, 2600, results);
                        if (PlaceOf(results, got, all[i].text, 2) >= 0) ++kindFound;
                    }
                    made += kindMade;
                    found += kindFound;
                    char part[96];
                    std::snprintf(part, sizeof part, "%s %.1f%%%s", kKinds[kind],
                                  kindMade ? 100.0 * double(kindFound) / double(kindMade) : 0.0,
                                  kind < 4 ? ", " : "");
                    perKind += part;
                }
                const double repaired = Share(found, made);
                std::printf("typos: %ld, intended phrase at place 1-2 %ld (%.1f%%; %s)\n", made,
                            found, repaired, perKind.c_str());
                if (UnderFloor("typos repaired", repaired, minTypos)) status = 1;
            }
            if (abbreviations) {
                long count = 0, first = 0, fixedFirst = 0, top5Hits = 0;
                for (const t_phrase& ph : all) {
                    if (ph.syllables.size() < 2 || ph.syllables.size() > 4) continue;
                    std::wstring keys;
                    for (const std::wstring& s : ph.syllables) keys.push_back(s[0]);
                    ++count;
                    const int got = Convert(generator, keys, 2600, results, &corrected);
                    const int place = PlaceOf(results, got, ph.text, 5);
                    first += place == 0;
                    top5Hits += place >= 0;
                    // A correction first while the letters read as some word.
                    bool typedWord = false;
                    for (int i = 0; i < std::min(got, 16) && !typedWord; ++i)
                        typedWord = !(corrected >> i & 1);
                    if ((corrected & 1) && typedWord) {
                        ++fixedFirst;
                        if (examples > 0 && fixedFirst <= examples)
                            std::printf("  abbreviation corrected first: %s %s -> %s\n",
                                        std::string(keys.begin(), keys.end()).c_str(),
                                        Utf8(ph.text).c_str(), Utf8(TextOf(results[0])).c_str());
                    }
                }
                std::printf("abbreviations: %ld, first %ld, top-5 %ld, correction first %ld\n",
                            count, first, top5Hits, fixedFirst);
            }
            if (firstPage) {
                const double firstWord = ReportFirstPage(generator, all, results, examples);
                if (minFirstWord >= 0 && firstWord < minFirstWord) {
                    std::fprintf(stderr,
                                 "eval_convert: first words on the first page %.1f%% are below "
                                 "the floor %.1f%%\n",
                                 firstWord, minFirstWord);
                    status = 1;
                }
            }
            t_contextShares fresh;
            if (context) {
                fresh = ReportContextPairs(generator, all, results, "fresh user folder");
                if (UnderFloor("the word before", fresh.with, minContext) |
                    UnderFloor("the gain of the word before", fresh.with - fresh.without,
                               minContextGain))
                    status = 1;
            }
            if (lone && UnderFloor("the syllable and 啊 first",
                                   ReportLoneSyllables(generator, results, examples), minLoneA))
                status = 1;
            if (!cutWordsPath.empty()) {
                bool ok = true, read = true;
                const std::vector<t_listedWord> words =
                    CommonListedWords(cutWordsPath, unigramsPath, &ok);
                const double thirds =
                    ok ? ReportWordThenLastSyllable(generator, cutWordsPath, unigramsPath, results,
                                                    examples, &read)
                       : 0;
                if (!ok || !read) {
                    std::fprintf(stderr, "eval_convert: cannot read %s or %s\n",
                                 cutWordsPath.c_str(), unigramsPath.c_str());
                    status = 2;
                } else if (UnderFloor("words typed cut first",
                                      ReportCutWords(generator, words, results, examples),
                                      minCutWords) |
                           UnderFloor("words with the vowel alone inside first",
                                      ReportVowelWords(generator, words, results, examples),
                                      minVowelWords) |
                           UnderFloor("words with the vowel alone after a vowel or before n",
                                      ReportVowelWords(generator, words, results, examples, true),
                                      minVowelClosed) |
                           UnderFloor("three-character words after their first two", thirds,
                                      minWordThenSyllable)) {
                    status = 1;
                }
            }
            if (prefixes && g_correction) {
                const auto [first, second] =
                    ReportPrefixCorrections(generator, all, results, examples);
                if ((maxPrefixFirst >= 0 && first > maxPrefixFirst) ||
                    (maxPrefixSecond >= 0 && second > maxPrefixSecond)) {
                    std::fprintf(stderr,
                                 "eval_convert: prefixes corrected at place 1 %ld, at place 2 "
                                 "%.1f%%: above the ceiling\n",
                                 first, second);
                    status = 1;
                }
            }
            // Last: it learns words into the user folder.
            if (context) {
                LearnUsualFirsts(generator, all, results);
                const t_contextShares learned = ReportContextPairs(
                    generator, all, results, "each syllable's usual first learned once");
                if (UnderFloor("the word before, learned", learned.with, minContextLearned) |
                    UnderFloor("the gain of the word before, learned",
                               learned.with - learned.without, minContextGain))
                    status = 1;
                if (!everyday.empty()) {
                    LearnEverydayWords(everyday, kGrownUserWords);
                    if (UnderFloor("the word before, 1,000 learned words",
                                   ReportContextPairs(generator, all, results,
                                                      "a user dictionary of 1,000 learned words")
                                       .with,
                                   minContextGrown))
                        status = 1;
                }
            }
            if (timing) {
                const size_t count = keystrokes.size();
                const double median = Percentile(keystrokes, 0.5),
                             p99 = Percentile(keystrokes, 0.99);
                std::printf("per keystroke (%zu): median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                            count, median, p99, keystrokes.empty() ? 0.0 : keystrokes.back());
            }
            if (minExact >= 0 && exactShare < minExact) {
                std::fprintf(stderr, "eval_convert: exact %.1f%% is below the floor %.1f%%\n",
                             exactShare, minExact);
                status = 1;
            }
            if (minTop5 >= 0 && top5Share < minTop5) {
                std::fprintf(stderr, "eval_convert: top-5 %.1f%% is below the floor %.1f%%\n",
                             top5Share, minTop5);
                status = 1;
            }
        }
    }
    ShutdownDictionaries();
    std::filesystem::remove_all(home);
    return status;
}
