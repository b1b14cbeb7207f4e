// Whole-file replacement of table-file images.
#include "kernel/storage/table_write.h"

#include <cstdio>

#include "kernel/runtime/path.h"

bool t_tableImageWriter::Open(const wchar_t* path) {
    m_open = false;
    t_pathName target;
    if (!path || !*path || !target.InitFromString(path) || !m_writer.Begin(target)) {
        puts("can't open file for write !\r");
        return false;
    }
    m_open = true;
    return true;
}

bool t_tableImageWriter::Put(const void* data, uint64_t n, const char* failMessage) {
    if (!m_open) return false;
    if (n == 0) return true;
    if (!data || !m_writer.Write(data, size_t(n))) {
        puts(failMessage);
        m_writer.Abort();
        m_open = false;
        return false;
    }
    return true;
}

bool t_tableImageWriter::Commit() {
    if (!m_open) return false;
    m_open = false;
    return m_writer.Commit();
}
