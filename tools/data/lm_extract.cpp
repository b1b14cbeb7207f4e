// Data-build tool: reads unigram and bigram statistics out of a binary
// language model through libimecore's public LanguageModel API.
// Single process; the pair scan runs on worker threads that share the model
// read-only and write only their own result vectors.
//
// Method: with the unknown-word penalty at 0, a word's back-off weight is
// the score of the unknown word after it minus the unknown word's unigram
// score. A pair (a, b) is stored in the model exactly when its score after
// a differs from the back-off path (weight of a + unigram of b); only words
// whose back-off weight is non-zero can start a stored pair.
//
// A word's parts: for every word of 2 to 8 characters, over its readings,
// the likeliest way the model reads its text as two or more words of the
// list (each read as the word is), scored with the model's whole context
// (是 不 是 with the pair and the triple, far above the pairs alone).
//
// Usage: vetra_lm_extract --lm FILE --words WORDS_TSV --unigrams OUT
//                         --bigrams OUT [--parts OUT] [--max-words N]
//                         [--threads N]
// WORDS_TSV: the normalised word list (word TAB reading); its distinct words
// are the vocabulary. Outputs, sorted by word bytes:
//   unigrams: word, log10 probability, log10 back-off weight, frequency rank
//             (1 = most frequent; ties in text order), one row per word the
//             model knows;
//   bigrams:  first word, second word, log10 probability of the second after
//             the first, for the stored pairs among the N most frequent words;
//   parts:    word, log10 probability of its likeliest split, the split's
//             last word, the word's own log10 probability ("-" when the
//             model does not know it); only where the split is likelier.
// Exits non-zero with a message on any failure.

#include <libime/core/languagemodel.h>
#include <libime/core/lattice.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// Pairs whose score lies this close to the back-off path (log10 units) are
// taken as not stored: float sums of the back-off path differ from the
// model's own by a few ulps, stored pairs differ by far more.
constexpr float kSameScore = 1e-4f;

struct t_options {
    std::string lm, words, unigrams, bigrams, parts;
    long maxWords = 131071;
    long threads = 0;
};

struct t_word {
    std::string text;
    libime::WordIndex index;
    float unigram;
    float backoff;
};

struct t_pair {
    unsigned first, second;  // positions in the vocabulary
    float score;
};

bool ParseOptions(int argc, char** argv, t_options* opt) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--lm")
            opt->lm = value;
        else if (key == "--words")
            opt->words = value;
        else if (key == "--unigrams")
            opt->unigrams = value;
        else if (key == "--bigrams")
            opt->bigrams = value;
        else if (key == "--parts")
            opt->parts = value;
        else if (key == "--max-words")
            opt->maxWords = std::strtol(value, nullptr, 10);
        else if (key == "--threads")
            opt->threads = std::strtol(value, nullptr, 10);
        else
            return false;
    }
    return (argc % 2) == 1 && !opt->lm.empty() && !opt->words.empty() && !opt->unigrams.empty() &&
           !opt->bigrams.empty() && opt->maxWords > 0 && opt->threads >= 0;
}

// Distinct words of the rows, in byte order.
std::vector<std::string> Vocabulary(const std::vector<std::pair<std::string, std::string>>& rows) {
    std::vector<std::string> out;
    out.reserve(rows.size());
    for (const auto& row : rows) out.push_back(row.first);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// The rows of the word list as "word TAB syllables", in file order.
bool ReadRows(const std::string& path, std::vector<std::pair<std::string, std::string>>* out) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        if (tab == 0 || tab == std::string::npos) continue;
        const size_t end = line.find('\t', tab + 1);
        out->emplace_back(line.substr(0, tab), line.substr(tab + 1, end - tab - 1));
    }
    return true;
}

// Byte offsets where the UTF-8 characters of text start, and its length.
std::vector<size_t> CharStarts(const std::string& text) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
    starts.push_back(text.size());
    return starts;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t at; (at = s.find(sep, from)) != std::string::npos; from = at + 1)
        out.push_back(s.substr(from, at - from));
    out.push_back(s.substr(from));
    return out;
}

