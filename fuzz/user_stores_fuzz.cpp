// Fuzzes the small user stores' images: custom phrases, deleted words,
// fixed-first words, cloud answers, contact names, the extension
// dictionary, the English words and web addresses the user typed, and the
// spelling model. Each image is attached in place as the dictionary manager
// hands it over (a writable block of exactly its size), looked up, given
// one learned record and saved into the work directory. A save that
// reports success must leave a file that attaches again and answers for
// the learned record as the store did before the save (a damaged image
// may hide a record in a bucket out of order; the save must not lose one).
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/image_fuzz.h"
#include "kernel/lexicon/spell_model.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/contacts.h"
#include "kernel/userdict/deleted_words.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/fixed_words.h"
#include "kernel/userdict/phrase_dict.h"

namespace {

enum : int {
    kPhrases,
    kDeleted,
    kFixed,
    kCloud,
    kContacts,
    kExtension,
    kEnglish,
    kWeb,
    kSpelling,
    kStores
};

// A length-prefixed string in its own buffer.
struct t_text {
    std::vector<uint8_t> bytes{0, 0};
    t_text() = default;
    explicit t_text(const char* ascii) {
        for (; *ascii; ++ascii) Push(uint8_t(*ascii));
    }
    void Push(uint16_t u) {
        bytes.push_back(uint8_t(u));
        bytes.push_back(uint8_t(u >> 8));
        LstrSetByteLength(Get(), uint16_t(bytes.size() - 2));
    }
    t_lstr* Get() { return reinterpret_cast<t_lstr*>(bytes.data()); }
};

t_text Letters(t_fuzzPicker& pick, uint32_t most) {
    t_text t;
    for (uint32_t n = 1 + pick.Next(most); n > 0; --n) t.Push(uint16_t('a' + pick.Next(26)));
    return t;
}
t_text Ids(t_fuzzPicker& pick, uint32_t most) {
    t_text t;
    for (uint32_t n = 1 + pick.Next(most); n > 0; --n) t.Push(uint16_t(pick.Next(413)));
    return t;
}

// Records added before the learned one: now and then enough to fill the
// small seeds, so that growth and trimming run on the damaged images too.
uint32_t Fillers(t_fuzzPicker& pick) {
    return pick.Next(4) == 0 ? pick.Next(40) : 0;
}

t_fuzzBytes StoreBytes(const t_userStoreBase& store) {
    const t_editableTableFile& s = store.Store();
    if (!s.IsAttached() || s.GetTotalSize() <= 0) return {};
    return t_fuzzBytes(s.GetImage(), s.GetImage() + s.GetTotalSize());
}

void Push(std::vector<t_fuzzBase>& out, int store, const char* name, const t_fuzzBytes& bytes) {
    if (!bytes.empty()) out.push_back({store, name, bytes});
}

void MakeImages(std::vector<t_fuzzBase>& out) {
    t_fuzzBytes image;
    {
        t_abbrUsrDict d;
        if (t_abbrUsrDict::BuildImageWithRoom(image, 16, 256, 1024) &&
            d.AttachCopy(image.data(), image.size())) {
            t_text k1("dz"), k2("yx"), p1("Dalian Road 1"), p2("name@example.org");
            d.AddItem(k1.Get(), p1.Get(), 1, kPhraseAdded);
            d.AddItem(k2.Get(), p2.Get(), 2, kPhrasePlain);
            d.MarkDeleted(k1.Get(), p1.Get(), 1);
            Push(out, kPhrases, "phrases", StoreBytes(d));
        }
    }
    {
        t_delWordDict d;
        if (t_delWordDict::BuildImage(image, 16) && d.AttachCopy(image.data(), image.size())) {
            t_text w1("deleted"), w2("restored");
            d.AddWord(w1.Get(), 1234);
            d.AddWord(w2.Get(), 99);
            d.ClearWord(w2.Get());
            Push(out, kDeleted, "deleted", StoreBytes(d));
        }
    }
    {
        t_fixFirstDict d;
        if (t_fixFirstDict::BuildImage(image, 16) && d.AttachCopy(image.data(), image.size())) {
            t_text key("nh"), w1("first"), w2("second"), s("s"), t("t");
            d.SetFixedWord(key.Get(), w1.Get(), s.Get(), t.Get());
            d.SetFixedWord(key.Get(), w2.Get(), s.Get(), t.Get());
            Push(out, kFixed, "fixed-first", StoreBytes(d));
        }
    }
    {
        t_cloudCacheDict d;
        if (t_cloudCacheDict::BuildImage(image, 16, 512) &&
            d.AttachCopy(image.data(), image.size())) {
            t_text key, text("answer"), second("2"), third("3");
            key.Push(100);
            key.Push(200);
            d.AddEntry(key.Get(), text.Get(), 3, 1, second.Get(), third.Get());
            Push(out, kCloud, "cloud", StoreBytes(d));
        }
    }
    {
        t_contactsDict d;
        if (t_contactsDict::BuildImage(image, 16, 512) &&
            d.AttachCopy(image.data(), image.size())) {
            t_text key, w1("Li Lei"), w2("Han Meimei");
            key.Push(5);
            key.Push(6);
            d.AddItem(key.Get(), w1.Get(), 10);
            d.AddItem(key.Get(), w2.Get(), 20);
            d.DisableItem(key.Get(), w2.Get());
            Push(out, kContacts, "contacts", StoreBytes(d));
        }
    }
    {
        t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
        t_usrWordRecords records;
        t_text r1, w1, r2, w2;
        r1.Push(100);
        r1.Push(200);
        w1.Push(0x4E2D);
        w1.Push(0x56FD);
        r2.Push(5);
        w2.Push(0x4F60);
        for (auto [r, w] : {std::pair{&r1, &w1}, std::pair{&r2, &w2}}) {
            t_usrWordFields f;
            f.reading = r->Get();
            f.word = w->Get();
            f.freq = 3;
            f.flags = 0x40;
            f.stamp = 2;
            if (const UsrWordRecord* rec = MakeUsrWordRecord(arena, f)) records.push_back(rec);
        }
        t_fuzzBytes ext;
        const std::wstring path = FuzzWidePath("ext.bin");
        if (WriteExtImage(path.c_str(), records) && n_fuzzImage::ReadAll(FuzzPath("ext.bin"), ext))
            Push(out, kExtension, "extension", ext);
    }
    for (int store : {kEnglish, kWeb}) {
        const std::wstring path = FuzzWidePath("strings.bin");
        t_fuzzBytes bytes;
        if (!t_strUsrDict::BuildImageToFile(path.c_str(), 16) ||
            !n_fuzzImage::ReadAll(FuzzPath("strings.bin"), bytes))
            continue;
        t_engUsrDict d;
        if (!d.Load(bytes.data(), int32_t(bytes.size()))) continue;
        t_text w1(store == kEnglish ? "hello" : "www.example.org"),
            w2(store == kEnglish ? "I" : "a.cn");
        d.AddWord(w1.Get(), 1000);
        d.AddWord(w2.Get(), 2000);
        if (d.SaveToFile(path.c_str()) && n_fuzzImage::ReadAll(FuzzPath("strings.bin"), bytes))
            Push(out, store, store == kEnglish ? "english" : "web", bytes);
    }
    {
        t_fuzzBytes model(static_cast<size_t>(t_userSpellModelDict::GetImageSize()));
        t_userSpellModelDict::MakeDefaultImage(model.data());
        t_userSpellModelDict d;
        if (d.Load(model.data(), int32_t(model.size()))) {
            d.AddInsDelSub('a', 'b', 'c');
            d.AddXpos('a', 'b', '~');
        }
        Push(out, kSpelling, "spelling", model);
    }
    FuzzClearWorkDir();
}

const t_fuzzTarget& Target() {
    // The system data holds no user store (its qzim_phrases.bin is the
    // system phrase table, read by the table target).
    static const t_fuzzTarget target = {kStores, &MakeImages, {}};
    return target;
}

// Saves with save(path); when that worked, hands the file's bytes to reload.
template <class Save, class Reload>
void SaveAndReload(Save save, Reload reload) {
    const std::wstring path = FuzzWidePath("store.bin");
    if (!save(path.c_str())) return;
    t_fuzzBytes again;
    FUZZ_CHECK(n_fuzzImage::ReadAll(FuzzPath("store.bin"), again));
    reload(again);
}

bool HasPhrase(const t_abbrUsrDict& d, t_scopeHeap& arena, const t_lstr* key,
               const t_lstr* phrase) {
    t_phraseHit** hits = nullptr;
    int n = 0;
    if (!d.Lookup(arena, key, &hits, &n)) return false;
    for (int i = 0; i < n; ++i)
        if (LstrCompare(hits[i]->phrase, phrase) == 0) return true;
    return false;
}

void RunPhrases(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_abbrUsrDict d;
    if (!d.Load(image, size)) return;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_phraseRecord** all = nullptr;
    t_phraseItem** visible = nullptr;
    int count = 0;
    d.GetVisibleItems(arena, &visible, &count);
    if (d.GetAllItems(arena, &all, &count) && count > 0) {
        const t_phraseRecord* r = all[pick.Next(uint32_t(count))];
        t_phraseHit** hits = nullptr;
        int n = 0;
        d.Lookup(arena, r->key, &hits, &n);
        d.MarkDeleted(r->key, r->phrase, r->position);
    }
    t_text key = Letters(pick, 6), phrase = Letters(pick, 12);
    for (uint32_t i = Fillers(pick); i > 0; --i)
        d.AddItem(Letters(pick, 3).Get(), Letters(pick, 8).Get(), int16_t(pick.Next(9)),
                  uint8_t(pick.Next(4)));
    d.AddItem(key.Get(), phrase.Get(), int16_t(1 + pick.Next(9)), kPhraseAdded);
    const bool before = HasPhrase(d, arena, key.Get(), phrase.Get());
    SaveAndReload([&](const wchar_t* p) { return d.SaveToFile(p) != 0; },
                  [&](t_fuzzBytes& again) {
                      t_abbrUsrDict r;
                      FUZZ_CHECK(r.Load(again.data(), int32_t(again.size())));
                      FUZZ_CHECK(!before || HasPhrase(r, arena, key.Get(), phrase.Get()));
                  });
}

void RunDeleted(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_delWordDict d;
    if (!d.Load(image, size)) return;
    t_text word = Letters(pick, 8), other = Letters(pick, 8);
    d.IsDeleted(word.Get());
    d.ClearWord(other.Get());
    for (uint32_t i = Fillers(pick); i > 0; --i) d.AddWord(Letters(pick, 8).Get(), pick.Next(1000));
    d.AddWord(word.Get(), 1 + pick.Next(1000));
    const bool before = d.IsDeleted(word.Get());
    SaveAndReload([&](const wchar_t* p) { return d.SaveToFile(p) != 0; },
                  [&](t_fuzzBytes& again) {
                      t_delWordDict r;
                      FUZZ_CHECK(r.Load(again.data(), int32_t(again.size())));
                      FUZZ_CHECK(!before || r.IsDeleted(word.Get()));
                  });
}

bool HasFixed(const t_fixFirstDict& d, t_scopeHeap& arena, const t_lstr* key) {
    t_fixedWord w{};
    return d.GetFixedWord(arena, key, &w) && w.word;
}

void RunFixed(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_fixFirstDict d;
    if (!d.Load(image, size)) return;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_fixedRecord** all = nullptr;
    int count = 0;
    if (d.GetAllItems(arena, &all, &count) && count > 0) {
        const t_fixedRecord* r = all[pick.Next(uint32_t(count))];
        t_fixedWord w;
        d.GetFixedWord(arena, r->key, &w);
        d.RemoveItem(r->key, r->word);
    }
    t_text key = Letters(pick, 6), word = Letters(pick, 6), second("2"), third("3");
    for (uint32_t i = Fillers(pick); i > 0; --i)
        d.SetFixedWord(Letters(pick, 3).Get(), Letters(pick, 6).Get(), second.Get(), third.Get());
    d.SetFixedWord(key.Get(), word.Get(), second.Get(), third.Get());
    const bool before = HasFixed(d, arena, key.Get());
    SaveAndReload([&](const wchar_t* p) { return d.SaveToFile(p) != 0; },
                  [&](t_fuzzBytes& again) {
                      t_fixFirstDict r;
                      FUZZ_CHECK(r.Load(again.data(), int32_t(again.size())));
                      FUZZ_CHECK(!before || HasFixed(r, arena, key.Get()));
                  });
}

// The cloud answers are never saved: lookups and changes only.
void RunCloud(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_cloudCacheDict d;
    if (!d.Load(image, size)) return;
    t_text key = Ids(pick, 4), text = Letters(pick, 6), second("2"), third("3");
    int extends = 0, count = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const int32_t handle = d.Find(key.Get(), &extends, &count);
        uint32_t texts[8], hits[8], seconds[8], thirds[8];
        uint8_t flags[8];
        const int n = d.GetEntries(handle, 8, texts, hits, flags, seconds, thirds);
        for (int i = 0; i < n; ++i) {
            const t_lstr* s2 = nullptr;
            const t_lstr* s3 = nullptr;
            d.GetStrings(texts[i], seconds[i], thirds[i], &s2, &s3);
        }
        if (pass > 0) continue;
        for (uint32_t i = Fillers(pick); i > 0; --i)
            d.AddEntry(Ids(pick, 3).Get(), Letters(pick, 6).Get(), pick.Next(9), 0, second.Get(),
                       third.Get());
        d.AddEntry(key.Get(), text.Get(), pick.Next(9), uint8_t(pick.Next(4)), second.Get(),
                   third.Get());
    }
    d.IncreaseHit(key.Get(), text.Get());
    d.ResetEntry(key.Get(), text.Get());
}

