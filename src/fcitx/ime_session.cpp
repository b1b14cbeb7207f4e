// The input method's composition logic: key rules, output string, segments,
// selections, commit and learning. fcitx main thread only.
#include "src/fcitx/ime_session.h"

#include <fcitx-utils/keysym.h>
#include <fcitx/ime.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "src/fcitx/ime_text.h"

namespace {

bool IsLetter(uint32_t sym) {
    return (sym >= 'a' && sym <= 'z') || (sym >= 'A' && sym <= 'Z');
}
bool IsDigitKey(const t_keyEvent& key) {
    return key.state == 0 && key.sym >= '0' && key.sym <= '9';
}
bool IsKeypadDigit(uint32_t sym) {
    return sym >= FcitxKey_KP_0 && sym <= FcitxKey_KP_9;
}
bool IsModifierKey(uint32_t sym) {
    return sym >= FcitxKey_Shift_L && sym <= FcitxKey_Hyper_R;
}
bool Plain(const t_keyEvent& key, uint32_t sym) {
    return key.state == 0 && key.sym == sym;
}

// The keypad's operators and point as the main keyboard's keys; 0 for any
// other key.
uint32_t MainKeyOfKeypad(uint32_t sym) {
    switch (sym) {
        case FcitxKey_KP_Add:
            return '+';
        case FcitxKey_KP_Subtract:
            return '-';
        case FcitxKey_KP_Multiply:
            return '*';
        case FcitxKey_KP_Divide:
            return '/';
        case FcitxKey_KP_Decimal:
            return '.';
        default:
            return 0;
    }
}

// Byte length of the first n characters of a UTF-8 text.
size_t Utf8BytesOfChars(const char* text, uint32_t n) {
    size_t i = 0;
    for (uint32_t chars = 0; text[i] && chars <= n; ++i)
        if ((uint8_t(text[i]) & 0xC0) != 0x80 && chars++ == n) return i;
    return i;
}

}  // namespace

void FillSelectionRecord(t_selectionRecord* record, int32_t tag, IVetraCoreResultElement* element,
                         uint32_t coveredInput, const char* text) {
    memset(record, 0, sizeof *record);
    record->tag = tag;
    record->element = element;
    record->coveredInput = coveredInput;
    const size_t length = text ? strlen(text) : 0;
    const size_t kept = Utf8PrefixBelow(text, length, kSelectionTextRoom);
    if (kept) memcpy(record->text, text, kept);
    record->textBytes = uint32_t(kept);
}

t_selectionRecord* NewSelectionRecord(int32_t tag, IVetraCoreResultElement* element,
                                      uint32_t coveredInput, const char* text) {
    const size_t length = text ? strlen(text) : 0;
    const size_t kept = Utf8PrefixBelow(text, length, kSelectionTextRoom);
    auto* record = static_cast<t_selectionRecord*>(calloc(1, kSelectionHeaderBytes + kept + 1));
    if (!record) return nullptr;
    record->tag = tag;
    record->element = element;
    record->coveredInput = coveredInput;
    record->textBytes = uint32_t(kept);
    if (kept) memcpy(reinterpret_cast<char*>(record) + kSelectionHeaderBytes, text, kept);
    return record;
}

void CopySelectionRecord(t_selectionRecord* to, const t_selectionRecord& from) {
    const size_t bytes = std::min<size_t>(from.textBytes, kSelectionTextRoom - 1);
    memcpy(to, &from, kSelectionHeaderBytes);
    memcpy(to->text, reinterpret_cast<const char*>(&from) + kSelectionHeaderBytes, bytes);
    to->text[bytes] = '\0';
    to->textBytes = uint32_t(bytes);
}

t_imeSession::t_imeSession()
    : m_comp(static_cast<t_composition*>(calloc(1, sizeof(t_composition)))),
      m_prefix(static_cast<t_selectionRecord*>(calloc(1, sizeof(t_selectionRecord)))) {
    if (!m_comp || !m_prefix) abort();  // a quarter of a megabyte at start-up
}

t_imeSession::~t_imeSession() {
    for (IVetraCoreResultElement* e : m_deferred) e->Release();
    if (m_firstResult) m_firstResult->Release();
    free(m_prefix);
    free(m_comp);
}

// ---------------------------------------------------------------- keys

