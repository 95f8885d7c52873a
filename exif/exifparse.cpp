// The EXIF block parser: the five standard IFDs and the maker notes.
//
// Every offset, count and size taken from the block is checked against the
// block in 64-bit arithmetic before anything is read; nothing but IFD0 ->
// IFD1 and the three pointer tags is followed, so no chain can loop.
#include "exif/isexif.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

using namespace CISEXIFData;

namespace {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kHostMotorola = true;
#else
constexpr bool kHostMotorola = false;
#endif

constexpr char kUnknownFormat[] = "Unknown Format";  // 14 bytes, no terminator kept

// Trace lines are kept per thread, up to a bound, while tracing is on.
constexpr size_t kTraceKeep = 1u << 20;
std::atomic<bool> g_traceOn{false};
thread_local std::string t_trace;

// Puts the parser's byte order back however the maker note ends.
class CISByteOrderGuard {
public:
    explicit CISByteOrderGuard(bool& order) : m_order(order), m_saved(order) {}
    ~CISByteOrderGuard() { m_order = m_saved; }
    CISByteOrderGuard(const CISByteOrderGuard&) = delete;
    CISByteOrderGuard& operator=(const CISByteOrderGuard&) = delete;

private:
    bool& m_order;
    bool m_saved;
};

}  // namespace

void ISEXIFSetTrace(bool on) { g_traceOn.store(on); }
bool ISEXIFTraceOn() { return g_traceOn.load(std::memory_order_relaxed); }

void ISEXIFTrace(const char* format, ...) {
    if (!ISEXIFTraceOn()) return;
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    try {
        if (t_trace.size() < kTraceKeep) t_trace += text;
    } catch (...) {
        // Diagnostic only.
    }
}

std::string ISEXIFTakeTrace() {
    std::string out;
    out.swap(t_trace);
    return out;
}

const char* ISEXIFListName(uint32_t list) {
    static const char* const kNames[kEXIFListCount] = {"IFD0", "exifIFD", "Interop", "IFD1", "GPS", "MakerNote"};
    return list < kEXIFListCount ? kNames[list] : "";
}

uint16_t CISRawEXIFParse::Get16(uint64_t at) const {
    const uint8_t* p = m_block + at;
    return m_motorola ? static_cast<uint16_t>((p[0] << 8) | p[1]) : ISGet16LE(p);
}

