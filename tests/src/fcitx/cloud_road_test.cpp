// The cloud answer's way into fcitx's candidate list, on a real fcitx list:
// where it is inserted, where the highlight mark ends up, the wake-up
// socket's draining, and which answers may be shown at all.
#include "src/fcitx/cloud_road.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <fcitx/ui.h>

#include "src/fcitx/ime_text.h"
#include "tests/src/fcitx/fake_engine.h"

namespace n_fcitx {
namespace {

constexpr uint8_t kMask = 0x5A;
constexpr int kPageSize = 5;

// A real fcitx candidate list of ordinary candidates (flag 0).
struct t_list {
    explicit t_list(const std::vector<std::string>& texts, int highlight = -1)
        : list(FcitxCandidateWordNewList()) {
        Fill(texts, highlight);
    }
    void Fill(const std::vector<std::string>& texts, int highlight) {
        FcitxCandidateWordReset(list);
        FcitxCandidateWordSetPageSize(list, kPageSize);
        for (size_t i = 0; i < texts.size(); ++i) {
            FcitxCandidateWord word = {};
            word.strWord = EncodeCandidateString(texts[i].c_str(), 0, "", kMask);
            word.wordType = int(i) == highlight ? MSG_CANDIATE_CURSOR : MSG_OTHER;
            word.priv = NewSelectionRecord(int32_t(i), nullptr, 0, texts[i].c_str());
            FcitxCandidateWordAppend(list, &word);
        }
    }
    ~t_list() { FcitxCandidateWordFreeList(list); }
    // "text/flag" per candidate, "*" after the one carrying the mark.
    std::string Shown() const {
        std::string out;
        for (int i = 0; i < FcitxCandidateWordGetListSize(list); ++i) {
            const FcitxCandidateWord* w = FcitxCandidateWordGetByTotalIndex(list, i);
            const auto* r = static_cast<const t_selectionRecord*>(w->priv);
            const bool cloud = r->tag == -1;
            out += std::string(r->text) + "/" + (cloud ? "1" : "0");
            if (w->strWord != EncodedCandidate(r->text, cloud ? 1 : 0, "", kMask)) out += "?";
            if (w->wordType == MSG_CANDIATE_CURSOR) out += "*";
            out += " ";
        }
        return out;
    }
    FcitxCandidateWordList* list;
};

TEST(CloudInsertTest, PlaceAndHighlightMark) {
    const t_cloudPlace none = t_cloudPlace::none, ins = t_cloudPlace::inserted,
                       rep = t_cloudPlace::replaced;
    const struct {
        const char* name;
        std::string texts;  // a candidate per letter
        int highlight;
        t_cloudPlace place;
        const char* shown;
    } cases[] = {
        {"empty list: nothing", "", 0, none, ""},
        {"one candidate: after it", "a", 0, ins, "a/0* C/1 "},
        {"two: second place", "ab", 0, ins, "a/0* C/1 b/0 "},
        {"three: second place", "abc", 0, ins, "a/0* C/1 b/0 c/0 "},
        {"mark above 1 stays at its place", "abcd", 3, ins, "a/0 C/1 b/0 c/0* d/0 "},
        {"mark at 1 goes to the answer", "abc", 1, ins, "a/0 C/1* b/0 c/0 "},
        {"same text replaces it in place", "abCd", 0, rep, "a/0* b/0 C/1 d/0 "},
        {"same text under the mark keeps it", "abCd", 2, rep, "a/0 b/0 C/1* d/0 "},
        {"same text on the second page", "abcdefC", 0, rep, "a/0* b/0 c/0 d/0 e/0 f/0 C/1 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> texts;
        for (char t : c.texts) texts.push_back(std::string(1, t));
        t_list list(texts, c.highlight);
        const bool inserted = c.place == ins;
        auto* composition = static_cast<t_composition*>(calloc(1, sizeof(t_composition)));
        composition->highlight = c.highlight;
        composition->cloudInserted = !inserted;
        fakes::t_element answer("C", {2});
        t_cloudInsertTarget target{list.list, composition, nullptr, nullptr, kMask};
        EXPECT_EQ(c.place, InsertCloudCandidate(target, &answer));
        EXPECT_EQ(c.shown, list.Shown());
        if (c.place != t_cloudPlace::none) {
            EXPECT_EQ(inserted, composition->cloudInserted);
            // The cloud candidate's record: tag -1, the element twice, its input.
            for (int i = 0; i < FcitxCandidateWordGetListSize(list.list); ++i) {
                const auto* r = static_cast<const t_selectionRecord*>(
                    FcitxCandidateWordGetByTotalIndex(list.list, i)->priv);
                if (r->tag != -1) continue;
                EXPECT_EQ(&answer, r->element);
                EXPECT_EQ(&answer, r->cloudElement);
                EXPECT_EQ(2u, r->coveredInput);
            }
        }
        free(composition);
    }
}

TEST(CloudWakeTest, DrainingEmptiesTheSocket) {
    for (size_t bytes : {size_t(1), size_t(7), size_t(1000)}) {
        SCOPED_TRACE(bytes);
        int pair[2];
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair));
        const std::string data(bytes, '\0');
        ASSERT_EQ(ssize_t(bytes), write(pair[1], data.data(), bytes));
        EXPECT_EQ(bytes, DrainWakeSocket(pair[0]));
        pollfd p{pair[0], POLLIN, 0};
        EXPECT_EQ(0, poll(&p, 1, 0)) << "still readable: select would spin";
        EXPECT_EQ(0u, DrainWakeSocket(pair[0]));
        close(pair[0]);
        close(pair[1]);
    }
}

// The road between helper, ids and list, driven as the input method does.
class CloudRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_composition = static_cast<t_composition*>(calloc(1, sizeof(t_composition)));
        m_list.Fill({"a", "b", "c"}, 0);
        ASSERT_TRUE(m_road.OpenWakeChannel());
        m_helper.SetWakeWriteEnd(m_road.TakeWriteEnd());
        m_road.Attach({nullptr, m_list.list, &m_helper, m_composition, nullptr, nullptr});
        n_cloud::CloudRequestIds().Reset();
    }
    void TearDown() override {
        m_helper.ReleasePending();
        m_road.ReleaseShown();
        m_road.CloseReadEnd();
        n_cloud::CloudRequestIds().Reset();
        free(m_composition);
    }
    // A refresh of `input` that asks under a new id, as the candidate refresh does.
    uint32_t Refresh(const char* input) {
        const uint32_t id = n_cloud::CloudRequestIds().Next();
        m_helper.SetRequestId(id);
        m_road.NoteRefresh(id, input);
        return id;
    }
    // The worker's hand-over of an answer to `id`; true when a byte woke us.
    bool Answer(uint32_t id) {
        auto* e = new n_cloud::t_cloudResultElement;
        e->text.push_back(u'云');  // assigning the literal trips a false -Wrestrict in GCC 12
        e->inputEnds = {2};
        e->inputLength = 2;
        e->requestId = id;
        m_helper.OnCloudResult(e);
        return DrainWakeSocket(m_road.ReadEnd()) == 1;
    }
    int Count() const { return FcitxCandidateWordGetListSize(m_list.list); }

    t_list m_list{{"a", "b", "c"}, 0};
    t_composition* m_composition = nullptr;
    n_cloud::CVetraCoreCloudHelperDummy m_helper;
    t_cloudRoad m_road;
};

