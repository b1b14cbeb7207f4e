// PieceLattice: the small lattice of name pieces (one-, two- and
// three-syllable readings) over at most 20 positions, the search for the
// cheapest chain of two or three pieces that spans the input, and the
// selection of the best 30 chains. One conversion on one thread; pieces
// live in the bound arena.
#pragma once

#include <cstdint>

class t_scopeHeap;

// Kinds of piece; a chain is read backwards from the last position.
enum : uint8_t {
    kPieceFirst = 2,         // from position 0, length 1
    kPieceFinalOfThree = 4,  // final piece after a first one, for readings of low attribute bits 4
    kPieceFinal = 8,         // final piece after a first one
    kPieceMiddle = 16,  // after a first piece, short of the end; or a first piece of a last reading
    kPieceFinalAfterMiddle = 32,
};

struct t_piece {
    const void* word;  // the caller's word reference
    int32_t start;     // where the previous piece ends; 0 for a first piece
    int32_t end;
    uint8_t kind;
    uint8_t cost;
    int32_t ref;     // the caller's reference value (tells words apart)
    t_piece* next;   // next piece ending at the same position
    int16_t length;  // pieces up to and including this one (a kind-4 piece counts a missing middle)
    uint8_t used;    // taken into an enumerated chain
    uint8_t number;  // rank by reference value among the used pieces, 1..30
};

// A chain of two or three pieces, first piece first.
struct t_pieceChain {
    uint32_t kindCount;  // pieces in the chain
    int32_t start;       // start of the final piece
    t_piece* pieces[3];
    int32_t cost;  // 3 x cost + 500 for every piece
    int32_t key;   // number of the first piece x 1000 + the numbers of the others
};

// Orders for SelectBest: negative when a comes first.
typedef int (*t_chainOrder)(const t_pieceChain* a, const t_pieceChain* b);
int ChainByCost(const t_pieceChain* a, const t_pieceChain* b);
int ChainByKindCountThenCost(const t_pieceChain* a, const t_pieceChain* b);

// Moves the kBestChains elements that come first by the order to the front
// (in no particular order) and returns how many that is; with n at most
// kBestChains nothing moves.
int SelectBest(t_pieceChain* elements, int n, t_chainOrder order);

class PieceLattice {
public:
    static constexpr int kMaxPositions = 20;
    static constexpr int kBestChains = 30;
    static constexpr int kMaxElements = 1000;
    static constexpr int kMaxNumbered = 60;
    static constexpr int kNumberedPositions = 12;

    void Bind(t_scopeHeap* arena);
    // Clears the lists for an input of count positions. At most 20 are
    // kept: the last position stays count, so no piece of a longer input
    // reaches it. parts is 2 or 3 (anything else counts as 2).
    void Reset(int count, int parts = 2);

    // Appends a piece to the list of its end position; null when a position
    // lies outside 0..20, end is not after start, or the arena fails.
    t_piece* AddPiece(int start, int end, uint8_t kind, int32_t ref, uint8_t cost, const void* word,
                      int16_t length);
    // Enters a reading by the kinds of pieces that end where it starts
    // (see the kind table); nothing when end lies beyond the kept positions.
    // Returns the number of pieces entered.
    int AddReading(int start, int end, uint32_t attribute, uint8_t cost, const void* word,
                   int32_t ref = 0);
    // A reading of the last pass: a first piece from 0 with attribute bit
    // 16, or a final piece after such a piece with attribute bit 32.
    int AddLastReading(int start, int end, uint32_t attribute, uint8_t cost, const void* word,
                       int32_t ref = 0);

    // The cheapest chain: of kind-8 chains when any exists, else of kind-4,
    // else of kind-32 (three pieces). 0 when a piece at the last position
    // has another kind, length or start 0, or no chain exists.
    int BestChain(t_pieceChain* out) const;
    // Two-part mode: the cheapest chain of a first kind-16 piece of length 1
    // and a kind-32 piece of length 2. 0 when any piece at the last position,
    // or at the chosen start, is of another shape.
    int BestChainOfThirtyTwo(t_pieceChain* out) const;
    // Up to 30 chains, best first (more pieces first, then cheaper), each
    // with its key. *count receives the number written; always 1.
    int BestChains(t_pieceChain* out, int* count);
    // Two-part mode: the best of the chains of a kind-16 first piece and a
    // kind-32 final piece, cheapest first (at most 30 final pieces).
    int BestChainsFromSixteen(t_pieceChain* out, int* count) const;

    int32_t GetCount() const { return m_count; }
    int32_t GetLast() const { return m_last; }
    int32_t GetPieceCount() const { return m_pieces; }
    int32_t GetLongest() const { return m_longest; }
    const t_piece* At(int p) const { return p >= 0 && p <= m_count ? m_heads[p] : nullptr; }
    // Pieces of a kind entered at a position (kinds 2, 8, 4, 16, 32).
    int KindCountAt(int p, uint8_t kind) const;

private:
    static int KindSlot(uint8_t kind);
    const t_piece* FirstOfKind(int p, uint8_t kind) const;
    const t_piece* CheapestOfKind(int p, uint8_t kind, int length) const;
    bool LastPieces(const t_piece** p8, const t_piece** p4, const t_piece** p32) const;

    t_scopeHeap* m_arena = nullptr;
    int32_t m_count = 0;
    int32_t m_last = 0;
    int32_t m_parts = 2;
    uint8_t m_totals[5] = {};
    t_piece* m_heads[kMaxPositions + 1] = {};
    t_piece* m_tails[kMaxPositions + 1] = {};
    uint8_t m_kinds[kMaxPositions + 1][5] = {};
    int32_t m_pieces = 0;
    int32_t m_longest = 0;
};
