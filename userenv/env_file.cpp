// env.ini: loading a store (legacy keys, version migration), saving one, and
// setting aside a file that exists but does not load.
// One thread at a time per store.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "porting3/ini_doc.h"
#include "porting3/runtime_env.h"
#include "porting3/str16.h"
#include "userenv/env_store.h"

namespace n_userenv {

using n_porting::t_errorContext;
using n_porting::t_iniDoc;
using n_porting::t_iniSection;
using n_porting::t_path;
using n_porting::t_str;

namespace {

constexpr int kCodePageGbk = 936;
constexpr size_t kMaxPathUnits = 1024;

bool Present(const char16_t* text) {
    return text != nullptr;
}
int32_t Number(const char16_t* text) {
    return ParseSettingNumber(text);
}

std::atomic<t_envLog> g_log{nullptr};

__attribute__((format(printf, 1, 2))) void Tell(const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0) vsnprintf(line.data(), line.size() + 1, format, again);
    va_end(again);
    if (const t_envLog log = g_log.load())
        log(line.c_str());
    else
        fprintf(stderr, "%s\n", line.c_str());
}

// Tells in one line (SetEnvLog's, else standard error) what became of a
// settings file that did not load: moved to `to`, or left where it is
// (`left`: why, or null). A file left in place is told once for each state
// of it, however often it is loaded again.
void TellFailedFile(const char* from, const char* why, const char* to, const char* left,
                    const struct stat& st) {
    if (to) {
        Tell("%s: %s, moved to %s; every setting is back to its default", from, why, to);
        return;
    }
    static struct stat told;
    static bool any = false;
    if (any && told.st_dev == st.st_dev && told.st_ino == st.st_ino && told.st_size == st.st_size &&
        told.st_mtim.tv_sec == st.st_mtim.tv_sec && told.st_mtim.tv_nsec == st.st_mtim.tv_nsec)
        return;
    any = true;
    told = st;
    Tell("%s: %s, left where it is%s%s%s; every setting has its default", from, why,
         left ? " (" : "", left ? left : "", left ? ")" : "");
}

// A file that exists but does not load (`why`) is moved, once, to
// <folder>/Backup/env_YYYYMMDD_hhmmss[_N].ini (an earlier copy is never
// replaced) and a good file of no values written in its place, so the next
// start neither fails on it nor keeps another copy. A file that cannot be
// opened (or is no regular file, or a link) is left alone: its content was
// never judged, or is not this folder's.
void SetFailedFileAside(const t_path& path, const char* why) {
    char from[4 * kMaxPathUnits + 4];
    if (!path.ToBytes(from, sizeof from)) return;
    struct stat st;
    const int fd = ::open(from, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    const int openError = errno;
    const bool judged = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (fd >= 0) ::close(fd);
    if (!judged) {
        if (::lstat(from, &st) != 0) return;  // missing: nothing to tell
        char cannot[128];
        snprintf(cannot, sizeof cannot, "it cannot be opened (%s)", std::strerror(openError));
        if (S_ISLNK(st.st_mode))
            TellFailedFile(from, why ? why : "it cannot be read", nullptr,
                           "a symbolic link is not moved", st);
        else if (!S_ISREG(st.st_mode))
            TellFailedFile(from, "it is not a regular file", nullptr, nullptr, st);
        else
            TellFailedFile(from, fd >= 0 ? "it cannot be read" : cannot, nullptr, nullptr, st);
        return;
    }
    char tooLarge[64];
    snprintf(tooLarge, sizeof tooLarge, "it is larger than %u MiB",
             unsigned(t_iniDoc::kMaxFileBytes >> 20));
    if (!why)
        why =
            uint64_t(st.st_size) > t_iniDoc::kMaxFileBytes ? tooLarge : "it cannot be read as text";
    t_path parent;
    if (!path.GetParentDir(parent)) parent.Assign(u".");
    const t_path backup(parent.GetStr(), u"Backup");
    t_errorContext ignored;
    t_str title, stamp;
    path.GetFileTitle(title);
    if (!backup.CreateDirectory(ignored, false) ||
        !stamp.FormatTime(std::time(nullptr), u"_%Y%M%D_%h%m%s")) {
        TellFailedFile(from, why, nullptr, "it could not be moved into Backup", st);
        return;
    }
    title.Append(stamp);
    const char16_t* ext = path.GetExtension();
    char to[4 * kMaxPathUnits + 4];
    bool moved = false;
    for (int n = 0; n < 1000 && !moved; ++n) {
        t_str name(title);
        if (n) name << u"_" << n;
        if (ext) name.Append(ext);
        if (!t_path(backup.GetStr(), name.GetStr()).ToBytes(to, sizeof to)) break;
        if (::link(from, to) == 0) {
            moved = ::unlink(from) == 0;
            break;
        }
        if (errno != EEXIST) break;
    }
    TellFailedFile(from, why, moved ? to : nullptr, "it could not be moved into Backup", st);
    if (!moved) return;
    const t_env fresh;
    fresh.Save(ignored, path.GetStr());
}

// Keys of older files, decided before any value is stored.
bool AddLegacyKeys(t_iniSection* s) {
    bool ok = true;
    if (!Present(s->GetValue(u"LimitWordCand"))) {
        const char16_t* max = s->GetValue(u"MaxWordCand");
        ok = s->SetValueAt(u"LimitWordCand", Present(max) && Number(max) > 0 ? u"1" : u"0", -1) &&
             ok;
    }
    const char16_t* freq = s->GetValue(u"FreqUpMode");
    const int32_t mode = Number(freq);
    if (!Present(s->GetValue(u"LearnNewWord"))) {
        const bool on = !Present(freq) || mode < 0 || (mode >= 2 && mode <= 4);
        ok = s->SetValueAt(u"LearnNewWord", on ? u"1" : u"0", -1) && ok;
    }
    if (!Present(s->GetValue(u"LearnFreq"))) {
        const bool on = !Present(freq) || mode < 0 || mode == 3 || mode == 4;
        ok = s->SetValueAt(u"LearnFreq", on ? u"1" : u"0", -1) && ok;
    }
    if (!Present(s->GetValue(u"IgnoreSkinColorSetting_Real"))) {
        if (const char16_t* old = s->GetValue(u"IgnoreSkinColorSetting"))
            ok = s->SetValueAt(u"IgnoreSkinColorSetting_Real", old, -1) && ok;
    }
    return ok;
}

}  // namespace

void ParseVersion(const char16_t* text, uint32_t parts[4]) {
    const char16_t* p = text ? text : u"";
    for (int i = 0; i < 4; ++i) {
        parts[i] = uint32_t(Number(p));
        const char16_t* dot = i < 3 ? n_porting::WcsChr16(p, u'.') : nullptr;
        p = dot ? dot + 1 : p + n_porting::WcsLen16(p);
    }
}

void SetEnvLog(t_envLog log) {
    g_log.store(log);
}

int EnsureFileDirectory(t_errorContext& ctx, const char16_t* filePath) {
    t_str text(filePath);
    const size_t slash = text.ReverseFind(u'/');
    if (text.GetLength() > kMaxPathUnits || slash == t_str::kNotFound) {
        t_str msg;
        msg.Format(u"文件名不合法：%s", text.GetStr());
        ctx.SetError(msg.GetStr());
        return 0;
    }
    t_str dirText;
    text.Left(dirText, slash == 0 ? 1 : slash);
    const t_path dir(dirText);
    if (dir.IsDirectory()) return 1;
    char bytes[4 * kMaxPathUnits + 4];
    if (!dir.ToBytes(bytes, sizeof bytes) || ::mkdir(bytes, 0700) != 0) {
        t_str msg;
        msg.Format(u"目录创建失败：%s", dirText.GetStr());
        ctx.SetError(msg.GetStr());
        return 0;
    }
    return 1;
}

int t_env::Load(t_errorContext& ctx, const char16_t* pathText, int clear) {
    if (clear == 1) Reset();
    const t_path path(pathText);
    t_iniDoc doc(0);
    if (!doc.Load(ctx, path, kCodePageGbk)) {
        SetFailedFileAside(path, nullptr);
        ctx.SetError(u"加载环境失败");
        return 0;
    }
    t_iniSection* setting = doc.FindSection(u"Setting");
    const t_iniSection* sync = doc.FindSection(u"SyncMode");
    if (!setting) {
        SetFailedFileAside(path, "it has no [Setting] section");
        ctx.SetError(u"解析配置文件失败：缺少项[setting]");
        return 0;
    }
    if (!AddLegacyKeys(setting)) {
        ctx.SetError(u"加载环境失败：内存不足");
        return 0;
    }
    const n_porting::t_iniItems& items = setting->Items();
    for (int i = 0; i < items.GetCount(); ++i) {
        const char16_t* key = items.Get(i);
        if (setting->FindKey(key) != key) continue;  // a comment line
        const t_settingKey k{GetEnvKeyId(key), key};
        t_envValue value;
        value.Init();
        if (!value.SetFromText(m_heap, k, setting->GetValue(key), nullptr,
                               t_iniDoc::GetValue(sync, key)))
            continue;
        if (n_porting::WcsCmp16(key, u"KeyFocusWord") == 0 && value.ToInt() == 2) {
            const int32_t zero = 0;
            if (value.type == kTypeInt || value.type == kTypeUInt)
                std::memcpy(value.payload, &zero, 4);
        }
        if (!StoreValue(k, value)) {
            ctx.SetError(u"加载环境失败：内存不足");
            return 0;
        }
    }
    if (!MigrateVersion()) {
        ctx.SetError(u"加载环境失败：内存不足");
        return 0;
    }
    return 1;
}

bool t_env::MigrateVersion() {
    t_str old(GetString(EnvEntry(n_envKey::EnvVersion)));
    if (!SetString(EnvEntry(n_envKey::EnvVersion), n_porting::GetProductVersionW())) return false;
    if (!old.IsEmpty()) {
        uint32_t parts[4];
        ParseVersion(old.GetStr(), parts);
        if (parts[0] > 5 || (parts[0] == 5 && parts[1] > 0)) return true;
    }
    bool ok = true;
    for (uint32_t id : {n_envKey::StateKeyShortcutName, n_envKey::StateKeyShortcutMailUrl,
                        n_envKey::StateKeyShortcutQuickInput, n_envKey::StateKeyShortcutEngFill,
                        n_envKey::StateKeyShortcutSearch}) {
        if (GetInt(EnvEntry(id)) != 186) continue;
        ok = SetBool(EnvEntry(n_envKey::ShortcutJJGMenu), false) &&
             SetInt(EnvEntry(n_envKey::KeyShortcutJJGMenu), 0);
        break;
    }
    if (GetInt(EnvEntry(n_envKey::StateKeyShortcutUrlGuide)) == 186) {
        ok = SetInt(EnvEntry(n_envKey::StateKeyShortcutUrlGuide), 0) && ok;
        ok = SetInt(EnvEntry(n_envKey::KeyShortcutJJGMenu), 186) && ok;
        ok = SetBool(EnvEntry(n_envKey::ShortcutJJGMenu), true) && ok;
    }
    return ok;
}

int t_env::Save(t_errorContext& ctx, const char16_t* pathText) const {
    t_iniDoc doc(0);
    t_iniSection* setting = doc.GetSection(u"Setting", -1);
    t_iniSection* sync = doc.GetSection(u"SyncMode", -1);
    bool ok = setting && sync;
    t_str text;
    if (m_map) {
        for (const t_map::t_node* n = m_map->First(); n && ok; n = m_map->Next(n)) {
            const t_envValue& v = *n->value;
            // A key beginning with ";" or "[" would come back as a comment or
            // as a broken section header that swallows the keys after it.
            // So would one holding "=" or a line break.
            const char16_t first = n->key.name ? n->key.name[0] : 0;
            if (first == 0 || first == u';' || first == u'[') continue;
            bool readable = true;
            for (const char16_t* p = n->key.name; *p && readable; ++p)
                readable = *p != u'=' && *p != u'\r' && *p != u'\n';
            if (!readable) continue;
            if (!v.ToText(text)) {
                ok = false;
                break;
            }
            // Nor can a value with a line break be read back (the setters
            // refuse one; an image may still hold it): left out, not cut.
            if (text.Find(u'\r') != t_str::kNotFound || text.Find(u'\n') != t_str::kNotFound)
                continue;
            ok = setting->SetValueAt(n->key.name, text.GetStr(), -1);
            // A synchronised value gets its keyword; so does a local one the
            // loader would otherwise give the registry's mode (unknown keys: remote).
            const bool differs = int32_t(v.syncMode) != GetEnvEntrySyncMode(n->key);
            if (ok && GetOriginName(v.syncMode) && (v.IsSynced() || differs))
                ok = sync->SetValueAt(n->key.name, GetOriginName(v.syncMode), -1);
        }
    }
    if (!ok) {
        ctx.SetError(u"保存环境失败：内存不足");
        return 0;
    }
    if (!EnsureFileDirectory(ctx, pathText)) return 0;
    return doc.Save(ctx, t_path(pathText), kCodePageGbk);
}

}  // namespace n_userenv
