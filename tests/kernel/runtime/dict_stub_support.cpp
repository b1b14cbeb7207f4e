// Stand-in dictionary, temporary directories and the kernel registry for the
// dictionary tests.
#include "tests/kernel/runtime/dict_stub_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "kernel/runtime/singleton.h"
#include "tests/support/test_dir.h"

namespace {

constexpr char kMagic[4] = {'V', 'T', 'S', 'T'};

// One tree per test process. The directory names inside it stay the same
// from test to test, so the version names built from file paths repeat
// instead of filling the version table.
struct t_testRoot {
    std::string path;
    pid_t owner = getpid();
    t_testRoot() {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vetra-dict-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) abort();
        path = buf.data();
        mkdir((path + "/home").c_str(), 0700);
    }
    ~t_testRoot() {
        if (getpid() == owner) testsupport::RemoveTree(path);
    }
};

const std::string& TestRoot() {
    static t_testRoot root;
    return root.path;
}

}  // namespace

std::atomic<time_t> g_testNow{0};
time_t TestClock() {
    return g_testNow.load();
}

bool FailWithNoSpace(int, const void*, size_t) {
    errno = ENOSPC;
    return false;
}

std::atomic<int> g_writes{0};
bool CountingWrite(int fd, const void* data, size_t size) {
    ++g_writes;
    return write(fd, data, size) == ssize_t(size);
}

t_versionManager& Versions() {
    return t_singleton<t_versionManager>::Get();
}

std::string MakeStubImage(const std::string& payload) {
    std::string image(kMagic, sizeof kMagic);
    const uint32_t n = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) image.push_back(static_cast<char>((n >> (8 * i)) & 0xff));
    return image + payload;
}

bool ParseStubImage(const void* data, size_t size, std::string* payload) {
    if (!data || size < 8 || memcmp(data, kMagic, 4) != 0) return false;
    const auto* p = static_cast<const uint8_t*>(data);
    const uint32_t n =
        uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
    if (uint64_t(n) + 8 != size) return false;
    if (payload) payload->assign(reinterpret_cast<const char*>(p + 8), n);
    return true;
}

t_stubDict::t_stubDict() {
    for (auto& c : m_calls) c.store(0);
}

int32_t t_stubDict::ImageSize(int32_t size) const {
    if (GetStorageKind() != kStorageReserved || !GetEntry()) return size;
    const uint32_t room = GetEntry()->reserved;
    return room > uint32_t(size) ? -1 : size - static_cast<int32_t>(room);
}

bool t_stubDict::Load(void* data, int32_t size) {
    if (!data && size == 0) return false;  // letting go of the image: no load
    ++m_calls[kOpLoad];
    std::string payload;
    const int32_t imageSize = ImageSize(size);
    if (refuseAll || imageSize < 0 || !ParseStubImage(data, size_t(imageSize), &payload) ||
        payload == refusedPayload)
        return false;
    std::lock_guard<std::mutex> guard(m_mutex);
    m_payload = payload;
    return true;
}

bool t_stubDict::Save(const void* data, int32_t size) {
    ++m_calls[kOpSave];
    if (!data) {
        const std::string image = MakeStubImage(defaultPayload);
        return CommitImage(image.data(), int32_t(image.size()));
    }
    if (!ParseStubImage(data, size_t(size), nullptr)) return false;
    return CommitImage(data, size);
}

bool t_stubDict::OnFlush(void*, int32_t) {
    ++m_calls[kOpOnFlush];
    return true;
}

bool t_stubDict::Import(const void* data, int32_t size) {
    ++m_calls[kOpImport];
    std::string payload;
    if (!ParseStubImage(data, size_t(size), &payload) || payload == refusedPayload) return false;
    return WriteFile(data, size);
}

bool t_stubDict::Export(const void* data, int32_t size) {
    ++m_calls[kOpExport];
    const int32_t imageSize = ImageSize(size);
    return imageSize >= 0 && Backup(data, imageSize);
}

bool t_stubDict::LoadFromFile(const wchar_t* path) {
    ++m_calls[kOpLoadFromFile];
    char mb[1024];
    if (!path || wcstombs(mb, path, sizeof mb) == size_t(-1)) return false;
    const std::string text = GetFile(mb);
    if (text.empty()) return false;
    const std::string image = MakeStubImage(text);
    return CommitImage(image.data(), int32_t(image.size()));
}

bool t_stubDict::OnFileWritten(const wchar_t*) {
    ++m_calls[kOpOnFileWritten];
    if (GetStorageKind() != kStorageReserved) return true;
    // Like the user dictionary: it writes its own file from its block.
    t_dictEntry* entry = GetEntry();
    if (!entry->block.IsValid()) return false;
    const int32_t imageSize = ImageSize(entry->block.GetDataSize());
    return imageSize >= 0 && WriteFile(entry->block.GetData(), imageSize);
}

