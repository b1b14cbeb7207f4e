// The name-piece lattice: how readings become pieces, the 20-position
// limit, and the chain searches against a brute-force search over random
// small lattices.
#include "kernel/convert/name_lattice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "kernel/runtime/scope_heap.h"

namespace {

std::vector<uint8_t> KindsAt(const PieceLattice& lattice, int p) {
    std::vector<uint8_t> kinds;
    for (const t_piece* x = lattice.At(p); x; x = x->next) kinds.push_back(x->kind);
    return kinds;
}

TEST(PieceLatticeTest, ReadingsBecomePiecesByWhatEndsBeforeThem) {
    t_scopeHeap heap;
    PieceLattice lattice;
    lattice.Bind(&heap);
    lattice.Reset(4, 3);
    const struct {
        int start, end;
        uint32_t attribute;
        bool last;                   // entered as a reading of the last pass
        std::vector<uint8_t> kinds;  // at end, after the call
    } steps[] = {
        {0, 1, 2, false, {kPieceFirst}},
        {0, 1, 16, false, {kPieceFirst}},   // a plain reading from 0 needs low bits 2
        {1, 2, 16, false, {kPieceMiddle}},  // after a first piece, short of the end
        {1, 4, 8, false, {kPieceFinal}},    // after a first piece, to the end
        {1, 4, 4, false, {kPieceFinal, kPieceFinalOfThree}},
        {2, 4, 32, false, {kPieceFinal, kPieceFinalOfThree, kPieceFinalAfterMiddle}},
        {3,
         4,
         8,
         false,
         {kPieceFinal, kPieceFinalOfThree, kPieceFinalAfterMiddle}},  // nothing ends at 3
        {0, 2, 16, true, {kPieceMiddle, kPieceMiddle}},
        {2,
         4,
         32,
         true,
         {kPieceFinal, kPieceFinalOfThree, kPieceFinalAfterMiddle, kPieceFinalAfterMiddle}},
        {1, 5, 8, false, {}},  // beyond the positions
    };
    for (const auto& s : steps) {
        if (s.last)
            lattice.AddLastReading(s.start, s.end, s.attribute, 1, nullptr);
        else
            lattice.AddReading(s.start, s.end, s.attribute, 1, nullptr);
        EXPECT_EQ(KindsAt(lattice, s.end), s.kinds) << s.start << "-" << s.end;
    }
    EXPECT_EQ(lattice.KindCountAt(4, kPieceFinalAfterMiddle), 2);
    EXPECT_EQ(lattice.At(4)->next->length, 3);  // a kind-4 piece counts a missing middle
}

// At most 20 positions are kept, and a piece that ends at 20 does not reach
// the end of a longer input.
TEST(PieceLatticeTest, TwentyPositionsAtMost) {
    t_scopeHeap heap;
    PieceLattice lattice;
    lattice.Bind(&heap);
    t_pieceChain chain;
    for (int count : {20, 25}) {
        lattice.Reset(count);
        EXPECT_EQ(lattice.GetCount(), 20);
        lattice.AddReading(0, 1, 2, 10, nullptr);
        lattice.AddReading(1, 20, 8 | 16, 10, nullptr);
        EXPECT_EQ(lattice.BestChain(&chain), count == 20 ? 1 : 0) << count;
        EXPECT_EQ(KindsAt(lattice, 20),
                  std::vector<uint8_t>{uint8_t(count == 20 ? kPieceFinal : kPieceMiddle)});
        EXPECT_EQ(lattice.AddPiece(0, 21, kPieceFirst, 0, 0, nullptr, 1), nullptr);
    }
    // A piece of an unexpected kind at the end makes the search fail.
    lattice.Reset(3);
    lattice.AddReading(0, 1, 2, 10, nullptr);
    lattice.AddReading(1, 3, 8, 10, nullptr);
    ASSERT_EQ(lattice.BestChain(&chain), 1);
    EXPECT_EQ(chain.cost, 2 * (3 * 10 + 500));
    lattice.AddPiece(1, 3, kPieceMiddle, 0, 0, nullptr, 2);
    EXPECT_EQ(lattice.BestChain(&chain), 0);
}

// ---- random lattices against brute force ----

struct t_randomLattice {
    t_scopeHeap heap;
    PieceLattice lattice;
    std::vector<t_piece*> pieces;
    int n = 0;