void RunContacts(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_contactsDict d;
    if (!d.Load(image, size)) return;
    t_text key = Ids(pick, 3), word = Letters(pick, 6);
    int extends = 0, count = 0;
    const int32_t handle = d.Find(key.Get(), &extends);
    uint32_t words[8];
    int32_t weights[8];
    const int n = d.GetEntries(handle, words, weights, 8);
    for (int i = 0; i < n; ++i) d.GetWord(words[i]);
    int32_t handles[4];
    const t_lstr* keys[4];
    d.FindExtending(key.Get(), handles, keys, 4, &count);
    for (uint32_t i = Fillers(pick); i > 0; --i)
        d.AddItem(Ids(pick, 3).Get(), Letters(pick, 6).Get(), int32_t(pick.Next(100)) - 10);
    d.AddItem(key.Get(), word.Get(), int32_t(1 + pick.Next(100)));
    if (pick.Next(4) == 0) d.DisableAll();
    const bool before = d.Find(key.Get(), &extends) >= 0;
    SaveAndReload([&](const wchar_t* p) { return d.SaveToFile(p) != 0; },
                  [&](t_fuzzBytes& again) {
                      t_contactsDict r;
                      FUZZ_CHECK(r.Load(again.data(), int32_t(again.size())));
                      FUZZ_CHECK(!before || r.Find(key.Get(), &extends) >= 0);
                  });
}