int t_imeSession::InsertChar(char c) {
    t_composition& s = *m_comp;
    if (s.rawLength >= kRawInputMax) {
        // Refused where the user sees it: the refresh shows the notice.
        m_inputFull = true;
        return IRV_DISPLAY_CANDWORDS;
    }
    s.cursor = std::clamp(s.cursor, 0, s.rawLength);
    memmove(s.raw + s.cursor + 1, s.raw + s.cursor, size_t(s.rawLength - s.cursor) + 1);
    s.raw[s.cursor] = c;
    ++s.rawLength;
    ++s.cursor;
    s.highlight = 0;
    return IRV_DISPLAY_CANDWORDS;
}

void t_imeSession::UndoSelection(bool alsoConversionStart) {
    t_composition& s = *m_comp;
    if (s.selectionCount <= 0) return;
    --s.selectionCount;
    const int32_t covered = int32_t(s.selections[s.selectionCount].coveredInput);
    s.consumed = std::max(0, s.consumed - covered);
    if (alsoConversionStart) s.conversionStart = std::max(0, s.conversionStart - covered);
    s.segCount = 0;
}

int t_imeSession::DoInput(const t_keyEvent& pressed, i_imeHost& host) {
    t_composition& s = *m_comp;
    s.highlightMoved = false;
    const int pageSize = std::max(1, host.PageSize());
    const bool hasRaw = s.rawLength > 0;
    // With a composition open the keypad's operators are typed as the main
    // keyboard's (input after "v", marks beside pinyin): handed on, they
    // would reach the application ahead of the composition.
    t_keyEvent key = pressed;
    if (hasRaw && key.state == 0 && MainKeyOfKeypad(key.sym) != 0) {
        key.sym = MainKeyOfKeypad(key.sym);
        key.simple = true;
    }
    const uint32_t sym = key.sym;
    const bool afterDigit = m_digitWentOut;
    m_digitWentOut = !hasRaw && (IsDigitKey(key) || IsKeypadDigit(sym));
    m_inputFull = false;
    // A letter on an empty composition types on where the last commit ended;
    // any other key (a move, an edit, a punctuation mark) ends the run.
    if (!hasRaw && m_engine && !IsModifierKey(sym))
        m_engine->SetContinuingInput(key.simple && IsLetter(sym));

    // Text keys: letters and the apostrophe always, digits and other
    // printable keys only where they cannot mean something else. In the
    // special mode (numbers, dates, the calculator) they are all text.
    if (key.simple || IsKeypadDigit(sym)) {
        bool text = false;
        char c = char(sym);
        const bool special = hasRaw && InSpecialMode();
        if (hasRaw) {
            if (IsDigitKey(key)) {
                text = special || int(sym - '0') > host.WindowSize() || sym == '0';
            } else if (IsKeypadDigit(sym)) {
                text = special || m_settings.keypadDigits;
                c = char('0' + (sym - FcitxKey_KP_0));
            } else {
                text = key.simple && sym != FcitxKey_space && (special || UnconsumedHasDigit());
            }
        }
        if (key.simple && IsLetter(sym)) return InsertChar(c);
        if (key.simple && sym == '\'' && hasRaw) return InsertChar('\'');
        if (text) return InsertChar(c);
        if (key.simple && sym == ';' && hasRaw && m_settings.shuangpin &&
            !m_settings.semicolonEmpty)
            return InsertChar(';');
    }

    const int last = std::max(0, host.CandidateCount() - 1);
    auto moved = [&](int highlight) {
        s.highlight = highlight;
        s.segCount = 0;
        s.highlightMoved = true;
        return IRV_DISPLAY_CANDWORDS;
    };
    if (hasRaw) {
        if (key.prevPage || Plain(key, FcitxKey_Page_Up) || Plain(key, FcitxKey_KP_Page_Up)) {
            const int h = std::max(0, s.highlight - pageSize);
            return moved(h - h % pageSize);
        }
        if (key.nextPage || Plain(key, FcitxKey_Page_Down) || Plain(key, FcitxKey_KP_Page_Down)) {
            const int h = std::min(s.highlight + pageSize, last);
            return moved(h - h % pageSize);
        }
        if (Plain(key, FcitxKey_Up) || Plain(key, FcitxKey_KP_Up))
            return moved(std::max(0, s.highlight - 1));
        if (Plain(key, FcitxKey_Down) || Plain(key, FcitxKey_KP_Down))
            return moved(std::min(s.highlight + 1, last));
    }
    if (IsDigitKey(key)) return IRV_TO_PROCESS;  // fcitx's choose keys take it

    if (key.simple && sym > FcitxKey_space && sym < 0x7F && !IsLetter(sym)) {
        // A point right after a digit that went out is a decimal point.
        if (!hasRaw && afterDigit && sym == '.' && m_punctuation &&
            m_punctuation->PointAfterDigitStays())
            return IRV_TO_PROCESS;
        std::string text = m_punctuation ? m_punctuation->GetPunctuation(sym) : std::string();
        // A key the map lacks still must not land ahead of the composition.
        if (text.empty() && hasRaw) text = std::string(1, char(sym));
        if (!text.empty()) return CommitPunctuation(text, pageSize, host);
    }

    if (Plain(key, FcitxKey_space)) {
        if (!hasRaw) return IRV_TO_PROCESS;
        const int chosen =
            host.CandidateCount() > 0 ? host.ChooseOnPage(s.highlight % pageSize) : IRV_TO_PROCESS;
        // Nothing to choose: the typed text goes out as it stands.
        return chosen != IRV_TO_PROCESS ? chosen : CommitCandidate(nullptr, host);
    }
    if (Plain(key, FcitxKey_Return) || Plain(key, FcitxKey_KP_Enter)) {
        if (!hasRaw) return IRV_TO_PROCESS;
        BuildOutputString(nullptr);
        host.CommitText(m_output.c_str());
        CommitAndLearn();
        return IRV_CLEAN;
    }
    if (Plain(key, FcitxKey_Delete)) {
        s.highlight = 0;
        if (s.cursor >= s.rawLength) return s.cursor != 0 ? IRV_DO_NOTHING : IRV_TO_PROCESS;
        memmove(s.raw + s.cursor, s.raw + s.cursor + 1, size_t(s.rawLength - s.cursor));
        --s.rawLength;
        s.segCount = 0;
        if (s.cursor == s.rawLength && s.selectionCount > 0) UndoSelection(true);
        return s.rawLength > 0 ? IRV_DISPLAY_CANDWORDS : IRV_CLEAN;
    }
    if (Plain(key, FcitxKey_BackSpace)) {
        s.highlight = 0;
        if (s.cursor <= 0) return IRV_TO_PROCESS;
        if (s.selectionCount == 0) {
            s.cursor = std::min(s.cursor, s.rawLength);
            memmove(s.raw + s.cursor - 1, s.raw + s.cursor, size_t(s.rawLength - s.cursor) + 1);
            --s.rawLength;
            --s.cursor;
            s.segCount = 0;
            s.conversionStart = s.consumed;
        } else {
            UndoSelection(true);
        }
        return s.rawLength > 0 ? IRV_DISPLAY_CANDWORDS : IRV_CLEAN;
    }
    if (!hasRaw) return IRV_TO_PROCESS;

    if (Plain(key, FcitxKey_Left)) {
        s.highlight = 0;
        if (s.cursor == 0) {
            s.cursor = s.rawLength;
        } else if (s.cursor == s.consumed && s.selectionCount > 0) {
            UndoSelection(true);
        } else {
            int target = -1;
            for (int k = std::min(s.segCount, kSegmentMax) - 1; k >= 0 && target < 0; --k)
                if (s.consumed + s.segEnds[k] < s.cursor) target = s.consumed + s.segEnds[k];
            s.cursor = target >= 0 ? target : s.cursor - 1;
        }
        return IRV_DISPLAY_CANDWORDS;
    }
    if (Plain(key, FcitxKey_Right)) {
        s.highlight = 0;
        if (++s.cursor > s.rawLength) s.cursor = s.consumed;
        return IRV_DISPLAY_CANDWORDS;
    }
    if (Plain(key, FcitxKey_Home)) {
        s.highlight = 0;
        if (s.cursor > s.consumed) {
            s.cursor = s.consumed;
        } else if (s.cursor == s.consumed && s.selectionCount > 0) {
            UndoSelection(false);
        } else {
            s.cursor = 0;
            s.consumed = 0;
        }
        return IRV_DISPLAY_CANDWORDS;
    }
    if (Plain(key, FcitxKey_End)) {
        s.highlight = 0;
        if (s.cursor == s.rawLength) return IRV_DO_NOTHING;
        s.cursor = s.rawLength;
        return IRV_DISPLAY_CANDWORDS;
    }
    const bool ctrlOnly = key.state == FcitxKeyState_Ctrl;
    if (ctrlOnly && (sym == 'C' || sym == 'c' || sym == 'V' || sym == 'v')) return IRV_DO_NOTHING;
    if (sym == FcitxKey_Tab || sym == FcitxKey_ISO_Left_Tab) return IRV_DO_NOTHING;
    return IRV_TO_PROCESS;
}

