// Change files: the recorded changes of a dictionary that a process could
// not save as it ended (another process held the kernel's locks), kept
// beside the dictionary's file where no lock is needed. Each process writes
// its own, "<file>.unsaved.<pid>.<16 hex digits>", whole (temporary, sync,
// rename) or not at all; the next process that holds the lock as it
// attaches the dictionary takes them in. Any thread; taking a file in is
// the caller's to order under the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/runtime/path.h"

// Most bytes a change file may hold; a larger one is refused unread.
inline constexpr int64_t kMaxUnsavedFileBytes = int64_t(64) << 20;

// The records of a change list as t_dictStorageBase keeps it (each a u32
// byte count and that many bytes, the first the operation); false when a
// record is empty or runs past the end.
bool CountChangeRecords(const std::vector<uint8_t>& changes, size_t* records);

// True for "<base>.unsaved.<decimal pid>.<16 lower-case hex digits>".
bool IsUnsavedFileName(const std::wstring& name, const std::wstring& base);

// Writes the change list as a new change file beside dictFile. True with
// *written set; false with the cause in *why when nothing was written.
bool WriteUnsavedFile(const t_pathName& dictFile, const std::vector<uint8_t>& changes,
                      t_pathName* written, std::string* why);

// The change files beside dictFile, in name order.
std::vector<t_pathName> FindUnsavedFiles(const t_pathName& dictFile);

// Reads a change file and checks it whole: a regular file no larger than
// kMaxUnsavedFileBytes, its header, its size, its checksum and every
// record's length. False with the cause in *why (changes then empty).
bool ReadUnsavedFile(const t_pathName& file, std::vector<uint8_t>& changes, size_t* records,
                     std::string* why);
