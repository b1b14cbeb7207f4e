// The name-piece lattice: entering readings as pieces, the cheapest chain
// and the best 30 chains with the partial selection they share.
// One conversion on one thread.
#include "kernel/convert/name_lattice.h"

#include <algorithm>
#include <iterator>

#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/runtime/scope_heap.h"

namespace {

int32_t PieceCost(const t_piece* p) {
    return 3 * int32_t(p->cost) + 500;
}

t_pieceChain MakeChain(const t_piece* first, const t_piece* middle, const t_piece* last) {
    t_pieceChain c = {};
    const t_piece* parts[3] = {first, middle, last};
    for (const t_piece* p : parts) {
        if (!p) continue;
        c.pieces[c.kindCount++] = const_cast<t_piece*>(p);
        c.cost += PieceCost(p);
    }
    c.start = last->start;
    return c;
}

void KeepCheaper(t_pieceChain* best, bool* found, const t_pieceChain& c) {
    if (!*found || c.cost < best->cost) {
        *best = c;
        *found = true;
    }
}

}  // namespace

int ChainByCost(const t_pieceChain* a, const t_pieceChain* b) {
    return a->cost < b->cost ? -1 : a->cost > b->cost;
}

int ChainByKindCountThenCost(const t_pieceChain* a, const t_pieceChain* b) {
    if (a->kindCount != b->kindCount) return a->kindCount > b->kindCount ? -1 : 1;
    return ChainByCost(a, b);
}

int SelectBest(t_pieceChain* e, int n, t_chainOrder order) {
    constexpr int k = PieceLattice::kBestChains;
    if (!e || n <= k) return std::max(n, 0);
    int lo = 0, hi = n;
    // [0, lo) comes before [lo, hi), which comes before [hi, n).
    while (lo < k) {
        const t_pieceChain pivot = e[hi - 1];
        int store = lo;
        for (int i = lo; i < hi - 1; ++i)
            if (order(&e[i], &pivot) < 0) std::swap(e[i], e[store++]);
        std::swap(e[store], e[hi - 1]);
        if (store == k) break;
        if (store < k)
            lo = store + 1;
        else
            hi = store;
    }
    return k;
}

void PieceLattice::Bind(t_scopeHeap* arena) {
    m_arena = arena;
    m_pieces = 0;
    Reset(0);
}

void PieceLattice::Reset(int count, int parts) {
    m_last = std::max(count, 0);
    m_count = std::min(m_last, kMaxPositions);
    m_parts = parts == 3 ? 3 : 2;
    std::fill(std::begin(m_totals), std::end(m_totals), 0);
    std::fill(std::begin(m_heads), std::end(m_heads), nullptr);
    std::fill(std::begin(m_tails), std::end(m_tails), nullptr);
    for (auto& k : m_kinds) std::fill(std::begin(k), std::end(k), 0);
    m_longest = 0;
}

int PieceLattice::KindSlot(uint8_t kind) {
    switch (kind) {
        case kPieceFirst:
            return 0;
        case kPieceFinal:
            return 1;
        case kPieceFinalOfThree:
            return 2;
        case kPieceMiddle:
            return 3;
        case kPieceFinalAfterMiddle:
            return 4;
        default:
            return -1;
    }
}

int PieceLattice::KindCountAt(int p, uint8_t kind) const {
    const int slot = KindSlot(kind);
    return p >= 0 && p <= m_count && slot >= 0 ? m_kinds[p][slot] : 0;
}

t_piece* PieceLattice::AddPiece(int start, int end, uint8_t kind, int32_t ref, uint8_t cost,
                                const void* word, int16_t length) {
    if (!m_arena || start < 0 || end > m_count || end <= start) return nullptr;
    auto* piece = static_cast<t_piece*>(ArenaAllocAligned(*m_arena, sizeof(t_piece)));
    if (!piece) return nullptr;
    *piece = {word, start, end, kind, cost, ref, nullptr, length, 0, kBestChains};
    if (m_tails[end])
        m_tails[end]->next = piece;
    else
        m_heads[end] = piece;
    m_tails[end] = piece;
    ++m_pieces;
    m_longest = std::max<int32_t>(m_longest, length);
    if (const int slot = KindSlot(kind); slot >= 0) {
        if (m_kinds[end][slot] < 255) ++m_kinds[end][slot];
        if (m_totals[slot] < 255) ++m_totals[slot];
    }
    return piece;
}

