// Upload copies: differences between two user dictionary files and user
// dictionary files rebuilt from records.
#include "kernel/userdict/upload_copies.h"

#include <algorithm>

#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_dict_v3.h"

bool CollectNewUsrWords(t_scopeHeap& arena, const wchar_t* basePath, const wchar_t* currentPath,
                        t_usrWordRecords& out) {
    if (!basePath || !currentPath) return false;
    t_usrDictV3Core base, current;
    if (!base.AttachFile(basePath) || !current.AttachFile(currentPath)) return false;
    return CollectUsrDictCoreWords(arena, current, &base, out);
}

bool ConvertPtrToV3(const wchar_t* path, const t_usrWordRecords& records) {
    if (!path || !path[0]) return false;
    t_usrDictV3Core dict;
    const uint32_t capacity = uint32_t(
        std::min<size_t>(std::max<size_t>(records.size(), kUsrDefaultCapacity), kUsrMaxCapacity));
    // Built in memory: the file is written once, complete, at the end.
    if (!dict.CreateEmpty(capacity)) return false;
    for (const UsrWordRecord* record : records) {
        t_usrWordFields f;
        if (!ReadUsrWordRecord(record, &f)) continue;
        dict.RestoreWord(f.reading, f.word, f.freq, f.flags, f.stamp, f.extra);
    }
    return dict.SaveToFile(path, 1);
}
