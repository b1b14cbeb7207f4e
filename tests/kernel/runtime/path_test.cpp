// Paths, the file object, mappings, directory helpers and the clock.
#include "kernel/runtime/path.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/mapped_memory.h"
#include "kernel/runtime/os_helpers.h"
#include "tests/kernel/runtime/runtime_support.h"

namespace {

std::string Bytes(const t_pathName& p) {
    char buf[kPathBufBytes];
    return p.ToBytes(buf, sizeof buf) ? std::string(buf) : std::string("<bad>");
}

TEST(PathNameTest, NormalisesSeparatorsInOnePass) {
    EXPECT_EQ(L"dir/sub/file", t_pathName(L"dir\\sub\\\\file").Str());
    EXPECT_EQ(L"a//b", t_pathName(L"a///b").Str());   // three slashes become two
    EXPECT_EQ(L"a//b", t_pathName(L"a////b").Str());  // four become two
    t_pathName joined;
    joined.InitJoin3(L"/home/", L"/x", L"y");
    EXPECT_EQ(L"/home//x/y", joined.Str());  // "/home/" + "/" + "/x": three slashes
}

TEST(PathNameTest, DirAndFileNameParts) {
    EXPECT_EQ(L"", t_pathName(L"dir/").GetFileName());
    EXPECT_EQ(L"", t_pathName(L"name").GetFileName());
    EXPECT_EQ(L"", t_pathName(L"name").GetDir());
    EXPECT_EQ(L"", t_pathName(L"/name").GetDir());
    EXPECT_EQ(L"name", t_pathName(L"/name").GetFileName());
    EXPECT_EQ(L"/a/b", t_pathName(L"/a/b/c.txt").GetDir());
    EXPECT_EQ(L"c.txt", t_pathName(L"/a/b/c.txt").GetFileName());
}

TEST(PathNameTest, AppendAndConcat) {
    t_pathName p(L"/base");
    EXPECT_TRUE(p.Append(L""));
    EXPECT_TRUE(p.Append(nullptr));
    EXPECT_EQ(L"/base", p.Str());  // no trailing '/'
    p.Append(L"/file");
    EXPECT_EQ(L"/base/file", p.Str());
    p.Concat(L".temp");
    EXPECT_EQ(L"/base/file.temp", p.Str());
    t_pathName q(L"x");
    q.AppendPath(t_pathName(L"y//z"));
    EXPECT_EQ(L"x/y/z", q.Str());
    t_pathName raw;
    t_pathName r(L"a/b");
    raw.AssignRaw(r);
    EXPECT_EQ(L"a/b", raw.Str());
}

TEST(PathNameTest, OverlongPathIsRefusedAndStaysRefused) {
    std::wstring longName(kMaxPathChars, L'a');
    t_pathName p(longName.c_str());
    EXPECT_TRUE(p.IsValid());
    EXPECT_FALSE(p.Append(L"b"));
    EXPECT_FALSE(p.IsValid());
    // A later short append must not turn the refused path into "/c".
    EXPECT_FALSE(p.Append(L"c"));
    char buf[kPathBufBytes];
    EXPECT_FALSE(p.ToBytes(buf, sizeof buf));
    EXPECT_STREQ("", buf);
}

TEST(PathNameTest, ConvertsWithTheCharsetOfLang) {
    const char* old = getenv("LANG");
    const std::string saved = old ? old : "";
    setenv("LANG", "C", 1);  // no '.': UTF-8
    EXPECT_EQ("/tmp/\xE4\xB8\xAD", Bytes(t_pathName(L"/tmp/\u4E2D")));
    setenv("LANG", "zh_CN.GBK", 1);
    EXPECT_EQ("/tmp/\xD6\xD0", Bytes(t_pathName(L"/tmp/\u4E2D")));
    if (old)
        setenv("LANG", saved.c_str(), 1);
    else
        unsetenv("LANG");
}

using FdFileTest = TempHomeTest;

TEST_F(FdFileTest, ModesOpenAsNumbered) {
    const std::string path = home.At("f");
    t_fdFile f;
    EXPECT_FALSE(f.IsOpen());
    ASSERT_TRUE(f.Open(Widen(path).c_str(), kOpenTruncate));
    ASSERT_TRUE(f.WriteAll("hello", 5));
    EXPECT_EQ(5, f.GetSize());
    ASSERT_TRUE(f.Close());
    ASSERT_TRUE(f.Open(Widen(path).c_str(), 5));  // not a defined mode: read-only
    size_t n = 9;
    EXPECT_FALSE(f.Write("x", 1, &n));
    EXPECT_EQ(0u, n);
    char buf[8] = {};
    ASSERT_TRUE(f.Read(buf, sizeof buf, &n));
    EXPECT_EQ(5u, n);
    EXPECT_FALSE(f.Seek(0, 3));  // unknown whence
    EXPECT_TRUE(f.Seek(1, SEEK_SET));
    EXPECT_EQ(1, f.Tell());
    EXPECT_FALSE(f.ReadExact(buf, 5));  // only 4 bytes remain
    EXPECT_TRUE(f.Close());
    EXPECT_TRUE(f.Close());  // closing twice is harmless
    EXPECT_EQ(-1, f.GetSize());
    EXPECT_FALSE(f.Open(home.WAt("missing/x").c_str(), kOpenRead));
}

TEST_F(FdFileTest, AppendAndTruncateModes) {
    const std::string path = home.At("g");
    ASSERT_TRUE(WriteFileBytes(path, "abc"));
    t_fdFile f;
    ASSERT_TRUE(f.Open(Widen(path).c_str(), kOpenAppend));
    ASSERT_TRUE(f.WriteAll("de", 2));
    f.Close();
    EXPECT_EQ("abcde", ReadFileBytes(path));
    ASSERT_TRUE(f.Open(Widen(path).c_str(), kOpenReadWriteTruncate));
    EXPECT_EQ(0, f.GetSize());
}

TEST_F(FdFileTest, SafeWriterReplacesOnlyOnCommit) {
    const std::string path = home.At("data.bin");
    ASSERT_TRUE(WriteFileBytes(path, "old"));
    chmod(path.c_str(), 0640);
    {
        t_safeFileWriter w;
        ASSERT_TRUE(w.Begin(t_pathName(Widen(path).c_str())));
        ASSERT_TRUE(w.Write("new", 3));
    }  // abandoned: the target keeps its content and no temporary is left
    EXPECT_EQ("old", ReadFileBytes(path));
    EXPECT_EQ(std::vector<std::string>{"data.bin"}, ListNames(home.Path()));
    t_safeFileWriter w;
    ASSERT_TRUE(w.Begin(t_pathName(Widen(path).c_str())));
    ASSERT_TRUE(w.Write("new content", 11));
    ASSERT_TRUE(w.Commit());
    EXPECT_EQ("new content", ReadFileBytes(path));
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 0777);
    EXPECT_EQ(std::vector<std::string>{"data.bin"}, ListNames(home.Path()));

