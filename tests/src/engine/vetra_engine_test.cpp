// The engine object on the built system data: conversion, learning that
// lasts, the cloud request gate, custom phrases and the user dictionary's
// files, and the settings handed to the kernel. One process-wide engine
// (tests/src/engine/engine_support.h); each case leaves the settings as
// it found them.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kernel/api/kernel_singletons.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/usr_dict_file_ops.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "src/cloud/cloud_reply.h"
#include "src/engine/kernel_facade.h"
#include "src/engine/vetra_engine.h"
#include "tests/src/cloud/cloud_support.h"
#include "tests/src/engine/engine_support.h"
#include "tests/support/test_dir.h"
#include "userenv/user_env.h"
#include "userenv/user_manager.h"

namespace fs = std::filesystem;

namespace {

class EngineBuiltDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(InitFailed()) << "Init failed on the built data";
        engine = TheEngine();
        if (!engine) GTEST_SKIP() << "VETRA_SYSTEM_DATA_DIR is not set";
    }
    std::string Data(const std::string& name) const { return EngineDirs().data + "/" + name; }

    // The candidate of input whose text is text, with a reference of its own.
    IVetraCoreResultElement* Element(const std::string& input, const std::string& text) {
        IVetraCoreResult* result =
            engine->Convert(input.c_str(), n_cloud::kNoRequestId, nullptr, 0);
        if (!result) return nullptr;
        IVetraCoreResultElement* found = nullptr;
        for (int32_t i = 0; i < result->GetCount() && !found; ++i)
            if (text == result->GetElement(i)->GetText()) found = result->GetElement(i);
        if (found) found->AddRef();
        result->Release();
        return found;
    }
    // Learns the word made of the candidates (input, text) in turn.
    bool Learn(const std::vector<std::pair<std::string, std::string>>& parts) {
        IVetraCoreWordBuffer* buffer = engine->CreateWordBuffer();
        bool ok = true;
        for (const auto& [input, text] : parts) {
            IVetraCoreResultElement* e = Element(input, text);
            ok = ok && e && buffer->Append(e);
            if (e) e->Release();
        }
        ok = ok && engine->LearnWord(buffer);
        buffer->Release();
        return ok;
    }
    // Writes a user dictionary file of n made-up two-character words.
    void WriteWords(const std::string& path, int n) {
        t_usrDictV3Core d;
        ASSERT_TRUE(d.CreateEmpty(uint32_t(n) + 16));
        t_scopeHeap pool;
        for (int i = 0; i < n; ++i) {
            const uint16_t ids[2] = {uint16_t(1 + i % 400), uint16_t(1 + i / 400)};
            const uint16_t text[2] = {uint16_t(0x4E00 + i % 400), uint16_t(0x4E00 + i / 400)};
            ASSERT_NE(0, d.RestoreWord(pool.MakeLstr(ids, 4), pool.MakeLstr(text, 4), 5, 0, 2, 0));
        }
        ASSERT_TRUE(d.SaveToFile(testsupport::Widen(path).c_str(), 1));
    }

    IVetraCoreEngine* engine = nullptr;
};

TEST_F(EngineBuiltDataTest, CreateHandsOutTheOneEngineWithAReference) {
    const int32_t count = engine->AddRef() - 1;
    engine->Release();
    IVetraCoreEngine* again = CreateVetraCoreEngine();
    EXPECT_EQ(engine, again);
    EXPECT_EQ(count + 1, again->AddRef() - 1);
    again->Release();
    EXPECT_EQ(count, again->Release());
}

TEST_F(EngineBuiltDataTest, InitMakesThePrivateUserDirectoryAndFailsWithoutIt) {
    struct stat st;
    ASSERT_EQ(0, stat(EngineDirs().data.c_str(), &st));
    EXPECT_EQ(S_IFDIR | 0700u, st.st_mode & (S_IFMT | 0777));
    // A fresh process whose user directory or accounts folder is a file.
    for (const char* blocked : {"VetraPY", "VetraPY.users"}) {
        SCOPED_TRACE(blocked);
        testsupport::t_testDir dir("vetra-init");
        ASSERT_TRUE(dir.Put(blocked, "x"));
        std::string out;
        EXPECT_EQ(1, RunProbe(EngineDirs().sys, dir.Path(), "nihao", &out));
    }
}