uint32_t t_stubDict::GetReservedSize(const void*, int32_t) {
    ++m_calls[kOpGetReservedSize];
    return reserved;
}

std::string t_stubDict::Payload() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_payload;
}

void DictTest::SetUp() {
    root = TestRoot();
    user = root + "/user";
    sys = root + "/sys";
    dict4 = root + "/dict4";
    ASSERT_NO_FATAL_FAILURE(env.Open(root + "/home", user, sys, dict4));
}

void DictTest::TearDown() {
    env.Close();
    SetDictWriteFunction(nullptr);
    SetDictClockFunction(nullptr);
    for (const std::string* dir : {&user, &sys, &dict4}) testsupport::RemoveTree(*dir);
}

std::wstring WideOf(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

bool PutFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return bool(out.flush());
}

std::string GetFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> NamesIn(const std::string& dir) {
    return testsupport::ListNames(dir);
}

std::string StampOf(time_t when) {
    struct tm local;
    localtime_r(&when, &local);
    char buf[32];
    strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &local);
    return buf;
}

const t_registryRow kKernelRegistry[31] = {
    {L"pydict", L"qzim_py.bin", 'P', 0, 1, 0, 2},
    {L"hzdict", L"qzim_hz.bin", 'P', 0, 1, 0, 2},
    {L"SysDict", L"qzim_core.bin", 'P', 0, 1, 0, 2},
    {L"AdjCache", L"qzim_adjcache.bin", 'T', 0, 1, 0, 2},
    {L"BhbshDict", L"qzim_annex.bin", 'P', 0, 1, 0, 2},
    {L"PyTipDict", L"qzim_tip.bin", 'T', 1, 1, 0, 2},
    {L"AbbrSysDict", L"qzim_phrases.bin", 'T', 0, 1, 0, 2},
    {L"TraditionDict", L"qzim_tra.bin", 'T', 0, 1, 0, 2},
    {L"QuickSysDict", L"qzim_quick.bin", 'T', 0, 1, 0, 2},
    {L"EngSysDict", L"qzim_eng.bin", 'P', 0, 1, 0, 2},
    {L"engpredict", L"qzim_eng_pre.bin", 'T', 0, 1, 0, 2},
    {L"UrlSysDict", L"qzim_url.bin", 'T', 0, 1, 0, 2},
    {L"UrlGuideDict", L"qzim_urlGuide.bin", 'T', 1, 1, 0, 2},
    {L"SupportCharDict", L"qzim_charvalid.bin", '0', 5, 1, 0, 2},
    {L"NumFreqAdjustDict", L"qzim_numFreqAdjust.bin", 'T', 1, 3, 0, 2},
    {L"infokeyict", L"qzim_infokey.bin", 'T', 1, 3, 0, 2},
    {L"infoblackict", L"qzim_blackIfk.bin", 'T', 1, 3, 0, 2},
    {L"smartinfo", L"qzim_smartInfo.bin", 'T', 1, 4, 0, 2},
    {L"PunctureDict", L"punctures.ini", '0', 5, 2, 0, 2},
    {L"CloudCachecDict", nullptr, 'T', 3, 0, 0, 2},
    {L"CloudCachecDictLongWord", nullptr, 'T', 3, 0, 0, 2},
    {L"UsrDict", L"qzim_usr_v3new.bin", 'P', 4, 3, 0x102, 10},
    {L"ExtDict", L"qzim_ext.bin", 'T', 1, 0, 0, 2},
    {L"UsrExtDict", L"qzim_usr_v3_ext.bin", 'T', 1, 0, 0, 2},
    {L"FixFirstDict", L"qzim_fix_first.bin", 'T', 1, 3, 0, 2},
    {L"DelWordDict", L"qzim_del_word.bin", 'P', 1, 0, 0, 2},
    {L"AbbrUsrDict", L"qzim_phrases.bin", 'T', 1, 0, 0, 2},
    {L"UserSpellModelDict", L"qzim_uspm.bin", 'T', 1, 0, 0, 2},
    {L"PrivilegeDict", L"qzim_privilege.bin", 'T', 1, 0, 0, 2},
    {L"EngUsrDict", L"qzim_eng_usr.bin", 'T', 1, 0, 0, 2},
    {L"UrlUsrDict", L"qzim_url_usr.bin", 'T', 1, 0, 0, 2},
};

uint32_t RegistryPolicy(const t_registryRow& row, int loadArgument) {
    switch (row.policy) {
        case 'P':
            return loadArgument ? 1 : 0;
        case 'T':
            return loadArgument ? 2 : 0;
        default:
            return 0;
    }
}