    // No descriptor left for the folder's sync: the file is replaced all the
    // same, and Commit says so rather than reporting a failure.
    ASSERT_TRUE(w.Begin(t_pathName(Widen(path).c_str())));
    ASSERT_TRUE(w.Write("newer", 5));
    rlimit old{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &old));
    rlimit few = old;
    few.rlim_cur = std::min<rlim_t>(old.rlim_cur, 256);
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &few));
    std::vector<int> fillers;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
    const t_safeFileWriter::t_commitResult result = w.Commit();
    for (int fd : fillers) close(fd);
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_EQ(t_safeFileWriter::kCommitWrittenUnsynced, result);
    EXPECT_TRUE(result);
    EXPECT_EQ("newer", ReadFileBytes(path));
    EXPECT_EQ(std::vector<std::string>{"data.bin"}, ListNames(home.Path()));
}

// Every opener of a file the user or a client names: a FIFO, a folder or a
// device in the file's place is refused at once (a FIFO used to hold the
// caller in open, /dev/zero to be read without end), and a file above the
// caller's limit is refused before it is read. The device is the system's
// own node, named or reached through a link: making one needs root.
TEST_F(FdFileTest, OpenersRefuseAnythingButARegularFileWithoutBlocking) {
    const struct {
        const char* name;
        bool (*open)(const std::string& path, const std::string& scratch);
    } openers[] = {
        {"t_fdFile read",
         [](const std::string& p, const std::string&) {
             t_fdFile f;
             return f.Open(Widen(p).c_str(), kOpenRead);
         }},
        {"t_fdFile write",
         [](const std::string& p, const std::string&) {
             t_fdFile f;
             return f.Open(Widen(p).c_str(), kOpenWrite);
         }},
        {"FOpen",
         [](const std::string& p, const std::string&) {
             FILE* f = nullptr;
             const bool ok = FOpen(&f, Widen(p).c_str(), L"rb");
             if (f) fclose(f);
             return ok;
         }},
        {"mapping",
         [](const std::string& p, const std::string&) {
             t_mappedMemory m;
             return m.MapFileReadOnly(t_pathName(Widen(p).c_str()));
         }},
        {"copy source",
         [](const std::string& p, const std::string& scratch) {
             return PathCopyFileBytes(p.c_str(), scratch.c_str());
         }},
    };
    testsupport::t_hangGuard guard(20);
    int n = 0;
    for (const std::string& kind : testsupport::NonRegularKinds()) {
        const std::string path = kind == "/dev/zero" ? kind : home.At("case" + std::to_string(n++));
        if (path != kind) {
            ASSERT_TRUE(testsupport::MakeNonRegular(kind, path)) << kind;
        }
        for (const auto& opener : openers)
            EXPECT_FALSE(opener.open(path, home.At("copy"))) << kind << ", " << opener.name;
    }
    ASSERT_TRUE(WriteFileBytes(home.At("plain"), "12345"));
    for (const auto& opener : openers)
        EXPECT_TRUE(opener.open(home.At("plain"), home.At("copy"))) << opener.name;
    int64_t size = 0;
    const int fd = OpenRegularFile(home.At("plain").c_str(), O_RDONLY, 5, &size);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(5, size);
    if (fd >= 0) close(fd);
    EXPECT_EQ(-1, OpenRegularFile(home.At("plain").c_str(), O_RDONLY, 4, nullptr));
    EXPECT_EQ(EFBIG, errno);
}

