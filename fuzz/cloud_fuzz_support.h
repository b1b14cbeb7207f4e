// Shared by the cloud client's fuzz targets: the fixed key block their seed
// replies were sealed with.
#pragma once

#include <cstdint>

inline const uint8_t* CloudFuzzKeyBlock() {
    static const auto block = [] {
        struct t_block {
            uint8_t b[48];
        } k;
        for (int i = 0; i < 48; ++i) k.b[i] = uint8_t(i * 7 + 1);
        return k;
    }();
    return block.b;
}
