// The settings file's getters and its flag reset, the save-done FIFO and the
// switch hotkey. Main thread only.
#include "src/fcitx/front_settings.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <fcitx-config/hotkey.h>
#include <fcitx-utils/log.h>
#include <fcitx/context.h>
#include <fcitx/frontend.h>
#include <fcitx/hook.h>
#include <iniparser/iniparser.h>

#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"

namespace n_fcitx {
namespace {

// iniparser's line buffer; a longer line makes it refuse the whole file.
constexpr size_t kIniLineBytes = 1024;
// A settings file is a few hundred bytes; anything this large is not one.
constexpr size_t kMaxSettingsBytes = 1 << 20;

struct t_dictDeleter {
    void operator()(dictionary* d) const { iniparser_freedict(d); }
};
using t_dict = std::unique_ptr<dictionary, t_dictDeleter>;

// What iniparser said while it read a file, kept without the lines it
// quotes: they are the file's unchecked bytes, and it named the file by its
// /proc/self/fd path.
struct t_iniComplaints {
    int syntaxLines = 0;  // lines that are neither a section nor a key=value line
    int firstSyntax = 0;
    int longLine = 0;  // the line that stopped the read (too long, or cut by a NUL byte)
    bool memory = false;
};
t_iniComplaints* g_complaints = nullptr;

int CollectIniComplaint(const char* format, ...) {
    if (!g_complaints || !format) return 0;
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    // "... in <file> (<line>)...": only the number is taken.
    const char* open = std::strstr(text, " (");
    const int line = open ? std::atoi(open + 2) : 0;
    if (std::strstr(format, "syntax error")) {
        if (g_complaints->syntaxLines++ == 0) g_complaints->firstSyntax = line;
    } else if (std::strstr(format, "too long")) {
        g_complaints->longLine = line;
    } else if (std::strstr(format, "memory")) {
        g_complaints->memory = true;
    }
    return 0;
}

// Why a line stopped iniparser's read: its buffer takes 1023 bytes, and a
// NUL byte ends its line early, as in UTF-16 text.
std::string WhyLineStopped(int fd, int line) {
    std::string bytes(kMaxSettingsBytes, '\0');
    const ssize_t got = pread(fd, bytes.data(), bytes.size(), 0);
    bytes.resize(got > 0 ? size_t(got) : 0);
    if (bytes.size() >= 2 &&
        ((bytes[0] == '\xff' && bytes[1] == '\xfe') || (bytes[0] == '\xfe' && bytes[1] == '\xff')))
        return "it is UTF-16 text (it is read as UTF-8 only)";
    size_t begin = 0;
    for (int n = 1; n < line && begin != std::string::npos; ++n) {
        begin = bytes.find('\n', begin);
        if (begin != std::string::npos) ++begin;
    }
    if (begin != std::string::npos) {
        const size_t end = std::min(bytes.find('\n', begin), bytes.size());
        if (bytes.find('\0', begin) < end)
            return "line " + std::to_string(line) + " holds a NUL byte";
    }
    return "line " + std::to_string(line) + " is longer than " + std::to_string(kIniLineBytes - 1) +
           " bytes";
}

std::string WhyRefused(const t_iniComplaints& c, int fd) {
    if (c.longLine > 0) return WhyLineStopped(fd, c.longLine);
    if (c.syntaxLines == 1)
        return "line " + std::to_string(c.firstSyntax) + " is neither a section nor a setting";
    if (c.syntaxLines > 1)
        return "line " + std::to_string(c.firstSyntax) + " and " +
               std::to_string(c.syntaxLines - 1) + " more are neither sections nor settings";
    return c.memory ? "it could not be read (out of memory)" : "it could not be read";
}

// The settings file's state last told, so that each damaged state is told
// once however often the file is read (a reload reads it five times); a
// good or missing file clears it.
struct t_toldState {
    std::string path, why;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime = {};
};
t_toldState g_told;

void TellUnread(const char* path, const std::string& why) {
    t_toldState now;
    now.path = path;
    now.why = why;
    struct stat st;
    if (stat(path, &st) == 0) {
        now.dev = st.st_dev;
        now.ino = st.st_ino;
        now.size = st.st_size;
        now.mtime = st.st_mtim;
    }
    if (now.path == g_told.path && now.why == g_told.why && now.dev == g_told.dev &&
        now.ino == g_told.ino && now.size == g_told.size &&
        now.mtime.tv_sec == g_told.mtime.tv_sec && now.mtime.tv_nsec == g_told.mtime.tv_nsec)
        return;
    g_told = now;
    FcitxLog(WARNING, "%s: %s; the file is left as it is and every setting has its default", path,
             why.c_str());
}

void ForgetTold(const char* path) {
    if (g_told.path == path) g_told = t_toldState();
}

// A path that is not a regular file (a FIFO, a device, a folder) is not
// read: iniparser would block in open or read it without end. A file that
// is there but not read is told in fcitx's log (`told` false: the caller's
// own temporary, not the user's file).
t_dict LoadDict(const char* path, bool told = true) {
    if (!path || !*path) return nullptr;
    const int fd = OpenRegularFile(path, O_RDONLY, kMaxSettingsBytes, nullptr);
    if (fd < 0) {
        if (!told) return nullptr;
        if (errno == ENOENT) {
            ForgetTold(path);
        } else if (errno == EFBIG) {
            TellUnread(path,
                       "it is larger than " + std::to_string(kMaxSettingsBytes >> 20) + " MiB");
        } else if (errno == EINVAL) {
            TellUnread(path, "it is not a regular file");
        } else {
            TellUnread(path, std::string("it cannot be opened (") + std::strerror(errno) + ")");
        }
        return nullptr;
    }
    // iniparser opens by name: it is given the file already opened and checked.
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    t_iniComplaints complaints;
    g_complaints = &complaints;
    iniparser_set_error_callback(CollectIniComplaint);
    t_dict d(iniparser_load(self));
    iniparser_set_error_callback(nullptr);
    g_complaints = nullptr;
    if (told) {
        if (d)
            ForgetTold(path);
        else
            TellUnread(path, WhyRefused(complaints, fd));
    }
    close(fd);
    return d;
}

// The value, or null for a missing key or a section name (whose value is null).
const char* DictValue(const dictionary* d, const char* key) {
    if (!d || !key) return nullptr;
    return iniparser_getstring(d, key, nullptr);
}

int BoolOf(const char* value, int def) {
    if (!value) return def;
    switch (value[0]) {
        case 'y':
        case 'Y':
        case 't':
        case 'T':
        case '1':
            return 1;
        case 'n':
        case 'N':
        case 'f':
        case 'F':
        case '0':
            return 0;
        default:
            return def;
    }
}

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A logical line as iniparser assembles it: physical lines joined where one
// ends in a backslash, trailing blanks dropped. `first`/`last` index `lines`.
struct t_physical {
    size_t begin;  // offset of the line in the text
    size_t end;    // offset of its '\n' or of the text's end
};

// What iniparser makes of one logical line: a section, a value or nothing.
enum class t_kind { kNone, kSection, kSectionCut, kValue, kError };
struct t_parsed {
    t_kind kind = t_kind::kNone;
    std::string name;       // section or key, lower-cased
    size_t valueStart = 0;  // in the stripped line: where the value's text begins
    size_t valueEnd =
        0;  // one past its end (equal for an empty value); kSectionCut: the length kept
};

// The scan of iniparser 4.1's line parser over a stripped line.
t_parsed ParseLine(const std::string& line) {
    t_parsed p;
    if (line.empty() || line[0] == '#' || line[0] == ';') return p;
    if (line[0] == '[' && line.back() == ']') {
        p.kind = t_kind::kSection;
        const size_t close = line.find(']', 1);
        if (close == 1) {
            // "[]...": iniparser keeps the section's name but cuts it to the
            // line's length less one.
            p.kind = t_kind::kSectionCut;
            p.valueEnd = line.size() - 1;
            return p;
        }
        std::string name = line.substr(1, close - 1);
        size_t a = 0, b = name.size();
        while (a < b && IsSpace(name[a])) ++a;
        while (b > a && IsSpace(name[b - 1])) --b;
        p.name = Lower(name.substr(a, b - a));
        return p;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) {
        p.kind = t_kind::kError;
        return p;
    }
    size_t keyEnd = eq;
    while (keyEnd > 0 && IsSpace(line[keyEnd - 1])) --keyEnd;
    p.kind = t_kind::kValue;
    p.name = Lower(line.substr(0, keyEnd));
    size_t v = eq + 1;
    while (v < line.size() && IsSpace(line[v])) ++v;
    p.valueStart = v;
    if (v < line.size() && (line[v] == '"' || line[v] == '\'') && v + 1 < line.size() &&
        line[v + 1] != line[v]) {
        // A quoted value is what lies inside the quotes (iniparser ignores
        // anything after the closing one); it keeps its quotes when reset.
        const size_t close = line.find(line[v], v + 1);
        p.valueStart = v + 1;
        p.valueEnd = close == std::string::npos ? line.size() : close;
        return p;
    }
    size_t e = v;
    while (e < line.size() && line[e] != ';' && line[e] != '#') ++e;
    while (e > v && IsSpace(line[e - 1])) --e;
    p.valueEnd = e;
    return p;
}

std::string ReadSmallFile(const std::string& path, bool* ok) {
    *ok = false;
    std::string bytes;
    const int fd = OpenRegularFile(path.c_str(), O_RDONLY, kMaxSettingsBytes, nullptr);
    FILE* f = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (!f) {
        if (fd >= 0) close(fd);
        return bytes;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        bytes.append(buf, n);
        if (bytes.size() > kMaxSettingsBytes) break;
    }
    *ok = !ferror(f) && bytes.size() <= kMaxSettingsBytes;
    fclose(f);
    return bytes;
}

// Every entry of `before` but `key` is in `after` with the same value, `key`
// reads "false", and `after` holds nothing else.
bool OnlyKeyChanged(const dictionary* before, const dictionary* after, const std::string& key) {
    if (!before || !after || before->n != after->n) return false;
    for (ssize_t i = 0; i < before->size; ++i) {
        if (!before->key[i]) continue;
        const char* was = before->val[i];
        const int found = iniparser_find_entry(after, before->key[i]);
        if (!found) return false;
        const char* now = iniparser_getstring(after, before->key[i], nullptr);
        if (key == before->key[i]) {
            if (!now || std::strcmp(now, "false") != 0) return false;
        } else if ((was == nullptr) != (now == nullptr) || (was && std::strcmp(was, now) != 0)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string HomePath(const char* relative) {
    std::string home;
    if (!relative || !GetUserHomeDir(home)) return std::string();
    char path[kPathBufBytes];
    const int n = snprintf(path, sizeof path, "%s/%s", home.c_str(), relative);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) return std::string();
    return path;
}

std::string GetSettingsIniPath() {
    return HomePath(".config/VetraPY/vetraEnv.ini");
}

std::string SyncFifoPath() {
    const char* env = getenv(kSyncFifoEnv);
    return env && *env ? env : kDefaultSyncFifo;
}

std::string IniGetString(const std::string& path, const char* key, const std::string& def) {
    const t_dict d = LoadDict(path.c_str());
    const char* value = DictValue(d.get(), key);
    return value ? value : def;
}

int IniGetBool(const std::string& path, const char* key, int def) {
    const t_dict d = LoadDict(path.c_str());
    return BoolOf(DictValue(d.get(), key), def);
}

bool ResetIniValue(const std::string& text, const char* key, std::string* out) {
    if (!key || !out || text.find('\0') != std::string::npos) return false;
    const std::string target = Lower(key);
    std::vector<t_physical> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t nl = text.find('\n', at);
        const size_t end = nl == std::string::npos ? text.size() : nl;
        lines.push_back({at, end});
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    std::string result;
    size_t copied = 0;  // text before this offset is in `result`
    bool changed = false;
    std::string section;
    std::string line;       // the logical line being assembled, as iniparser holds it
    size_t last = 0;        // where the next physical line goes (over a backslash)
    size_t first = 0;       // its first physical line
    size_t headLength = 0;  // the part of it before its backslash
    for (size_t i = 0; i < lines.size(); ++i) {
        if (last == 0) first = i;
        const t_physical& ph = lines[i];
        line.resize(last);
        line.append(text, ph.begin, ph.end - ph.begin);
        const bool newline = ph.end < text.size();
        if (line.size() + (newline ? 1 : 0) <= 1) continue;  // iniparser skips these
        if (line.size() + (newline ? 1 : 0) >= kIniLineBytes) return false;  // refused by iniparser
        while (!line.empty() && IsSpace(line.back())) line.pop_back();
        if (!line.empty() && line.back() == '\\') {
            last = line.size() - 1;
            if (first == i) headLength = last;
            continue;
        }
        last = 0;
        size_t lead = 0;
        while (lead < line.size() && IsSpace(line[lead])) ++lead;
        const t_parsed p = ParseLine(line.substr(lead));
        if (p.kind == t_kind::kError) return false;
        if (p.kind == t_kind::kSection) section = p.name;
        if (p.kind == t_kind::kSectionCut && section.size() > p.valueEnd)
            section.resize(p.valueEnd);
        if (p.kind != t_kind::kValue || section + ":" + p.name != target) continue;
        // The value starts on the line's first physical line when nothing was
        // joined before it; otherwise the value part of all of them goes.
        const t_physical& head = lines[first];
        if (first != i && lead + p.valueStart > headLength) return false;
        const size_t start = head.begin + lead + p.valueStart;
        const size_t stop = first == i ? head.begin + lead + p.valueEnd : ph.end;
        result.append(text, copied, start - copied);
        result += "false";
        copied = stop;
        changed = true;
    }
    if (!changed) return false;
    result.append(text, copied, std::string::npos);
    *out = std::move(result);
    return true;
}

bool IniResetFlag(const std::string& path, const char* key) {
    const t_dict before = LoadDict(path.c_str());
    // A missing key, or one that names a section, reads as its default already.
    if (!DictValue(before.get(), key)) return false;
    bool ok = false;
    const std::string text = ReadSmallFile(path, &ok);
    std::string changed;
    if (!ok || !ResetIniValue(text, key, &changed)) return false;
    t_safeFileWriter writer;
    if (!writer.Begin(path.c_str()) || !writer.Write(changed.data(), changed.size())) {
        fprintf(stderr, "iniparser: cannot open %s\n", kSettingsFileName);
        return false;
    }
    // iniparser reads the new text back before it replaces the file: a line
    // this scan read differently would otherwise change another setting.
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", writer.GetFd());
    const t_dict after = LoadDict(self, false);
    if (!OnlyKeyChanged(before.get(), after.get(), Lower(key))) {
        FcitxLog(WARNING, "%s: %s left alone, it could not be rewritten safely", path.c_str(), key);
        writer.Abort();
        return false;
    }
    if (!writer.Commit()) {
        fprintf(stderr, "iniparser: cannot open %s\n", kSettingsFileName);
        return false;
    }
    return true;
}

void LoadImeSettings(const std::string& path, t_imeSettings* settings) {
    const t_dict d = LoadDict(path.c_str());
    const t_imeSettings defaults;
    settings->englishRetain =
        BoolOf(DictValue(d.get(), "Key:SwichEnglishRetainExist"), defaults.englishRetain);
    settings->keypadDigits =
        BoolOf(DictValue(d.get(), "Advance:KeyPadInputDigital"), defaults.keypadDigits);
    settings->shuangPin = BoolOf(DictValue(d.get(), "Genelal:ShuangPin"), defaults.shuangPin);
    settings->shuangPinHint = BoolOf(DictValue(d.get(), "Genelal:HintSP"), defaults.shuangPinHint);
    settings->semicolonIsEmpty =
        BoolOf(DictValue(d.get(), "ShuangPin:FenHao_is_empt"), defaults.semicolonIsEmpty);
}

t_fifoSignal SignalSyncFifo(const char* path) {
    if (!path || !*path) return t_fifoSignal::kFailed;
    struct stat st;
    if (lstat(path, &st) != 0) {
        if (errno != ENOENT) return t_fifoSignal::kFailed;
        if (mkfifo(path, 0600) != 0 && errno != EEXIST) {
            fprintf(stderr, "Could not create fifo %s\n", path);
            return t_fifoSignal::kFailed;
        }
        if (lstat(path, &st) != 0) return t_fifoSignal::kFailed;
    }
    if (S_ISFIFO(st.st_mode) && st.st_uid != geteuid()) {
        // The path is fixed in the shared /tmp: another user holding it
        // keeps the settings tool from ever hearing of a save.
        static bool told = false;
        if (!told)
            FcitxLog(WARNING, "%s belongs to another user: save notices cannot be sent", path);
        told = true;
        return t_fifoSignal::kNotOurs;
    }
    if (!S_ISFIFO(st.st_mode)) return t_fifoSignal::kNotOurs;
    // Only this user may signal or wait on it, whatever the umask was (an
    // older FIFO made with the umask's mode is closed as well). In the
    // sticky /tmp nobody else can put another file in its place.
    if ((st.st_mode & 07777) != 0600 && chmod(path, 0600) != 0) return t_fifoSignal::kFailed;
    // O_NOFOLLOW: a link put there since the check is not followed.
    // O_NONBLOCK: with no reader the open fails at once (ENXIO).
    const int fd = open(path, O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENXIO ? t_fifoSignal::kNoReader : t_fifoSignal::kFailed;
    struct stat opened;
    const bool same =
        fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino;
    close(fd);
    return same ? t_fifoSignal::kSignalled : t_fifoSignal::kNotOurs;
}

void ParseSwitchHotkey(const std::string& iniPath, FcitxHotkey keys[2]) {
    const std::string text = IniGetString(iniPath, kSwitchKey, kDefaultSwitchKey);
    FcitxHotkeySetKey(text.c_str(), keys);
    if (keys[0].sym != FcitxKey_None) return;
    // The value itself is not logged: it is the file's, unchecked text.
    FcitxLog(WARNING, "%s in %s names no key fcitx knows: %s switches to the input method",
             kSwitchKey, iniPath.c_str(), kDefaultSwitchKey);
    FcitxHotkeySetKey(kDefaultSwitchKey, keys);
}

void RegisterSwitchHotkey(FcitxInstance* instance, t_switchHotkey* hotkey,
                          const std::string& iniPath) {
    if (!instance || !hotkey) return;
    ReleaseSwitchHotkey(hotkey);
    ParseSwitchHotkey(iniPath, hotkey->keys);
    hotkey->instance = instance;
    if (hotkey->registered) return;  // the filter reads the keys parsed just now
    FcitxHotkeyHook hook;
    hook.hotkey = hotkey->keys;
    hook.hotkeyhandle = FcitxVetraHotkeyFilter;
    hook.arg = hotkey;
    FcitxInstanceRegisterHotkeyFilter(instance, hook);
    hotkey->registered = true;
}

INPUT_RETURN_VALUE FcitxVetraHotkeyFilter(void* arg) {
    auto* hotkey = static_cast<t_switchHotkey*>(arg);
    FcitxInstance* instance = hotkey ? hotkey->instance : nullptr;
    if (!instance) return IRV_DO_NOTHING;
    const int index = FcitxInstanceGetIMIndexByName(instance, kImeUniqueName);
    if (index < 1) return IRV_DO_NOTHING;
    FcitxInstanceSwitchIMByIndex(instance, index);
    FcitxInputContext* ic = FcitxInstanceGetCurrentIC(instance);
    if (ic && FcitxInstanceGetCurrentState(instance) != IS_ACTIVE)
        FcitxInstanceEnableIM(instance, ic, false);
    return IRV_DO_NOTHING;
}

void ReleaseSwitchHotkey(t_switchHotkey* hotkey) {
    if (!hotkey) return;
    FcitxHotkeyFree(hotkey->keys);
}

}  // namespace n_fcitx
