// The dictionary save in steps, offered beside the engine interface by an
// engine whose caller serializes it: the snapshot and the finish run under
// the caller's engine lock, the snapshot's Write without it (on the save
// worker), so a keystroke never waits for the disk.
#pragma once

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
