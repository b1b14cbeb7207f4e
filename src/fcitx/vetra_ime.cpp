// The input method fcitx loads: its state record, start-up, the callbacks
// around the keys (init, reset, close, reload), the candidate refresh and the
// candidates' commit callback. The composition logic itself is t_imeSession.
// fcitx main thread only; dictionary saves run on the save worker.
#include <errno.h>
#include <fcntl.h>
#include <libintl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include <fcitx-config/hotkey.h>
#include <fcitx-utils/log.h>
#include <fcitx/candidate.h>
#include <fcitx/context.h>
#include <fcitx/fcitx.h>
#include <fcitx/frontend.h>
#include <fcitx/hook.h>
#include <fcitx/ime.h>
#include <fcitx/instance.h>

#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"
#include "src/cloud/cloud_reply.h"
#include "src/engine/engine_iface.h"
#include "src/engine/start_folders.h"
#include "src/fcitx/addon_paths.h"
#include "src/fcitx/cloud_road.h"
#include "src/fcitx/dbus_service.h"
#include "src/fcitx/end_signal.h"
#include "src/fcitx/front_settings.h"
#include "src/fcitx/ime_session.h"
#include "src/fcitx/ime_text.h"
#include "src/fcitx/panel_link.h"
#include "src/fcitx/save_worker.h"
#include "src/fcitx/serialized_engine.h"
#include "userenv/env_store.h"

namespace n_fcitx {
namespace {

constexpr uint32_t kNoRequest = 0xFFFFFFFFu;
constexpr const char* kBuildDate = "Aug 22 2019 07:35:33";
constexpr const char* kChooseKeys = "1234567890";
// A learning is on disk at the latest this long (plus the write) after it:
// saves asked for meanwhile join it, so quick typing costs few saves, and a
// killed fcitx loses at most these last seconds.
constexpr std::chrono::milliseconds kSaveDeadline(1500);
// How often the input method looks for SIGTERM when the module addon, which
// would wake at once, is disabled.
constexpr long kEndSignalPollMs = 250;

// Learnings ask for saves; the save itself runs on the worker, through the
// serialized engine, which holds its lock only to copy and to finish: a
// commit only posts it, and a keystroke never waits for the write.
class t_workerSaver final : public i_dictSaver {
public:
    explicit t_workerSaver(t_serializedEngine* engine) : m_engine(engine) {}
    void RequestSave() override { Post(false); }
    // Starts the save without the deadline's wait; returns at once.
    void SaveNow() { Post(true); }
    // SaveNow, and the process waiting on the FIFO at `fifo` is told once a
    // save that started after this call is done.
    void SaveNowAndSignal(const std::string& fifo) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_fifo = fifo;
        }
        Post(true);
    }
    // SaveNow, then the kernel takes up its settings and files again.
    void SaveNowAndReload() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reload = true;
        }
        Post(true);
    }
    void Drain() { m_worker.Drain(); }

private:
    void Post(bool now) {
        // Every job is the same: one that supersedes another takes over
        // what it was asked to do after the save.
        m_worker.Post([this] { Save(); }, now);
    }
    void Save() {
        std::string fifo;
        bool reload;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            fifo.swap(m_fifo);
            reload = std::exchange(m_reload, false);
        }
        m_engine->SaveDictsInSteps();
        if (!fifo.empty()) SignalSyncFifo(fifo.c_str());
        if (reload) {
            m_engine->StartKernel();
            m_engine->ReloadExtDict();
            m_engine->NotifyAbbrUsrDictChanged();
        }
    }

    t_serializedEngine* m_engine;
    std::mutex m_mutex;
    std::string m_fifo;  // to be told after the next save; empty: nobody
    bool m_reload = false;
    t_saveWorker m_worker{kSaveDeadline};  // last: joined before the rest goes
};

