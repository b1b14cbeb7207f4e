// The ini document: parsing, editing in file order, and the plain and
// enciphered files.
#include "porting3/ini_doc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "porting3/file_stream.h"
#include "porting3/str16.h"
#include "porting3/string_crypter.h"

namespace n_porting {

namespace {

// A copy of the text and its terminator in the arena; null for null or when
// memory runs out.
char16_t* CopyText(t_heap* heap, const char16_t* text) {
    if (!text) return nullptr;
    const size_t units = WcsLen16(text);
    if (units > SIZE_MAX / 2 - 1) return nullptr;
    auto* copy = static_cast<char16_t*>(heap->Alloc((units + 1) * 2));
    if (copy) std::memcpy(copy, text, (units + 1) * 2);
    return copy;
}

bool IsIniBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r';
}

// Cuts blanks at the end in place; returns the first unit that is not a blank.
char16_t* Trim(char16_t* s) {
    while (IsIniBlank(*s)) ++s;
    size_t n = WcsLen16(s);
    while (n > 0 && IsIniBlank(s[n - 1])) s[--n] = 0;
    return s;
}

bool HasLineBreak(const char16_t* text) {
    for (; text && *text; ++text)
        if (*text == u'\r' || *text == u'\n') return true;
    return false;
}

bool HasBlankEnd(const char16_t* text) {
    const size_t n = WcsLen16(text);
    return n && (IsIniBlank(text[0]) || IsIniBlank(text[n - 1]));
}

// A key the file could not give back: one led by "[" or ";" would read as a
// section header or a comment, one with "=" would be cut there, a line
// break would start another line, and blanks at either end are trimmed.
bool IsWritableKey(const char16_t* key) {
    if (!key || !*key || key[0] == u'[' || key[0] == u';' || HasLineBreak(key) || HasBlankEnd(key))
        return false;
    return !WcsChr16(key, u'=');
}

// The same for a section name: it ends at the first "]" when read back.
bool IsWritableSectionName(const char16_t* name) {
    return name && *name && !HasLineBreak(name) && !HasBlankEnd(name) && !WcsChr16(name, u']');
}

struct t_free {
    void operator()(void* p) const { std::free(p); }
};

}  // namespace

// ---- item array ----

bool t_iniItems::Insert(const char16_t* text, int index) {
    if (index < -1) return true;  // kept out of the order
    if (m_count == m_capacity) {
        if (m_count >= kMaxItems) return false;
        const int32_t capacity = m_capacity ? std::min(m_capacity * 2, kMaxItems) : 1;
        auto** grown =
            static_cast<const char16_t**>(m_heap->Alloc(size_t(capacity) * sizeof(char16_t*)));
        if (!grown) return false;
        if (m_count) std::memcpy(grown, m_items, size_t(m_count) * sizeof(char16_t*));
        m_items = grown;  // the old array stays in the arena
        m_capacity = capacity;
    }
    const int at = index == -1 || index >= m_count ? m_count : index;
    std::memmove(m_items + at + 1, m_items + at, size_t(m_count - at) * sizeof(char16_t*));
    m_items[at] = text;
    ++m_count;
    return true;
}

void t_iniItems::RemoveAt(int index) {
    if (index < 0 || index >= m_count) return;
    std::memmove(m_items + index, m_items + index + 1,
                 size_t(m_count - index - 1) * sizeof(char16_t*));
    --m_count;
}

int t_iniItems::Find(const char16_t* text) const {
    for (int i = 0; i < m_count; ++i)
        if (WcsCmp16(m_items[i], text) == 0) return i;
    return -1;
}

int t_iniItems::FindPointer(const char16_t* text) const {
    for (int i = 0; i < m_count; ++i)
        if (m_items[i] == text) return i;
    return -1;
}

// ---- section ----

bool t_iniSection::SetValueAt(const char16_t* key, const char16_t* value, int index) {
    if (!IsWritableKey(key) || HasLineBreak(value)) return false;
    char16_t* valueCopy = nullptr;
    if (value && !(valueCopy = CopyText(m_heap, value))) return false;
    if (t_iniNameMap::t_node* node = m_map.Find(key)) {
        node->value = valueCopy;
        return true;
    }
    char16_t* keyCopy = CopyText(m_heap, key);
    t_iniNameMap::t_node* node = keyCopy ? m_map.Insert(keyCopy, valueCopy) : nullptr;
    if (!node) return false;
    if (!m_items.Insert(keyCopy, index)) {
        m_map.Erase(node);
        return false;
    }
    return true;
}

const char16_t* t_iniSection::GetValue(const char16_t* key) const {
    const t_iniNameMap::t_node* node = key ? m_map.Find(key) : nullptr;
    return node ? node->value : nullptr;
}