struct t_split {
    float score = 0;
    std::string last;
};

// Words longer than this many characters are not split: the splits grow
// as 2^(n-1).
constexpr size_t kMaxSplitChars = 8;

// The likeliest split of text read as syllables into two or more words of
// the list (listed: "word TAB syllables") that the model knows; false when
// there is none.
bool BestSplit(const libime::LanguageModel& lm, const std::string& text,
               const std::vector<std::string>& syllables,
               const std::unordered_set<std::string>& listed,
               const std::unordered_map<std::string, libime::WordIndex>& known, t_split* out) {
    const std::vector<size_t> at = CharStarts(text);
    const size_t n = at.size() - 1;
    if (n < 2 || n > kMaxSplitChars || n != syllables.size()) return false;
    bool found = false;
    // Bit i of cuts: a word ends after character i.
    for (unsigned cuts = 1; cuts < (1u << (n - 1)); ++cuts) {
        libime::State state = lm.nullState(), next;
        float score = 0;
        size_t from = 0;
        std::string part;
        bool ok = true;
        for (size_t i = 1; i <= n && ok; ++i) {
            if (i < n && !(cuts >> (i - 1) & 1)) continue;
            part = text.substr(at[from], at[i] - at[from]);
            std::string reading = syllables[from];
            for (size_t k = from + 1; k < i; ++k) reading += ' ' + syllables[k];
            auto index = known.find(part);
            ok = index != known.end() && listed.count(part + '\t' + reading) > 0;
            if (ok) {
                score += lm.score(state, libime::WordNode(part, index->second), next);
                state = next;
            }
            from = i;
        }
        if (ok && (!found || score > out->score)) {
            *out = {score, part};
            found = true;
        }
    }
    return found;
}