// The engine as a plain settings reload sees it: the save and the kernel's
// reload (its settings, key map and changed files: tens of milliseconds)
// run on the save worker after each other, so that fcitx's main thread
// never holds a keystroke up for them; a key waits at most for one of the
// kernel's steps. A save request's FIFO is told after the save.
class t_reloadEngine {
public:
    t_reloadEngine(t_workerSaver& saver, std::string fifo)
        : m_saver(saver), m_fifo(std::move(fifo)) {}
    bool SaveDicts() { return true; }  // part of the reload below
    bool SaveUsrDict() {
        m_saver.SaveNowAndSignal(m_fifo);
        return true;
    }
    bool StartKernel() {
        m_saver.SaveNowAndReload();
        return true;
    }
    bool ReloadExtDict() { return true; }             // part of StartKernel's
    bool NotifyAbbrUsrDictChanged() { return true; }  // part of StartKernel's
    // Only asked for by a restore or a rebuild, which this view never runs.
    bool NotifyUsrDictV3Changed() { return false; }
    bool NotifyUsrDictExtChanged() { return false; }

private:
    t_workerSaver& m_saver;
    std::string m_fifo;
};

// The state record; one per process.
struct FcitxVetraPinyin {
    FcitxInstance* instance = nullptr;
    IVetraCoreEngine* engine = nullptr;  // the serialized engine
    std::unique_ptr<t_serializedEngine> serialized;
    std::unique_ptr<n_cloud::CVetraCoreCloudHelperDummy> helper;
    bool panelPresent = false;
    t_switchHotkey hotkey;
    n_fcitx::t_imeSettings settings;
    t_imeSession session;
    std::unique_ptr<t_workerSaver> saver;
    IVetraCoreResult* shown = nullptr;         // the result the candidates refer to
    std::unique_ptr<t_vetraDBusService> dbus;  // last: unregistered first when the state goes
};

FcitxVetraPinyin* g_state = nullptr;

void ApplySettings(FcitxVetraPinyin* st) {
    t_sessionSettings& s = st->session.Settings();
    s.englishRetain = st->settings.englishRetain != 0;
    s.keypadDigits = st->settings.keypadDigits != 0;
    s.shuangpin = st->settings.shuangPin != 0;
    s.shuangpinHint = st->settings.shuangPinHint != 0;
    s.semicolonEmpty = st->settings.semicolonIsEmpty != 0;
}

// fcitx's side of the session's requests.
class t_fcitxHost final : public i_imeHost {
public:
    explicit t_fcitxHost(FcitxInstance* instance)
        : m_instance(instance),
          m_input(FcitxInstanceGetInputState(instance)),
          m_list(FcitxInputStateGetCandidateList(m_input)) {}
    void CommitText(const char* text) override {
        if (FcitxInputContext* ic = FcitxInstanceGetCurrentIC(m_instance))
            FcitxInstanceCommitString(m_instance, ic, text);
    }
    void SetOutputString(const char* text) override {
        char* out = FcitxInputStateGetOutputString(m_input);
        const size_t n = Utf8PrefixBelow(text, strlen(text), kFcitxOutputRoom);
        memcpy(out, text, n);
        out[n] = '\0';
    }
    int PageSize() override { return FcitxCandidateWordGetPageSize(m_list); }
    int WindowSize() override { return FcitxCandidateWordGetCurrentWindowSize(m_list); }
    int CandidateCount() override { return FcitxCandidateWordGetListSize(m_list); }
    int ChooseOnPage(int index) override { return FcitxCandidateWordChooseByIndex(m_list, index); }

private:
    FcitxInstance* m_instance;
    FcitxInputState* m_input;
    FcitxCandidateWordList* m_list;
};

// A message cut below fcitx's room on a character boundary (a cut inside a
// character makes the D-Bus UIs drop the whole string).
void AddMessage(FcitxMessages* messages, const std::string& text) {
    const size_t n = Utf8PrefixBelow(text.c_str(), text.size(), kMessageRoom);
    FcitxMessagesAddMessageAtLast(messages, MSG_INPUT, "%s", text.substr(0, n).c_str());
}

