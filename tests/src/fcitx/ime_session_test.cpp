// The input method's composition logic with a fake engine and host: output
// string, segments, key rules, commit limits and learning.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/src/fcitx/fake_engine.h"

namespace {

struct t_sel {
    const char* text;
    uint32_t covered;
};

void Compose(t_imeSession& session, const char* raw, int cursor, std::vector<t_sel> sels = {},
             std::vector<int> segEnds = {}) {
    t_composition& s = session.State();
    s.rawLength = int32_t(strlen(raw));
    memcpy(s.raw, raw, size_t(s.rawLength) + 1);
    s.cursor = cursor;
    for (const t_sel& sel : sels) {
        FillSelectionRecord(&s.selections[s.selectionCount++], 0, nullptr, sel.covered, sel.text);
        s.consumed += int32_t(sel.covered);
    }
    s.conversionStart = s.consumed;
    s.segCount = int32_t(segEnds.size());
    for (size_t i = 0; i < segEnds.size(); ++i) s.segEnds[i] = segEnds[i];
}

// The input with a '|' where the cursor stands.
std::pair<std::string, int> AtCursor(const std::string& text) {
    const size_t bar = text.find('|');
    std::string raw = text;
    raw.erase(bar, 1);
    return {raw, int(bar)};
}

TEST(ImeOutputString, SeparatorsSelectionsAndCursorShift) {
    const std::vector<t_sel> chose = {{"你好", 5}}, three = {{"我", 2}, {"爱", 1}, {"你", 2}};
    struct Case {
        const char* name;
        const char* raw;  // '|' marks the cursor
        std::vector<int> segs;
        const char* output;
        int shift;
        std::vector<t_sel> sels = {};
        const char* sep = "'";
    } cases[] = {
        {"syllables apart", "nihao|", {0, 2, 5}, "ni'hao", 1},
        {"cursor inside: later ones do not shift", "ni|haoma", {0, 2, 5, 7}, "ni'hao'ma", 0},
        {"typed apostrophe is not doubled", "xi'an|", {0, 3, 5}, "xi'an", 0},
        {"no separator", "nihao|", {0, 2, 5}, "nihao", 0, {}, nullptr},
        {"selections then the rest", "nihaoma|", {0, 2}, "你好ma", 1, chose},
        {"letters past the last segment", "nihaoma|", {0, 2, 5}, "ni'hao'ma", 2},
        {"right after a selection only it", "nihaoma|", {}, "你好", 1, chose},
        {"three selections and pinyin", "woaini|", {0, 1}, "我爱你i", 4, three},
    };
    for (const Case& c : cases) {
        t_imeSession session;
        const auto [raw, cursor] = AtCursor(c.raw);
        Compose(session, raw.c_str(), cursor, c.sels, c.segs);
        EXPECT_EQ(session.BuildOutputString(c.sep), c.shift) << c.name;
        EXPECT_EQ(session.Output(), c.output) << c.name;
    }
}

TEST(ImeSegments, RebuiltFromInputEnds) {
    struct Case {
        const char* name;
        std::vector<int> ends;
        bool element;
        std::vector<int> expected;
    } cases[] = {
        {"per character", {2, 5, 7}, true, {0, 2, 5, 7}},
        {"no input ends: the input length", {}, true, {0, 0}},
        {"no element: the whole input", {}, false, {0, 7}},
    };
    for (const Case& c : cases) {
        t_imeSession session;
        Compose(session, "nihaoma", 7);
        fakes::t_element element("你好吗", c.ends);
        session.RebuildSegments(c.element ? &element : nullptr);
        const t_composition& s = session.State();
        EXPECT_EQ(std::vector<int>(s.segEnds, s.segEnds + s.segCount), c.expected) << c.name;
    }
    // Ends past the segment room stop there instead of overrunning it.
    t_imeSession session;
    Compose(session, "a", 1);
    std::vector<int> many(100);
    for (int i = 0; i < 100; ++i) many[size_t(i)] = i + 1;
    fakes::t_element long_element("x", many);
    session.RebuildSegments(&long_element);
    EXPECT_EQ(session.State().segCount, kSegmentMax);
}

TEST(ImeKeys, RulesAndReturnValues) {
    const uint32_t ctrl = FcitxKeyState_Ctrl;
    const int show = IRV_DISPLAY_CANDWORDS, pass = IRV_TO_PROCESS, none = IRV_DO_NOTHING;
    const std::vector<t_sel> chose = {{"你好", 5}};
    struct Case {
        const char* name;
        const char* before;  // '|' marks the cursor
        t_keyEvent key;
        int ret;
        const char* after;
        std::vector<t_sel> sels = {};
        int selectionsAfter = 0;
        int windowSize = 5;
    } cases[] = {
        {"letter starts the input", "|", {'n', 0, true}, show, "n|"},
        {"apostrophe on empty input goes on", "|", {'\'', 0, true}, pass, "|"},
        {"apostrophe after a letter", "xi|", {'\'', 0, true}, show, "xi'|"},
        {"letter inserted at the cursor", "n|hao", {'i', 0, true}, show, "ni|hao"},
        {"digit beyond the page is input", "ni|", {'5', 0, true}, show, "ni5|", {}, 0, 3},
        {"digit on the page chooses", "ni|", {'2', 0, true}, pass, "ni|", {}, 0, 3},
        {"zero is input", "ni|", {'0', 0, true}, show, "ni0|", {}, 0, 3},
        {"plus after a digit is input", "v1|", {'+', 0, true}, show, "v1+|"},
        {"keypad digit is input", "ni|", {FcitxKey_KP_7, 0, false}, show, "ni7|"},
        {"digit on the page is input after v", "v1|", {'2', 0, true}, show, "v12|"},
        {"operator after v is input", "v|", {'+', 0, true}, show, "v+|"},
        {"BackSpace removes before the cursor", "nihao|", {FcitxKey_BackSpace}, show, "niha|"},
        {"BackSpace of the last letter ends", "n|", {FcitxKey_BackSpace}, IRV_CLEAN, "|"},
        {"BackSpace after a selection", "nihaoma|", {FcitxKey_BackSpace}, show, "nihaoma|", chose},
        {"Delete at the end is swallowed", "ni|", {FcitxKey_Delete}, none, "ni|"},
        {"Delete inside", "n|ihao", {FcitxKey_Delete}, show, "n|hao"},
        {"Right at the end wraps", "nihaoma|", {FcitxKey_Right}, show, "nihao|ma", chose, 1},
        {"Left at 0 wraps to the end", "|nihao", {FcitxKey_Left}, show, "nihao|"},
        {"Left at the consumed position", "nihao|ma", {FcitxKey_Left}, show, "nihao|ma", chose},
        {"End at the end is swallowed", "ni|", {FcitxKey_End}, none, "ni|"},
        {"Ctrl+C is swallowed", "ni|", {'C', ctrl}, none, "ni|"},
        {"Tab is swallowed", "ni|", {FcitxKey_Tab}, none, "ni|"},
        {"other keys go on", "ni|", {FcitxKey_F1}, pass, "ni|"},
        {"arrows without input go on", "|", {FcitxKey_Left}, pass, "|"},
    };
    for (const Case& c : cases) {
        t_imeSession session;
        fakes::t_host host;
        host.windowSize = c.windowSize;
        const auto [raw, cursor] = AtCursor(c.before);
        Compose(session, raw.c_str(), cursor, c.sels);
        EXPECT_EQ(session.DoInput(c.key, host), c.ret) << c.name;
        const t_composition& s = session.State();
        EXPECT_EQ(AtCursor(c.after), std::make_pair(std::string(s.raw), int(s.cursor))) << c.name;
        EXPECT_EQ(s.selectionCount, c.selectionsAfter) << c.name;
    }
}

TEST(ImeKeys, FullInputRefusesTheNextLetterVisibly) {
    t_imeSession session;
    fakes::t_host host;
    const std::string full(kRawInputMax, 'a');
    Compose(session, full.c_str(), kRawInputMax);
    EXPECT_EQ(session.DoInput({'b', 0, true}, host), IRV_DISPLAY_CANDWORDS);
    EXPECT_EQ(std::string(session.State().raw), full);
    EXPECT_TRUE(session.InputFull());
    session.DoInput({FcitxKey_BackSpace}, host);
    EXPECT_FALSE(session.InputFull());
}

TEST(ImeKeys, PagingAndHighlight) {
    struct Case {
        const char* name;
        int highlight;
        t_keyEvent key;
        int after;
    } cases[] = {
        {"previous page on the first page", 2, {FcitxKey_minus, 0, false, true, false}, 0},
        {"next page", 2, {FcitxKey_equal, 0, false, false, true}, 5},
        {"next page stops at the last page", 17, {FcitxKey_equal, 0, false, false, true}, 15},
        {"Down", 4, {FcitxKey_Down}, 5},
        {"Down stops at the last candidate", 19, {FcitxKey_Down}, 19},
        {"Up stops at the first", 0, {FcitxKey_Up}, 0},
        {"Page_Down", 2, {FcitxKey_Page_Down}, 5},
        {"Page_Up", 7, {FcitxKey_Page_Up}, 0},
    };
    for (const Case& c : cases) {
        t_imeSession session;
        fakes::t_host host;  // 20 candidates, pages of 5
        Compose(session, "ni", 2);
        session.State().highlight = c.highlight;
        EXPECT_EQ(session.DoInput(c.key, host), IRV_DISPLAY_CANDWORDS) << c.name;
        EXPECT_EQ(session.State().highlight, c.after) << c.name;
        EXPECT_TRUE(session.State().highlightMoved) << c.name;
    }
}

TEST(ImeKeys, SpaceChoosesTheHighlightAndEnterCommitsTheLetters) {
    fakes::t_engine engine;
    t_imeSession session;
    session.SetEngine(&engine);
    fakes::t_host host;
    Compose(session, "v1", 2);
    session.State().highlight = 7;
    EXPECT_EQ(session.DoInput({FcitxKey_space, 0, true}, host), IRV_COMMIT_STRING);
    EXPECT_EQ(host.chosen, 2);
    EXPECT_EQ(session.DoInput({FcitxKey_Return}, host), IRV_CLEAN);
    EXPECT_EQ(host.committed, std::vector<std::string>{"v1"});
    EXPECT_EQ(engine.english, std::vector<std::string>{"v1"});
}

TEST(ImeKeys, PunctuationAndSpaceCommitWhatIsComposed) {
    const int commit = IRV_COMMIT_STRING;
    struct Case {
        const char* name;
        const char* raw;
        int candidates;
        std::vector<uint32_t> keys;
        int ret;  // of the last key
        const char* output;
        const char* committed = "";
    } cases[] = {
        {"comma after pinyin: the candidate, then the mark", "nihao", 20, {','}, commit, "你好，"},
        {"no candidate: the typed text, then the mark", "u", 0, {','}, commit, "u，"},
        {"the mark alone without input", "", 0, {'.'}, IRV_DO_NOTHING, "", "。"},
        {"a point right after a digit stays", "", 0, {'3', '.'}, IRV_TO_PROCESS, ""},
        {"Space without candidates: the typed text", "v23+4", 0, {FcitxKey_space}, commit, "v23+4"},
    };
    for (const Case& c : cases) {
        fakes::t_engine engine;
        fakes::t_punctuation punctuation;
        t_imeSession session;
        session.SetEngine(&engine);
        session.SetPunctuation(&punctuation);
        fakes::t_host host;
        host.count = c.candidates;
        host.onChoose = [&](int) {
            t_selectionRecord* chosen = NewSelectionRecord(0, nullptr, 5, "你好");
            const int ret = session.CommitCandidate(chosen, host);
            free(chosen);
            return ret;
        };
        Compose(session, c.raw, int(strlen(c.raw)), {}, {0, int(strlen(c.raw))});
        int ret = -1;
        for (uint32_t key : c.keys) ret = session.DoInput({key, 0, key != FcitxKey_space}, host);
        EXPECT_EQ(ret, c.ret) << c.name;
        EXPECT_EQ(host.output, c.output) << c.name;
        std::string committed;
        for (const std::string& text : host.committed) committed += text;
        EXPECT_EQ(committed, c.committed) << c.name;
    }
}

TEST(ImeCommit, LongOutputGoesOutWhole) {
    struct Case {
        size_t bytes;
        int ret;
        bool direct;
    } cases[] = {
        {1800, IRV_COMMIT_STRING, false}, {1801, IRV_CLEAN, true}, {5000, IRV_CLEAN, true}};
    for (const Case& c : cases) {
        fakes::t_engine engine;
        t_imeSession session;
        session.SetEngine(&engine);
        fakes::t_host host;
        const std::string text(c.bytes - 1, 'x');
        Compose(session, "ab", 2);
        // Selections of up to 1000 bytes each make up the text; the last covers the input.
        t_composition& s = session.State();
        s.selectionCount = 0;
        for (size_t done = 0; done < text.size(); done += 1000)
            FillSelectionRecord(&s.selections[s.selectionCount++], 0, nullptr, 0,
                                text.substr(done, 1000).c_str());
        auto last = NewSelectionRecord(0, nullptr, 2, "y");
        EXPECT_EQ(session.CommitCandidate(last, host), c.ret) << c.bytes;
        free(last);
        const std::string& got =
            c.direct ? (host.committed.empty() ? "" : host.committed[0]) : host.output;
        EXPECT_EQ(got, text + "y") << c.bytes;
    }
}

TEST(ImeCommit, SixtyThreeSelectionsAndACursorPrefixBothCommit) {
    // The first conversion's first candidate 你好吗 ends at 2, 5, 7: with the
    // cursor behind "nihao" its prefix is 你好.
    fakes::t_element first("你好吗", {2, 5, 7});
    fakes::t_result result({&first});
    fakes::t_engine engine;
    t_imeSession session;
    session.SetEngine(&engine);
    fakes::t_host host;
    std::vector<t_sel> sels(63, t_sel{"字", 0});
    Compose(session, "nihaoma", 5, sels, {0, 2, 5, 7});
    session.KeepFirstResult(&result);
    ASSERT_TRUE(session.UpdateCursorPrefix());
    EXPECT_STREQ(session.CursorPrefix()->text, "你好");
    fakes::t_element ma("吗", {2});
    auto chosen = NewSelectionRecord(1, &ma, 2, "吗");
    session.State().conversionStart = 5;
    EXPECT_EQ(session.CommitCandidate(chosen, host), IRV_COMMIT_STRING);
    free(chosen);
    std::string expected;
    for (int i = 0; i < 63; ++i) expected += "字";
    EXPECT_EQ(host.output, expected + "你好吗");
    EXPECT_EQ(session.State().selectionCount, kSelectionMax + 1);
    EXPECT_EQ(first.truncatedTo, 2u);  // the prefix learns as its two characters
    session.Reset();
    EXPECT_EQ(first.refs, 1);
    EXPECT_EQ(ma.refs, 1);
}

TEST(ImeLearning, WhatACommitLearns) {
    struct Case {
        const char* name;
        const char* raw;
        bool selection;
        int conversionStart;
        const char* word;
        const char* english;
        bool latinChoice = false;  // an English candidate chosen after the selection
    } cases[] = {
        {"letters alone: an English word", "abc", false, 0, nullptr, "abc"},
        {"a selection and letters left: the selection alone", "nihaoma", true, 5, "你好", nullptr},
        {"an English choice beside Chinese: nothing", "nihaoabc", true, 8, nullptr, nullptr, true},
        {"nothing left to learn", "", false, 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        fakes::t_element word("你好", {2, 5});
        fakes::t_element latin("abc", {3});
        fakes::t_engine engine;
        fakes::t_saver saver;
        t_imeSession session;
        session.SetEngine(&engine);
        session.SetSaver(&saver);
        Compose(session, c.raw, int(strlen(c.raw)));
        t_composition& s = session.State();
        if (c.selection)
            FillSelectionRecord(&s.selections[s.selectionCount++], 0, &word, 5, "你好");
        if (c.latinChoice)
            FillSelectionRecord(&s.selections[s.selectionCount++], 0, &latin, 3, "abc");
        s.conversionStart = c.conversionStart;
        session.CommitAndLearn();
        EXPECT_EQ(engine.learned,
                  c.word ? std::vector<std::string>{c.word} : std::vector<std::string>{})
            << c.name;
        EXPECT_EQ(engine.english,
                  c.english ? std::vector<std::string>{c.english} : std::vector<std::string>{})
            << c.name;
        EXPECT_EQ(session.LearnCount(), c.word || c.english ? 1 : 0) << c.name;
        EXPECT_EQ(saver.requests, session.LearnCount()) << c.name;  // every learning is saved
    }
}

}  // namespace
