// The editable English and web-address dictionaries: learning, merging,
// deleting, growth, and their life under the dictionary manager.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "kernel/lexicon/string_dict_user.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

namespace {

std::u16string U16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class EngUsrDictTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(t_strUsrDict::BuildDefaultImage(image));
        ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    }
    uint32_t Count(const std::u16string& w) {
        uint32_t c = 12345;
        return dict.GetWordFreq(L(U(w)), &c) ? c : 12345;
    }
    int32_t SearchTotal(const std::u16string& input) {
        t_scopeHeap heap;
        t_strResult** out = nullptr;
        uint32_t full = 0;
        int32_t total = 0;
        EXPECT_EQ(1, dict.Search(heap, L(U(input)), 0, &out, &full, &total));
        return total;
    }
    Bytes image;
    t_engUsrDict dict;
};

}  // namespace

TEST_F(EngUsrDictTest, RepeatedUseCountsOncePerDayWhileCountIsOne) {
    ASSERT_EQ(1, dict.AddWord(L(U(u"hello")), 1000));
    EXPECT_EQ(1u, Count(u"hello"));
    ASSERT_EQ(1, dict.AddWord(L(U(u"hello")), 2000));
    EXPECT_EQ(2u, Count(u"hello"));

    ASSERT_EQ(1, dict.AddWord(L(U(u"world")), 1000));
    ASSERT_EQ(1, dict.AddWord(L(U(u"world")), 1000 + 86400));
    EXPECT_EQ(1u, Count(u"world"));
    t_scopeHeap heap;
    t_strUsrEntry** all = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(1, dict.ListAll(heap, &all, &n));
    bool seen = false;
    for (uint32_t i = 0; i < n; ++i)
        if (Text(all[i]->stored) == u"world") {
            seen = true;
            EXPECT_EQ(1000u + 86400u, all[i]->time);
        }
    EXPECT_TRUE(seen);
}

TEST_F(EngUsrDictTest, SearchOffersOnlyWordsUsedTwice) {
    dict.AddWord(L(U(u"abcd")), 10);
    EXPECT_EQ(0, SearchTotal(u"ab"));
    dict.AddWord(L(U(u"abcd")), 20);
    EXPECT_EQ(1, SearchTotal(u"ab"));
    EXPECT_EQ(1, SearchTotal(u"ab*d"));
    EXPECT_EQ(0, SearchTotal(u"ab*c"));
}

TEST_F(EngUsrDictTest, DeletedWordIsNotOfferedAndCountsZero) {
    dict.MergeWord(L(U(u"gone")), 10, 5);
    EXPECT_EQ(1, SearchTotal(u"go"));
    EXPECT_EQ(1, dict.DeleteWord(L(U(u"gone"))));
    EXPECT_EQ(0, SearchTotal(u"go"));
    EXPECT_EQ(0u, Count(u"gone"));
    EXPECT_EQ(0, dict.DeleteWord(L(U(u"never"))));
}

TEST_F(EngUsrDictTest, MergeKeepsTheLargerTimeAndCount) {
    dict.MergeWord(L(U(u"merge")), 500, 3);
    dict.MergeWord(L(U(u"merge")), 100, 9);
    EXPECT_EQ(9u, Count(u"merge"));
    t_scopeHeap heap;
    t_strResult** out = nullptr;
    uint32_t full = 0;
    int32_t total = 0;
    ASSERT_EQ(1, dict.Search(heap, L(U(u"merge")), 0, &out, &full, &total));
    ASSERT_EQ(1, total);
    EXPECT_EQ(500u, out[0]->time);
    EXPECT_EQ(1, out[0]->source);
}

TEST_F(EngUsrDictTest, OverlongWordIsRefusedByDelete) {
    const std::u16string longest(t_strUsrDict::kMaxDeleteUnits, u'a');
    const std::u16string tooLong(t_strUsrDict::kMaxDeleteUnits + 1, u'a');
    ASSERT_EQ(1, dict.MergeWord(L(U(longest)), 1, 5));
    ASSERT_EQ(1, dict.MergeWord(L(U(tooLong)), 1, 5));
    EXPECT_EQ(0, dict.DeleteWord(L(U(tooLong))));
    EXPECT_EQ(5u, Count(tooLong));
    EXPECT_EQ(1, dict.DeleteWord(L(U(longest))));
    EXPECT_EQ(0u, Count(longest));
}

