// The kernel's options record (copied into the configuration items that
// conversion and learning read on every call), the optional delegate told
// of committed text, and the two hidden input codes that switch the
// generator's debug modes. Engine thread only.
#pragma once

#include <cstdint>

#include "include/vetra/vetra_kernel.h"
#include "kernel/runtime/lstr.h"

// t_kernelOptions, the engine's input settings, is part of the public header.

// Writes every field into its configuration item, in record order. The
// items stay private to this process. A null record does nothing.
void SetKernelOptions(const t_kernelOptions* options);

namespace n_convertor {

// Observer of what the user commits. The kernel's own does nothing.
class t_kernelDelegate {
public:
    virtual ~t_kernelDelegate() = default;
    // A committed or learned text with up to four further values.
    virtual int OnCommitText(const wchar_t* text, intptr_t a, intptr_t b, intptr_t c, intptr_t d);
    // The value handed to NotifyCommitEnd.
    virtual int OnCommitEnd(intptr_t value);
};

}  // namespace n_convertor

// Installs the delegate (null removes it); 1. Not owned.
int SetKernelDelegate(n_convertor::t_kernelDelegate* delegate);
n_convertor::t_kernelDelegate* GetKernelDelegate();
// Tell the delegate when one is set; 0 without one.
int NotifyDelegateText(const wchar_t* text, intptr_t a = 0, intptr_t b = 0, intptr_t c = 0,
                       intptr_t d = 0);
int NotifyDelegateCommitEnd(intptr_t value);

// Checks committed text for the hidden codes: the repeated-key code
// (any case) flips the repeated-key mode; text beginning with the display
// code (exact case) flips the debug display and gives 1. Else 0.
int CheckHiddenInputCode(const wchar_t* text);
bool IsDebugDisplayOn();
bool IsRepeatKeyModeOn();

// Where a switched mode is mirrored (the candidate generator); called with
// both current modes after every switch. Null removes it.
using t_debugModeListener = void (*)(bool debugDisplay, bool repeatKey);
void SetDebugModeListener(t_debugModeListener listener);
