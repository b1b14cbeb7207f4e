// t_path: the text operations, folder creation, copies and saves that fail
// without harming the target, the backup name, and names outside ASCII.
#include "porting3/path16.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "kernel/runtime/path.h"
#include "porting3/file_stream.h"
#include "porting3/runtime_env.h"
#include "porting3/str16.h"
#include "tests/porting3/porting3_support.h"
#include "tests/support/test_dir.h"

namespace n_porting {
namespace {

std::u16string U(const std::string& utf8) {
    char16_t* s = Utf8ToStr16Alloc(utf8.c_str());
    std::u16string out = s ? s : u"";
    std::free(s);
    return out;
}

std::u16string S(const char16_t* s) {
    return s ? std::u16string(s) : u"<null>";
}

TEST(Path16Test, TextOperations) {
    EXPECT_EQ(u"/name", S(t_path(u"").Join(u"name").GetStr()));
    EXPECT_EQ(u"a/b.bak", S((t_path(u"a/b.bak") + u".bak").GetStr()));
    EXPECT_EQ(u"a/b/c.txt", S(t_path(u"a/", u"b", u"c", u".txt").GetStr()));
    t_path parent;
    EXPECT_FALSE(t_path(u"/name").GetParentDir(parent));
    EXPECT_FALSE(t_path(u"name").GetParentDir(parent));
    ASSERT_TRUE(t_path(u"c:/x").GetParentDir(parent));
    EXPECT_EQ(u"c:/", S(parent.GetStr()));
    ASSERT_TRUE(t_path(u"/a/b/c.txt").GetParentDir(parent));
    EXPECT_EQ(u"/a/b", S(parent.GetStr()));
    EXPECT_EQ(nullptr, t_path(u"/a.d/file").GetExtension());
    EXPECT_EQ(u".txt", S(t_path(u"/a.d/f.x.txt").GetExtension()));
    EXPECT_EQ(u"f.txt", S(t_path(u"/a/f.txt").GetFileName()));
    t_str title;
    t_path(u"/a.d/f.x.txt").GetFileTitle(title);
    EXPECT_EQ(u"f.x", S(title.GetStr()));
    t_path copy(u"dir/ name (2) .txt");
    copy.StripCopyNumber();
    EXPECT_EQ(u"dir/name.txt", S(copy.GetStr()));
    t_path quoted(u"\"/x y\"");
    EXPECT_TRUE(quoted.StripQuotes());
    EXPECT_EQ(u"/x y", S(quoted.GetStr()));
    t_path open(u"\"x");
    EXPECT_FALSE(open.StripQuotes());
    EXPECT_TRUE(t_path(u"//server/x").IsNetworkPath());
    EXPECT_TRUE(t_path(u"/a/f.txt").IsSameName(t_path(u"/b/f.txt"), 1));
    EXPECT_FALSE(t_path(u"/a/f.txt").IsSameName(t_path(u"/b/f.txt"), 0));
}

TEST(Path16Test, FoldersFilesAndBackup) {
    testsupport::t_testDir dir("vetra-path16");
    const std::u16string root = U(dir.Path());
    t_errorContext ctx;
    const t_path abc(root.c_str(), u"a", u"b", u"c");
    ASSERT_TRUE(abc.CreateDirectory(ctx, true));
    EXPECT_TRUE(t_path(root.c_str(), u"a", u"b").IsDirectory());
    EXPECT_FALSE(abc.CreateDirectory(ctx, true));
    EXPECT_EQ(u"创建目录失败，目录已经存在", S(ctx.GetError()));
    EXPECT_TRUE(abc.CreateDirectory(ctx, false));

    // Relative paths make every level too, a one-unit first level included.
    char* cwd = getcwd(nullptr, 0);
    ASSERT_EQ(0, chdir(dir.Path().c_str()));
    const bool madeShort = t_path(u"r/s/t").CreateDirectory(ctx, true);
    const bool madeLong = t_path(u"rel/x/y").CreateDirectory(ctx, true);
    ASSERT_EQ(0, chdir(cwd));
    std::free(cwd);
    EXPECT_TRUE(madeShort);
    EXPECT_TRUE(madeLong);
    EXPECT_TRUE(t_path(root.c_str(), u"r", u"s", u"t").IsDirectory());
    EXPECT_TRUE(t_path(root.c_str(), u"rel", u"x", u"y").IsDirectory());

    const t_path file(root.c_str(), u"a", u"note.txt");
    EXPECT_TRUE(file.CreateFile(ctx, false));
    EXPECT_FALSE(file.CreateFile(ctx, true));
    EXPECT_FALSE(abc.CreateFile(ctx, false));
    EXPECT_EQ(u"创建文件失败：指定的对象是目录", S(ctx.GetError()));
    uint64_t size = 1;
    EXPECT_TRUE(file.GetFileSize(ctx, &size));
    EXPECT_EQ(0u, size);
    EXPECT_FALSE(abc.GetFileSize(ctx, &size));
    EXPECT_TRUE(PathExists16(file.GetStr()));

    setenv("TZ", "UTC", 1);
    tzset();
    ASSERT_TRUE(file.BackupAt(ctx, 1557762150));  // 2019-05-13 15:42:30
    unsetenv("TZ");
    tzset();
    EXPECT_FALSE(file.IsFile());
    EXPECT_TRUE(t_path(root.c_str(), u"a", u"Backup", u"note_20190513_154230.txt").IsFile());

    EXPECT_TRUE(file.Delete(ctx));  // already gone
    const t_path moved(root.c_str(), u"x", u"y", u"moved.txt");
    EXPECT_TRUE(t_path(root.c_str(), u"a", u"Backup", u"note_20190513_154230.txt")
                    .MoveTo(ctx, moved, false));
    EXPECT_TRUE(moved.IsFile());
    EXPECT_TRUE(t_path::RemovePath(moved));
    EXPECT_FALSE(moved.IsFile());
}

// Copies and saves onto a target that cannot take the bytes fail, leave the
// old target byte for byte and leave no temporary beside it.
TEST(Path16Test, FailedCopiesAndSavesLeaveTheTarget) {
    testsupport::t_testDir dir("vetra-path16");
    ASSERT_TRUE(dir.Put("source", std::string(200000, 's')));
    ASSERT_TRUE(dir.Put("target", "old target"));
    const std::u16string root = U(dir.Path());
    const t_path source(root.c_str(), u"source");
    const t_path target(root.c_str(), u"target");
    const t_path full(u"/dev/full");
    t_errorContext ctx;

    EXPECT_FALSE(source.CopyTo(ctx, full, false));
    EXPECT_FALSE(CopyFile16(source.GetStr(), u"/dev/full", 0));
    t_fileBufWrite buf;
    ASSERT_TRUE(buf.Write(ctx, "abc", 3));
    EXPECT_FALSE(buf.SaveTo(ctx, full));
    EXPECT_EQ(3u, buf.GetSize());  // kept for another try

    // A file-size limit below the source's size: the writes fail.
    struct sigaction ignore = {}, old = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit small = saved;
    small.rlim_cur = 65536;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const bool copied = source.CopyTo(ctx, target, false);
    const bool copied16 = CopyFile16(source.GetStr(), target.GetStr(), 0) != 0;
    t_fileBufWrite big;
    const std::string bytes(100000, 'b');
    ASSERT_TRUE(big.Write(ctx, bytes.data(), bytes.size()));
    const bool saved1 = big.SaveTo(ctx, target);
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_FALSE(copied);
    EXPECT_FALSE(copied16);
    EXPECT_FALSE(saved1);
    EXPECT_EQ(u"写文件失败", S(ctx.GetError()));
    EXPECT_EQ(bytes.size(), big.GetSize());
    EXPECT_EQ("old target", dir.Get("target"));
    EXPECT_EQ(2u, dir.EntryCount());  // source and target only

    ASSERT_TRUE(big.SaveTo(ctx, target));  // the kept buffer saves once the limit is gone
    EXPECT_EQ(bytes, dir.Get("target"));
    EXPECT_EQ(0u, big.GetSize());
    EXPECT_TRUE(source.CopyTo(ctx, t_path(root.c_str(), u"new", u"copy"), false));
    EXPECT_EQ(dir.Get("source"), dir.Get("new/copy"));
}

TEST(Path16Test, NonAsciiHomeIsTheKernelsFolderToo) {
    testsupport::t_testDir dir("vetra-path16");
    const std::string home = dir.At("用户 家");
    t_homeOverride override(home);
    const char* lang = std::getenv("LANG");
    const std::string oldLang = lang ? lang : "";
    unsetenv("LANG");  // UTF-8 names, as on most desktops
    const std::u16string home16 = U(std::getenv("HOME"));
    t_errorContext ctx;
    t_path folder(home16.c_str());
    folder.Join(u".config").Join(u"设置");  // Append would take ".config" for an extension
    const bool made = folder.CreateDirectory(ctx, false);
    const std::string utf8 = home + "/.config/设置";
    std::wstring wide(utf8.size() + 1, L'\0');
    wide.resize(size_t(
        MultiByteToWchar(kCodePageUtf8, 0, utf8.c_str(), -1, wide.data(), int(wide.size()))));
    const bool kernelSees = PathIsDir(t_pathName(wide.c_str()));
    if (!oldLang.empty()) setenv("LANG", oldLang.c_str(), 1);
    EXPECT_TRUE(made);
    EXPECT_TRUE(kernelSees);
    struct stat st;
    EXPECT_EQ(0, stat((home + "/.config/设置").c_str(), &st));
}

}  // namespace
}  // namespace n_porting
