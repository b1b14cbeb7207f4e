// The engine as the front end uses it: every operation runs under one mutex,
// so that the dictionary save on the save worker never overlaps the main
// thread's conversions and learnings; the save's disk work runs outside it.
// Any thread; one operation at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "src/engine/engine_iface.h"
#include "src/engine/punctuation.h"
#include "src/engine/split_save.h"
#include "src/engine/usr_dict_order.h"

namespace n_fcitx {

class t_serializedEngine final : public IVetraCoreEngine,
                                 public IVetraPunctuation,
                                 public IVetraUsrDictOrder {
public:
    // split: the inner engine's save in steps, or null.
    explicit t_serializedEngine(IVetraCoreEngine* inner, IVetraSplitSave* split = nullptr)
        : m_inner(inner),
          m_split(split),
          m_steps(dynamic_cast<IVetraStepwiseImport*>(inner)),
          m_order(dynamic_cast<IVetraUsrDictOrder*>(inner)),
          m_punctuation(dynamic_cast<IVetraPunctuation*>(inner)) {}
    ~t_serializedEngine() = default;

    // The count is the inner engine's: the front end never releases it.
    int32_t AddRef() override {
        t_lock lock(m_mutex);
        return m_inner->AddRef();
    }
    int32_t Release() override {
        t_lock lock(m_mutex);
        return m_inner->Release();
    }
    bool SetVersion(const char* version, const char* buildDate) override {
        t_lock lock(m_mutex);
        return m_inner->SetVersion(version, buildDate);
    }
    bool Init(const char* sysDir, const char* usrDir) override {
        t_lock lock(m_mutex);
        return m_inner->Init(sysDir, usrDir);
    }
    IVetraCoreResult* Convert(const char* input, uint32_t requestId, uint8_t* cloudAsked,
                              uint8_t mode) override {
        t_lock lock(m_mutex);
        return m_inner->Convert(input, requestId, cloudAsked, mode);
    }
    bool LearnWord(IVetraCoreWordBuffer* buffer) override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_inner->LearnWord(buffer);
    }
    // In steps (below): a save never holds a keystroke up for its writing.
    bool SaveDicts() override { return SaveDictsInSteps(); }
    // SaveDicts holding the mutex only to copy what is to be written and to
    // finish, not while the copy is written; SaveDicts without a split save.
    // One such save at a time (the save worker's, a backup's, the last).
    bool SaveDictsInSteps() {
        std::lock_guard<std::mutex> saving(m_saveMutex);
        std::unique_ptr<t_dictSaveSnapshot> snapshot =
            m_split ? m_split->NewSaveSnapshot() : nullptr;
        uint64_t changes;
        {
            t_lock lock(m_mutex);
            changes = m_changes.load();
            if (!snapshot || !m_split->TakeSaveSnapshot(*snapshot)) {
                const bool saved = m_inner->SaveDicts();
                if (saved) m_changesAtSave = changes;
                return saved;
            }
        }
        snapshot->Write();
        t_lock lock(m_mutex);
        const bool saved = m_split->FinishSave(*snapshot);
        if (saved) m_changesAtSave = changes;
        return saved;
    }
    // The last save (fcitx's end): SaveDicts unless nothing was changed
    // through this engine since a save that succeeded, which for a large
    // dictionary spares a write of some time.
    bool SaveDictsUnlessSaved() {
        if (m_changes.load() == m_changesAtSave.load()) return true;
        return SaveDictsInSteps();
    }
    IVetraCoreWordBuffer* CreateWordBuffer() override {
        t_lock lock(m_mutex);
        return m_inner->CreateWordBuffer();
    }
    bool InitCloud(n_cloud::IVetraCoreCloudHelper* helper) override {
        t_lock lock(m_mutex);
        return m_inner->InitCloud(helper);
    }
    // A step at a time under the mutex: the key map's rebuild takes tens of
    // milliseconds, which a keystroke must not wait for whole.
    bool StartKernel() override {
        if (m_steps) return m_steps->StartKernelInSteps(Locked());
        t_lock lock(m_mutex);
        return m_inner->StartKernel();
    }
    bool LearnEnglishWord(const char* word) override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_inner->LearnEnglishWord(word);
    }
    IVetraCoreResultElement* ConvertChars(const char* text) override {
        t_lock lock(m_mutex);
        return m_inner->ConvertChars(text);
    }
    bool ReloadExtDict() override {
        t_lock lock(m_mutex);
        return m_inner->ReloadExtDict();
    }
    IVetraCoreAbbrResult* GetSysAbbrList() override {
        t_lock lock(m_mutex);
        return m_inner->GetSysAbbrList();
    }
    IVetraCoreAbbrResult* GetUsrAbbrList() override {
        t_lock lock(m_mutex);
        return m_inner->GetUsrAbbrList();
    }
    bool AddUsrAbbr(IVetraCoreAbbrElement* element) override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_inner->AddUsrAbbr(element);
    }
    bool DeleteUsrAbbr(IVetraCoreAbbrElement* element) override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_inner->DeleteUsrAbbr(element);
    }
    bool ImportUsrAbbrList(IVetraCoreAbbrResult* list) override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_inner->ImportUsrAbbrList(list);
    }
    bool NotifyAbbrUsrDictChanged() override {
        t_lock lock(m_mutex);
        return m_inner->NotifyAbbrUsrDictChanged();
    }
    bool SavePhrases() override {
        t_lock lock(m_mutex);
        return m_inner->SavePhrases();
    }
    bool ExportPhrasesFile(const char* path) override {
        t_lock lock(m_mutex);
        return m_inner->ExportPhrasesFile(path);
    }
    bool ImportPhrasesFile(const char* path) override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_inner->ImportPhrasesFile(path);
    }
    IVetraCoreAbbrElement* CreateAbbrElement() override {
        t_lock lock(m_mutex);
        return m_inner->CreateAbbrElement();
    }
    IVetraCoreAbbrResult* CreateAbbrResult() override {
        t_lock lock(m_mutex);
        return m_inner->CreateAbbrResult();
    }
    // The user dictionary is one of the files a save in steps writes: right
    // after one (a backup saves all first) only a change since calls for
    // another write, which for a large dictionary takes a while.
    bool SaveUsrDict() override {
        if (!m_split) {
            t_lock lock(m_mutex);
            return m_inner->SaveUsrDict();
        }
        if (m_changes.load() == m_changesAtSave.load()) return true;
        return SaveDictsInSteps();
    }
    bool NeedFullUsrDictUpload() override {
        t_lock lock(m_mutex);
        return m_inner->NeedFullUsrDictUpload();
    }
    bool DropEmptyUsrExtDict() override {
        t_lock lock(m_mutex);
        return m_inner->DropEmptyUsrExtDict();
    }
    bool LoadTempUsrDict(const char* secondListPath, const char* listPath) override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_inner->LoadTempUsrDict(secondListPath, listPath);
    }
    bool MergeUsrExtDictFile(const char* const* files, const uint16_t* subKinds,
                             const uint16_t* kinds, int32_t count) override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_inner->MergeUsrExtDictFile(files, subKinds, kinds, count);
    }
    int32_t PrepareUsrDictUpload(char* out1, char* out2, uint32_t size) override {
        t_lock lock(m_mutex);
        return m_inner->PrepareUsrDictUpload(out1, out2, size);
    }
    bool CommitUsrDictUpload() override {
        t_lock lock(m_mutex);
        return m_inner->CommitUsrDictUpload();
    }
    bool NotifyUsrDictExtChanged() override {
        t_lock lock(m_mutex);
        return m_inner->NotifyUsrDictExtChanged();
    }
    bool NotifyUsrDictV3Changed() override {
        t_lock lock(m_mutex);
        return m_inner->NotifyUsrDictV3Changed();
    }
    // In steps when the inner engine offers them (ReplaceUsrDict below).
    bool ImportUsrDict(const char* path, uint32_t* wordCount) override {
        return ReplaceUsrDict(path, false, wordCount, nullptr);
    }
    bool RestoreUsrDict(const char* path) override {
        return ReplaceUsrDict(path, true, nullptr, nullptr);
    }
    // After a save (the caller's): the copy of the file is taken under the
    // mutex, the target written without it, so a target that stops
    // answering holds no keystroke up.
    bool BackupUsrDict(const char* path, uint32_t* wordCount) override {
        return Backup(path, wordCount, nullptr);
    }
    bool RemoveUsrDict() override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_inner->RemoveUsrDict();
    }

    // Without an inner engine that keeps the order the calls are plain ones.
    uint64_t UsrDictChangeMark() override { return m_order ? m_order->UsrDictChangeMark() : 0; }
    bool ImportUsrDictSince(uint64_t mark, const char* path, uint32_t* wordCount) override {
        return ReplaceUsrDict(path, false, wordCount, &mark);
    }
    bool RestoreUsrDictSince(uint64_t mark, const char* path) override {
        return ReplaceUsrDict(path, true, nullptr, &mark);
    }
    bool RemoveUsrDictSince(uint64_t mark) override {
        t_lock lock(m_mutex);
        ++m_changes;
        return m_order ? m_order->RemoveUsrDictSince(mark) : m_inner->RemoveUsrDict();
    }
    bool BackupUsrDictSince(uint64_t mark, const char* path, uint32_t* status) override {
        return Backup(path, status, &mark);
    }
    IVetraCoreQuickInputResult* QueryQuickInput(uint32_t page, uint32_t filter1,
                                                uint32_t filter2) override {
        t_lock lock(m_mutex);
        return m_inner->QueryQuickInput(page, filter1, filter2);
    }
    void SetContinuingInput(bool on) override {
        t_lock lock(m_mutex);
        m_inner->SetContinuingInput(on);
    }

    // Nothing (and no point kept) when the inner engine has no punctuation.
    std::string GetPunctuation(uint32_t key) override {
        t_lock lock(m_mutex);
        return m_punctuation ? m_punctuation->GetPunctuation(key) : std::string();
    }
    bool PointAfterDigitStays() override {
        t_lock lock(m_mutex);
        return m_punctuation && m_punctuation->PointAfterDigitStays();
    }
    bool ReadsShuangPin() override {
        t_lock lock(m_mutex);
        return m_punctuation && m_punctuation->ReadsShuangPin();
    }