TEST_F(EngUsrDictTest, GrowthKeepsEveryWord) {
    const int words = 12000;  // past the 10000 rows of the empty image
    for (int i = 0; i < words; ++i) {
        const std::string w = "w" + std::to_string(i);
        ASSERT_EQ(1, dict.MergeWord(L(U(U16(w))), uint32_t(i + 1), 2)) << i;
    }
    for (int i = 0; i < words; i += 97) {
        const std::string w = "w" + std::to_string(i);
        EXPECT_EQ(2u, Count(U16(w))) << w;
    }
}

TEST_F(EngUsrDictTest, PastTheRowLimitTheLeastUsedWordsAreTrimmed) {
    // Doubling stops at 80000 rows; past nine tenths of that the table trims
    // the deleted words and the least used ones instead of growing.
    const int words = 76000;
    for (int i = 0; i < words; ++i) {
        const std::string w = "t" + std::to_string(i);
        const uint32_t count = i % 10 == 0 ? 50 : 2;
        ASSERT_EQ(1, dict.MergeWord(L(U(U16(w))), uint32_t(i + 1), count)) << i;
        if (i % 1000 == 1) dict.DeleteWord(L(U(U16(w))));
    }
    t_scopeHeap heap;
    t_strUsrEntry** all = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(1, dict.ListAll(heap, &all, &n));
    EXPECT_LE(n, uint32_t(t_strUsrDict::kMaxKeyRows));
    uint32_t live = 0, deleted = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (all[i]->count == 0) ++deleted;
        if (all[i]->count > 0) ++live;
    }
    EXPECT_LT(live, uint32_t(words));
    // Every much-used word survived the trims.
    for (int i = 0; i < words; i += 10) {
        const std::string w = "t" + std::to_string(i);
        ASSERT_EQ(50u, Count(U16(w))) << w;
    }
}

TEST_F(EngUsrDictTest, NotReadyDictionaryDoesNothing) {
    t_engUsrDict idle;
    EXPECT_EQ(0, idle.AddWord(L(U(u"x")), 1));
    EXPECT_EQ(0, idle.DeleteWord(L(U(u"x"))));
    uint32_t c = 0;
    EXPECT_EQ(0, idle.GetWordFreq(L(U(u"x")), &c));
}

TEST(StrUsrDictFileTest, ImageWrittenToFileAttaches) {
    const std::string dir = TempDir();
    const std::string path = dir + "/eng.bin";
    ASSERT_TRUE(t_strUsrDict::BuildImageToFile(Wide(path).c_str(), 50));
    Bytes bytes = ReadBytes(path);
    t_urlUsrDict url;
    ASSERT_TRUE(url.Load(bytes.data(), int32_t(bytes.size())));
    EXPECT_EQ(1, url.AddUrl(L(U(u"www.example.org")), 5));
    EXPECT_FALSE(t_strUsrDict::BuildImageToFile(Wide(path).c_str(), 0));
}

TEST_F(DictManagerTest, GrownUserListIsWrittenAndReattached) {
    t_urlUsrDict url;
    ASSERT_TRUE(manager->Register(L"UrlUsrDict", &url, 0, kStorageMemCopy, kDirUser,
                                  L"qzim_url_usr.bin", 0, 2));
    ASSERT_TRUE(manager->LoadDict(L"UrlUsrDict"));
    const int n = 12000;
    for (int i = 0; i < n; ++i) {
        const std::string w = "site" + std::to_string(i) + ".example";
        ASSERT_EQ(1, url.MergeUrl(L(U(U16(w))), 1, 3)) << i;
    }
    ASSERT_TRUE(url.IsReady());
    // The grown image went to the file; a fresh reader of it sees the words.
    Bytes bytes = ReadBytes(user + "/qzim_url_usr.bin");
    t_urlUsrDict again;
    ASSERT_TRUE(again.Load(bytes.data(), int32_t(bytes.size())));
    t_scopeHeap heap;
    t_strResult** out = nullptr;
    uint32_t full = 0;
    int32_t total = 0;
    ASSERT_EQ(1, again.Search(heap, L(U(u"site1.example")), 0, &out, &full, &total));
    EXPECT_EQ(1u, full);
    ASSERT_EQ(1, url.Search(heap, L(U(u"site11999.example")), 0, &out, &full, &total));
    EXPECT_EQ(1u, full);
}

