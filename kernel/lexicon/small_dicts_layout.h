// Table layouts of the system images read by the string, privilege and small
// dictionaries: the one place that says which fields each image holds, shared
// by the readers' tests and the data build. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/storage/table_format.h"

enum class t_systemTable {
    kEngSys,     // qzim_eng.bin
    kUrlSys,     // qzim_url.bin
    kPreEng,     // qzim_eng_pre.bin
    kAbbrSys,    // qzim_phrases.bin
    kInfoKey,    // qzim_infokey.bin
    kInfoBlack,  // qzim_blackIfk.bin
    kNumFreq,    // qzim_numFreqAdjust.bin
    kUrlGuide,   // qzim_urlGuide.bin
    kSmartInfo,  // qzim_smartInfo.bin
    kQuickSys,   // qzim_quick.bin
    kPyTip,      // qzim_tip.bin
    kAdjCache,   // qzim_adjcache.bin
    kPrivilege,  // qzim_privilege.bin
};

struct t_systemTableLayout {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;   // data table sizes of an empty image
    std::vector<int32_t> buckets;  // per key table, 0 = the policy default
    std::vector<t_keyCompareFn> compares;
    uint32_t version = 0;  // also the header tag
};

// The layout of one image; capacity rows (and 16 bytes of text a row) for
// an empty image.
t_systemTableLayout SystemTableLayout(t_systemTable which, uint32_t capacity = 0);
