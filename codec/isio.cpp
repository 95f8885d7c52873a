
#include "codec/isframe.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

// Live handle blocks. Validity is decided by membership first, so a freed
// or foreign pointer is never read.
class CISHandleRegistry {
public:
    void Add(const void* h) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_live.insert(h);
    }
    void Remove(const void* h) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_live.erase(h);
    }
    bool Contains(const void* h) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_live.count(h) != 0;
    }

private:
    std::mutex m_lock;
    std::unordered_set<const void*> m_live;
};

CISHandleRegistry& Handles() {
    static CISHandleRegistry registry;
    return registry;
}

ISPathMapper g_pathMapper = nullptr;

ISHandleBlock* NewBlock() {
    ISHandleBlock* h = static_cast<ISHandleBlock*>(IS40_GlobalAlloc(kISZeroInit, sizeof(ISHandleBlock)));
    if (!h) return nullptr;
    try {
        Handles().Add(h);
    } catch (...) {
        IS40_GlobalFree(h);
        return nullptr;
    }
    return h;
}

void FreeBlock(ISHandleBlock* h) {
    Handles().Remove(h);
    IS40_GlobalFree(h);
}

void KeepPath(ISHandleBlock* h, const char* path) {
    std::strncpy(h->path, path, kISPathField - 1);
    h->path[kISPathField - 1] = '\0';
}

std::FILE* OpenStream(const char* path, const char* mode) {
    if (g_pathMapper) {
        char mapped[4096];
        if (!g_pathMapper(path, mapped, sizeof mapped)) return nullptr;
        mapped[sizeof mapped - 1] = '\0';
        return std::fopen(mapped, mode);
    }
    return std::fopen(path, mode);
}

}  // namespace

bool ISHandleValid(ISHANDLE handle) {
    if (!handle || !Handles().Contains(handle)) return false;
    const ISHandleBlock* h = static_cast<const ISHandleBlock*>(handle);
    if (h->headMark != kISHeadMark || h->tailMark != kISTailMark) return false;
    if (h->kind == kISKindFile) return h->stream != nullptr;
    if (h->kind == kISKindMemory) return h->memoryBase != nullptr && h->memorySize != 0;
    return false;
}

bool ISCheckHandle(ISHANDLE handle, const char* function) {
    if (!handle) {
        ISRecordError(IS_ERR_PARAM, function);
        return false;
    }
    if (!ISHandleValid(handle)) {
        ISRecordError(IS_ERR_HANDLE, function);
        return false;
    }
    return true;
}

uint32_t CISIO::Read(void* buffer, uint32_t count) {
    if (count == 0) return 0;
    if (m_h->kind == kISKindFile) {
        return static_cast<uint32_t>(std::fread(buffer, 1, count, m_h->stream));
    }
    uint32_t left = m_h->position < m_h->memorySize ? m_h->memorySize - m_h->position : 0;
    uint32_t n = count < left ? count : left;
    if (n) std::memcpy(buffer, m_h->memoryBase + m_h->position, n);
    m_h->position += n;
    return n;
}

bool CISIO::Write(const void* data, uint32_t elementSize, uint32_t count) {
    if (!m_h->writable) return false;
    if (m_h->kind == kISKindFile) {
        return std::fwrite(data, elementSize, count, m_h->stream) == count;
    }
    // Memory blocks are never writable today; keep the bound for safety.
    uint64_t n = static_cast<uint64_t>(elementSize) * count;
    if (m_h->position + n >= m_h->memorySize) return false;
    std::memcpy(const_cast<uint8_t*>(m_h->memoryBase) + m_h->position, data, static_cast<size_t>(n));
    m_h->position += static_cast<uint32_t>(n);
    if (m_h->position > m_h->highWater) m_h->highWater = m_h->position;
    return true;
}

