// The annex and traditional-form entries as the kernel registers them,
// attached through the dictionary manager from damaged and small files (the
// registry test attaches the built ones).
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "kernel/lexicon/stroke_annex.h"
#include "kernel/lexicon/stroke_annex_writer.h"
#include "kernel/lexicon/trad_dict.h"
#include "kernel/runtime/cand_word.h"
#include "tests/kernel/lexicon/built_data_support.h"

namespace {

using RegistryExtraATest = DictManagerDirTest;

bool RegisterSystemFile(t_dictManager& m, const wchar_t* name, t_dictStorageBase* dict,
                        const wchar_t* file) {
    return m.Register(name, dict, kLoadPhase1, kStorageFileMap, kDirSystem, file, 0, 2);
}

}  // namespace

TEST_F(RegistryExtraATest, DamagedSystemFilesLeaveTheirDictionariesNotReady) {
    {
        std::ofstream(PathOf("sys/qzim_annex.bin"), std::ios::binary) << "not an annex image";
        std::ofstream(PathOf("sys/qzim_tra.bin"), std::ios::binary) << std::string(40, '\xFF');
    }
    t_sysBhBsh annex;
    t_traDict trad;
    ASSERT_TRUE(RegisterSystemFile(*manager_, L"BhbshDict", &annex, L"qzim_annex.bin"));
    ASSERT_TRUE(RegisterSystemFile(*manager_, L"TraditionDict", &trad, L"qzim_tra.bin"));
    EXPECT_FALSE(manager_->LoadDict(L"BhbshDict"));
    EXPECT_FALSE(manager_->LoadDict(L"TraditionDict"));
    EXPECT_FALSE(annex.IsReady());
    EXPECT_FALSE(trad.IsReady());
    t_scopeHeap heap;
    t_candWord* out[4];
    EXPECT_EQ(annex.SearchByInput(&heap, L"hs", out, 0, 4), 0);
}

TEST_F(RegistryExtraATest, SmallAnnexAttachesThroughTheManager) {
    t_strokeAnnexWriter w(7);
    ASSERT_TRUE(w.AddStrokeChar({1, 2}, 0x5341));
    ASSERT_EQ(w.AddEntry(0x5341, {1, 2}, {}, 0, {}), 0);
    std::vector<uint8_t> image;
    ASSERT_TRUE(w.Build(image));
    std::ofstream(PathOf("sys/qzim_annex.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    t_sysBhBsh annex;
    ASSERT_TRUE(RegisterSystemFile(*manager_, L"BhbshDict", &annex, L"qzim_annex.bin"));
    ASSERT_TRUE(manager_->LoadDict(L"BhbshDict"));
    EXPECT_EQ(annex.GetConfigValue(), 7u);
    EXPECT_EQ(annex.FindCharIndex(0x5341), 0);
}
