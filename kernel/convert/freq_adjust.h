// t_freqAdjust: the context of one conversion (the word committed before, the
// recent input, the user dictionary's scale) and the scoring that moves a
// system or user word up when it follows that context; CheckWordPinyin tests
// that a text can be read with its syllables.
// One conversion on one thread; the record points at dictionaries it does not own.
#pragma once

#include <cstdint>
#include <string>

struct t_lstr;
struct t_candWord;
struct t_wordArc;
class t_sysDict;
class t_gramInfo;
class t_pyDict;
class t_hzDict;
class t_CAStringCache;
struct t_caValue;
class t_usrInputCache;
class t_usrDictV3Core;
class t_submittedUsrWord;

// Context id of a number just typed (above every gram id).
inline constexpr int32_t kNumberContextId = 0x20000;

// Adjust flags (t_candWord::adjustFlags).
enum : uint32_t {
    kAdjustComposedSystem = 0x1,
    kAdjustComposedBigram = 0x2,
    kAdjustPairBigram = 0x4,
    kAdjustPlainUser = 0x8,
    kAdjustFrequentUser = 0x10,
    kAdjustComposedUser = 0x20,
    kAdjustUserBigram = 0x40,
    kAdjustUserCache = 0x80,
    kAdjustNumber = 0x100,
    kAdjustLastWordBigram = 0x200,
    kAdjustSystemFar = 0x800,
    kAdjustUserFar = 0x1000,
};

// What a cache adjustment came from: the continuations the user typed, a
// pair of the statistics, or the word before and the candidate joined into
// one system word.
enum class t_adjustOrigin : uint8_t { kNone, kCache, kPair, kJoined };

// Where the caller's context comes from; every pointer may be null.
struct t_adjustSources {
    const t_sysDict* sys = nullptr;
    const t_pyDict* py = nullptr;
    const t_hzDict* hz = nullptr;
    t_CAStringCache* continuations = nullptr;  // filled with what follows the word before
    const t_usrInputCache* recentInputs = nullptr;
    t_usrDictV3Core* user = nullptr;  // two commits in a row are learned joined
};

struct t_freqAdjust {
    static constexpr int32_t kBudget = 10;
    // How many of the user's choices the statistics' own unigram counts for
    // when a word's use is weighed beside a word before (LearnedBonus).
    // Measured on the word pairs cut from text after each next word's input
    // was typed alone once and its first committed: 13,347 first (13,346 at
    // 15,000, 13,345 at 30,000 and without any lift, when words without a
    // gram id were still read at the missing record's cost).
    static constexpr double kPriorUses = 20000.0;
    // Where a user word stands beside a word before when the statistics do
    // not know the one or the other (no gram id): a common word at the
    // neutral pair score. Its use alone orders it among such words.
    static constexpr int64_t kUnpairedOrder = -950;
    // What the user's own record of typing a word (a continuation typed, a
    // recent input, the word typed right after the word before) adds to its
    // order: it goes above what the statistics raise.
    static constexpr int64_t kTypedRaise = 5000;

    const t_lstr* contextText = nullptr;  // the preceding word
    const t_lstr* contextIds = nullptr;   // its syllables
    uint8_t singleLock = 0;
    uint8_t exactLock = 0;
    // [0] the preceding word's gram id (kNumberContextId after a number),
    // [1] the two last committed words joined, [2..4] earlier words.
    int32_t ids[5] = {};
    int16_t distanceTerms[3] = {};
    int32_t systemBudget = 0;
    int32_t userBudget = 0;
    int32_t threshold = 0;
    int32_t contextUnigrams[2] = {};
    // The word before's cost on the scale of the unigram records (from its
    // dictionary record; -1 when the system words do not hold it).
    int32_t contextNet = -1;
    // Where the likeliest word of the arc's input stands after the word
    // before when nothing raises it (SetPlainWord): a raise goes above it
    // only from a better order.
    int64_t plainOrder = INT64_MIN;
    uint8_t mode = 0;
    int32_t userScale = 1048576;
    int32_t userAverage = 1;  // the frequency of the user dictionary's average word
    int32_t userSize = 0;
    const wchar_t* recentText = nullptr;  // the text committed lately, oldest first
    int32_t recentLength = 0;             // trailing characters of it compared with a candidate
    t_adjustSources src;
    // The preceding word when it is the tail of the last commit (t_lstr).
    static constexpr uint32_t kTailUnits = 22;
    uint8_t tailIds[2 + 2 * kTailUnits] = {};
    uint8_t tailText[2 + 2 * kTailUnits] = {};