private:
    using t_lock = std::lock_guard<std::recursive_mutex>;
    // The file is read, the new dictionary built and written without the
    // mutex when the inner engine offers the steps: a keystroke meanwhile
    // waits only for the copy and the final attach.
    bool ReplaceUsrDict(const char* path, bool restore, uint32_t* wordCount, const uint64_t* mark) {
        ++m_changes;
        if (m_steps)
            return m_steps->ReplaceUsrDictInSteps(path, restore, wordCount, Locked(), mark);
        t_lock lock(m_mutex);
        if (mark && m_order)
            return restore ? m_order->RestoreUsrDictSince(*mark, path)
                           : m_order->ImportUsrDictSince(*mark, path, wordCount);
        return restore ? m_inner->RestoreUsrDict(path) : m_inner->ImportUsrDict(path, wordCount);
    }
    bool Backup(const char* path, uint32_t* status, const uint64_t* mark) {
        if (m_steps) return m_steps->BackupUsrDictInSteps(path, status, Locked(), mark);
        t_lock lock(m_mutex);
        if (mark && m_order) return m_order->BackupUsrDictSince(*mark, path, status);
        return m_inner->BackupUsrDict(path, status);
    }
    std::function<void(const std::function<void()>&)> Locked() {
        return [this](const std::function<void()>& step) {
            t_lock lock(m_mutex);
            step();
        };
    }

    IVetraCoreEngine* m_inner;
    IVetraSplitSave* m_split;
    IVetraStepwiseImport* m_steps;
    IVetraUsrDictOrder* m_order;
    IVetraPunctuation* m_punctuation;
    std::recursive_mutex m_mutex;
    std::mutex m_saveMutex;  // taken before m_mutex, never while holding it
    // Changes to the user's dictionaries made through this engine, and
    // their count when the last save that succeeded took its copy.
    std::atomic<uint64_t> m_changes{0};
    std::atomic<uint64_t> m_changesAtSave{0};
};

}  // namespace n_fcitx
