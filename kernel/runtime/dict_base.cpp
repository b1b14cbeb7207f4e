// The dictionary base: image commit, safe writes, backups and change notice.
#include "kernel/runtime/dict_base.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"

namespace {

bool PlainWrite(int fd, const void* data, size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            perror("write");
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::atomic<t_dictWriteFn> g_writeFn{nullptr};
std::atomic<t_dictClockFn> g_clockFn{nullptr};

t_versionManager& Versions() {
    return t_singleton<t_versionManager>::Get();
}

}  // namespace

void SetDictWriteFunction(t_dictWriteFn fn) {
    g_writeFn.store(fn);
}
void SetDictClockFunction(t_dictClockFn fn) {
    g_clockFn.store(fn);
}

time_t DictNow() {
    const t_dictClockFn fn = g_clockFn.load();
    return fn ? fn() : time(nullptr);
}

bool DictWriteFileSafely(const t_pathName& target, const void* data, size_t size) {
    if (!data && size > 0) return false;
    t_safeFileWriter writer;
    if (!writer.Begin(target)) return false;
    const t_dictWriteFn fn = g_writeFn.load();
    if (size > 0 && !(fn ? fn : PlainWrite)(writer.GetFd(), data, size)) {
        writer.Abort();
        return false;
    }
    return writer.Commit();
}

bool FormatDictStamp(time_t when, wchar_t out[15]) {
    struct tm local;
    if (!localtime_r(&when, &local)) return false;
    const int n =
        swprintf(out, 15, L"%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                 local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    if (n != 14) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

t_dictStorageBase::~t_dictStorageBase() {
    if (!m_entry) return;
    // Changes no save took would go with this object: the manager keeps
    // them beside the file, or says they are lost.
    if (!m_changes.empty() && m_entry->manager && m_entry->dict == this)
        m_entry->manager->KeepUnsavedChanges(m_entry);
    if (m_entry->storageKind == kStoragePrivate) {
        m_entry->buffer.reset();
        m_entry->bufferSize = 0;
    }
    if (m_entry->dict == this) m_entry->dict = nullptr;
    m_entry = nullptr;
}

t_changeRecord& t_changeRecord::Put(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), p, p + n);
    return *this;
}

t_changeRecord& t_changeRecord::PutLstr(const t_lstr* s) {
    if (!s) return Put16(0);
    return Put(s, LstrGetTotalBytes(s));
}

t_changeRecord& t_changeRecord::PutText(const wchar_t* s) {
    const uint32_t n = s ? uint32_t(wcslen(s)) : 0;
    Put32(n);
    return n ? Put(s, n * sizeof(wchar_t)) : *this;
}

bool t_changeReader::Get(void* out, size_t n) {
    if (m_pos > m_size || m_size - m_pos < n) return false;
    memcpy(out, m_data + m_pos, n);
    m_pos += n;
    return true;
}

bool t_changeReader::GetLstr(const t_lstr** s) {
    uint16_t n = 0;
    const size_t start = m_pos;
    if (!Get16(&n) || m_size - m_pos < n) return false;
    *s = reinterpret_cast<const t_lstr*>(m_data + start);
    m_pos += n;
    return true;
}

bool t_changeReader::GetText(std::vector<wchar_t>& out) {
    uint32_t n = 0;
    if (!Get32(&n) || (m_size - m_pos) / sizeof(wchar_t) < n) return false;
    out.assign(n + 1, L'\0');
    return Get(out.data(), n * sizeof(wchar_t));
}

bool t_dictStorageBase::IsRecordingChanges() const {
    return m_entry && !m_replaying && m_entry->storageKind != kStoragePrivate &&
           m_entry->storageKind != kStorageNoFile && m_entry->dirKind != kDirSystem;
}

void t_dictStorageBase::RecordChange(const t_changeRecord& record) {
    if (!IsRecordingChanges()) return;
    const std::vector<uint8_t>& bytes = record.Bytes();
    const auto n = uint32_t(bytes.size());
    const auto* p = reinterpret_cast<const uint8_t*>(&n);
    m_changes.insert(m_changes.end(), p, p + 4);
    m_changes.insert(m_changes.end(), bytes.begin(), bytes.end());
}

size_t t_dictStorageBase::ApplyRecords(const std::vector<uint8_t>& changes,
                                       std::vector<uint8_t>& kept, size_t* refused) {
    // Applied as a replay (no save from inside, nothing recorded twice).
    m_replaying = true;
    size_t taken = 0, notTaken = 0, pos = 0;
    while (changes.size() - pos >= 4) {
        uint32_t n = 0;
        memcpy(&n, changes.data() + pos, 4);
        if (changes.size() - pos - 4 < n) break;
        const uint8_t* start = changes.data() + pos;
        t_changeReader reader(start + 4, n);
        if (ApplyChange(reader)) {
            kept.insert(kept.end(), start, start + 4 + n);
            ++taken;
        } else {
            ++notTaken;
        }
        pos += 4 + size_t(n);
    }
    m_replaying = false;
    if (pos != changes.size()) ++notTaken;  // a cut record
    *refused = notTaken;
    return taken;
}

bool t_dictStorageBase::ReplayChanges() {
    if (m_changes.empty() || m_replaying) return true;
    // Replayed changes go on being recorded until a save takes them: a
    // re-attach does not put them in the file.
    std::vector<uint8_t> kept;
    size_t refused = 0;
    ApplyRecords(m_changes, kept, &refused);
    m_changes.swap(kept);
    ++m_changeEpoch;
    return refused == 0;
}

size_t t_dictStorageBase::AdoptChanges(const std::vector<uint8_t>& changes, size_t* refused) {
    size_t notTaken = 0;
    const size_t taken = ApplyRecords(changes, m_changes, &notTaken);
    if (refused) *refused = notTaken;
    return taken;
}

void t_dictStorageBase::ForgetChangesUpTo(const t_changeMark& mark) {
    if (mark.epoch != m_changeEpoch || mark.bytes > m_changes.size()) return;
    m_changes.erase(m_changes.begin(), m_changes.begin() + std::ptrdiff_t(mark.bytes));
    ++m_changeEpoch;
}

bool t_dictStorageBase::PrepareImageCopy(uint32_t*) const {
    return false;
}
bool t_dictStorageBase::WriteImageCopy(const void*, int32_t, const wchar_t*) const {
    return false;
}
void t_dictStorageBase::OnImageCopyWritten(uint32_t) {}
bool t_dictStorageBase::GetLiveImage(const void**, int32_t*) const {
    return false;
}

bool t_dictStorageBase::ApplyChange(t_changeReader&) {
    return false;
}

bool t_dictStorageBase::Save(const void*, int32_t) {
    return false;
}
bool t_dictStorageBase::OnFlush(void*, int32_t) {
    return false;
}
bool t_dictStorageBase::Import(const void*, int32_t) {
    return false;
}
bool t_dictStorageBase::Export(const void*, int32_t) {
    return false;
}
bool t_dictStorageBase::LoadFromFile(const wchar_t*) {
    return false;
}
bool t_dictStorageBase::OnFileWritten(const wchar_t*) {
    return false;
}
uint32_t t_dictStorageBase::GetReservedSize(const void*, int32_t) {
    return 0;
}

int t_dictStorageBase::GetStorageKind() const {
    return m_entry ? static_cast<int>(m_entry->storageKind) : -1;
}

bool t_dictStorageBase::CommitImage(const void* data, int32_t size) {
    if (!data || !m_entry || size <= 0) return false;
    const uint32_t reserved =
        m_entry->storageKind == kStorageReserved ? GetReservedSize(data, size) : 0;
    const uint64_t total = uint64_t(uint32_t(size)) + reserved;
    if (total > uint64_t(INT32_MAX)) return false;
    t_managedShareMemory& block = m_entry->block;
    const bool fresh = !block.IsValid();
    if (!fresh) {
        // Pointers into the held block may be in use: it is never replaced
        // here, only refilled when the image fits.
        if (uint64_t(block.GetDataSize()) < total) return false;
    } else if (!block.OpenMemory(m_entry->name.c_str(), static_cast<int32_t>(total))) {
        return false;
    }
    auto* dst = static_cast<uint8_t*>(block.GetData());
    const size_t blockSize = static_cast<size_t>(block.GetDataSize());
    if (fresh) {
        // A new block is zero already; the empty room of the image stays
        // untouched and takes no memory until it is used.
        CopyIntoZeroed(dst, data, static_cast<size_t>(size));
    } else {
        memcpy(dst, data, static_cast<size_t>(size));
        memset(dst + size, 0, blockSize - static_cast<size_t>(size));
    }
    m_entry->reserved = reserved;
    return true;
}

bool t_dictStorageBase::IncreaseVersion() {
    if (!m_entry) return false;
    return Versions().IncreaseVersion(m_entry->block.GetVersionName().c_str());
}

int t_dictStorageBase::GetLocalVersion() const {
    if (!m_entry) return -1;
    return Versions().GetLocalVersion(m_entry->block.GetVersionName().c_str());
}

bool t_dictStorageBase::GetFilePath(wchar_t* buffer, size_t capacity) const {
    if (!buffer || capacity == 0) return false;
    buffer[0] = L'\0';
    t_pathName path;
    if (!m_entry || !t_dictManager::BuildEntryPath(m_entry, path) || path.IsEmpty()) return false;
    // A cut path would name another file: refuse instead.
    if (path.Str().size() >= capacity) return false;
    wmemcpy(buffer, path.GetFull(), path.Str().size() + 1);
    return true;
}

bool t_dictStorageBase::SaveAndNotify(const void* data, int32_t size) {
    if (!data || !m_entry || size < 0) return false;
    if (m_entry->storageKind == kStoragePrivate) {
        // Copy first: `data` may point into the buffer being replaced.
        std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
        if (!copy) return false;
        memcpy(copy.get(), data, static_cast<size_t>(size));
        m_entry->buffer = std::move(copy);
        m_entry->bufferSize = size;
        SetReady(Load(m_entry->buffer.get(), size));
        return true;
    }
    // The system directory is never written; the reload still runs. A user
    // file goes through the manager, which refuses to write over a file
    // another process saved since this image was attached (the changes then
    // stay recorded and the next flush merges them).
    if (m_entry->dirKind != kDirSystem) {
        if (m_replaying || !m_entry->manager) return false;
        if (!m_entry->manager->WriteEntryImage(m_entry, data, size)) return false;
    }
    IncreaseVersion();
    Versions().CheckUpdate2();
    return true;
}

bool t_dictStorageBase::WriteFile(const void* data, int32_t size) {
    if (!data || !m_entry || size < 0 || m_entry->dirKind == kDirSystem) return false;
    t_pathName path;
    if (!t_dictManager::BuildEntryPath(m_entry, path) || path.IsEmpty()) return false;
    return DictWriteFileSafely(path, data, static_cast<size_t>(size));
}

bool t_dictStorageBase::WriteFileAndNotify(const void* data, int32_t size) {
    if (!WriteFile(data, size)) return false;
    t_pathName path;
    t_dictManager::BuildEntryPath(m_entry, path);
    OnFileWritten(path.GetFull());
    return true;
}

bool t_dictStorageBase::Backup(const void* data, int32_t size) {
    if (!data || !m_entry || size < 0) return false;
    const wchar_t* userDir = GetConfiguredUserDir();
    if (!userDir[0] || m_entry->file.empty()) return false;
    wchar_t stamp[15];
    if (!FormatDictStamp(DictNow(), stamp)) return false;
    t_pathName dir;
    if (!dir.InitJoin(userDir, L"Backup") || !PathMakeDir(dir)) return false;
    const std::wstring base = t_pathName(m_entry->file.c_str()).GetFileName();
    std::wstring name = (base.empty() ? m_entry->file : base) + L"." + stamp;
    t_pathName target;
    if (!target.InitJoin(dir.GetFull(), name.c_str())) return false;
    return DictWriteFileSafely(target, data, static_cast<size_t>(size));
}