// Writes through a temporary file renamed over the target, so that an
// interrupted run never leaves a half-written output behind.
class t_outFile {
public:
    explicit t_outFile(std::string path) : m_path(std::move(path)), m_temp(m_path + ".tmp") {
        m_file = std::fopen(m_temp.c_str(), "w");
    }
    ~t_outFile() {
        if (m_file) std::fclose(m_file);
    }
    FILE* get() const { return m_file; }
    bool Commit() {
        if (!m_file) return false;
        const bool ok = std::fflush(m_file) == 0 && !std::ferror(m_file);
        std::fclose(m_file);
        m_file = nullptr;
        return ok && std::rename(m_temp.c_str(), m_path.c_str()) == 0;
    }

private:
    std::string m_path, m_temp;
    FILE* m_file = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    t_options opt;
    if (!ParseOptions(argc, argv, &opt)) {
        std::fprintf(stderr,
                     "usage: %s --lm FILE --words WORDS_TSV --unigrams OUT --bigrams OUT "
                     "[--parts OUT] [--max-words N] [--threads N]\n",
                     argv[0]);
        return 2;
    }
    std::vector<std::pair<std::string, std::string>> rows;
    if (!ReadRows(opt.words, &rows)) {
        std::fprintf(stderr, "lm_extract: cannot read %s\n", opt.words.c_str());
        return 1;
    }
    const std::vector<std::string> texts = Vocabulary(rows);
    {
        std::ifstream probe(opt.lm, std::ios::binary);
        if (!probe) {
            std::fprintf(stderr, "lm_extract: cannot read %s\n", opt.lm.c_str());
            return 1;
        }
    }
    // The library reports a file it cannot load by throwing; turn that into
    // the tool's plain failure.
    std::unique_ptr<libime::LanguageModel> model;
    try {
        model = std::make_unique<libime::LanguageModel>(opt.lm.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lm_extract: cannot load %s: %s\n", opt.lm.c_str(), e.what());
        return 1;
    }
    const libime::LanguageModel& lm = *model;
    // A non-zero penalty enters every score and its rounding makes the
    // back-off path differ from the stored one by more than float noise.
    model->setUnknownPenalty(0);

    const libime::WordNode unknown("", lm.unknown());
    libime::State scratch;
    const float unknownUnigram = lm.score(lm.nullState(), unknown, scratch);

    std::vector<t_word> vocab;
    std::vector<libime::State> states;
    for (const std::string& text : texts) {
        const libime::WordIndex index = lm.index(text);
        if (index == lm.unknown() || lm.isUnknown(index, text)) continue;
        const libime::WordNode node(text, index);
        libime::State after;
        const float unigram = lm.score(lm.nullState(), node, after);
        libime::State unused;
        const float backoff = lm.score(after, unknown, unused) - unknownUnigram;
        vocab.push_back({text, index, unigram, backoff});
        states.push_back(after);
    }
    if (vocab.empty()) {
        std::fprintf(stderr, "lm_extract: no word of %s is known to the model\n",
                     opt.words.c_str());
        return 1;
    }

    // Pairs are kept among the most frequent words only (the gram id limit).
    std::vector<unsigned> byFrequency(vocab.size());
    for (unsigned i = 0; i < byFrequency.size(); ++i) byFrequency[i] = i;
    std::sort(byFrequency.begin(), byFrequency.end(), [&](unsigned a, unsigned b) {
        if (vocab[a].unigram != vocab[b].unigram) return vocab[a].unigram > vocab[b].unigram;
        return vocab[a].text < vocab[b].text;
    });
    // Rank 1 is the most frequent word; the compiled data gives gram ids by
    // rank, so it needs no float comparison of its own.
    std::vector<unsigned> rank(vocab.size());
    for (unsigned r = 0; r < byFrequency.size(); ++r) rank[byFrequency[r]] = r + 1;
    if (byFrequency.size() > static_cast<size_t>(opt.maxWords)) byFrequency.resize(opt.maxWords);

    // Second words in model-index order: the scan then walks the model's
    // unigram table forwards, which is several times faster.
    std::vector<unsigned> seconds = byFrequency;
    std::sort(seconds.begin(), seconds.end(),
              [&](unsigned a, unsigned b) { return vocab[a].index < vocab[b].index; });
    std::vector<libime::WordNode> secondNodes;
    secondNodes.reserve(seconds.size());
    for (unsigned s : seconds) secondNodes.emplace_back(vocab[s].text, vocab[s].index);

    std::vector<unsigned> firsts;
    for (unsigned f : seconds)
        if (vocab[f].backoff != 0.0f) firsts.push_back(f);

    unsigned threadCount = opt.threads > 0 ? static_cast<unsigned>(opt.threads)
                                           : std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::vector<t_pair>> found(threadCount);
    std::vector<size_t> nearMisses(threadCount, 0);
    std::atomic<size_t> next{0};
    auto worker = [&](unsigned t) {
        const size_t chunk = 128;
        for (;;) {
            const size_t begin = next.fetch_add(chunk);
            if (begin >= firsts.size()) break;
            const size_t end = std::min(firsts.size(), begin + chunk);
            // Second word outside, a block of first words inside: the
            // model's data for both stay in cache across the block.
            for (size_t j = 0; j < seconds.size(); ++j) {
                const float unigram = vocab[seconds[j]].unigram;
                for (size_t k = begin; k < end; ++k) {
                    const unsigned a = firsts[k];
                    libime::State out;
                    const float score = lm.score(states[a], secondNodes[j], out);
                    const float diff = std::fabs(score - (vocab[a].backoff + unigram));
                    if (diff > kSameScore)
                        found[t].push_back({a, seconds[j], score});
                    else if (diff != 0.0f)
                        ++nearMisses[t];
                }
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threadCount; ++t) pool.emplace_back(worker, t);
    for (std::thread& th : pool) th.join();

    std::vector<t_pair> pairs;
    size_t near = 0;
    for (unsigned t = 0; t < threadCount; ++t) {
        pairs.insert(pairs.end(), found[t].begin(), found[t].end());
        near += nearMisses[t];
    }
    // vocab is in byte order of the texts, so positions sort like texts.
    std::sort(pairs.begin(), pairs.end(), [](const t_pair& x, const t_pair& y) {
        return x.first != y.first ? x.first < y.first : x.second < y.second;
    });

    t_outFile uni(opt.unigrams);
    if (!uni.get()) {
        std::fprintf(stderr, "lm_extract: cannot write %s\n", opt.unigrams.c_str());
        return 1;
    }
    std::fprintf(uni.get(),
                 "# word\tlog10 probability\tlog10 back-off weight\tfrequency rank\n"
                 "# %zu words known to the model; pairs kept among the %zu most frequent\n",
                 vocab.size(), byFrequency.size());
    for (size_t i = 0; i < vocab.size(); ++i)
        std::fprintf(uni.get(), "%s\t%.6f\t%.6f\t%u\n", vocab[i].text.c_str(), vocab[i].unigram,
                     vocab[i].backoff + 0.0f, rank[i]);
    t_outFile bi(opt.bigrams);
    if (!bi.get()) {
        std::fprintf(stderr, "lm_extract: cannot write %s\n", opt.bigrams.c_str());
        return 1;
    }
    std::fprintf(bi.get(),
                 "# first word\tsecond word\tlog10 probability of the second after the first\n");
    for (const t_pair& p : pairs)
        std::fprintf(bi.get(), "%s\t%s\t%.6f\n", vocab[p.first].text.c_str(),
                     vocab[p.second].text.c_str(), p.score);
    size_t splitWords = 0;
    if (!opt.parts.empty()) {
        std::unordered_set<std::string> listed;
        for (const auto& [text, reading] : rows) listed.insert(text + '\t' + reading);
        std::unordered_map<std::string, libime::WordIndex> known;
        std::unordered_map<std::string, float> own;
        for (const t_word& w : vocab) {
            known.emplace(w.text, w.index);
            own.emplace(w.text, w.unigram);
        }
        std::vector<std::pair<std::string, std::vector<std::string>>> readings;  // by text
        for (const auto& [text, reading] : rows) readings.push_back({text, Split(reading, ' ')});
        std::sort(readings.begin(), readings.end());
        t_outFile parts(opt.parts);
        if (!parts.get()) {
            std::fprintf(stderr, "lm_extract: cannot write %s\n", opt.parts.c_str());
            return 1;
        }
        std::fprintf(parts.get(),
                     "# word\tlog10 probability of its likeliest split\tthe split's last word\t"
                     "the word's own log10 probability (- unknown)\n");
        for (size_t i = 0; i < readings.size();) {
            const std::string& text = readings[i].first;
            t_split best, split;
            bool any = false;
            for (; i < readings.size() && readings[i].first == text; ++i)
                if (BestSplit(lm, text, readings[i].second, listed, known, &split) &&
                    (!any || split.score > best.score)) {
                    best = split;
                    any = true;
                }
            auto self = own.find(text);
            if (!any || (self != own.end() && !(best.score > self->second))) continue;
            ++splitWords;
            if (self == own.end())
                std::fprintf(parts.get(), "%s\t%.6f\t%s\t-\n", text.c_str(), best.score,
                             best.last.c_str());
            else
                std::fprintf(parts.get(), "%s\t%.6f\t%s\t%.6f\n", text.c_str(), best.score,
                             best.last.c_str(), self->second);
        }
        if (!parts.Commit()) {
            std::fprintf(stderr, "lm_extract: writing %s failed\n", opt.parts.c_str());
            return 1;
        }
    }
    if (!uni.Commit() || !bi.Commit()) {
        std::fprintf(stderr, "lm_extract: writing the outputs failed\n");
        return 1;
    }
    std::printf(
        "lm_extract: %zu words, %zu pair-starting words, %zu pairs among %zu words, "
        "%zu near-equal scores taken as back-off, %zu words likelier as their parts, "
        "%u threads\n",
        vocab.size(), firsts.size(), pairs.size(), byFrequency.size(), near, splitWords,
        threadCount);
    return 0;
}
