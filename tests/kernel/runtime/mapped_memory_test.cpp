// Private blocks whose empty room stays out of memory, and file mappings
// that give their read pages back without changing what they show.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/runtime/mapped_memory.h"
#include "tests/kernel/runtime/runtime_support.h"

namespace {

// Pages of [p, p + n) that are resident, counted from p's own page.
std::vector<size_t> ResidentPages(const void* p, size_t n) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const uintptr_t start = reinterpret_cast<uintptr_t>(p) / page * page;
    const size_t count = (reinterpret_cast<uintptr_t>(p) + n - start + page - 1) / page;
    std::vector<unsigned char> vec(count);
    if (mincore(reinterpret_cast<void*>(start), count * page, vec.data()) != 0) return {size_t(-1)};
    std::vector<size_t> out;
    for (size_t i = 0; i < count; ++i)
        if (vec[i] & 1) out.push_back(i);
    return out;
}

}  // namespace

TEST(ZeroedCopyTest, CopiesEveryByteAndWritesOnlyThePagesThatGetData) {
    // The block's data starts 4 bytes into its first page, after the size
    // word (so page 0 is always written); data offset 4092 is the first
    // byte of the second page.
    const struct {
        const char* title;
        std::vector<size_t> marks;  // data offsets of non-zero source bytes
        std::vector<size_t> pages;  // the block's pages that become resident
    } cases[] = {
        {"all zero", {}, {0}},
        {"first byte", {0}, {0}},
        {"both sides of a page boundary", {4091, 4092}, {0, 1}},
        {"only the last byte", {5 * 4096 - 5}, {0, 4}},
        {"a page of data between empty ones", {2 * 4096 + 100}, {0, 2}},
    };
    const size_t n = 5 * 4096 - 4;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        t_mappedMemory block;
        ASSERT_TRUE(block.CreatePrivate(L"x", int32_t(n)));
        std::vector<uint8_t> source(n, 0);
        for (size_t i = 0; i < c.marks.size(); ++i) source[c.marks[i]] = uint8_t(i + 1);
        auto* data = static_cast<uint8_t*>(block.GetData());
        CopyIntoZeroed(data, source.data(), n);
        EXPECT_EQ(c.pages, ResidentPages(data - 4, n + 4));  // before reading maps anything
        EXPECT_EQ(0, memcmp(data, source.data(), n));
    }
}

using MappedMemoryDropTest = TempHomeTest;

TEST_F(MappedMemoryDropTest, DroppingPagesKeepsWhatEveryMappingShows) {
    std::string content(3 * 4096, 'a');
    content[5000] = 'Z';
    ASSERT_TRUE(WriteFileBytes(home.At("img"), content));
    t_mappedMemory file;
    ASSERT_TRUE(file.MapFileByName(home.WAt("img").c_str()));
    EXPECT_EQ('Z', static_cast<const char*>(file.GetData())[5000]);
    EXPECT_TRUE(file.DropResidentPages());
    EXPECT_EQ(0, memcmp(file.GetData(), content.data(), content.size()));

    // A private block is the only copy of its data: it is left alone.
    t_mappedMemory block;
    ASSERT_TRUE(block.CreatePrivate(L"x", 8192));
    static_cast<uint8_t*>(block.GetData())[6000] = 9;
    EXPECT_FALSE(block.DropResidentPages());
    EXPECT_EQ(9, static_cast<uint8_t*>(block.GetData())[6000]);
}
