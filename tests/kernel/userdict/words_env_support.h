// Kernel set-up for the tests of the word-list, extension-dictionary and
// key-map operations: a private HOME, the version manager, the configuration
// store, the dictionary manager and a stand-in "pydict" whose readiness a
// test controls.
#pragma once

#include "kernel/runtime/dict_base.h"

// Sets HOME to a temporary directory (once per process) and initialises the
// version manager, the configuration store and the dictionary manager.
// False when any of them cannot be set up.
bool EnsureKernelEnv();

// The registered "pydict" stand-in (attached from "qzim_py.bin" in the
// configured system directory). A test marks it ready, or not ready with no
// such file present, to make the pinyin dictionary available or missing.
t_dictStorageBase& PyDictStandIn();
