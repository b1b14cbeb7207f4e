// The engine object over the kernel facade: UTF-8 arguments become bounded
// wide texts (refused, never cut, when they do not fit), kernel records
// become result objects, and a conversion that asks the cloud queues its
// request. fcitx main thread only.
#include "src/engine/vetra_engine.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "kernel/convert/cloud_request.h"
#include "kernel/runtime/codepage.h"
#include "porting3/named_objects.h"
#include "porting3/runtime_env.h"
#include "porting3/str16.h"
#include "porting3/version_reg.h"
#include "src/cloud/cloud_reply.h"
#include "src/engine/kernel_facade.h"
#include "src/engine/results.h"

using namespace n_engine;

namespace {

CVetraCoreEngine* g_engine = nullptr;

// The cloud-request record the kernel writes during a conversion.
uint8_t g_cloudBuffer[kCloudRecordLimit];

// A UTF-8 argument as wide text in a buffer of kWideArgChars characters.
class t_wideArg {
public:
    explicit t_wideArg(const char* utf8) {
        if (!utf8) return;
        size_t capacity = CVetraCoreEngine::kWideArgChars;
        // The terminator must fit too: a text of kWideArgChars characters is
        // refused like a longer one.
        m_ok = BytesToWideUtf8(utf8, strlen(utf8), m_text, capacity) &&
               capacity < CVetraCoreEngine::kWideArgChars;
        if (m_ok) m_text[capacity] = 0;
    }
    bool Ok() const { return m_ok; }
    wchar_t* Get() { return m_ok ? m_text : nullptr; }

private:
    bool m_ok = false;
    wchar_t m_text[CVetraCoreEngine::kWideArgChars];
};

// A UTF-8 argument as 16-bit text of at most kWideArgChars - 1 units; null
// when it does not convert or does not fit.
std::unique_ptr<char16_t, decltype(&free)> ToStr16(const char* utf8) {
    std::unique_ptr<char16_t, decltype(&free)> s(utf8 ? n_porting::Utf8ToStr16Alloc(utf8) : nullptr,
                                                 &free);
    if (s && n_porting::WcsNLen16(s.get(), CVetraCoreEngine::kWideArgChars) >=
                 CVetraCoreEngine::kWideArgChars)
        s.reset();
    return s;
}

// Wide text as UTF-8 into out (size bytes, terminated); false when it does
// not convert or fit.
bool WideToUtf8Out(const wchar_t* text, char* out, uint32_t size) {
    if (!out || size == 0) return false;
    size_t capacity = size;
    if (!WideToBytesUtf8(text, out, capacity) || capacity >= size) {
        out[0] = 0;
        return false;
    }
    out[capacity] = 0;
    return true;
}

// Makes the user data directory (owner only) unless it is there already.
bool EnsurePrivateDir(const char16_t* dir) {
    char path[n_porting::kPathBytes];
    if (!n_porting::Str16ToPathBytes(dir, path, sizeof path)) return false;
    struct stat st;
    if (stat(path, &st) == 0) return S_ISDIR(st.st_mode);
    return mkdir(path, 0700) == 0 || errno == EEXIST;
}

// The phrase texts of an element; false when either is missing or too long.
bool AbbrArgs(IVetraCoreAbbrElement* element, std::unique_ptr<t_wideArg>& key,
              std::unique_ptr<t_wideArg>& phrase) {
    if (!element) return false;
    key = std::make_unique<t_wideArg>(element->GetKey());
    phrase = std::make_unique<t_wideArg>(element->GetPhrase());
    return key->Ok() && phrase->Ok();
}

// The records as quick-input elements; null when none could be made.
IVetraCoreQuickInputResult* QuickInputList(const std::vector<t_quickInputRecord>& records) {
    CVetraCoreQuickInputResult* list = CVetraCoreQuickInputResult::Create();
    if (!list) return nullptr;
    for (const t_quickInputRecord& record : records) {
        std::unique_ptr<char, decltype(&free)> texts[3] = {
            {nullptr, &free}, {nullptr, &free}, {nullptr, &free}};
        const char* plain[3] = {};
        for (int k = 0; k < 3; ++k) {
            if (!record.texts[k]) continue;
            texts[k].reset(n_porting::Str16NToUtf8Alloc(
                reinterpret_cast<const char16_t*>(LstrGetUnits(record.texts[k])),
                LstrGetLength(record.texts[k])));
            plain[k] = texts[k].get();
        }
        const int16_t values[3] = {int16_t(record.values[0]), int16_t(record.values[1]),
                                   int16_t(record.values[2])};
        CVetraCoreQuickInputElement* element = CVetraCoreQuickInputElement::Create();
        if (!element) break;
        if (!element->Set(values, plain) || !list->Append(element)) element->Release();
    }
    if (list->GetCount() > 0) return list;
    list->Release();
    return nullptr;
}

// A list of phrases as custom-phrase elements; null when there are none.
IVetraCoreAbbrResult* AbbrList(int32_t count, int32_t (*fill)(t_apiPhrase*, int32_t)) {
    if (count < 1) return nullptr;
    std::vector<t_apiPhrase> phrases(static_cast<size_t>(count));
    const int32_t n = fill(phrases.data(), count);
    if (n < 1) return nullptr;
    CVetraCoreAbbrResult* list = CVetraCoreAbbrResult::Create();
    if (!list) return nullptr;
    for (int32_t i = 0; i < n; ++i) {
        CVetraCoreAbbrElement* element = CVetraCoreAbbrElement::Create();
        if (!element) break;
        std::vector<char> key(phrases[i].key.size() * 4 + 1),
            phrase(phrases[i].phrase.size() * 4 + 1);
        // A phrase whose text does not convert is left out; the others stay.
        if (!WideToUtf8Out(phrases[i].key.c_str(), key.data(), uint32_t(key.size())) ||
            !WideToUtf8Out(phrases[i].phrase.c_str(), phrase.data(), uint32_t(phrase.size())) ||
            !element->SetStrings(key.data(), phrase.data(), phrases[i].position) ||
            !list->Append(element))
            element->Release();
    }
    if (list->GetCount() > 0) return list;
    list->Release();
    return nullptr;
}

}  // namespace