int CursorInMessage(const std::string& text, int position) {
    const int room = int(Utf8PrefixBelow(text.c_str(), text.size(), kMessageRoom));
    return std::clamp(position, 0, room);
}

void SetRawInput(FcitxInputState* input, const t_composition& s) {
    char* raw = FcitxInputStateGetRawInputBuffer(input);
    memcpy(raw, s.raw, size_t(s.rawLength));
    raw[s.rawLength] = '\0';
    FcitxInputStateSetRawInputBufferSize(input, s.rawLength);
    FcitxInputStateSetShowCursor(input, true);
}

INPUT_RETURN_VALUE CommitCandidate(void* arg, FcitxCandidateWord* word) {
    auto* st = static_cast<FcitxVetraPinyin*>(arg);
    t_fcitxHost host(st->instance);
    return INPUT_RETURN_VALUE(st->session.CommitCandidate(
        word ? static_cast<const t_selectionRecord*>(word->priv) : nullptr, host));
}

bool AppendCandidate(FcitxVetraPinyin* st, FcitxCandidateWordList* list, t_selectionRecord* record,
                     const char* shownText, const char* extra, bool highlighted) {
    FcitxCandidateWord word = {};
    word.strWord = EncodeCandidateString(shownText, 0, extra, kPanelMask);
    if (!word.strWord || !record) {
        free(word.strWord);
        free(record);
        return false;
    }
    word.callback = CommitCandidate;
    word.wordType = highlighted ? MSG_CANDIATE_CURSOR : MSG_OTHER;
    word.owner = st;
    word.priv = record;
    FcitxCandidateWordAppend(list, &word);
    return true;
}