namespace {
bool FailingWrite(int, const void*, size_t) {
    return false;
}
}  // namespace

// The list is built when missing, grows while the disk refuses writes, and
// the manager's next save writes it with its counts.
TEST_F(DictManagerTest, GrowthSavedOnADiskThatFailsIsSavedLater) {
    t_engUsrDict eng;
    ASSERT_TRUE(manager->Register(L"EngUsrDict", &eng, 0, kStorageMemCopy, kDirUser,
                                  L"qzim_eng_usr.bin", 0, 2));
    ASSERT_TRUE(manager->LoadDict(L"EngUsrDict"));
    SetDictWriteFunction(&FailingWrite);
    const int n = 12000;
    for (int i = 0; i < n; ++i) {
        const std::string w = "word" + std::to_string(i);
        ASSERT_EQ(1, eng.MergeWord(L(U(U16(w))), 1, 3)) << i;
    }
    uint32_t c = 0;
    EXPECT_EQ(1, eng.GetWordFreq(L(U(u"word11999")), &c));
    SetDictWriteFunction(nullptr);
    manager->SaveDict(L"EngUsrDict");
    Bytes bytes = ReadBytes(user + "/qzim_eng_usr.bin");
    t_engUsrDict again;
    ASSERT_TRUE(again.Load(bytes.data(), int32_t(bytes.size())));
    EXPECT_EQ(1, again.GetWordFreq(L(U(u"word11999")), &c));
    EXPECT_EQ(1, again.GetWordFreq(L(U(u"word0")), &c));
    EXPECT_EQ(3u, c);
}

