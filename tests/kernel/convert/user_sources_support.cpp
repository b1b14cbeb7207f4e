#include "tests/kernel/convert/user_sources_support.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <list>
#include <memory>

#include "kernel/lexicon/string_dict_user.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/deleted_words.h"
#include "kernel/userdict/fixed_words.h"
#include "kernel/userdict/phrase_dict.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/convert/convert_support.h"
#include "tests/support/test_dir.h"

namespace usersrc {

namespace {
std::list<std::vector<uint8_t>> g_images;
std::vector<t_dictStorageBase*> g_attached;
}  // namespace

bool EnsureConfiguration() {
    static std::unique_ptr<testsupport::t_testDir> home;
    static const bool ok = [] {
        home = std::make_unique<testsupport::t_testDir>("vetra-sources-home");
        setenv("HOME", home->Path().c_str(), 1);
        return t_singleton<t_versionManager>::Get().Init() &&
               t_singleton<t_configurationImpl>::Get().Init();
    }();
    return ok;
}

bool ResetUserStores() {
    std::vector<uint8_t> phrases, fixed, deleted, eng, url, cloud;
    if (!t_abbrUsrDict::BuildImageWithRoom(phrases, 100, 4000, 20000) ||
        !t_fixFirstDict::BuildImage(fixed, 100) || !t_delWordDict::BuildImage(deleted, 100, 2000) ||
        !t_strUsrDict::BuildDefaultImage(eng) || !t_strUsrDict::BuildDefaultImage(url) ||
        !t_cloudCacheDict::BuildImage(cloud, 100, 4000))
        return false;
    std::vector<uint8_t>& engKept = g_images.emplace_back(std::move(eng));
    std::vector<uint8_t>& urlKept = g_images.emplace_back(std::move(url));
    return t_singleton<t_abbrUsrDict>::Get().AttachCopy(phrases.data(), phrases.size()) &&
           t_singleton<t_fixFirstDict>::Get().AttachCopy(fixed.data(), fixed.size()) &&
           t_singleton<t_delWordDict>::Get().AttachCopy(deleted.data(), deleted.size()) &&
           t_singleton<t_cloudCacheDict>::Get().AttachCopy(cloud.data(), cloud.size()) &&
           t_singleton<t_engUsrDict>::Get().Load(engKept.data(), int32_t(engKept.size())) &&
           t_singleton<t_urlUsrDict>::Get().Load(urlKept.data(), int32_t(urlKept.size())) &&
           t_singleton<t_usrDictV3Core>::Get().CreateEmpty(kUsrDefaultCapacity);
}

bool AttachSystemImage(t_dictStorageBase& dict, std::vector<uint8_t> bytes) {
    std::vector<uint8_t>& kept = g_images.emplace_back(std::move(bytes));
    if (kept.empty() || !dict.Load(kept.data(), int32_t(kept.size()))) return false;
    g_attached.push_back(&dict);
    return true;
}

bool AttachBuiltFile(t_dictStorageBase& dict, const std::string& name) {
    const std::string dir = convtest::BuiltDataDir();
    if (dir.empty()) return false;
    std::ifstream in(dir + "/" + name, std::ios::binary);
    return in &&
           AttachSystemImage(dict, std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

void DetachSystemImages() {
    for (t_dictStorageBase* d : g_attached) d->SetReady(false);
    g_attached.clear();
}

std::vector<std::wstring> t_arrayRun::Page() {
    std::vector<std::wstring> texts;
    const int n = array.Arrange();
    for (int i = 0; i < n; ++i) texts.push_back(out[i] ? Wide(out[i]->text) : L"");
    return texts;
}

std::wstring Wide(const t_lstr* s) {
    std::wstring w;
    for (uint32_t i = 0; s && i < LstrGetLength(s); ++i) w += wchar_t(LstrGetUnit(s, i));
    return w;
}

}  // namespace usersrc
