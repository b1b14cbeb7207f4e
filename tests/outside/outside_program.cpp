// A program outside the kernel's folders: it includes only the public
// header and links vetra_kernel (from the build tree, or an installed copy
// through the CMake package or pkg-config), starts the kernel on the system
// data given as its argument and checks what a user would, and that a
// function of its own named like a kernel-internal one leaves the kernel's
// alone. Exit 0 when all holds, 1 on a failed check, 77 without system data.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <vetra/vetra_kernel.h>

namespace {

int g_failures = 0;
int g_ownSyncCalls = 0;

void Check(bool ok, const char* what, const wchar_t* input) {
    if (ok) return;
    std::fprintf(stderr, "outside_program: %s failed for %ls\n", what, input);
    ++g_failures;
}

std::u16string Text(const t_candWord* candidate) {
    size_t n = 0;
    const uint16_t* units = GetCandidateText(candidate, &n);
    return units ? std::u16string(units, units + n) : std::u16string();
}

}  // namespace

// A function of this program that shares its name with one inside the
// kernel: the kernel's saves must keep calling their own.
bool SyncParentDir(const char*) {
    ++g_ownSyncCalls;
    return true;
}

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc < 2 || !fs::exists(fs::path(argv[1]) / "qzim_core.bin")) return 77;
    const char* tmp = std::getenv("TMPDIR");
    std::string root =
        (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/vetra-outside-XXXXXX";
    if (!mkdtemp(root.data())) return 1;
    setenv("HOME", root.c_str(), 1);  // the kernel's lock files stay in here
    const std::string data = argv[1];
    const std::wstring user = fs::path(root + "/user").wstring(), sys = fs::path(data).wstring();

    InitDictionaries(L"outside", user.c_str(), sys.c_str(), user.c_str(), L"test", nullptr, 1, 0,
                     nullptr);
    t_kernelOptions options;
    SetKernelOptions(&options);
    Check(RegisterKeyPyMap(0) == 1, "start-up", sys.c_str());
    Check(AddUsrPhrase(L"vxyz", L"外面的短语", 1) == 1, "adding a phrase", L"vxyz");

    const struct {
        const wchar_t* input;
        std::u16string first;
        uint32_t covered;
        uint16_t source;
    } cases[] = {
        {L"v1+2", u"3", 4, 25},          {L"ABC", u"ABC", 3, 17},      {L"uhh", u"二", 3, 28},
        {L"vxyz", u"外面的短语", 4, 14}, {L"zhongguo", u"中国", 8, 0},
    };
    t_candWord* results[60];
    for (const auto& c : cases) {
        std::wstring input = c.input;
        uint8_t scratch[kConvertScratchBytes] = {};
        const int n =
            ConvertInput(input.data(), results, scratch, 0, 60, nullptr, nullptr, 0, 0, 0, nullptr);
        Check(n > 0, "conversion", c.input);
        if (n <= 0) continue;
        Check(Text(results[0]) == c.first, "first text", c.input);
        Check(GetCandidateCoveredLength(results[0]) == c.covered, "covered length", c.input);
        Check(GetCandidateSourceType(results[0]) == c.source, "source type", c.input);
    }
    // A word learned with its reading counts among the user's words.
    std::wstring input = L"zhongguo";
    uint8_t scratch[kConvertScratchBytes] = {};
    if (ConvertInput(input.data(), results, scratch, 0, 60, nullptr, nullptr, 0, 0, 0, nullptr) >
        0) {
        Check(LearnCommittedText(L"中国", GetCandidateSyllables(results[0]), 0) == 1, "learning",
              input.c_str());
        int64_t words = 0;
        Check(GetUserWordTotal(&words) == 1 && words >= 1, "user word total", input.c_str());
    }
    ShutdownDictionaries();  // saves the phrase and the learned word
    Check(g_ownSyncCalls == 0, "the kernel's own directory sync", L"SyncParentDir");
    fs::remove_all(root);
    return g_failures ? 1 : 0;
}