IVetraCoreEngine* CreateVetraCoreEngine() {
    if (g_engine) {
        g_engine->AddRef();
        return g_engine;
    }
    g_engine = new (std::nothrow) CVetraCoreEngine();
    return g_engine;
}

CVetraCoreEngine* CVetraCoreEngine::Existing() {
    return g_engine;
}

CVetraCoreEngine::~CVetraCoreEngine() {
    if (g_engine == this) g_engine = nullptr;
}

int32_t CVetraCoreEngine::AddRef() {
    return ++m_refs;
}

int32_t CVetraCoreEngine::Release() {
    if (--m_refs > 0) return m_refs;
    delete this;
    return 0;
}

bool CVetraCoreEngine::SetVersion(const char* version, const char* buildDate) {
    n_porting::SetProductVersion(version);
    n_porting::SetBuildDate(buildDate);
    return true;
}

bool CVetraCoreEngine::Init(const char* sysDir, const char* usrDir) {
    auto sys16 = ToStr16(sysDir), usr16 = ToStr16(usrDir);
    if (!sys16 || !usr16) return false;
    n_porting::SetModuleFilePath(sys16.get());
    n_porting::SetInstallDir(usr16.get());
    n_porting::t_errorContext ctx;
    if (!n_porting::t_runtime::GetInstance().Init(ctx) || !n_porting::t_filemap::Init(ctx) ||
        !n_porting::t_versionReg::Init(ctx))
        return false;
    const n_porting::t_path dataDir(usr16.get(), u"VetraPY");
    if (!EnsurePrivateDir(dataDir.GetStr())) return false;

    const char* version = n_porting::GetProductVersionA();
    const char* buildDate = n_porting::GetBuildDateA();
    auto dataDirUtf8 = std::unique_ptr<char, decltype(&free)>(
        n_porting::Str16ToUtf8Alloc(dataDir.GetStr()), &free);
    auto versionW = std::make_unique<t_wideArg>(version ? version : "");
    auto buildDateW = std::make_unique<t_wideArg>(buildDate ? buildDate : "");
    auto dataDirW = std::make_unique<t_wideArg>(dataDirUtf8.get());
    auto sysDirW = std::make_unique<t_wideArg>(sysDir);
    if (!versionW->Ok() || !buildDateW->Ok() || !dataDirW->Ok() || !sysDirW->Ok()) return false;
    SetPinyinSpellingSource(&KernelGetPinyinIds);
    return KernelInit(versionW->Get(), dataDirW->Get(), sysDirW->Get(), dataDirW->Get(),
                      buildDateW->Get());
}

