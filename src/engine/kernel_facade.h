// The engine's road into the kernel: starts the kernel and the user's
// settings, hands the settings to the kernel's options, and carries the
// few user-dictionary file operations the engine needs beyond the entry
// API. Wide text in; one call at a time, as the front end serializes the
// engine (an import's long steps run outside its lock).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "kernel/api/kernel_dict_ops.h"
#include "kernel/api/kernel_learn.h"
#include "kernel/api/kernel_options.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"

struct t_cloudRequestParams;
class t_dictSaveSnapshot;
struct t_cloudAsked;

// Starts the kernel over the user data directory (the user files live
// there) and the system directory, then the user manager and the user's
// settings, and hands the settings to the kernel. False when the user
// manager, the settings or the key map cannot be set up.
bool KernelInit(const wchar_t* version, const wchar_t* userDataDir, const wchar_t* sysDir,
                const wchar_t* dictDir, const wchar_t* buildDate);

// Reads the current user's settings and makes them the kernel's options.
// False when there is no current user or the settings cannot be read.
bool KernelStartup();
// KernelStartup, then the user's key map is rebuilt for the new options.
bool KernelStart();
// KernelStart for a caller that serializes the kernel with a lock of its
// own: `locked` runs the start-up and each step of the key map's rebuild.
bool KernelStartInSteps(const std::function<void(const std::function<void()>&)>& locked);

// The user's punctuation settings, as the last start-up read them.
struct t_symbolSettings {
    bool fullWidth = true;        // Chinese (full-width) punctuation
    bool pointAfterDigit = true;  // "." right after a digit stays a point
};
const t_symbolSettings& KernelSymbolSettings();
// The punctuation map's text for an ASCII key in the width the settings
// ask for, quotes paired; null when it maps none.
const wchar_t* KernelPunctuationText(uint32_t key);
// Whether the kernel reads the keys by a shuangpin scheme (env.ini's
// ShuangPin): lower-case v and u spell syllables there, and the capitals V
// and U open the number and stroke modes.
bool KernelReadsShuangPin();

// The number of candidate records written into results (capacity places),
// 0 or less when there are none. params and asked may be null (no cloud).
int KernelConvert(wchar_t* input, uint8_t english, uint8_t url, t_candWord** results,
                  uint32_t capacity, uint8_t* cloudExtra, uint8_t flag,
                  const t_cloudRequestParams* params, t_cloudAsked* asked, uint8_t plain);

// Learns a committed word. While the typing run continues, the word (or
// the last two characters of a longer commit, with one syllable each) is
// the context of the next conversions and of the next learned commit.
uint32_t KernelLearnWord(const wchar_t* text, const t_lstr* pinyin);
// Whether the next commits continue the last one (typed on in the same
// place); off forgets the commits kept so far.
void KernelSetContinuingInput(bool on);
bool KernelReloadExtDict();
// The spelling of a syllable or letter id; null for an id without one.
const t_lstr* KernelGetPinyinIds(int32_t id);
// True when path lies in the folder of the accounts (acc.dat, user.dat):
// a backup there would replace one of them.
bool KernelIsAccountsTarget(const wchar_t* path);
// BackupUsrDictV3, refusing the accounts' folder as well.
uint64_t KernelBackupUsrDictV3(const wchar_t* path, int32_t* status);

// Every managed dictionary written to disk, under the dictionary lock.
// False when a write failed.
bool KernelSaveDicts();
// The same save in steps (see t_dictSaveSnapshot): the copy and the finish
// under the dictionary lock, the snapshot's Write without it.
std::unique_ptr<t_dictSaveSnapshot> KernelNewSaveSnapshot();
bool KernelTakeSaveSnapshot(t_dictSaveSnapshot& snapshot);
bool KernelFinishSave(t_dictSaveSnapshot& snapshot);
// Import (restore false) or restore of a user dictionary file, the reading,
// parsing, building and writing outside `locked`, which runs the short
// steps under the caller's engine lock. Falls back to the whole operation
// under it when the steps cannot be used. As ImportUsrDict's result.
// `since`: the user dictionary's change count (GetUsrDictChangeCount's
// Others) noted when the call was sent, or null; the call is refused, with
// nothing changed, when another process changed the dictionary since.
using t_lockedStep = std::function<void(const std::function<void()>&)>;
bool KernelReplaceUsrDict(const wchar_t* path, bool restore, int32_t* count,
                          const t_lockedStep& locked, const uint64_t* since = nullptr);
// The list replaces the user's custom phrases (others end up deleted).
bool KernelImportUsrAbbrList(const t_apiPhrase* records, int32_t count);
// The user's custom phrases written to their file.
bool KernelSavePhrases();
// The user dictionary written to its file.
bool KernelSaveUsrDict();
// Whether the next upload must send the whole user dictionary.
bool KernelNeedFullUsrDictUpload();
// Removes the extended user dictionary file when it holds no word; false
// when it does.
bool KernelDropEmptyUsrExtDict();
// The prepared ".upload" copy becomes the last uploaded one; false (nothing
// touched) without it.
bool KernelCommitUsrDictUpload();
// Removes every user dictionary file and the backups, and the live user
// dictionaries forget their words (unsaved ones included). `since` as
// KernelReplaceUsrDict's.
bool KernelRemoveUsrDict(const uint64_t* since = nullptr);
// The user dictionary's change count a call notes when it is sent.
uint64_t KernelUsrDictChangeMark();