const t_piece* PieceLattice::FirstOfKind(int p, uint8_t kind) const {
    for (const t_piece* x = At(p); x; x = x->next)
        if (x->kind == kind) return x;
    return nullptr;
}

int PieceLattice::AddReading(int start, int end, uint32_t attribute, uint8_t cost, const void* word,
                             int32_t ref) {
    if (start < 0 || end > m_count || end <= start) return 0;
    const bool reachesLast = end == m_last;
    int entered = 0;
    if (start > 0) {
        if (const t_piece* first = FirstOfKind(start, kPieceFirst)) {
            if (!reachesLast && (attribute & 16))
                entered += AddPiece(start, end, kPieceMiddle, ref, cost, word,
                                    int16_t(first->length + 1)) != nullptr;
            else if (reachesLast && (attribute & 8))
                entered += AddPiece(start, end, kPieceFinal, ref, cost, word,
                                    int16_t(first->length + 1)) != nullptr;
            else if ((attribute & 7) == 4)
                entered += AddPiece(start, end, kPieceFinalOfThree, ref, cost, word,
                                    int16_t(first->length + 2)) != nullptr;
        }
        if (const t_piece* middle = FirstOfKind(start, kPieceMiddle)) {
            if (reachesLast && (attribute & 32))
                entered += AddPiece(start, end, kPieceFinalAfterMiddle, ref, cost, word,
                                    int16_t(middle->length + 1)) != nullptr;
        }
    } else if ((attribute & 7) == 2) {
        entered += AddPiece(0, end, kPieceFirst, ref, cost, word, 1) != nullptr;
    }
    return entered;
}

int PieceLattice::AddLastReading(int start, int end, uint32_t attribute, uint8_t cost,
                                 const void* word, int32_t ref) {
    if (start < 0 || end > m_count || end <= start) return 0;
    if (start == 0)
        return (attribute & 16) ? AddPiece(0, end, kPieceMiddle, ref, cost, word, 1) != nullptr : 0;
    if (end != m_last || !(attribute & 32)) return 0;
    for (const t_piece* x = At(start); x; x = x->next) {
        if (x->kind == kPieceMiddle && x->start == 0)
            return AddPiece(start, end, kPieceFinalAfterMiddle, ref, cost, word,
                            int16_t(x->length + 1)) != nullptr;
    }
    return 0;
}

// The pieces at the last position must all be final pieces of the
// expected lengths that start after 0.
bool PieceLattice::LastPieces(const t_piece** p8, const t_piece** p4, const t_piece** p32) const {
    *p8 = *p4 = *p32 = nullptr;
    if (m_last > m_count) return false;
    for (const t_piece* x = At(m_last); x; x = x->next) {
        if (x->start <= 0) return false;
        if (x->kind == kPieceFinal && x->length == 2)
            *p8 = x;
        else if (x->kind == kPieceFinalOfThree && x->length == 3)
            *p4 = x;
        else if (x->kind == kPieceFinalAfterMiddle && x->length == 3)
            *p32 = x;
        else
            return false;
    }
    return true;
}

int PieceLattice::BestChain(t_pieceChain* out) const {
    const t_piece *p8, *p4, *p32;
    if (!out || !LastPieces(&p8, &p4, &p32)) return 0;
    // The cheapest whole chain of the preferred shape (not the chain of the
    // cheapest final piece, which can cost more).
    const uint8_t shape = p8 ? kPieceFinal : p4 ? kPieceFinalOfThree : kPieceFinalAfterMiddle;
    bool found = false;
    for (const t_piece* last = At(m_last); last; last = last->next) {
        if (last->kind != shape) continue;
        for (const t_piece* before = At(last->start); before; before = before->next) {
            if (shape != kPieceFinalAfterMiddle) {
                if (before->kind == kPieceFirst)
                    KeepCheaper(out, &found, MakeChain(before, nullptr, last));
                continue;
            }
            if (before->kind != kPieceMiddle || before->length != 2) continue;
            for (const t_piece* first = At(before->start); first; first = first->next)
                if (first->kind == kPieceFirst)
                    KeepCheaper(out, &found, MakeChain(first, before, last));
        }
    }
    return found ? 1 : 0;
}

