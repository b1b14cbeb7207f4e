// The settings tool's changes of the user dictionary in the order they were
// sent, across every process of the user folder, offered beside the engine
// interface. A call notes the mark when it arrives and runs later (after
// the calls before it, or the reading of a slow file): when another process
// changed the user dictionary meanwhile (an import, a restore, a removal),
// that came from a call sent after this one, which landing now would undo,
// so this one is refused, false with nothing of it done. A backup keeps the
// order too: one that would copy what such a later change left writes
// nothing. Learning is no such change. This process's calls keep their
// order by running one after another.
#pragma once

#include <cstdint>

class IVetraUsrDictOrder {
public:
    // Any thread, never waits: the mark of a call arriving now.
    virtual uint64_t UsrDictChangeMark() = 0;
    // ImportUsrDict, RestoreUsrDict and RemoveUsrDict of a call that arrived
    // at `mark`.
    virtual bool ImportUsrDictSince(uint64_t mark, const char* path, uint32_t* wordCount) = 0;
    virtual bool RestoreUsrDictSince(uint64_t mark, const char* path) = 0;
    virtual bool RemoveUsrDictSince(uint64_t mark) = 0;
    // BackupUsrDict (the save before it is the caller's).
    virtual bool BackupUsrDictSince(uint64_t mark, const char* path, uint32_t* status) = 0;

protected:
    ~IVetraUsrDictOrder() = default;
};
