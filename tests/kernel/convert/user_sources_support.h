// Helpers of the tests of the user-set-up, English and learning sources:
// the kernel singletons they read, given fresh user stores and system
// images (the built data's files, or small ones made by a test), and a
// candidate array with its pool. Single-threaded test code.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/scope_heap.h"

namespace usersrc {

// A private HOME, the version manager and the configuration store (once
// per process; the directory goes at exit). False when set-up failed.
bool EnsureConfiguration();
// Fresh, empty images in the user stores: custom phrases, fixed-first,
// deleted words, English and web-address lists, user words, cloud answers.
bool ResetUserStores();
// Attaches dict to a copy of bytes kept for the process; false when refused.
bool AttachSystemImage(t_dictStorageBase& dict, std::vector<uint8_t> bytes);
// Attaches dict to the built data's file name; false when it is missing or refused.
bool AttachBuiltFile(t_dictStorageBase& dict, const std::string& name);
// Detaches the system images a test attached (their singletons not ready).
void DetachSystemImages();

// One conversion's array (a page of count places) and pool.
struct t_arrayRun {
    explicit t_arrayRun(uint32_t count = 20) : array(out, 0, count, 0, nullptr, &pool) {}
    // The texts of the arranged page.
    std::vector<std::wstring> Page();
    t_scopeHeap pool;
    t_candWord* out[64] = {};
    t_arrayWord array;
};

std::wstring Wide(const t_lstr* s);

}  // namespace usersrc