using MappedMemoryTest = TempHomeTest;

TEST(MappedMemoryPrivateTest, PrivateBlockLayout) {
    t_mappedMemory m;
    EXPECT_FALSE(m.CreatePrivate(L"x", 0));
    EXPECT_FALSE(m.CreatePrivate(L"x", -5));
    EXPECT_FALSE(m.OpenExisting(L"x"));
    ASSERT_TRUE(m.CreatePrivate(L"x", 40));
    EXPECT_TRUE(m.IsCreated());
    EXPECT_EQ(40, m.GetSize());
    auto* data = static_cast<uint8_t*>(m.GetData());
    uint32_t word;
    memcpy(&word, data - 4, 4);  // the size word sits right before the data
    EXPECT_EQ(40u, word);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(0, data[i]);
    data[0] = 7;
    EXPECT_TRUE(m.OpenExisting(L"other"));  // the held block, whatever the name
    EXPECT_FALSE(m.IsCreated());
    EXPECT_EQ(7, static_cast<uint8_t*>(m.GetData())[0]);
    EXPECT_TRUE(m.Release());
    EXPECT_EQ(nullptr, m.GetData());
    EXPECT_EQ(0, m.GetSize());
}

TEST_F(MappedMemoryTest, MapsWholeFileAndRefusesEmptyOne) {
    ASSERT_TRUE(WriteFileBytes(home.At("img"), "IMAGE"));
    ASSERT_TRUE(WriteFileBytes(home.At("empty"), ""));
    t_mappedMemory m;
    EXPECT_FALSE(m.MapFileByName(home.WAt("empty").c_str()));
    EXPECT_FALSE(m.IsValid());
    EXPECT_FALSE(m.MapFileByName(home.WAt("absent").c_str()));
    ASSERT_TRUE(m.MapFileByName(home.WAt("img").c_str()));
    EXPECT_EQ(5, m.GetSize());
    EXPECT_EQ(0, memcmp(m.GetData(), "IMAGE", 5));
    EXPECT_FALSE(m.CreatePrivate(L"x", 10));  // a file is mapped
    m.Release();
    EXPECT_FALSE(m.IsValid());
}

using DirHelpersTest = TempHomeTest;