void RunExtension(uint8_t* image, int32_t size, const t_fuzzBytes& original, t_fuzzPicker& pick) {
    t_usrDictExtCore d;
    if (!d.Load(image, size)) return;
    int32_t words = 0;
    d.GetCount(&words);
    t_text reading = Ids(pick, 3);
    int longer = 0, count = 0;
    const int32_t group = d.Find(reading.Get(), &longer);
    uint32_t ids[8], stamps[8];
    uint16_t flags[8], freqs[8];
    const int n = d.GetEntries(group, ids, flags, freqs, stamps, 8);
    uint8_t text[2 + 260];
    for (int i = 0; i < n; ++i) d.GetString(ids[i], reinterpret_cast<t_lstr*>(text), sizeof text);
    int32_t groups[4];
    const t_lstr* keys[4];
    d.FindAll(reading.Get(), groups, keys, 4, &count);
    // A new word merges into the file, which reads the (damaged) file again.
    const std::wstring path = FuzzWidePath("store.bin");
    FuzzWriteFile(FuzzPath("store.bin"), original.data(), original.size());
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_text word;
    for (uint32_t i = LstrGetLength(reading.Get()); i > 0; --i)
        word.Push(uint16_t(0x4E00 + pick.Next(0x5000)));
    t_usrWordFields f;
    f.reading = reading.Get();
    f.word = word.Get();
    f.freq = uint16_t(1 + pick.Next(9));
    f.flags = 0x40;
    f.stamp = 2;
    const UsrWordRecord* rec = MakeUsrWordRecord(arena, f);
    if (!rec || !MergeUsrDictExtFile(path.c_str(), {rec})) return;
    // The merge rebuilds the file, so the new word is where it belongs.
    t_fuzzBytes again;
    FUZZ_CHECK(n_fuzzImage::ReadAll(FuzzPath("store.bin"), again));
    t_usrDictExtCore r;
    FUZZ_CHECK(r.Load(again.data(), int32_t(again.size())));
    uint32_t id = 0;
    FUZZ_CHECK(r.FindWordId(reading.Get(), word.Get(), &id));
}