void FillCandidates(FcitxVetraPinyin* st) {
    FcitxInstance* instance = st->instance;
    FcitxInputState* input = FcitxInstanceGetInputState(instance);
    FcitxCandidateWordList* list = FcitxInputStateGetCandidateList(input);
    t_imeSession& session = st->session;
    t_composition& s = session.State();
    FcitxInstanceCleanInputWindow(instance);
    if (session.InputFull())
        FcitxMessagesAddMessageAtLast(FcitxInputStateGetAuxUp(input), MSG_TIPS, "%s",
                                      dgettext(kTextDomain, "Input is full: 64 letters at most"));

    // Digits typed: the letters stay letters, nothing is converted (but for
    // the special mode, whose candidates are made of digits).
    if (session.UnconsumedHasDigit() && !session.InSpecialMode()) {
        if (st->helper) st->helper->SetRequestId(kNoRequest);  // a late answer has nothing to join
        if (s.rawLength > 0) {
            const int shift = session.BuildOutputString(nullptr);
            const std::string text = session.Output();
            AddMessage(FcitxInputStateGetPreedit(input), text);
            FcitxInputStateSetCursorPos(input, CursorInMessage(text, s.cursor + shift));
            FcitxInputStateSetClientCursorPos(input, 0);
            SetRawInput(input, s);
        }
        session.SetCharacterSegments();
        return;
    }

    const uint8_t mode = s.selectionCount > 0 ? 1 : 0;
    uint8_t cloudAsked = 0;
    if (st->helper) st->helper->SetRequestId(kNoRequest);
    if (IVetraCoreResult* first =
            st->engine->Convert(session.Unconsumed(), kNoRequest, &cloudAsked, mode)) {
        const bool atEdge = s.cursor == s.rawLength || s.cursor == 0;
        IVetraCoreResultElement* element = atEdge ? first->GetElement(s.highlight) : nullptr;
        session.RebuildSegments(element ? element : first->GetElement(0));
        session.KeepFirstResult(first);
    } else {
        session.RebuildSegments(nullptr);
    }
    session.UpdateCursorPrefix();
    session.UpdateConversionStart();

    uint32_t requestId = kNoRequest;
    if (st->panelPresent) requestId = n_cloud::CloudRequestIds().Next();
    if (st->helper) st->helper->SetRequestId(requestId);
    const char* converted = s.raw + std::clamp(s.conversionStart, 0, s.rawLength);
    IVetraCoreResult* result = st->engine->Convert(converted, requestId, &cloudAsked, mode);
    CloudRoad().NoteRefresh(requestId, converted);

    const int pageSize = std::max(1, FcitxCandidateWordGetPageSize(list));
    if (result && st->panelPresent) {
        const t_selectionRecord* prefix = session.CursorPrefix();
        for (int32_t i = 0; i < result->GetCount(); ++i) {
            IVetraCoreResultElement* e = result->GetElement(i);
            if (!e) continue;
            const char* extra = prefix && i % pageSize == 0 ? prefix->text : "";
            AppendCandidate(
                st, list,
                NewSelectionRecord(prefix ? i + 1 : i, e, e->GetInputLength(), e->GetText()),
                e->GetDisplayText(), extra, i == s.highlight);
        }
        if (st->shown) st->shown->Release();
        st->shown = result;
    } else if (result) {
        result->Release();
    }

    if (FcitxCandidateWordGetListSize(list) == 0) {
        if (!st->panelPresent) st->panelPresent = IsImepanelPresent();
        if (!st->panelPresent) {
            NotifyImepanelWatchdog();
            ClearImepanelWatchdog();
        } else if (!(strcmp(converted, "u") == 0 ||
                     (converted[0] == session.ModeLetter('u') && !converted[1]))) {
            // The letters themselves stand as the one candidate.
            const char* text = strcmp(converted, "v") == 0 ? "〔〕" : converted;
            AppendCandidate(st, list,
                            NewSelectionRecord(0, nullptr, uint32_t(strlen(converted)), text), text,
                            "", s.highlight == 0);
        }
    }
    if (cloudAsked && s.highlightMoved) CloudRoad().ReinsertWhilePaging();
    if (s.highlight < FcitxCandidateWordGetListSize(list))
        FcitxCandidateWordSetFocus(list, s.highlight);

    if (s.cursor == s.rawLength || s.cursor == 0) {
        FcitxCandidateWord* word = FcitxCandidateWordGetByTotalIndex(list, s.highlight);
        const auto* record = word ? static_cast<const t_selectionRecord*>(word->priv) : nullptr;
        session.RebuildSegments(record ? record->element : nullptr);
    }

    if (s.rawLength > 0) {
        const int shift = session.BuildOutputString("'");
        std::string preedit = session.Output();
        const t_sessionSettings& settings = session.Settings();
        FcitxCandidateWord* word = FcitxCandidateWordGetByTotalIndex(list, s.highlight);
        const auto* record = word ? static_cast<const t_selectionRecord*>(word->priv) : nullptr;
        if (settings.shuangpin && settings.shuangpinHint &&
            converted[0] != session.ModeLetter('u') && record && record->element) {
            if (char* pinyin = record->element->GetPinyinText()) {
                if (strcmp(pinyin, "[]") != 0) {
                    for (int i = 0; i < 3; ++i) preedit += "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";
                    preedit += "<font style='color:#fc7905'>";
                    preedit += pinyin;
                    preedit += "</font>";
                }
                free(pinyin);
            }
        }
        AddMessage(FcitxInputStateGetPreedit(input), preedit);
        FcitxInputStateSetCursorPos(input, CursorInMessage(preedit, s.cursor + shift));
        FcitxInputStateSetClientCursorPos(input, 0);
        session.BuildOutputString(nullptr);
        AddMessage(FcitxInputStateGetClientPreedit(input), session.Output());
    }
    SetRawInput(input, s);
}

// ---------------------------------------------------------------- callbacks

