// Merges of custom phrases between the phrase file, lists handed in by the
// kernel entry API and custom-phrase images. Each merge works on a
// temporary custom-phrase dictionary, t_phraseImporter, and ends by
// replacing the target image through a finished temporary copy.
// One thread at a time: the kernel entry API calls these under the kernel
// dictionary lock (the imports take it themselves as well; it is recursive).
#pragma once

#include <cstdint>

#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/phrase_dict.h"
#include "kernel/userdict/phrase_file.h"

// A custom-phrase dictionary for one merge operation.
class t_phraseImporter : public t_abbrUsrDict {
public:
    t_phraseImporter() : m_arena(t_scopeHeap::kDefaultBlockSize) {}
    ~t_phraseImporter() override = default;

    bool IsAttached() const { return m_attached; }
    void SetAttached(bool attached) { m_attached = attached; }
    t_scopeHeap& Arena() { return m_arena; }

private:
    bool m_attached = false;
    t_scopeHeap m_arena;
};

// Makes the phrase file's entries the content of the image at targetPath
// (state 1, or 3 / 0 as folded against the target's records); phrases the
// file lacks stay as deleted records. When targetPath is the live
// custom-phrase dictionary's file, its unsaved changes are written first and
// its version is raised after the file was replaced, all under the kernel
// dictionary lock, so the live dictionary re-attaches the result instead of
// later saving over it. 1 when the target was replaced; 0 on any failure,
// a text file that cannot be opened included (the target then keeps its
// old content). A file that opens but holds no entries (or is not UTF-16)
// adds nothing, so every phrase of the target ends up deleted.
int ImportPhrasesText(t_phraseImporter& importer, const wchar_t* targetPath,
                      const wchar_t* textPath);

// The same with a list of entries instead of a file.
int MergePhrasesIntoUsrDict(t_phraseImporter& importer, const wchar_t* targetPath,
                            const t_phraseEntry* entries, int count);

// The first call attaches the importer to the image at imagePath (1/0).
// Later calls fold every record of that image into the importer: with
// keepExisting through MergeItem, else through UpdateItemState; 0 when the
// image cannot be read or loaded, or at the first record that fails.
int MergePhraseImage(t_phraseImporter& importer, const wchar_t* imagePath, bool keepExisting);

// Saves the importer to path by the replace-by-rename save; 1 also when
// nothing is attached, 0 when the save fails.
int SaveMergedPhrases(t_phraseImporter& importer, const wchar_t* path);

// Result codes of MergePhraseSources.
enum : int {
    kPhraseMergeOk = 0,
    kPhraseMergeTextFailed = 1,
    kPhraseMergeSecondFailed = 2,
    kPhraseMergeFirstFailed = 3,
    kPhraseMergeSaveFailed = 4,
};
// Merges the first image, the second image and the phrase file (each may be
// null) and saves the result at outputPath; one of the codes above.
int MergePhraseSources(t_phraseImporter& importer, const wchar_t* outputPath,
                       const wchar_t* firstImage, const wchar_t* secondImage,
                       const wchar_t* textPath);

// Rewrites the target as the source's records that are not deleted, all in
// state 0; 1/0 (the target is untouched on failure).
int CompactPhraseFile(t_phraseImporter& importer, const wchar_t* sourcePath,
                      const wchar_t* targetPath);
