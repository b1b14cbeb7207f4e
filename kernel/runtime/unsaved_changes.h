// Change files: the recorded changes of a dictionary that a process could
// not save as it ended (another process held the kernel's locks), kept
// beside the dictionary's file where no lock is needed. Each process writes
// its own, "<file>.unsaved.<pid>.<16 hex digits>", whole (temporary, sync,
// rename) or not at all; the next process that holds the lock as it
// attaches the dictionary takes them in, in the order they were written.
// A file carries the mark of the words its changes were made on, so that
// none made before a removal or restore is ever taken in after it. Any
// thread; taking a file in is the caller's to order under the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/runtime/change_count.h"
#include "kernel/runtime/path.h"

// Most bytes a change file may hold; a larger one is refused unread.
inline constexpr int64_t kMaxUnsavedFileBytes = int64_t(64) << 20;

// The records of a change list as t_dictStorageBase keeps it (each a u32
// byte count and that many bytes, the first the operation); false when a
// record is empty or runs past the end.
bool CountChangeRecords(const std::vector<uint8_t>& changes, size_t* records);

// True for "<base>.unsaved.<decimal pid>.<16 lower-case hex digits>".
bool IsUnsavedFileName(const std::wstring& name, const std::wstring& base);

// Writes the change list as a new change file beside dictFile, with the
// mark of the words it was made on (an invalid mark: none to compare).
// True with *written set; false with the cause in *why when nothing was
// written.
bool WriteUnsavedFile(const t_pathName& dictFile, const std::vector<uint8_t>& changes,
                      const t_replacementMark& mark, t_pathName* written, std::string* why);

// The change files beside dictFile, in name order.
std::vector<t_pathName> FindUnsavedFiles(const t_pathName& dictFile);

// A change file checked whole.
struct t_unsavedFile {
    t_pathName path;
    std::vector<uint8_t> changes;
    size_t records = 0;
    int64_t writtenNs = 0;   // when it was written (a file of the first format: its time)
    t_replacementMark mark;  // invalid in a file of the first format
};

// Checks a change file's bytes whole: its header (either format), its
// size, its checksums, every record's length and the count. False with
// the cause in *why; out's changes are then empty.
bool ParseUnsavedImage(const uint8_t* data, size_t size, t_unsavedFile* out, std::string* why);

enum class t_unsavedRead {
    kWhole,    // checked whole: *out holds it
    kDamaged,  // to be set aside unread (*why: what is wrong)
    kLeft,     // to be left where it is (*why: another user's, or unreadable)
    kGone,     // no longer there
};
// Reads and checks a change file: only a regular file of this user no
// larger than kMaxUnsavedFileBytes is read.
t_unsavedRead ReadUnsavedFile(const t_pathName& file, t_unsavedFile* out, std::string* why);

// Moves a change file to a new change-file name of this process beside
// it, never replacing anything: a file that moves can be removed once its
// changes are in the dictionary, so none is taken in twice. True with
// file renamed; false with the errno in *err (file untouched).
bool ClaimUnsavedFile(t_pathName& file, int* err);

// Sets a damaged change file aside as "<file>.damaged" (".damaged.<n>"
// when that is taken), never replacing anything. True with *aside set.
bool SetAsideUnsavedFile(const t_pathName& file, t_pathName* aside);

// Removes dictFile's change files and those set aside as damaged (their
// words were replaced). The number removed; *left gets one line per file
// that could not be removed.
size_t RemoveUnsavedFiles(const t_pathName& dictFile, std::vector<std::string>* left);
