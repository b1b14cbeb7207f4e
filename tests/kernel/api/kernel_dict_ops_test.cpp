// Dictionary operations of the entry API: the custom-phrase round trip,
// backup and restore of the user dictionary, the upload files around the
// 20,000-word limit, the quick-input lists and the VERSION template. A
// failing file operation leaves the user's files as they were.
#include <sys/stat.h>

#include <filesystem>

#include "kernel/api/kernel_dict_ops.h"
#include "kernel/api/kernel_learn.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/convert/phrase_time.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "tests/kernel/api/api_support.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

namespace fs = std::filesystem;

namespace {

class DictOpsTest : public KernelTest {
public:
    std::vector<std::wstring> Visible() {
        std::vector<t_apiPhrase> out(16);
        out.resize(size_t(GetUsrPhrases(out.data(), int32_t(out.size()))));
        std::vector<std::wstring> texts;
        for (const t_apiPhrase& p : out)
            texts.push_back(p.key + L"=" + p.phrase + L"@" + std::to_wstring(p.position));
        return texts;
    }
    std::wstring W(const std::string& s) { return testsupport::Widen(s); }
    const t_lstr* Ids(const wchar_t* a, const wchar_t* b) {
        const uint16_t units[2] = {uint16_t(SyllableTableFind(a)), uint16_t(SyllableTableFind(b))};
        return pool.MakeLstr(units, sizeof units);
    }
    bool UserHas(const t_lstr* ids, const wchar_t* word) {
        t_usrWordAttr attr;
        return LookupUserWord(ids, Word(word), &attr);
    }
    // A user dictionary file of n two-character words.
    void WriteWords(const std::string& path, int n) {
        t_usrDictV3Core d;
        ASSERT_TRUE(d.CreateEmpty(uint32_t(n) + 16));
        for (int i = 0; i < n; ++i) {
            const uint16_t ids[2] = {uint16_t(1 + i % 400), uint16_t(1 + i / 400)};
            const uint16_t text[2] = {uint16_t(0x4E00 + i % 400), uint16_t(0x4E00 + i / 400)};
            ASSERT_NE(0, d.RestoreWord(pool.MakeLstr(ids, 4), pool.MakeLstr(text, 4), 5, 0, 2, 0));
        }
        ASSERT_TRUE(d.SaveToFile(W(path).c_str(), 1));
    }
    t_scopeHeap pool;
};

}  // namespace

TEST_F(DictOpsTest, PhrasesRoundTripThroughTheTextFile) {
    Start();
    EXPECT_EQ(0, AddUsrPhrase(nullptr, L"x", 1));
    EXPECT_EQ(0, AddUsrPhrase(L"k", nullptr, 1));
    for (const uint16_t place : {0, 10000, 40000})
        EXPECT_EQ(0, AddUsrPhrase(L"k", L"x", place)) << place;
    ASSERT_EQ(1, AddUsrPhrase(L"dz", L"北京市\U0002A6A5", 1));
    ASSERT_EQ(1, AddUsrPhrase(L"yx", L"someone@example.org", 2));
    ASSERT_EQ(1, DeleteUsrPhrase(L"yx", L"someone@example.org", 2));
    EXPECT_EQ(std::vector<std::wstring>{L"dz=北京市\U0002A6A5@1"}, Visible());
    EXPECT_EQ(2, GetUsrPhraseCount());

    const std::string text = root.At("phrases.ini");
    ASSERT_EQ(1u, ExportPhrasesFile(W(text).c_str()));
    ASSERT_EQ(1, AddUsrPhrase(L"new", L"later", 3));
    ASSERT_EQ(1u, ImportPhrasesFile(W(text).c_str()));
    EXPECT_EQ(std::vector<std::wstring>{L"dz=北京市\U0002A6A5@1"}, Visible());

    const t_apiPhrase list[] = {{L"dz", L"北京市\U0002A6A5", 1}, {L"yj", L"邮件", 2}};
    ASSERT_EQ(1, ReplaceUsrPhrases(list, 2));
    EXPECT_EQ((std::vector<std::wstring>{L"dz=北京市\U0002A6A5@1", L"yj=邮件@2"}), Visible());

    // Failures change nothing: a missing source, a target in a missing folder.
    ASSERT_EQ(1, AddUsrPhrase(L"kept", L"phrase", 1));
    EXPECT_EQ(0u, ImportPhrasesFile(W(root.At("missing.ini")).c_str()));
    EXPECT_EQ(3u, Visible().size());
    EXPECT_EQ(0u, ExportPhrasesFile(W(root.At("missing/phrases.ini")).c_str()));
    EXPECT_FALSE(fs::exists(root.At("missing")));
    // Every change was saved at once: a restart keeps them.
    Stop();
    Start();
    EXPECT_EQ(3u, Visible().size());
}

