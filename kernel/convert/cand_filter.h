// The candidate filters a candidate array consults: the outer filter that
// refuses private-use characters, and the partitioned-character filter that
// keeps only candidates matching a typed auxiliary code.
// One conversion, one thread per filter object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kernel/convert/aux_code.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"

// Refuses a text with a character in U+E000..U+E700 among its first 128
// units, and an empty text, while the supported-character table is loaded;
// accepts everything else. Wide texts are always accepted.
class t_outterCandFilter : public i_candidateFilter {
public:
    int AcceptWide(const wchar_t* text) override;
    int AcceptLstr(const t_lstr* text) override;
};

// Accepts a text whose Chinese characters are all common ones, those of
// GB 2312 (its 6,763 characters); refuses one with a rarer character (and
// every Chinese character when the code converter knows no GBK). Wide
// texts are always accepted.
class t_commonCharFilter : public i_candidateFilter {
public:
    int AcceptWide(const wchar_t* text) override;
    int AcceptLstr(const t_lstr* text) override;
};

// Keeps the candidates whose characters match the auxiliary code; without
// a code it keeps everything.
class t_partionedZiFilter : public i_candidateFilter {
public:
    explicit t_partionedZiFilter(const t_auxCodeServices& services = t_auxCodeServices::Kernel());
    ~t_partionedZiFilter() override;

    int AcceptWide(const wchar_t* text) override;
    int AcceptLstr(const t_lstr* text) override;
    // Matcher, code arcs and stroke annex all set.
    bool IsReady() const { return m_matcher && m_arcs && m_services.annex; }
    t_auxCodeMatcher* GetMatcher() { return m_matcher.get(); }

private:
    friend int ParseAuxCode(t_partionedZiFilter*, std::wstring*, t_scopeHeap*, const wchar_t*);
    t_auxCodeServices m_services;
    std::wstring m_code;
    std::unique_ptr<t_auxCodeArcs> m_arcs;
    std::unique_ptr<t_auxCodeMatcher> m_matcher;
};

// Sets the filter up for the code (an empty or null code leaves it keeping
// everything). 1 on success; 0, with "为辅助码的解析申请空间失败" appended to
// *error and the filter keeping everything, when no room can be had.
int ParseAuxCode(t_partionedZiFilter* filter, std::wstring* error, t_scopeHeap* pool,
                 const wchar_t* code);