TEST_F(CloudRoadTest, OnlyAnswersForTheInputShownAreInserted) {
    enum t_step { kRaw, kReset, kMoved, kOtherInput, kNone };
    const struct {
        const char* name;
        t_step after;
        int wakeInserts;
    } cases[] = {
        {"the current answer", kNone, 1},
        {"raw mode after the request", kRaw, 0},
        {"a reset after the request", kReset, 0},
        {"the highlight moved in this key", kMoved, 0},
        {"another input asked since", kOtherInput, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        const uint32_t id = Refresh("nihao");
        ASSERT_TRUE(Answer(id));
        if (c.after == kRaw)
            m_helper.SetRequestId(n_cloud::kNoRequestId);  // what a digit's refresh does
        if (c.after == kReset) n_cloud::CloudRequestIds().Reset();
        if (c.after == kMoved) m_composition->highlightMoved = true;
        if (c.after == kOtherInput) Refresh("nihaom");
        EXPECT_EQ(c.wakeInserts == 1, m_road.OnWake());
        EXPECT_EQ(3 + c.wakeInserts, Count());
        // A second wake-up never shows the same answer twice.
        EXPECT_FALSE(m_road.OnWake());
        EXPECT_EQ(3 + c.wakeInserts, Count());
    }
}

TEST_F(CloudRoadTest, PagingShowsTheAnswerOfTheSameInputAgain) {
    const uint32_t first = Refresh("nihao");
    ASSERT_TRUE(Answer(first));
    ASSERT_TRUE(m_road.OnWake());
    // Paging refreshes the same text under a new id: the answer stays.
    Refresh("nihao");
    m_composition->highlightMoved = true;
    EXPECT_TRUE(m_road.ReinsertWhilePaging());
    // A new letter starts a new run: the old answer is gone from it.
    Refresh("nihaom");
    EXPECT_FALSE(m_road.ReinsertWhilePaging());
}

}  // namespace
}  // namespace n_fcitx
