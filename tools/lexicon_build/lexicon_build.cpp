// Compiles the normalised intermediates of the data build into the system
// dictionaries qzim_py.bin, qzim_hz.bin and qzim_core.bin, and writes a short
// report for the data summary. Deterministic: the same inputs give the same
// bytes.
//
// Usage: lexicon_build --data DIR --syllables FILE --out DIR --date YYYYMMDD
//                      [--report FILE]
#include <sys/stat.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/lexicon/sys_dict_writer.h"

namespace {

constexpr int kSyllableCount = 413;
constexpr uint16_t kWordCostMax = 0x7FF;
constexpr uint16_t kFreqMax = 0x3FFF;
constexpr size_t kShortKeyItems = 16;  // words offered per abbreviation key

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "lexicon_build: %s\n", why.c_str());
    std::exit(1);
}

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t at = line.find(sep, start);
        out.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return out;
        start = at + 1;
    }
}

// Calls fn with the tab-separated fields of every data row of a file.
template <class Fn>
void ForEachRow(const std::string& path, size_t fields, Fn fn) {
    std::ifstream in(path);
    if (!in) Die("cannot read " + path);
    std::string line;
    size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f = Split(line, '\t');
        if (f.size() < fields) Die(path + ":" + std::to_string(lineNo) + ": too few fields");
        fn(f);
    }
}

double Number(const std::string& s) {
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || !std::isfinite(v)) Die("not a number: " + s);
    return v;
}

// UTF-8 to UTF-16; dies on malformed text.
std::u16string Utf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        uint32_t cp;
        size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c >> 5) == 6) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c >> 4) == 14) {
            cp = c & 0x0F;
            n = 3;
        } else if ((c >> 3) == 30) {
            cp = c & 0x07;
            n = 4;
        } else {
            Die("bad UTF-8: " + s);
        }
        if (i + n > s.size()) Die("bad UTF-8: " + s);
        for (size_t k = 1; k < n; ++k) {
            const unsigned char d = s[i + k];
            if ((d >> 6) != 2) Die("bad UTF-8: " + s);
            cp = (cp << 6) | (d & 0x3F);
        }
        i += n;
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

struct t_args {
    std::string data, syllables, out, report, surnames;
    bool liftByParts = true;
    int32_t date = 0;
};

t_args ParseArgs(int argc, char** argv) {
    t_args a;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--data")
            a.data = v;
        else if (k == "--syllables")
            a.syllables = v;
        else if (k == "--out")
            a.out = v;
        else if (k == "--report")
            a.report = v;
        else if (k == "--surnames")
            a.surnames = v;
        else if (k == "--lift-by-parts")
            a.liftByParts = v != "0";
        else if (k == "--date")
            a.date = int32_t(std::atol(v.c_str()));
        else
            Die("unknown option " + k);
    }
    if (a.data.empty() || a.syllables.empty() || a.out.empty() || a.date < n_sysDict::kMinDate)
        Die("usage: lexicon_build --data DIR --syllables FILE --out DIR --date YYYYMMDD [--report "
            "FILE] "
            "[--surnames FILE] [--lift-by-parts 0|1]");
    return a;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) Die("cannot write " + tmp);
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
        Die("cannot write " + tmp);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) Die("cannot rename " + tmp);
}

struct t_unigram {
    double log10p = 0;
    double log10bow = 0;  // back-off weight
    uint32_t rank = 0;
};

// Counts of the statistics step, for the report.
struct t_gramCounts {
    size_t gramIds = 0, bigramRows = 0, bigramsBelowClasses = 0, inheritedPairs = 0;
};

