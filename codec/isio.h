// Source and destination handles and the CISIO accessor over them.
#ifndef ISIO_H
#define ISIO_H

#include "IS40.h"

#include <cstdint>
#include <cstdio>

constexpr uint32_t kISHeadMark = 0x07475590u;
constexpr uint32_t kISTailMark = 0x12345678u;
constexpr uint32_t kISKindFile = 1;
constexpr uint32_t kISKindMemory = 2;
constexpr size_t kISPathField = 260;

struct ISHandleBlock {
    uint32_t headMark;
    std::FILE* stream;
    uint32_t kind;
    const uint8_t* memoryBase;
    uint32_t memorySize;
    uint32_t position;
    uint32_t highWater;
    char path[kISPathField];
    uint8_t writable;
    uint8_t keepExisting;
    uint32_t tailMark;
};

// True for an open handle made by this library. Never dereferences a
// pointer that is not a live handle block.
bool ISHandleValid(ISHANDLE handle);

// Common entry check of every reader, writer and dimension query: records
// 5 for null and 38 for an invalid handle under function.
bool ISCheckHandle(ISHANDLE handle, const char* function);

class CISIO {
public:
    explicit CISIO(ISHANDLE handle) : m_h(static_cast<ISHandleBlock*>(handle)) {}

    uint32_t Read(void* buffer, uint32_t count);
    bool ReadExact(void* buffer, uint32_t count) { return Read(buffer, count) == count; }
    bool Write(const void* data, uint32_t elementSize, uint32_t count);
    bool Write(const void* data, uint32_t count) { return Write(data, 1, count); }
    bool Seek(int64_t offset, uint32_t origin);
    uint32_t Tell() const;
    uint32_t Size();
    // Pushes buffered writes to the file; false when the file refused them.
    bool Flush();
    void Close();
    // True when the file's stream reported an error, as opposed to its end.
    bool Failed() const { return m_h->kind == kISKindFile && m_h->stream && std::ferror(m_h->stream); }

    uint32_t Kind() const { return m_h->kind; }
    const char* Path() const { return m_h->path; }
    bool Writable() const { return m_h->writable != 0; }
    ISHANDLE Handle() const { return m_h; }

private:
    ISHandleBlock* m_h;
};

// Buffered byte-at-a-time reading for run-length decoders.
class CISByteReader {
public:
    explicit CISByteReader(CISIO& io) : m_io(io) {}
    bool Next(uint8_t& b) {
        if (m_pos == m_len && !Fill()) return false;
        b = m_buf[m_pos++];
        return true;
    }
    // Copies exactly n bytes; false when the source ends first.
    bool Get(uint8_t* out, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            if (!Next(out[i])) return false;
        }
        return true;
    }
    // True when at least one more byte is available.
    bool Fill() {
        if (m_pos < m_len) return true;
        m_len = m_io.Read(m_buf, sizeof m_buf);
        m_pos = 0;
        return m_len != 0;
    }

private:
    CISIO& m_io;
    uint8_t m_buf[8192];
    uint32_t m_pos = 0;
    uint32_t m_len = 0;
};

// Extension of a file source's path, from its last '.', or "" (memory
// sources and names without a dot).
const char* ISPathExtension(ISHANDLE handle);

#endif
