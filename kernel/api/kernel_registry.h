// The kernel's dictionaries: one row per registration with the dictionary
// manager, in start-up order, each naming the singleton that holds its
// dictionary. Read-only after static initialisation; any thread.
#pragma once

#include <cstdint>

#include "kernel/runtime/dict_base.h"

// When a row is attached, relative to the start-up's load-policy argument.
enum : char {
    kRowPolicyArgument = 'P',  // the argument itself: 0 first phase, non-zero second phase
    kRowPolicyDeferred =
        'T',                // first loader thread when the argument is non-zero, else first phase
    kRowPolicyFirst = '0',  // always the first phase
};

struct t_kernelDictRow {
    const wchar_t* name;           // the name other code looks the entry up by
    const wchar_t* file;           // null: memory only, no file
    t_dictStorageBase& (*dict)();  // the dictionary's singleton, created on first use
    char policy;                   // one of kRowPolicy*
    uint32_t storage;              // kStorage*
    uint32_t dir;                  // kDir*
    uint32_t backupFlags;
    uint32_t mask;  // version mask
};

inline constexpr int kKernelDictCount = 31;
extern const t_kernelDictRow kKernelDicts[kKernelDictCount];

// The dictionary manager's load policy of a row for the start-up argument.
uint32_t KernelDictLoadPolicy(const t_kernelDictRow& row, uint8_t policyArgument);

// The key-to-pinyin map, registered after the options are in place.
extern const t_kernelDictRow kKeyMapRow;