// What the conversion adds to every step of a sentence path beside the
// stored numbers (see kernel/convert/word_lattice.h and GramGetWordPairScore).
constexpr double kPathStep = 100;        // every word of a composed path
constexpr double kShortPairExtra = 175;  // a pair of two one-syllable words
// Room below the neutral score for the back-off weights (read through the
// first word's cap): the stored scores move down by it, the unigrams up.
constexpr double kBackOffRoom = 150;
// Calibration of the conversion's per-word terms to this data: a pair that
// is not stored (read through the first word's cap) goes in kCapBonus
// cheaper than the model prices it, and every word of a sentence path
// kWordBonus cheaper. A word bonus made each further word of a path cheaper,
// so paths of more, shorter words beat the one word typed alone (会以 for
// huiyi); without it the phrases gain too. Measured with eval_convert,
// default settings (the candidate list orders words without a gram id by
// their gross cost), on the calibration phrases that the statistics' sources
// do not hold word for word and on the everyday words typed alone (two
// characters, the 1,000 most frequent of them, three and four): 76.1%,
// 94.9%, 97.0%, 98.7% with 40; 76.3%, 94.9%, 97.0%, 98.7% with 0; 76.3%,
// 94.9%, 97.0%, 98.8% with -40, which puts a spelling correction at place 2
// of the correctly typed phrases more often (4.4% against 4.1%). (40 had
// measured 73.4% / 73.0% against 72.9% / 72.9% on alternate halves of the
// phrases alone, before the lean towards technical text.)
constexpr double kWordBonus = 0;
constexpr double kCapBonus = 30;
// A word without a gram id goes into a sentence at its record cost plus the
// neutral pair score and the step; a word with one at its unigram record,
// which is stored net of them (see BuildGramStatistics). Record costs of
// words without a gram id are stored net of the same amount, so both kinds
// stand on one scale: measured with eval_convert, a rarer word outside the
// gram ids (绘图机) no longer loses to a path of single characters. Words
// of one character are left gross (see below).
constexpr double kNetOfPath = n_gram::kNeutral - kBackOffRoom + kPathStep + kWordBonus;
// A one-character row whose reading is this many nats (a factor of 8) less
// likely than the character's commonest reading gets no gram id: the gram
// record is keyed by text and would price 和 read "huo" as 和 read "he", so
// without one the row goes into sentences at its own reading-priced cost.
constexpr double kRareReadingNats = 2.08;
// Up to this many nats behind in the survey, a reading that the words
// holding the character use as much as (within kRareReadingNats of) its
// commonest reading is not rare: 16 readings with the open data (行 hang,
// 茄 qie, 钥 yue, 厦 xia ...). Measured with eval_convert: charuhang gives
// 插入行 and shanchuhang 删除行, the calibration phrases unchanged; without
// the survey bound (51 readings: 都 du, 了 liao, 还 huan) 0.3 points lost.
constexpr double kCommonInWordsNats = 3.0;
// The word statistics (word costs, unigram records, pair scores) enter the
// kernel's files at this share of the cost scale; syllable and letter costs
// keep the whole scale, the unit of the arc power. The conversion's own
// terms (the 175 of a one-syllable pair left out, the beam, the arc power)
// weigh against the statistics, and the 16 pair classes end at -512: at
// 0.85 the strongest pairs move off that floor (122,568 clamped instead of
// 202,626) and the reproducers of composition (shiyige, 是一个 rather than
// 十一个) come out right. Measured with eval_convert on the two halves of
// the calibration set (alternate phrases), exact first candidates: 71.9% /
// 72.0% at 1.0, 72.4% / 72.4% at 0.85, 72.4% / 72.2% at 0.8, 72.0% / 72.5%
// at 0.75; weighting only the pair scores loses (71.4% at 0.85).
constexpr double kStatisticsWeight = 0.85;

// Unigram records and bigram pairs, calibrated so that the conversion's sums
// mean what the model means. A path step from a to b costs
//   u0(b) + min(u1(a), P(a, b)) [+ 175 for two one-syllable words] + 100,
// where P is the pair's class score when stored and the neutral 350 when
// not; the model's cost is cost(b | a) for a listed pair and
// cost(b) + back-off(a) otherwise. So:
//   u0(b)    = cost(b) - 350 + room - 100  (net of the neutral score and the step)
//   u1(a)    = 350 - room + back-off(a)    (an unlisted pair costs a's back-off)
// (then u0 less the word bonus and u1 less the cap bonus, see above).
//   P(a, b)  = 350 - room + cost(b | a) - cost(b) [- 175 for one-syllable pairs]
// A pair that its class would not price nearer its score than a's cap is
// left out. Measured with tools/compose_accuracy on the calibration
// set: 63.4% exact phrases with u0 = cost(b) and cap 350, 67.7% net of the
// neutral score, 69.2% with the back-off weights, 70.6% with the step and
// the one-syllable pairs too. No back-off ids: backing off through the
// words' first and last characters was measured (plain bigram decoding of
// the calibration set) at 69.3% exact phrases against 70.2% without.
template <class Cost>
t_gramCounts BuildGramStatistics(const std::string& dir,
                                 const std::unordered_map<std::string, t_unigram>& unigrams,
                                 const std::unordered_map<std::string, std::string>& lastParts,
                                 uint32_t gramWords, Cost cost, t_sysDictSource* core) {
    auto clampRound = [](double v, double hi) {
        return uint32_t(std::lround(std::clamp(v, 0.0, hi)));
    };
    const double neutral = n_gram::kNeutral;
    t_gramCounts counts;
    core->unigrams.assign(size_t(gramWords) + 1, t_gramUnigram());
    std::vector<double> gramLog10(size_t(gramWords) + 1, 0.0);
    std::vector<bool> oneSyllable(size_t(gramWords) + 1, false);
    std::unordered_map<std::string, uint32_t> gramOf;
    for (const auto& [word, u] : unigrams) {
        if (u.rank < 1 || u.rank > gramWords) continue;
        gramOf[word] = u.rank;
        gramLog10[u.rank] = u.log10p;
        oneSyllable[u.rank] = Utf16(word).size() == 1;
        t_gramUnigram& g = core->unigrams[u.rank];
        g.freq = uint16_t(
            clampRound(cost(u.log10p) - neutral + kBackOffRoom - kPathStep - kWordBonus, kFreqMax));
        g.cap =
            uint16_t(clampRound(neutral - kBackOffRoom - kCapBonus + cost(u.log10bow), neutral));
    }
    counts.gramIds = gramOf.size();
    // A word the model knows worse than its parts goes on as its last part
    // does: its missing pairs are that part's (一个 月 as 个 月).
    std::unordered_map<std::string, std::vector<uint32_t>> heirs;  // last part -> lifted words
    for (const auto& [word, last] : lastParts)
        if (auto w = gramOf.find(word); w != gramOf.end() && gramOf.count(last))
            heirs[last].push_back(w->second);
    for (auto& [last, words] : heirs) std::sort(words.begin(), words.end());
    std::set<std::pair<uint32_t, uint32_t>> own;
    std::vector<std::tuple<uint32_t, uint32_t, double>> inherited;
    ForEachRow(dir + "/bigrams.tsv", 3, [&](const std::vector<std::string>& f) {
        auto a = gramOf.find(f[0]), b = gramOf.find(f[1]);
        if (a == gramOf.end() || b == gramOf.end()) return;
        own.insert({a->second, b->second});
        if (auto h = heirs.find(f[0]); h != heirs.end())
            for (uint32_t w : h->second) inherited.emplace_back(w, b->second, Number(f[2]));
    });
    // Stores the pair of a and b (gram ids) with log10 p(b | a); false when
    // it is left out.
    auto addPair = [&](uint32_t a, uint32_t b, double log10p) {
        // Below the neutral score when a makes b likelier.
        double score = neutral - kBackOffRoom + cost(log10p) - cost(gramLog10[b]);
        if (oneSyllable[a] && oneSyllable[b]) score -= kShortPairExtra;
        const double cap = core->unigrams[a].cap;
        int best = 0;
        for (int c = 1; c < 16; ++c)
            if (std::fabs(score - n_gram::kClassScores[c]) <
                std::fabs(score - n_gram::kClassScores[best]))
                best = c;
        // A pair left out reads as a's cap, a stored one as its class (under
        // the cap): store it only when that is nearer its score. Measured
        // against leaving out the pairs above 228 or above the cap less 15:
        // 72.5% exact first candidates against 72.4%, 1.4% fewer pairs.
        if (std::fabs(score - std::min<double>(cap, n_gram::kClassScores[best])) >=
            std::fabs(score - cap))
            return false;
        if (score < n_gram::kClassScores[0]) ++counts.bigramsBelowClasses;
        core->pairs.push_back({a, b, uint8_t(best), 0});
        return true;
    };
    for (const auto& [a, b, log10p] : inherited)
        if (!own.count({a, b}) && addPair(a, b, log10p)) ++counts.inheritedPairs;
    ForEachRow(dir + "/bigrams.tsv", 3, [&](const std::vector<std::string>& f) {
        ++counts.bigramRows;
        auto a = gramOf.find(f[0]), b = gramOf.find(f[1]);
        if (a != gramOf.end() && b != gramOf.end()) addPair(a->second, b->second, Number(f[2]));
    });
    return counts;
}

