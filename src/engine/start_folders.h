// The two folders the kernel is started on, checked before it starts, so
// that the input method and vetra-convert can tell the user in one line what
// is wrong instead of converting without data or learning into nowhere. Plain
// file-system calls, no shared state: any thread.
#pragma once

#include <string>
#include <vector>

namespace n_startFolders {

// The system data files pinyin conversion cannot go without: syllables,
// characters and words. Without them only the typed letters could be offered.
inline const std::vector<std::string> kCoreDataFiles = {"qzim_py.bin", "qzim_hz.bin",
                                                        "qzim_core.bin"};

// What keeps the files `names` of folder `dir` from being opened for reading
// ("qzim_core.bin: No such file or directory", names with the same reason
// joined: "a.bin, b.bin: Permission denied"; reasons joined by "; "); a
// folder that cannot be used is told alone ("No such file or directory").
// Empty when every file opens as a regular file.
std::string UnreadableFiles(const std::string& dir, const std::vector<std::string>& names);

// The regular files of `dir` and of its folders, as paths relative to it,
// sorted; what cannot be listed is left out (UnreadableFiles tells it).
std::vector<std::string> FilesIn(const std::string& dir);

// Readies the user folder `relative` below the home folder `home` (*dir
// gets its path, empty without a home folder): made, private to the user,
// when missing, but only below a home folder that is there; it must be a
// folder this process can read, and write when `write` is set. False with
// *why set otherwise: the reason, after the path it failed on when that is
// not *dir itself.
bool PrepareUserFolder(const std::string& home, const std::string& relative, bool write,
                       std::string* dir, std::string* why);

// Why the user folder `user` cannot go with the system data folder `data`:
// it "is", "holds" or "lies in" that folder, by name (links, "." and ".."
// resolved, the parts not made yet taken as written) or as the folders
// themselves (device and inode, which a bind mount's second name shares).
// The two share file names, so the kernel would take system files for
// user files. Empty when they are apart.
std::string UserFolderClash(const std::string& user, const std::string& data);

// Makes `dir` and any missing folder above it (private to the user) and
// checks it can be read and written; false with *why set as above.
bool PrepareFolder(const std::string& dir, std::string* why);

}  // namespace n_startFolders
