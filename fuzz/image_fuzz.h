// Shared by the libFuzzer targets of the binary images (table files, user
// stores, system dictionaries): how an input becomes an image, where the
// image is placed (as the dictionary manager's storage kinds place it), the
// base images of patch inputs, and the seed corpus each target writes.
// Each target runs single-threaded; the state here is set up once at start.
//
// Input: byte 0 selects, the rest is the body.
//   selector < 0x80: the body is the whole image; selector & 0x7F picks the
//                    target's variant (which store, which bucket counts...).
//   selector >= 0x80: base image (selector & 0x7F) modulo the bases, with the
//                    body's patches applied in order: {u32 offset, u8 n, n
//                    bytes} writes at offset modulo the image size; an
//                    offset with bit 31 set cuts the image there instead.
// Patch inputs reach images far larger than a useful fuzz input (the system
// word image is megabytes); their bases are images the target makes, plus
// the built system data when VETRA_FUZZ_DATA_DIR names its directory.
// Reproducing a patch input needs the same directory.
//
// VETRA_FUZZ_SEED_DIR=<dir> makes the target write its seed corpus there
// and exit (scripts/fuzz does this before each run).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

using t_fuzzBytes = std::vector<uint8_t>;

// One base image of patch inputs: the variant it belongs to and its bytes.
struct t_fuzzBase {
    int variant = 0;
    std::string name;  // seed file name
    t_fuzzBytes bytes;
};

// What a target declares: its variants, the images it makes itself, and
// the files of the built data it takes as bases (variant, file name).
struct t_fuzzTarget {
    int variants = 1;
    // Small images written as raw seeds and kept as bases; made on demand.
    void (*makeImages)(std::vector<t_fuzzBase>& out) = nullptr;
    std::vector<std::pair<int, const char*>> dataFiles;
    // Images up to this size also go into the corpus as raw seeds.
    size_t rawSeedLimit = 64 * 1024;
};

// The decoded input.
struct t_fuzzImage {
    int variant = 0;
    bool patched = false;
    t_fuzzBytes bytes;
};

namespace n_fuzzImage {

inline std::vector<t_fuzzBase>& Bases() {
    static std::vector<t_fuzzBase> bases;
    return bases;
}

inline bool ReadAll(const std::string& path, t_fuzzBytes& out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    fclose(f);
    return !out.empty();
}

inline void WriteSeed(const std::string& dir, const std::string& name, uint8_t selector,
                      const t_fuzzBytes& body) {
    t_fuzzBytes seed;
    seed.reserve(body.size() + 1);
    seed.push_back(selector);
    seed.insert(seed.end(), body.begin(), body.end());
    FuzzWriteFile(dir + "/" + name, seed.data(), seed.size());
}

}  // namespace n_fuzzImage

// Call from LLVMFuzzerInitialize: gathers the bases and, when asked to,
// writes the seed corpus and exits.
inline void FuzzImageInit(const t_fuzzTarget& target) {
    using namespace n_fuzzImage;
    std::vector<t_fuzzBase>& bases = Bases();
    if (target.makeImages) target.makeImages(bases);
    const size_t made = bases.size();
    if (const char* dataDir = getenv("VETRA_FUZZ_DATA_DIR"); dataDir && *dataDir) {
        for (const auto& [variant, file] : target.dataFiles) {
            t_fuzzBase b;
            b.variant = variant;
            b.name = file;
            if (ReadAll(std::string(dataDir) + "/" + file, b.bytes)) bases.push_back(std::move(b));
        }
    }
    const char* seedDir = getenv("VETRA_FUZZ_SEED_DIR");
    if (!seedDir || !*seedDir) return;
    // Every image is a base; the small ones are raw seeds as well (large
    // raw inputs would make every corpus entry megabytes).
    for (size_t i = 0; i < bases.size() && i < 0x80; ++i) {
        const t_fuzzBase& b = bases[i];
        const uint8_t raw = uint8_t(b.variant & 0x7F);
        if (b.bytes.size() <= target.rawSeedLimit)
            WriteSeed(seedDir, "raw-" + b.name, raw, b.bytes);
        WriteSeed(seedDir, "base-" + b.name, uint8_t(0x80 | i), {});
        // One small patch: a header word of the image changed.
        const t_fuzzBytes patch = {4, 0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0x7F};
        WriteSeed(seedDir, "patch-" + b.name, uint8_t(0x80 | i), patch);
    }
    printf("fuzz seeds: %zu images (%zu from the built data)\n", bases.size(), bases.size() - made);
    exit(0);
}

