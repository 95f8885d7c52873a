// The EXIF reader: JPEG and raw routes, thumbnail and user-comment copies,
// and the four IS40_EXIF entry points.
#include "exif/isexif.h"

#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <unordered_set>

using namespace CISEXIFData;
using ZerUvadod::ISException;

namespace {

constexpr uint32_t kAPP1 = 0xE1;
constexpr uint32_t kLeadBytes = 4;

// Live readers: a freed or foreign pointer is refused instead of read.
class CISReaderRegistry {
public:
    void Add(const void* r) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_live.insert(r);
    }
    bool Take(const void* r) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_live.erase(r) != 0;
    }
    bool Contains(const void* r) {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_live.count(r) != 0;
    }

private:
    std::mutex m_lock;
    std::unordered_set<const void*> m_live;
};

CISReaderRegistry& Readers() {
    static CISReaderRegistry registry;
    return registry;
}

// The JPEG header as stored, from SOI to the end of the SOS segment's
// header, read segment by segment so that neither the compressed data nor
// more than a small look-ahead is read. False for any layout other than
// plain length-prefixed segments (fill bytes, stand-alone markers, a cut
// file): the caller then lets the JPEG codec read the source itself.
bool ReadHeaderSegments(CISIO& io, std::vector<uint8_t>* out) {
    constexpr uint32_t kLookAhead = 4096;
    constexpr uint64_t kMaxHeader = 64ull << 20;
    out->clear();
    // Makes the first `need` bytes available, reading a little beyond.
    auto ensure = [&](uint64_t need) {
        if (need <= out->size()) return true;
        if (need > kMaxHeader) return false;
        const size_t have = out->size();
        const size_t want = static_cast<size_t>(need - have) + kLookAhead;
        out->resize(have + want);
        const uint32_t got = io.Read(out->data() + have, static_cast<uint32_t>(want));
        out->resize(have + got);
        return need <= out->size();
    };
    if (!ensure(2) || (*out)[0] != 0xFF || (*out)[1] != 0xD8) return false;
    uint64_t pos = 2;
    for (;;) {
        if (!ensure(pos + 4)) return false;
        const uint8_t* m = out->data() + pos;
        if (m[0] != 0xFF) return false;
        const uint8_t marker = m[1];
        if (marker == 0xFF || marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9)) return false;
        const uint32_t length = (static_cast<uint32_t>(m[2]) << 8) | m[3];
        if (length < 2 || !ensure(pos + 2 + length)) return false;
        pos += 2 + length;
        if (marker == 0xDA) break;
    }
    out->resize(static_cast<size_t>(pos));
    // An end marker after the scan header keeps the decoder from asking for more.
    out->push_back(0xFF);
    out->push_back(0xD9);
    return true;
}

}  // namespace

CISEXIFReader* ISEXIFReaderFrom(const void* handle) {
    if (!handle || !Readers().Contains(handle)) return nullptr;
    return static_cast<CISEXIFReader*>(const_cast<void*>(handle));
}

int64_t ISEXIFLeadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == '\f' || text[i] == '\v')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max() / 10 - 10;
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (v < kMax) v = v * 10 + (text[i] - '0');
    }
    return negative ? -v : v;
}

CISEXIFReader::~CISEXIFReader() { FreeBlocks(); }

void CISEXIFReader::FreeBlocks() {
    m_thumb = static_cast<uint8_t*>(IS40_GlobalFree(m_thumb));
    m_thumbLength = 0;
    m_comment = static_cast<uint8_t*>(IS40_GlobalFree(m_comment));
    m_commentLength = 0;
}

const CEXIFTagBase* CISEXIFReader::Find(uint32_t tagId, uint32_t mask) const {
    if (tagId > 0xFFFFu) return nullptr;
    for (uint32_t list = 0; list < kEXIFListCount; ++list) {
        if (!(mask & (1u << list))) continue;
        if (const CEXIFTagBase* tag = FindTag(m_lists[list], static_cast<uint16_t>(tagId))) return tag;
    }
    return nullptr;
}

