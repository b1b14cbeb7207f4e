// Change files beside a dictionary's file: their names, writing and the
// checks that come before any of their records is replayed.
#include "kernel/runtime/unsaved_changes.h"

#include <fcntl.h>
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
//    8  4  format, 1
//   12  4  record count
//   16  8  bytes of the records that follow
//   24  4  FNV-1a of those bytes
//   28  4  0
//   32     the records, each a u32 byte count and the record
constexpr char kMagic[8] = {'V', 'T', 'U', 'N', 'S', 'A', 'V', 'D'};
constexpr uint32_t kFormat = 1;
constexpr size_t kHeaderBytes = 32;
constexpr const wchar_t* kTag = L".unsaved.";
constexpr size_t kRandomBytes = 8;  // 16 hex digits
constexpr size_t kMaxPidDigits = 10;

uint32_t Fnv1a(const uint8_t* p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

bool IsLowerHex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

template <class T>
T At(const std::vector<uint8_t>& bytes, size_t offset) {
    T v;
    memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

template <class T>
void Put(std::vector<uint8_t>& bytes, size_t offset, T v) {
    memcpy(bytes.data() + offset, &v, sizeof v);
}

}  // namespace

bool CountChangeRecords(const std::vector<uint8_t>& changes, size_t* records) {
    size_t n = 0, pos = 0;
    while (pos < changes.size()) {
        if (changes.size() - pos < 4) return false;
        const uint32_t bytes = At<uint32_t>(changes, pos);
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
                      t_pathName* written, std::string* why) {
    size_t records = 0;
    if (!CountChangeRecords(changes, &records) || records == 0 || records > UINT32_MAX) {
        *why = "no well-formed change list";
        return false;
    }
    if (int64_t(changes.size()) > kMaxUnsavedFileBytes - int64_t(kHeaderBytes)) {
        *why = "more than a change file may hold";
        return false;
    }
    const std::wstring dir = dictFile.GetDir(), base = dictFile.GetFileName();
    t_pathName target;
    const std::string hex = UnforeseenHex(kRandomBytes);
    const std::wstring name =
        base + kTag + std::to_wstring(getpid()) + L"." + std::wstring(hex.begin(), hex.end());
    if (dir.empty() || base.empty() || !target.InitJoin(dir.c_str(), name.c_str())) {
        *why = "no name for it";
        return false;
    }
    std::vector<uint8_t> bytes(kHeaderBytes + changes.size());
    memcpy(bytes.data(), kMagic, sizeof kMagic);
    Put<uint32_t>(bytes, 8, kFormat);
    Put<uint32_t>(bytes, 12, uint32_t(records));
    Put<uint64_t>(bytes, 16, uint64_t(changes.size()));
    Put<uint32_t>(bytes, 24, Fnv1a(changes.data(), changes.size()));
    memcpy(bytes.data() + kHeaderBytes, changes.data(), changes.size());
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

bool ReadUnsavedFile(const t_pathName& file, std::vector<uint8_t>& changes, size_t* records,
                     std::string* why) {
    changes.clear();
    char mb[kPathBufBytes];
    if (!file.ToBytes(mb, sizeof mb)) {
        *why = "its name cannot be converted";
        return false;
    }
    int64_t size = 0;
    const int fd = OpenRegularFile(mb, O_RDONLY | O_NOFOLLOW, kMaxUnsavedFileBytes, &size);
    if (fd < 0) {
        *why = errno == EFBIG    ? "larger than a change file may be"
               : errno == EINVAL ? "not a regular file"
               : errno == ELOOP  ? "a symbolic link"
                                 : strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes(size_t(size > 0 ? size : 0));
    const bool read = ReadFdExact(fd, bytes.data(), bytes.size());
    close(fd);
    if (!read) {
        *why = "cannot be read whole";
        return false;
    }
    if (bytes.size() < kHeaderBytes) {
        *why = "cut short";
        return false;
    }
    if (memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 || At<uint32_t>(bytes, 8) != kFormat ||
        At<uint32_t>(bytes, 28) != 0) {
        *why = "no change file of this version";
        return false;
    }
    if (At<uint64_t>(bytes, 16) != bytes.size() - kHeaderBytes) {
        *why = "its size does not match its header";
        return false;
    }
    if (At<uint32_t>(bytes, 24) !=
        Fnv1a(bytes.data() + kHeaderBytes, bytes.size() - kHeaderBytes)) {
        *why = "checksum mismatch";
        return false;
    }
    std::vector<uint8_t> list(bytes.begin() + kHeaderBytes, bytes.end());
    size_t n = 0;
    if (!CountChangeRecords(list, &n) || n != At<uint32_t>(bytes, 12)) {
        *why = "its records do not match its header";
        return false;
    }
    changes = std::move(list);
    *records = n;
    return true;
}