// Decodes an input; false when it is empty or names no base.
inline bool FuzzDecodeImage(const uint8_t* data, size_t size, const t_fuzzTarget& target,
                            t_fuzzImage& out) {
    if (size < 1) return false;
    const uint8_t selector = data[0];
    ++data;
    --size;
    out.bytes.clear();
    if (selector < 0x80) {
        out.variant = selector % target.variants;
        out.patched = false;
        out.bytes.assign(data, data + size);
        return true;
    }
    const std::vector<t_fuzzBase>& bases = n_fuzzImage::Bases();
    if (bases.empty()) return false;
    const t_fuzzBase& base = bases[(selector & 0x7F) % bases.size()];
    out.variant = base.variant % target.variants;
    out.patched = true;
    out.bytes = base.bytes;
    while (size >= 5 && !out.bytes.empty()) {
        uint32_t offset;
        memcpy(&offset, data, 4);
        const size_t n = data[4];
        data += 5;
        size -= 5;
        if (offset & 0x80000000u) {
            out.bytes.resize((offset & 0x7FFFFFFFu) % (out.bytes.size() + 1));
            continue;
        }
        const size_t take = n < size ? n : size;
        const size_t at = offset % out.bytes.size();
        for (size_t i = 0; i < take && at + i < out.bytes.size(); ++i) out.bytes[at + i] = data[i];
        data += take;
        size -= take;
    }
    return true;
}

// An image placed read-only and flush against an inaccessible page, as a
// file mapping of storage kind 0 is: a write anywhere or a read past the end
// faults at once. The mapping is kept for the next image (megabytes of
// fresh pages every run would cost more than the run itself); one at a time.
class t_fuzzReadOnlyImage {
public:
    t_fuzzReadOnlyImage(const uint8_t* data, size_t size) {
        t_region& r = Region();
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        size_t body = (size + page - 1) / page * page;
        if (body == 0) body = page;
        if (body > r.body) {
            if (r.base) munmap(r.base, r.body + page);
            void* p = mmap(nullptr, body + page, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) abort();
            r.base = static_cast<uint8_t*>(p);
            r.body = body;
            if (mprotect(r.base + r.body, page, PROT_NONE) != 0) abort();
        }
        if (mprotect(r.base, r.body, PROT_READ | PROT_WRITE) != 0) abort();
        m_image = r.base + r.body - size;
        if (size) memcpy(m_image, data, size);
        if (mprotect(r.base, r.body, PROT_READ) != 0) abort();
    }
    t_fuzzReadOnlyImage(const t_fuzzReadOnlyImage&) = delete;
    t_fuzzReadOnlyImage& operator=(const t_fuzzReadOnlyImage&) = delete;

    // Writable in type only: the dictionaries' Load takes void*.
    uint8_t* Get() const { return m_image; }

private:
    struct t_region {
        uint8_t* base = nullptr;
        size_t body = 0;  // bytes before the guard page
    };
    static t_region& Region() {
        static t_region region;
        return region;
    }
    uint8_t* m_image = nullptr;
};

// A writable heap copy of exactly the image (storage kinds 1 and 6), or
// with `reserved` zero bytes after it (storage kind 4); the sanitizer flags
// any access outside.
inline std::unique_ptr<uint8_t[]> FuzzHeapImage(const t_fuzzBytes& bytes, size_t reserved = 0) {
    std::unique_ptr<uint8_t[]> p(
        new uint8_t[bytes.size() + reserved + (bytes.empty() && !reserved)]);
    if (!bytes.empty()) memcpy(p.get(), bytes.data(), bytes.size());
    if (reserved) memset(p.get() + bytes.size(), 0, reserved);
    return p;
}

// A little reader over the input for choosing lookups.
class t_fuzzPicker {
public:
    t_fuzzPicker(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint32_t Next(uint32_t bound) {
        if (bound == 0) return 0;
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | (m_size ? m_data[m_pos++ % m_size] : 0);
        m_pos += 7;
        return v % bound;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Removes every file of the work directory (saves of the last input).
inline void FuzzClearWorkDir() {
    std::error_code ignored;
    for (const auto& e : std::filesystem::directory_iterator(FuzzWorkDir(), ignored))
        std::filesystem::remove_all(e.path(), ignored);
}