int t_imeSession::CommitPunctuation(const std::string& text, int pageSize, i_imeHost& host) {
    t_composition& s = *m_comp;
    if (s.rawLength == 0) {
        host.CommitText(text.c_str());
        return IRV_DO_NOTHING;
    }
    // The composition goes out first, as Space would send it, then the mark.
    int chosen =
        host.CandidateCount() > 0 ? host.ChooseOnPage(s.highlight % pageSize) : IRV_TO_PROCESS;
    // A choice that left input behind: the rest is converted and its first
    // candidate chosen, as further Spaces would, until the input is used up.
    bool chained = false;
    for (int round = 0; chosen == IRV_DISPLAY_CANDWORDS && round <= kSelectionMax; ++round) {
        chosen = ChooseFirstOfRest(host);
        chained = true;
    }
    if (chosen == IRV_CLEAN) {  // the composition went out directly
        host.CommitText(text.c_str());
        return IRV_CLEAN;
    }
    if (chosen != IRV_COMMIT_STRING) {
        BuildOutputString(nullptr);
        if (chained) {
            // Input the conversion could not take goes out as typed.
            if (s.conversionStart < s.rawLength) m_output.append(s.raw + s.conversionStart);
            CommitAndLearn();
        }
    }
    m_output += text;
    return CommitOutput(host);
}

