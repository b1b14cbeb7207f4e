// Custom-phrase merges and imports.
#include "kernel/userdict/phrase_manager.h"

#include <string>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/singleton.h"

namespace {

// Holds the kernel dictionary lock over an import and keeps the live
// custom-phrase dictionary in step when the import rewrites its file.
class t_liveTarget {
public:
    explicit t_liveTarget(const wchar_t* targetPath) {
        if (GetDictLocker().IsCreated()) m_held = GetDictLocker().Lock();
        if (!t_singleton<t_abbrUsrDict>::Exists()) return;
        t_abbrUsrDict& live = t_singleton<t_abbrUsrDict>::Get();
        wchar_t file[kMaxPathChars + 1];
        if (!live.IsReady() || !live.GetFilePath(file, kMaxPathChars + 1)) return;
        const t_pathName a(file), b(targetPath);
        char ba[kPathBufBytes], bb[kPathBufBytes];
        if (a.Str() == b.Str() ||
            (a.ToBytes(ba, sizeof ba) && b.ToBytes(bb, sizeof bb) && IsSameFile(ba, bb)))
            m_live = &live;
    }
    ~t_liveTarget() {
        if (m_held) GetDictLocker().Unlock();
    }
    t_liveTarget(const t_liveTarget&) = delete;
    t_liveTarget& operator=(const t_liveTarget&) = delete;

    // Writes the live dictionary's changes to the target, so the merge reads
    // them; false when that failed (the import must not go on, or the next
    // save would lose either the changes or the import).
    // A file another process saved since the live dictionary attached it is
    // taken up first (through the manager), so its phrases are not lost.
    bool SaveLive(const wchar_t* targetPath) {
        if (!m_live) return true;
        t_dictEntry* entry = m_live->GetEntry();
        if (entry && entry->manager)
            return entry->manager->SaveEntryWith(
                entry, [&] { return m_live->SaveToFile(targetPath) != 0; });
        return m_live->SaveToFile(targetPath) != 0;
    }
    // The target was replaced: the live dictionary re-attaches it.
    void Replaced() {
        if (m_live) m_live->IncreaseVersion();
    }

private:
    t_abbrUsrDict* m_live = nullptr;
    bool m_held = false;
};

// Hands every record of the image at path, deleted ones included, to fold;
// false when the image cannot be read, loaded or listed, or at the first
// record fold refuses.
template <class Fold>
bool ForEachRecord(const wchar_t* path, Fold fold) {
    t_abbrUsrDict image;
    if (!image.AttachFile(path)) return false;
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    t_phraseRecord** items = nullptr;
    int count = 0;
    if (!image.GetAllItems(arena, &items, &count)) return false;
    for (int i = 0; i < count; ++i)
        if (!fold(*items[i])) return false;
    return true;
}

bool FileExists(const wchar_t* path) {
    return path && path[0] && PathIsFile(t_pathName(path));
}

bool AddEntry(const t_phraseEntry& e, void* context) {
    static_cast<t_phraseImporter*>(context)->AddItem(e.key, e.phrase, e.position, kPhraseAdded);
    return true;
}

// False when the source cannot be read at all.
typedef bool (*t_fillFn)(t_phraseImporter& importer, const void* source);

// The steps both imports share: an empty work image beside the target, the
// new phrases in state 1, the target's records folded in, the work image
// renamed over the target.
int ReplacePhraseSet(t_phraseImporter& importer, const wchar_t* targetPath, t_fillFn fill,
                     const void* source) {
    if (!targetPath || !targetPath[0]) return 0;
    t_liveTarget live(targetPath);
    if (!live.SaveLive(targetPath)) return 0;
    t_tempPath temp(targetPath);
    if (!temp.Append(L".temp") || !temp.IsValid()) return 0;
    if (!t_abbrUsrDict::BuildImageToFile(temp.GetFull()) || !importer.AttachFile(temp.GetFull()))
        return 0;
    // A phrase file that cannot be read must not turn every phrase of the
    // target into a deleted one.
    if (!fill(importer, source)) return 0;
    importer.SetAttached(true);
    if (FileExists(targetPath) && !MergePhraseImage(importer, targetPath, false)) return 0;
    if (!SaveMergedPhrases(importer, temp.GetFull())) return 0;
    const t_pathName target(targetPath);
    if (!PathRename(temp, target)) return 0;
    temp.Forget();
    char bytes[kPathBufBytes];
    if (target.ToBytes(bytes, sizeof bytes)) SyncParentDir(bytes);
    live.Replaced();
    return 1;
}

bool FillFromFile(t_phraseImporter& importer, const void* source) {
    return ReadPhrasesFile(importer.Arena(), static_cast<const wchar_t*>(source), &AddEntry,
                           &importer);
}

struct t_entryList {
    const t_phraseEntry* entries;
    int count;
};

bool FillFromList(t_phraseImporter& importer, const void* source) {
    const auto* list = static_cast<const t_entryList*>(source);
    for (int i = 0; i < list->count; ++i)
        importer.AddItem(list->entries[i].key, list->entries[i].phrase, list->entries[i].position,
                         kPhraseAdded);
    return true;
}

}  // namespace

