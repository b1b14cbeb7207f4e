// The dictionary save in steps, offered beside the engine interface by an
// engine whose caller serializes it: the snapshot and the finish run under
// the caller's engine lock, the snapshot's Write without it (on the save
// worker), so a keystroke never waits for the disk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "kernel/runtime/dict_manager.h"

class IVetraSplitSave {
public:
    // Without the engine lock: an empty snapshot, its buffers made ready.
    virtual std::unique_ptr<t_dictSaveSnapshot> NewSaveSnapshot() = 0;
    // Under the lock: the copy. False when the kernel is not ready (the
    // caller then saves whole).
    virtual bool TakeSaveSnapshot(t_dictSaveSnapshot& snapshot) = 0;
    // Under the lock: SaveDicts' result for the snapshot.
    virtual bool FinishSave(t_dictSaveSnapshot& snapshot) = 0;

protected:
    ~IVetraSplitSave() = default;
};

// Import, restore and backup of a user dictionary file in steps, offered the
// same way: the reading, parsing, building and writing run without the
// caller's engine lock, the short steps under it.
class IVetraStepwiseImport {
public:
    // Without the lock: ImportUsrDict (restore false) or RestoreUsrDict,
    // whose short steps `locked` runs under it. `mark`, when not null: as
    // IVetraUsrDictOrder's.
    virtual bool ReplaceUsrDictInSteps(
        const char* path, bool restore, uint32_t* wordCount,
        const std::function<void(const std::function<void()>&)>& locked, const uint64_t* mark) = 0;
    // Without the lock, right after a save: BackupUsrDict, whose copy of
    // the user dictionary file `locked` takes under it; the target is
    // written without it. `mark` as for the replacement.
    virtual bool BackupUsrDictInSteps(
        const char* path, uint32_t* status,
        const std::function<void(const std::function<void()>&)>& locked, const uint64_t* mark) = 0;

    // Without the lock: StartKernel, whose start-up and each step of the
    // key map's rebuild `locked` runs under it.
    virtual bool StartKernelInSteps(
        const std::function<void(const std::function<void()>&)>& locked) = 0;

protected:
    ~IVetraStepwiseImport() = default;
};