IVetraCoreResult* CVetraCoreEngine::Convert(const char* input, uint32_t requestId,
                                            uint8_t* cloudAsked, uint8_t mode) {
    if (cloudAsked) *cloudAsked = 0;
    auto wide = std::make_unique<t_wideArg>(input);
    if (!wide->Ok()) return nullptr;
    std::memset(g_cloudBuffer, 0, sizeof g_cloudBuffer);
    t_cloudRequestParams params;
    params.buffer = g_cloudBuffer;
    params.unused = 0.5f;
    params.speedFactor = 128;
    params.plainOffset = 150;
    params.partialOffset = 500;
    params.reserved = 5;
    params.reservedValue = 2;
    params.noCloud = 0;
    params.value = -1;
    t_cloudAsked asked;
    asked.asked = 0;
    asked.delay = 300;
    uint8_t extra = 0;
    const bool wanted = requestId != n_cloud::kNoRequestId;

    static t_candWord* results[kResultCapacity];
    const int n = KernelConvert(wide->Get(), 0, 0, results, kResultCapacity, &extra, 1,
                                wanted ? &params : nullptr, wanted ? &asked : nullptr, mode);
    // The queue bounds the copy by the record's own length and the buffer,
    // and takes nothing while the cloud is off.
    if (wanted && asked.asked)
        n_cloud::CloudSubmitRecord(requestId, g_cloudBuffer, sizeof g_cloudBuffer);
    if (cloudAsked) *cloudAsked = asked.asked;
    if (n < 1) return nullptr;
    return NewResultFromRecords(results, n);
}

bool CVetraCoreEngine::LearnWord(IVetraCoreWordBuffer* buffer) {
    if (!buffer) return false;
    const char* text = buffer->GetText();
    if (!text || strnlen(text, kWideArgChars) >= kWideArgChars) return false;
    auto wide = std::make_unique<t_wideArg>(text);
    if (!wide->Ok()) return false;
    // The merged word's reading when the buffer is ours; a foreign buffer
    // is learned without one.
    const auto* own = dynamic_cast<CVetraCoreWordBuffer*>(buffer);
    const CVetraCoreResultElement* merged = own ? own->GetMerged() : nullptr;
    return KernelLearnWord(wide->Get(),
                           merged && merged->HasPinyin() ? merged->GetPinyin() : nullptr) != 0;
}

void CVetraCoreEngine::SetContinuingInput(bool on) {
    KernelSetContinuingInput(on);
}

bool CVetraCoreEngine::SaveDicts() {
    return KernelSaveDicts();
}
std::unique_ptr<t_dictSaveSnapshot> CVetraCoreEngine::NewSaveSnapshot() {
    return KernelNewSaveSnapshot();
}
bool CVetraCoreEngine::TakeSaveSnapshot(t_dictSaveSnapshot& snapshot) {
    return KernelTakeSaveSnapshot(snapshot);
}
bool CVetraCoreEngine::FinishSave(t_dictSaveSnapshot& snapshot) {
    return KernelFinishSave(snapshot);
}

IVetraCoreWordBuffer* CVetraCoreEngine::CreateWordBuffer() {
    return CVetraCoreWordBuffer::Create();
}

bool CVetraCoreEngine::InitCloud(n_cloud::IVetraCoreCloudHelper* helper) {
    m_cloudHelper = helper;
    return n_cloud::InitCloud(helper);
}

bool CVetraCoreEngine::StartKernel() {
    return KernelStart();
}

bool CVetraCoreEngine::StartKernelInSteps(
    const std::function<void(const std::function<void()>&)>& locked) {
    return KernelStartInSteps(locked);
}

std::string CVetraCoreEngine::GetPunctuation(uint32_t key) {
    char text[64];
    const wchar_t* wide = KernelPunctuationText(key);
    return wide && WideToUtf8Out(wide, text, sizeof text) ? text : "";
}

bool CVetraCoreEngine::PointAfterDigitStays() {
    return KernelSymbolSettings().pointAfterDigit;
}

bool CVetraCoreEngine::ReadsShuangPin() {
    return KernelReadsShuangPin();
}

bool CVetraCoreEngine::LearnEnglishWord(const char* word) {
    auto wide = std::make_unique<t_wideArg>(word);
    return wide->Ok() && ::LearnEnglishWord(wide->Get()) != 0;
}

IVetraCoreResultElement* CVetraCoreEngine::ConvertChars(const char* text) {
    if (!text || strnlen(text, kWideArgChars) >= kWideArgChars) return nullptr;
    return NewUnconvertedElement(text, &GetLetterIdOfChar);
}

bool CVetraCoreEngine::ReloadExtDict() {
    return KernelReloadExtDict();
}

IVetraCoreAbbrResult* CVetraCoreEngine::GetSysAbbrList() {
    return AbbrList(GetSysPhraseCount(), &GetSysPhrases);
}

