// An empty user dictionary image of `capacity` words, laid out as the
// kernel lays one out but without its limit: no release writes more than
// twice the largest capacity, a crafted or damaged file may hold more.
// Header-only: the unit tests and the end-to-end file maker share it.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "kernel/storage/table_builder.h"
#include "kernel/userdict/usr_dict_v3.h"

inline std::vector<uint8_t> CraftedUsrImage(uint32_t capacity) {
    uint8_t header[kUsrHeaderBytes] = {};
    const auto put = [&](int word, uint32_t v) { std::memcpy(header + 4 * word, &v, 4); };
    put(kUsrHdrBuckets, uint32_t(kUsrBucketCount));
    put(kUsrHdrSize, uint32_t(kUsrHeaderBytes));
    put(kUsrHdrClock, kUsrNoAge);
    put(kUsrHdrParam1, 1234);
    put(kUsrHdrParam2, 5678);
    std::vector<t_keyDesc> keys(1);
    keys[0].keyType = 2;
    keys[0].fieldTypes = {10, 0, 6, 6, 7, 6, 6, 6};
    keys[0].attriIndex = 0;
    keys[0].keyDataTable = 0;
    keys[0].valueDataTable = n_tableFormat::kNone;
    keys[0].capacity = capacity;
    std::vector<t_attriDesc> attris(1);
    attris[0].fieldCount = 7;
    attris[0].ownerKey = 0;
    attris[0].dataTable = 1;
    attris[0].capacity = capacity;
    const std::vector<int32_t> buckets = {kUsrBucketCount};
    t_tableFileBuilder builder(keys, attris, {10 * capacity, 10 * capacity}, kUsrDictVersion,
                               kUsrDictVersion, {}, {}, header, kUsrHeaderBytes, &buckets);
    const int32_t size = builder.IsValid() ? builder.GetTotalSize(nullptr) : 0;
    std::vector<uint8_t> out(size_t(size > 0 ? size : 0));
    if (out.empty() || !builder.BuildToBuffer(out.data(), size)) out.clear();
    return out;
}