// A word should cost no more than the path through its own parts: the
// model knows some words badly (一个 far below 一 and 个 together) and leaves
// others out. For every word of two or more characters, the likeliest split
// into two or more words of the list read the same way is found, scored as
// the model scores that word sequence (first unigram, then each stored pair,
// or the unigram after the back-off weight), and beside it the model's own
// score of the split with its whole context (lm-parts.tsv, when there: 是不是
// as 是 不 是 with its triple, above 时不时); a known word whose own
// probability is lower takes the better of the two (max over its readings),
// and an unknown word gets it in *partsOnly for its record cost. A known
// word far below its parts (kHeirGap) goes into *lastParts with the split's
// last word, whose pairs it takes over. Returns the number of known words
// lifted.
// How far (log10) a word the model knows must lie below its parts for its
// pairs to be taken from its last part: 19 words (一个, 也是, 的时候 ...),
// 46,717 pairs more, 0.2 MB. With it yigeyue gives 一个月 rather than
// 一个约 and womendeyigeyue 我们的一个月; 1.0 (60 words) takes 336,818
// pairs for the same readings of those.
constexpr double kHeirGap = 1.5;

size_t LiftByParts(const std::string& dir, std::unordered_map<std::string, t_unigram>& unigrams,
                   std::unordered_map<std::string, double>* partsOnly,
                   std::unordered_map<std::string, std::string>* lastParts) {
    std::map<std::pair<std::string, std::string>, double> known;  // (text, reading) -> log10 p
    std::vector<std::pair<std::string, std::vector<std::string>>> rows;
    std::unordered_map<std::string, double> backOff;
    ForEachRow(dir + "/unigrams.tsv", 4,
               [&](const std::vector<std::string>& f) { backOff[f[0]] = Number(f[2]); });
    ForEachRow(dir + "/words.tsv", 2, [&](const std::vector<std::string>& f) {
        std::vector<std::string> syl = Split(f[1], ' ');
        if (syl.size() != Utf16(f[0]).size()) return;
        auto it = unigrams.find(f[0]);
        if (it != unigrams.end()) known[{f[0], f[1]}] = it->second.log10p;
        rows.push_back({f[0], std::move(syl)});
    });
    // The pairs among words of the list, as the model scores them.
    std::unordered_map<std::string, double> pairs;
    ForEachRow(dir + "/bigrams.tsv", 3, [&](const std::vector<std::string>& f) {
        pairs[f[0] + '\t' + f[1]] = Number(f[2]);
    });
    auto step = [&](const std::string& prev, const std::string& part, double unigram) {
        if (prev.empty()) return unigram;
        auto p = pairs.find(prev + '\t' + part);
        if (p != pairs.end()) return p->second;
        auto b = backOff.find(prev);
        return unigram + (b == backOff.end() ? 0.0 : b->second);
    };
    auto utf8Cut = [](const std::string& s, size_t from,
                      size_t to) {  // characters [from, to) of UTF-8 text
        size_t i = 0, ch = 0, a = s.size(), b = s.size();
        for (; i <= s.size(); ++i) {
            if (i == s.size() || (uint8_t(s[i]) & 0xC0) != 0x80) {
                if (ch == from) a = std::min(a, i);
                if (ch == to) {
                    b = i;
                    break;
                }
                ++ch;
            }
        }
        return s.substr(a, b - a);
    };
    std::unordered_map<std::string, double> best;  // text -> best split over its readings
    for (const auto& [text, syl] : rows) {
        const size_t n = syl.size();
        if (n < 2) continue;
        // At each position, the likeliest way there for each last part.
        std::vector<std::map<std::string, double>> at(n + 1);
        at[0][""] = 0;
        for (size_t i = 1; i <= n; ++i)
            for (size_t j = 0; j < i; ++j) {
                if ((j == 0 && i == n) || at[j].empty()) continue;
                std::string reading;
                for (size_t k = j; k < i; ++k) reading += (k > j ? " " : "") + syl[k];
                const std::string part = utf8Cut(text, j, i);
                auto u = known.find({part, reading});
                if (u == known.end()) continue;
                for (const auto& [prev, lp] : at[j]) {
                    const double v = lp + step(prev, part, u->second);
                    auto cur = at[i].find(part);
                    if (cur == at[i].end() || v > cur->second) at[i][part] = v;
                }
            }
        if (at[n].empty()) continue;
        double lp = -1e18;
        for (const auto& [last, v] : at[n]) lp = std::max(lp, v);
        auto b = best.find(text);
        if (b == best.end() || lp > b->second) best[text] = lp;
    }
    // The model's own reading of the parts, with its whole context.
    if (std::ifstream probe(dir + "/lm-parts.tsv"); probe)
        ForEachRow(dir + "/lm-parts.tsv", 4, [&](const std::vector<std::string>& f) {
            auto b = best.find(f[0]);
            const double lp = Number(f[1]);
            if (b == best.end() || lp > b->second) best[f[0]] = lp;
            if (f[3] != "-" && lp - Number(f[3]) >= kHeirGap) (*lastParts)[f[0]] = f[2];
        });
    size_t lifted = 0;
    for (const auto& [word, lp] : best) {
        auto it = unigrams.find(word);
        if (it == unigrams.end()) {
            (*partsOnly)[word] = lp;
        } else if (lp > it->second.log10p) {
            it->second.log10p = lp;
            ++lifted;
        }
    }
    return lifted;
}