int ImportPhrasesText(t_phraseImporter& importer, const wchar_t* targetPath,
                      const wchar_t* textPath) {
    if (!textPath) return 0;
    return ReplacePhraseSet(importer, targetPath, &FillFromFile, textPath);
}

int MergePhrasesIntoUsrDict(t_phraseImporter& importer, const wchar_t* targetPath,
                            const t_phraseEntry* entries, int count) {
    if (count < 0 || (count > 0 && !entries)) return 0;
    const t_entryList list{entries, count};
    return ReplacePhraseSet(importer, targetPath, &FillFromList, &list);
}

int MergePhraseImage(t_phraseImporter& importer, const wchar_t* imagePath, bool keepExisting) {
    if (!imagePath) return 0;
    if (!importer.IsAttached()) {
        if (!importer.AttachFile(imagePath)) return 0;
        importer.SetAttached(true);
        return 1;
    }
    const auto fold = [&](const t_phraseRecord& r) {
        const int ok = keepExisting
                           ? importer.MergeItem(r.key, r.phrase, r.position, r.state)
                           : importer.UpdateItemState(r.key, r.phrase, r.position, r.state);
        return ok != 0;
    };
    return ForEachRecord(imagePath, fold) ? 1 : 0;
}

int SaveMergedPhrases(t_phraseImporter& importer, const wchar_t* path) {
    if (!importer.IsAttached()) return 1;
    return importer.SaveToFile(path);
}

int MergePhraseSources(t_phraseImporter& importer, const wchar_t* outputPath,
                       const wchar_t* firstImage, const wchar_t* secondImage,
                       const wchar_t* textPath) {
    if (firstImage && !MergePhraseImage(importer, firstImage, true)) return kPhraseMergeFirstFailed;
    if (secondImage && !MergePhraseImage(importer, secondImage, true))
        return kPhraseMergeSecondFailed;
    if (textPath) {
        t_tempPath image(textPath);
        if (!image.Append(L".temp") ||
            !ParsePhrasesText(importer.Arena(), textPath, image.GetFull()) ||
            !MergePhraseImage(importer, image.GetFull(), true))
            return kPhraseMergeTextFailed;
    }
    if (!outputPath || !SaveMergedPhrases(importer, outputPath)) return kPhraseMergeSaveFailed;
    return kPhraseMergeOk;
}

int CompactPhraseFile(t_phraseImporter& importer, const wchar_t* sourcePath,
                      const wchar_t* targetPath) {
    if (!sourcePath || !targetPath) return 0;
    if (!importer.AttachEmpty()) return 0;
    importer.SetAttached(true);
    const bool copied = ForEachRecord(sourcePath, [&](const t_phraseRecord& r) {
        return r.state == kPhraseDeleted ||
               importer.AddItem(r.key, r.phrase, r.position, kPhrasePlain) != 0;
    });
    return copied ? importer.SaveToFile(targetPath) : 0;
}