IVetraCoreAbbrResult* CVetraCoreEngine::GetUsrAbbrList() {
    return AbbrList(GetUsrPhraseCount(), &GetUsrPhrases);
}

bool CVetraCoreEngine::AddUsrAbbr(IVetraCoreAbbrElement* element) {
    std::unique_ptr<t_wideArg> key, phrase;
    return AbbrArgs(element, key, phrase) &&
           AddUsrPhrase(key->Get(), phrase->Get(), element->GetPosition()) != 0;
}

bool CVetraCoreEngine::DeleteUsrAbbr(IVetraCoreAbbrElement* element) {
    std::unique_ptr<t_wideArg> key, phrase;
    return AbbrArgs(element, key, phrase) &&
           DeleteUsrPhrase(key->Get(), phrase->Get(), element->GetPosition()) != 0;
}

bool CVetraCoreEngine::ImportUsrAbbrList(IVetraCoreAbbrResult* list) {
    if (!list || list->GetCount() < 1) return false;
    std::vector<t_apiPhrase> records;
    for (int32_t i = 0; i < list->GetCount(); ++i) {
        IVetraCoreAbbrElement* element = list->GetElement(i);
        if (!element) continue;
        std::unique_ptr<t_wideArg> key, phrase;
        // One unusable phrase refuses the list: importing the rest would
        // delete it from the user's phrases.
        if (!AbbrArgs(element, key, phrase)) return false;
        records.push_back({key->Get(), phrase->Get(), element->GetPosition()});
    }
    return KernelImportUsrAbbrList(records.data(), int32_t(records.size()));
}

bool CVetraCoreEngine::NotifyAbbrUsrDictChanged() {
    return ::NotifyAbbrUsrDictChanged() != 0;
}

bool CVetraCoreEngine::SavePhrases() {
    return KernelSavePhrases();
}

bool CVetraCoreEngine::ExportPhrasesFile(const char* path) {
    auto wide = std::make_unique<t_wideArg>(path);
    return wide->Ok() && ::ExportPhrasesFile(wide->Get()) != 0;
}

bool CVetraCoreEngine::ImportPhrasesFile(const char* path) {
    auto wide = std::make_unique<t_wideArg>(path);
    return wide->Ok() && ::ImportPhrasesFile(wide->Get()) != 0;
}

IVetraCoreAbbrElement* CVetraCoreEngine::CreateAbbrElement() {
    return CVetraCoreAbbrElement::Create();
}

IVetraCoreAbbrResult* CVetraCoreEngine::CreateAbbrResult() {
    return CVetraCoreAbbrResult::Create();
}

bool CVetraCoreEngine::SaveUsrDict() {
    return KernelSaveUsrDict();
}

bool CVetraCoreEngine::NeedFullUsrDictUpload() {
    return KernelNeedFullUsrDictUpload();
}

bool CVetraCoreEngine::DropEmptyUsrExtDict() {
    return KernelDropEmptyUsrExtDict();
}

bool CVetraCoreEngine::LoadTempUsrDict(const char* secondListPath, const char* listPath) {
    // The second list is optional; a given one must convert like the first.
    auto second = std::make_unique<t_wideArg>(secondListPath);
    auto list = std::make_unique<t_wideArg>(listPath);
    if (!list->Ok() || (secondListPath && !second->Ok())) return false;
    return ::LoadTempUsrDict(second->Get(), list->Get()) != 0;
}

static_assert(CVetraCoreEngine::kWideArgChars == kMergePathChars);

bool CVetraCoreEngine::MergeUsrExtDictFile(const char* const* files, const uint16_t* subKinds,
                                           const uint16_t* kinds, int32_t count) {
    if (!files || count < 1) return false;
    if (count > kMergeFilesMax) count = kMergeFilesMax;
    std::unique_ptr<wchar_t[][kMergePathChars]> paths(new (std::nothrow)
                                                          wchar_t[size_t(count)][kMergePathChars]);
    if (!paths) return false;
    for (int32_t i = 0; i < count; ++i) {
        auto wide = std::make_unique<t_wideArg>(files[i]);
        if (!wide->Ok()) return false;
        wcscpy(paths[i], wide->Get());
    }
    return ::MergeUsrExtDictFile(paths.get(), subKinds, kinds, count) != 0;
}

int32_t CVetraCoreEngine::PrepareUsrDictUpload(char* out1, char* out2, uint32_t size) {
    auto base = std::make_unique<wchar_t[]>(kWideArgChars);
    auto added = std::make_unique<wchar_t[]>(kWideArgChars);
    const int32_t r = ::PrepareUsrDictUpload(base.get(), added.get(), int32_t(kWideArgChars));
    if (r < 1) return r;
    if (!WideToUtf8Out(base.get(), out1, size) || !WideToUtf8Out(added.get(), out2, size))
        return -1;
    return r;
}

