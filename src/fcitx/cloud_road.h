// The cloud answer's way into the candidate list: the wake-up socket pair the
// module addon watches, the check that an answer still belongs to the input
// shown, and its insertion at the second place or in place of its twin.
// fcitx main thread only (the worker reaches it only through the helper).
#pragma once

#include <fcitx/candidate.h>
#include <fcitx/instance.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "src/cloud/cloud_reply.h"
#include "src/fcitx/ime_state.h"

namespace n_fcitx {

// Reads a non-blocking descriptor until nothing is left (EAGAIN, end or an
// error); the bytes read. A readable wake-up socket left unread would make
// fcitx's select loop return at once forever.
size_t DrainWakeSocket(int fd);

// What an insertion needs of the input method.
struct t_cloudInsertTarget {
    FcitxCandidateWordList* list = nullptr;
    t_composition* composition = nullptr;  // highlight in, cloud-inserted out
    FcitxCandidateWordCommitCallback commit = nullptr;
    void* owner = nullptr;
    uint8_t panelMask = 0;
};

enum class t_cloudPlace { none, replaced, inserted };

// The answer as candidate (flag 1): in place of an ordinary candidate of
// the first two pages with the same text, else at place min(1, count) with
// the highlight mark kept where it was. An empty list gets nothing.
t_cloudPlace InsertCloudCandidate(const t_cloudInsertTarget& target,
                                  IVetraCoreResultElement* element);

// What the module addon reaches of the input method while it runs.
struct t_cloudImeLink {
    FcitxInstance* instance = nullptr;  // null: no input window to update
    FcitxCandidateWordList* list = nullptr;
    n_cloud::CVetraCoreCloudHelperDummy* helper = nullptr;
    t_composition* composition = nullptr;
    FcitxCandidateWordCommitCallback commit = nullptr;
    void* owner = nullptr;
};

class t_cloudRoad {
public:
    ~t_cloudRoad();

    // The module addon's socket pair, both ends non-blocking. The write end
    // goes to the helper (which closes it); the module closes the read end.
    bool OpenWakeChannel();
    int ReadEnd() const { return m_readEnd; }
    int TakeWriteEnd();  // -1 when none is left to hand over
    void CloseReadEnd();

    // The input method attaches at start-up and detaches at its end.
    void Attach(const t_cloudImeLink& link) { m_link = link; }
    void Detach() {
        ReleaseShown();
        m_link = t_cloudImeLink{};
    }

    // Each refresh that asks with `id` (0xFFFFFFFF: asks nothing) for the
    // converted text `input`: a new text starts a new run of ids, and only
    // answers to ids of the current run may be shown.
    void NoteRefresh(uint32_t id, const char* input);
    // The wake-up: drained by the caller; inserts a newly arrived answer
    // that still belongs to the input shown. True when something was shown.
    bool OnWake();
    // A refresh that moved the highlight shows the pending answer again.
    bool ReinsertWhilePaging();
    // A reset: the pending answers are gone, so are their candidates.
    void ReleaseShown();

private:
    bool Current(const n_cloud::t_cloudResultElement* answer) const;
    IVetraCoreResultElement* ElementFor(const n_cloud::t_cloudResultElement* answer);
    bool Insert(const n_cloud::t_cloudResultElement* answer);

    int m_readEnd = -1;
    int m_writeEnd = -1;
    t_cloudImeLink m_link;
    std::string m_input;      // the converted text of the current run
    uint32_t m_runFirst = 0;  // the run's first id
    std::vector<std::pair<const n_cloud::t_cloudResultElement*, IVetraCoreResultElement*>> m_shown;
};

t_cloudRoad& CloudRoad();  // process-wide, never destroyed

}  // namespace n_fcitx