bool CISEXIFReader::GetBlock(uint32_t tagId, const uint8_t** data, uint32_t* length, uint32_t* error) const {
    *data = nullptr;
    *length = 0;
    if (tagId == kTagJpegIFOffset) {
        if (!m_thumb) {
            *error = m_thumbError;
            return false;
        }
        *data = m_thumb;
        *length = m_thumbLength;
    } else if (tagId == kTagUserComment && m_comment) {
        *data = m_comment;
        *length = m_commentLength;
    } else {
        *error = IS_ERR_EXIF_NOT_FOUND;
        return false;
    }
    *error = 0;
    return true;
}

bool CISEXIFReader::Load(ISHANDLE source, uint32_t flags, uint32_t page) {
    SetLastError(0);
    m_thumbError = 0;
    FreeBlocks();
    bool ok = false;
    if (flags & IS_EXIF_RAW) {
        ok = LoadRaw(source, flags);
    } else {
        CISIO io(source);
        if (!io.Seek(0, 0)) {
            SetLastError(IS_ERR_READ);
            return false;
        }
        const uint32_t type = IS40_GuessFileType(source);
        SetLastError(IS40_GetLastError());
        if (type == IS_FT_JPEG) {
            ok = LoadJpeg(source, flags);
        } else if (type == IS_FT_TIFF) {
            ok = LoadTiff(source, page);
        } else if (type != IS_FT_UNKNOWN) {
            SetLastError(IS_ERR_PARAM);
        }
    }
    ISEXIFTrace("EXIF Tags: %d, Interop: %d, IFD1: %d, exifIFD:%d, GPS: %d\n",
                static_cast<int>(m_lists[kEXIFListIFD0].size()), static_cast<int>(m_lists[kEXIFListInterop].size()),
                static_cast<int>(m_lists[kEXIFListIFD1].size()), static_cast<int>(m_lists[kEXIFListExif].size()),
                static_cast<int>(m_lists[kEXIFListGPS].size()));
    return ok;
}

bool CISEXIFReader::LoadJpeg(ISHANDLE source, uint32_t flags) {
    CISIO io(source);
    if (!io.Seek(0, 0)) {
        SetLastError(IS_ERR_READ);
        return false;
    }
    // The codec reads the header from a copy of its segments, so that the
    // source is read no further than the header. When the segments cannot
    // be read plainly, or the copy fails, it reads the source itself.
    std::vector<CISJpegMarker> markers;
    uint32_t error = 0;
    std::vector<uint8_t> header;
    ISHANDLE copy = nullptr;
    if (ReadHeaderSegments(io, &header) && header.size() <= 0xFFFFFFFFu) {
        copy = IS40_OpenMemorySource(header.data(), static_cast<uint32_t>(header.size()));
    }
    if (copy) {
        error = ISReadJPGMarkers(copy, &markers);
        IS40_CloseSource(copy);
    }
    if (!copy || error) {
        markers.clear();
        if (!io.Seek(0, 0)) {
            SetLastError(IS_ERR_READ);
            return false;
        }
        error = ISReadJPGMarkers(source, &markers);
    }
    if (error) {
        SetLastError(error);
        return false;
    }
    std::vector<uint8_t> block;
    for (const CISJpegMarker& m : markers) {
        if (m.marker != kAPP1 || m.data.empty()) continue;
        const uint32_t payload = static_cast<uint32_t>(m.data.size());
        const uint32_t length = payload + kLeadBytes;
        block.resize(length);
        // The lead stands where the marker and its length field were.
        block[0] = 0xFF;
        block[1] = static_cast<uint8_t>(kAPP1);
        block[2] = static_cast<uint8_t>((payload + 2) >> 8);
        block[3] = static_cast<uint8_t>(payload + 2);
        std::memcpy(block.data() + kLeadBytes, m.data.data(), payload);
        if (ParseAndExtract(block.data(), length, flags)) return true;
    }
    SetLastError(0);
    return false;
}