TEST_F(DirHelpersTest, ListingShowsLinksWithoutFollowingThem) {
    const std::string root = home.At("tree");
    ASSERT_EQ(0, mkdir(root.c_str(), 0700));
    ASSERT_EQ(0, mkdir((root + "/sub").c_str(), 0700));
    ASSERT_EQ(0, mkdir(home.At("outside").c_str(), 0700));
    ASSERT_TRUE(WriteFileBytes(root + "/a", "1"));
    ASSERT_TRUE(WriteFileBytes(root + "/sub/b", "2"));
    ASSERT_TRUE(WriteFileBytes(home.At("outside/hidden"), "3"));
    ASSERT_EQ(0, symlink(home.At("outside").c_str(), (root + "/link").c_str()));

    t_dirList flat(Widen(root).c_str(), false);
    std::vector<std::wstring> got;
    for (int i = 0; i < flat.GetCount(); ++i) got.push_back(flat.GetAt(i));
    std::sort(got.begin(), got.end());
    EXPECT_EQ((std::vector<std::wstring>{Widen(root + "/a"), Widen(root + "/link")}), got);

    t_dirList deep(Widen(root).c_str(), true);
    got.clear();
    for (int i = 0; i < deep.GetCount(); ++i) got.push_back(deep.GetAt(i));
    std::sort(got.begin(), got.end());
    EXPECT_EQ((std::vector<std::wstring>{Widen(root + "/a"), Widen(root + "/link"),
                                         Widen(root + "/sub/b")}),
              got);
    EXPECT_EQ(nullptr, deep.GetAt(-1));
    EXPECT_EQ(nullptr, deep.GetAt(deep.GetCount()));
    EXPECT_EQ(0, t_dirList(nullptr, true).GetCount());
}

TEST_F(DirHelpersTest, TreeRemovalDoesNotFollowLinks) {
    const std::string root = home.At("tree");
    ASSERT_EQ(0, mkdir(root.c_str(), 0700));
    ASSERT_EQ(0, mkdir((root + "/sub").c_str(), 0700));
    ASSERT_EQ(0, mkdir(home.At("victim").c_str(), 0700));
    ASSERT_TRUE(WriteFileBytes(home.At("victim/keep"), "precious"));
    ASSERT_TRUE(WriteFileBytes(root + "/sub/f", "x"));
    ASSERT_EQ(0, symlink(home.At("victim").c_str(), (root + "/sub/dirlink").c_str()));
    ASSERT_EQ(0, symlink(home.At("victim/keep").c_str(), (root + "/filelink").c_str()));

    EXPECT_TRUE(PathRemoveDirTree(t_pathName(Widen(root).c_str())));
    EXPECT_NE(0, access(root.c_str(), F_OK));
    EXPECT_EQ("precious", ReadFileBytes(home.At("victim/keep")));

    // A link given as the tree itself is refused: its target stays whole.
    ASSERT_EQ(0, symlink(home.At("victim").c_str(), home.At("toplink").c_str()));
    EXPECT_FALSE(PathRemoveDirTree(t_pathName(home.WAt("toplink").c_str())));
    EXPECT_EQ("precious", ReadFileBytes(home.At("victim/keep")));
}

TEST_F(DirHelpersTest, TempPathRemovesWhatItNames) {
    ASSERT_EQ(0, mkdir(home.At("work").c_str(), 0700));
    ASSERT_TRUE(WriteFileBytes(home.At("work/x"), "x"));
    ASSERT_TRUE(WriteFileBytes(home.At("file.temp"), "x"));
    {
        t_tempPath dir(home.WAt("work").c_str());
        t_tempPath file(home.WAt("file").c_str());
        file.Append(L".temp");
        EXPECT_EQ(home.WAt("file.temp"), file.Str());
    }
    EXPECT_TRUE(ListNames(home.Path()).empty());
}

