// Kernel options, delegate and hidden debug codes. Engine thread only: the
// debug modes and the delegate are plain process-wide values.
#include "kernel/api/kernel_options.h"

#include "kernel/api/kernel_singletons.h"
#include "kernel/runtime/scope_heap.h"

namespace {

n_convertor::t_kernelDelegate* g_delegate = nullptr;
bool g_debugDisplay = false;
bool g_repeatKey = false;
t_debugModeListener g_listener = nullptr;

constexpr const wchar_t* kDefaultScheme = L"Vetra";
constexpr const wchar_t kRepeatKeyCode[] = L"tallpinegap";
constexpr const wchar_t kDebugDisplayCode[] = L"quietriverbendsnow";

wchar_t AsciiLower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

bool EqualsIgnoringAsciiCase(const wchar_t* text, const wchar_t* code) {
    for (; *code; ++text, ++code)
        if (AsciiLower(*text) != *code) return false;
    return *text == 0;
}

bool StartsWith(const wchar_t* text, const wchar_t* code) {
    for (; *code; ++text, ++code)
        if (*text != *code) return false;
    return true;
}

void MirrorModes() {
    if (g_listener) g_listener(g_debugDisplay, g_repeatKey);
}

}  // namespace

void SetKernelOptions(const t_kernelOptions* options) {
    if (!options) return;
    t_configuration& store = GetConfiguration();
    store.SetInt(n_config::LongWordCandPos, options->LongWordCandPos);
    store.SetInt(n_config::MaxLongWord, options->MaxLongWord);
    store.SetInt(n_config::LongWordNumGate, options->LongWordNumGate);
    const struct {
        const t_configItem& item;
        uint8_t value;
    } bytes[] = {
        {n_config::ForecastLongWord, options->ForecastLongWord},
        {n_config::Correction, options->Correction},
        {n_config::LearnFreq, options->LearnFreq},
        {n_config::LearnNewWord, options->LearnNewWord},
        {n_config::NoPhrase, options->NoPhrase},
        {n_config::EnableCloudRequest, options->EnableCloudRequest},
        {n_config::QuanPin, options->QuanPin},
        {n_config::ZCSForZhChSh, options->ZCSForZhChSh},
        {n_config::ShuangPin, options->ShuangPin},
        {n_config::AllowQuanPin, options->AllowQuanPin},
        {n_config::SuperSPJP, options->SuperSPJP},
        {n_config::UserPhrase, options->UserPhrase},
        {n_config::SystemUserPhrase, options->SystemUserPhrase},
    };
    for (const auto& b : bytes) store.SetByte(b.item, b.value);
    const wchar_t* scheme = nullptr;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    if (LstrGetByteLength(options->ShuangPinName) > 0)
        scheme = arena.LstrToWide(options->ShuangPinName);
    // A name that does not convert is no name: the default scheme is used.
    store.SetString(n_config::ShuangPinName, scheme ? scheme : kDefaultScheme);
}

namespace n_convertor {
int t_kernelDelegate::OnCommitText(const wchar_t*, intptr_t, intptr_t, intptr_t, intptr_t) {
    return 0;
}
int t_kernelDelegate::OnCommitEnd(intptr_t) {
    return 0;
}
}  // namespace n_convertor

int SetKernelDelegate(n_convertor::t_kernelDelegate* delegate) {
    g_delegate = delegate;
    return 1;
}

n_convertor::t_kernelDelegate* GetKernelDelegate() {
    return g_delegate;
}

int NotifyDelegateText(const wchar_t* text, intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    return g_delegate ? g_delegate->OnCommitText(text, a, b, c, d) : 0;
}

int NotifyDelegateCommitEnd(intptr_t value) {
    return g_delegate ? g_delegate->OnCommitEnd(value) : 0;
}

int CheckHiddenInputCode(const wchar_t* text) {
    if (!text) return 0;
    if (EqualsIgnoringAsciiCase(text, kRepeatKeyCode)) {
        g_repeatKey = !g_repeatKey;
        MirrorModes();
    }
    if (!StartsWith(text, kDebugDisplayCode)) return 0;
    g_debugDisplay = !g_debugDisplay;
    MirrorModes();
    return 1;
}

bool IsDebugDisplayOn() {
    return g_debugDisplay;
}
bool IsRepeatKeyModeOn() {
    return g_repeatKey;
}
void SetDebugModeListener(t_debugModeListener listener) {
    g_listener = listener;
}