int t_imeSession::ChooseFirstOfRest(i_imeHost& host) {
    const t_composition& s = *m_comp;
    if (!m_engine || s.conversionStart >= s.rawLength) return IRV_TO_PROCESS;
    uint8_t cloudAsked = 0;
    IVetraCoreResult* result =
        m_engine->Convert(s.raw + std::max(0, s.conversionStart), 0xFFFFFFFFu, &cloudAsked, 1);
    IVetraCoreResultElement* first = result ? result->GetElement(0) : nullptr;
    int answer = IRV_TO_PROCESS;
    // A candidate that covers nothing would never use the input up.
    if (first && first->GetInputLength() > 0) {
        if (t_selectionRecord* record =
                NewSelectionRecord(0, first, first->GetInputLength(), first->GetText())) {
            answer = CommitCandidate(record, host);
            free(record);
        }
    }
    if (result) result->Release();
    return answer;
}

bool t_imeSession::InSpecialMode() const {
    return *Unconsumed() == ModeLetter('v');
}

char t_imeSession::ModeLetter(char letter) const {
    // The kernel's switch decides, not the front end's: under shuangpin the
    // kernel reads v as a key of the scheme (小鹤's zh), whatever this side
    // is told.
    const bool capital = m_punctuation && m_punctuation->ReadsShuangPin();
    return capital ? char(letter - 'a' + 'A') : letter;
}

// ---------------------------------------------------------------- output string

int t_imeSession::BuildOutputString(const char* separator) {
    const t_composition& s = *m_comp;
    m_output.clear();
    int shift = 0;
    for (int i = 0; i < s.selectionCount; ++i) {
        const t_selectionRecord& r = s.selections[i];
        const uint32_t bytes = std::min<uint32_t>(r.textBytes, uint32_t(kSelectionTextRoom - 1));
        m_output.append(r.text, bytes);
        shift += int(bytes) - int(r.coveredInput);
    }
    const int rawLength = std::clamp(s.rawLength, 0, kRawInputMax);
    auto at = [&](int32_t segmentEnd) { return std::clamp(s.consumed + segmentEnd, 0, rawLength); };
    const bool separate = separator && *separator;
    const int segCount = std::clamp(s.segCount, 0, kSegmentMax);
    int pieceEnd = -1;
    for (int k = 0; k + 1 < segCount; ++k) {
        const int from = at(s.segEnds[k]), to = std::max(from, at(s.segEnds[k + 1]));
        m_output.append(s.raw + from, size_t(to - from));
        pieceEnd = to;
        const bool lastPiece = k + 2 >= segCount;
        if (!lastPiece && separate && !(to > from && s.raw[to - 1] == '\'')) {
            m_output.append(separator);
            if (to < s.cursor) ++shift;
        }
    }
    const int tail = pieceEnd >= 0 ? pieceEnd : 0;
    if (tail < rawLength && tail >= s.consumed) {
        const bool preceded = pieceEnd >= 0 || s.selectionCount > 0;
        if (separate && preceded && tail > 0 && s.raw[tail - 1] != '\'') {
            m_output.append(separator);
            if (tail < s.cursor) ++shift;
        }
        m_output.append(s.raw + tail, size_t(rawLength - tail));
    }
    return shift;
}

