// The user's spelling model and the slip classifier.
#include "kernel/lexicon/spell_model.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "kernel/runtime/byte_order.h"

namespace {

constexpr double kLnDecay = -0.01511363781;  // ln 0.985

// 'a'..'z' -> 0..25, '~' -> 26, anything else -1.
int LetterIndex(uint32_t x) {
    if (x >= 'a' && x <= 'z') return int(x - 'a');
    if (x == '~') return 26;
    return -1;
}
int PlainLetterIndex(uint32_t x) {
    return (x >= 'a' && x <= 'z') ? int(x - 'a') : -1;
}

}  // namespace

const wchar_t* SpellEditKindName(uint32_t kind) {
    switch (kind) {
        case kSpellEditInsDelSub:
            return L"InsDelSub";
        case kSpellEditXpos:
            return L"Xpos";
        default:
            return L"nothing";
    }
}

// ---------------------------------------------------------------------------
// The dictionary.

bool t_userSpellModelDict::IsValidImage(const void* data, int64_t size) {
    if (!data || size < kImageSize) return false;
    const auto* p = static_cast<const uint8_t*>(data);
    return Rd32(p) == kMagic && RdI32(p + 4) >= 0 && RdI32(p + 8) >= 0;
}

void t_userSpellModelDict::MakeDefaultImage(uint8_t* out) {
    std::memset(out, 0, size_t(kImageSize));
    Wr32(out, kMagic);
}

void t_userSpellModelDict::Clear() {
    m_image = m_editBigrams = m_editTrigrams = m_xposBigrams = m_xposTrigrams = nullptr;
}

bool t_userSpellModelDict::Load(void* data, int32_t size) {
    Clear();
    // A damaged model would give a zero or negative total and with it
    // meaningless costs: refuse it, so a default one takes its place.
    if (!IsValidImage(data, size)) return false;
    m_image = static_cast<uint8_t*>(data);
    m_editBigrams = m_image + kEditBigramOffset;
    m_editTrigrams = m_image + kEditTrigramOffset;
    m_xposBigrams = m_image + kXposBigramOffset;
    m_xposTrigrams = m_image + kXposTrigramOffset;
    return true;
}

bool t_userSpellModelDict::Save(const void*, int32_t) {
    std::vector<uint8_t> image(static_cast<size_t>(kImageSize));
    MakeDefaultImage(image.data());
    return CommitImage(image.data(), kImageSize);
}

int32_t t_userSpellModelDict::GetTotal() const {
    return m_image ? RdI32(m_image + 4) : 0;
}
int32_t t_userSpellModelDict::GetNonZeroCount() const {
    return m_image ? RdI32(m_image + 8) : 0;
}

int t_userSpellModelDict::Cost(const uint8_t* bigrams, size_t bigramIndex, bool bigramOk,
                               const uint8_t* trigrams, size_t trigramIndex, bool trigramOk) const {
    if (!m_image || !IsReady()) return kNoData;
    const int32_t total = GetTotal();
    // The image may have been changed since it was checked; a total that is
    // not positive has no meaning as a denominator.
    if (total <= 0) return kNoData;
    if (trigramOk) {
        const uint16_t n = Rd16(trigrams + 2 * trigramIndex);
        if (n > 0) return int(std::trunc(std::log(double(n) / total) / kLnDecay * 0.1));
    }
    if (bigramOk) {
        const uint16_t m = Rd16(bigrams + 2 * bigramIndex);
        if (m > 0) return int(std::trunc(std::log(double(m) / total) / kLnDecay * 0.4));
    }
    return kNoData;
}

int t_userSpellModelDict::GetInsDelSubScore(uint32_t a, uint32_t b, uint32_t c) const {
    const int ia = LetterIndex(a), ib = LetterIndex(b), ic = LetterIndex(c);
    const bool bigramOk = ia >= 0 && ib >= 0;
    const bool trigramOk = bigramOk && ic >= 0;
    return Cost(m_editBigrams, bigramOk ? size_t(ia + 27 * ib) : 0, bigramOk, m_editTrigrams,
                trigramOk ? size_t(ia + 27 * ib + 729 * ic) : 0, trigramOk);
}

int t_userSpellModelDict::GetXposScore(uint32_t a, uint32_t b, uint32_t c) const {
    const int ia = PlainLetterIndex(a), ib = PlainLetterIndex(b), ic = LetterIndex(c);
    const bool bigramOk = ia >= 0 && ib >= 0;
    const bool trigramOk = bigramOk && ic >= 0;
    return Cost(m_xposBigrams, bigramOk ? size_t(26 * ia + ib) : 0, bigramOk, m_xposTrigrams,
                trigramOk ? size_t(ib + 26 * ia + 676 * ic) : 0, trigramOk);
}

void t_userSpellModelDict::Count(uint8_t* bigrams, size_t bigramIndex, uint8_t* trigrams,
                                 size_t trigramIndex) {
    int32_t nonZero = GetNonZeroCount();
    for (auto [table, index] :
         {std::pair{bigrams, bigramIndex}, std::pair{trigrams, trigramIndex}}) {
        const uint16_t v = Rd16(table + 2 * index);
        if (v == 0 && nonZero < INT32_MAX) ++nonZero;
        if (v < 65535) Wr16(table + 2 * index, uint16_t(v + 1));
    }
    Wr32(m_image + 8, uint32_t(nonZero));
    const int32_t total = GetTotal();
    Wr32(m_image + 4, uint32_t(total <= INT32_MAX - 2 ? total + 2 : INT32_MAX));
}