// Person names. A surname of the list, read as the list reads it, gets the
// class record {kind 2, class 1}; a three-character word of the word list
// that is a one-character surname and a two-character given name gets the
// person-name flag when neither its given name nor its first two characters
// are words themselves: 周恩来 is taken, 张家口 is not (张家 is a word), nor
// is 王国维 (王国 is). Two-character words are left alone: 王国 and 王明
// look alike. A sample of the flagged words read about four in five names.
// The characters those names use often become given-name characters.
struct t_nameMarks {
    size_t surnames = 0, surnameRows = 0, names = 0, givenChars = 0;
};
// A character read the same way in at least this many flagged names is a
// given-name character (class {kind 2 with its place bits, uses, 0, 0,
// class 2}), which composed names prefer. The place bits tell the name
// lattice where it may stand: 16 first of two given characters (it met the
// place), 32 last of two (met), 8 a one-character given name (any of them).
constexpr int kGivenNameUses = 3;
constexpr uint8_t kGivenAlone = 8, kGivenFirstOfTwo = 16, kGivenLastOfTwo = 32;
t_nameMarks MarkPersonNames(const std::string& surnameFile, std::vector<t_sysWordEntry>& words,
                            std::vector<std::array<uint8_t, 5>>& classes,
                            const std::function<int(const std::string&)>& idOf) {
    t_nameMarks m;
    std::map<std::u16string, std::vector<uint16_t>> surnames;
    ForEachRow(surnameFile, 2, [&](const std::vector<std::string>& f) {
        std::vector<uint16_t> ids;
        for (const std::string& syl : Split(f[1], ' ')) {
            const int id = idOf(syl);
            if (id < 0) Die("unknown syllable in the surname list: " + syl);
            ids.push_back(uint16_t(id));
        }
        const std::u16string text = Utf16(f[0]);
        if (ids.size() != text.size()) Die("surname and reading differ in length: " + f[0]);
        surnames[text] = ids;
    });
    m.surnames = surnames.size();
    const uint32_t surnameClass = uint32_t(classes.size());
    classes.push_back({2, 0, 0, 0, 1});
    std::set<std::u16string> texts;
    for (const t_sysWordEntry& w : words) texts.insert(w.text);
    std::map<std::pair<char16_t, uint16_t>, int> givenUses;
    std::map<std::pair<char16_t, uint16_t>, uint8_t> givenPlaces;
    for (t_sysWordEntry& w : words) {
        auto it = surnames.find(w.text);
        if (it != surnames.end() && it->second == w.ids) {
            w.classIndex = surnameClass;
            ++m.surnameRows;
            continue;
        }
        if (w.text.size() != 3 || w.ids.size() != 3) continue;
        auto sur = surnames.find(w.text.substr(0, 1));
        if (sur == surnames.end() || sur->second[0] != w.ids[0]) continue;
        if (texts.count(w.text.substr(1)) || texts.count(w.text.substr(0, 2))) continue;
        w.flags |= n_sysDict::kFlagPersonName;
        ++m.names;
        for (size_t i = 1; i < 3; ++i) {
            ++givenUses[{w.text[i], w.ids[i]}];
            givenPlaces[{w.text[i], w.ids[i]}] |=
                uint8_t(i == 1 ? kGivenFirstOfTwo : kGivenLastOfTwo);
        }
    }
    // Byte 1 of the class record counts the uses (at most 255), so a name
    // can take the character names use most.
    std::map<std::pair<int, uint8_t>, uint32_t> givenClass;
    for (t_sysWordEntry& w : words) {
        if (w.text.size() != 1 || w.ids.size() != 1 || w.classIndex != 0) continue;
        auto it = givenUses.find({w.text[0], w.ids[0]});
        if (it == givenUses.end() || it->second < kGivenNameUses) continue;
        const int uses = std::min(it->second, 255);
        const uint8_t kind = uint8_t(2 | kGivenAlone | givenPlaces[{w.text[0], w.ids[0]}]);
        if (!givenClass.count({uses, kind})) {
            givenClass[{uses, kind}] = uint32_t(classes.size());
            classes.push_back({kind, uint8_t(uses), 0, 0, 2});
        }
        w.classIndex = givenClass[{uses, kind}];
        ++m.givenChars;
    }
    return m;
}

