// Adding 100,000 items to an editable table file that starts small and
// doubles as it fills: the cost of learning words into a user dictionary,
// growth included.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "kernel/storage/editable_table.h"
#include "kernel/storage/table_builder.h"

using namespace n_tableFormat;

namespace {

constexpr uint32_t kVersion = 20140219;
constexpr int kItems = 100000;
constexpr int32_t kBuckets = 414;

struct t_growingImage {
    std::unique_ptr<std::vector<uint8_t>> bytes;
    static uint8_t* OnGrown(const t_grownImage& img, void* context) {
        t_growingImage* self = static_cast<t_growingImage*>(context);
        self->bytes = std::make_unique<std::vector<uint8_t>>(img.totalSize);
        return self->bytes->data();
    }
};

// A user-dictionary-like layout: a pinyin-id key with chained attri rows of
// {word, frequency}.
std::vector<uint8_t> SmallImage() {
    t_keyDesc key;
    key.keyType = 2;
    key.fieldTypes = {0, 7, 0, 7};
    key.attriIndex = 0;
    key.keyDataTable = 0;
    key.capacity = 1024;
    t_attriDesc attri;
    attri.fieldCount = 2;
    attri.dataTable = 1;
    attri.capacity = 1024;
    const std::vector<int32_t> buckets{kBuckets};
    t_tableFileBuilder b({key}, {attri}, {16384, 16384}, 1, kVersion, {}, {}, nullptr, 0, &buckets);
    std::vector<uint8_t> image(size_t(b.GetTotalSize(nullptr)));
    b.BuildToBuffer(image.data(), int64_t(image.size()));
    return image;
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// Item i: a reading of two or three syllable ids and a two-unit word.
std::vector<uint8_t> ItemOf(int i) {
    std::vector<uint8_t> out;
    const uint32_t h = uint32_t(i) * 2654435761u;
    const int units = 2 + int(h & 1);
    Put16(out, uint16_t(2 * units));
    for (int u = 0; u < units; ++u) Put16(out, uint16_t((h >> (9 * u)) % 413));
    Put32(out, 0);
    Put16(out, 4);
    Put16(out, uint16_t(0x4E00 + i % 20000));
    Put16(out, uint16_t(0x4E00 + i / 20000));
    Put32(out, uint32_t(i));
    return out;
}

void BM_EditableAddWithGrowth(benchmark::State& state) {
    std::vector<std::vector<uint8_t>> items;
    items.reserve(kItems);
    for (int i = 0; i < kItems; ++i) items.push_back(ItemOf(i));
    const std::vector<uint8_t> empty = SmallImage();
    for (auto _ : state) {
        t_growingImage owner;
        owner.bytes = std::make_unique<std::vector<uint8_t>>(empty);
        t_editableTableFile ed(&t_growingImage::OnGrown, &owner, 0);
        ed.SetBucketCount(0, kBuckets);
        if (!ed.AttachWithExtra(owner.bytes->data(), kVersion, {}, {},
                                int64_t(owner.bytes->size()))) {
            state.SkipWithError("attach failed");
            return;
        }
        int failed = 0;
        for (const std::vector<uint8_t>& item : items)
            failed += ed.AddItem(item.data(), uint32_t(item.size()), 0, nullptr, nullptr) == 0;
        if (failed) state.SkipWithError("an add failed");
        benchmark::DoNotOptimize(ed.GetCheckNum());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kItems);
}
BENCHMARK(BM_EditableAddWithGrowth)->Unit(benchmark::kMillisecond);

}  // namespace
