// Validators of readings, word texts and older user-dictionary headers.
#include "kernel/userdict/usr_validators.h"

#include <cstring>
#include <initializer_list>

#include "kernel/lexicon/hz_dict.h"
#include "kernel/runtime/byte_order.h"
#include "kernel/userdict/usr_scramble.h"

namespace {

int32_t I32At(const uint8_t* p, uint32_t byteOffset) {
    return RdI32(p + byteOffset);
}

bool ValidTextCount(const t_lstr* s) {
    const uint16_t n = LstrGetByteLength(s);
    return s && n != 0 && (n & 1) == 0 && n <= kUsrMaxTextBytes;
}

}  // namespace

bool IsValidWordStringStrict(const t_lstr* s, bool checkUnits, const t_hzDict* chars) {
    if (!ValidTextCount(s)) return false;
    if (!checkUnits) return true;
    const uint32_t n = LstrGetLength(s);
    for (uint32_t i = 0; i < n; ++i) {
        const uint16_t u = LstrGetUnit(s, i);
        const bool letter = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
        if (!letter && !(chars && chars->Contains(u))) return false;
    }
    return true;
}

bool IsValidPyIdString(const t_lstr* s) {
    if (!ValidTextCount(s)) return false;
    const uint32_t n = LstrGetLength(s);
    for (uint32_t i = 0; i < n; ++i)
        if (LstrGetUnit(s, i) >= kPinyinIdLimit) return false;
    return true;
}

bool IsValidWordString(const t_lstr* s, bool checkUnits) {
    // The per-unit test accepts every unit, so checkUnits adds nothing.
    (void)checkUnits;
    return ValidTextCount(s);
}

bool IsValidUsrDictHeader(const uint32_t*) {
    return true;
}

bool IsValidOldUsrDictHeader(const uint8_t* h, uint64_t size) {
    if (!h || size < 44) return false;
    const uint32_t magic = Rd32(h);
    if (magic != kV1MagicA && magic != kV1MagicB) return false;
    const int32_t groups = I32At(h, 20), w6 = I32At(h, 24), w10 = I32At(h, 40);
    return groups >= 0 && groups <= w6 && w6 >= 0 && w10 >= 0;
}

bool IsValidOldIndexEntry(const int32_t e[3]) {
    return e && e[0] >= 0 && e[1] >= 0 && e[2] >= 0;
}

bool IsValidOldWordEntry(const int32_t e[3], const uint8_t* h) {
    if (!e || !h) return false;
    return e[2] >= 0 && e[2] <= I32At(h, 20) && e[0] >= 0 && e[0] <= I32At(h, 76) && e[1] >= 0 &&
           e[1] <= 1000000;
}

bool IsValidOldAttrEntry(int32_t nextIndex, int16_t flag, const uint8_t* h) {
    if (!h) return false;
    return nextIndex >= -1 && nextIndex <= I32At(h, 20) && (flag == 0 || flag == 1);
}

bool IsValidV2UsrDictHeader(const uint8_t* h, uint64_t size) {
    if (!h || size < kV2HeaderBytes) return false;
    if (uint32_t(I32At(h, 0)) != kV2Magic) return false;
    auto capacityOk = [](int64_t c) { return c == 30000 || c == 150000 || c == 300000; };
    const int64_t capA = I32At(h, 4), capB = I32At(h, 8);
    if (!capacityOk(capA) || !capacityOk(capB) || I32At(h, 12) != 500) return false;
    const int64_t usedA = I32At(h, 16), usedB = I32At(h, 20);
    if (usedA < 0 || usedA > capA || usedB < 0 || usedB > capB) return false;
    for (uint32_t at : {24u, 28u, 32u, 36u})
        if (I32At(h, at) < 1) return false;
    if (I32At(h, 48) < 0 || I32At(h, 52) < 0) return false;
    if (I32At(h, 56) != 168 || I32At(h, 60) != 4200) return false;
    const int64_t o64 = I32At(h, 64), o68 = I32At(h, 68);
    if (o64 != capA * 12 + 4232 || o68 != o64 + capB * 24 + 32) return false;
    const int64_t o72 = I32At(h, 72), o76 = I32At(h, 76), total = I32At(h, 80);
    if (o72 < o68 || o76 < o68) return false;
    return total >= o72 && total >= o76 && total >= o68 && total <= 104857600;
}
