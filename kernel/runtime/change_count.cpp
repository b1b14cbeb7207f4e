// The count of changes shared through a lock file.
//
// Each process adds its own changes to the shared count and to a count of
// its own; the difference is what the others did. The word holds two
// counts: imports in its low half, restores and removals in its high half.
// Any value of the file is a valid count: a damaged one only makes a call
// noted before refuse.
#include "kernel/runtime/change_count.h"

#include <string>
#include <utility>

#include "kernel/runtime/dir_settings.h"

namespace {

// What one change adds to the shared word.
constexpr uint64_t kAddition = 1;
constexpr uint64_t kReplacement = uint64_t(1) << 32;
constexpr uint64_t kReplacements = ~uint64_t(0) << 32;

}  // namespace

bool t_changeCount::Create(const wchar_t* name) {
    if (m_lock.IsCreated()) return true;
    if (!m_lock.Create(name, 6, sizeof(uint64_t))) return false;
    std::lock_guard<std::mutex> guard(m_ownLock);
    uint64_t shared = 0;
    m_lock.ReadShared(0, &shared, sizeof shared, &m_files);
    m_own = 0;
    m_last = m_looked = shared;
    return true;
}

uint64_t t_changeCount::OthersLocked() const {
    uint64_t shared = 0, files = 0;
    if (!m_lock.ReadShared(0, &shared, sizeof shared, &files)) return m_last;
    if (files != m_files) {
        // Another file's count is no continuation of the old one: it goes
        // on from one past every mark given out so far. What it counted as
        // replacements since it was made (a removal in another process
        // after the file was removed) stays one: the words learned here
        // before it must not be put back onto the emptied dictionary. A
        // copy of an old file counts its old ones too, which only costs
        // what was learned since the last save.
        m_files = files;
        m_own = shared - (m_last + 1 + (shared & kReplacements));
    }
    m_last = shared - m_own;
    return m_last;
}

uint64_t t_changeCount::Others() const {
    // Both counts at once: this process's change half-counted would pass
    // for another's.
    std::lock_guard<std::mutex> guard(m_ownLock);
    return OthersLocked();
}

void t_changeCount::Add(bool replaces) {
    std::lock_guard<std::mutex> guard(m_ownLock);
    // A file opened again is taken up first, so this change moves no mark.
    OthersLocked();
    const uint64_t delta = replaces ? kReplacement : kAddition;
    if (!m_lock.AddShared(0, delta)) return;
    m_own += delta;
    // A file cut short while held was made whole by the add, its count
    // starting from this change: taken up here, the change as this
    // process's own.
    uint64_t shared = 0, files = 0;
    if (m_lock.ReadShared(0, &shared, sizeof shared, &files) && files != m_files) {
        m_files = files;
        m_own = shared - (m_last + 1);
    }
}

bool t_changeCount::MovedSinceLastLook() {
    std::lock_guard<std::mutex> guard(m_ownLock);
    const uint64_t now = OthersLocked();
    return std::exchange(m_looked, now) != now;
}

t_replacementMark t_changeCount::Mark() const {
    t_replacementMark mark;
    uint64_t shared = 0, from[2] = {0, 0};
    if (m_lock.IsInProcess() || !m_lock.ReadShared(0, &shared, sizeof shared, nullptr, from) ||
        (from[0] == 0 && from[1] == 0))
        return mark;
    mark.valid = true;
    mark.device = from[0];
    mark.inode = from[1];
    mark.replacements = Replacements(shared);
    return mark;
}

bool t_changeCount::ReplacedBetween(const t_replacementMark& then, const t_replacementMark& now) {
    if (!then.valid || !now.valid) return false;
    // A count only grows in its file; one found lower started again (the
    // file cut short and made whole), as a new file does.
    if (then.device == now.device && then.inode == now.inode &&
        now.replacements >= then.replacements)
        return now.replacements != then.replacements;
    return now.replacements != 0;
}

t_changeCount& GetUsrDictChangeCount() {
    static t_changeCount count;
    return count;
}

bool CreateUsrDictChangeCount() {
    std::wstring name;
    MakeSafeFileName(L"ImeKernel", L"_UsrDictChanges", name);
    return GetUsrDictChangeCount().Create(name.c_str());
}

void ReleaseUsrDictChangeCount() {
    t_changeCount& count = GetUsrDictChangeCount();
    if (count.IsCreated()) count.Close();
}
