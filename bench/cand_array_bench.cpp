// The candidate array on a keystroke's load: 5,000 records shaped like one
// conversion's offers (mostly scored system words of one to four
// characters, some user, cell, composed and privilege words, a cloud word,
// a few pinned records, one text in twelve offered again) into an array of
// 2,600 places, then the page layout. Reports the time per offer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/scope_heap.h"

namespace {

constexpr int kOffers = 5000;
constexpr uint32_t kPlaces = 2600;

struct t_offers {
    t_scopeHeap heap;
    std::vector<t_candWord> pristine;  // copied back before each round: merges change records
    std::vector<t_candWord> live;
};

t_offers& Offers() {
    static t_offers o;
    if (!o.pristine.empty()) return o;
    std::mt19937 rng(20261207);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<const t_lstr*> texts;
    o.pristine.resize(kOffers);
    for (int i = 0; i < kOffers; ++i) {
        t_candWord& w = o.pristine[size_t(i)];
        t_candWord::Clear(&w);
        if (!texts.empty() && rng() % 12 == 0) {
            w.text = texts[rng() % texts.size()];  // the same word by another reading or source
        } else {
            const uint32_t r = rng() % 10;
            const size_t n = r < 4 ? 1 : r < 8 ? 2 : 3 + rng() % 2;
            uint16_t units[4];
            for (size_t k = 0; k < n; ++k) units[k] = uint16_t(0x4E00 + rng() % 6000);
            w.text = o.heap.MakeLstr(units, 2 * n);
            texts.push_back(w.text);
        }
        w.multiChar = LstrGetLength(w.text) > 1;
        // Scores fall off like path probabilities; powers follow them.
        const double p = unit(rng);
        w.score = p * p * p;
        w.rank = int16_t(2000 * (1.0 - w.score));
        w.coveredLength = 2 + rng() % 10;
        w.frequency = int32_t(rng() % 60000);
        const uint32_t kind = rng() % 100;
        if (kind < 6) {
            w.kind = kCandKindUser;
            w.sourceType = kCandSourceUser;
            w.orderNumber = int32_t(rng() % 5000);
        } else if (kind < 8) {
            w.kind = kCandKindExternal;
            w.sourceType = kCandSourceExternalUser;
        } else if (kind < 10) {
            w.sourceType = kCandSourceCell;
        } else if (kind < 15) {
            w.sourceType = kCandSourceComposed;
        } else if (kind < 16) {
            w.sourceType = kCandSourcePrivilege;
            w.privilegeOrder = int32_t(rng() % 100);
        }
        w.arcClass = rng() % 20 == 0 ? 1 : 0;
    }
    // A cloud word, and pinned records (custom phrases, a fixed-first word).
    o.pristine[100].sourceType = kCandSourceCloud;
    for (int i : {7, 300, 1200, 4000}) {
        t_candWord& w = o.pristine[size_t(i)];
        w.kind = kCandKindPinned;
        w.sourceType = kCandSourceCustomPhrase;
        w.wantedPlace = 1 + i % 5;
        w.score = 1.0;
    }
    o.live = o.pristine;
    return o;
}

void OfferAll(benchmark::State& state, uint32_t quota) {
    t_offers& o = Offers();
    std::vector<t_candWord*> page(kPlaces);
    int64_t added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(static_cast<void*>(o.live.data()), o.pristine.data(),
                    sizeof(t_candWord) * o.live.size());
        t_scopeHeap heap;
        state.ResumeTiming();
        t_arrayWord array(page.data(), 0, kPlaces, quota, nullptr, &heap);
        for (t_candWord& w : o.live) {
            const int r =
                w.kind == kCandKindPinned ? array.AddChecked(&w, nullptr) : array.Add(&w, nullptr);
            added += r == kArrayAdded;
        }
        benchmark::DoNotOptimize(array.Arrange());
    }
    state.counters["offer"] =
        benchmark::Counter(double(kOffers) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["added"] = double(added) / double(state.iterations());
}

void BM_ArrayOffers(benchmark::State& state) {
    OfferAll(state, 0);
}
// With the multi-character quota of the settings (10 by default).
void BM_ArrayOffersWithQuota(benchmark::State& state) {
    OfferAll(state, 10);
}

BENCHMARK(BM_ArrayOffers)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArrayOffersWithQuota)->Unit(benchmark::kMicrosecond);

}  // namespace
