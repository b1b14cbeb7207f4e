// Upload copies of the user dictionary: the words that are new or changed
// since an earlier copy, and a fresh user dictionary file made of records.
// Callers hold the kernel dictionary lock; only local dictionaries are used.
#pragma once

#include <vector>

#include "kernel/userdict/usr_text_io.h"

// Appends a record for every word of the dictionary file at currentPath that
// the one at basePath lacks or holds with another frequency. False when
// either file cannot be read or is refused.
bool CollectNewUsrWords(t_scopeHeap& arena, const wchar_t* basePath, const wchar_t* currentPath,
                        t_usrWordRecords& out);

// Writes a user dictionary file at path holding the records (frequency,
// flags, stamp and extra count kept; records cut short or refused by the
// dictionary are left out). No records give a valid empty dictionary. True
// when the file was written; false leaves path as it was.
bool ConvertPtrToV3(const wchar_t* path, const t_usrWordRecords& records);

// Deletes every pointer of the vector and frees its storage.
template <class T>
void DeleteOwnedPtrVector(std::vector<T*>& v) {
    for (T* p : v) delete p;
    std::vector<T*>().swap(v);
}
