// The kernel options record against the configuration items, the scheme
// name's fallbacks, the hidden debug codes and the delegate. One test thread.
#include <string>

#include "kernel/api/kernel_options.h"
#include "kernel/api/kernel_singletons.h"
#include "tests/kernel/api/api_support.h"

namespace {

using namespace n_config;

const struct {
    int32_t t_kernelOptions::*field;
    const t_configItem& item;
} kIntOptions[] = {
    {&t_kernelOptions::LongWordCandPos, LongWordCandPos},
    {&t_kernelOptions::MaxLongWord, MaxLongWord},
    {&t_kernelOptions::LongWordNumGate, LongWordNumGate},
};

const struct {
    uint8_t t_kernelOptions::*field;
    const t_configItem& item;
} kByteOptions[] = {
    {&t_kernelOptions::ForecastLongWord, ForecastLongWord},
    {&t_kernelOptions::Correction, Correction},
    {&t_kernelOptions::LearnFreq, LearnFreq},
    {&t_kernelOptions::LearnNewWord, LearnNewWord},
    {&t_kernelOptions::NoPhrase, NoPhrase},
    {&t_kernelOptions::EnableCloudRequest, EnableCloudRequest},
    {&t_kernelOptions::QuanPin, QuanPin},
    {&t_kernelOptions::ZCSForZhChSh, ZCSForZhChSh},
    {&t_kernelOptions::ShuangPin, ShuangPin},
    {&t_kernelOptions::AllowQuanPin, AllowQuanPin},
    {&t_kernelOptions::SuperSPJP, SuperSPJP},
    {&t_kernelOptions::UserPhrase, UserPhrase},
    {&t_kernelOptions::SystemUserPhrase, SystemUserPhrase},
};

// The sixteen number items hold what the record says, every one at once.
void ExpectItemsHold(const t_kernelOptions& o) {
    t_configuration& store = GetConfiguration();
    for (const auto& opt : kIntOptions) EXPECT_EQ(o.*opt.field, store.GetInt(opt.item));
    for (const auto& opt : kByteOptions) EXPECT_EQ(o.*opt.field, store.GetByte(opt.item));
}

class KernelOptionsTest : public KernelTest {
public:
    void SetUp() override {
        KernelTest::SetUp();
        Start();
    }
};

struct t_recordingDelegate : n_convertor::t_kernelDelegate {
    int OnCommitText(const wchar_t* text, intptr_t a, intptr_t, intptr_t, intptr_t d) override {
        seen = std::wstring(text) + L":" + std::to_wstring(a + d);
        return 5;
    }
    std::wstring seen;
};

}  // namespace

// Each field reaches its own item: one field at a time is changed, and the
// record's defaults are the items' built-in defaults.
TEST_F(KernelOptionsTest, EveryOptionLandsInItsOwnItem) {
    const t_kernelOptions defaults;
    for (const auto& opt : kIntOptions) EXPECT_EQ(defaults.*opt.field, opt.item.intDefault);
    for (const auto& opt : kByteOptions) EXPECT_EQ(defaults.*opt.field, opt.item.intDefault);
    for (const auto& opt : kIntOptions) {
        t_kernelOptions o;
        o.*opt.field = 1000 + opt.item.intDefault;
        SetKernelOptions(&o);
        ExpectItemsHold(o);
    }
    t_kernelOptions last;
    for (const auto& opt : kByteOptions) {
        last = t_kernelOptions();
        last.*opt.field = !(last.*opt.field);
        SetKernelOptions(&last);
        ExpectItemsHold(last);
    }
    SetKernelOptions(nullptr);  // changes nothing
    ExpectItemsHold(last);
}

TEST_F(KernelOptionsTest, SchemeNameFallsBackToTheDefaultScheme) {
    const std::wstring longName(100, L'x');
    const struct {
        const wchar_t* given;  // null: no name
        std::wstring stored;
    } cases[] = {
        {nullptr, L"Vetra"},
        {L"", L"Vetra"},
        {L"Ziguang", L"Ziguang"},
        {longName.c_str(), longName.substr(0, 63)},
    };
    for (const auto& c : cases) {
        t_kernelOptions o;
        // An empty name is a t_lstr holding no unit.
        static const uint16_t kEmpty[1] = {0};
        o.ShuangPinName = !c.given   ? nullptr
                          : *c.given ? Word(c.given)
                                     : reinterpret_cast<const t_lstr*>(kEmpty);
        GetConfiguration().SetString(ShuangPinName, L"before");
        SetKernelOptions(&o);
        EXPECT_EQ(c.stored, GetConfiguration().GetString(ShuangPinName));
    }
}

// Committed texts in order, with the modes after each: the repeated-key code
// matches whole and in any case; the display code matches as the beginning
// of the text and in its own case only.
TEST_F(KernelOptionsTest, HiddenCodesSwitchTheDebugModes) {
    struct t_modes {
        int calls = 0;
        bool display = false, repeat = false;
    };
    static t_modes seen;
    seen = {};
    SetDebugModeListener([](bool display, bool repeat) {
        seen = {seen.calls + 1, display, repeat};
    });
    const struct {
        const wchar_t* text;
        int result;
        bool display, repeat;
        int listenerCalls;
    } steps[] = {
        {L"TallPineGap", 0, false, true, 1},         {L"tallpinegaps", 0, false, true, 1},
        {L"tallpinegap", 0, false, false, 2},        {L"QUIETRIVERBENDSNOW", 0, false, false, 2},
        {L"quietriverbend", 0, false, false, 2},     {L"quietriverbendsnowfall", 1, true, false, 3},
        {L"quietriverbendsnow", 1, false, false, 4}, {nullptr, 0, false, false, 4},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.text ? testing::PrintToString(std::wstring(s.text)) : "null");
        EXPECT_EQ(s.result, CheckHiddenInputCode(s.text));
        EXPECT_EQ(s.display, IsDebugDisplayOn());
        EXPECT_EQ(s.repeat, IsRepeatKeyModeOn());
        EXPECT_EQ(s.listenerCalls, seen.calls);
        EXPECT_EQ(s.display, seen.display);
        EXPECT_EQ(s.repeat, seen.repeat);
    }
}

TEST_F(KernelOptionsTest, DelegateIsToldOnlyWhenSet) {
    EXPECT_EQ(0, NotifyDelegateText(L"你好"));
    t_recordingDelegate recording;
    EXPECT_EQ(1, SetKernelDelegate(&recording));
    EXPECT_EQ(5, NotifyDelegateText(L"你好", 1, 2, 3, 4));
    EXPECT_EQ(L"你好:5", recording.seen);
    EXPECT_EQ(0, NotifyDelegateCommitEnd(9));  // not overridden: the default answers 0
}