TEST_F(DictOpsTest, BackupAndRestoreOfTheUserDictionary) {
    Start();
    const t_lstr *nihao = Ids(L"ni", L"hao"), *shijie = Ids(L"shi", L"jie");
    ASSERT_EQ(1u, LearnCommittedText(L"你好", nihao, 0));
    const std::string backup = root.At("backup.bin");
    int32_t status = -1;
    EXPECT_EQ(0u, BackupUsrDictV3(W(root.At("missing/backup.bin")).c_str(), &status));
    EXPECT_EQ(0, status);
    ASSERT_EQ(1u, BackupUsrDictV3(W(backup).c_str(), &status));
    EXPECT_EQ(1, status);
    ASSERT_EQ(1u, LearnCommittedText(L"世界", shijie, 0));

    // Never over the kernel's own files (it used to replace them and answer
    // true): the live dictionary, anything else in the user directory, the
    // lock files (two processes of the user then no longer exclude each
    // other) or a new name beside them. They stay as they were.
    const std::string file = user + "/" + "qzim_usr_v3new.bin";
    std::vector<std::string> own = {file, user + "/new.bin", home + "/.vetrainput/new.bin"};
    for (const auto& entry : fs::directory_iterator(home + "/.vetrainput"))
        if (entry.is_regular_file()) own.push_back(entry.path().string());
    ASSERT_GT(own.size(), 3u);
    for (const std::string& target : own) {
        const bool existed = fs::exists(target);
        const std::string before = existed ? testsupport::ReadFileBytes(target) : "";
        EXPECT_EQ(0u, BackupUsrDictV3(W(target).c_str(), &status)) << target;
        EXPECT_EQ(existed, fs::exists(target));
        if (existed) {
            EXPECT_EQ(before, testsupport::ReadFileBytes(target)) << target;
        }
    }

    const std::string damaged = root.At("damaged.bin");
    testsupport::WriteFileBytes(damaged, std::string(4096, '\x55'));
    ASSERT_EQ(1u, BackupUsrDictV3(W(root.At("before.bin")).c_str(), &status));
    EXPECT_EQ(0u, OpenOrConvertUsrDictMode1(W(damaged).c_str()));
    EXPECT_EQ(testsupport::ReadFileBytes(root.At("before.bin")), testsupport::ReadFileBytes(file));
    EXPECT_TRUE(UserHas(shijie, L"世界"));

    ASSERT_EQ(1u, OpenOrConvertUsrDictMode1(W(backup).c_str()));
    EXPECT_TRUE(UserHas(nihao, L"你好"));
    EXPECT_FALSE(UserHas(shijie, L"世界"));
}

TEST_F(DictOpsTest, UploadFilesAroundTheWholeDictionaryLimit) {
    const struct {
        int words;          // in the user dictionary file; -1 none
        bool lastUploaded;  // the same file uploaded before
        int capacity;
        int expected;
        bool base, uploadCopy;
        int addedWords;  // -1: no "usr_added.bin"
    } cases[] = {
        {-1, false, 256, 0, false, false, -1},      {19999, false, 0, -1, false, false, -1},
        {19999, false, 256, 1, false, true, 19999}, {20000, false, 256, 2, true, true, 0},
        {20000, true, 256, 0, false, false, -1},    // nothing new since
        {19999, false, 8, -1, false, true, 19999},  // the path does not fit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        for (const char* name : {"qzim_usr_v3new.bin", "qzim_usr_v3new.bin.last_uploaded",
                                 "qzim_usr_v3new.bin.upload", "usr_base.bin", "usr_added.bin"})
            fs::remove(user + "/" + name);
        if (c.words >= 0) WriteWords(user + "/qzim_usr_v3new.bin", c.words);
        if (c.lastUploaded)
            fs::copy_file(user + "/qzim_usr_v3new.bin", user + "/qzim_usr_v3new.bin.last_uploaded");
        Start();
        wchar_t base[256] = L"x", added[256] = L"x";
        EXPECT_EQ(c.expected, PrepareUsrDictUpload(base, added, c.capacity));
        if (c.capacity > 0) {
            EXPECT_EQ(c.expected == 2 ? W(user + "/usr_base.bin") : L"", base);
            EXPECT_EQ(c.expected >= 1 ? W(user + "/usr_added.bin") : L"", added);
        }
        EXPECT_EQ(c.base, fs::exists(user + "/usr_base.bin"));
        EXPECT_EQ(c.uploadCopy, fs::exists(user + "/qzim_usr_v3new.bin.upload"));
        if (c.addedWords < 0)
            EXPECT_FALSE(fs::exists(user + "/usr_added.bin"));
        else
            EXPECT_EQ(c.addedWords, GetUsrDictWordCount(W(user + "/usr_added.bin").c_str(), 1));
        Stop();
    }
}

