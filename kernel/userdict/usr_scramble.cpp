// Word-text scrambling and the private random source of the user dictionaries.
#include "kernel/userdict/usr_scramble.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/lstr.h"
#include "kernel/userdict/usr_validators.h"

namespace {

// The four parameters of the key block. Stored files depend on them: never
// change them. The third and fourth are shift counts (taken modulo 32).
constexpr uint32_t kKeyParam[4] = {0x6B2F91C5u, 0x2D7A03E9u, 3u, 5u};
constexpr uint32_t kKeyBlockBytes = 4096;
constexpr uint32_t kKeyQuarterBytes = 1024;

std::mutex g_blockLock;
uint8_t* g_block = nullptr;             // guarded by g_blockLock
std::atomic<bool> g_blockReady{false};  // set once g_param is written
// The parameters' places in the block, written under g_blockLock before
// g_block is published.
const uint8_t* g_param[4] = {};

// A parameter from the block; without a block (never built, or freed) the
// key functions still give the same keys.
uint32_t Param(int i) {
    if (!g_blockReady.load(std::memory_order_acquire)) return kKeyParam[i];
    uint32_t v;
    std::memcpy(&v, g_param[i], 4);
    return v;
}

inline uint16_t Rotl16(uint16_t v, int r) {
    r &= 15;
    return r ? uint16_t((v << r) | (v >> (16 - r))) : v;
}
inline uint16_t Rotr16(uint16_t v, int r) {
    r &= 15;
    return r ? uint16_t((v >> r) | (v << (16 - r))) : v;
}
// The remainder taking the sign of the dividend, as a rotation count.
inline int RotationOf(int32_t p) {
    return int(p % 8);
}

bool ReadUrandom(void* out, size_t n) {
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    auto* p = static_cast<uint8_t*>(out);
    while (n > 0) {
        const ssize_t got = read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            close(fd);
            return false;
        }
        p += got;
        n -= size_t(got);
    }
    close(fd);
    return true;
}

}  // namespace

bool FillRandomBytes(void* out, size_t n) {
    if (!out) return false;
    auto* p = static_cast<uint8_t*>(out);
    size_t left = n;
    while (left > 0) {
        const ssize_t got = getrandom(p, left, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return ReadUrandom(p, left);
        p += got;
        left -= size_t(got);
    }
    return true;
}

bool DrawScrambleParameter(uint32_t* out) {
    if (!out) return false;
    // Rejection keeps the draw uniform: 65534 = 2 x 32767.
    for (;;) {
        uint16_t v;
        if (!FillRandomBytes(&v, sizeof v)) return false;
        if (v < 2 * kUsrParamRange) {
            *out = v % kUsrParamRange;
            return true;
        }
    }
}

uint32_t RandomSlotOffset(uint32_t base) {
    uint16_t v = 0;
    // Without a random source the slot is simply the quarter's start.
    if (!FillRandomBytes(&v, sizeof v)) v = 0;
    return base + ((v % kKeyQuarterBytes) & ~3u);
}

bool BuildScrambleKeyTable() {
    std::lock_guard<std::mutex> lock(g_blockLock);
    if (g_block) return true;
    auto* block = static_cast<uint8_t*>(std::malloc(kKeyBlockBytes));
    if (!block) return false;
    // The filler hides where the parameters sit; it carries no meaning.
    if (!FillRandomBytes(block, kKeyBlockBytes)) std::memset(block, 0, kKeyBlockBytes);
    for (int i = 0; i < 4; ++i) {
        const uint32_t at = RandomSlotOffset(uint32_t(i) * kKeyQuarterBytes);
        std::memcpy(block + at, &kKeyParam[i], 4);
        g_param[i] = block + at;
    }
    g_block = block;
    g_blockReady.store(true, std::memory_order_release);
    return true;
}

bool FreeScrambleKeyTable() {
    std::lock_guard<std::mutex> lock(g_blockLock);
    g_blockReady.store(false, std::memory_order_release);
    std::free(g_block);
    g_block = nullptr;
    for (auto& p : g_param) p = nullptr;
    return true;
}

namespace {
// The block is built on first need, so the old-image readers work before
// any dictionary exists.
bool KeyBlockReady() {
    return g_blockReady.load(std::memory_order_acquire) || BuildScrambleKeyTable();
}
}  // namespace

uint16_t WordUnitChecksum(const t_lstr* w) {
    const uint32_t n = LstrGetLength(w);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) sum += LstrGetUnit(w, i);
    return uint16_t(sum);
}

uint16_t DeriveScrambleKey(uint32_t checksum, int32_t p1, int32_t p2) {
    const uint32_t c = checksum & 0xFFFFu;
    const uint32_t sum = (c + uint32_t(p2)) + (uint32_t(p1) + c);
    return uint16_t(sum << (Param(2) & 31u));
}

bool ScrambleWordText(t_lstr* w, uint16_t* checksum, int32_t p1, int32_t p2) {
    if (!checksum || !IsValidWordString(w, false) || !KeyBlockReady()) return false;
    const uint16_t c = WordUnitChecksum(w);
    const uint16_t k = DeriveScrambleKey(c, p1, p2);
    const int r = RotationOf(p1);
    const uint32_t n = LstrGetLength(w);
    for (uint32_t i = 0; i < n; ++i) LstrSetUnit(w, i, Rotl16(uint16_t(LstrGetUnit(w, i) ^ k), r));
    *checksum = c;
    return true;
}

bool UnscrambleWordText(t_lstr* w, uint32_t checksum, int32_t p1, int32_t p2) {
    if (!w || !KeyBlockReady()) return false;
    if (LstrGetByteLength(w) < 2) return true;
    const uint16_t k = DeriveScrambleKey(checksum, p1, p2);
    const int r = RotationOf(p1);
    const uint32_t n = LstrGetLength(w);
    for (uint32_t i = 0; i < n; ++i) LstrSetUnit(w, i, uint16_t(Rotr16(LstrGetUnit(w, i), r) ^ k));
    return true;
}

uint32_t OldImageOffsetKey(uint32_t a, uint32_t b, int32_t o) {
    return (a + 2u * uint32_t(o) + b) << (Param(3) & 31u);
}

uint16_t OldImageWordKey(uint32_t a, uint32_t b, int32_t q) {
    return uint16_t((b + uint32_t(q) + (uint32_t(q) + a)) << (Param(2) & 31u));
}

bool ReadOldImageWord(const uint8_t* image, uint64_t imageSize, uint32_t dataBound,
                      const t_oldWordRef& ref, t_lstr* out, int32_t q, int32_t o) {
    if (!image || !out || (ref.flag != 0 && ref.flag != 1) || !KeyBlockReady()) return false;
    uint32_t offset = ref.storedOffset;
    if (ref.flag == 1) offset ^= OldImageOffsetKey(ref.a, ref.b, o);
    const uint64_t limit = dataBound < imageSize ? dataBound : imageSize;
    if (uint64_t(offset) + 2 > limit) return false;
    const uint16_t count = Rd16(image + offset);
    if (count < 1 || count > kUsrMaxTextBytes) return false;
    if (uint64_t(offset) + 2 + count > limit) return false;
    std::memcpy(out, image + offset, size_t(count) + 2);
    if (ref.flag == 1) {
        const uint16_t k = OldImageWordKey(ref.a, ref.b, q);
        const int r = RotationOf(q);
        const uint32_t n = LstrGetLength(out);
        for (uint32_t i = 0; i < n; ++i)
            LstrSetUnit(out, i, uint16_t(Rotr16(LstrGetUnit(out, i), r) ^ k));
    }
    return true;
}