// ---------------------------------------------------------------- segments

const char* t_imeSession::Unconsumed() const {
    return m_comp->raw + std::clamp(m_comp->consumed, 0, m_comp->rawLength);
}

bool t_imeSession::UnconsumedHasDigit() const {
    for (const char* p = Unconsumed(); *p; ++p)
        if (*p >= '0' && *p <= '9') return true;
    return false;
}

void t_imeSession::RebuildSegments(IVetraCoreResultElement* element) {
    t_composition& s = *m_comp;
    const int32_t rest = int32_t(strlen(Unconsumed()));
    s.segEnds[0] = 0;
    s.segCount = 1;
    if (!element) {
        s.segEnds[s.segCount++] = rest;
        return;
    }
    if (element->GetInputEnd(0) < 0) {
        s.segEnds[s.segCount++] = int32_t(element->GetInputLength());
        return;
    }
    for (int32_t i = 0; s.segCount < kSegmentMax; ++i) {
        const int32_t end = element->GetInputEnd(i);
        if (end < 0) break;
        s.segEnds[s.segCount++] = end;
    }
}

void t_imeSession::SetCharacterSegments() {
    t_composition& s = *m_comp;
    const int32_t rest = int32_t(strlen(Unconsumed()));
    s.segCount = std::min(rest, int32_t(kSegmentMax));
    for (int32_t i = 0; i < s.segCount; ++i) s.segEnds[i] = i;
}

void t_imeSession::KeepFirstResult(IVetraCoreResult* result) {
    if (!result) return;
    if (m_firstResult) m_firstResult->Release();
    m_firstResult = result;
    m_comp->rawLengthAtConversion = m_comp->rawLength;
}

bool t_imeSession::PrefixApplies() const {
    const t_composition& s = *m_comp;
    IVetraCoreResultElement* first = m_firstResult ? m_firstResult->GetElement(0) : nullptr;
    if (!first) return false;
    const int32_t firstEnd = first->GetInputEnd(0);
    return firstEnd >= 0 && s.cursor < s.rawLength && s.cursor >= s.consumed + firstEnd;
}

bool t_imeSession::UpdateCursorPrefix() {
    m_prefixValid = false;
    if (!PrefixApplies()) return false;
    const t_composition& s = *m_comp;
    IVetraCoreResultElement* first = m_firstResult->GetElement(0);
    uint32_t kept = 0;
    int32_t covered = 0;
    const uint32_t ends = first->GetInputEndCount();
    for (uint32_t i = 0; i < ends; ++i) {
        const int32_t end = first->GetInputEnd(int32_t(i));
        if (end < 0 || s.consumed + end > s.cursor) break;
        kept = i + 1;
        covered = end;
    }
    const char* text = first->GetText();
    if (kept == 0 || !text) return false;
    const std::string keptText(text, Utf8BytesOfChars(text, kept));
    FillSelectionRecord(m_prefix, 1, first, uint32_t(covered), keptText.c_str());
    m_prefix->keptChars = kept;
    m_prefixValid = true;
    return true;
}

void t_imeSession::UpdateConversionStart() {
    t_composition& s = *m_comp;
    if (s.cursor >= s.rawLength) {
        s.conversionStart = s.consumed;
        return;
    }
    for (int k = std::min(s.segCount, kSegmentMax) - 1; k >= 0; --k)
        if (s.consumed + s.segEnds[k] <= s.cursor) {
            s.conversionStart = s.consumed + s.segEnds[k];
            return;
        }
}