TEST_F(DictOpsTest, WordListsMergeIntoTheExtendedDictionaryOnce) {
    // A word list of three words, written from a dictionary file.
    WriteWords(root.At("words.bin"), 3);
    Start();
    ASSERT_EQ(
        1, ExportUsrDictToText(W(root.At("words.bin")).c_str(), W(root.At("words.txt")).c_str()));
    wchar_t paths[3][kMergePathChars] = {};
    wcscpy(paths[0], W(root.At("words.txt")).c_str());
    wcscpy(paths[1], paths[0]);  // the same words twice are kept once
    const uint16_t kinds[3] = {1, 0, 0}, subKinds[3] = {2, 0, 0};
    ASSERT_EQ(1u, MergeUsrExtDictFile(paths, subKinds, kinds, 2));
    int32_t count = 0;
    ASSERT_TRUE(t_singleton<t_usrDictExtCore>::Get().GetCount(&count));
    EXPECT_EQ(3, count);
    int64_t total = 0;
    ASSERT_EQ(1, GetUserWordTotal(&total));
    EXPECT_EQ(3 + GetUsrDictInstance().GetWordCount(), total);

    // A missing list or a buffer without terminator changes nothing.
    const std::string ext = testsupport::ReadFileBytes(user + "/qzim_usr_v3_ext.bin");
    wcscpy(paths[2], W(root.At("missing.txt")).c_str());
    EXPECT_EQ(0u, MergeUsrExtDictFile(paths, subKinds, kinds, 3));
    wmemset(paths[2], L'x', kMergePathChars);
    EXPECT_EQ(0u, MergeUsrExtDictFile(paths, subKinds, kinds, 3));
    EXPECT_EQ(ext, testsupport::ReadFileBytes(user + "/qzim_usr_v3_ext.bin"));
}

TEST_F(DictOpsTest, TheVersionTemplateReadsTheKernelWhileItRuns) {
    t_phraseTimeExpr expr;
    EXPECT_EQ(nullptr, ExpandPhraseTimeExpr(expr, pool, L"$VERSION"));
    Start();
    const wchar_t* text = ExpandPhraseTimeExpr(expr, pool, L"$VERSION");
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(0, wcsncmp(text, L"Vetra", 5));
    EXPECT_NE(nullptr, wcsstr(text, L"build"));
    uint32_t values[3] = {9, 9, 9};
    GetDictVersionValues(&values[0], &values[1], &values[2]);
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0}),
              std::vector<uint32_t>(values, values + 3));  // no system data
    Stop();
    EXPECT_EQ(nullptr, ExpandPhraseTimeExpr(expr, pool, L"$VERSION"));
}

TEST_F(DictOpsTest, QuickInputPagesExpandTemplatesAndOwnTheirCopies) {
    using dicttest::t_fields;
    const dicttest::Bytes image = dicttest::BuildImage(
        t_systemTable::kQuickSys,
        {{},
         {t_fields().U32(1).I16(1).I16(1).S(u"a").S(u"b").S(u"(^_^)"),
          t_fields().U32(1).I16(2).I16(1).S(u"c").S(u"d").S(u"(T_T)"),
          t_fields().U32(4).I16(1).I16(1).S(u"rq").S(u"date").S(u"$YEAR年$MONTH月")}});
    ASSERT_TRUE(testsupport::WriteFileBytes(sys + "/qzim_quick.bin",
                                            std::string(image.begin(), image.end())));
    Start();
    const struct {
        int32_t page;
        uint16_t filter1;
        int32_t result;
        size_t count;
    } cases[] = {
        {0, 0xffff, 1, 2}, {0, 2, 1, 1}, {1, 0xffff, 1, 0}, {3, 0xffff, 1, 1}, {6, 0xffff, 0, 0}};
    std::vector<t_quickInputRecord> list;
    for (const auto& c : cases) {  // every call frees the earlier copies
        EXPECT_EQ(c.result, GetQuickInputList(c.page, c.filter1, 0xffff, list)) << c.page;
        EXPECT_EQ(c.count, list.size()) << c.page;
    }
    ASSERT_EQ(1, GetQuickInputList(3, 0xffff, 0xffff, list));
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(3, list[0].values[0]);
    const std::wstring date = pool.LstrToWide(list[0].texts[2]);
    EXPECT_EQ(std::wstring::npos, date.find(L'$'));
    EXPECT_NE(std::wstring::npos, date.find(L'年'));
    FreeRecordBuffers(list[0]);
    EXPECT_EQ(nullptr, list[0].texts[0]);
    EXPECT_EQ(0, GetQuickInputList(6, 0, 0, list));
}

namespace {
class QuickInputBuiltDataTest : public StartedOnBuiltData<DictOpsTest> {};
}  // namespace

TEST_F(QuickInputBuiltDataTest, EveryPageOfTheShippedDataListsEntriesAndTheTimePageIsExpanded) {
    std::vector<t_quickInputRecord> list;
    for (int32_t page = 0; page <= 5; ++page) {
        ASSERT_EQ(1, GetQuickInputList(page, 0xffff, 0xffff, list)) << page;
        EXPECT_FALSE(list.empty()) << page;
        for (const t_quickInputRecord& r : list) {
            EXPECT_EQ(page, r.values[0]);
            ASSERT_TRUE(r.texts[0] && r.texts[1] && r.texts[2]) << page;
            if (page == 3) {
                EXPECT_EQ(std::wstring::npos, std::wstring(pool.LstrToWide(r.texts[2])).find(L'$'));
            }
        }
    }
    for (t_quickInputRecord& r : list) FreeRecordBuffers(r);
}