// -ln p(reading | character) for every reading of a one-character word, so
// that a character's rare reading ranks by its own frequency ("yue" should
// not offer 说 before 月). The counts are the survey's (kHanyuPinlu) when it
// counted the character, else how often the word list reads the character
// that way; one is added to every count so an uncounted reading stays
// possible. Key: (character, syllable id).
std::map<std::pair<char16_t, uint16_t>, double> ReadingShareCosts(
    const std::map<uint32_t, std::vector<std::pair<uint16_t, long>>>& readings,
    const std::map<std::pair<char16_t, uint16_t>, long>& wordListCounts) {
    std::map<std::pair<char16_t, uint16_t>, double> out;
    for (const auto& [ch, list] : readings) {
        long survey = 0;
        for (const auto& r : list) survey += r.second;
        std::vector<double> counts;
        double total = 0;
        for (const auto& r : list) {
            long c = r.second;
            if (survey == 0) {
                auto it = wordListCounts.find({char16_t(ch), r.first});
                c = it == wordListCounts.end() ? 0 : it->second;
            }
            counts.push_back(double(c) + 1.0);
            total += double(c) + 1.0;
        }
        for (size_t i = 0; i < list.size(); ++i)
            out[{char16_t(ch), list[i].first}] = -std::log(counts[i] / total);
    }
    return out;
}

}  // namespace

// The cloud trigger's table of trusted syllable pairs (see
// docs/trusted-pairs.md): byte a x 413 + b is 1 when the local two-character
// reading of syllables a, b is trusted. The readings of a pair are its
// two-character words with statistics and every pair of characters read a
// and b (valued as the product of their probabilities); the pair is trusted
// when its likeliest reading holds at least kTrustedShare of them all.
constexpr double kTrustedShare = 0.5;

struct t_trustedCounts {
    size_t ones = 0, zeros = 0;
};

