// Change files beside a dictionary's file: their names, writing and the
// checks that come before any of their records is replayed.
#include "kernel/runtime/unsaved_changes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/fd_file.h"

namespace {

// Layout, in host byte order as the records themselves (a change file is
// taken in on the machine that wrote it):
//    0  8  "VTUNSAVD"
//    8  4  format: 1 or 2
//   12  4  record count
//   16  8  bytes of the records that follow the header
//   24  4  FNV-1a of those bytes
// Format 1 (header of 32 bytes):
//   28  4  0
// Format 2 (header of 64 bytes):
//   28  4  flags: kHasMark when the mark below is set
//   32  8  when the file was written, ns since the epoch (orders the files)
//   40  8  device of the change count's lock file   } the mark of the
//   48  8  inode of it                               } words the changes
//   56  4  replacements counted in it                } were made on
//   60  4  FNV-1a of bytes 0 to 59
constexpr char kMagic[8] = {'V', 'T', 'U', 'N', 'S', 'A', 'V', 'D'};
constexpr uint32_t kFormat1 = 1;
constexpr uint32_t kFormat2 = 2;
constexpr size_t kHeader1Bytes = 32;
constexpr size_t kHeader2Bytes = 64;
constexpr size_t kHeaderSumAt = 60;
constexpr uint32_t kHasMark = 1;
constexpr const wchar_t* kTag = L".unsaved.";
constexpr const wchar_t* kDamagedTag = L".damaged";
constexpr size_t kRandomBytes = 8;  // 16 hex digits
constexpr size_t kMaxPidDigits = 10;
constexpr int kDamagedNames = 99;

uint32_t Fnv1a(const uint8_t* p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

bool IsLowerHex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

template <class T>
T At(const uint8_t* bytes, size_t offset) {
    T v;
    memcpy(&v, bytes + offset, sizeof v);
    return v;
}

template <class T>
void Put(std::vector<uint8_t>& bytes, size_t offset, T v) {
    memcpy(bytes.data() + offset, &v, sizeof v);
}

// "<dir>/<base>.unsaved.<this pid>.<random>": a name nobody can foresee.
bool NewUnsavedName(const std::wstring& dir, const std::wstring& base, t_pathName* out) {
    const std::string hex = UnforeseenHex(kRandomBytes);
    const std::wstring name =
        base + kTag + std::to_wstring(getpid()) + L"." + std::wstring(hex.begin(), hex.end());
    return !dir.empty() && !base.empty() && out->InitJoin(dir.c_str(), name.c_str());
}

// The dictionary file's name in a change file's name; empty when it has
// none.
std::wstring BaseOf(const std::wstring& name) {
    const size_t tag = name.rfind(kTag);
    if (tag == std::wstring::npos || tag == 0) return std::wstring();
    const std::wstring base = name.substr(0, tag);
    return IsUnsavedFileName(name, base) ? base : std::wstring();
}

// "<change file>.damaged" or "<change file>.damaged.<n>".
bool IsSetAsideName(const std::wstring& name, const std::wstring& base) {
    const size_t tag = name.rfind(kDamagedTag);
    if (tag == std::wstring::npos || !IsUnsavedFileName(name.substr(0, tag), base)) return false;
    const size_t rest = tag + wcslen(kDamagedTag);
    if (rest == name.size()) return true;
    return name[rest] == L'.' && name.size() - rest - 1 <= 2 && name.size() > rest + 1 &&
           std::all_of(name.begin() + std::ptrdiff_t(rest + 1), name.end(),
                       [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

int64_t NowNs() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

bool CountChangeRecords(const std::vector<uint8_t>& changes, size_t* records) {
    size_t n = 0, pos = 0;
    while (pos < changes.size()) {
        if (changes.size() - pos < 4) return false;
        const uint32_t bytes = At<uint32_t>(changes.data(), pos);
        if (bytes == 0 || changes.size() - pos - 4 < bytes) return false;
        pos += 4 + size_t(bytes);
        ++n;
    }
    *records = n;
    return true;
}

bool IsUnsavedFileName(const std::wstring& name, const std::wstring& base) {
    const std::wstring head = base + kTag;
    if (name.size() <= head.size() || name.compare(0, head.size(), head) != 0) return false;
    const size_t dot = name.find(L'.', head.size());
    if (dot == std::wstring::npos || dot == head.size() || dot - head.size() > kMaxPidDigits)
        return false;
    for (size_t i = head.size(); i < dot; ++i)
        if (name[i] < L'0' || name[i] > L'9') return false;
    if (name.size() - dot - 1 != 2 * kRandomBytes) return false;
    return std::all_of(name.begin() + std::ptrdiff_t(dot + 1), name.end(), IsLowerHex);
}

bool WriteUnsavedFile(const t_pathName& dictFile, const std::vector<uint8_t>& changes,
                      const t_replacementMark& mark, t_pathName* written, std::string* why) {
    size_t records = 0;
    if (!CountChangeRecords(changes, &records) || records == 0 || records > UINT32_MAX) {
        *why = "no well-formed change list";
        return false;
    }
    if (int64_t(changes.size()) > kMaxUnsavedFileBytes - int64_t(kHeader2Bytes)) {
        *why = "more than a change file may hold";
        return false;
    }
    t_pathName target;
    if (!NewUnsavedName(dictFile.GetDir(), dictFile.GetFileName(), &target)) {
        *why = "no name for it";
        return false;
    }
    std::vector<uint8_t> bytes(kHeader2Bytes + changes.size());
    memcpy(bytes.data(), kMagic, sizeof kMagic);
    Put<uint32_t>(bytes, 8, kFormat2);
    Put<uint32_t>(bytes, 12, uint32_t(records));
    Put<uint64_t>(bytes, 16, uint64_t(changes.size()));
    Put<uint32_t>(bytes, 24, Fnv1a(changes.data(), changes.size()));
    Put<uint32_t>(bytes, 28, mark.valid ? kHasMark : 0);
    Put<int64_t>(bytes, 32, NowNs());
    if (mark.valid) {
        Put<uint64_t>(bytes, 40, mark.device);
        Put<uint64_t>(bytes, 48, mark.inode);
        Put<uint32_t>(bytes, 56, mark.replacements);
    }
    Put<uint32_t>(bytes, kHeaderSumAt, Fnv1a(bytes.data(), kHeaderSumAt));
    memcpy(bytes.data() + kHeader2Bytes, changes.data(), changes.size());
    errno = 0;
    if (!DictWriteFileSafely(target, bytes.data(), bytes.size())) {
        *why = errno ? strerror(errno) : "the write failed";
        return false;
    }
    written->AssignRaw(target);
    return true;
}

std::vector<t_pathName> FindUnsavedFiles(const t_pathName& dictFile) {
    std::vector<t_pathName> found;
    const std::wstring dir = dictFile.GetDir(), base = dictFile.GetFileName();
    if (dir.empty() || base.empty() || !PathIsDir(t_pathName(dir.c_str()))) return found;
    t_dirList list(dir.c_str(), false);
    for (int i = 0; i < list.GetCount(); ++i) {
        const t_pathName path(list.GetAt(i));
        if (IsUnsavedFileName(path.GetFileName(), base)) found.push_back(path);
    }
    std::sort(found.begin(), found.end(),
              [](const t_pathName& a, const t_pathName& b) { return a.Str() < b.Str(); });
    return found;
}

bool ParseUnsavedImage(const uint8_t* data, size_t size, t_unsavedFile* out, std::string* why) {
    out->changes.clear();
    out->records = 0;
    out->mark = t_replacementMark();
    if (size < kHeader1Bytes) {
        *why = "cut short";
        return false;
    }
    const uint32_t format = At<uint32_t>(data, 8);
    if (memcmp(data, kMagic, sizeof kMagic) != 0 || (format != kFormat1 && format != kFormat2)) {
        *why = "no change file of this version";
        return false;
    }
    const size_t header = format == kFormat1 ? kHeader1Bytes : kHeader2Bytes;
    if (size < header) {
        *why = "cut short";
        return false;
    }
    const bool headerWhole = format == kFormat1
                                 ? At<uint32_t>(data, 28) == 0
                                 : At<uint32_t>(data, kHeaderSumAt) == Fnv1a(data, kHeaderSumAt) &&
                                       (At<uint32_t>(data, 28) & ~kHasMark) == 0;
    if (!headerWhole) {
        *why = "its header is damaged";
        return false;
    }
    if (At<uint64_t>(data, 16) != size - header) {
        *why = "its size does not match its header";
        return false;
    }
    if (At<uint32_t>(data, 24) != Fnv1a(data + header, size - header)) {
        *why = "checksum mismatch";
        return false;
    }
    std::vector<uint8_t> list(data + header, data + size);
    size_t n = 0;
    if (!CountChangeRecords(list, &n) || n != At<uint32_t>(data, 12)) {
        *why = "its records do not match its header";
        return false;
    }
    if (format == kFormat2) {
        out->writtenNs = At<int64_t>(data, 32);
        if (At<uint32_t>(data, 28) & kHasMark) {
            out->mark.valid = true;
            out->mark.device = At<uint64_t>(data, 40);
            out->mark.inode = At<uint64_t>(data, 48);
            out->mark.replacements = At<uint32_t>(data, 56);
        }
    }
    out->changes = std::move(list);
    out->records = n;
    return true;
}

t_unsavedRead ReadUnsavedFile(const t_pathName& file, t_unsavedFile* out, std::string* why) {
    out->changes.clear();
    out->path.AssignRaw(file);
    char mb[kPathBufBytes];
    if (!file.ToBytes(mb, sizeof mb)) {
        *why = "its name cannot be converted";
        return t_unsavedRead::kLeft;
    }
    // Another user's file (in a folder others may write to) is none of
    // this user's words: left to its owner, unread.
    struct stat named;
    if (lstat(mb, &named) != 0) {
        *why = strerror(errno);
        return errno == ENOENT ? t_unsavedRead::kGone : t_unsavedRead::kLeft;
    }
    if (S_ISREG(named.st_mode) && named.st_uid != geteuid()) {
        *why = "another user's file";
        return t_unsavedRead::kLeft;
    }
    int64_t size = 0;
    const int fd = OpenRegularFile(mb, O_RDONLY | O_NOFOLLOW, kMaxUnsavedFileBytes, &size);
    if (fd < 0) {
        const int err = errno;
        *why = err == EFBIG    ? "larger than a change file may be"
               : err == EINVAL ? "not a regular file"
               : err == ELOOP  ? "a symbolic link"
                               : strerror(err);
        if (err == ENOENT) return t_unsavedRead::kGone;
        // A file this user may not read may still hold whole words: it is
        // told for what it is and left for the user to open up.
        if (err == EACCES || err == EPERM) *why = "unreadable (" + *why + ")";
        return err == EFBIG || err == EINVAL || err == ELOOP ? t_unsavedRead::kDamaged
                                                             : t_unsavedRead::kLeft;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
        close(fd);
        *why = "another user's file";
        return t_unsavedRead::kLeft;
    }
    std::vector<uint8_t> bytes(size_t(size > 0 ? size : 0));
    const bool read = ReadFdExact(fd, bytes.data(), bytes.size());
    close(fd);
    if (!read) {
        *why = "cannot be read whole";
        return t_unsavedRead::kDamaged;
    }
    if (!ParseUnsavedImage(bytes.data(), bytes.size(), out, why)) return t_unsavedRead::kDamaged;
    // A file of the first format tells no time of its own: its last write.
    if (out->writtenNs == 0)
        out->writtenNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return t_unsavedRead::kWhole;
}

bool ClaimUnsavedFile(t_pathName& file, int* err) {
    t_pathName claimed;
    char from[kPathBufBytes], to[kPathBufBytes];
    if (!NewUnsavedName(file.GetDir(), BaseOf(file.GetFileName()), &claimed) ||
        !file.ToBytes(from, sizeof from) || !claimed.ToBytes(to, sizeof to)) {
        *err = ENAMETOOLONG;
        return false;
    }
    *err = RenameWithoutReplacing(from, to);
    if (*err != 0) return false;
    file.AssignRaw(claimed);
    return true;
}

bool SetAsideUnsavedFile(const t_pathName& file, t_pathName* aside) {
    char from[kPathBufBytes], to[kPathBufBytes];
    if (!file.ToBytes(from, sizeof from)) return false;
    for (int n = 1; n <= kDamagedNames; ++n) {
        std::wstring name = file.Str() + kDamagedTag;
        if (n > 1) name += L"." + std::to_wstring(n);
        if (!aside->InitFromString(name.c_str()) || !aside->ToBytes(to, sizeof to)) return false;
        const int err = RenameWithoutReplacing(from, to);
        if (err == 0) return true;
        if (err != EEXIST) return false;
    }
    return false;
}

size_t RemoveUnsavedFiles(const t_pathName& dictFile, std::vector<std::string>* left) {
    const std::wstring dir = dictFile.GetDir(), base = dictFile.GetFileName();
    if (dir.empty() || base.empty() || !PathIsDir(t_pathName(dir.c_str()))) return 0;
    size_t removed = 0;
    t_dirList list(dir.c_str(), false);
    for (int i = 0; i < list.GetCount(); ++i) {
        const t_pathName path(list.GetAt(i));
        const std::wstring name = path.GetFileName();
        char mb[kPathBufBytes];
        if ((!IsUnsavedFileName(name, base) && !IsSetAsideName(name, base)) ||
            !path.ToBytes(mb, sizeof mb))
            continue;
        if (unlink(mb) == 0)
            ++removed;
        else if (errno != ENOENT)
            left->push_back(std::string(mb) + ": cannot be removed (" + strerror(errno) + ")");
    }
    char mb[kPathBufBytes];
    if (removed && dictFile.ToBytes(mb, sizeof mb)) SyncParentDir(mb);
    return removed;
}