const char16_t* t_iniSection::FindKey(const char16_t* key) const {
    const t_iniNameMap::t_node* node = key ? m_map.Find(key) : nullptr;
    return node ? node->key : nullptr;
}

bool t_iniSection::RemoveKey(const char16_t* key) {
    t_iniNameMap::t_node* node = key ? m_map.Find(key) : nullptr;
    if (!node) return false;
    // The item is the stored key itself, whatever spelling the caller used.
    m_items.RemoveAt(m_items.FindPointer(node->key));
    m_map.Erase(node);
    return true;
}

// ---- document ----

struct t_iniDoc::t_table {
    explicit t_table(t_heap* heap) : sections(heap), items(heap) {}
    t_poolHashMap<const char16_t*, t_iniSection*, t_nameKeyPolicy> sections;
    t_iniItems items;
};

t_iniDoc::t_iniDoc(int enciphered) : m_heap(kBlockSize), m_enciphered(enciphered) {}

void t_iniDoc::Clear() {
    m_heap.FreeAll();  // sections and maps live in the arena and need no destruction
    m_table = nullptr;
}

t_iniDoc::t_table* t_iniDoc::Table() {
    if (!m_table) {
        void* at = m_heap.Alloc(sizeof(t_table));
        if (at) m_table = new (at) t_table(&m_heap);
    }
    return m_table;
}

char16_t* t_iniDoc::Copy(const char16_t* text) {
    return CopyText(&m_heap, text);
}

const t_iniItems* t_iniDoc::GetItems() const {
    return m_table ? &m_table->items : nullptr;
}

t_iniSection* t_iniDoc::FindSection(const char16_t* name) const {
    const auto* node = m_table && name ? m_table->sections.Find(name) : nullptr;
    return node ? node->value : nullptr;
}

t_iniSection* t_iniDoc::GetSection(const char16_t* name, int index) {
    if (!IsWritableSectionName(name)) return nullptr;
    if (t_iniSection* found = FindSection(name)) return found;
    t_table* table = Table();
    char16_t* copy = table ? Copy(name) : nullptr;
    void* at = copy ? m_heap.Alloc(sizeof(t_iniSection)) : nullptr;
    if (!at) return nullptr;
    auto* section = new (at) t_iniSection(&m_heap);
    auto* node = table->sections.Insert(copy, section);
    if (!node) return nullptr;
    if (!table->items.Insert(copy, index)) {
        table->sections.Erase(node);
        return nullptr;
    }
    return section;
}

bool t_iniDoc::SetNumber(t_iniSection* section, const char16_t* key, int value, int index) {
    t_str text;
    return text.Format(u"%d", value) && SetValue(section, key, text.GetStr(), index);
}

bool t_iniDoc::RemoveKey(const char16_t* section, const char16_t* key) {
    t_iniSection* s = FindSection(section);
    return s && s->RemoveKey(key);
}

bool t_iniDoc::RemoveSection(const char16_t* name) {
    auto* node = m_table && name ? m_table->sections.Find(name) : nullptr;
    if (!node) return false;
    m_table->items.RemoveAt(m_table->items.FindPointer(node->key));
    m_table->sections.Erase(node);
    return true;
}

bool t_iniDoc::AddComment(const char16_t* section, const char16_t* anchor, const char16_t* text) {
    if (HasLineBreak(text)) return false;
    t_table* table = Table();
    char16_t* copy = table ? Copy(text) : nullptr;
    if (!copy) return false;
    const auto* node = section ? table->sections.Find(section) : nullptr;
    if (node && anchor) {
        t_iniItems& items = node->value->m_items;
        return items.Insert(copy, items.Find(anchor));  // -1 appends
    }
    return table->items.Insert(copy, node ? table->items.FindPointer(node->key) : -1);
}

int t_iniDoc::Parse(t_fileTextRead& reader) {
    Clear();
    t_iniSection* current = nullptr;
    while (char16_t* line = reader.ReadLine(false)) {
        if (!*line) continue;
        if (line[0] == u';') {
            // Only a ";" in the first column makes a comment.
            Trim(line + 1);
            t_table* table = current ? nullptr : Table();
            const char16_t* copy = current || table ? Copy(line) : nullptr;
            if (copy) (current ? current->m_items : table->items).Insert(copy, -1);
            continue;
        }
        if (line[0] == u'[') {
            current = nullptr;
            char16_t* name = line + 1;
            while (IsIniBlank(*name)) ++name;
            char16_t* close = const_cast<char16_t*>(WcsChr16(name, u']'));
            if (!*name || !close) continue;
            *close = 0;
            current = GetSection(Trim(name), -1);  // null for an empty name
            continue;
        }
        char16_t* equals = const_cast<char16_t*>(WcsChr16(line, u'='));
        if (!current || !equals) continue;
        *equals = 0;
        const char16_t* key = Trim(line);
        if (*key) current->SetValueAt(key, Trim(equals + 1), -1);
    }
    return 1;
}