bool CISIO::Seek(int64_t offset, uint32_t origin) {
    if (m_h->kind == kISKindFile) {
        if (offset < LONG_MIN || offset > LONG_MAX || origin > 2) return false;
        static const int whence[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
        return std::fseek(m_h->stream, static_cast<long>(offset), whence[origin]) == 0;
    }
    const int64_t size = m_h->memorySize;
    int64_t target;
    switch (origin) {
        case 0:
            if (offset < 0 || offset >= size) return false;
            target = offset;
            break;
        case 1:
            target = static_cast<int64_t>(m_h->position) + offset;
            if (target < 0 || target >= size) return false;
            break;
        case 2:
            if (offset < -size || offset > 0) return false;
            target = size + offset;
            break;
        default:
            return false;
    }
    m_h->position = static_cast<uint32_t>(target);
    if (m_h->position > m_h->highWater) m_h->highWater = m_h->position;
    return true;
}

uint32_t CISIO::Tell() const {
    if (m_h->kind == kISKindFile) {
        long pos = std::ftell(m_h->stream);
        return pos < 0 ? 0 : static_cast<uint32_t>(pos);
    }
    return m_h->position;
}

bool CISIO::Flush() {
    if (m_h->kind != kISKindFile) return true;
    return std::fflush(m_h->stream) == 0 && !std::ferror(m_h->stream);
}

uint32_t CISIO::Size() {
    if (m_h->kind != kISKindFile) return m_h->memorySize;
    if (m_h->writable) std::fflush(m_h->stream);
    long here = std::ftell(m_h->stream);
    if (here < 0 || std::fseek(m_h->stream, 0, SEEK_END) != 0) return 0;
    long end = std::ftell(m_h->stream);
    std::fseek(m_h->stream, here, SEEK_SET);
    return end < 0 ? 0 : static_cast<uint32_t>(end);
}

void CISIO::Close() {
    if (m_h->kind == kISKindFile && m_h->stream) {
        std::fclose(m_h->stream);
        m_h->stream = nullptr;
    }
    m_h->headMark = 0;
}

const char* ISPathExtension(ISHANDLE handle) {
    const ISHandleBlock* h = static_cast<const ISHandleBlock*>(handle);
    if (!h || h->kind != kISKindFile) return "";
    const char* dot = std::strrchr(h->path, '.');
    return dot ? dot : "";
}

extern "C" {

void IS40_SetPathMapper(ISPathMapper mapper) { g_pathMapper = mapper; }

ISHANDLE IS40_OpenFileSource(const char* path) {
    CISThreadState* s = ISThreadState();
    if (!s) return nullptr;
    s->Record(0, "IS40_OpenFileSource");
    ISHandleBlock* h = NewBlock();
    if (!h) {
        s->Record(IS_ERR_MEMORY, "IS40_OpenFileSource");
        return nullptr;
    }
    if (!path || !*path || !(h->stream = OpenStream(path, "rb"))) {
        FreeBlock(h);
        s->Record(IS_ERR_OPEN, "IS40_OpenFileSource", path);
        return nullptr;
    }
    h->kind = kISKindFile;
    KeepPath(h, path);
    h->headMark = kISHeadMark;
    h->tailMark = kISTailMark;
    return h;
}

ISHANDLE IS40_OpenMemorySource(const void* data, uint32_t size) {
    CISThreadState* s = ISThreadState();
    if (!s) return nullptr;
    s->Record(0, "IS40_OpenMemorySource");
    ISHandleBlock* h = NewBlock();
    if (!h) {
        s->Record(IS_ERR_MEMORY, "IS40_OpenMemorySource");
        return nullptr;
    }
    if (!data || size == 0) {
        FreeBlock(h);
        s->Record(IS_ERR_PARAM, "IS40_OpenMemorySource");
        return nullptr;
    }
    h->kind = kISKindMemory;
    h->memoryBase = static_cast<const uint8_t*>(data);
    h->memorySize = size;
    h->headMark = kISHeadMark;
    h->tailMark = kISTailMark;
    return h;
}

ISHANDLE IS40_OpenFileDest(const char* path, IS_BOOL keepExisting) {
    CISThreadState* s = ISThreadState();
    if (!s) return nullptr;
    s->Record(0, "IS40_OpenFileDest");
    ISHandleBlock* h = NewBlock();
    if (!h) {
        s->Record(IS_ERR_MEMORY, "IS40_OpenFileDest");
        return nullptr;
    }
    if (!path || !*path) {
        FreeBlock(h);
        s->Record(IS_ERR_OPEN, "IS40_OpenFileDest");
        return nullptr;
    }
    if (keepExisting) {
        if (std::FILE* probe = OpenStream(path, "rb")) {
            std::fclose(probe);
        } else if (std::FILE* created = OpenStream(path, "w")) {
            std::fclose(created);
        }
        h->stream = OpenStream(path, "rb+");
    } else {
        h->stream = OpenStream(path, "wb+");
    }
    if (!h->stream) {
        FreeBlock(h);
        s->Record(IS_ERR_OPEN, "IS40_OpenFileDest", path);
        return nullptr;
    }
    h->kind = kISKindFile;
    h->writable = 1;
    h->keepExisting = keepExisting ? 1 : 0;
    KeepPath(h, path);
    h->headMark = kISHeadMark;
    h->tailMark = kISTailMark;
    return h;
}

IS_BOOL IS40_Seek(ISHANDLE handle, int32_t offset, uint32_t origin) {
    CISThreadState* s = ISThreadState();
    if (!s) return 0;
    s->Record(0, "IS40_Seek");
    if (!handle) {
        s->Record(IS_ERR_PARAM, "IS40_Seek");
        return 0;
    }
    // Only null is tested by contract; a dead handle is still refused here
    // rather than dereferenced.
    if (!ISHandleValid(handle)) {
        s->Record(IS_ERR_HANDLE, "IS40_Seek");
        return 0;
    }
    return CISIO(handle).Seek(offset, origin) ? 1 : 0;
}

uint32_t IS40_CloseSource(ISHANDLE handle) {
    CISThreadState* s = ISThreadState();
    if (!s) return 0;
    s->Record(0, "IS40_CloseSource");
    if (!handle) {
        s->Record(IS_ERR_PARAM, "IS40_CloseSource");
        return 0;
    }
    if (!Handles().Contains(handle)) {  // closing twice must not free twice
        s->Record(IS_ERR_HANDLE, "IS40_CloseSource");
        return 0;
    }
    CISIO io(handle);
    uint32_t pos = io.Tell();
    io.Close();
    FreeBlock(static_cast<ISHandleBlock*>(handle));
    return pos;
}

uint32_t IS40_CloseDest(ISHANDLE handle) {
    CISThreadState* s = ISThreadState();
    if (!s) return 0;
    s->Record(0, "IS40_CloseDest");
    if (!handle) {
        s->Record(IS_ERR_PARAM, "IS40_CloseDest");
        return 0;
    }
    if (!Handles().Contains(handle)) {
        s->Record(IS_ERR_HANDLE, "IS40_CloseDest");
        return 0;
    }
    CISIO io(handle);
    uint32_t size = io.Size();
    io.Close();
    FreeBlock(static_cast<ISHandleBlock*>(handle));
    return size;
}

}  // extern "C"