int PieceLattice::BestChainOfThirtyTwo(t_pieceChain* out) const {
    if (!out || m_parts != 2 || m_last > m_count || !At(m_last)) return 0;
    bool found = false;
    for (const t_piece* last = At(m_last); last; last = last->next) {
        if (last->kind != kPieceFinalAfterMiddle || last->start <= 0 || last->length != 2) return 0;
        for (const t_piece* first = At(last->start); first; first = first->next) {
            if (first->kind != kPieceMiddle || first->start != 0 || first->length != 1) return 0;
            KeepCheaper(out, &found, MakeChain(first, nullptr, last));
        }
    }
    return found ? 1 : 0;
}

int PieceLattice::BestChainsFromSixteen(t_pieceChain* out, int* count) const {
    if (count) *count = 0;
    if (!out || !count || m_parts != 2 || m_last > m_count) return 0;
    t_pieceChain all[kMaxElements];
    int n = 0, finals = 0;
    for (const t_piece* last = At(m_last); last && finals < kBestChains; last = last->next) {
        if (last->kind != kPieceFinalAfterMiddle) continue;
        ++finals;
        for (const t_piece* first = At(last->start); first && n < kMaxElements; first = first->next)
            if (first->kind == kPieceMiddle && first->start == 0)
                all[n++] = MakeChain(first, nullptr, last);
    }
    const int kept = SelectBest(all, n, ChainByCost);
    std::stable_sort(all, all + kept,
                     [](const t_pieceChain& a, const t_pieceChain& b) { return a.cost < b.cost; });
    std::copy(all, all + kept, out);
    *count = kept;
    return 1;
}

int PieceLattice::BestChains(t_pieceChain* out, int* count) {
    if (count) *count = 0;
    if (!out || !count) return 0;
    t_pieceChain all[kMaxElements];
    int n = 0;
    if (m_last <= m_count) {
        int finals = 0;
        for (t_piece* last = m_heads[m_last]; last; last = last->next) {
            const bool two = last->kind == kPieceFinal;
            const bool twoOfThree = m_parts == 3 && last->kind == kPieceFinalOfThree;
            const bool three = m_parts == 3 && last->kind == kPieceFinalAfterMiddle;
            if (!two && !twoOfThree && !(three && finals < kBestChains)) continue;
            if (three) ++finals;
            int middles = 0;
            for (t_piece* before = m_heads[last->start]; before && n < kMaxElements;
                 before = before->next) {
                if (!three) {
                    if (before->kind != kPieceFirst) continue;
                    all[n++] = MakeChain(before, nullptr, last);
                    before->used = last->used = 1;
                    continue;
                }
                if (before->kind != kPieceMiddle || before->start <= 0 || middles >= kBestChains)
                    continue;
                ++middles;
                for (t_piece* first = m_heads[before->start]; first && n < kMaxElements;
                     first = first->next) {
                    if (first->kind != kPieceFirst) continue;
                    all[n++] = MakeChain(first, before, last);
                    first->used = before->used = last->used = 1;
                }
            }
        }
    }
    const int kept = SelectBest(all, n, ChainByCost);
    std::stable_sort(all, all + kept, [](const t_pieceChain& a, const t_pieceChain& b) {
        return ChainByKindCountThenCost(&a, &b) < 0;
    });

    // Number the used pieces of the first positions by reference value.
    t_piece* numbered[kMaxNumbered];
    int m = 0;
    for (int p = 0; p < std::min(kNumberedPositions, m_count + 1); ++p) {
        for (t_piece* x = m_heads[p]; x && m < kMaxNumbered; x = x->next) {
            if (!x->used) continue;
            bool same = false;
            for (int i = 0; i < m && !same; ++i) same = numbered[i]->ref == x->ref;
            if (!same) numbered[m++] = x;
        }
    }
    // Larger reference values first, ties in list order.
    std::stable_sort(numbered, numbered + m,
                     [](const t_piece* a, const t_piece* b) { return a->ref > b->ref; });
    for (int i = 0; i < m; ++i) numbered[i]->number = uint8_t(std::min(i + 1, kBestChains));

    for (int i = 0; i < kept; ++i) {
        t_pieceChain& c = all[i];
        c.key = c.pieces[0]->number * 1000;
        for (uint32_t j = 1; j < c.kindCount; ++j) c.key += c.pieces[j]->number;
        out[i] = c;
    }
    *count = kept;
    return 1;
}