boolean FcitxVetraInit(void* arg) {
    auto* st = static_cast<FcitxVetraPinyin*>(arg);
    FcitxInstance* instance = st->instance;
    boolean yes = true, no = false;
    FcitxInstanceSetContext(instance, CONTEXT_IM_KEYBOARD_LAYOUT, "us");
    FcitxInstanceSetContext(instance, CONTEXT_DISABLE_QUICKPHRASE, &yes);
    FcitxInstanceSetContext(instance, CONTEXT_DISABLE_AUTOENG, &yes);
    FcitxInstanceSetContext(instance, CONTEXT_DISABLE_PUNC, &yes);
    FcitxInstanceSetContext(instance, CONTEXT_SHOW_REMIND_STATUS, &no);
    st->panelPresent = IsImepanelPresent();
    FcitxInputContext* ic = FcitxInstanceGetCurrentIC(instance);
    if (ic && FcitxInstanceGetCurrentState(instance) == IS_ACTIVE) dbus_setVetraImeVisible(1);
    return ic != nullptr;
}

// Typing elsewhere is not a continuation of the last commit. fcitx keeps
// the hook after the input method is destroyed: only the live one is used.
void EndTypingRun(void* arg) {
    auto* st = static_cast<FcitxVetraPinyin*>(arg);
    if (st == g_state && st->engine) st->engine->SetContinuingInput(false);
}

void FcitxVetraInputMethodReset(void* arg) {
    auto* st = static_cast<FcitxVetraPinyin*>(arg);
    st->session.Reset();
    n_cloud::CloudRequestIds().Reset();
    if (st->helper) st->helper->ReleasePending();
    CloudRoad().ReleaseShown();
    if (!FcitxInstanceGetCurrentIC(st->instance)) return;
    if (FcitxInstanceGetCurrentState(st->instance) == IS_ACTIVE) {
        FcitxLog(DEBUG, "Enter FcitxvetraInputMethodReset IS_ACTIVE");
        dbus_setVetraImeVisible(1);
    } else {
        FcitxLog(DEBUG, "Enter FcitxvetraInputMethodReset IS_INACTIVE");
        dbus_setVetraImeVisible(0);
    }
}

INPUT_RETURN_VALUE FcitxVetraDoInput(void* arg, FcitxKeySym sym, unsigned int state) {
    auto* st = static_cast<FcitxVetraPinyin*>(arg);
    FcitxInstance* instance = st->instance;
    FcitxInputState* input = FcitxInstanceGetInputState(instance);
    FcitxCandidateWordList* list = FcitxInputStateGetCandidateList(input);
    FcitxCandidateWordSetChoose(list, kChooseKeys);
    FcitxGlobalConfig* config = FcitxInstanceGetGlobalConfig(instance);
    t_keyEvent key;
    key.sym = uint32_t(sym);
    key.state = state;
    key.simple = FcitxHotkeyIsHotKeySimple(sym, state);
    key.prevPage = FcitxHotkeyIsHotKey(sym, state, FcitxConfigPrevPageKey(instance, config));
    key.nextPage = FcitxHotkeyIsHotKey(sym, state, FcitxConfigNextPageKey(instance, config));
    t_fcitxHost host(instance);
    return INPUT_RETURN_VALUE(st->session.DoInput(key, host));
}

INPUT_RETURN_VALUE FcitxVetraGetCandWords(void* arg) {
    auto* st = static_cast<FcitxVetraPinyin*>(arg);
    FcitxInputState* input = FcitxInstanceGetInputState(st->instance);
    FcitxCandidateWordList* list = FcitxInputStateGetCandidateList(input);
    FcitxCandidateWordSetPageSize(list, FcitxInstanceGetGlobalConfig(st->instance)->iMaxCandWord);
    FcitxCandidateWordSetChoose(list, kChooseKeys);
    FillCandidates(st);
    return st->session.State().rawLength > 0 ? IRV_DISPLAY_CANDWORDS : IRV_CLEAN;
}

