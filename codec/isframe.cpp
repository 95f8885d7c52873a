#include "codec/isframe.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

namespace {

// Owns every thread state; they live until process end, not thread end,
// because a buffer's error may be read after its thread finished.
class CISStateRegistry {
public:
    ~CISStateRegistry() {
        std::lock_guard<std::mutex> lock(m_lock);
        for (CISThreadState* s : m_states) delete s;
        m_states.clear();
    }

    CISThreadState* Create() {
        CISThreadState* s = new (std::nothrow) CISThreadState();
        if (!s) return nullptr;
        try {
            std::lock_guard<std::mutex> lock(m_lock);
            m_states.push_back(s);
        } catch (...) {
            delete s;
            return nullptr;
        }
        return s;
    }

private:
    std::mutex m_lock;
    std::vector<CISThreadState*> m_states;
};

CISStateRegistry& Registry() {
    static CISStateRegistry registry;
    return registry;
}

// Construct the registry during start-up, before any thread can race for it.
const bool g_registryReady = (Registry(), true);

thread_local CISThreadState* t_state = nullptr;
thread_local int64_t t_allocFailAfter = -1;

bool AllocAllowed() {
    if (t_allocFailAfter < 0) return true;
    if (t_allocFailAfter == 0) return false;
    --t_allocFailAfter;
    return true;
}

// Blocks carry their size in front so that ReAlloc and Size work; the
// header keeps the payload 16-byte aligned.
constexpr size_t kHeader = 16;

}  // namespace

CISThreadState* ISThreadState() {
    if (!t_state) t_state = Registry().Create();
    return t_state;
}

void CISThreadState::Record(uint32_t code, const char* function, const char* extra) {
    if (code != 0) {
        char when[16];
        std::time_t now = std::time(nullptr);
        std::tm local{};
        ISLocalTime(now, &local);
        std::snprintf(when, sizeof when, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
        const char* name = function ? function : "(unspecified function)";
        char text[1000];
        if (extra)
            std::snprintf(text, sizeof text, "Error %d in %s (%s) [%s]", static_cast<int>(code), name, when, extra);
        else
            std::snprintf(text, sizeof text, "Error %d in %s (%s)", static_cast<int>(code), name, when);
        try {
            while (trace.size() > kTraceLimit) trace.pop_front();
            trace.push_back(CISTraceEntry{text, code, 3});
        } catch (...) {
            // The trace is diagnostic only; losing an entry is harmless.
        }
    }
    lastError = code;
}

void ISRecordError(uint32_t code, const char* function, const char* extra) {
    if (CISThreadState* s = ISThreadState()) s->Record(code, function, extra);
}

void ISSetAllocFailAfter(int64_t count) { t_allocFailAfter = count; }

bool ISMulSize(uint64_t a, uint64_t b, uint64_t* out) {
    if (a != 0 && b > kISAllocLimit / a) return false;
    *out = a * b;
    return *out < kISAllocLimit;
}

bool ISMulSize3(uint64_t a, uint64_t b, uint64_t c, uint64_t* out) {
    uint64_t ab;
    return ISMulSize(a, b, &ab) && ISMulSize(ab, c, out);
}

extern "C" {

IS_BOOL IS40_Initialize(void) {
    CISThreadState* s = ISThreadState();
    if (!s) return 0;
    s->Record(0, "IS40_Initialize");
    return 1;
}

void IS40_Shutdown(void) {
    // Nothing library-wide needs tearing down; thread states go at process end.
}

uint32_t IS40_GetLastError(void) { return t_state ? t_state->lastError : 0; }

void* IS40_GlobalAlloc(uint32_t /*flags*/, uint64_t bytes) {
    if (bytes >= kISAllocLimit || !AllocAllowed()) return nullptr;
    void* raw = std::calloc(1, kHeader + static_cast<size_t>(bytes));
    if (!raw) return nullptr;
    *static_cast<uint64_t*>(raw) = bytes;
    return static_cast<uint8_t*>(raw) + kHeader;
}

void* IS40_GlobalReAlloc(void* block, uint64_t bytes, uint32_t flags) {
    if (!block) return IS40_GlobalAlloc(flags, bytes);
    if (bytes >= kISAllocLimit || !AllocAllowed()) return nullptr;
    uint8_t* raw = static_cast<uint8_t*>(block) - kHeader;
    uint64_t old = *reinterpret_cast<uint64_t*>(raw);
    void* grown = std::realloc(raw, kHeader + static_cast<size_t>(bytes));
    if (!grown) return nullptr;
    uint8_t* payload = static_cast<uint8_t*>(grown) + kHeader;
    if (bytes > old) std::memset(payload + old, 0, static_cast<size_t>(bytes - old));
    *static_cast<uint64_t*>(grown) = bytes;
    return payload;
}

void* IS40_GlobalFree(void* block) {
    if (block) std::free(static_cast<uint8_t*>(block) - kHeader);
    return nullptr;
}

uint64_t IS40_GlobalSize(const void* block) {
    if (!block) return 0;
    return *reinterpret_cast<const uint64_t*>(static_cast<const uint8_t*>(block) - kHeader);
}

}  // extern "C"

uint8_t* CISOutBufAllocator::Alloc(uint64_t bytes) {
    Free();
    m_block = static_cast<uint8_t*>(IS40_GlobalAlloc(kISZeroInit, bytes));
    m_size = m_block ? bytes : 0;
    return m_block;
}

uint8_t* CISOutBufAllocator::Grow(uint64_t bytes) {
    uint8_t* grown = static_cast<uint8_t*>(IS40_GlobalReAlloc(m_block, bytes, kISMoveable));
    if (!grown) return nullptr;
    m_block = grown;
    m_size = bytes;
    return m_block;
}

void CISOutBufAllocator::Free() {
    m_block = static_cast<uint8_t*>(IS40_GlobalFree(m_block));
    m_size = 0;
}

uint8_t* CISOutBufAllocator::Release() {
    uint8_t* p = m_block;
    m_block = nullptr;
    m_size = 0;
    return p;
}

uint8_t* CISInternalAllocator::Alloc(uint64_t bytes) {
    Free();
    m_block = static_cast<uint8_t*>(IS40_GlobalAlloc(kISZeroInit, bytes));
    return m_block;
}

void CISInternalAllocator::Free() { m_block = static_cast<uint8_t*>(IS40_GlobalFree(m_block)); }