bool t_iniDoc::WriteText(t_fileTextWrite& w) const {
    if (!m_table) return true;
    const t_iniItems& items = m_table->items;
    bool ok = true;
    for (int i = 0; i < items.GetCount() && ok; ++i) {
        const char16_t* item = items.Get(i);
        const auto* node = m_table->sections.Find(item);
        if (!node || node->key != item) {
            if (item[0] == u';') ok = w.WriteText(item) && w.WriteNewLine();
            continue;
        }
        if (i > 0) ok = w.WriteNewLine();
        ok = ok && w.WriteText(u"[") && w.WriteText(item) && w.WriteText(u"]") && w.WriteNewLine();
        const t_iniSection& section = *node->value;
        for (int k = 0; k < section.m_items.GetCount() && ok; ++k) {
            const char16_t* key = section.m_items.Get(k);
            const auto* entry = section.m_map.Find(key);
            if (!entry || entry->key != key) {
                if (key[0] == u';') ok = w.WriteText(key) && w.WriteNewLine();
                continue;
            }
            ok = w.WriteText(key) && w.WriteText(u"=") &&
                 (!entry->value || w.WriteText(entry->value)) && w.WriteNewLine();
        }
    }
    return ok;
}

int t_iniDoc::Load(t_errorContext& ctx, const t_path& path, int codePage) {
    Clear();
    if (m_enciphered) return LoadEnciphered(ctx, path, codePage);
    t_errorContext inner;
    uint64_t size = 0;
    t_fileTextRead reader;
    if (!path.GetFileSize(inner, &size) || size > kMaxFileBytes ||
        !reader.LoadFile(inner, path, codePage)) {
        ctx.SetError(u"无法解析ini文件");
        return 0;
    }
    return Parse(reader);
}

int t_iniDoc::LoadEnciphered(t_errorContext& ctx, const t_path& path, int codePage) {
    t_errorContext inner;
    t_fileRead file;
    if (!file.Open(inner, path)) {
        ctx.SetError(u"无法打开ini文件");
        return 0;
    }
    size_t size = size_t(file.GetFileSize());
    if (size > kMaxFileBytes) {
        ctx.SetError(u"无法解析ini文件");
        return 0;
    }
    std::unique_ptr<char, t_free> bytes(static_cast<char*>(std::malloc(size + 1)));
    if (!bytes) {
        ctx.SetError(u"无法读取ini文件:分配内存失败");
        return 0;
    }
    if (!file.Read(inner, bytes.get(), size)) {
        ctx.SetError(u"无法读取ini文件");
        return 0;
    }
    while (size > 0 && (bytes.get()[size - 1] == '\r' || bytes.get()[size - 1] == '\n')) --size;
    t_stringCrypter crypter(true);
    std::unique_ptr<char, t_free> text(crypter.DecryptTextN(bytes.get(), size));
    t_fileTextRead reader;
    if (!text || !reader.LoadMemory(inner, text.get(), std::strlen(text.get()), codePage)) {
        ctx.SetError(u"无法解析ini文件");
        return 0;
    }
    return Parse(reader);
}

int t_iniDoc::Save(t_errorContext& ctx, const t_path& path, int) {
    if (m_enciphered) return SaveEnciphered(ctx, path);
    t_fileTextWrite writer;
    if (!WriteText(writer)) {
        ctx.SetError(u"保存ini文件失败:内存分配失败");
        return 0;
    }
    return writer.SaveToFile(ctx, path) ? 1 : 0;
}

int t_iniDoc::SaveEnciphered(t_errorContext& ctx, const t_path& path) {
    t_fileTextWrite writer;
    size_t size = 0;
    std::unique_ptr<uint8_t, t_free> bytes;
    if (WriteText(writer)) {
        size = writer.GetSaveSize();
        bytes.reset(static_cast<uint8_t*>(std::malloc(size)));
    }
    if (!bytes) {
        ctx.SetError(u"保存ini文件失败:内存分配失败");
        return 0;
    }
    if (!writer.SaveToMemory(bytes.get(), &size) || size < 2) {
        ctx.SetError(u"保存ini文件失败:写到内存失败");
        return 0;
    }
    // The text after its byte-order mark, in code page 936.
    const size_t units = (size - 2) / 2;
    std::unique_ptr<char16_t[]> text(new (std::nothrow) char16_t[units + 1]);
    std::unique_ptr<char, t_free> gbk;
    if (text) {
        std::memcpy(text.get(), bytes.get() + 2, units * 2);
        text[units] = 0;
        if (units) gbk.reset(Str16ToMultiByteAlloc(kCodePageGbk, text.get(), units));
    }
    if (!text || (units && !gbk)) {
        ctx.SetError(u"保存ini文件失败:转换失败");
        return 0;
    }
    t_stringCrypter crypter(true);
    std::unique_ptr<char, t_free> code(
        crypter.EncryptBytes(gbk ? gbk.get() : "", gbk ? std::strlen(gbk.get()) : 0));
    if (!code) {
        ctx.SetError(u"保存ini文件失败:加密失败");
        return 0;
    }
    return SaveFileSafely(ctx, path, code.get(), std::strlen(code.get()), nullptr, 0) ? 1 : 0;
}

