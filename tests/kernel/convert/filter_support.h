// Dictionaries the conversion tests read: the built system data when
// VETRA_SYSTEM_DATA_DIR (or the data build's directory) names it, and a key
// map built from the syllable inventory with the default options.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/stroke_annex.h"
#include "kernel/runtime/scope_heap.h"

// Reads "<system data dir>/<name>" whole; false when it is not there.
bool ReadSystemDataFile(const std::string& name, std::vector<uint8_t>& out);

// A dictionary attached to bytes it keeps.
template <class T>
struct t_attached {
    std::vector<uint8_t> image;
    T dict;
    bool Attach(std::vector<uint8_t> bytes) {
        image = std::move(bytes);
        dict.SetReady(!image.empty() && dict.Load(image.data(), int32_t(image.size())));
        return dict.IsReady();
    }
};

// The default full-pinyin key map; null when it cannot be built.
std::unique_ptr<t_keyPyMap> BuildDefaultKeyMap(t_scopeHeap& arena);
