// Fuzzes the cloud reply-record check: a kept record's fields all lie inside
// the bytes and their declared length, and the element built from it fits
// its fixed rooms.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "src/cloud/cloud_reply.h"

using namespace n_cloud;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so any read past it is caught.
    std::vector<uint8_t> bytes(data, data + size);
    t_cloudReplyRecord r;
    if (!CheckCloudReplyRecord(bytes.data(), bytes.size(), &r)) return 0;
    const uint8_t* end = bytes.data() + std::min<size_t>(size, size_t(bytes[0] | bytes[1] << 8));
    FUZZ_CHECK(r.word && r.word + 2 * r.wordUnits <= end && r.wordUnits <= 63);
    FUZZ_CHECK(!r.pinyin || (r.pinyin + 2 * r.pinyinCount <= end && r.pinyinCount <= 63));
    FUZZ_CHECK(!r.inputEnds || (r.inputEnds + 2 * r.inputEndCount <= end && r.inputEndCount <= 63));
    FUZZ_CHECK(r.inputEnds || r.coveredInput == 0);
    const auto e = BuildCloudElement(r);
    FUZZ_CHECK(e && e->text.size() == r.wordUnits && e->pinyin.size() <= 63 &&
               e->inputEnds.size() <= 64);
    return 0;
}