namespace {
// A limit on the size of the files this process writes (as a quota or a
// nearly full disk would set one), lifted when it goes.
class t_fileSizeLimit {
public:
    explicit t_fileSizeLimit(rlim_t bytes) {
        m_set = getrlimit(RLIMIT_FSIZE, &m_old) == 0;
        m_handler = signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        m_set = m_set && setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~t_fileSizeLimit() {
        if (m_set) setrlimit(RLIMIT_FSIZE, &m_old);
        signal(SIGXFSZ, m_handler);
    }
    bool IsSet() const { return m_set; }

private:
    rlimit m_old{};
    sighandler_t m_handler;
    bool m_set = false;
};
}  // namespace

// The list grows where the disk takes its first image but not the grown one,
// so the growth cannot be passed on; a save (as a flush or in steps), or a
// reset where the disk takes nothing, then reports the failure and keeps
// every change, and the next save writes them all once the disk takes it.
// The save used to write the manager's block, which lacks every word added
// since the growth, answer true and forget the changes; the failed reset put
// that block back.
TEST_F(DictManagerTest, GrownListTheDiskRefusesIsReportedAndSavedLater) {
    t_urlUsrDict url;
    t_engUsrDict eng, eng2;
    enum t_op { kSaveInSteps, kSave, kReset };
    struct t_case {
        t_strUsrStoredDict* dict;
        const wchar_t* name;
        const char* file;
        std::function<int(const t_lstr*)> add;
        t_op op;
    };
    // The steps save every list: they go first, while the others' files are
    // as small as their own.
    const t_case cases[] = {
        {&url, L"UrlUsrDict", "qzim_url_usr.bin",
         [&](const t_lstr* s) { return url.MergeUrl(s, 1, 3); }, kSaveInSteps},
        {&eng, L"EngUsrDict", "qzim_eng_usr.bin",
         [&](const t_lstr* s) { return eng.MergeWord(s, 1, 3); }, kSave},
        {&eng2, L"EngUsrDict2", "qzim_eng_usr2.bin",
         [&](const t_lstr* s) { return eng2.MergeWord(s, 1, 3); }, kReset},
    };
    for (const t_case& c : cases) {
        ASSERT_TRUE(manager->Register(c.name, c.dict, 0, kStorageMemCopy, kDirUser,
                                      Wide(c.file).c_str(), 0, 2));
        ASSERT_TRUE(manager->LoadDict(c.name));
    }
    ASSERT_TRUE(manager->SaveAll());
    const auto run = [&](const t_case& c, t_op op) {
        if (op == kSave) return manager->SaveDict(c.name);
        if (op == kReset) return manager->ResetEntry(manager->FindEntry(c.name));
        std::unique_ptr<t_dictSaveSnapshot> snapshot = manager->TakeSaveSnapshot();
        if (!snapshot) return false;
        const bool written = snapshot->Write();
        return manager->FinishSave(*snapshot) && written;
    };
    // Strings of up to three letters: the rows fill before the text bytes,
    // so the table grows at nine tenths of its rows, and a few more follow.
    const auto word = [](int i) {
        std::u16string w;
        do w.push_back(u"abcdefghijklmnopqrstuvwxyz0123456789"[i % 36]);
        while ((i /= 36) > 0);
        return w;
    };
    const int n = int(t_strUsrDict::kDefaultRows) * 9 / 10 + 16;
    for (const t_case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = user + "/" + c.file;
        const Bytes before = ReadBytes(path);
        int added = 0;
        bool done;
        {
            t_fileSizeLimit limit(c.op == kReset ? 0 : before.size() + 4096);
            ASSERT_TRUE(limit.IsSet());
            while (added < n && c.add(L(U(word(added)))) == 1) ++added;
            done = run(c, c.op);
        }
        ASSERT_EQ(n, added);
        EXPECT_FALSE(done);
        EXPECT_TRUE(c.dict->HasUnsavedChanges());
        EXPECT_EQ(before, ReadBytes(path));
        EXPECT_TRUE(run(c, c.op == kSaveInSteps ? kSaveInSteps : kSave));
        EXPECT_FALSE(c.dict->HasUnsavedChanges());
        Bytes bytes = ReadBytes(path);
        t_engUsrDict again;
        ASSERT_TRUE(again.Load(bytes.data(), int32_t(bytes.size())));
        for (const int i : {0, n - 1}) {
            uint32_t count = 0;
            EXPECT_EQ(1, again.GetWordFreq(L(U(word(i))), &count)) << i;
            EXPECT_EQ(3u, count) << i;
        }
    }
}

// The user's word list is read back from the user directory: every byte of a
// damaged small image flipped in turn; attach fails or every operation stays
// inside the image (the sanitizer build catches a read past it).
TEST(StrUsrDictFileTest, DamagedImagesNeverReadOutside) {
    const std::string dir = TempDir();
    ASSERT_TRUE(t_strUsrDict::BuildImageToFile(Wide(dir + "/small.bin").c_str(), 50));
    Bytes small = ReadBytes(dir + "/small.bin");
    t_engUsrDict filled;
    ASSERT_TRUE(filled.Load(small.data(), int32_t(small.size())));
    for (const char16_t* w : {u"hello", u"help", u"don't", u"world"})
        ASSERT_EQ(1, filled.MergeWord(L(U(w)), 7, 2));
    ASSERT_TRUE(filled.SaveToFile(Wide(dir + "/filled.bin").c_str()));
    const Bytes good = ReadBytes(dir + "/filled.bin");
    ASSERT_FALSE(good.empty());
    const Bytes hel = U(u"hel"), help = U(u"help"), star = U(u"h*p"), fresh = U(u"newword");
    size_t attached = 0;
    t_scopeHeap heap;
    for (size_t pos = 0; pos < good.size(); ++pos) {
        for (uint8_t x : {uint8_t(0xFF), uint8_t(0x01)}) {
            Bytes bad = good;
            bad[pos] ^= x;
            t_engUsrDict d;
            if (!d.Load(bad.data(), int32_t(bad.size()))) continue;
            ++attached;
            t_strResult** out = nullptr;
            uint32_t full = 0;
            int32_t total = 0;
            d.Search(heap, L(hel), 0, &out, &full, &total);
            d.Search(heap, L(star), 0, &out, &full, &total);
            d.GetPrefixWords(heap, L(help), &out, &total);
            uint32_t count = 0;
            d.GetWordFreq(L(help), &count);
            t_strUsrEntry** all = nullptr;
            d.ListAll(heap, &all, &count);
            d.AddWord(L(help), 9);
            d.AddWord(L(fresh), 9);
            d.DeleteWord(L(hel));
        }
    }
    EXPECT_GT(attached, 0u);
    std::filesystem::remove_all(dir);
}
