// The panel's candidate encoding, cuts at a character boundary and the
// dictionary-save worker.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "porting3/crypto.h"
#include "src/fcitx/ime_text.h"
#include "src/fcitx/save_worker.h"

namespace {

// What the panel does: split at 0x1D, Base64-decode, undo the scrambling.
std::string Decode(const std::string& encoded, uint8_t mask, size_t* declared) {
    const size_t gs = encoded.find('\x1D');
    if (gs == std::string::npos) return "<no separator>";
    *declared = std::stoul(encoded.substr(0, gs));
    const std::string base64 = encoded.substr(gs + 1);
    std::string bytes(size_t(n_porting::Base64DecodedSizeMax(int32_t(base64.size()))), '\0');
    const int n = n_porting::Base64DecodeBuf(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size(),
                                             base64.c_str());
    bytes.resize(size_t(std::max(n, 0)));
    for (char& c : bytes) {
        uint8_t b = uint8_t(c) ^ mask, r = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (b & (1u << bit)) r |= uint8_t(0x80u >> bit);
        c = char(r);
    }
    return bytes;
}

TEST(ImeCandidateEncoding, RoundTripsWholeTexts) {
    const std::string longText(1023, 'a');
    std::string chinese;
    while (chinese.size() + 3 <= 1023) chinese += "中";
    struct Case {
        const char* name;
        std::string text;
        int flag;
        const char* extra;
    } cases[] = {
        {"short", "你好", 0, ""},
        {"cloud flag and extra text", "你好", 1, "前缀"},
        {"1023 bytes of letters", longText, 0, ""},
        {"1023 bytes of characters", chinese, 0, "尾"},
    };
    for (const Case& c : cases) {
        char* encoded = EncodeCandidateString(c.text.c_str(), c.flag, c.extra, 0x3C);
        ASSERT_NE(encoded, nullptr) << c.name;
        const std::string plain = c.text + "\x1D" + std::to_string(c.flag) + c.extra;
        size_t declared = 0;
        EXPECT_EQ(Decode(encoded, 0x3C, &declared), plain) << c.name;
        EXPECT_EQ(declared, plain.size()) << c.name;
        free(encoded);
    }
}

TEST(ImeText, CutsBelowTheRoomOnACharacterBoundary) {
    std::string chinese;
    for (int i = 0; i < 400; ++i) chinese += "中";  // 1200 bytes
    struct Case {
        const char* name;
        std::string text;
        size_t room;
        size_t kept;
    } cases[] = {
        {"fits", "abc", 900, 3},
        {"exactly the room is too long", std::string(900, 'a'), 900, 899},
        {"three-byte characters", chinese, 900, 897},
        {"no room", "abc", 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Utf8PrefixBelow(c.text.c_str(), c.text.size(), c.room), c.kept) << c.name;
}

TEST(ImeSaveWorker, NewerSavesSupersedeWaitingOnesAndNothingIsLost) {
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::promise<void> started;
    std::atomic<int> last{0};
    {
        t_saveWorker worker;
        worker.Post([&] {
            started.set_value();
            gate.wait();
            last = 1;
        });
        started.get_future().wait();  // the first save is running
        for (int i = 2; i <= 4; ++i) worker.Post([&last, i] { last = i; });
        EXPECT_EQ(worker.Superseded(), 2u);
        release.set_value();
        worker.Drain();
        EXPECT_EQ(last.load(), 4);
        EXPECT_EQ(worker.Completed(), 2u);
        worker.Post([&last] { last = 5; });
    }  // the destructor runs what is pending
    EXPECT_EQ(last.load(), 5);
}

TEST(ImeSaveWorker, SavesComeByTheDeadlineOfTheFirstWaitingPost) {
    using namespace std::chrono;
    std::atomic<int> runs{0}, last{0};
    t_saveWorker worker(milliseconds(300));
    const auto start = steady_clock::now();
    // Posts keep coming faster than the deadline: they join the first one's
    // save, which still starts on time.
    for (int i = 1; i <= 8; ++i) {
        worker.Post([&runs, &last, i] { ++runs, last = i; });
        std::this_thread::sleep_for(milliseconds(50));
    }
    EXPECT_GE(runs.load(), 1);
    worker.Drain();
    EXPECT_EQ(last.load(), 8);
    // A save asked for now starts at once; the caller does not wait for it.
    std::promise<void> ran;
    const auto asked = steady_clock::now();
    worker.Post([&ran] { ran.set_value(); }, true);
    EXPECT_EQ(ran.get_future().wait_for(milliseconds(200)), std::future_status::ready);
    EXPECT_LT(steady_clock::now() - asked, milliseconds(200));
    EXPECT_LT(steady_clock::now() - start, seconds(2));
}

}  // namespace