bool CISEXIFReader::LoadRaw(ISHANDLE source, uint32_t flags) {
    CISIO io(source);
    if (!io.Seek(0, 0)) {
        SetLastError(IS_ERR_READ);
        return false;
    }
    const uint32_t size = io.Size();
    if (size == 0) {
        SetLastError(IS_ERR_READ);
        return false;
    }
    CISInternalAllocator buffer;
    if (!buffer.Alloc(size)) {
        SetLastError(IS_ERR_MEMORY);
        return false;
    }
    const uint32_t got = io.Read(buffer.Get(), size);
    if (got == 0) {
        SetLastError(IS_ERR_READ);
        return false;
    }
    return ParseAndExtract(buffer.Get(), got, flags);
}

bool CISEXIFReader::ParseAndExtract(const uint8_t* block, uint32_t length, uint32_t flags) {
    // A rejected block leaves nothing behind: only the block that parses
    // fills the reader.
    CISRawEXIFParse parser(block, length);
    if (!parser.ParseBlock((flags & IS_EXIF_MAKER_NOTE) != 0)) return false;
    for (uint32_t i = 0; i < kEXIFListCount; ++i) m_lists[i] = std::move(parser.Lists()[i]);
    if ((flags & IS_EXIF_THUMBNAIL) && !ExtractThumbnail(block, length)) {
        m_thumbError = IS_ERR_EXIF_PART;
        SetLastError(IS_ERR_EXIF_PART);
    }
    if ((flags & IS_EXIF_USER_COMMENT) && !CopyUserComment()) SetLastError(IS_ERR_EXIF_PART);
    return true;
}

bool CISEXIFReader::ExtractThumbnail(const uint8_t* block, uint32_t length) {
    const TagList& ifd1 = m_lists[kEXIFListIFD1];
    const CEXIFTagBase* offsetTag = FindTag(ifd1, kTagJpegIFOffset);
    if (!offsetTag) return false;
    const int64_t offset = ISEXIFLeadingNumber(offsetTag->ValueText());
    if (offset < 1 || offset >= static_cast<int64_t>(length)) return false;
    const CEXIFTagBase* lengthTag = FindTag(ifd1, kTagJpegIFByteCount);
    if (!lengthTag) return false;
    const int64_t bytes = ISEXIFLeadingNumber(lengthTag->ValueText());
    if (bytes < 1 || bytes > static_cast<int64_t>(length)) return false;
    if (CISRawEXIFParse::kTiffHeader + offset + bytes > static_cast<int64_t>(length)) return false;
    uint8_t* thumb = static_cast<uint8_t*>(IS40_GlobalAlloc(kISZeroInit, static_cast<uint64_t>(bytes)));
    if (!thumb) return false;
    std::memcpy(thumb, block + CISRawEXIFParse::kTiffHeader + offset, static_cast<size_t>(bytes));
    IS40_GlobalFree(m_thumb);
    m_thumb = thumb;
    m_thumbLength = static_cast<uint32_t>(bytes);
    return true;
}

bool CISEXIFReader::CopyUserComment() {
    const auto* tag = dynamic_cast<const CEXIFTagU8*>(FindTag(m_lists[kEXIFListExif], kTagUserComment));
    if (!tag || tag->values.empty()) return false;
    uint8_t* copy = nullptr;
    uint32_t length = 0;
    if (!tag->CopyValues(&copy, &length)) return false;
    IS40_GlobalFree(m_comment);
    m_comment = copy;
    m_commentLength = length;
    return true;
}

// ---- entry points -------------------------------------------------------------