boolean FcitxVetraPhraseTips(void*) {
    return false;
}
void FcitxVetraSave(void*) {}
INPUT_RETURN_VALUE FcitxVetraKeyBlocker(void*, FcitxKeySym, unsigned int) {
    return IRV_TO_PROCESS;
}
void FcitxVetraUpdateSurroundingText(void*) {}
INPUT_RETURN_VALUE FcitxVetraDoReleaseInput(void*, FcitxKeySym, unsigned int) {
    return IRV_TO_PROCESS;
}

void FcitxVetraReloadConfig(void* arg) {
    auto* st = static_cast<FcitxVetraPinyin*>(arg);
    const std::string ini = GetSettingsIniPath();
    if (IniGetBool(ini, kRestoreRequest, 0) || IniGetBool(ini, kRebuildRequest, 0)) {
        // A restored or rebuilt dictionary is taken up from disk at once,
        // after the saves asked for by learning have landed.
        st->saver->Drain();
        ReloadFrontSettings(*st->engine, ini, SyncFifoPath(), &st->settings, &st->hotkey);
    } else {
        t_reloadEngine engine(*st->saver, SyncFifoPath());
        ReloadFrontSettings(engine, ini, std::string(), &st->settings, &st->hotkey);
    }
    ApplySettings(st);
}

void FcitxVetraOnClose(void* arg, FcitxIMCloseEventType event) {
    auto* st = static_cast<FcitxVetraPinyin*>(arg);
    FcitxLog(DEBUG, "Enter FcitxVetraOnClose:%d", int(event));
    // The user may be gone soon (logged out, fcitx ended): what was learned
    // goes to disk now, not at the deadline.
    st->saver->SaveNow();
    if (st->session.Settings().englishRetain && event == CET_ChangeByInactivate) {
        if (st->session.State().rawLength > 0) {
            st->session.BuildOutputString(nullptr);
            if (FcitxInputContext* ic = FcitxInstanceGetCurrentIC(st->instance))
                FcitxInstanceCommitString(st->instance, ic, st->session.Output().c_str());
        }
        return;
    }
    dbus_setVetraImeVisible(0);
}

// SIGTERM ends fcitx as its D-Bus Exit does (every Destroy runs, learning
// is saved), also with the module addon disabled.
void PollEndSignal(void* arg) {
    auto* instance = static_cast<FcitxInstance*>(arg);
    if (TakeEndSignal()) {
        FcitxLog(INFO, "SIGTERM: ending fcitx");
        FcitxInstanceEnd(instance);
        return;
    }
    FcitxInstanceAddTimeout(instance, kEndSignalPollMs, PollEndSignal, instance);
}

// ---------------------------------------------------------------- start-up

// The package version: the first line of the installed version file. Where
// none is installed (a build tree's addon, run from its addon folder or a
// copy of it) the version this addon was built as stands for it, the text
// that file and the build tree's hold: nothing to tell at every start. A
// file there that cannot be read (not a regular file, no permission) is told.
std::string ReadPackageVersion() {
    constexpr int64_t kMaxBytes = 4096;
    int64_t size = 0;
    const int fd = OpenRegularFile(kPackageVersionFile, O_RDONLY, kMaxBytes, &size);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            fprintf(stderr, "cannot read %s: %s\n", kPackageVersionFile, strerror(errno));
        return kBuildVersion;
    }
    char line[128] = {};
    const ssize_t got = read(fd, line, sizeof line - 1);
    close(fd);
    if (got < 0) return kBuildVersion;
    line[got] = '\0';
    line[strcspn(line, "\r\n")] = '\0';
    return line[0] ? line : kBuildVersion;
}

// The package version as the user's version file (what the user data was
// last used with), written as every user file is: a fresh temporary of its
// own, renamed over the file, so nothing planted beside it is opened or
// followed.
void WriteVersionFile(const std::string& version) {
    const std::string path = HomePath(".config/VetraPY/vetra.version");
    if (path.empty()) return;
    t_safeFileWriter writer;
    // A folder that takes no file the writer tells, once for every file.
    if (!writer.Begin(path.c_str())) return;
    if (!writer.Write(version.data(), version.size()) || !writer.Commit())
        fprintf(stderr, "cannot write %s\n", path.c_str());
}

