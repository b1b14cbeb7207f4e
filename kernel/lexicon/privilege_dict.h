// The privilege dictionary: words offered first for given input keys (key
// table 2 of a table file: input text -> chain of {word, value}), with prefix
// tests for longer keys. One thread at a time (the kernel call's thread);
// results live in the caller's arena.
#pragma once

#include <cstdint>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/storage/table_file.h"

constexpr uint32_t kPrivilegeVersion = 20140826;

struct t_privilegeWord {
    t_lstr* word;  // arena copy
    uint64_t value;
};

class t_privilegeDictCore : public t_dictStorageBase {
public:
    static constexpr int kInputTable = 2;
    // Attri row of key table 2: word offset (u32), value (u32), next (u32).
    static constexpr uint32_t kWordOffset = 0, kValueOffset = 4, kNextOffset = 8;

    t_privilegeDictCore();
    // Attaches (version 20140826, default policies); the result is the ready
    // flag. False for a null image or size below 1.
    bool Load(void* data, int32_t size) override;

    // The key's (word, value) records in chain order: 1 with *out and *count
    // (count 0 for a key without chain); 0 when not ready, the key is absent,
    // a row or text is missing, or the arena fails.
    int Lookup(t_scopeHeap& heap, const t_lstr* key, t_privilegeWord*** out, uint32_t* count);
    // The key's row number in table 2, or -1. *longer = 1 when the row after
    // it (or, when absent, the row at its insertion place) extends the key.
    int32_t FindPrefix(const t_lstr* key, uint8_t* longer);
    // Up to max keys of table 2 that start with text, with their row numbers
    // and arena copies; -1 for bad arguments, 0 when not ready.
    int ListByPrefix(t_scopeHeap& heap, const t_lstr* text, uint32_t* rows, t_lstr** keys, int max);
    // Allocated rows of table 2; 0 when not ready.
    int32_t GetKeyCount();

private:
    int32_t RowNumber(int32_t row, int32_t bucketStart) const;
    t_tableFile m_table;
};
