// Conversion as a user meets it: starts the kernel on the system data with
// a fresh user directory, runs the candidate generator over every phrase of
// a calibration set and prints the exact first-candidate rate, the
// character accuracy of the first candidate, the top-5 rate and the time
// per keystroke (every prefix converted twice, a page of 2600 places).
//
// Usage: eval_convert --data DIR --calibration TSV [--min-exact PERCENT]
//                     [--errors N] [--show INPUT] [--no-timing 1] [--slow MS]
//                     [--correction 0] [--forecast 0] [--secondary 1]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kernel/api/kernel_startup.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/convert/cand_generator.h"
#include "kernel/runtime/lstr.h"
#include "tools/common/utf_text.h"

namespace {

using n_toolText::Utf16;
using n_toolText::Utf8;

std::u16string TextOf(const t_candWord* w) {
    if (!w) return {};
    const t_lstr* t = w->text;
    return t ? std::u16string(reinterpret_cast<const char16_t*>(LstrGetUnits(t)), LstrGetLength(t))
             : std::u16string();
}

// One conversion as the pinyin branch makes it (the engine asks for 2600
// places; the page size also decides how widely the word finder looks).
bool g_correction = true;
bool g_forecast = true;
bool g_secondary = false;

int Convert(t_candGenerator& generator, const std::wstring& input, uint32_t pageSize, t_candWord** results) {
    t_convertRequest request;
    request.input = input.c_str();
    request.inputLength = int32_t(input.size());
    request.pageSize = pageSize;
    request.allLowerCase = 1;
    request.correction = g_correction ? 1 : 0;
    request.names = 1;
    request.longWordHint = input.size() > 1 ? 1 : 0;
    request.secondaryCollection = g_secondary && input.size() <= 11 ? 1 : 0;
    return generator.Generate(&request, results);
}

double Percentile(std::vector<double>& v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    std::string data, calibration, show;
    double minExact = -1;
    int showErrors = 0;
    bool timing = true;
    double slowMs = 0;  // prints the keystrokes that take this long
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--data") data = v;
        else if (k == "--calibration") calibration = v;
        else if (k == "--min-exact") minExact = std::atof(v.c_str());
        else if (k == "--errors") showErrors = std::atoi(v.c_str());
        else if (k == "--show") show = v;
        else if (k == "--no-timing") timing = v != "1";
        else if (k == "--slow") slowMs = std::atof(v.c_str());
        else if (k == "--correction") g_correction = v != "0";
        else if (k == "--forecast") g_forecast = v != "0";
        else if (k == "--secondary") g_secondary = v != "0";
    }
    if (data.empty() || (calibration.empty() && show.empty())) {
        std::fprintf(stderr, "usage: eval_convert --data DIR --calibration TSV [--min-exact PERCENT] [--errors N] "
                             "[--show INPUT] [--no-timing 1] [--slow MS]\n");
        return 2;
    }
    char tmpl[] = "/tmp/vetra-eval-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::fprintf(stderr, "eval_convert: no temporary directory\n");
        return 2;
    }
    const std::string home = tmpl;
    std::filesystem::create_directories(home + "/user");
    setenv("HOME", home.c_str(), 1);
    const std::wstring user(home.begin(), home.end()), sys(data.begin(), data.end());
    const std::wstring userDir = user + L"/user";
    InitDictionaries(L"Vetra", userDir.c_str(), sys.c_str(), userDir.c_str(), L"eval", nullptr, 1, 0, nullptr);
    const bool keyMapReady = RegisterKeyPyMap(0) == 1;
    static t_candGenerator generator;
    // The default settings: long words forecast at place 2, two of them.
    generator.SetOptions(g_forecast ? 1 : 0, 2, 2, 4);
    static t_candWord* results[2600];
    int status = 0;
    if (!keyMapReady) {
        std::fprintf(stderr, "eval_convert: the system data in %s did not start\n", data.c_str());
        status = 2;
    } else if (!show.empty()) {
        const int n = Convert(generator, std::wstring(show.begin(), show.end()), 60, results);
        for (int i = 0; i < n; ++i)
            std::printf("%2d %s  kind %u source %u rank %d score %g\n", i + 1, Utf8(TextOf(results[i])).c_str(),
                        results[i]->kind, results[i]->sourceType, results[i]->rank, results[i]->score);
    } else {
        std::ifstream in(calibration);
        long phrases = 0, exact = 0, top5 = 0, chars = 0, rightChars = 0;
        std::vector<double> keystrokes;
        std::string line;
        while (in && std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
            if (t1 == std::string::npos) continue;
            const std::u16string phrase = Utf16(line.substr(0, t1));
            std::wstring typed;
            for (char c : line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos : t2 - t1 - 1))
                if (c != ' ') typed.push_back(wchar_t(c));
            if (typed.empty()) continue;
            const int n = std::min(Convert(generator, typed, 2600, results), 5);
            const std::u16string got = n > 0 ? TextOf(results[0]) : std::u16string();
            ++phrases;
            chars += long(phrase.size());
            if (got == phrase) ++exact;
            else if (showErrors-- > 0)
                std::printf("  %s -> %s\n", Utf8(phrase).c_str(), Utf8(got).c_str());
            for (int i = 0; i < n; ++i)
                if (TextOf(results[i]) == phrase) {
                    ++top5;
                    break;
                }
            for (size_t i = 0; i < phrase.size() && i < got.size(); ++i) rightChars += phrase[i] == got[i];
            if (!timing) continue;
            for (size_t k = 1; k <= typed.size(); ++k) {
                const std::wstring prefix = typed.substr(0, k);
                const auto t0 = std::chrono::steady_clock::now();
                Convert(generator, prefix, 2600, results);
                Convert(generator, prefix, 2600, results);
                const double ms =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
                keystrokes.push_back(ms);
                if (slowMs > 0 && ms >= slowMs)
                    std::printf("  slow %.2f ms: %s\n", ms, std::string(prefix.begin(), prefix.end()).c_str());
            }
        }
        if (phrases == 0) {
            std::fprintf(stderr, "eval_convert: no phrases in %s\n", calibration.c_str());
            status = 2;
        } else {
            const double exactShare = 100.0 * double(exact) / double(phrases);
            std::printf("generator: %ld phrases, exact first %.1f%%, characters %.1f%%, top-5 %.1f%%\n", phrases,
                        exactShare, 100.0 * double(rightChars) / double(chars),
                        100.0 * double(top5) / double(phrases));
            if (timing) {
                const size_t count = keystrokes.size();
                const double median = Percentile(keystrokes, 0.5), p99 = Percentile(keystrokes, 0.99);
                std::printf("per keystroke (%zu): median %.3f ms, p99 %.3f ms, max %.3f ms\n", count, median, p99,
                            keystrokes.empty() ? 0.0 : keystrokes.back());
            }
            if (minExact >= 0 && exactShare < minExact) {
                std::fprintf(stderr, "eval_convert: exact %.1f%% is below the floor %.1f%%\n", exactShare, minExact);
                status = 1;
            }
        }
    }
    ShutdownDictionaries();
    std::filesystem::remove_all(home);
    return status;
}