// The system data folder, and whether it has the files conversion needs.
// Without them the kernel could offer only the typed letters, posing as a
// conversion: the input method is then not registered, and the log says
// in one line where the data was looked for and what is missing there.
const char* UsableSystemData() {
    const char* dataOverride = getenv(kSystemDataEnv);
    const bool overridden = dataOverride && *dataOverride;
    const char* dir = overridden ? dataOverride : kSystemDataDir;
    const std::string missing =
        n_startFolders::UnreadableFiles(dir, n_startFolders::kCoreDataFiles);
    if (missing.empty()) return dir;
    FcitxLog(ERROR, "Vetra Pinyin not loaded: no usable system data in %s%s: %s", dir,
             overridden ? " (VETRA_SYSTEM_DATA_DIR)" : "", missing.c_str());
    return nullptr;
}

// The user folder "~/.config/VetraPY", made when missing (never a home
// folder that is not there); false, told in one line, when it cannot be
// read, or when it is, holds or lies in the system data folder sysDir (the
// kernel would take the system's files for the user's, set them aside and
// write over them). One that cannot be written still serves: the kernel
// tells that what is learned stays in memory.
bool UsableUserFolder(const char* sysDir) {
    std::string home, dir, why;
    if (!GetUserHomeDir(home)) home.clear();
    if (!home.empty()) {
        dir = home + "/.config/VetraPY";
        why = n_startFolders::UserFolderClash(dir, sysDir);
        if (!why.empty()) {
            FcitxLog(ERROR,
                     "Vetra Pinyin not loaded: the user folder %s %s the system data folder %s",
                     dir.c_str(), why.c_str(), sysDir);
            return false;
        }
    }
    if (n_startFolders::PrepareUserFolder(home, ".config/VetraPY", false, &dir, &why)) return true;
    FcitxLog(ERROR, "Vetra Pinyin not loaded: no usable user folder%s%s: %s",
             dir.empty() ? "" : " ", dir.c_str(), why.c_str());
    return false;
}

