// Helpers of the special-input tests: the texts of made records, and a
// locale the test can switch to (generated when the system lacks it).
// One thread.
#pragma once

#include <string>
#include <vector>

#include "kernel/runtime/cand_word.h"
#include "tests/support/test_dir.h"

namespace convert_test {

struct t_recordText {
    std::wstring text;
    int sourceType;
};

// The text and source type of each record.
std::vector<t_recordText> RecordTexts(t_candWord* const* records, int count);
// The texts alone.
std::vector<std::wstring> Texts(t_candWord* const* records, int count);

// Makes a locale such as "zh_CN.UTF-8" loadable. When the system has not
// got it, it is generated with localedef into a temporary directory that
// LOCPATH then names; the directory goes with the object.
class t_testLocale {
public:
    t_testLocale(const char* name, const char* source);
    ~t_testLocale();
    bool Ready() const { return m_ready; }

private:
    testsupport::t_testDir m_dir{"vetra-locale"};
    bool m_ready = false;
    bool m_setPath = false;
};

}  // namespace convert_test