uint32_t CISRawEXIFParse::Get32(uint64_t at) const {
    const uint8_t* p = m_block + at;
    if (!m_motorola) return ISGet32LE(p);
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

bool CISRawEXIFParse::Read16(uint64_t at, uint16_t* v) const {
    if (!Readable(at, 2)) return false;
    *v = Get16(at);
    return true;
}

bool CISRawEXIFParse::Read32(uint64_t at, uint32_t* v) const {
    if (!Readable(at, 4)) return false;
    *v = Get32(at);
    return true;
}

bool CISRawEXIFParse::TakeBudget(uint64_t bytes) {
    if (bytes > m_valueBudget) return false;
    m_valueBudget -= bytes;
    return true;
}

bool CISRawEXIFParse::ParseBlock(bool makerNotes) {
    // Values of well-formed blocks never overlap, so they add up to less
    // than the block; hostile entries pointing at one region many times
    // stop at this bound instead of multiplying the memory used.
    m_valueBudget = 2ull * m_length + 65536;
    m_error = kRejected;
    if (!m_block || m_length < 10 || std::memcmp(m_block + 4, "Exif", 4) != 0) return false;
    if (!Readable(kTiffHeader, 4)) return false;
    const uint8_t* order = m_block + kTiffHeader;
    if (order[0] == 'I' && order[1] == 'I') {
        m_motorola = false;
    } else if (order[0] == 'M' && order[1] == 'M') {
        m_motorola = true;
    } else {
        ISEXIFTrace("Unknown byte order tag\n");
        return false;
    }
    if (!((order[2] == 0x2A && order[3] == 0) || (order[2] == 0 && order[3] == 0x2A))) {
        ISEXIFTrace("Unknown byte order tag\n");
        return false;
    }

    uint32_t ifd0 = 0;
    uint16_t count = 0;
    if (!Read32(14, &ifd0)) return false;
    const uint64_t ifd0At = kTiffHeader + static_cast<uint64_t>(ifd0);
    if (!Read16(ifd0At, &count)) return false;
    if (!ParseIFD(ifd0At + 2, count, m_lists[kEXIFListIFD0], kTiffHeader, kNoteNone, kTiffHeader)) return false;

    uint32_t next = 0;
    if (!Read32(ifd0At + 2 + 12ull * count, &next)) return false;
    if (next != 0 && next < m_length) {
        const uint64_t at = kTiffHeader + static_cast<uint64_t>(next);
        uint16_t n = 0;
        if (!Read16(at, &n)) {
            ISEXIFTrace("EXIF: Invalid IFD1 tag count\n");
        } else if (!ParseIFD(at + 2, n, m_lists[kEXIFListIFD1], kTiffHeader, kNoteNone, kTiffHeader)) {
            ISEXIFTrace("EXIF: Invalid IFD1 data\n");
        }
    }

    if (const CEXIFTagBase* tag = FindTag(m_lists[kEXIFListIFD0], kTagExifIFD)) {
        ParseSubIFD(tag->valueField, m_lists[kEXIFListExif], "EXIF: Invalid exifIFD offset\n",
                    "EXIF: Invalid exifIFD tag count\n", "EXIF: Invalid exifIFD data\n");
    }
    if (const CEXIFTagBase* tag = FindTag(m_lists[kEXIFListExif], kTagInteropIFD)) {
        ParseSubIFD(tag->valueField, m_lists[kEXIFListInterop], "EXIF: Invalid interop offset\n",
                    "EXIF: Invalid interop tag count\n", "EXIF: Invalid interop data\n");
    }
    if (const CEXIFTagBase* tag = FindTag(m_lists[kEXIFListIFD0], kTagGpsIFD)) {
        ParseSubIFD(tag->valueField, m_lists[kEXIFListGPS], "EXIF: Invalid GPSIFD offset\n",
                    "EXIF: Invalid GPS tag count\n", "EXIF: Invalid GPS data\n");
    }

    if (ISEXIFTraceOn()) {
        ISEXIFTrace("\n--- IFD0 tags ---\n");
        DumpTags(m_lists[kEXIFListIFD0]);
        ISEXIFTrace("--- exifIFD tags ---\n");
        DumpTags(m_lists[kEXIFListExif]);
        ISEXIFTrace("--- Interop tags ---\n");
        DumpTags(m_lists[kEXIFListInterop]);
        ISEXIFTrace("--- IFD1 tags ---\n");
        DumpTags(m_lists[kEXIFListIFD1]);
        ISEXIFTrace("------\n");
        DumpTags(m_lists[kEXIFListGPS]);
        ISEXIFTrace("------\n");
    }

    m_error = 0;
    if (makerNotes && !ParseMakerNote()) ISEXIFTrace("EXIF: unable to parse Maker Note data\n");
    return true;
}

void CISRawEXIFParse::ParseSubIFD(uint32_t offset, TagList& list, const char* badOffset, const char* badCount,
                                  const char* badData) {
    if (offset >= m_length) {
        ISEXIFTrace("%s", badOffset);
        return;
    }
    const uint64_t at = kTiffHeader + static_cast<uint64_t>(offset);
    uint16_t n = 0;
    if (!Read16(at, &n)) {
        ISEXIFTrace("%s", badCount);
        return;
    }
    if (!ParseIFD(at + 2, n, list, kTiffHeader, kNoteNone, kTiffHeader)) ISEXIFTrace("%s", badData);
}

bool CISRawEXIFParse::ParseIFD(uint64_t entries, uint32_t entryCount, TagList& list, uint32_t base, uint32_t kind,
                               uint32_t basePosition) {
    try {
        for (uint32_t i = 0; i < entryCount; ++i) {
            const uint64_t at = entries + 12ull * i;
            if (!Readable(at, 12)) return false;
            std::unique_ptr<CEXIFTagBase> tag = CreateTag(static_cast<uint32_t>(at), base, kind);
            if (!tag) continue;
            tag->entryPosition = static_cast<uint32_t>(at);
            tag->basePosition = basePosition;
            tag->motorola = m_motorola ? 1 : 0;
            list.push_back(std::move(tag));
        }
    } catch (...) {
        return false;
    }
    return true;
}

std::unique_ptr<CEXIFTagBase> CISRawEXIFParse::CreateTag(uint32_t entryAt, uint32_t base, uint32_t kind) {
    if (!Readable(entryAt, 12)) return nullptr;
    const uint16_t id = Get16(entryAt);
    const uint16_t type = Get16(entryAt + 2ull);
    const uint32_t count = Get32(entryAt + 4ull);
    const uint32_t field = Get32(entryAt + 8ull);
    const uint8_t* valueField = m_block + entryAt + 8;

    try {
        std::string name = TagName(id, kind);
        ISEXIFTrace("%s, tag : %d, count : %d, offset : %d", name.c_str(), id, static_cast<int32_t>(count),
                    static_cast<int32_t>(field));

        const uint32_t size = TypeSize(type);
        if (size == 0) return nullptr;
        if (static_cast<int32_t>(count) < 0 || count >= m_length) return nullptr;
        const uint64_t bytes = static_cast<uint64_t>(count) * size;
        uint64_t at = entryAt + 8ull;
        if (bytes > 4) {
            at = static_cast<uint64_t>(base) + field;
            if (at + bytes > m_length) return nullptr;
        }
        const uint8_t* src = m_block + at;
        const bool swap = m_motorola != kHostMotorola;

        // Bytes the tag keeps: UNDEFINED tags of the standard IFDs keep a
        // fixed part of the entry, except UserComment.
        uint64_t kept = bytes;
        if (type == kTypeUndefined) {
            if (kind != kNoteNone) kept = 4;
            else if (id == 0x0002 || id == 0x9000 || id == 0xA000) kept = 4;
            else if (id == 0xA300 || id == 0xA301) kept = 1;
            else if (id != kTagUserComment) kept = sizeof kUnknownFormat - 1;
        }
        if (!TakeBudget(kept)) return nullptr;

        std::unique_ptr<CEXIFTagBase> tag;
        auto make = [&](CEXIFTagBase* t, const uint8_t* raw, uint32_t n) {
            tag.reset(t);
            t->SetValues(raw, n, swap);
        };
        switch (type) {
            case kTypeByte: make(new CEXIFTagU8, src, count); break;
            case kTypeAscii: make(new CEXIFTagASCII, src, count); break;
            case kTypeShort: make(new CEXIFTagU16, src, count); break;
            case kTypeLong: make(new CEXIFTagU32, src, count); break;
            case kTypeRational: make(new CEXIFTagURat, src, count); break;
            case kTypeSByte: make(new CEXIFTagI8, src, count); break;
            case kTypeSShort: make(new CEXIFTagI16, src, count); break;
            case kTypeSLong: make(new CEXIFTagI32, src, count); break;
            case kTypeSRational: make(new CEXIFTagSRat, src, count); break;
            case kTypeFloat: make(new CEXIFTagR4, src, count); break;
            case kTypeDouble: make(new CEXIFTagR8, src, count); break;
            default:  // UNDEFINED
                if (kind != kNoteNone) make(new CEXIFTagASCII, valueField, 4);
                else if (kept == 4) make(new CEXIFTagU8, valueField, 4);
                else if (kept == 1) make(new CEXIFTagU8, valueField, 1);
                else if (id == kTagUserComment) make(new CEXIFTagU8, src, count);
                else make(new CEXIFTagU8, reinterpret_cast<const uint8_t*>(kUnknownFormat), 14);
                break;
        }
        tag->name = std::move(name);
        tag->tagId = id;
        tag->typeCode = type;
        tag->count = count;
        tag->valueField = field;
        ISEXIFTrace(", type : %d\n", type);
        return tag;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool CISRawEXIFParse::ParseMakerNote() {
    const CEXIFTagBase* make = FindTag(m_lists[kEXIFListIFD0], 0x010F);
    const CEXIFTagBase* note = FindTag(m_lists[kEXIFListExif], kTagMakerNote);
    if (!note) note = FindTag(m_lists[kEXIFListIFD0], kTagMakerNote);
    if (!note) note = FindTag(m_lists[kEXIFListIFD1], kTagMakerNote);
    if (!make || !note) return true;

    CISByteOrderGuard guard(m_motorola);
    bool ok = false;
    try {
        ok = WalkMakerNote(kTiffHeader + static_cast<uint64_t>(note->valueField), make->ValueText());
    } catch (...) {
        ok = false;
    }
    if (!ok) m_error = kRejected;
    return ok;
}

bool CISRawEXIFParse::WalkMakerNote(uint64_t start, const std::string& maker) {
    if (!Readable(start, 2)) return false;
    const uint8_t* p = m_block + start;
    uint32_t kind;
    uint64_t countAt = start;
    uint32_t base = kTiffHeader;
    if (maker == "Canon") {
        kind = kNoteCanon;
    } else if (maker == "FUJIFILM") {
        kind = kNoteFujifilm;
        m_motorola = false;
        uint32_t at = 0;
        if (!Read32(start + 8, &at)) return false;
        countAt = start + at;
        base = static_cast<uint32_t>(start);
    } else if (maker == "OLYMPUS OPTICAL CO.,LTD") {
        kind = kNoteOlympus;
        countAt = start + 8;
    } else if (maker == "CASIO") {
        kind = kNoteCasio;
    } else if (maker == "NIKON" || maker == "NIKON CORPORATION") {
        if (Readable(start, 7) && std::memcmp(p, "Nikon\0\2", 7) == 0) {
            if (!Readable(start + 10, 4)) return false;
            if (std::memcmp(p + 10, "MM\0*", 4) == 0) {
                kind = kNoteNikonMM;
                m_motorola = true;
            } else if (std::memcmp(p + 10, "II*\0", 4) == 0) {
                kind = kNoteNikonII;
                m_motorola = false;
            } else {
                return false;
            }
            uint32_t at = 0;
            if (!Read32(start + 14, &at)) return false;
            countAt = start + 10 + at;
        } else if (Readable(start, 5) && std::memcmp(p, "Nikon", 5) == 0) {
            kind = kNoteNikonHeader;
            countAt = start + 8;
        } else {
            kind = kNoteNikonPlain;
        }
    } else {
        return true;  // a maker without a known layout: nothing to read
    }

    uint16_t count = 0;
    if (!Read16(countAt, &count)) return false;
    const uint32_t basePosition = kind == kNoteCanon ? static_cast<uint32_t>(countAt + 2) : base;
    return ParseIFD(countAt + 2, count, m_lists[kEXIFListMakerNote], base, kind, basePosition);
}

void CISRawEXIFParse::DumpTags(const TagList& list) const {
    if (!ISEXIFTraceOn()) return;
    try {
        for (const auto& tag : list) {
            const std::string value = tag->ValueText();
            ISEXIFTrace("%s\t\t%s\t\tval: \"%s\"\n", tag->name.c_str(), tag->typeName, value.c_str());
        }
    } catch (...) {
        ISEXIFTrace("exception in EXIF tag dump\n");
    }
}
