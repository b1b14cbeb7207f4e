// The cloud answer's way into the candidate list: wake-up socket, the
// current-input check and the insertion. fcitx main thread only.
#include "src/fcitx/cloud_road.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcitx/ui.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "src/engine/results.h"
#include "src/fcitx/addon_paths.h"
#include "src/fcitx/ime_text.h"

namespace n_fcitx {

size_t DrainWakeSocket(int fd) {
    size_t total = 0;
    char buffer[256];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            total += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return total;
    }
}

t_cloudPlace InsertCloudCandidate(const t_cloudInsertTarget& target,
                                  IVetraCoreResultElement* element) {
    FcitxCandidateWordList* list = target.list;
    if (!list || !element || !target.composition) return t_cloudPlace::none;
    const int count = FcitxCandidateWordGetListSize(list);
    // fcitx's array drops an insert past its end without a word: the record
    // and the string would be lost.
    if (count <= 0) return t_cloudPlace::none;
    const char* text = element->GetDisplayText();
    FcitxCandidateWord word = {};
    word.strWord = EncodeCandidateString(text, 1, "", target.panelMask);
    t_selectionRecord* record =
        NewSelectionRecord(-1, element, element->GetInputLength(), element->GetText());
    if (!word.strWord || !record) {
        free(word.strWord);
        free(record);
        return t_cloudPlace::none;
    }
    record->cloudElement = element;
    word.callback = target.commit;
    word.owner = target.owner;
    word.priv = record;

    t_composition& s = *target.composition;
    const std::string ordinary = EncodedCandidate(text, 0, "", target.panelMask);
    const int searched = std::min(count, 2 * std::max(1, FcitxCandidateWordGetPageSize(list)));
    for (int j = 0; j < searched && !ordinary.empty(); ++j) {
        FcitxCandidateWord* other = FcitxCandidateWordGetByTotalIndex(list, j);
        if (!other || !other->strWord || ordinary != other->strWord) continue;
        word.wordType = s.highlight == j ? MSG_CANDIATE_CURSOR : MSG_OTHER;
        s.cloudInserted = false;
        FcitxCandidateWordRemoveByIndex(list, j);
        FcitxCandidateWordInsert(list, &word, j);
        return t_cloudPlace::replaced;
    }

    word.wordType = s.highlight == 1 ? MSG_CANDIATE_CURSOR : MSG_OTHER;
    s.cloudInserted = true;
    if (s.highlight > 1 && s.highlight < count) {
        // The mark stays at its place: the word that moves onto it takes it.
        FcitxCandidateWordGetByTotalIndex(list, s.highlight)->wordType = MSG_OTHER;
        FcitxCandidateWordGetByTotalIndex(list, s.highlight - 1)->wordType = MSG_CANDIATE_CURSOR;
    } else if (s.highlight == 1) {
        const int page = std::min(count, std::max(1, FcitxCandidateWordGetPageSize(list)));
        for (int j = 0; j < page; ++j)
            FcitxCandidateWordGetByTotalIndex(list, j)->wordType = MSG_OTHER;
    }
    FcitxCandidateWordInsert(list, &word, std::min(1, count));
    return t_cloudPlace::inserted;
}

// ---------------------------------------------------------------- the road

t_cloudRoad::~t_cloudRoad() {
    ReleaseShown();
}

bool t_cloudRoad::OpenWakeChannel() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    for (int fd : pair) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    CloseReadEnd();
    if (m_writeEnd >= 0) close(m_writeEnd);
    m_readEnd = pair[0];
    m_writeEnd = pair[1];
    return true;
}

int t_cloudRoad::TakeWriteEnd() {
    return std::exchange(m_writeEnd, -1);
}

void t_cloudRoad::CloseReadEnd() {
    if (m_readEnd >= 0) close(m_readEnd);
    m_readEnd = -1;
}

void t_cloudRoad::NoteRefresh(uint32_t id, const char* input) {
    if (id == n_cloud::kNoRequestId || id == 0) return;
    const std::string text = input ? input : "";
    if (m_runFirst == 0 || text != m_input || id < m_runFirst) {
        m_input = text;
        m_runFirst = id;
    }
}

bool t_cloudRoad::Current(const n_cloud::t_cloudResultElement* answer) const {
    const uint32_t current = n_cloud::CloudRequestIds().Current();
    n_cloud::CVetraCoreCloudHelperDummy* helper = m_link.helper;
    if (!answer || !helper || current == 0 || current == n_cloud::kNoRequestId) return false;
    if (helper->GetRequestId() != current) return false;
    // Paging asks again for the same text, so an answer to an earlier id of
    // the same run still fits; one for another text never does.
    return m_runFirst != 0 && answer->requestId >= m_runFirst && answer->requestId <= current;
}

IVetraCoreResultElement* t_cloudRoad::ElementFor(const n_cloud::t_cloudResultElement* answer) {
    for (const auto& [from, element] : m_shown)
        if (from == answer) return element;
    n_engine::t_elementValues v;
    v.text = answer->text.data();
    v.textUnits = uint32_t(answer->text.size());
    if (answer->hasPinyin) {
        v.pinyin = answer->pinyin.data();
        v.pinyinCount = uint32_t(answer->pinyin.size());
    }
    if (!answer->inputEnds.empty()) {
        v.inputEnds = answer->inputEnds.data();
        v.inputEndCount = uint32_t(answer->inputEnds.size());
    }
    v.inputLength = answer->inputLength;
    IVetraCoreResultElement* element = n_engine::NewElementFromValues(v);
    if (element) m_shown.emplace_back(answer, element);
    return element;
}

bool t_cloudRoad::Insert(const n_cloud::t_cloudResultElement* answer) {
    IVetraCoreResultElement* element = ElementFor(answer);
    if (!element) return false;
    t_cloudInsertTarget target;
    target.list = m_link.list;
    target.composition = m_link.composition;
    target.commit = m_link.commit;
    target.owner = m_link.owner;
    target.panelMask = kPanelMask;
    if (InsertCloudCandidate(target, element) == t_cloudPlace::none) return false;
    if (m_link.instance) FcitxUIUpdateInputWindow(m_link.instance);
    return true;
}

bool t_cloudRoad::OnWake() {
    if (!m_link.helper || !m_link.composition || m_link.composition->highlightMoved) return false;
    std::lock_guard<std::mutex> lock(m_link.helper->ModuleMutex());
    const n_cloud::t_cloudResultElement* answer = m_link.helper->PendingResult();
    if (!m_link.helper->PendingFlag() || !Current(answer)) return false;
    m_link.helper->ClearPendingFlag();
    return Insert(answer);
}

bool t_cloudRoad::ReinsertWhilePaging() {
    if (!m_link.helper || !m_link.composition) return false;
    std::lock_guard<std::mutex> lock(m_link.helper->ModuleMutex());
    const n_cloud::t_cloudResultElement* answer = m_link.helper->PendingResult();
    return Current(answer) && Insert(answer);
}

void t_cloudRoad::ReleaseShown() {
    for (auto& entry : m_shown) entry.second->Release();
    m_shown.clear();
    m_input.clear();
    m_runFirst = 0;
}

t_cloudRoad& CloudRoad() {
    static auto* road = new t_cloudRoad;
    return *road;
}

}  // namespace n_fcitx
