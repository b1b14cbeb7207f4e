// Table layouts of the system images.
#include "kernel/lexicon/small_dicts_layout.h"

#include "kernel/lexicon/privilege_dict.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/string_dict.h"

using n_tableFormat::kFlagSortedAttri;
using n_tableFormat::kNoAttriNoWord;
using n_tableFormat::kNone;

namespace {

constexpr int16_t kTextKeys = 3;  // hashed by the first unit: prefixes share a bucket
constexpr int16_t kEngKeys = 1;
constexpr int16_t kNumberKeys = 4;  // u32 keys, one bucket each
// Field types.
constexpr int16_t kStr = 0, kU8 = 2, kI16 = 5, kU16 = 6, kI32 = 7, kU32 = 8;

t_keyDesc Key(int16_t type, std::vector<int16_t> fields, uint32_t attri, uint32_t keyData,
              uint32_t capacity) {
    t_keyDesc d;
    d.keyType = type;
    d.fieldTypes = std::move(fields);
    d.attriIndex = attri;
    d.keyDataTable = keyData;
    d.valueDataTable = kNone;
    d.capacity = capacity;
    return d;
}

t_attriDesc Attri(uint32_t fields, uint32_t owner, uint32_t data, uint32_t capacity) {
    t_attriDesc a;
    a.fieldCount = fields;
    a.ownerKey = owner;
    a.dataTable = data;
    a.capacity = capacity;
    return a;
}

}  // namespace

t_systemTableLayout SystemTableLayout(t_systemTable which, uint32_t capacity) {
    t_systemTableLayout t;
    const uint32_t n = capacity, text = capacity * 16 + 16;
    switch (which) {
        case t_systemTable::kEngSys:
        case t_systemTable::kUrlSys:
            t.version = kStrDictVersion;
            t.keys = {Key(kEngKeys, {kStr, kI32, kI32}, kNone, 0, n)};
            t.datas = {text};
            t.compares = {&EngCompare};
            break;
        case t_systemTable::kPreEng:
            t.version = kPreEngDictVersion;
            t.keys = {Key(kEngKeys, {kStr}, kNoAttriNoWord, 0, n)};
            t.datas = {text};
            break;
        case t_systemTable::kAbbrSys:
            t.version = kAbbrSysVersion;
            t.keys = {Key(kTextKeys, {kStr, kStr, kI16}, 0, 0, n)};
            t.attris = {Attri(2, 0, 1, n)};
            t.datas = {text, text};
            break;
        case t_systemTable::kInfoKey:
            t.version = kInfoKeyVersion;
            t.keys = {Key(kTextKeys, {kStr}, kNoAttriNoWord, 0, n)};
            t.datas = {text};
            break;
        case t_systemTable::kInfoBlack:
            t.version = kInfoBlackVersion;
            t.keys = {Key(kTextKeys | kFlagSortedAttri, {kStr, kStr}, 0, 0, n)};
            t.attris = {Attri(1, 0, 1, n)};
            t.datas = {text, text};
            break;
        case t_systemTable::kNumFreq:
            t.version = kNumFreqVersion;
            t.keys = {Key(kTextKeys, {kStr, kU16, kU32}, kNoAttriNoWord, 0, n)};
            t.datas = {text};
            break;
        case t_systemTable::kUrlGuide:
            t.version = kUrlGuideVersion;
            t.keys = {Key(kTextKeys, {kStr, kStr, kStr}, 0, 0, n),
                      Key(kTextKeys, {kStr, kStr, kStr}, 0, 0, n)};
            t.attris = {Attri(2, 0, 1, n)};
            t.datas = {text, text};
            break;
        case t_systemTable::kSmartInfo:
            t.version = kSmartInfoVersion;
            t.keys = {Key(kNumberKeys | kFlagSortedAttri, {kU32, kStr}, 0, kNone, n)};
            t.attris = {Attri(1, 0, 0, n)};
            t.datas = {text};
            t.buckets = {t_smartInfoCore::kBuckets};
            break;
        case t_systemTable::kQuickSys:
            t.version = kQuickSysVersion;
            t.keys = {Key(kTextKeys, {kStr, kStr, kU16, kI16}, 0, 0, n),
                      Key(kNumberKeys, {kU32, kI16, kI16, kStr, kStr, kStr}, 1, kNone, n)};
            t.attris = {Attri(3, 0, 1, n), Attri(5, 1, 1, n)};
            t.datas = {text, text};
            t.buckets = {0, 10};
            break;
        case t_systemTable::kPyTip:
            t.version = kPyTipVersion;
            t.keys = {Key(kTextKeys, {kStr, kStr, kStr}, 0, 0, n)};
            t.attris = {Attri(2, 0, 1, n)};
            t.datas = {text, text};
            break;
        case t_systemTable::kAdjCache:
            t.version = kAdjCacheVersion;
            t.keys = {Key(kTextKeys, {kStr, kU8, kU8, kU16}, 0, 0, n)};
            t.attris = {Attri(3, 0, kNone, n)};
            t.datas = {text};
            break;
        case t_systemTable::kPrivilege:
            t.version = kPrivilegeVersion;
            t.keys = {Key(kNumberKeys, {kU32, kU32}, 0, kNone, n),
                      Key(kTextKeys, {kStr, kU8}, 1, 1, n),
                      Key(kTextKeys, {kStr, kStr, kU32}, 2, 2, n)};
            t.attris = {Attri(1, 0, kNone, n), Attri(1, 1, kNone, n), Attri(2, 2, 2, n)};
            t.datas = {text, text, text};
            t.buckets = {200, 0, 0};
            break;
    }
    if (t.buckets.empty()) t.buckets.assign(t.keys.size(), 0);
    return t;
}