TEST_F(EngineBuiltDataTest, FirstCandidateWithItsInputEndsAndPinyin) {
    const struct {
        const char* input;
        const char* text;
        std::vector<int32_t> ends;
        const char* pinyin;
    } cases[] = {
        {"nihao", "你好", {2, 5}, "[ni'hao]"},
        {"zhongguo", "中国", {5, 8}, "[zhong'guo]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        IVetraCoreResult* result = engine->Convert(c.input, n_cloud::kNoRequestId, nullptr, 0);
        ASSERT_NE(nullptr, result);
        IVetraCoreResultElement* first = result->GetElement(0);
        EXPECT_STREQ(c.text, first->GetText());
        EXPECT_EQ(strlen(c.input), first->GetInputLength());
        ASSERT_EQ(c.ends.size(), first->GetInputEndCount());
        for (size_t i = 0; i < c.ends.size(); ++i)
            EXPECT_EQ(c.ends[i], first->GetInputEnd(int32_t(i)));
        char* pinyin = first->GetPinyinText();
        EXPECT_STREQ(c.pinyin, pinyin);
        free(pinyin);
        result->Release();
    }
    // The front end shows the second candidate of this input as its version.
    EXPECT_GE(Candidates(engine, "banben").size(), 2u);
}

TEST_F(EngineBuiltDataTest, ALearnedLowerCandidateMovesUpAndStaysAfterSaving) {
    const std::vector<std::string> before = Candidates(engine, "shiyan");
    // A full-length two-character candidate well down the list.
    std::string word;
    int old = -1;
    for (int i = 3; i < int(before.size()) && old < 0; ++i) {
        IVetraCoreResultElement* e = Element("shiyan", before[size_t(i)]);
        if (e && e->GetLength() == 2 && e->GetInputLength() == 6) word = before[size_t(old = i)];
        if (e) e->Release();
    }
    ASSERT_GE(old, 3);
    ASSERT_TRUE(Learn({{"shiyan", word}}));
    const int now = RankOf(Candidates(engine, "shiyan"), word);
    EXPECT_GE(now, 0);
    EXPECT_LT(now, old);
    ASSERT_TRUE(engine->SaveDicts());
    const int fresh = RankOf(FreshProcessCandidates("shiyan"), word);
    EXPECT_GE(fresh, 0);
    EXPECT_LT(fresh, old);
}

// While the typing run goes on, the last commit raises its usual follower
// and two short commits are learned as one word as well; a run that ended
// does neither.
TEST_F(EngineBuiltDataTest, ACommitThatTheNextContinuesIsItsContext) {
    const struct {
        bool continuing;
        const char* before;  // input and text committed first
        const char* beforeText;
        const char* next;
        const char* nextText;
    } cases[] = {
        {true, "chi", "吃", "ping", "苹"},
        {false, "he", "喝", "ping", "苹"},
    };
    for (const auto& c : cases) {
        engine->SetContinuingInput(c.continuing);
        ASSERT_TRUE(Learn({{c.before, c.beforeText}}));
        const std::vector<std::string> after = Candidates(engine, "fan");
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(c.continuing, after[0] == "饭") << c.beforeText;
        ASSERT_TRUE(Learn({{c.next, c.nextText}}));
        const std::string joined = std::string(c.beforeText) + c.nextText;
        EXPECT_EQ(c.continuing,
                  RankOf(Candidates(engine, std::string(c.before) + c.next), joined) >= 0)
            << joined;
        engine->SetContinuingInput(false);
    }
}

TEST_F(EngineBuiltDataTest, TextsTooLongForTheKernelAreRefusedNeverCut) {
    // A path whose first 1023 characters name another file in a real
    // directory: cut, it would write there.
    std::string dir = EngineDirs().root;
    while (dir.size() < 800) {
        dir += "/" + std::string(std::min<size_t>(200, 900 - dir.size()), 'd');
        ASSERT_TRUE(fs::create_directories(dir) || fs::is_directory(dir));
    }
    const std::string cut = dir + "/" + std::string(1023 - dir.size() - 1, 'f');
    const std::string longer = cut + "-and-more";
    ASSERT_EQ(1023u, cut.size());
    uint32_t status = 9;
    EXPECT_FALSE(engine->ExportPhrasesFile(longer.c_str()));
    EXPECT_FALSE(engine->BackupUsrDict(longer.c_str(), &status));
    EXPECT_EQ(0u, status);
    EXPECT_FALSE(fs::exists(cut));
    EXPECT_EQ(nullptr,
              engine->Convert(std::string(1024, 'a').c_str(), n_cloud::kNoRequestId, nullptr, 0));

    // A word of 1024 bytes is not learned.
    IVetraCoreWordBuffer* buffer = engine->CreateWordBuffer();
    IVetraCoreResultElement* a = engine->ConvertChars(std::string(1000, 'a').c_str());
    IVetraCoreResultElement* b = engine->ConvertChars(std::string(24, 'b').c_str());
    ASSERT_TRUE(a && b && buffer->Append(a) && buffer->Append(b));
    EXPECT_EQ(1024u, strlen(buffer->GetText()));
    EXPECT_FALSE(engine->LearnWord(buffer));
    EXPECT_FALSE(engine->LearnWord(nullptr));
    a->Release();
    b->Release();
    buffer->Release();
}

TEST_F(EngineBuiltDataTest, ConvertCharsKeepsTheLettersAsPinyinWhileTheyFit) {
    const struct {
        std::string text;
        const char* pinyin;
    } cases[] = {
        {"abc", "[A'B'C]"},  // the spellings of the letter ids
        {std::string(64, 'x'), "[]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        IVetraCoreResultElement* e = engine->ConvertChars(c.text.c_str());
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(c.text, e->GetText());
        EXPECT_EQ(c.text.size(), e->GetLength());
        EXPECT_EQ(0u, e->GetInputLength());
        char* pinyin = e->GetPinyinText();
        EXPECT_STREQ(c.pinyin, pinyin);
        free(pinyin);
        e->Release();
    }
}

TEST_F(EngineBuiltDataTest, CloudRequestsAreQueuedOnlyForARealIdWithTheCloudOn) {
    n_cloud::CVetraCoreCloudHelperDummy helper;
    // Built without a gateway the cloud is off.
    unsetenv("VETRA_CLOUD_GATEWAY_HOST");
    EXPECT_FALSE(engine->InitCloud(&helper));
    // A gateway that refuses connections: the worker runs, nothing answers.
    setenv("VETRA_CLOUD_GATEWAY_HOST", "127.0.0.1", 1);
    setenv("VETRA_CLOUD_GATEWAY_PORT", "1", 1);
    setenv("VETRA_CLOUD_RSA_MODULUS", cloudtest::TestModulus().c_str(), 1);
    ASSERT_TRUE(engine->InitCloud(&helper));

    n_cloud::t_cloudQueue& queue = n_cloud::CloudQueue();
    queue.Lock();  // the worker takes nothing while the test looks
    std::unique_ptr<n_cloud::t_cloudQueue, void (*)(n_cloud::t_cloudQueue*)> unlock(
        &queue, [](n_cloud::t_cloudQueue* q) {
            q->Clear();
            q->Unlock();
        });
    queue.Clear();
    int askedInputs = 0;
    for (const char* input : {"nihao", "woxia", "liuqiang"}) {
        SCOPED_TRACE(input);
        uint8_t asked = 9;
        IVetraCoreResult* r = engine->Convert(input, n_cloud::kNoRequestId, &asked, 0);
        if (r) r->Release();
        EXPECT_EQ(0, asked);
        EXPECT_EQ(0u, queue.Size());
        r = engine->Convert(input, 7, &asked, 0);
        if (r) r->Release();
        askedInputs += asked;
        ASSERT_EQ(asked ? 1u : 0u, queue.Size());
        n_cloud::CloudRequest request;
        if (!queue.TakeNewest(&request)) continue;
        // The whole record as its leading length gives it, under its id.
        EXPECT_EQ(7u, request.id);
        ASSERT_GE(request.size, 2u);
        EXPECT_EQ(uint64_t(uint16_t(request.data[0] | request.data[1] << 8)), request.size);
        request.Clear();
    }
    EXPECT_GT(askedInputs, 0) << "no input asks the cloud any more";
    unlock.reset();
    for (const char* name :
         {"VETRA_CLOUD_GATEWAY_HOST", "VETRA_CLOUD_GATEWAY_PORT", "VETRA_CLOUD_RSA_MODULUS"})
        unsetenv(name);
}

TEST_F(EngineBuiltDataTest, MergeHandsOnAtMostAHundredWordLists) {
    testsupport::t_testDir dir("vetra-merge");
    WriteWords(dir.At("words.bin"), 3);
    ASSERT_EQ(1, ExportUsrDictToText(dir.WAt("words.bin").c_str(), dir.WAt("words.txt").c_str()));
    // Lists 101 to 150 do not exist: handed on, they would fail the merge.
    std::vector<std::string> names(150, dir.At("words.txt"));
    for (size_t i = 100; i < names.size(); ++i) names[i] = dir.At("missing-" + std::to_string(i));
    std::vector<const char*> files;
    for (const std::string& n : names) files.push_back(n.c_str());
    const std::vector<uint16_t> kinds(150, 0), subKinds(150, 0);
    EXPECT_TRUE(engine->MergeUsrExtDictFile(files.data(), subKinds.data(), kinds.data(), 150));
    int32_t count = 0;
    ASSERT_TRUE(t_singleton<t_usrDictExtCore>::Get().GetCount(&count));
    EXPECT_EQ(3, count);
    EXPECT_FALSE(
        engine->MergeUsrExtDictFile(files.data() + 50, subKinds.data(), kinds.data(), 100));
    EXPECT_FALSE(engine->DropEmptyUsrExtDict());
}

TEST_F(EngineBuiltDataTest, CustomPhrasesAddListDeleteExportAndImport) {
    testsupport::t_testDir dir("vetra-phrases");
    const auto has = [&](const char* key, const char* phrase) {
        IVetraCoreAbbrResult* list = engine->GetUsrAbbrList();
        bool found = false;
        for (int32_t i = 0; list && i < list->GetCount(); ++i) {
            IVetraCoreAbbrElement* e = list->GetElement(i);
            found =
                found || (std::string(key) == e->GetKey() && std::string(phrase) == e->GetPhrase());
        }
        if (list) list->Release();
        return found;
    };
    IVetraCoreAbbrElement* phrase = engine->CreateAbbrElement();
    ASSERT_TRUE(phrase->SetStrings("qzdz", "北京市海淀区", 1));
    EXPECT_FALSE(engine->AddUsrAbbr(nullptr));
    ASSERT_TRUE(engine->AddUsrAbbr(phrase));
    EXPECT_TRUE(has("qzdz", "北京市海淀区"));
    ASSERT_TRUE(engine->SavePhrases());
    ASSERT_TRUE(engine->ExportPhrasesFile(dir.At("phrases.txt").c_str()));
    EXPECT_FALSE(dir.Get("phrases.txt").empty());
    ASSERT_TRUE(engine->DeleteUsrAbbr(phrase));
    EXPECT_FALSE(has("qzdz", "北京市海淀区"));
    ASSERT_TRUE(engine->ImportPhrasesFile(dir.At("phrases.txt").c_str()));
    EXPECT_TRUE(has("qzdz", "北京市海淀区"));
    phrase->Release();

    // A list replaces the user's phrases.
    IVetraCoreAbbrResult* list = engine->CreateAbbrResult();
    EXPECT_FALSE(engine->ImportUsrAbbrList(list));
    IVetraCoreAbbrElement* other = engine->CreateAbbrElement();
    ASSERT_TRUE(other->SetStrings("yx", "someone@example.org", 2));
    ASSERT_TRUE(list->Append(other));
    ASSERT_TRUE(engine->ImportUsrAbbrList(list));
    list->Release();
    EXPECT_TRUE(has("yx", "someone@example.org"));
    EXPECT_FALSE(has("qzdz", "北京市海淀区"));
    EXPECT_TRUE(engine->NotifyAbbrUsrDictChanged());
}

TEST_F(EngineBuiltDataTest, RemovedWordsNeverComeBackButABackupRestoresThem) {
    testsupport::t_testDir dir("vetra-backup");
    const auto rank = [&](const std::vector<std::string>& texts, const char* word) {
        return RankOf(texts, word);
    };
    // Two made-up words: one saved and backed up, one only in memory.
    ASSERT_TRUE(Learn({{"ni", "拟"}, {"hao", "郝"}}));
    ASSERT_TRUE(engine->SaveDicts());
    uint32_t status = 0;
    ASSERT_TRUE(engine->BackupUsrDict(dir.At("usr.bak").c_str(), &status));
    EXPECT_EQ(1u, status);
    ASSERT_TRUE(Learn({{"ma", "马"}, {"lu", "鹿"}}));
    // Imported words too: their file is emptied, not refused when read back.
    WriteWords(dir.At("words.bin"), 3);
    ASSERT_EQ(1, ExportUsrDictToText(dir.WAt("words.bin").c_str(), dir.WAt("words.txt").c_str()));
    const std::string list = dir.At("words.txt");
    const char* lists[] = {list.c_str()};
    const uint16_t kinds[] = {0};
    ASSERT_TRUE(engine->MergeUsrExtDictFile(lists, kinds, kinds, 1));
    const int saved = rank(Candidates(engine, "nihao"), "拟郝");
    const int unsaved = rank(Candidates(engine, "malu"), "马鹿");
    ASSERT_GE(saved, 0);
    ASSERT_GE(unsaved, 0);

    ASSERT_TRUE(engine->RemoveUsrDict());
    EXPECT_FALSE(fs::exists(Data("Backup")));
    // Emptied in place, which other processes take up as a newer save.
    const std::string left = Data("qzim_usr_v3new.bin");
    EXPECT_TRUE(fs::is_regular_file(left));
    EXPECT_EQ(0, GetUsrDictWordCount(std::wstring(left.begin(), left.end()).c_str(), 1));
    int32_t imported = -1;
    EXPECT_FALSE(t_singleton<t_usrDictExtCore>::Get().GetCount(&imported));
    EXPECT_EQ(0, imported);
    ASSERT_TRUE(engine->SaveDicts());
    const auto gone = [&](const std::vector<std::string>& texts, const char* word, int was) {
        const int now = rank(texts, word);
        return now < 0 || now > was;
    };
    EXPECT_TRUE(gone(Candidates(engine, "nihao"), "拟郝", saved));
    EXPECT_TRUE(gone(Candidates(engine, "malu"), "马鹿", unsaved));
    EXPECT_TRUE(gone(FreshProcessCandidates("nihao"), "拟郝", saved));
    EXPECT_TRUE(gone(FreshProcessCandidates("malu"), "马鹿", unsaved));

    ASSERT_TRUE(engine->RestoreUsrDict(dir.At("usr.bak").c_str()));
    EXPECT_EQ(saved, rank(Candidates(engine, "nihao"), "拟郝"));
    ASSERT_TRUE(engine->RemoveUsrDict());
}

TEST_F(EngineBuiltDataTest, RemovingWithoutFilesStillRaisesBothVersions) {
    ASSERT_TRUE(engine->RemoveUsrDict());
    t_usrDictExtCore& ext = t_singleton<t_usrDictExtCore>::Get();
    t_usrDictV3Core& user = GetUsrDictInstance();
    const int extBefore = ext.GetLocalVersion(), userBefore = user.GetLocalVersion();
    EXPECT_TRUE(engine->RemoveUsrDict());
    EXPECT_GT(ext.GetLocalVersion(), extBefore);
    EXPECT_GT(user.GetLocalVersion(), userBefore);
}

TEST_F(EngineBuiltDataTest, UploadChecksAndCommit) {
    const struct {
        int words, lastUploaded;
        bool full;
    } cases[] = {
        {100, 1001, true},
        {100, 1000, false},
        {100, 0, true},
    };
    testsupport::t_testDir dir("vetra-upload");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastUploaded);
        WriteWords(dir.At("usr.bin"), c.words);
        fs::copy_file(dir.At("usr.bin"), Data("qzim_usr_v3new.bin"),
                      fs::copy_options::overwrite_existing);
        fs::remove(Data("qzim_usr_v3new.bin.last_uploaded"));
        if (c.lastUploaded) WriteWords(Data("qzim_usr_v3new.bin.last_uploaded"), c.lastUploaded);
        EXPECT_EQ(c.full, engine->NeedFullUsrDictUpload());
    }
    // Without a prepared copy nothing moves.
    const std::string last = testsupport::ReadFileBytes(Data("qzim_usr_v3new.bin.last_uploaded"));
    fs::remove(Data("qzim_usr_v3new.bin.upload"));
    EXPECT_FALSE(engine->CommitUsrDictUpload());
    EXPECT_EQ(last, testsupport::ReadFileBytes(Data("qzim_usr_v3new.bin.last_uploaded")));
    fs::copy_file(dir.At("usr.bin"), Data("qzim_usr_v3new.bin.upload"));
    EXPECT_TRUE(engine->CommitUsrDictUpload());
    EXPECT_EQ(dir.Get("usr.bin"),
              testsupport::ReadFileBytes(Data("qzim_usr_v3new.bin.last_uploaded")));
    EXPECT_FALSE(fs::exists(Data("qzim_usr_v3new.bin.upload")));
    fs::remove(Data("qzim_usr_v3new.bin.last_uploaded"));
    ASSERT_TRUE(engine->RemoveUsrDict());
}

