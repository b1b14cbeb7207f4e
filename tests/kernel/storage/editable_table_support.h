// Helpers of the editable table-file tests: two small dictionary layouts
// (a key with chained attri rows, and a key-only table), their empty images,
// item encoders, a content dump to compare with a model, and owners for the
// growth notice and the compact allocation. Single-threaded test code.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "kernel/storage/editable_table.h"
#include "tests/kernel/storage/table_support.h"

namespace edittest {

using tabletest::Bytes;

constexpr uint32_t kVersion = 20140219;

// Layout of a test image. Attri layout: key table 0 of policy id 2 (bucket =
// first unit) with fields {str key, i32 keyValue | str word, i32 freq}, the
// key strings in data table 0, the words in data table 1. Key-only layout:
// fields {str key, i32 value, str text}, key strings in data 0, texts in data 1.
struct t_shape {
    bool attri = true;
    int32_t buckets = 8;
    uint32_t keyRows = 64;
    uint32_t attriRows = 128;
    uint32_t keyBytes = 2048;
    uint32_t valueBytes = 2048;
    uint32_t extraSize = 8;
};

// The builder's empty image of a shape, with extra size word and block.
Bytes EmptyImage(const t_shape& s);
// Bucket counts to give the editable file (one entry, key table 0).
void ConfigureBuckets(t_editableTableFile& ed, const t_shape& s);
bool Attach(t_editableTableFile& ed, const t_shape& s, Bytes& image);

// A key of units {bucket, a, b...}.
Bytes KeyUnits(std::vector<uint16_t> units);
// Items of the two layouts.
Bytes AttriItem(const Bytes& key, int32_t keyValue, const std::string& word, int32_t freq);
Bytes KeyItem(const Bytes& key, int32_t value, const std::string& text);
Bytes I32(int32_t v);

// One stored item, as read back: key units, key-row value, word/text, freq.
using t_entry = std::tuple<std::vector<uint16_t>, int32_t, std::string, int32_t>;
// Every item of key table 0 in a canonical order; fails the test on damage.
std::vector<t_entry> Dump(const t_editableTableFile& ed, const t_shape& s);
// The whole image of an attached file.
Bytes WholeImage(const t_editableTableFile& ed);
// The bucket array, capacities and used counts agree with each other.
void ExpectBucketsConsistent(const t_editableTableFile& ed);
// A fresh editable file attaches a copy of the image and dumps equally.
void ExpectReattaches(const t_editableTableFile& ed, const t_shape& s);

// Trim callbacks that rank nothing and remove nothing: a remedy then only
// rebuilds, and an add that needs one still reports success.
std::unique_ptr<t_editableTableFile> QuietFile(const t_shape& s);

// Owner of a growing image: the growth notice moves the image into a new
// buffer and drops the old one at once, so stale pointers would be caught.
struct t_owner {
    std::unique_ptr<Bytes> image;
    int grown = 0;
    bool refuse = false;
    std::vector<uint32_t> allocRequests;
    static uint8_t* OnGrown(const t_grownImage& img, void* context);
    static int Alloc(uint8_t** buffer, uint32_t size, void* context);
};

}  // namespace edittest