    // Takes the sources, the unigrams of the first two ids, the word
    // before's own cost and the user dictionary's size and scale (a
    // dictionary of at most 999 words keeps the scale 1048576; scale is at
    // least 1).
    void Init(const t_adjustSources& sources, int32_t userWords, int32_t scale);
    bool HasContext() const;
    bool HasAdjust() const { return systemBudget > 0 || userBudget > 0; }
    // The gates of one arc of system words (firstGram: the gram id of the
    // group's first entry).
    void ComputeSystem(const t_wordArc& arc, uint32_t firstGram);
    // The likeliest word of the arcs that end where this one does at its
    // probability (its syllables, text, gram id and list cost): what leads
    // when the word before raises nothing. It stands at the better of the
    // word before's cap with its cost alone (CostAlone) and its reading
    // through its parts (我 不 是 for 不是, which the model's text mostly
    // splits); sets plainOrder.
    void SetPlainWord(const t_lstr* ids, const t_lstr* text, uint32_t gram, int32_t listCost);
    // A word's cost alone, on the scale of the system words' list costs: its
    // unigram as stored and the path's net with a gram id, else its list
    // cost (a rare reading of a character has no gram id), else (at
    // kCandNoPower) the missing record's, for a word the statistics lack.
    int64_t CostAlone(uint32_t gram, int32_t listCost) const;
    // The continuations of the word before (filled for the candidate's
    // syllables), then the pair with the preceding word, then the joined
    // word in the system dictionary: 1 (the two make a system word, not
    // with exact; value = its cost on the scale of the unigram records), 32
    // (user continuation or weak pair), 64 (user continuation of a joined
    // commit, or strong pair), 0 nothing. Only with allowBigram is the pair
    // asked. *direct: the hit's flag.
    int ComputeCacheAdjust(const t_lstr* ids, const t_lstr* text, bool allowBigram, bool exact,
                           int32_t* value, uint8_t* direct, t_adjustOrigin* origin = nullptr) const;
    // Whether the text is a continuation of the word before: the cache is
    // filled for the candidate's syllables first (`hit`: its value).
    bool Continuation(const t_lstr* ids, const t_lstr* text, t_caValue* hit) const;
    // The cost of the word before and the word joined into one word of the
    // system dictionary, on the scale of the unigram records; false when
    // they make none.
    bool JoinedWordCost(const t_lstr* ids, const t_lstr* text, int32_t* cost) const;
    // The cost (the sum of the steps a sentence pays) of the word (two to
    // kComposedChars characters) read as two or more system words after the
    // word before, by the cheapest such split; false without one.
    static constexpr uint32_t kComposedChars = 4;
    bool ComposedCost(const t_lstr* ids, const t_lstr* text, int64_t* cost) const;
    // Where a word of cost wordNet (on the scale of the unigram records)
    // stands after the word before when the statistics price it there at
    // `follow` otherwise than by a stored pair (the word the two make, the
    // path through its parts): as the pair the data build would store for
    // that price, rounded to its class. With unseen (the word the two make,
    // a continuation the model's pairs never saw): read within the word
    // before's back-off, from its cap, at its price above the lowest class.
    // False when the build would leave that pair out (it reads as the word
    // before's cap).
    bool ImpliedOrder(int64_t follow, int64_t wordNet, int64_t* order, bool unseen = false) const;
    // The order the word has through the word it makes with the word
    // before (joined: that word's cost; after one character and for one,
    // that cost beyond the word before's); false when it makes none or the
    // build would store no pair for it. A reading through the word's parts
    // never stands for a pair: a composition of common characters (一 事,
    // 是 是) follows almost any word.
    bool ReadingOrder(const t_lstr* text, int64_t wordNet, const int32_t* joined,
                      int64_t* order) const;
    // The gram id the candidate pairs with: the two last words joined when
    // they make a system word, else the word before (0 after a number).
    int32_t PairId() const;
    // What a pair the statistics do not store reads as after the word
    // before: its cap (kNeutral without a gram id to pair with).
    int64_t PairCap() const;
    // Where a word of gram id gram that has no stored pair with the word
    // before stands on the scale of the raised system words: minus the
    // word before's cap and its unigram.
    int64_t UnpairedOrder(uint32_t gram) const;
    // UnpairedOrder, or kUnpairedOrder when the word or the word before has
    // no gram id: the word's back-off reading.
    int64_t BackoffOrder(uint32_t gram) const;
    // How well a word (its syllables, text and gram id, 0 when the
    // statistics do not know it) follows the word before, on the scale of
    // the raised system words: minus a stored pair's score and the word's
    // unigram, else BackoffOrder, or ReadingOrder when that is higher.
    int64_t FollowOrder(const t_lstr* ids, const t_lstr* text, uint32_t gram) const;
    // What `uses` choices of a user word of cost `cost` alone (on the scale
    // of the system words' costs) add to its back-off reading beside a word
    // before: how much likelier the user's choices make it than that cost
    // does, in cost units, never below 0. The user's share of it is weighed
    // with the statistics' own as a prior worth kPriorUses choices, so one
    // choice of a common word (是, 向, 应) says little and one of a rare
    // word much.
    int64_t LearnedBonus(int64_t uses, int64_t cost) const;
    // Whether the user has typed the word (syllables, text) right after
    // the word before: the two commits joined are a word of the user
    // dictionary, learned so.
    bool UserTypedAfter(const t_lstr* ids, const t_lstr* text) const;
    // A user word of weight f (its frequency as the weight curve ages it),
    // secondary count s and frequency uses (below 0: f) read at probability
    // p; sets the order number and adjust flags. 1 when it raised the word.
    int ComputeInputHistory(t_candWord* w, int32_t f, int32_t s, double p, int32_t uses = -1);
    // A system word (its dictionary entry, cost and the arc's extra power)
    // after the context: 1 with kind 1 and an order number, else kind 0.
    int ScoreAssociationWord(t_candWord* w, uint32_t entry, int32_t power, int32_t extra);
    // Whether the recent input ends with the candidate's text (then the
    // candidate becomes a system word ranked 100 lower).
    bool DemoteRecent(t_candWord* w) const;
};