TEST_F(EngineBuiltDataTest, StartKernelHandsEveryUserSettingToTheKernel) {
    using n_userenv::UserEnv;
    n_porting::t_errorContext ctx;
    uint32_t id = 0;
    ASSERT_TRUE(n_userenv::UserManager::GetInstance().GetCurrentUserId(ctx, &id));
    t_configuration& config = GetConfiguration();
    const struct {
        const char16_t* name;
        const t_configItem& item;
        int32_t value;  // ints and switches, each not the default
    } cases[] = {
        {u"LongWordCandPos", n_config::LongWordCandPos, 5},
        {u"MaxLongWord", n_config::MaxLongWord, 4},
        {u"LongWordNumGate", n_config::LongWordNumGate, 7},
        {u"ForecastLongWord", n_config::ForecastLongWord, 0},
        {u"Correction", n_config::Correction, 0},
        {u"LearnFreq", n_config::LearnFreq, 0},
        {u"LearnNewWord", n_config::LearnNewWord, 0},
        {u"NoPhrase", n_config::NoPhrase, 1},
        {u"EnableCloudRequest", n_config::EnableCloudRequest, 0},
        {u"QuanPin", n_config::QuanPin, 0},
        {u"ZCSForZhChSh", n_config::ZCSForZhChSh, 0},
        {u"ShuangPin", n_config::ShuangPin, 1},
        {u"AllowQuanPin", n_config::AllowQuanPin, 1},
        {u"SuperSPJP", n_config::SuperSPJP, 0},
        {u"UserPhrase", n_config::UserPhrase, 0},
        {u"SystemUserPhrase", n_config::SystemUserPhrase, 0},
    };
    const auto store = [&](const auto& set) {
        n_userenv::t_env env;
        ASSERT_TRUE(UserEnv::GetInstance().GetEnv(ctx, env, id));
        set(env);
        ASSERT_TRUE(UserEnv::GetInstance().MergeSave(ctx, id, env, true));
        ASSERT_TRUE(engine->StartKernel());
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(&c - cases));
        const n_userenv::t_envEntryBase& e = *n_userenv::FindEnvEntryExact(c.name);
        const bool isInt = e.type == n_userenv::kTypeInt;
        const auto read = [&] {
            return isInt ? config.GetInt(c.item) : int32_t(config.GetByte(c.item));
        };
        const int32_t old = read();
        ASSERT_NE(c.value, old);
        for (const int32_t v : {c.value, old}) {
            store(
                [&](n_userenv::t_env& env) { isInt ? env.SetInt(e, v) : env.SetBool(e, v != 0); });
            EXPECT_EQ(v, read());
        }
    }
    const n_userenv::t_envEntryBase& name = *n_userenv::FindEnvEntryExact(u"ShuangPinName");
    for (const auto& [set, seen] :
         {std::pair{u"自然码", L"自然码"}, std::pair{u"Vetra", L"Vetra"}}) {
        store([&](n_userenv::t_env& env) { env.SetString(name, set); });
        EXPECT_STREQ(seen, config.GetString(n_config::ShuangPinName));
    }
}

}  // namespace
