// Rebuilding the user's key-to-pinyin map for changed input-scheme settings
// without losing what it learned (usage counts, syllable counters, disabled
// mappings), merging further map files, and turning a key-usage record file
// into a map. Runs on the thread of the kernel call; no lock of its own.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/lexicon/key_py_map.h"
#include "kernel/runtime/scope_heap.h"

// Names under which the working maps are attached through the dictionary manager.
inline constexpr const wchar_t* kKeymapMergerName = L"TemKeymapDict_Merger";
inline constexpr const wchar_t* kKeymapConvertName = L"TemKeymapDict_Convert";
// The dictionary whose presence a rebuild requires.
inline constexpr const wchar_t* kPyDictName = L"pydict";

// Results of MergeKeymapSources.
enum : int {
    kKeymapSourcesOk = 0,
    kKeymapRecordFailed = 1,  // the record file could not be converted or merged
    kKeymapSecondFailed = 2,
    kKeymapFirstFailed = 3,
    kKeymapSaveFailed = 4,
};

// The map that receives a merge, for the length of one merge. It grows as
// the mappings of both maps need.
struct t_keymapMergeContext {
    t_keyPyMap map{t_keyPyMap::t_growing{}};
    uint8_t attached = 0;                               // 1 once the map holds an image
    t_scopeHeap arena{t_scopeHeap::kDefaultBlockSize};  // file buffers of this merge
};

// Null when memory is short.
t_keymapMergeContext* InitKeymapMergeContext();
// Releases the arena, then the map. A null context is ignored.
void FreeKeymapMergeContext(t_keymapMergeContext* context);

// Rebuilds the map for the current settings (configuration store and kernel
// directories) and merges the map file at path into it: mappings both have
// keep the larger count, mappings the settings no longer make stay disabled,
// and the old syllable counters are kept. 1 when path holds the merged map;
// 0 when "pydict" is not loaded (nothing written), the map cannot be built,
// or the file at path is missing or refused: path is then untouched and no
// work file is left. notes (may be null) gains what the build had to say
// (files refused, keys left out), one line each.
int MergeKeymapDict(t_keymapMergeContext* context, const wchar_t* path,
                    std::wstring* notes = nullptr);

// The first call attaches the context's map to the file at path (under
// "TemKeymapDict_Merger"); later calls feed every mapping of the file at
// path into it, with AddEntry when add is set, else with MergeEntry. False
// for a missing or refused file or a mapping the context could not take.
bool LoadOrMergeKeymapFile(t_keymapMergeContext* context, const wchar_t* path, bool add);

// A clean map at target holding the live mappings (not disabled; state 0)
// and the counters of the map file at source. False when the source is
// missing or refused or the result cannot be saved (target then untouched).
bool ConvertKeymapFile(t_keymapMergeContext* context, const wchar_t* source, const wchar_t* target);

// Saves the context's map to path when it holds one (1 on success); 1 when
// it holds none.
int SaveKeymapMergeContext(t_keymapMergeContext* context, const wchar_t* path);

// Merges the given sources (null or empty ones are skipped) into the
// context and saves it to target: first, then second, then the record file
// converted into recordFile + ".temp". Returns one of the codes above; the
// target is written only at the end.
int MergeKeymapSources(t_keymapMergeContext* context, const wchar_t* target, const wchar_t* first,
                       const wchar_t* second, const wchar_t* recordFile);

// Holds the arena the conversion of a record file takes its buffers from.
class t_tempKeymapConverter {
public:
    explicit t_tempKeymapConverter(t_scopeHeap* arena) : m_arena(arena) {}
    t_scopeHeap* Arena() const { return m_arena; }

private:
    t_scopeHeap* m_arena;
};

// Key-usage record file: a 12-byte header (u32 unused, u32 record count,
// u32 unused), 24-byte key records (16-byte length-prefixed key of up to 7
// letters, i32 entry count, i32 first entry), then 20-byte entries
// (zero-terminated syllable text in 16 bytes, u32 count).
inline constexpr uint32_t kKeyRecordHeaderBytes = 12;
inline constexpr uint32_t kKeyRecordBytes = 24;
inline constexpr uint32_t kKeyEntryBytes = 20;
inline constexpr uint32_t kKeyRecordKeyBytes = 16;
inline constexpr uint32_t kKeyEntryTextBytes = 16;

// Builds a map for the current settings, adds the counts of the record file
// to it (entries with unknown syllables change nothing) and writes the live
// result to target. False, target untouched, when "pydict" is not loaded,
// the record file is missing or malformed (counts, indices or texts outside
// the file), or a step fails.
bool ConvertKeymapRecordFile(t_tempKeymapConverter& converter, const wchar_t* recordFile,
                             const wchar_t* target);

// A text listing of a map file (diagnostics): the first 413 syllable
// counters, then one line per mapping, "err:" marking a count that exceeds
// its syllable's counter. 1 when the listing was written; 0 when the map
// file cannot be read or attached, its items cannot be listed, or the text
// file cannot be written.
int DumpKeyMapText(t_scopeHeap& arena, const wchar_t* imagePath, const wchar_t* textPath);