void* FcitxVetraPinyinCreate(FcitxInstance* instance) {
    bindtextdomain(kTextDomain, kLocaleDir);
    bind_textdomain_codeset(kTextDomain, "UTF-8");
    // env.ini's line about a damaged file, which the kernel's start may
    // print, reads as every other line of fcitx's log.
    n_userenv::SetEnvLog([](const char* line) { FcitxLog(WARNING, "%s", line); });
    const char* sysDir = UsableSystemData();
    if (!sysDir || !UsableUserFolder(sysDir)) return nullptr;
    IVetraCoreEngine* engine = CreateVetraCoreEngine();
    if (!engine) return nullptr;
    auto st = std::make_unique<FcitxVetraPinyin>();
    st->instance = instance;
    st->serialized =
        std::make_unique<t_serializedEngine>(engine, dynamic_cast<IVetraSplitSave*>(engine));
    st->engine = st->serialized.get();
    const std::string version = ReadPackageVersion();
    st->engine->SetVersion(version.c_str(), kBuildDate);

    const std::string usrDir = HomePath(".config");
    if (usrDir.empty() || !st->engine->Init(sysDir, usrDir.c_str())) {
        FcitxLog(ERROR, "Vetra Pinyin not loaded: the kernel did not start on %s and %s/VetraPY",
                 sysDir, usrDir.c_str());
        return nullptr;
    }
    st->helper = std::make_unique<n_cloud::CVetraCoreCloudHelperDummy>();
    st->helper->SetWakeWriteEnd(CloudRoad().TakeWriteEnd());
    if (!st->engine->InitCloud(st->helper.get())) {
        const std::string why = n_cloud::CloudOffReason();
        FcitxLog(INFO, "Vetra Pinyin: no cloud candidates: %s",
                 why.empty() ? "the cloud did not start" : why.c_str());
    }
    st->saver = std::make_unique<t_workerSaver>(st->serialized.get());
    st->session.SetEngine(st->engine);
    st->session.SetSaver(st->saver.get());
    st->session.SetPunctuation(st->serialized.get());
    const std::string ini = GetSettingsIniPath();
    LoadImeSettings(ini, &st->settings);
    ApplySettings(st.get());
    WriteVersionFile(version);

    FcitxIMIFace iface = {};
    iface.ResetIM = FcitxVetraInputMethodReset;
    iface.DoInput = FcitxVetraDoInput;
    iface.GetCandWords = FcitxVetraGetCandWords;
    iface.PhraseTips = FcitxVetraPhraseTips;
    iface.Save = FcitxVetraSave;
    iface.Init = FcitxVetraInit;
    iface.ReloadConfig = FcitxVetraReloadConfig;
    iface.KeyBlocker = FcitxVetraKeyBlocker;
    iface.UpdateSurroundingText = FcitxVetraUpdateSurroundingText;
    iface.DoReleaseInput = FcitxVetraDoReleaseInput;
    iface.OnClose = FcitxVetraOnClose;
    FcitxInstanceRegisterIMv2(instance, st.get(), kImeUniqueName,
                              dgettext(kTextDomain, "Vetra Pinyin"), "vetrapinyin", iface, 5,
                              "zh_CN");
    RegisterSwitchHotkey(instance, &st->hotkey, ini);
    FcitxInstanceRegisterInputUnFocusHook(instance, FcitxIMEventHook{EndTypingRun, st.get()});
    if (!InstallEndSignal())
        FcitxLog(WARNING, "SIGTERM is left to fcitx: learning since the last save may be lost");
    else if (!EndSignalWatched())
        FcitxInstanceAddTimeout(instance, kEndSignalPollMs, PollEndSignal, instance);
    LaunchPanelWatchdog();
    st->dbus = std::make_unique<t_vetraDBusService>(instance, st->engine);
    g_state = st.get();
    FcitxInputState* input = FcitxInstanceGetInputState(instance);
    CloudRoad().Attach({instance, FcitxInputStateGetCandidateList(input), st->helper.get(),
                        &st->session.State(), CommitCandidate, st.get()});
    return st.release();
}

void FcitxVetraPinyinDestroy(void* arg) {
    auto* st = static_cast<FcitxVetraPinyin*>(arg);
    // The settings tool's calls still running end first (their answers
    // sent); every save asked for lands, then the last state is written.
    // A call that does not end in time (a file system that stopped
    // answering) is left to the process's end: the engine it uses stays.
    if (!st->dbus->Stop(t_vetraDBusService::kStopWait)) (void)st->serialized.release();
    st->dbus.reset();
    st->saver->Drain();
    static_cast<t_serializedEngine*>(st->engine)->SaveDictsUnlessSaved();
    st->session.Reset();
    if (st->shown) st->shown->Release();
    ReleaseSwitchHotkey(&st->hotkey);
    FcitxInstanceRemoveTimeoutByFunc(st->instance, PollEndSignal);
    if (g_state == st) g_state = nullptr;
    CloudRoad().Detach();
    // The cloud worker outlives the input method: it must stop handing
    // answers to the helper before the helper goes.
    n_cloud::CloudReplyHandler().SetHelper(nullptr);
    delete st;
    FcitxLog(INFO, "FcitxVetraPinyinDestroy");
}

}  // namespace
}  // namespace n_fcitx

extern "C" {
FCITX_EXPORT_API int ABI_VERSION = FCITX_ABI_VERSION;
FCITX_EXPORT_API FcitxIMClass ime = {n_fcitx::FcitxVetraPinyinCreate,
                                     n_fcitx::FcitxVetraPinyinDestroy};
}