// The English words and the web addresses share their store and code; the
// web variant merges its string in instead of counting a use.
void RunStrings(int store, uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_engUsrDict d;
    if (!d.Load(image, size)) return;
    t_scopeHeap heap(t_scopeHeap::kDefaultBlockSize);
    t_text word = Letters(pick, 10);
    t_strResult** results = nullptr;
    uint32_t full = 0;
    int32_t total = 0;
    d.Search(heap, word.Get(), int(pick.Next(3)), &results, &full, &total);
    d.GetPrefixWords(heap, word.Get(), &results, &total);
    t_strUsrEntry** all = nullptr;
    uint32_t count = 0;
    if (d.ListAll(heap, &all, &count) && count > 0) d.DeleteWord(all[pick.Next(count)]->stored);
    for (uint32_t i = Fillers(pick); i > 0; --i)
        d.AddWord(Letters(pick, 10).Get(), pick.Next(100000));
    if (store == kEnglish)
        d.AddWord(word.Get(), 1000 + pick.Next(100000));
    else
        d.MergeWord(word.Get(), 1000 + pick.Next(100000), 1 + pick.Next(9));
    uint32_t freq = 0;
    const bool before = d.GetWordFreq(word.Get(), &freq);
    SaveAndReload([&](const wchar_t* p) { return d.SaveToFile(p); },
                  [&](t_fuzzBytes& again) {
                      t_engUsrDict r;
                      FUZZ_CHECK(r.Load(again.data(), int32_t(again.size())));
                      FUZZ_CHECK(!before || r.GetWordFreq(word.Get(), &freq));
                  });
}

