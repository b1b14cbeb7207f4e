// The input method's composition logic without fcitx: key rules, the output
// string, segments, selections, commit and learning. The fcitx callbacks
// (vetra_ime.cpp) feed it keys and candidates through i_imeHost.
// fcitx main thread only (the dictionary saves it requests run elsewhere).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "src/engine/engine_iface.h"
#include "src/engine/punctuation.h"
#include "src/fcitx/ime_state.h"

// What the session asks of fcitx.
class i_imeHost {
public:
    virtual ~i_imeHost() = default;
    // Commits text to the current input context at once.
    virtual void CommitText(const char* text) = 0;
    // fcitx's output string (committed on IRV_COMMIT_STRING); never longer
    // than kFcitxOutputRoom - 1 bytes.
    virtual void SetOutputString(const char* text) = 0;
    virtual int PageSize() = 0;
    virtual int WindowSize() = 0;      // candidates on the current page
    virtual int CandidateCount() = 0;  // the whole list
    // Chooses candidate `index` of the current page as fcitx does; the
    // candidate's callback answer, IRV_TO_PROCESS when there is none.
    virtual int ChooseOnPage(int index) = 0;
};

// Dictionary saves requested by learning; they must not wait for the disk.
class i_dictSaver {
public:
    virtual ~i_dictSaver() = default;
    virtual void RequestSave() = 0;
};

// One key press as fcitx reports it.
struct t_keyEvent {
    uint32_t sym = 0;
    uint32_t state = 0;
    bool simple = false;    // a printable key without modifiers
    bool prevPage = false;  // matches the previous-page key
    bool nextPage = false;  // matches the next-page key
};

class t_imeSession {
public:
    t_imeSession();
    ~t_imeSession();
    t_imeSession(const t_imeSession&) = delete;
    t_imeSession& operator=(const t_imeSession&) = delete;

    void SetEngine(IVetraCoreEngine* engine) { m_engine = engine; }
    void SetSaver(i_dictSaver* saver) { m_saver = saver; }
    // The punctuation keys give; without it they go on to the application.
    void SetPunctuation(IVetraPunctuation* punctuation) { m_punctuation = punctuation; }
    t_sessionSettings& Settings() { return m_settings; }
    t_composition& State() { return *m_comp; }
    const t_composition& State() const { return *m_comp; }
    int32_t LearnCount() const { return m_learnCount; }

    // The key callback's rules; returns fcitx's input return flags.
    int DoInput(const t_keyEvent& key, i_imeHost& host);
    // The last key was a letter refused because the input is full.
    bool InputFull() const { return m_inputFull; }
    // The unconsumed input starts with the special mode's key (numbers,
    // dates, the calculator): digits and operators are input there.
    bool InSpecialMode() const;
    // The letter that opens the kernel's number mode ('v') or stroke mode
    // ('u'): its capital where the kernel reads shuangpin.
    char ModeLetter(char letter) const;

    // Records a chosen candidate (null: commit the composition as it is) and
    // commits once the input is used up: IRV_DISPLAY_CANDWORDS while input
    // is left, IRV_COMMIT_STRING with fcitx's output string set, or
    // IRV_CLEAN when the text was too long for it and went out directly.
    int CommitCandidate(const t_selectionRecord* chosen, i_imeHost& host);

    // The composition text: selections, then the unconsumed input along the
    // segments with `separator` between pieces (null: none). Returns the
    // cursor shift (bytes the text adds before the cursor).
    int BuildOutputString(const char* separator);
    const std::string& Output() const { return m_output; }

    // Learns what was committed; each learning also asks for a dictionary
    // save.
    void CommitAndLearn();

    // Clears the composition and releases the elements selections held.
    void Reset();

    // ---- steps of the candidate refresh ----
    const char* Unconsumed() const;
    bool UnconsumedHasDigit() const;
    // Segment ends from an element's input ends ({0, n} for a null element).
    void RebuildSegments(IVetraCoreResultElement* element);
    void SetCharacterSegments();  // 0, 1, ..., n - 1 (raw mode)
    // The first conversion's result (kept; the previous one released).
    void KeepFirstResult(IVetraCoreResult* result);
    // Fills the cursor-prefix record when the cursor lies inside the
    // unconsumed input behind the first syllable; true when it exists now.
    bool UpdateCursorPrefix();
    bool HasCursorPrefix() const { return m_prefixValid; }
    const t_selectionRecord* CursorPrefix() const { return m_prefixValid ? m_prefix : nullptr; }
    // The raw position the candidates are converted from.
    void UpdateConversionStart();

private:
    bool PrefixApplies() const;
    void PushSelection(const t_selectionRecord& record);
    void UndoSelection(bool alsoConversionStart);
    void Defer(IVetraCoreResultElement* element);
    int InsertChar(char c);
    int CommitOutput(i_imeHost& host);
    // Commits the composition (the highlighted candidate, else the typed
    // text) and then a punctuation mark; the mark alone without input.
    int CommitPunctuation(const std::string& text, int pageSize, i_imeHost& host);
    // Chooses the first candidate of the unconverted rest as CommitCandidate
    // does; IRV_TO_PROCESS when the rest converts to nothing.
    int ChooseFirstOfRest(i_imeHost& host);
    void AfterLearning();

    t_composition* m_comp;
    std::string m_output;
    IVetraCoreEngine* m_engine = nullptr;
    i_dictSaver* m_saver = nullptr;
    IVetraPunctuation* m_punctuation = nullptr;
    bool m_digitWentOut = false;  // the last key was a digit the application got
    bool m_inputFull = false;
    t_sessionSettings m_settings;
    int32_t m_learnCount = 0;  // never reset
    std::vector<IVetraCoreResultElement*> m_deferred;
    t_selectionRecord* m_prefix = nullptr;
    bool m_prefixValid = false;
    IVetraCoreResult* m_firstResult = nullptr;
};