bool CVetraCoreEngine::CommitUsrDictUpload() {
    return KernelCommitUsrDictUpload();
}

bool CVetraCoreEngine::NotifyUsrDictExtChanged() {
    return ::NotifyUsrDictExtChanged() != 0;
}

bool CVetraCoreEngine::NotifyUsrDictV3Changed() {
    return ::NotifyUsrDictV3Changed() != 0;
}

bool CVetraCoreEngine::ImportUsrDict(const char* path, uint32_t* wordCount) {
    if (wordCount) *wordCount = 0;
    auto wide = std::make_unique<t_wideArg>(path);
    if (!wide->Ok()) return false;
    int32_t n = 0;
    const bool ok = OpenOrConvertUsrDict(wide->Get(), &n) != 0;
    if (wordCount) *wordCount = uint32_t(n);
    return ok;
}

bool CVetraCoreEngine::ReplaceUsrDictInSteps(
    const char* path, bool restore, uint32_t* wordCount,
    const std::function<void(const std::function<void()>&)>& locked, const uint64_t* mark) {
    if (wordCount) *wordCount = 0;
    auto wide = std::make_unique<t_wideArg>(path);
    if (!wide->Ok()) return false;
    int32_t n = 0;
    const bool ok = KernelReplaceUsrDict(wide->Get(), restore, &n, locked, mark);
    if (wordCount) *wordCount = ok ? uint32_t(n) : 0;
    return ok;
}

uint64_t CVetraCoreEngine::UsrDictChangeMark() {
    return KernelUsrDictChangeMark();
}

bool CVetraCoreEngine::ImportUsrDictSince(uint64_t mark, const char* path, uint32_t* wordCount) {
    return ReplaceUsrDictInSteps(
        path, false, wordCount, [](const std::function<void()>& step) { step(); }, &mark);
}

bool CVetraCoreEngine::RestoreUsrDictSince(uint64_t mark, const char* path) {
    return ReplaceUsrDictInSteps(
        path, true, nullptr, [](const std::function<void()>& step) { step(); }, &mark);
}

bool CVetraCoreEngine::RemoveUsrDictSince(uint64_t mark) {
    return KernelRemoveUsrDict(&mark);
}

bool CVetraCoreEngine::BackupUsrDictSince(uint64_t mark, const char* path, uint32_t* status) {
    return BackupUsrDictInSteps(
        path, status, [](const std::function<void()>& step) { step(); }, &mark);
}

bool CVetraCoreEngine::RestoreUsrDict(const char* path) {
    auto wide = std::make_unique<t_wideArg>(path);
    return wide->Ok() && OpenOrConvertUsrDictMode1(wide->Get()) != 0;
}

bool CVetraCoreEngine::BackupUsrDict(const char* path, uint32_t* wordCount) {
    if (wordCount) *wordCount = 0;
    auto wide = std::make_unique<t_wideArg>(path);
    if (!wide->Ok()) return false;
    int32_t status = 0;
    const bool ok = KernelBackupUsrDictV3(wide->Get(), &status) != 0;
    if (wordCount) *wordCount = uint32_t(status);
    return ok;
}

bool CVetraCoreEngine::BackupUsrDictInSteps(
    const char* path, uint32_t* status,
    const std::function<void(const std::function<void()>&)>& locked, const uint64_t* mark) {
    if (status) *status = 0;
    auto wide = std::make_unique<t_wideArg>(path);
    if (!wide->Ok()) return false;
    if (KernelIsAccountsTarget(wide->Get())) return false;
    int32_t result = 0;
    const bool ok = BackupUsrDictV3InSteps(wide->Get(), &result, locked, mark) != 0;
    if (status) *status = uint32_t(result);
    return ok;
}

bool CVetraCoreEngine::RemoveUsrDict() {
    return KernelRemoveUsrDict();
}

IVetraCoreQuickInputResult* CVetraCoreEngine::QueryQuickInput(uint32_t page, uint32_t filter1,
                                                              uint32_t filter2) {
    std::vector<t_quickInputRecord> records;
    IVetraCoreQuickInputResult* result = nullptr;
    if (page <= 0x7FFFFFFF &&
        GetQuickInputList(int32_t(page), uint16_t(filter1), uint16_t(filter2), records) &&
        !records.empty())
        result = QuickInputList(records);
    for (t_quickInputRecord& record : records) FreeRecordBuffers(record);
    return result;
}
