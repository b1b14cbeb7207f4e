// The engine object: the one process-wide IVetraCoreEngine, which turns the
// front end's UTF-8 calls into wide-text calls of the kernel facade and the
// kernel's records into result objects. fcitx main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/engine/engine_iface.h"
#include "src/engine/punctuation.h"
#include "src/engine/split_save.h"
#include "src/engine/usr_dict_order.h"

class CVetraCoreEngine final : public IVetraCoreEngine,
                               public IVetraSplitSave,
                               public IVetraStepwiseImport,
                               public IVetraUsrDictOrder,
                               public IVetraPunctuation {
public:
    // Text arguments are converted into buffers of this many wide characters,
    // the terminator included; a longer text is refused.
    static constexpr size_t kWideArgChars = 1024;
    // Candidate records asked of the kernel per conversion.
    static constexpr uint32_t kResultCapacity = 2600;
    // Word-list files handed on by MergeUsrExtDictFile.
    static constexpr int32_t kMergeFilesMax = 100;

    // The existing engine, or null.
    static CVetraCoreEngine* Existing();

    int32_t AddRef() override;
    int32_t Release() override;

    bool SetVersion(const char* version, const char* buildDate) override;
    bool Init(const char* sysDir, const char* usrDir) override;
    IVetraCoreResult* Convert(const char* input, uint32_t requestId, uint8_t* cloudAsked,
                              uint8_t mode) override;
    bool LearnWord(IVetraCoreWordBuffer* buffer) override;
    bool SaveDicts() override;
    std::unique_ptr<t_dictSaveSnapshot> NewSaveSnapshot() override;
    bool TakeSaveSnapshot(t_dictSaveSnapshot& snapshot) override;
    bool FinishSave(t_dictSaveSnapshot& snapshot) override;
    bool ReplaceUsrDictInSteps(const char* path, bool restore, uint32_t* wordCount,
                               const std::function<void(const std::function<void()>&)>& locked,
                               const uint64_t* mark) override;
    uint64_t UsrDictChangeMark() override;
    bool ImportUsrDictSince(uint64_t mark, const char* path, uint32_t* wordCount) override;
    bool RestoreUsrDictSince(uint64_t mark, const char* path) override;
    bool RemoveUsrDictSince(uint64_t mark) override;
    bool BackupUsrDictSince(uint64_t mark, const char* path, uint32_t* status) override;
    bool StartKernelInSteps(
        const std::function<void(const std::function<void()>&)>& locked) override;
    bool BackupUsrDictInSteps(const char* path, uint32_t* status,
                              const std::function<void(const std::function<void()>&)>& locked,
                              const uint64_t* mark) override;
    IVetraCoreWordBuffer* CreateWordBuffer() override;
    bool InitCloud(n_cloud::IVetraCoreCloudHelper* helper) override;
    bool StartKernel() override;
    bool LearnEnglishWord(const char* word) override;
    IVetraCoreResultElement* ConvertChars(const char* text) override;
    bool ReloadExtDict() override;

    IVetraCoreAbbrResult* GetSysAbbrList() override;
    IVetraCoreAbbrResult* GetUsrAbbrList() override;
    bool AddUsrAbbr(IVetraCoreAbbrElement* element) override;
    bool DeleteUsrAbbr(IVetraCoreAbbrElement* element) override;
    bool ImportUsrAbbrList(IVetraCoreAbbrResult* list) override;
    bool NotifyAbbrUsrDictChanged() override;
    bool SavePhrases() override;
    bool ExportPhrasesFile(const char* path) override;
    bool ImportPhrasesFile(const char* path) override;
    IVetraCoreAbbrElement* CreateAbbrElement() override;
    IVetraCoreAbbrResult* CreateAbbrResult() override;

    bool SaveUsrDict() override;
    bool NeedFullUsrDictUpload() override;
    bool DropEmptyUsrExtDict() override;
    bool LoadTempUsrDict(const char* secondListPath, const char* listPath) override;
    bool MergeUsrExtDictFile(const char* const* files, const uint16_t* subKinds,
                             const uint16_t* kinds, int32_t count) override;
    int32_t PrepareUsrDictUpload(char* out1, char* out2, uint32_t size) override;
    bool CommitUsrDictUpload() override;
    bool NotifyUsrDictExtChanged() override;
    bool NotifyUsrDictV3Changed() override;
    bool ImportUsrDict(const char* path, uint32_t* wordCount) override;
    bool RestoreUsrDict(const char* path) override;
    bool BackupUsrDict(const char* path, uint32_t* wordCount) override;
    bool RemoveUsrDict() override;
    IVetraCoreQuickInputResult* QueryQuickInput(uint32_t page, uint32_t filter1,
                                                uint32_t filter2) override;
    void SetContinuingInput(bool on) override;

    std::string GetPunctuation(uint32_t key) override;
    bool PointAfterDigitStays() override;
    bool ReadsShuangPin() override;

    n_cloud::IVetraCoreCloudHelper* GetCloudHelper() const { return m_cloudHelper; }

private:
    friend IVetraCoreEngine* CreateVetraCoreEngine();
    CVetraCoreEngine() = default;
    ~CVetraCoreEngine();

    int32_t m_refs = 1;
    n_cloud::IVetraCoreCloudHelper* m_cloudHelper = nullptr;
};