extern "C" {

ISEXIFREADER IS40_EXIFCreateReader(ISHANDLE source, uint32_t page, uint32_t flags) {
    static const char kName[] = "IS40_EXIFCreateReader";
    if (!ISEnter(kName, false, source)) return nullptr;
    CISEXIFReader* reader = new (std::nothrow) CISEXIFReader();
    if (!reader) {
        ISRecordError(IS_ERR_MEMORY, kName);
        return nullptr;
    }
    bool ok = false;
    try {
        ok = reader->Load(source, flags, page);
    } catch (const ISException& e) {
        reader->SetLastError(e.Code() ? e.Code() : static_cast<uint32_t>(IS_ERR_VARIANT));
    } catch (const std::bad_alloc&) {
        reader->SetLastError(IS_ERR_MEMORY);
    } catch (...) {
        reader->SetLastError(IS_ERR_VARIANT);
    }
    if (ok) {
        try {
            Readers().Add(reader);
        } catch (...) {
            reader->SetLastError(IS_ERR_MEMORY);
            ok = false;
        }
    }
    const uint32_t code = reader->LastError();
    if (!ok) {
        delete reader;
        reader = nullptr;
    }
    ISRecordError(code, kName);
    return reader;
}

IS_BOOL IS40_EXIFDestroyReader(ISEXIFREADER handle) {
    static const char kName[] = "IS40_EXIFDestroyReader";
    if (!ISThreadState()) return 0;
    if (!handle) return 1;
    if (!Readers().Take(handle)) {
        ISRecordError(IS_ERR_PARAM, kName);
        return 0;
    }
    try {
        delete static_cast<CISEXIFReader*>(handle);
    } catch (...) {
        ISRecordError(IS_ERR_PARAM, kName);
        return 0;
    }
    ISRecordError(IS_ERR_NONE, kName);
    return 1;
}

IS_BOOL IS40_EXIFGetString(ISEXIFREADER handle, uint32_t tagId, uint32_t listMask, char** text, uint32_t* length) {
    static const char kName[] = "IS40_EXIFGetString";
    CISThreadState* state = ISThreadState();
    if (!state) return 0;
    state->Record(0, kName);
    if (text) *text = nullptr;
    if (length) *length = 0;
    CISEXIFReader* reader = ISEXIFReaderFrom(handle);
    if (!reader || !text || !length) {
        state->Record(IS_ERR_PARAM, kName);
        return 0;
    }
    try {
        reader->SetLastError(0);
        const CEXIFTagBase* tag = reader->Find(tagId, listMask);
        if (!tag) {
            reader->SetLastError(IS_ERR_EXIF_NOT_FOUND);
            state->Record(IS_ERR_EXIF_NOT_FOUND, kName);
            return 1;
        }
        const std::string value = tag->ValueText();
        char* block = static_cast<char*>(IS40_GlobalAlloc(kISZeroInit, static_cast<uint64_t>(value.size()) + 1));
        if (!block) {
            state->Record(IS_ERR_MEMORY, kName);
            return 0;
        }
        std::memcpy(block, value.data(), value.size());
        *text = block;
        *length = static_cast<uint32_t>(value.size());
        return 1;
    } catch (const std::bad_alloc&) {
        state->Record(IS_ERR_MEMORY, kName);
    } catch (...) {
        state->Record(IS_ERR_VARIANT, kName);
    }
    return 0;
}

IS_BOOL IS40_EXIFGetThumbnail(ISEXIFREADER handle, const uint8_t** data, uint32_t* length) {
    static const char kName[] = "IS40_EXIFGetThumbnail";
    CISThreadState* state = ISThreadState();
    if (!state) return 0;
    state->Record(0, kName);
    if (data) *data = nullptr;
    if (length) *length = 0;
    const CISEXIFReader* reader = ISEXIFReaderFrom(handle);
    if (!reader || !data || !length) {
        state->Record(IS_ERR_PARAM, kName);
        return 0;
    }
    try {
        uint32_t error = 0;
        if (reader->GetBlock(kTagJpegIFOffset, data, length, &error)) return 1;
        state->Record(error, kName);
    } catch (...) {
        state->Record(IS_ERR_VARIANT, kName);
    }
    return 0;
}

}  // extern "C"
