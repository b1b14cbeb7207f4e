// The front end's settings file: getters, the flag reset that keeps every
// other byte, the reload's requests, the save-done FIFO and the HOME paths.
#include "src/fcitx/front_settings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcitx-config/hotkey.h>

#include "tests/support/test_dir.h"

namespace n_fcitx {
namespace {

using testsupport::t_testDir;

// Sets an environment variable for one scope and puts the old value back.
class t_envScope {
public:
    t_envScope(const char* name, const char* value) : m_name(name) {
        if (const char* old = getenv(name)) {
            m_old = old;
            m_had = true;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~t_envScope() {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

const char* const kAccount = "[Key]\nSwitch2vetra = ALT_z\n[Account]\nSaveUsrDict=True\n";

TEST(FrontSettingsTest, GettersReadValuesAndFallBackToDefaults) {
    t_testDir dir;
    struct Case {
        const char* file;  // null: no file
        const char* key;
        int def;
        int want;
    } cases[] = {
        {"[Account]\nSaveUsrDict=True\n", "Account:SaveUsrDict", 0, 1},
        {"[Account]\nSaveUsrDict=off\n", "Account:SaveUsrDict", 1, 1},  // "off" is not a boolean
        {"[Account]\nSaveUsrDict=off\n", "Account:SaveUsrDict", 0, 0},
        {"[account]\nsaveusrdict = no ; c\n", "Account:SaveUsrDict", 1,
         0},                                                         // names read without case
        {"[Account]\nOther=1\n", "Account:SaveUsrDict", 1, 1},       // missing key
        {nullptr, "Account:SaveUsrDict", 1, 1},                      // missing file
        {"[Account]\nSaveUsrDict=\n", "Account:SaveUsrDict", 1, 1},  // empty value
        {"[Account:SaveUsrDict]\n", "Account:SaveUsrDict", 1, 1},    // a section of that name
        {"[Account]\nbroken line\n", "Account:SaveUsrDict", 1, 1},   // iniparser refuses the file
    };
    for (const Case& c : cases) {
        const std::string path = dir.At("vetraEnv.ini");
        unlink(path.c_str());
        if (c.file) {
            ASSERT_TRUE(dir.Put("vetraEnv.ini", c.file));
        }
        EXPECT_EQ(IniGetBool(path, c.key, c.def), c.want) << (c.file ? c.file : "(no file)");
    }
    ASSERT_TRUE(dir.Put("vetraEnv.ini", kAccount));
    EXPECT_EQ(IniGetString(dir.At("vetraEnv.ini"), kSwitchKey, kDefaultSwitchKey), "ALT_z");
    ASSERT_TRUE(dir.Put("vetraEnv.ini", "[Key]\n"));
    EXPECT_EQ(IniGetString(dir.At("vetraEnv.ini"), kSwitchKey, kDefaultSwitchKey), "CTRL_,");
    EXPECT_EQ(IniGetString(dir.At("none.ini"), kSwitchKey, kDefaultSwitchKey), "CTRL_,");
    EXPECT_EQ(IniGetString(dir.At("vetraEnv.ini"), nullptr, "d"), "d");
}

// A settings file that is there but not read is told in one line of the
// log naming it and why, never with its bytes (iniparser printed its lines
// under a /proc/self/fd name), once for each state of the file however
// often it is read; a good file in between lets the next damage be told.
TEST(FrontSettingsTest, AFileNotReadIsToldOnceByNameWithoutItsBytes) {
    t_testDir dir;
    const std::string path = dir.At("vetraEnv.ini");
    const std::string huge(size_t(1) << 20, 'x');
    struct Case {
        const char* title;
        std::string bytes;  // empty: a folder in the file's place
        const char* why;
    } cases[] = {
        {"no key=value", "[Key]\nRAW-1\n", "line 2 is neither a section nor a setting"},
        {"three such lines", "[Key]\nRAW-1\nRAW-2\nx=1\nRAW-3\n",
         "line 2 and 2 more are neither sections nor settings"},
        {"cut short", "[Key]\nSwitch2vetra=CTRL_,\n[Gen",
         "line 3 is neither a section nor a setting"},
        {"UTF-16 text", std::string("\xFF\xFE[\0K\0]\0\n\0RAW-1", 13),
         "it is UTF-16 text (it is read as UTF-8 only)"},
        {"a NUL byte", std::string("[Key]\nSwitch2vetra=RAW-1\0\n", 26), "line 2 holds a NUL byte"},
        {"a long line", "[Key]\nRAW-1=" + std::string(1100, 'x') + "\n",
         "line 2 is longer than 1023 bytes"},
        {"too large", "[Key]\n" + huge, "it is larger than 1 MiB"},
        {"a folder", "", "it is not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        // A good file between the cases: the same damage again is told again.
        ASSERT_TRUE(dir.Put("vetraEnv.ini", "[Key]\n"));
        EXPECT_EQ(IniGetBool(path, kSaveRequest, 0), 0);
        unlink(path.c_str());
        if (c.bytes.empty()) {
            ASSERT_EQ(0, mkdir(path.c_str(), 0700));
        } else {
            ASSERT_TRUE(dir.Put("vetraEnv.ini", c.bytes));
        }
        testing::internal::CaptureStderr();
        EXPECT_EQ(IniGetBool(path, kSaveRequest, 1), 1);
        t_imeSettings settings;
        settings.shuangPin = 1;
        LoadImeSettings(path, &settings);
        EXPECT_EQ(settings.shuangPin, 0);  // the default
        EXPECT_EQ(IniGetString(path, kSwitchKey, kDefaultSwitchKey), kDefaultSwitchKey);
        EXPECT_FALSE(IniResetFlag(path, kSaveRequest));
        const std::string told = testing::internal::GetCapturedStderr();
        const std::string line =
            path + ": " + c.why + "; the file is left as it is and every setting has its default\n";
        EXPECT_EQ(told.size() - told.find(line), line.size()) << told;  // the last line
        EXPECT_EQ(told.find('\n'), told.size() - 1) << told;            // and the only one
        EXPECT_EQ(told.find("RAW-"), std::string::npos) << told;
        if (c.bytes.empty()) {
            rmdir(path.c_str());
        } else {
            EXPECT_EQ(dir.Get("vetraEnv.ini"), c.bytes);
        }
    }
}

TEST(FrontSettingsTest, ResetChangesOnlyTheKeysValue) {
    struct Case {
        std::string text;
        const char* want;  // null: refused, nothing changed
    } cases[] = {
        {"[Account]\nSaveUsrDict=True\n", "[Account]\nSaveUsrDict=false\n"},
        {"; tool\r\n[ACCOUNT]\r\n  SaveUsrDict = yes ; asked\r\nx=1\r\n",
         "; tool\r\n[ACCOUNT]\r\n  SaveUsrDict = false ; asked\r\nx=1\r\n"},
        {"[Account]\nSaveUsrDict = \"yes\" # q\n", "[Account]\nSaveUsrDict = \"false\" # q\n"},
        {"[Account]\nSaveUsrDict=", "[Account]\nSaveUsrDict=false"},
        {"[Key]\nSaveUsrDict=1\n[Account]\nSaveUsrDict=1\n",
         "[Key]\nSaveUsrDict=1\n[Account]\nSaveUsrDict=false\n"},
        {"[Account]\nSaveUsrDict=1\n[Key]\n[Account]\nSaveUsrDict=1\n",
         "[Account]\nSaveUsrDict=false\n[Key]\n[Account]\nSaveUsrDict=false\n"},
        {"[Account]\nSaveUsrDict=tr\\\nue\nNext=2\n", "[Account]\nSaveUsrDict=false\nNext=2\n"},
        {"Account:SaveUsrDict=1\n", nullptr},         // outside any section: another key
        {"[Account]\n[]\nSaveUsrDict=1\n", nullptr},  // "[]" cuts the section to "a"
        {"[Account]\nSaveUsrDictX=1\n", nullptr},
        {std::string("[Account]\nSaveUsrDict=1\0\n", 26), nullptr},
    };
    for (const Case& c : cases) {
        std::string out = "untouched";
        const bool done = ResetIniValue(c.text, kSaveRequest, &out);
        EXPECT_EQ(done, c.want != nullptr) << c.text;
        EXPECT_EQ(out, c.want ? std::string(c.want) : "untouched") << c.text;
    }
}

TEST(FrontSettingsTest, ResetFlagRewritesTheFileSafely) {
    t_testDir dir;
    const std::string path = dir.At("vetraEnv.ini");
    const std::string text = "[Key]\nSwitch2vetra=CTRL_,\n\n[Account]\nRestoreUsrDict = TRUE\n";
    ASSERT_TRUE(dir.Put("vetraEnv.ini", text));
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(IniResetFlag(path, kRestoreRequest));
    EXPECT_EQ(dir.Get("vetraEnv.ini"),
              "[Key]\nSwitch2vetra=CTRL_,\n\n[Account]\nRestoreUsrDict = false\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.EntryCount(), 1u);  // no temporary left beside it
    EXPECT_EQ(IniGetBool(path, kRestoreRequest, 1), 0);

    // A file iniparser refuses, a missing key and a missing file stay as they are.
    const std::string refused = "[Account]\nRestoreUsrDict=1\nnot a setting\n";
    ASSERT_TRUE(dir.Put("vetraEnv.ini", refused));
    EXPECT_FALSE(IniResetFlag(path, kRestoreRequest));
    EXPECT_EQ(dir.Get("vetraEnv.ini"), refused);
    ASSERT_TRUE(dir.Put("vetraEnv.ini", "[Account]\n"));
    EXPECT_FALSE(IniResetFlag(path, kRestoreRequest));
    EXPECT_EQ(dir.Get("vetraEnv.ini"), "[Account]\n");
    EXPECT_FALSE(IniResetFlag(dir.At("missing.ini"), kRestoreRequest));
    EXPECT_EQ(dir.EntryCount(), 1u);
}

// Records the engine calls a reload makes.
struct t_fakeEngine {
    std::vector<std::string> calls;
    void SaveDicts() { calls.push_back("SaveDicts"); }
    void SaveUsrDict() { calls.push_back("SaveUsrDict"); }
    void StartKernel() { calls.push_back("StartKernel"); }
    void ReloadExtDict() { calls.push_back("ReloadExtDict"); }
    void NotifyAbbrUsrDictChanged() { calls.push_back("Abbr"); }
    void NotifyUsrDictV3Changed() { calls.push_back("V3"); }
    void NotifyUsrDictExtChanged() { calls.push_back("Ext"); }
};

TEST(FrontSettingsTest, ReloadCarriesOutAndClearsEachRequest) {
    t_testDir dir;
    const std::string path = dir.At("vetraEnv.ini");
    const std::string fifo = dir.At("sync.fifo");
    struct Case {
        const char* account;
        std::vector<std::string> calls;
        int restoreLeft;  // a save request carries out nothing else
    } cases[] = {
        {"", {"SaveDicts", "StartKernel", "ReloadExtDict", "Abbr"}, 0},
        {"SaveUsrDict=1\nRestoreUsrDict=1\n", {"SaveDicts", "SaveUsrDict"}, 1},
        // a restored dictionary on disk must not be saved over first
        {"RestoreUsrDict=yes\n", {"StartKernel", "ReloadExtDict", "Abbr", "V3"}, 0},
        {"BuildUsrExtDict=T\n", {"StartKernel", "ReloadExtDict", "Abbr", "Ext"}, 0},
        {"RestoreUsrDict=1\nBuildUsrExtDict=1\n",
         {"StartKernel", "ReloadExtDict", "Abbr", "V3", "Ext"},
         0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(dir.Put("vetraEnv.ini",
                            std::string("[Genelal]\nShuangPin=1\n[Account]\n") + c.account));
        t_fakeEngine engine;
        t_imeSettings settings;
        t_switchHotkey hotkey;
        ReloadFrontSettings(engine, path, fifo, &settings, &hotkey);
        EXPECT_EQ(engine.calls, c.calls) << c.account;
        EXPECT_EQ(IniGetBool(path, kSaveRequest, 0), 0) << c.account;
        EXPECT_EQ(IniGetBool(path, kRestoreRequest, 0), c.restoreLeft) << c.account;
        EXPECT_EQ(IniGetBool(path, kRebuildRequest, 0), 0) << c.account;
        // only a reload without a save request reads the switches again
        EXPECT_EQ(settings.shuangPin, c.calls[1] == "SaveUsrDict" ? 0 : 1) << c.account;
    }
    unlink(fifo.c_str());
}

// The switch hotkey: a value naming no key fcitx knows (empty, misspelt)
// keeps the default, as a missing one does (it used to leave no hotkey).
TEST(FrontSettingsTest, SwitchHotkeyFallsBackToTheDefault) {
    t_testDir dir;
    const struct {
        const char* file;  // null: no file
        FcitxKeySym sym;
        unsigned state;
    } cases[] = {
        {nullptr, FcitxKey_comma, FcitxKeyState_Ctrl},
        {"[Key]\nSwitch2vetra=ALT_B\n", FcitxKey_B, FcitxKeyState_Alt},
        {"[Key]\nSwitch2vetra=BOGUS ALT_B\n", FcitxKey_B, FcitxKeyState_Alt},
        {"[Key]\nSwitch2vetra=\n", FcitxKey_comma, FcitxKeyState_Ctrl},
        {"[Key]\nSwitch2vetra=NOSUCHKEY\n", FcitxKey_comma, FcitxKeyState_Ctrl},
        {"[Key]\nSwitch2vetra=CTRL_\n", FcitxKey_comma, FcitxKeyState_Ctrl},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "no file");
        const std::string ini = dir.At("vetraEnv.ini");
        unlink(ini.c_str());
        if (c.file) {
            ASSERT_TRUE(dir.Put("vetraEnv.ini", c.file));
        }
        FcitxHotkey keys[2] = {};
        ParseSwitchHotkey(ini, keys);
        EXPECT_EQ(keys[0].sym, c.sym);
        EXPECT_EQ(keys[0].state, c.state);
        FcitxHotkeyFree(keys);
    }
}

TEST(FrontSettingsTest, LoadImeSettingsDefaultsAndValues) {
    t_testDir dir;
    t_imeSettings settings;
    settings.englishRetain = 0;
    LoadImeSettings(dir.At("missing.ini"), &settings);
    const t_imeSettings defaults;
    EXPECT_EQ(settings.englishRetain, defaults.englishRetain);
    ASSERT_TRUE(
        dir.Put("vetraEnv.ini",
                "[Key]\nSwichEnglishRetainExist=0\n[Advance]\nKeyPadInputDigital=n\n[Genelal]\n"
                "ShuangPin=y\nHintSP=f\n[ShuangPin]\nFenHao_is_empt=1\n"));
    LoadImeSettings(dir.At("vetraEnv.ini"), &settings);
    EXPECT_EQ(std::vector<int>({settings.englishRetain, settings.keypadDigits, settings.shuangPin,
                                settings.shuangPinHint, settings.semicolonIsEmpty}),
              std::vector<int>({0, 0, 1, 0, 1}));
}

// A FIFO, a folder or a device where the settings file belongs reads as a
// missing file: the settings keep their defaults and nothing waits (a FIFO
// used to hold fcitx in open at start).
TEST(FrontSettingsTest, SettingsFileThatIsNoFileReadsAsMissing) {
    t_testDir dir;
    testsupport::t_hangGuard guard(20);
    const t_imeSettings defaults;
    for (const std::string& kind : testsupport::NonRegularKinds()) {
        SCOPED_TRACE(kind);
        testsupport::RemoveTree(dir.At("vetraEnv.ini"));
        testsupport::RemoveTree(dir.At("vetraEnv.ini.target"));
        const std::string ini = testsupport::NonRegularAt(kind, dir.At("vetraEnv.ini"));
        ASSERT_FALSE(ini.empty()) << "could not make it";
        t_imeSettings settings;
        settings.shuangPin = !defaults.shuangPin;
        LoadImeSettings(ini, &settings);
        EXPECT_EQ(settings.shuangPin, defaults.shuangPin);
        EXPECT_EQ(IniGetBool(ini, kSaveRequest, 7), 7);
        EXPECT_FALSE(IniResetFlag(ini, kSaveRequest));
    }
}

TEST(FrontSettingsTest, FifoIsSignalledOnlyWhenOursAndRead) {
    t_testDir dir;
    const std::string fifo = dir.At("sync.fifo");
    // Missing: created private whatever the umask, and with no reader
    // nothing waits. One made open by an older run is closed too.
    const mode_t umaskBefore = umask(0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SignalSyncFifo(fifo.c_str()), t_fifoSignal::kNoReader);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    struct stat st;
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(chmod(fifo.c_str(), 0777), 0);
    EXPECT_EQ(SignalSyncFifo(fifo.c_str()), t_fifoSignal::kNoReader);
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    umask(umaskBefore);

    // A reader waiting in open() is released.
    std::thread reader([&] {
        const int fd = open(fifo.c_str(), O_RDONLY);
        if (fd >= 0) close(fd);
    });
    t_fifoSignal got = t_fifoSignal::kNoReader;
    for (int i = 0; i < 200 && got == t_fifoSignal::kNoReader; ++i) {
        got = SignalSyncFifo(fifo.c_str());
        if (got == t_fifoSignal::kNoReader)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reader.join();
    EXPECT_EQ(got, t_fifoSignal::kSignalled);

    // A regular file or a link at the path is left alone.
    ASSERT_TRUE(dir.Put("plain", "keep"));
    EXPECT_EQ(SignalSyncFifo(dir.At("plain").c_str()), t_fifoSignal::kNotOurs);
    EXPECT_EQ(dir.Get("plain"), "keep");
    ASSERT_EQ(symlink(fifo.c_str(), dir.At("link").c_str()), 0);
    EXPECT_EQ(SignalSyncFifo(dir.At("link").c_str()), t_fifoSignal::kNotOurs);
}

// Another user's FIFO is not ours either, and told once.
TEST(FrontSettingsTest, AnotherUsersFifoIsToldOnce) {
    // Its owner and this process are two users of the system: a user
    // namespace made without root maps this user's own id only.
    if (geteuid() != 0) GTEST_SKIP() << "another user's FIFO can only be made as root";
    t_testDir dir;
    const std::string fifo = dir.At("sync.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(chown(fifo.c_str(), 65534, 65534), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(SignalSyncFifo(fifo.c_str()), t_fifoSignal::kNotOurs);
    EXPECT_EQ(SignalSyncFifo(fifo.c_str()), t_fifoSignal::kNotOurs);
    const std::string log = testing::internal::GetCapturedStderr();
    const size_t first = log.find("belongs to another user");
    EXPECT_NE(first, std::string::npos) << "the foreign FIFO is not reported";
    EXPECT_EQ(log.find("belongs to another user", first + 1), std::string::npos)
        << "reported twice";
}

TEST(FrontSettingsTest, HomePathsFitOrCountAsMissing) {
    {
        t_envScope home("HOME", "/home/someone");
        EXPECT_EQ(GetSettingsIniPath(), "/home/someone/.config/VetraPY/vetraEnv.ini");
    }
    {
        const std::string longHome(2000, 'h');
        t_envScope home("HOME", ("/" + longHome).c_str());
        EXPECT_EQ(GetSettingsIniPath(), "");
    }
    {
        t_envScope home("HOME", nullptr);
        const struct passwd* pw = getpwuid(geteuid());
        ASSERT_NE(pw, nullptr);
        EXPECT_EQ(HomePath(".config"), std::string(pw->pw_dir) + "/.config");
    }
    t_envScope fifo(kSyncFifoEnv, nullptr);
    EXPECT_EQ(SyncFifoPath(), kDefaultSyncFifo);
}

}  // namespace
}  // namespace n_fcitx