// ---------------------------------------------------------------- commit

void t_imeSession::Defer(IVetraCoreResultElement* element) {
    if (!element) return;
    element->AddRef();
    m_deferred.push_back(element);
}

void t_imeSession::PushSelection(const t_selectionRecord& record) {
    t_composition& s = *m_comp;
    if (s.selectionCount > kSelectionMax) return;  // the spare slot is in use: never past it
    CopySelectionRecord(&s.selections[s.selectionCount++], record);
    Defer(record.element);
}

int t_imeSession::CommitOutput(i_imeHost& host) {
    if (m_output.size() < kFcitxOutputRoom) {
        host.SetOutputString(m_output.c_str());
        return IRV_COMMIT_STRING;
    }
    // Too long for fcitx's output string: the whole text goes out directly.
    host.CommitText(m_output.c_str());
    host.SetOutputString("");
    return IRV_CLEAN;
}

int t_imeSession::CommitCandidate(const t_selectionRecord* chosen, i_imeHost& host) {
    t_composition& s = *m_comp;
    if (!chosen) {
        BuildOutputString(nullptr);
        return CommitOutput(host);
    }
    // At 63 selections the prefix and the chosen record take the last slot
    // and the spare one; the selection count then forces the commit.
    if (chosen->tag != 0 && m_prefixValid && PrefixApplies()) PushSelection(*m_prefix);
    PushSelection(*chosen);
    s.conversionStart = std::min(s.rawLength, s.conversionStart + int32_t(chosen->coveredInput));
    if (s.conversionStart > s.cursor) s.cursor = s.conversionStart;
    s.consumed = s.conversionStart;
    s.segCount = 0;
    s.highlight = 0;
    if (s.selectionCount < kSelectionMax && s.conversionStart < s.rawLength)
        return IRV_DISPLAY_CANDWORDS;

    BuildOutputString(nullptr);
    // A forced commit with input left commits those letters too.
    if (s.conversionStart < s.rawLength) m_output.append(s.raw + s.conversionStart);
    if (s.rawLength > 0) CommitAndLearn();
    return CommitOutput(host);
}

// ---------------------------------------------------------------- learning

void t_imeSession::AfterLearning() {
    ++m_learnCount;
    if (m_saver) m_saver->RequestSave();
}

void t_imeSession::CommitAndLearn() {
    if (!m_engine) return;
    IVetraCoreWordBuffer* buffer = m_engine->CreateWordBuffer();
    if (!buffer) return;
    const t_composition& s = *m_comp;
    // Nor is a Latin choice (an English candidate) beside Chinese ones; a
    // single candidate that mixes them (a word such as "T恤") is.
    bool latin = false, chinese = false;
    for (int i = 0; i < s.selectionCount; ++i) {
        if (!s.selections[i].element) continue;
        bool letters = false, wide = false;
        for (const char* p = s.selections[i].text; *p; ++p) {
            letters = letters || IsLetter(uint8_t(*p));
            wide = wide || uint8_t(*p) >= 0x80;
        }
        latin = latin || (letters && !wide);
        chinese = chinese || wide;
    }
    if (latin && chinese) {
        buffer->Release();
        return;
    }
    int appended = 0;
    for (int i = 0; i < s.selectionCount; ++i) {
        IVetraCoreResultElement* element = s.selections[i].element;
        if (!element) continue;
        if (s.selections[i].keptChars != 0) element->Truncate(s.selections[i].keptChars);
        if (buffer->Append(element)) ++appended;
    }
    const bool rawLeft = s.conversionStart >= 0 && s.conversionStart < s.rawLength;
    if (appended > 0) {
        // Letters left unconverted behind the chosen words are no part of
        // a word: learned with them, they would stand first next time.
        m_engine->LearnWord(buffer);
        AfterLearning();
    } else if (rawLeft) {
        m_engine->LearnEnglishWord(s.raw + s.conversionStart);
        AfterLearning();
    }
    buffer->Release();
}

void t_imeSession::Reset() {
    for (IVetraCoreResultElement* e : m_deferred) e->Release();
    m_deferred.clear();
    memset(m_comp, 0, sizeof *m_comp);
    m_output.clear();
    m_prefixValid = false;
    m_inputFull = false;
}