// What the caller knows of the context before a conversion.
struct t_adjustRequest {
    bool on = false;                   // adjust by the context at all
    bool number = false;               // a number was typed just before
    const t_lstr* wordText = nullptr;  // the preceding word and its syllables
    const t_lstr* wordIds = nullptr;
    int32_t wordId = 0;  // its gram id when the caller knows it
    const wchar_t* recentText = nullptr;
    int32_t recentLength = 0;
    const t_submittedUsrWord* submitted = nullptr;  // the last committed words
    bool pair = false;                              // join the two last committed words
    int32_t earlierIds[3] = {};
    int16_t distanceTerms[3] = {};
};

// Fills the context part of the record from the request: the preceding
// word (the caller's, or the newest committed word when the recent text is
// compared whole), its gram id (kNumberContextId after a number), the
// earlier ids, and with the pair flag the gram id of the two last committed
// words joined. The sources (for the lookups) must be set before; Init
// comes after.
void PrepareContextAdjust(t_freqAdjust* adjust, const t_adjustRequest& request);

// 1 when text (as many units as ids, more than none, every id at most 440)
// can be read with the syllables: a Latin letter must carry its letter id,
// any other character the id among its readings (not checked without hz).
// A mismatch in mode 1 or 2 counts one more in the configuration's first or
// second reading-mismatch counter; mode 0 counts nothing.
int CheckWordPinyin(const t_pyDict* py, const t_hzDict* hz, const t_lstr* ids, const t_lstr* text,
                    int mode = 0);

// The labels of the adjust flags, in bit order; "未知调频 " for none known.
void FormatAdjustFlags(std::wstring& out, uint32_t flags);
