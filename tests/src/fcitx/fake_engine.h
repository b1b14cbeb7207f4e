// Stand-ins for the engine and fcitx in the input method's unit tests: an
// element with chosen input ends, a word buffer that records what it learns,
// an engine that counts learnings and a host that records commits.
#pragma once

#include <fcitx/ime.h>

#include <functional>
#include <string>
#include <vector>

#include "src/fcitx/ime_session.h"

namespace fakes {

class t_element : public IVetraCoreResultElement {
public:
    t_element(std::string text, std::vector<int> ends)
        : m_text(std::move(text)), m_ends(std::move(ends)) {}
    int32_t AddRef() override { return ++refs; }
    int32_t Release() override { return --refs; }  // owned by the test
    const char* GetText() const override { return m_text.c_str(); }
    uint32_t GetLength() const override { return uint32_t(m_ends.size()); }
    uint32_t GetInputLength() const override {
        return m_ends.empty() ? 0 : uint32_t(m_ends.back());
    }
    uint32_t GetInputEndCount() const override { return uint32_t(m_ends.size()); }
    int32_t GetInputEnd(int32_t i) const override {
        return i >= 0 && size_t(i) < m_ends.size() ? m_ends[size_t(i)] : -1;
    }
    const char* GetDisplayText() const override { return m_text.c_str(); }
    bool Truncate(uint32_t n) override {
        truncatedTo = n;
        return true;
    }
    char* GetPinyinText() const override { return nullptr; }

    int32_t refs = 1;
    uint32_t truncatedTo = 0;

private:
    std::string m_text;
    std::vector<int> m_ends;
};

class t_result : public IVetraCoreResult {
public:
    explicit t_result(std::vector<t_element*> elements) : m_elements(std::move(elements)) {}
    int32_t AddRef() override { return ++refs; }
    int32_t Release() override { return --refs; }
    int32_t GetCount() const override { return int32_t(m_elements.size()); }
    IVetraCoreResultElement* GetElement(int32_t i) const override {
        return i >= 0 && i < GetCount() ? m_elements[size_t(i)] : nullptr;
    }
    int32_t refs = 1;

private:
    std::vector<t_element*> m_elements;
};

class t_wordBuffer : public IVetraCoreWordBuffer {
public:
    int32_t AddRef() override { return ++refs; }
    int32_t Release() override { return --refs; }
    const char* GetText() const override { return text.c_str(); }
    uint32_t GetLength() const override { return 0; }
    uint32_t GetInputLength() const override { return 0; }
    uint32_t GetInputEndCount() const override { return 0; }
    int32_t GetInputEnd(int32_t) const override { return -1; }
    const char* GetDisplayText() const override { return text.c_str(); }
    bool Truncate(uint32_t) override { return false; }
    char* GetPinyinText() const override { return nullptr; }
    bool Append(IVetraCoreResultElement* e) override {
        if (!e) return false;
        text += e->GetText();
        return true;
    }
    void ClearElements() override { text.clear(); }
    void RemoveLast() override {}
    std::string text;
    int32_t refs = 1;
};

// Only what the session calls is more than a stub.
class t_engine : public IVetraCoreEngine {
public:
    int32_t AddRef() override { return 1; }
    int32_t Release() override { return 1; }
    bool SetVersion(const char*, const char*) override { return true; }
    bool Init(const char*, const char*) override { return true; }
    IVetraCoreResult* Convert(const char*, uint32_t, uint8_t*, uint8_t) override { return nullptr; }
    bool LearnWord(IVetraCoreWordBuffer* b) override {
        learned.push_back(static_cast<t_wordBuffer*>(b)->text);
        return true;
    }
    bool SaveDicts() override { return ++saves > 0; }
    IVetraCoreWordBuffer* CreateWordBuffer() override {
        buffer = t_wordBuffer();
        return &buffer;
    }
    bool InitCloud(n_cloud::IVetraCoreCloudHelper*) override { return true; }
    bool StartKernel() override { return true; }
    bool LearnEnglishWord(const char* w) override {
        english.push_back(w);
        return true;
    }
    IVetraCoreResultElement* ConvertChars(const char* text) override {
        rest = std::make_unique<t_element>(text, std::vector<int>{});
        return rest.get();
    }
    bool ReloadExtDict() override { return true; }
    IVetraCoreAbbrResult* GetSysAbbrList() override { return nullptr; }
    IVetraCoreAbbrResult* GetUsrAbbrList() override { return nullptr; }
    bool AddUsrAbbr(IVetraCoreAbbrElement*) override { return false; }
    bool DeleteUsrAbbr(IVetraCoreAbbrElement*) override { return false; }
    bool ImportUsrAbbrList(IVetraCoreAbbrResult*) override { return false; }
    bool NotifyAbbrUsrDictChanged() override { return true; }
    bool SavePhrases() override { return true; }
    bool ExportPhrasesFile(const char*) override { return false; }
    bool ImportPhrasesFile(const char*) override { return false; }
    IVetraCoreAbbrElement* CreateAbbrElement() override { return nullptr; }
    IVetraCoreAbbrResult* CreateAbbrResult() override { return nullptr; }
    bool SaveUsrDict() override { return true; }
    bool NeedFullUsrDictUpload() override { return false; }
    bool DropEmptyUsrExtDict() override { return false; }
    bool LoadTempUsrDict(const char*, const char*) override { return false; }
    bool MergeUsrExtDictFile(const char* const*, const uint16_t*, const uint16_t*,
                             int32_t) override {
        return false;
    }
    int32_t PrepareUsrDictUpload(char*, char*, uint32_t) override { return 0; }
    bool CommitUsrDictUpload() override { return false; }
    bool NotifyUsrDictExtChanged() override { return true; }
    bool NotifyUsrDictV3Changed() override { return true; }
    bool ImportUsrDict(const char*, uint32_t*) override { return false; }
    bool RestoreUsrDict(const char*) override { return false; }
    bool BackupUsrDict(const char*, uint32_t*) override { return false; }
    bool RemoveUsrDict() override { return false; }
    IVetraCoreQuickInputResult* QueryQuickInput(uint32_t, uint32_t, uint32_t) override {
        return nullptr;
    }
    void SetContinuingInput(bool) override {}

    std::vector<std::string> learned, english;
    int saves = 0;
    t_wordBuffer buffer;
    std::unique_ptr<t_element> rest;
};

class t_saver : public i_dictSaver {
public:
    void RequestSave() override { ++requests; }
    int requests = 0;
};

// Full-width comma and point; the point stays ASCII after a digit.
class t_punctuation : public IVetraPunctuation {
public:
    std::string GetPunctuation(uint32_t key) override {
        return key == ',' ? "，" : key == '.' ? "。" : "";
    }
    bool PointAfterDigitStays() override { return true; }
    bool ReadsShuangPin() override { return false; }
};

class t_host : public i_imeHost {
public:
    void CommitText(const char* text) override { committed.push_back(text); }
    void SetOutputString(const char* text) override { output = text; }
    int PageSize() override { return pageSize; }
    int WindowSize() override { return windowSize; }
    int CandidateCount() override { return count; }
    int ChooseOnPage(int index) override {
        chosen = index;
        return onChoose ? onChoose(index) : IRV_COMMIT_STRING;
    }
    std::function<int(int)> onChoose;  // the candidate's callback, when set
    std::vector<std::string> committed;
    std::string output;
    int pageSize = 5, windowSize = 5, count = 20, chosen = -1;
};

}  // namespace fakes