// costs[i] is the gross cost of words[i] (the probability of the word and
// its reading, whether it has a gram id or not).
std::vector<uint8_t> BuildTrustedPairs(const std::vector<t_sysWordEntry>& words,
                                       const std::vector<uint16_t>& costs, double scale,
                                       t_trustedCounts* counts) {
    const size_t side = size_t(kSyllableCount);
    std::vector<double> best(side * side, 0.0), total(side * side, 0.0);
    std::vector<double> charBest(side, 0.0), charTotal(side, 0.0);
    for (size_t i = 0; i < words.size(); ++i) {
        const t_sysWordEntry& w = words[i];
        if (costs[i] >= kWordCostMax || w.text.size() != w.ids.size()) continue;
        const double p = std::exp(-double(costs[i]) / scale);
        if (w.ids.size() == 1 && w.ids[0] < side) {
            charBest[w.ids[0]] = std::max(charBest[w.ids[0]], p);
            charTotal[w.ids[0]] += p;
        } else if (w.ids.size() == 2 && w.ids[0] < side && w.ids[1] < side) {
            const size_t k = size_t(w.ids[0]) * side + w.ids[1];
            best[k] = std::max(best[k], p);
            total[k] += p;
        }
    }
    std::vector<uint8_t> table(side * side, 0);
    for (size_t a = 0; a < side; ++a)
        for (size_t b = 0; b < side; ++b) {
            const size_t k = a * side + b;
            const double top = std::max(best[k], charBest[a] * charBest[b]);
            const double all = total[k] + charTotal[a] * charTotal[b];
            table[k] = all > 0 && top >= kTrustedShare * all ? 1 : 0;
            ++(table[k] ? counts->ones : counts->zeros);
        }
    return table;
}

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    const t_args args = ParseArgs(argc, argv);
    const std::string& dir = args.data;

    // ---- parameters and syllables
    double scale = 0;
    uint32_t gramWords = 0;
    ForEachRow(dir + "/build-params.tsv", 2, [&](const std::vector<std::string>& f) {
        if (f[0] == "cost scale") scale = Number(f[1]);
        if (f[0] == "gram words") gramWords = uint32_t(Number(f[1]));
    });
    if (!(scale > 0) || gramWords == 0 || gramWords > n_gram::kMaxGramId)
        Die("bad build-params.tsv");
    // cost = -ln p x scale, from log10 p.
    const double perLog10 = std::log(10.0) * scale;
    auto cost = [&](double log10p) { return -log10p * perLog10; };
    auto wordCost = [&](double log10p) { return cost(log10p) * kStatisticsWeight; };
    auto clampRound = [](double v, double hi) {
        return uint32_t(std::lround(std::clamp(v, 0.0, hi)));
    };

    std::vector<std::string> syllables;
    {
        std::ifstream in(args.syllables);
        if (!in) Die("cannot read " + args.syllables);
        std::string line;
        while (std::getline(in, line))
            if (!line.empty() && line[0] != '#') syllables.push_back(line);
    }
    if (syllables.size() != size_t(kSyllableCount))
        Die("the syllable list must hold 413 syllables");
    std::unordered_map<std::string, uint16_t> syllableId;
    for (size_t i = 0; i < syllables.size(); ++i) syllableId[syllables[i]] = uint16_t(i);
    auto idOf = [&](const std::string& s) -> int {
        auto it = syllableId.find(s);
        return it == syllableId.end() ? -1 : it->second;
    };

    // ---- qzim_py.bin
    t_pyDictSource py;
    py.syllables = syllables;
    py.costs.assign(kSyllableCount, 0xFFFF);
    py.pairCosts.assign(size_t(kSyllableCount) * kSyllableCount, 0xFFFF);
    ForEachRow(dir + "/syllable-unigrams.tsv", 2, [&](const std::vector<std::string>& f) {
        const int id = idOf(f[0]);
        if (id < 0) Die("unknown syllable " + f[0]);
        py.costs[size_t(id)] = uint16_t(clampRound(cost(Number(f[1])), 65535));
    });
    size_t pairRows = 0;
    ForEachRow(dir + "/syllable-bigrams.tsv", 3, [&](const std::vector<std::string>& f) {
        const int a = idOf(f[0]), b = idOf(f[1]);
        if (a < 0 || b < 0) Die("unknown syllable pair " + f[0] + " " + f[1]);
        py.pairCosts[size_t(a) * kSyllableCount + size_t(b)] =
            uint16_t(clampRound(cost(Number(f[2])), 65535));
        ++pairRows;
    });
    if (pairRows != size_t(kSyllableCount) * kSyllableCount)
        Die("syllable-bigrams.tsv must hold every pair");
    py.trigram.assign(27 * 27 * 27, 0);
    py.xpos.assign(26 * 26 * 27, 0);
    py.trigramPresent.assign(py.trigram.size(), false);
    py.xposPresent.assign(py.xpos.size(), false);
    auto letter = [](const std::string& s) -> int {
        if (s.size() != 1) return -1;
        if (s[0] >= 'a' && s[0] <= 'z') return s[0] - 'a';
        return s[0] == '~' ? 26 : -1;
    };
    ForEachRow(dir + "/letter-priors.tsv", 5, [&](const std::vector<std::string>& f) {
        const int a = letter(f[1]), b = letter(f[2]), c = letter(f[3]);
        if (a < 0 || b < 0 || c < 0) Die("bad letter-prior row");
        // Stored in steps of 5 units, read back x 5.
        const uint8_t v = uint8_t(clampRound(cost(Number(f[4])) / 5.0, 255));
        if (f[0] == "edit") {
            const size_t key = size_t(729 * c + 27 * a + b);
            py.trigram[key] = v;
            py.trigramPresent[key] = true;
        } else if (f[0] == "swap") {
            if (a > 25 || b > 25) Die("bad swap row");
            const size_t key = size_t(676 * c + 26 * b + a);
            py.xpos[key] = v;
            py.xposPresent[key] = true;
        } else {
            Die("unknown letter-prior table " + f[0]);
        }
    });
    for (bool p : py.trigramPresent)
        if (!p) Die("letter-priors.tsv misses an edit row");
    for (bool p : py.xposPresent)
        if (!p) Die("letter-priors.tsv misses a swap row");

    // ---- qzim_hz.bin: BMP characters, most common reading first
    struct t_reading {
        uint16_t id;
        long count;
        size_t sources;
    };
    std::map<uint32_t, std::vector<t_reading>> charReadings;
    std::map<uint32_t, std::vector<std::pair<uint16_t, long>>> surveyCounts;
    size_t charsOutsideBmp = 0;
    ForEachRow(dir + "/chars.tsv", 4, [&](const std::vector<std::string>& f) {
        const std::u16string ch = Utf16(f[0]);
        if (ch.size() != 1) {
            ++charsOutsideBmp;
            return;
        }
        const int id = idOf(f[1]);
        if (id < 0) Die("unknown syllable in chars.tsv: " + f[1]);
        charReadings[ch[0]].push_back({uint16_t(id), std::atol(f[2].c_str()), f[3].size()});
        surveyCounts[ch[0]].push_back({uint16_t(id), std::atol(f[2].c_str())});
    });
    std::vector<t_hzCharEntry> hz;
    size_t charReadingCount = 0;
    for (auto& [ch, readings] : charReadings) {
        std::stable_sort(readings.begin(), readings.end(),
                         [](const t_reading& a, const t_reading& b) {
                             if (a.count != b.count) return a.count > b.count;
                             if (a.sources != b.sources) return a.sources > b.sources;
                             return a.id < b.id;
                         });
        t_hzCharEntry e;
        e.ch = uint16_t(ch);
        for (const t_reading& r : readings) e.ids.push_back(r.id);
        charReadingCount += e.ids.size();
        hz.push_back(std::move(e));
    }

    // ---- words and statistics
    std::unordered_map<std::string, t_unigram> unigrams;
    ForEachRow(dir + "/unigrams.tsv", 4, [&](const std::vector<std::string>& f) {
        unigrams[f[0]] = {Number(f[1]), Number(f[2]), uint32_t(Number(f[3]))};
    });
    std::unordered_map<std::string, double> partsOnly;
    std::unordered_map<std::string, std::string> lastParts;
    const size_t liftedByParts =
        args.liftByParts ? LiftByParts(dir, unigrams, &partsOnly, &lastParts) : 0;
    auto gramIdOf = [&](const std::string& w) -> uint32_t {
        auto it = unigrams.find(w);
        return (it != unigrams.end() && it->second.rank >= 1 && it->second.rank <= gramWords)
                   ? it->second.rank
                   : 0;
    };

    // How often the word list reads each character of its longer words each
    // way, and how much use those words see (the sum of their probabilities).
    std::map<std::pair<char16_t, uint16_t>, long> wordListCounts;
    std::map<std::pair<char16_t, uint16_t>, double> wordUse;
    ForEachRow(dir + "/words.tsv", 2, [&](const std::vector<std::string>& f) {
        const std::u16string text = Utf16(f[0]);
        const std::vector<std::string> syl = Split(f[1], ' ');
        if (text.size() < 2 || syl.size() != text.size()) return;
        auto u = unigrams.find(f[0]);
        const double p = u == unigrams.end() ? 0.0 : std::pow(10.0, u->second.log10p);
        for (size_t i = 0; i < text.size(); ++i)
            if (const int id = idOf(syl[i]); id >= 0) {
                ++wordListCounts[{text[i], uint16_t(id)}];
                wordUse[{text[i], uint16_t(id)}] += p;
            }
    });
    const auto readingCosts = ReadingShareCosts(surveyCounts, wordListCounts);
    std::map<char16_t, double> commonestReading;  // character -> its lowest reading cost
    for (const auto& [key, c] : readingCosts) {
        auto b = commonestReading.find(key.first);
        if (b == commonestReading.end() || c < b->second) commonestReading[key.first] = c;
    }
    std::map<char16_t, double> commonestUse;
    for (const auto& [key, p] : wordUse)
        commonestUse[key.first] = std::max(commonestUse[key.first], p);
    // A rare reading goes into sentences at its own cost (kRareReadingNats),
    // unless the survey finds it only moderately rare and the words holding
    // the character use it about as much as its commonest reading (行 hang:
    // 银行, 行业, 一行), where it is no rarer alone after another word.
    auto rareReading = [&](char16_t ch, uint16_t id, double surveyCost) {
        const double behind = surveyCost - commonestReading[ch];
        if (behind <= kRareReadingNats) return false;
        if (behind > kCommonInWordsNats) return true;
        auto it = wordUse.find({ch, id});
        return it == wordUse.end() || !(it->second > 0) ||
               std::log(commonestUse[ch] / it->second) > kRareReadingNats;
    };

    t_sysDictSource core;
    core.date = args.date;
    core.gramSecondWord = uint32_t(args.date);
    core.classes.push_back({0, 0, 0, 0, 0});  // index 0: no class
    size_t withoutStats = 0, wordRows = 0, rareReadings = 0;
    std::vector<uint16_t> grossCosts;  // per word row, before netting
    std::set<std::string> wordTexts;
    struct t_shortCand {
        uint16_t gross;  // the order of the list
        uint16_t cost;
        std::u16string text;
        std::vector<uint16_t> ids;
        uint32_t gram;
    };
    std::vector<std::vector<t_shortCand>> shortCands(n_sysDict::kShortKeyEntries);
    ForEachRow(dir + "/words.tsv", 2, [&](const std::vector<std::string>& f) {
        t_sysWordEntry w;
        for (const std::string& s : Split(f[1], ' ')) {
            const int id = idOf(s);
            if (id < 0) Die("unknown syllable in words.tsv: " + s);
            w.ids.push_back(uint16_t(id));
        }
        w.text = Utf16(f[0]);
        w.gramId = gramIdOf(f[0]);
        double c = kWordCostMax;
        bool known = true;
        auto it = unigrams.find(f[0]);
        if (it != unigrams.end()) {
            c = wordCost(it->second.log10p);
            if (w.text.size() == 1 && w.ids.size() == 1) {  // p(character, reading)
                auto share = readingCosts.find({w.text[0], w.ids[0]});
                if (share != readingCosts.end()) {
                    c += share->second * scale * kStatisticsWeight;
                    if (w.gramId != 0 && rareReading(w.text[0], w.ids[0], share->second)) {
                        w.gramId = 0;
                        ++rareReadings;
                    }
                }
            }
        } else if (auto parts = partsOnly.find(f[0]); parts != partsOnly.end()) {
            c = wordCost(parts->second);  // no worse than its parts
        } else {
            known = false;  // words the model does not know rank after every known word
            ++withoutStats;
        }
        // One character keeps its gross cost: the candidate list orders a
        // syllable's characters by it (呢 read ni stays after 你, 泥, 尼).
        const bool net = known && w.gramId == 0 && w.text.size() > 1;
        grossCosts.push_back(uint16_t(clampRound(c, kWordCostMax)));
        w.cost = uint16_t(clampRound(net ? c - kNetOfPath : c, kWordCostMax));
        ++wordRows;
        wordTexts.insert(f[0]);
        if (w.ids.size() == w.text.size() && (w.ids.size() == 1 || w.ids.size() == 2)) {
            const int a = syllables[w.ids[0]][0] - 'a';
            const size_t key = w.ids.size() == 1
                                   ? size_t(a)
                                   : size_t(26 + a * 26 + (syllables[w.ids[1]][0] - 'a'));
            shortCands[key].push_back({grossCosts.back(), w.cost, w.text, w.ids, w.gramId});
        }
        core.words.push_back(std::move(w));
    });
    t_nameMarks nameMarks;
    if (!args.surnames.empty())
        nameMarks = MarkPersonNames(args.surnames, core.words, core.classes, idOf);
    core.shortKeys.resize(n_sysDict::kShortKeyEntries);
    for (size_t k = 0; k < shortCands.size(); ++k) {
        auto& c = shortCands[k];
        std::sort(c.begin(), c.end(), [](const t_shortCand& a, const t_shortCand& b) {
            if (a.gross != b.gross) return a.gross < b.gross;
            if (a.text != b.text) return a.text < b.text;
            return a.ids < b.ids;
        });
        std::set<std::u16string> seen;
        for (const t_shortCand& s : c) {
            if (core.shortKeys[k].size() >= kShortKeyItems) break;
            if (!seen.insert(s.text).second) continue;
            core.shortKeys[k].push_back({s.ids, s.text, s.cost, s.gram});
        }
    }

    t_trustedCounts trustedCounts;
    const std::vector<uint8_t> trustedImage =
        BuildTrustedPairs(core.words, grossCosts, scale * kStatisticsWeight, &trustedCounts);
    const t_gramCounts gramCounts =
        BuildGramStatistics(dir, unigrams, lastParts, gramWords, wordCost, &core);
    std::vector<uint8_t> pyImage, hzImage, coreImage;
    std::string error;
    if (!BuildPyDictImage(py, pyImage, &error)) Die("qzim_py.bin: " + error);
    if (!BuildHzDictImage(hz, hzImage, &error)) Die("qzim_hz.bin: " + error);
    t_sysDictStats stats;
    if (!BuildSysDictImage(core, coreImage, &error, &stats)) Die("qzim_core.bin: " + error);

    mkdir(args.out.c_str(), 0755);
    WriteFile(args.out + "/qzim_py.bin", pyImage);
    WriteFile(args.out + "/qzim_hz.bin", hzImage);
    WriteFile(args.out + "/qzim_core.bin", coreImage);
    WriteFile(args.out + "/qzim_trustpair.bin", trustedImage);

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::ostringstream r;
    r.setf(std::ios::fixed);
    r.precision(1);
    r << "  compiled: " << hz.size() << " characters with " << charReadingCount << " readings ("
      << charsOutsideBmp << " readings outside the BMP left out); " << wordTexts.size()
      << " words in " << stats.records << " records, " << stats.groups << " readings, "
      << stats.nodes << " tree nodes, " << stats.textUnits << " text units; " << withoutStats
      << " word rows without statistics (cost " << kWordCostMax << "); " << rareReadings
      << " rare readings of one character without a gram id\n";
    r << "  words no worse than their parts: " << liftedByParts << " known words lifted, "
      << partsOnly.size() << " unknown words priced by their parts\n";
    if (!args.surnames.empty())
        r << "  person names: " << nameMarks.surnames << " surnames on " << nameMarks.surnameRows
          << " word rows, " << nameMarks.names << " three-character names flagged, "
          << nameMarks.givenChars << " given-name characters\n";
    r << "  compiled statistics: " << gramCounts.gramIds << " gram ids, " << stats.pairs << " of "
      << gramCounts.bigramRows << " bigrams stored (" << gramCounts.bigramsBelowClasses
      << " clamped to the lowest class), " << gramCounts.inheritedPairs
      << " pairs of lifted words taken from their last parts, " << stats.shortItems
      << " short-key items\n";
    r << "  trusted syllable pairs: " << trustedCounts.ones << " trusted, " << trustedCounts.zeros
      << " ask the cloud\n";
    r << "  system files: qzim_py.bin " << pyImage.size() / 1e6 << " MB, qzim_hz.bin "
      << hzImage.size() / 1e6 << " MB, qzim_core.bin " << coreImage.size() / 1e6
      << " MB (compiled in " << seconds << " s)\n";
    std::fputs(r.str().c_str(), stdout);
    if (!args.report.empty()) {
        std::ofstream rep(args.report + ".tmp");
        rep << r.str();
        rep.close();
        if (!rep || std::rename((args.report + ".tmp").c_str(), args.report.c_str()) != 0)
            Die("cannot write " + args.report);
    }
    (void)wordRows;
    return 0;
}
