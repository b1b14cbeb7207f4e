// Record texts and generated locales for the special-input tests.
#include "tests/kernel/convert/special_input_support.h"

#include <spawn.h>
#include <sys/wait.h>

#include <clocale>
#include <cstdlib>

#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/text_helpers.h"

extern char** environ;

namespace convert_test {

std::vector<t_recordText> RecordTexts(t_candWord* const* records, int count) {
    std::vector<t_recordText> out;
    t_scopeHeap heap;
    for (int i = 0; i < count; ++i) {
        std::wstring text;
        if (const uint32_t* cp = LstrToCodePoints(heap, records[i]->text))
            for (; *cp; ++cp) text += wchar_t(*cp);
        out.push_back({text, records[i]->sourceType});
    }
    return out;
}

std::vector<std::wstring> Texts(t_candWord* const* records, int count) {
    std::vector<std::wstring> out;
    for (const t_recordText& r : RecordTexts(records, count)) out.push_back(r.text);
    return out;
}

namespace {

// Tried through setlocale: glibc's newlocale leaks its copy of LOCPATH.
// The tests run in the C locale, which this restores.
bool Loadable(const char* name) {
    const bool ok = std::setlocale(LC_ALL, name) != nullptr;
    std::setlocale(LC_ALL, "C");
    return ok;
}

}  // namespace

t_testLocale::t_testLocale(const char* name, const char* source) {
    if (Loadable(name)) {
        m_ready = true;
        return;
    }
    if (m_dir.Path().empty()) return;
    const std::string target = m_dir.At(name);
    const char* argv[] = {"localedef", "-i", source, "-f", "UTF-8", target.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "localedef", nullptr, nullptr, const_cast<char* const*>(argv),
                     environ) != 0)
        return;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return;
    setenv("LOCPATH", m_dir.Path().c_str(), 1);
    m_setPath = true;
    m_ready = Loadable(name);
}

t_testLocale::~t_testLocale() {
    if (m_setPath) unsetenv("LOCPATH");
}

}  // namespace convert_test
