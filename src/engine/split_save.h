// The dictionary save in steps, offered beside the engine interface by an
// engine whose caller serializes it: the snapshot and the finish run under
// the caller's engine lock, the snapshot's Write without it (on the save
// worker), so a keystroke never waits for the disk.
#pragma once

#include <memory>

#include "kernel/runtime/dict_manager.h"

class IVetraSplitSave {
public:
    // Null when the kernel is not ready (the caller then saves whole).
    virtual std::unique_ptr<t_dictSaveSnapshot> TakeSaveSnapshot() = 0;
    // SaveDicts' result for the snapshot.
    virtual bool FinishSave(t_dictSaveSnapshot& snapshot) = 0;

protected:
    ~IVetraSplitSave() = default;
};