// The manager writes the model's block itself: lookups and counts only.
void RunSpelling(uint8_t* image, int32_t size, t_fuzzPicker& pick) {
    t_userSpellModelDict d;
    if (!d.Load(image, size)) return;
    const uint32_t a = 'a' + pick.Next(27), b = 'a' + pick.Next(27), c = 'a' + pick.Next(27);
    d.GetInsDelSubScore(a, b, c);
    d.GetXposScore(a, b, c);
    d.AddInsDelSub(a, b, c);
    d.AddXpos(a, b, c);
    d.GetTotal();
    d.GetNonZeroCount();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzImageInit(Target());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static t_fuzzImage in;  // keeps its buffer: bases are megabytes
    if (!FuzzDecodeImage(data, size, Target(), in) || in.bytes.empty() ||
        in.bytes.size() > (64u << 20))
        return 0;
    t_fuzzPicker pick(data, size);
    std::unique_ptr<uint8_t[]> block = FuzzHeapImage(in.bytes);
    const int32_t n = int32_t(in.bytes.size());
    switch (in.variant) {
        case kPhrases:
            RunPhrases(block.get(), n, pick);
            break;
        case kDeleted:
            RunDeleted(block.get(), n, pick);
            break;
        case kFixed:
            RunFixed(block.get(), n, pick);
            break;
        case kCloud:
            RunCloud(block.get(), n, pick);
            break;
        case kContacts:
            RunContacts(block.get(), n, pick);
            break;
        case kExtension:
            RunExtension(block.get(), n, in.bytes, pick);
            break;
        case kEnglish:
        case kWeb:
            RunStrings(in.variant, block.get(), n, pick);
            break;
        case kSpelling:
            RunSpelling(block.get(), n, pick);
            break;
    }
    FuzzClearWorkDir();
    return 0;
}