    void Make(std::mt19937& rng, int parts) {
        heap.FreeAll();
        pieces.clear();
        lattice.Bind(&heap);
        n = 3 + int(rng() % 5);
        lattice.Reset(n, parts);
        const uint8_t kinds[] = {kPieceFirst, kPieceFinal, kPieceFinalOfThree, kPieceMiddle,
                                 kPieceFinalAfterMiddle};
        const int16_t lengths[] = {1, 2, 3, 2, 3};
        const int count = 4 + int(rng() % 14);
        for (int i = 0; i < count; ++i) {
            const int k = int(rng() % 5);
            int end = 1 + int(rng() % n);
            if (k != 0 && k != 3 && rng() % 4) end = n;  // finals mostly at the end
            const int start = (k == 0 || (k == 3 && rng() % 3 == 0)) ? 0 : int(rng() % end);
            if (start >= end) continue;
            int16_t length = lengths[k];
            if (rng() % 10 == 0) length = int16_t(length % 3 + 1);  // now and then a wrong one
            if (k == 3 && start == 0) length = 1;
            if (t_piece* p = lattice.AddPiece(start, end, kinds[k], int32_t(rng() % 6),
                                              uint8_t(rng() % 256), nullptr, length))
                pieces.push_back(p);
        }
    }
    std::vector<const t_piece*> At(int p, uint8_t kind) const {
        std::vector<const t_piece*> out;
        for (const t_piece* x : pieces)
            if (x->end == p && x->kind == kind) out.push_back(x);
        return out;
    }
    static int32_t Cost(std::initializer_list<const t_piece*> chain) {
        int32_t c = 0;
        for (const t_piece* p : chain) c += 3 * p->cost + 500;
        return c;
    }
};

TEST(PieceLatticeTest, BestChainAgreesWithBruteForce) {
    std::mt19937 rng(19);
    t_randomLattice r;
    for (int round = 0; round < 3000; ++round) {
        r.Make(rng, 2 + int(rng() % 2));
        bool valid = true;
        bool has[3] = {};
        for (const t_piece* x : r.pieces) {
            if (x->end != r.n) continue;
            const bool ok = x->start > 0 && ((x->kind == kPieceFinal && x->length == 2) ||
                                             (x->kind == kPieceFinalOfThree && x->length == 3) ||
                                             (x->kind == kPieceFinalAfterMiddle && x->length == 3));
            valid = valid && ok;
            has[0] |= x->kind == kPieceFinal;
            has[1] |= x->kind == kPieceFinalOfThree;
            has[2] |= x->kind == kPieceFinalAfterMiddle;
        }
        const uint8_t shape = has[0]   ? kPieceFinal
                              : has[1] ? kPieceFinalOfThree
                                       : kPieceFinalAfterMiddle;
        int32_t best = -1;
        for (const t_piece* last : r.At(r.n, shape)) {
            if (shape != kPieceFinalAfterMiddle) {
                for (const t_piece* first : r.At(last->start, kPieceFirst)) {
                    const int32_t c = t_randomLattice::Cost({first, last});
                    if (best < 0 || c < best) best = c;
                }
                continue;
            }
            for (const t_piece* middle : r.At(last->start, kPieceMiddle)) {
                if (middle->length != 2) continue;
                for (const t_piece* first : r.At(middle->start, kPieceFirst)) {
                    const int32_t c = t_randomLattice::Cost({first, middle, last});
                    if (best < 0 || c < best) best = c;
                }
            }
        }
        t_pieceChain chain;
        const int found = r.lattice.BestChain(&chain);
        ASSERT_EQ(found, valid && best >= 0 ? 1 : 0) << round;
        if (found) {
            ASSERT_EQ(chain.cost, best) << round;
        }
    }
}

TEST(PieceLatticeTest, ChainsOfThirtyTwoAgreeWithBruteForce) {
    std::mt19937 rng(32);
    t_randomLattice r;
    int foundRounds = 0;
    for (int round = 0; round < 3000; ++round) {
        r.Make(rng, 2);
        // Shape the end for this search now and then.
        if (rng() % 2) {
            r.heap.FreeAll();
            r.pieces.clear();
            r.lattice.Bind(&r.heap);
            r.lattice.Reset(r.n);
            for (int i = 0; i < 6; ++i) {
                const int cut = 1 + int(rng() % (r.n - 1));
                if (t_piece* p = r.lattice.AddPiece(0, cut, kPieceMiddle, 0, uint8_t(rng() % 256),
                                                    nullptr, int16_t(rng() % 8 ? 1 : 2)))
                    r.pieces.push_back(p);
                if (t_piece* p = r.lattice.AddPiece(cut, r.n, kPieceFinalAfterMiddle, 0,
                                                    uint8_t(rng() % 256), nullptr,
                                                    int16_t(rng() % 8 ? 2 : 3)))
                    r.pieces.push_back(p);
            }
        }
        bool valid = false;
        int32_t best = -1;
        for (const t_piece* last : r.pieces) {
            if (last->end != r.n) continue;
            valid = true;
            if (last->kind != kPieceFinalAfterMiddle || last->start <= 0 || last->length != 2) {
                valid = false;
                break;
            }
            for (const t_piece* first : r.pieces) {
                if (first->end != last->start) continue;
                if (first->kind != kPieceMiddle || first->start != 0 || first->length != 1) {
                    valid = false;
                    break;
                }
                const int32_t c = t_randomLattice::Cost({first, last});
                if (best < 0 || c < best) best = c;
            }
            if (!valid) break;
        }
        // Every chain of a kind-16 piece from the start and a kind-32 piece,
        // cheapest first.
        std::vector<int32_t> pairs;
        for (const t_piece* last : r.At(r.n, kPieceFinalAfterMiddle))
            for (const t_piece* first : r.At(last->start, kPieceMiddle))
                if (first->start == 0) pairs.push_back(r.Cost({first, last}));
        std::sort(pairs.begin(), pairs.end());
        pairs.resize(std::min<size_t>(pairs.size(), PieceLattice::kBestChains));
        t_pieceChain list[PieceLattice::kBestChains];
        int count = -1;
        ASSERT_EQ(r.lattice.BestChainsFromSixteen(list, &count), 1);
        std::vector<int32_t> listed;
        for (int i = 0; i < count; ++i) listed.push_back(list[i].cost);
        ASSERT_EQ(listed, pairs) << round;

        t_pieceChain chain;
        const int found = r.lattice.BestChainOfThirtyTwo(&chain);
        ASSERT_EQ(found, valid && best >= 0 ? 1 : 0) << round;
        if (found) {
            ASSERT_EQ(chain.cost, best) << round;
            ++foundRounds;
        }
    }
    EXPECT_GT(foundRounds, 100);
}

// The best 30 are the 30 cheapest chains, written with more pieces first and
// then cheapest first.
TEST(PieceLatticeTest, BestChainsAgreeWithBruteForce) {
    std::mt19937 rng(30);
    t_randomLattice r;
    int many = 0;
    for (int round = 0; round < 2000; ++round) {
        const int parts = 2 + int(rng() % 2);
        r.Make(rng, parts);
        if (round % 4 == 0) {  // more two-piece chains than are kept
            for (int i = 0; i < 7; ++i) {
                r.pieces.push_back(r.lattice.AddPiece(0, 1, kPieceFirst, int32_t(i),
                                                      uint8_t(rng() % 256), nullptr, 1));
                r.pieces.push_back(r.lattice.AddPiece(1, r.n, kPieceFinal, int32_t(i),
                                                      uint8_t(rng() % 256), nullptr, 2));
            }
        }
        std::vector<int32_t> costs;
        for (const t_piece* last : r.At(r.n, kPieceFinal))
            for (const t_piece* first : r.At(last->start, kPieceFirst))
                costs.push_back(r.Cost({first, last}));
        if (parts == 3) {
            for (const t_piece* last : r.At(r.n, kPieceFinalOfThree))
                for (const t_piece* first : r.At(last->start, kPieceFirst))
                    costs.push_back(r.Cost({first, last}));
            for (const t_piece* last : r.At(r.n, kPieceFinalAfterMiddle))
                for (const t_piece* middle : r.At(last->start, kPieceMiddle)) {
                    if (middle->start <= 0) continue;
                    for (const t_piece* first : r.At(middle->start, kPieceFirst))
                        costs.push_back(r.Cost({first, middle, last}));
                }
        }
        std::sort(costs.begin(), costs.end());
        costs.resize(std::min<size_t>(costs.size(), PieceLattice::kBestChains));
        many += costs.size() == size_t(PieceLattice::kBestChains);

        t_pieceChain out[PieceLattice::kBestChains];
        int count = -1;
        ASSERT_EQ(r.lattice.BestChains(out, &count), 1);
        ASSERT_EQ(count, int(costs.size())) << round;
        std::vector<int32_t> got;
        for (int i = 0; i < count; ++i) {
            got.push_back(out[i].cost);
            if (i > 0) {
                ASSERT_LE(ChainByKindCountThenCost(&out[i - 1], &out[i]), 0) << round;
            }
            for (uint32_t j = 0; j < out[i].kindCount; ++j) EXPECT_TRUE(out[i].pieces[j]->used);
            EXPECT_GE(out[i].key, 1000);
        }
        std::sort(got.begin(), got.end());
        ASSERT_EQ(got, costs) << round;
    }
    EXPECT_GT(many, 0);  // some rounds had more chains than are kept
}

TEST(PieceLatticeTest, SelectBestMovesTheBestToTheFront) {
    std::mt19937 rng(7);
    for (int n : {0, 5, 30, 31, 64, 1000}) {
        std::vector<t_pieceChain> e(static_cast<size_t>(n));
        for (t_pieceChain& c : e) c = {uint32_t(2 + rng() % 2), 0, {}, int32_t(rng() % 500), 0};
        const std::vector<t_pieceChain> before = e;
        const int kept = SelectBest(e.data(), n, ChainByCost);
        ASSERT_EQ(kept, std::min(n, 30));
        if (n <= 30) {
            for (int i = 0; i < n; ++i)
                EXPECT_EQ(e[i].cost, before[i].cost);  // order as enumerated
            continue;
        }
        std::vector<int32_t> front, all;
        for (int i = 0; i < n; ++i) (i < 30 ? front : all).push_back(e[i].cost);
        const int32_t worstKept = *std::max_element(front.begin(), front.end());
        for (int32_t c : all) EXPECT_GE(c, worstKept);
    }
}

}  // namespace