int t_userSpellModelDict::AddInsDelSub(uint32_t a, uint32_t b, uint32_t c) {
    if (!m_image || !IsReady()) return 0;
    const int ia = LetterIndex(a), ib = LetterIndex(b), ic = LetterIndex(c);
    if (ia >= 0 && ib >= 0 && ic >= 0)
        Count(m_editBigrams, size_t(ia + 27 * ib), m_editTrigrams, size_t(ia + 27 * ib + 729 * ic));
    return 1;
}

int t_userSpellModelDict::AddXpos(uint32_t a, uint32_t b, uint32_t c) {
    if (!m_image || !IsReady()) return 0;
    const int ia = PlainLetterIndex(a), ib = PlainLetterIndex(b), ic = LetterIndex(c);
    if (ia >= 0 && ib >= 0 && ic >= 0)
        Count(m_xposBigrams, size_t(26 * ia + ib), m_xposTrigrams, size_t(ib + 26 * ia + 676 * ic));
    return 1;
}

// ---------------------------------------------------------------------------
// The classifier.

namespace {

bool IsLowerLetter(wchar_t x) {
    return x >= L'a' && x <= L'z';
}
bool IsUpperLetter(wchar_t x) {
    return x >= L'A' && x <= L'Z';
}
// Either side has ended, or both are the same.
bool Agree(wchar_t u, wchar_t v) {
    return u == 0 || v == 0 || u == v;
}

// Character i of s, 0 past its end (s has length len).
wchar_t At(const wchar_t* s, size_t len, size_t i) {
    return i < len ? s[i] : 0;
}

}  // namespace

bool SpellEditClassify(const wchar_t* typed, const wchar_t* corrected, t_spellEdit* out,
                       uint32_t* position) {
    if (out) *out = t_spellEdit{kSpellEditNothing, 0, 0, 0};
    if (position) *position = 0;
    if (!typed || !corrected || !out || !position) return false;
    const size_t nt = std::wcslen(typed), nc = std::wcslen(corrected);
    if (nt < 2 || nc < 2) return false;

    size_t p = 0;
    while (p < nt && p < nc && typed[p] == corrected[p]) ++p;
    if (p >= nt || p >= nc) return false;  // equal, or one is a prefix of the other
    *position = uint32_t(p);

    const wchar_t x = typed[p], y = corrected[p];
    const wchar_t x1 = At(typed, nt, p + 1), x2 = At(typed, nt, p + 2), x3 = At(typed, nt, p + 3);
    const wchar_t y1 = At(corrected, nc, p + 1), y2 = At(corrected, nc, p + 2),
                  y3 = At(corrected, nc, p + 3);
    if (x == L'\'' || y == L'\'' || x1 == L'\'' || y1 == L'\'') return false;

    wchar_t c = L'~';
    for (size_t i = p; i > 0; --i) {
        if (typed[i - 1] != L'\'') {
            c = typed[i - 1];
            break;
        }
    }

    t_spellEdit edit{kSpellEditNothing, 0, 0, 0};
    auto make = [&](uint32_t kind, wchar_t a, wchar_t b) {
        edit = t_spellEdit{kind, uint32_t(a), uint32_t(b), uint32_t(c)};
        return true;
    };
    // A letter typed too many.
    auto deletion = [&]() {
        if (y1 == x) {
            if (x2 == y1 && Agree(x3, y2)) return make(kSpellEditInsDelSub, x, L'~');
            return false;
        }
        if (x2 == 0 || y1 == 0 || x2 == y1) return make(kSpellEditInsDelSub, x, L'~');
        return false;
    };
    // A letter missing from the typed text.
    auto insertion = [&]() {
        if (x1 != 0 && y2 != 0 && x1 != y2) return false;
        return make(kSpellEditInsDelSub, L'~', y);
    };

    bool found = false;
    if (x1 == y && y1 == x) {
        if (IsLowerLetter(x) && IsLowerLetter(y)) {
            found = (Agree(x2, y2) && Agree(x3, y3)) ? make(kSpellEditXpos, x, y) : deletion();
        } else if (IsUpperLetter(x) || !IsLowerLetter(x)) {
            // An upper-case letter at the difference is never a swap.
            found = false;
        } else {
            found = deletion();
        }
    } else if ((x1 == 0 && y1 == 0) || (x1 == y1 && Agree(x2, y2))) {
        found = make(kSpellEditInsDelSub, x, y);
    } else if (y1 != x) {
        if (x1 == y)
            found = deletion();
        else if (x1 == 0 || y1 == 0)
            found = make(kSpellEditInsDelSub, x, y);
        else if (x1 != y1)
            found = false;
        else if (x2 == 0 || Agree(x2, y2))
            found = make(kSpellEditInsDelSub, x, y);
        else
            found = (x == x1) ? insertion() : false;
    } else {
        found = insertion();
    }
    if (!found) return false;
    if (LetterIndex(edit.a) < 0 || LetterIndex(edit.b) < 0 || LetterIndex(edit.c) < 0) return false;
    *out = edit;
    return true;
}
