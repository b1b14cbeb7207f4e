// t_tableImageWriter writes a table-file image section by section into a
// temporary file beside the target and renames it over the target only when
// every section was written and synced, so a failed save leaves the old file.
// One thread at a time per object.
#pragma once

#include <cstdint>

#include "kernel/runtime/fd_file.h"

class t_tableImageWriter {
public:
    // False (prints "can't open file for write !") when no temporary file can
    // be made beside path.
    bool Open(const wchar_t* path);
    // Appends n bytes; on failure prints `failMessage`, drops the temporary
    // file and returns false (every later call fails too).
    bool Put(const void* data, uint64_t n, const char* failMessage);
    // Syncs and renames over the target; false (target untouched) on failure.
    bool Commit();

private:
    t_safeFileWriter m_writer;
    bool m_open = false;
};
