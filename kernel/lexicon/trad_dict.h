// t_traDict: the traditional forms of simplified text, held as a trie of
// reversed texts; a look-up finds the longest ending of a text that has a
// stored replacement. Attached by the dictionary manager; look-ups run on
// the thread of the kernel call and only read the image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

// Image (little-endian):
//   0  u32 offset of the node area from the image start
//   4  u32 number of stored texts (not read by the kernel)
//   8  u32 byte size of the value area (not read by the kernel)
//  12  u32 node size, 16
//  16  u32 node count (node 0 is the root)
//   node area: nodes of 16 bytes {u16 unit; u16 0; u32 first child;
//              u32 child count; i32 value offset: -1 none, -2 a match
//              without text (the text stays as it is)}
//   value area (after the nodes, to the end): t_lstr replacement texts.
// Children of a node are consecutive nodes in ascending unit order; a path
// from the root spells a text from its last unit backwards.
class t_traDict : public t_dictStorageBase {
public:
    static constexpr uint32_t kHeaderSize = 20;
    static constexpr uint32_t kNodeSize = 16;
    static constexpr int32_t kNoValue = -1;
    static constexpr int32_t kKeepText = -2;

    // Checks the whole image first: header, node area inside the image,
    // every node's child range inside the node area with its children in
    // ascending order, and every value offset naming a whole text inside the
    // value area. False (nothing attached) when any check fails.
    bool Load(void* data, int32_t size) override;

    // The number of units at the end of text that the longest stored ending
    // covers; *out = a copy of its replacement in heap, or null when the
    // ending is kept as it is. 0 (with *out null) when not ready, for an
    // empty text or when no ending is stored, or when the copy cannot be
    // made.
    int MatchSuffix(t_scopeHeap* heap, t_lstr** out, const t_lstr* text) const;

    // The header's node size; 0 when not ready.
    uint32_t GetNodeSize() const;

private:
    struct t_node {
        uint16_t unit;
        uint32_t firstChild;
        uint32_t childCount;
        int32_t value;
    };
    t_node NodeAt(uint32_t i) const;
    // Index of the child of node with the unit, or -1.
    int64_t FindChild(const t_node& node, uint16_t unit) const;

    const uint8_t* m_image = nullptr;
    const uint8_t* m_nodes = nullptr;
    const uint8_t* m_values = nullptr;
    uint32_t m_nodeCount = 0;
    uint32_t m_valueSize = 0;
};