TEST_F(DirHelpersTest, ExistenceTestsAndMakeDir) {
    ASSERT_TRUE(WriteFileBytes(home.At("f"), "abc"));
    EXPECT_TRUE(PathIsFile(t_pathName(home.WAt("f").c_str())));
    EXPECT_FALSE(PathIsDir(t_pathName(home.WAt("f").c_str())));
    EXPECT_FALSE(PathIsFile(t_pathName(home.WAt("nope").c_str())));
    uint32_t size = 0;
    EXPECT_TRUE(PathGetFileSize(t_pathName(home.WAt("f").c_str()), &size));
    EXPECT_EQ(3u, size);
    t_pathName d(home.WAt("d").c_str());
    EXPECT_TRUE(PathMakeDir(d));
    EXPECT_TRUE(PathMakeDir(d));  // already there
    EXPECT_TRUE(PathIsDir(d));
    EXPECT_TRUE(IsSameFile(home.At("f").c_str(), (home.Path() + "/./f").c_str()));
    EXPECT_FALSE(IsSameFile(home.At("f").c_str(), home.At("d").c_str()));
    EXPECT_EQ(0, PathAccess(home.WAt("f").c_str(), F_OK));
    EXPECT_EQ(-1, PathAccess(nullptr, F_OK));
    EXPECT_TRUE(PathRename(t_pathName(home.WAt("f").c_str()), t_pathName(home.WAt("g").c_str())));
    EXPECT_TRUE(PathRemoveFile(t_pathName(home.WAt("g").c_str())));
    EXPECT_FALSE(PathRemoveFile(t_pathName(home.WAt("g").c_str())));
    FILE* fp = nullptr;
    EXPECT_FALSE(FOpenChecked(&fp, nullptr, L"r"));
    ASSERT_TRUE(FOpen(&fp, home.WAt("h").c_str(), L"w"));
    fclose(fp);
}

// A probe of a path that is not there prints nothing unless asked for; a
// real error (here a link loop) is always told.
TEST_F(DirHelpersTest, ProbesTellAMissingPathOnlyWhenVerbose) {
    ASSERT_EQ(0, symlink(home.At("loop").c_str(), home.At("loop").c_str()));
    const struct {
        const char* name;
        bool verbose;
        const char* told;  // null: nothing on stderr
    } cases[] = {
        {"nope", false, nullptr},
        {"nope", true, "No such file or directory"},
        {"loop", false, "Too many levels of symbolic links"},
    };
    for (const auto& c : cases) {
        SetPathNotesVerbose(c.verbose);
        const std::wstring path = home.WAt(c.name);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(PathIsFile(t_pathName(path.c_str())));
        EXPECT_EQ(0, t_dirList(path.c_str(), false).GetCount());
        const std::string err = testing::internal::GetCapturedStderr();
        SetPathNotesVerbose(false);
        if (c.told)
            EXPECT_NE(std::string::npos, err.find(c.told)) << c.name << ": " << err;
        else
            EXPECT_EQ("", err) << c.name;
    }
}

using CopyFileTest = TempHomeTest;

TEST_F(CopyFileTest, CopiesContent) {
    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(WriteFileBytes(home.At("src"), content));
    ASSERT_TRUE(WriteFileBytes(home.At("dst"), "old"));
    EXPECT_TRUE(
        PathCopyFile(t_pathName(home.WAt("src").c_str()), t_pathName(home.WAt("dst").c_str())));
    EXPECT_EQ(content, ReadFileBytes(home.At("dst")));
    EXPECT_EQ((std::vector<std::string>{"dst", "src"}), ListNames(home.Path()));
}

TEST_F(CopyFileTest, CopyOntoFullDeviceFailsAndLeavesNoFile) {
    struct stat st;
    if (stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)) GTEST_SKIP() << "no /dev/full";
    ASSERT_TRUE(WriteFileBytes(home.At("src"), std::string(10000, 'x')));
    const std::vector<std::string> devBefore = ListNames("/dev");
    EXPECT_FALSE(PathCopyFile(t_pathName(home.WAt("src").c_str()), t_pathName(L"/dev/full")));
    ASSERT_EQ(0, stat("/dev/full", &st));
    EXPECT_TRUE(S_ISCHR(st.st_mode));  // the device is neither removed nor replaced
    EXPECT_EQ(devBefore, ListNames("/dev"));
}