// ---- byte-level helpers ----

uint8_t* t_iniDoc::ReadWholeFile(t_errorContext& ctx, const t_path& path, uint64_t* size) {
    if (size) *size = 0;
    t_errorContext inner;
    t_fileRead file;
    if (!file.Open(inner, path)) {
        ctx.SetError(u"无法打开ini文件");
        return nullptr;
    }
    const uint64_t n = file.GetFileSize();
    auto* bytes = n <= kMaxFileBytes ? static_cast<uint8_t*>(std::malloc(size_t(n) + 2)) : nullptr;
    if (!bytes) {
        ctx.SetError(u"无法读取ini文件:分配内存失败");
        return nullptr;
    }
    if (n && !file.Read(inner, bytes, n)) {
        std::free(bytes);
        ctx.SetError(u"无法读取ini文件");
        return nullptr;
    }
    bytes[n] = bytes[n + 1] = 0;
    if (size) *size = n;
    return bytes;
}

int t_iniDoc::DetectBom(const uint8_t* bytes, size_t length, size_t* bomLength) {
    int kind = 0;
    size_t n = 0;
    if (bytes && length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        kind = -1;
        n = 2;
    } else if (bytes && length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        kind = -2;
        n = 2;
    } else if (bytes && length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        kind = kCodePageUtf8;
        n = 3;
    }
    if (bomLength) *bomLength = n;
    return kind;
}

bool t_iniDoc::SwapBytePairs(uint8_t* bytes, size_t length) {
    if (length % 2 || (length && !bytes)) return false;
    for (size_t i = 0; i < length; i += 2) std::swap(bytes[i], bytes[i + 1]);
    return true;
}

char16_t* t_iniDoc::BytesToUnits(const uint8_t* bytes, size_t length, int codePage, size_t* units) {
    if (units) *units = 0;
    if (length && !bytes) return nullptr;
    if (codePage == -1 || codePage == -2) {
        if (length % 2 || length / 2 >= SIZE_MAX / 2) return nullptr;
        const size_t n = length / 2;
        auto* text = static_cast<char16_t*>(std::malloc((n + 1) * 2));
        if (!text) return nullptr;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t lo = bytes[2 * i + (codePage == -1 ? 0 : 1)];
            const uint8_t hi = bytes[2 * i + (codePage == -1 ? 1 : 0)];
            text[i] = char16_t(lo | hi << 8);
        }
        text[n] = 0;
        if (units) *units = n;
        return text;
    }
    if (length == 0) {
        auto* text = static_cast<char16_t*>(std::calloc(1, 2));
        return text;
    }
    // The converted text is measured up to its terminator: a NUL inside
    // would cut it short, so such bytes do not convert.
    if (std::memchr(bytes, 0, length)) return nullptr;
    char16_t* text = MultiByteToStr16Alloc(codePage, reinterpret_cast<const char*>(bytes), length);
    if (text && units) *units = WcsLen16(text);
    return text;
}

uint8_t* t_iniDoc::UnitsToBytes(const char16_t* units, size_t count, int codePage, size_t* length) {
    if (length) *length = 0;
    if (count && !units) return nullptr;
    if (codePage == -1 || codePage == -2) {
        if (count >= SIZE_MAX / 2 - 1) return nullptr;
        auto* bytes = static_cast<uint8_t*>(std::malloc(count * 2 + 2));
        if (!bytes) return nullptr;
        for (size_t i = 0; i < count; ++i) {
            bytes[2 * i + (codePage == -1 ? 0 : 1)] = uint8_t(units[i] & 0xFF);
            bytes[2 * i + (codePage == -1 ? 1 : 0)] = uint8_t(units[i] >> 8);
        }
        bytes[count * 2] = bytes[count * 2 + 1] = 0;
        if (length) *length = count * 2;
        return bytes;
    }
    if (count == 0) return static_cast<uint8_t*>(std::calloc(1, 1));
    if (std::find(units, units + count, u'\0') != units + count) return nullptr;  // as above
    char* bytes = Str16ToMultiByteAlloc(codePage, units, count);
    if (bytes && length) *length = std::strlen(bytes);
    return reinterpret_cast<uint8_t*>(bytes);
}

}  // namespace n_porting
