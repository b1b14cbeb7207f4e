// The traditional-form trie.
#include "kernel/lexicon/trad_dict.h"

#include "kernel/runtime/byte_order.h"

t_traDict::t_node t_traDict::NodeAt(uint32_t i) const {
    const uint8_t* p = m_nodes + uint64_t(i) * kNodeSize;
    return t_node{Rd16(p), Rd32(p + 4), Rd32(p + 8), int32_t(Rd32(p + 12))};
}

bool t_traDict::Load(void* data, int32_t size) {
    m_image = m_nodes = m_values = nullptr;
    m_nodeCount = m_valueSize = 0;
    if (!data || size < int32_t(kHeaderSize)) return false;
    const auto* image = static_cast<const uint8_t*>(data);
    const uint64_t total = uint64_t(size);
    const uint64_t nodeOffset = Rd32(image), nodeSize = Rd32(image + 12),
                   nodeCount = Rd32(image + 16);
    if (nodeSize != kNodeSize || nodeCount < 1 || nodeOffset < kHeaderSize) return false;
    const uint64_t nodesEnd = nodeOffset + nodeSize * nodeCount;  // no overflow: both below 2^32
    if (nodesEnd > total) return false;
    const uint64_t valueSize = total - nodesEnd;

    m_nodes = image + nodeOffset;
    m_nodeCount = uint32_t(nodeCount);
    const uint8_t* values = image + nodesEnd;
    for (uint32_t i = 0; i < m_nodeCount; ++i) {
        const t_node n = NodeAt(i);
        if (n.childCount > 0) {
            // Children lie inside the node area, never at the root, and in
            // ascending order, so that the binary search stays sound.
            if (n.firstChild < 1 || uint64_t(n.firstChild) + n.childCount > nodeCount) {
                m_nodes = nullptr;
                return false;
            }
            for (uint32_t c = 1; c < n.childCount; ++c) {
                if (NodeAt(n.firstChild + c - 1).unit >= NodeAt(n.firstChild + c).unit) {
                    m_nodes = nullptr;
                    return false;
                }
            }
        }
        if (n.value == kNoValue || n.value == kKeepText) continue;
        if (n.value < 0 || uint64_t(n.value) + kLstrHeaderBytes > valueSize ||
            uint64_t(n.value) + kLstrHeaderBytes + Rd16(values + n.value) > valueSize) {
            m_nodes = nullptr;
            return false;
        }
    }
    m_image = image;
    m_values = values;
    m_valueSize = uint32_t(valueSize);
    return true;
}

uint32_t t_traDict::GetNodeSize() const {
    if (!IsReady() || !m_image) return 0;
    return Rd32(m_image + 12);
}

int64_t t_traDict::FindChild(const t_node& node, uint16_t unit) const {
    if (node.childCount == 0) return -1;
    int64_t lo = node.firstChild, hi = int64_t(node.firstChild) + node.childCount - 1;
    while (lo <= hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        const uint16_t u = NodeAt(uint32_t(mid)).unit;
        if (u == unit) return mid;
        if (u < unit)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

int t_traDict::MatchSuffix(t_scopeHeap* heap, t_lstr** out, const t_lstr* text) const {
    if (out) *out = nullptr;
    if (!IsReady() || !m_image || !text) return 0;
    const uint16_t length = LstrGetLength(text);
    if (length == 0) return 0;
    t_node node = NodeAt(0);
    int best = 0;
    t_node bestNode{};
    for (int depth = 1; depth <= int(length); ++depth) {
        const int64_t child = FindChild(node, LstrGetUnit(text, size_t(length - depth)));
        if (child < 0) break;
        node = NodeAt(uint32_t(child));
        if (node.value != kNoValue) {
            best = depth;
            bestNode = node;
        }
    }
    if (best == 0 || bestNode.value == kKeepText) return best;
    if (!heap || !out) return 0;
    const auto* stored = reinterpret_cast<const t_lstr*>(m_values + bestNode.value);
    t_lstr* copy = static_cast<t_lstr*>(heap->DupBytes(stored, LstrGetTotalBytes(stored)));
    if (!copy) return 0;
    *out = copy;
    return best;
}