TEST_F(CopyFileTest, FailedWriteKeepsOldTargetAndLeavesNoTemporary) {
    ASSERT_TRUE(WriteFileBytes(home.At("src"), std::string(1 << 20, 'y')));
    ASSERT_TRUE(WriteFileBytes(home.At("dst"), "previous"));
    // A file-size limit makes the write fail half way (EFBIG).
    const pid_t pid = ForkChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
        return PathCopyFile(t_pathName(home.WAt("src").c_str()),
                            t_pathName(home.WAt("dst").c_str()))
                   ? 1
                   : 0;
    });
    EXPECT_EQ(0, WaitChild(pid, 10000));
    EXPECT_EQ("previous", ReadFileBytes(home.At("dst")));
    EXPECT_EQ((std::vector<std::string>{"dst", "src"}), ListNames(home.Path()));
}

TEST_F(CopyFileTest, MissingSourceLeavesTargetAlone) {
    ASSERT_TRUE(WriteFileBytes(home.At("dst"), "keep"));
    EXPECT_FALSE(
        PathCopyFile(t_pathName(home.WAt("nothing").c_str()), t_pathName(home.WAt("dst").c_str())));
    EXPECT_EQ("keep", ReadFileBytes(home.At("dst")));
}

using UserDataDirTest = TempHomeTest;

TEST_F(UserDataDirTest, IsPrivateToTheUser) {
    char dir[kPathBufBytes];
    ASSERT_TRUE(GetUserDataDir(dir, sizeof dir));
    EXPECT_EQ(home.DataDir(), dir);
    struct stat st;
    ASSERT_EQ(0, stat(dir, &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    // An existing directory opened to others is closed again.
    chmod(dir, 0777);
    ASSERT_TRUE(GetUserDataDir(dir, sizeof dir));
    ASSERT_EQ(0, stat(dir, &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    // A file in its place is not a data directory.
    rmdir(dir);
    ASSERT_TRUE(WriteFileBytes(home.DataDir(), ""));
    EXPECT_FALSE(GetUserDataDir(dir, sizeof dir));
}

TEST_F(UserDataDirTest, CreationLeavesUmaskAlone) {
    const mode_t before = umask(027);
    char dir[kPathBufBytes];
    t_pathName tmp;
    ASSERT_TRUE(MakeTempPath(tmp));
    const mode_t after = umask(before);
    EXPECT_EQ(027u, after);
    struct stat st;
    ASSERT_TRUE(GetUserDataDir(dir, sizeof dir));
    ASSERT_EQ(0, stat(Bytes(tmp).c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_EQ(0u, Bytes(tmp).rfind(std::string(dir) + "/tmp", 0));
    t_pathName other;
    ASSERT_TRUE(MakeTempPath(other));
    EXPECT_NE(tmp.Str(), other.Str());
}

TEST(UserHomeTest, UnsetHomeFallsBackToPasswordDatabaseNotTmp) {
    const struct passwd* pw = getpwuid(geteuid());
    if (!pw || !pw->pw_dir || !*pw->pw_dir) GTEST_SKIP() << "no password entry for this user";
    const std::string expected = pw->pw_dir;
    const pid_t pid = ForkChild([&] {
        std::string home;
        unsetenv("HOME");
        if (!GetUserHomeDir(home)) return 1;
        if (home != expected) return 2;
        setenv("HOME", "", 1);  // an empty HOME names no directory either
        if (!GetUserHomeDir(home)) return 3;
        return home == expected ? 0 : 4;
    });
    EXPECT_EQ(0, WaitChild(pid, 10000));
}

TEST(ClockTest, KernelEpochIsDecember22nd2009) {
    EXPECT_EQ(1000, TickMsFromUnix(1261440001, 0));
    EXPECT_EQ(1500, TickMsFromUnix(1261440001, 500999));
    const int64_t now = GetTickMs();
    const int64_t expected = (static_cast<int64_t>(time(nullptr)) - 1261440000) * 1000;
    EXPECT_LE(std::llabs(now - expected), 2000);
}

TEST(ClockTest, CompareAndSetChangesOnlyOnMatch) {
    int flag = 0;
    EXPECT_EQ(0, CompareAndSet(&flag, 1, 0));
    EXPECT_EQ(1, flag);
    EXPECT_EQ(1, CompareAndSet(&flag, 5, 0));
    EXPECT_EQ(1, flag);
    EXPECT_EQ(0, CompareAndSet(nullptr, 1, 0));
}

}  // namespace
