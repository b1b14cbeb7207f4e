// Inert mutexes and critical sections, private memory blocks and the registry
// of data files loaded once per process.
#include "porting3/named_objects.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "porting3/check_header.h"
#include "porting3/str16.h"

namespace n_porting {

namespace {

constexpr char16_t kLocalPrefix[] = u"Local\\";
constexpr size_t kLocalPrefixUnits = 6;
constexpr uint32_t kMutexAllAccess = 0x1F0001;
constexpr uint32_t kSpinCount = 0x80000400;
constexpr uint32_t kInfinite = 0xFFFFFFFF;

struct t_loadedFile {
    uint8_t* block;
    uint64_t size;
};

// Never destroyed: the blocks it holds live for the process.
std::map<std::u16string, t_loadedFile>& LoadedFiles() {
    static auto* files = new std::map<std::u16string, t_loadedFile>;
    return *files;
}

t_mutex& FilemapMutex() {
    static auto* mutex = new t_mutex;
    return *mutex;
}

}  // namespace

// ---- t_mutex ----

bool t_mutex::NormaliseName(t_str& out, const char16_t* name) {
    const bool once = WcsNCmp16(name, kLocalPrefix, kLocalPrefixUnits) == 0;
    const bool twice =
        once && WcsNCmp16(name + kLocalPrefixUnits, kLocalPrefix, kLocalPrefixUnits) == 0;
    t_str text;
    if (!(once ? text.Assign(twice ? name + kLocalPrefixUnits : name)
               : text.Assign(kLocalPrefix) && text.Append(name)))
        return false;
    if (text.GetLength() > kMaxNameUnits) return false;
    return out.Assign(text);
}

bool t_mutex::Create(t_errorContext& ctx, const char16_t* name) {
    if (m_handle) return true;
    if (name && *name) {
        if (!NormaliseName(m_name, name)) {
            ctx.SetError(u"互斥量创建失败：");
            return false;
        }
        m_handle = uint64_t(OpenMutex(m_name.GetStr()));
        if (m_handle) return true;
    } else {
        m_name.Assign(u"Local\\Mutex_NoName");
    }
    m_handle = uint64_t(CreateMutex(m_name.GetStr()));
    if (!m_handle) {
        t_str text(u"互斥量创建失败：");
        text.Append(m_name);
        ctx.SetError(text.GetStr());
        return false;
    }
    if (name && *name) {
        SetObjectAccess(m_name.GetStr(), 0, kMutexAllAccess);
        SetObjectSecurity(m_name.GetStr(), 0);
    }
    return true;
}

bool t_mutex::Acquire(t_errorContext& ctx) {
    if (!m_handle) return true;
    const uint32_t result = uint32_t(QZWaitForSingleObject(int(m_handle), kInfinite));
    if (result == 0 || result == 128) return true;  // signalled or abandoned
    if (result == 258) {
        ctx.SetError(u"获取Mutex失败：WAIT_TIMEOUT");
    } else if (result == 0xFFFFFFFF) {
        ctx.SetError(u"获取Mutex失败");
    } else {
        t_str text;
        text.Format(u"获取Mutex失败：QZWaitForSingleObject返回值不识别(%d)", int(result));
        ctx.SetError(text.GetStr());
    }
    return false;
}

void t_mutex::Unlock() {
    if (m_handle) ReleaseMutex(int(m_handle));
}

bool t_mutex::Lock(t_errorContext& ctx) {
    if (!IsCreated()) {
        ctx.SetError(u"t_mutex::Lock 未初始化");
        return false;
    }
    return Acquire(ctx);
}

bool t_mutex::t_locker::Lock(t_errorContext& ctx, t_mutex* mutex) {
    Unlock();
    if (!mutex || !mutex->Lock(ctx)) return false;
    m_mutex = mutex;
    return true;
}

void t_mutex::t_locker::Unlock() {
    if (m_mutex) m_mutex->Unlock();
    m_mutex = nullptr;
}

// ---- t_criticalSection ----

bool t_criticalSection::Create(t_errorContext& ctx, const char16_t* name) {
    if (m_created) return true;
    if (!NormaliseName(m_name, name ? name : u"") ||
        !InitializeCriticalSectionAndSpinCount(&m_section, kSpinCount)) {
        t_str text;
        text.Format(u"创建CriticalSection失败:%s, %d", m_name.GetStr(), int(GetLastError()));
        ctx.SetError(text.GetStr());
        return false;
    }
    m_created = true;
    return true;
}

void t_criticalSection::Close() {
    if (!m_created) return;
    DeleteCriticalSection(&m_section);
    m_created = false;
}

bool t_criticalSection::Acquire(t_errorContext&) {
    EnterCriticalSection(&m_section);
    return true;
}

void t_criticalSection::Unlock() {
    LeaveCriticalSection(&m_section);
}

// ---- t_path::t_mutex ----

bool t_path::t_mutex::Create(t_errorContext& ctx, const char16_t*) {
    ctx.SetError(u"创建文件对象锁失败：不支持");
    return false;
}

bool t_path::t_mutex::CreateFromPath(t_errorContext& ctx, const t_path& path) {
    // The case-folded units XOR-folded into four 16-bit slots, then mixed
    // into one number.
    uint16_t slots[4] = {};
    const t_str& text = path.Str();
    for (size_t i = 0; i < text.GetLength(); ++i) slots[i % 4] ^= ToLower16(text.GetAt(i));
    const uint32_t number = HashU32Pjw(HashU32Pjw(0, uint32_t(slots[1]) << 16 | slots[0]),
                                       uint32_t(slots[3]) << 16 | slots[2]);
    t_str name;
    name.Format(u"Local\\mutex_file_0x%08x", unsigned(number));
    t_errorContext inner;
    if (!n_porting::t_mutex::Create(inner, name.GetStr())) {
        ctx.SetError(u"创建文件对象锁失败");
        return false;
    }
    return true;
}

// ---- memory blocks ----

bool t_memSharableBase::Open(t_errorContext& ctx, bool, const char16_t*, uint64_t size,
                             const char16_t* dataFile) {
    if (m_open) return false;
    if (!dataFile) {
        if (size == 0) {
            ctx.SetError(u"not create of faking share mem");
            return false;
        }
        auto* block =
            size <= SIZE_MAX ? static_cast<uint8_t*>(std::calloc(1, size_t(size))) : nullptr;
        if (!block) {
            ctx.SetError(u"malloc can not get memory");
            return false;
        }
        m_block = block;
        m_blockSize = size;
        m_owned = true;
    } else {
        auto& files = LoadedFiles();
        auto found = files.find(dataFile);
        if (found == files.end()) {
            t_fileBufferRead file;
            if (!file.Load(ctx, t_path(dataFile), t_fileBufferRead::kPlain)) return false;
            const uint64_t n = file.GetSize();
            auto* block = static_cast<uint8_t*>(std::malloc(n ? size_t(n) : 1));
            if (!block) {
                ctx.SetError(u"malloc can not get memory");
                return false;
            }
            if (n) std::memcpy(block, file.GetData(), size_t(n));
            found = files.emplace(dataFile, t_loadedFile{block, n}).first;
        }
        m_block = found->second.block;
        m_blockSize = found->second.size;
        m_owned = false;
    }
    m_handle = -1;
    m_open = true;
    return true;
}

void t_memSharableBase::Close() {
    if (m_owned) std::free(m_block);
    m_block = nullptr;
    m_blockSize = 0;
    m_owned = m_open = false;
    m_handle = 0;
}

void t_memSharableBase::Swap(t_memSharableBase& other) {
    std::swap(m_handle, other.m_handle);
    std::swap(m_block, other.m_block);
    std::swap(m_blockSize, other.m_blockSize);
    std::swap(m_open, other.m_open);
    std::swap(m_owned, other.m_owned);
}

bool t_filemap::Init(t_errorContext& ctx) {
    return FilemapMutex().Create(ctx, u"Local\\vetraFilemapMutex");
}

}  // namespace n_porting
