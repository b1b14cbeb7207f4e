// env.ini: legacy keys and version migration on load, keys the registry does
// not know, failed files kept in Backup, saves that fail leaving the old file
// whole, and the exact bytes of a saved file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "porting3/runtime_env.h"
#include "tests/support/test_dir.h"
#include "userenv/env_store.h"

namespace n_userenv {
namespace {

using S = std::u16string;

S U16(const std::string& ascii) {
    return S(ascii.begin(), ascii.end());
}
int32_t Read(const t_env& env, const char16_t* name) {
    return env.ReadInt(*FindEnvEntryExact(name));
}

TEST(EnvFileTest, LegacyKeysAndMigration) {
    const struct {
        const char* name;
        std::string lines;  // inside [Setting]
        std::vector<std::pair<const char16_t*, int32_t>> expect;
    } cases[] = {
        {"no FreqUpMode", "", {{u"LearnNewWord", 1}, {u"LearnFreq", 1}, {u"LimitWordCand", 0}}},
        {"FreqUpMode 1", "FreqUpMode=1\n", {{u"LearnNewWord", 0}, {u"LearnFreq", 0}}},
        {"FreqUpMode 2", "FreqUpMode=2\n", {{u"LearnNewWord", 1}, {u"LearnFreq", 0}}},
        {"FreqUpMode 3", "FreqUpMode=3\n", {{u"LearnNewWord", 1}, {u"LearnFreq", 1}}},
        {"FreqUpMode 4", "FreqUpMode=4\n", {{u"LearnNewWord", 1}, {u"LearnFreq", 1}}},
        {"FreqUpMode -1", "FreqUpMode=-1\n", {{u"LearnNewWord", 1}, {u"LearnFreq", 1}}},
        {"explicit keys win",
         "FreqUpMode=1\nLearnFreq=1\n",
         {{u"LearnNewWord", 0}, {u"LearnFreq", 1}}},
        {"MaxWordCand 0", "MaxWordCand=0\n", {{u"LimitWordCand", 0}}},
        {"MaxWordCand 20", "MaxWordCand=20\n", {{u"LimitWordCand", 1}}},
        {"old skin colour key",
         "IgnoreSkinColorSetting=1\n",
         {{u"IgnoreSkinColorSetting_Real", 1}}},
        {"KeyFocusWord 1", "KeyFocusWord=1\n", {{u"KeyFocusWord", 1}}},
        {"KeyFocusWord 2", "KeyFocusWord=2\n", {{u"KeyFocusWord", 0}}},
        {"keyfocusword 2: exact spelling only", "keyfocusword=2\n", {{u"KeyFocusWord", 2}}},
        {"no version: migrated",
         "StateKeyShortcutName=186\n",
         {{u"ShortcutJJGMenu", 0}, {u"KeyShortcutJJGMenu", 0}}},
        {"5.0.9.1: migrated",
         "ENV_VERSION=5.0.9.1\nStateKeyShortcutUrlGuide=186\nKeyShortcutJJGMenu=5\n",
         {{u"StateKeyShortcutUrlGuide", 0}, {u"KeyShortcutJJGMenu", 186}, {u"ShortcutJJGMenu", 1}}},
        {"5.1.0.0: kept",
         "ENV_VERSION=5.1.0.0\nStateKeyShortcutName=186\n",
         {{u"ShortcutJJGMenu", 1}, {u"KeyShortcutJJGMenu", 186}}},
        {"5.2.0.0: kept",
         "ENV_VERSION=5.2.0.0\nStateKeyShortcutUrlGuide=186\nKeyShortcutJJGMenu=5\n",
         {{u"StateKeyShortcutUrlGuide", 186}, {u"KeyShortcutJJGMenu", 5}}},
    };
    testsupport::t_testDir dir("vetra-envini");
    const S path = U16(dir.At("env.ini"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(dir.Put("env.ini", "[Setting]\n" + c.lines));
        t_env env;
        n_porting::t_errorContext ctx;
        ASSERT_EQ(1, env.Load(ctx, path.c_str(), 1));
        for (const auto& [key, value] : c.expect)
            EXPECT_EQ(value, Read(env, key)) << std::string(key, key + S(key).size());
        EXPECT_EQ(S(n_porting::GetProductVersionW()),
                  S(env.GetString(EnvEntry(n_envKey::EnvVersion))));
    }
}

TEST(EnvFileTest, UnknownKeysAndSyncModesSurviveASave) {
    testsupport::t_testDir dir("vetra-envini");
    const S path = U16(dir.At("env.ini"));
    // " [Br" and " ;Semi" would be keys the format cannot write back (saving
    // them would lose the keys after them too): they are not loaded.
    ASSERT_TRUE(dir.Put("env.ini",
                        "[setting]\n [Br=1\n ;Semi=2\nMyKey=hello "
                        "world\nLocalKey=x\nPageSize=7\nGapLevel=4294967295\n"
                        "[SYNCMODE]\nLocalKey=local\nPageSize=min\n"));
    n_porting::t_errorContext ctx;
    t_env env;
    ASSERT_EQ(1, env.Load(ctx, path.c_str(), 1));
    ASSERT_EQ(1, env.Save(ctx, path.c_str()));
    t_env again;
    ASSERT_EQ(1, again.Load(ctx, path.c_str(), 1));
    const struct {
        const char16_t* key;
        const char16_t* text;
        uint32_t sync;
    } expect[] = {{u"MyKey", u"hello world", 3},
                  {u"LocalKey", u"x", 2},
                  {u"PageSize", u"7", 5},
                  {u"GapLevel", u"4294967295", 3}};
    EXPECT_EQ(4u + 4u, env.GetValueCount());  // with the legacy keys and ENV_VERSION
    EXPECT_EQ(4u + 4u, again.GetValueCount());
    for (const auto& e : expect) {
        SCOPED_TRACE(std::string(e.key, e.key + S(e.key).size()));
        const t_envValue* v = again.FindValue({GetEnvKeyId(e.key), e.key});
        ASSERT_NE(nullptr, v);
        n_porting::t_str text;
        ASSERT_TRUE(v->ToText(text));
        EXPECT_EQ(S(e.text), S(text.GetStr()));
        EXPECT_EQ(e.sync, v->syncMode);
    }
}

// A file that does not load is set aside once and told in one line naming
// it, why and where it went; one that cannot be moved (Backup is a file)
// is told once, however often it is loaded.
TEST(EnvFileTest, FailedFilesAreSetAsideOnceAndTold) {
    const struct {
        const char* name;
        std::string content;  // empty: no file
        bool backup;
        const char* why;  // the line's text after the path; null: nothing told
        bool backupIsAFile;
    } cases[] = {
        {"missing file", "", false, nullptr, false},
        {"only SyncMode", "[SyncMode]\nPageSize=remote\n", true, "it has no [Setting] section",
         false},
        {"not an ini file", std::string("\xFF\xFE\x00", 3), true, "it has no [Setting] section",
         false},
        {"odd big-endian text", std::string("\xFE\xFF\x00[\x00", 5), true,
         "it cannot be read as text", false},
        {"no Backup folder", "[SyncMode]\n", false, "it has no [Setting] section", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::t_testDir dir("vetra-envini");
        const S path = U16(dir.At("env.ini"));
        if (!c.content.empty()) {
            ASSERT_TRUE(dir.Put("env.ini", c.content));
        }
        if (c.backupIsAFile) {
            ASSERT_TRUE(dir.Put("Backup", ""));
        }
        t_env env;
        n_porting::t_errorContext ctx;
        testing::internal::CaptureStderr();
        EXPECT_EQ(0, env.Load(ctx, path.c_str(), 1));
        EXPECT_EQ(c.backup ? 1 : 0, env.Load(ctx, path.c_str(), 1));
        const std::string told = testing::internal::GetCapturedStderr();
        if (!c.why) {
            EXPECT_EQ("", told);
        } else if (c.backupIsAFile) {
            EXPECT_EQ(dir.At("env.ini") + ": " + c.why +
                          ", left where it is (it could not be moved into Backup); every "
                          "setting has its default\n",
                      told);
            EXPECT_EQ(c.content, dir.Get("env.ini"));
            continue;
        }
        const std::vector<std::string> kept = testsupport::ListNames(dir.At("Backup"));
        ASSERT_EQ(c.backup ? 1u : 0u, kept.size());
        if (!c.backup) {
            EXPECT_EQ(0u, dir.EntryCount());  // nothing written for a missing file
            continue;
        }
        EXPECT_EQ(dir.At("env.ini") + ": " + c.why + ", moved to " + dir.At("Backup/" + kept[0]) +
                      "; every setting is back to its default\n",
                  told);
        EXPECT_EQ(std::string("env_YYYYMMDD_hhmmss.ini").size(), kept[0].size());
        EXPECT_EQ(c.content, dir.Get("Backup/" + kept[0]));
        // A good file stands in its place: later loads neither fail nor copy again.
        EXPECT_EQ(1, env.Load(ctx, path.c_str(), 1));
        EXPECT_EQ(kept, testsupport::ListNames(dir.At("Backup")));
    }
}

// A line break in a text would cut it on reload and make the rest other keys.
TEST(EnvFileTest, LineBreaksNeverReachTheFile) {
    testsupport::t_testDir dir("vetra-envini");
    const S path = U16(dir.At("env.ini"));
    const t_envEntryBase& font = *FindEnvEntryExact(u"FontCh");
    t_env env;
    ASSERT_TRUE(env.SetInt(EnvEntry(n_envKey::PageSize), 7));
    ASSERT_TRUE(env.SetString(font, u"Song"));
    for (const char16_t* bad : {u"x\r\nPageSize=99", u"a\nb", u"\r"}) {
        EXPECT_FALSE(env.SetString(font, bad));
        EXPECT_FALSE(env.SetStringByName(u"FontCh", bad));
        t_envValue v;
        v.Init();
        n_porting::t_heap heap(1024);
        EXPECT_FALSE(v.SetFromText(heap, {GetEnvKeyId(u"MyKey"), u"MyKey"}, bad, nullptr, nullptr));
    }
    n_porting::t_errorContext ctx;
    ASSERT_EQ(1, env.Save(ctx, path.c_str()));
    t_env again;
    ASSERT_EQ(1, again.Load(ctx, path.c_str(), 1));
    EXPECT_EQ(7, Read(again, u"PageSize"));
    EXPECT_EQ(S(u"Song"), S(again.GetString(font)));
}

// A FIFO, a folder or a device in place of env.ini fails the load as a
// damaged file does, at once (a FIFO used to hold fcitx in open at start).
TEST(EnvFileTest, AnythingButARegularFileFailsTheLoadWithoutWaiting) {
    testsupport::t_hangGuard guard(20);
    for (const std::string& kind : testsupport::NonRegularKinds()) {
        SCOPED_TRACE(kind);
        testsupport::t_testDir dir("vetra-envini");
        const std::string path = testsupport::NonRegularAt(kind, dir.At("env.ini"));
        ASSERT_FALSE(path.empty()) << "could not make it";
        t_env env;
        n_porting::t_errorContext ctx;
        EXPECT_EQ(0, env.Load(ctx, U16(path).c_str(), 1));
    }
}

TEST(EnvFileTest, FailedSaveKeepsTheOldFile) {
    testsupport::t_testDir dir("vetra-envini");
    const S path = U16(dir.At("env.ini"));
    n_porting::t_errorContext ctx;
    t_env env;
    ASSERT_TRUE(env.SetInt(EnvEntry(n_envKey::PageSize), 7));
    ASSERT_EQ(1, env.Save(ctx, path.c_str()));
    const std::string before = dir.Get("env.ini");
    const S big(40000, u'x');
    ASSERT_TRUE(env.SetString(EnvEntry(n_envKey::FontEn), big.c_str()));

    rlimit old{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const int saved = env.Save(ctx, path.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(0, saved);
    EXPECT_EQ(before, dir.Get("env.ini"));
    EXPECT_EQ(std::vector<std::string>{"env.ini"}, testsupport::ListNames(dir.Path()));
}

TEST(EnvFileTest, SavedBytesAndFolders) {
    testsupport::t_testDir dir("vetra-envini");
    n_porting::t_errorContext ctx;
    t_env env;
    ASSERT_TRUE(env.SetInt(EnvEntry(n_envKey::HanziSet), 3));        // bucket 1
    ASSERT_TRUE(env.SetInt(*FindEnvEntryExact(u"StatusPosX"), -1));  // bucket 5, local
    ASSERT_TRUE(env.SetString(EnvEntry(n_envKey::FontEn), u"宋"));   // bucket 15
    ASSERT_TRUE(env.SetInt(EnvEntry(n_envKey::PageSize), 7));        // bucket 12
    const S path = U16(dir.At("sub/env.ini"));                       // one missing level
    ASSERT_EQ(1, env.Save(ctx, path.c_str()));
    const S text =
        u"\uFEFF[Setting]\r\nHanziSet=3\r\nStatusPosX=-1\r\nPageSize=7\r\nFontEn=宋\r\n\r\n"
        u"[SyncMode]\r\nHanziSet=remote\r\nPageSize=remote\r\nFontEn=remote\r\n";
    std::string bytes;
    for (char16_t u : text) bytes += {char(u & 0xFF), char(u >> 8)};
    EXPECT_EQ(bytes, dir.Get("sub/env.ini"));

    const struct {
        std::string path;
        const char16_t* error;  // null: success
    } folders[] = {{"env.ini", u"文件名不合法：env.ini"},
                   {dir.At("a/b/env.ini"), nullptr},  // two missing levels: only one is made
                   {dir.At("sub/env.ini"), nullptr}};
    for (const auto& f : folders) {
        SCOPED_TRACE(f.path);
        n_porting::t_errorContext fctx;
        const int ok = EnsureFileDirectory(fctx, U16(f.path).c_str());
        if (f.error) {
            EXPECT_EQ(0, ok);
            EXPECT_EQ(S(f.error), S(fctx.GetError()));
        } else if (f.path.ends_with("/a/b/env.ini")) {
            EXPECT_EQ(0, ok);
            EXPECT_EQ(0u, S(fctx.GetError()).find(u"目录创建失败："));
        } else {
            EXPECT_EQ(1, ok);
        }
    }
}

}  // namespace
}  // namespace n_userenv
