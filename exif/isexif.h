// EXIF reader internals: typed tags, tag names, the block parser and the
// reader object behind the opaque IS40_EXIF handle.
#ifndef ISEXIF_H
#define ISEXIF_H

#include "codec/IS40.h"
#include "codec/isframe.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace CISEXIFData {

// EXIF type codes.
enum : uint16_t {
    kTypeByte = 1, kTypeAscii = 2, kTypeShort = 3, kTypeLong = 4, kTypeRational = 5, kTypeSByte = 6,
    kTypeUndefined = 7, kTypeSShort = 8, kTypeSLong = 9, kTypeSRational = 10, kTypeFloat = 11, kTypeDouble = 12
};

// Maker-note kinds; 0 is the standard table.
enum : uint32_t {
    kNoteNone = 0, kNoteCanon = 1, kNoteNikonHeader = 2, kNoteNikonPlain = 3, kNoteNikonMM = 4,
    kNoteNikonII = 5, kNoteFujifilm = 6, kNoteOlympus = 7, kNoteCasio = 8
};

constexpr uint32_t kNoPosition = 0xFFFFFFFFu;

// Tags the reader acts on.
enum : uint16_t {
    kTagJpegIFOffset = 0x0201, kTagJpegIFByteCount = 0x0202, kTagExifIFD = 0x8769, kTagGpsIFD = 0x8825,
    kTagMakerNote = 0x927C, kTagUserComment = 0x9286, kTagInteropIFD = 0xA005
};

// Element size of an EXIF type, 0 for codes outside 1 to 12.
uint32_t TypeSize(uint32_t typeCode);

// The name of tag id in the table of a maker-note kind (0: standard).
std::string TagName(uint16_t tagId, uint32_t kind);

struct URational {
    uint32_t num, den;
};
struct SRational {
    int32_t num, den;
};

// One tag of an IFD. Each derived class holds its values as an array of
// its element type and counts them itself; `count` keeps what the entry
// declared.
class CEXIFTagBase {
public:
    virtual ~CEXIFTagBase() = default;

    // Appends count values from *array (elements of the class's type; for
    // CEXIFTagASCII, count characters forming one text), no byte swapping.
    virtual void SetValuesFrom(const void* const* array, uint32_t count) = 0;
    // Appends count values decoded from raw bytes, byte-reversing
    // multi-byte elements when swap is set; returns the number of values.
    virtual uint32_t SetValues(const uint8_t* raw, uint32_t count, bool swap) = 0;
    virtual std::string ValueText() const = 0;
    // The values in a new zero-filled library block; false when there are
    // none or the block cannot be had.
    virtual bool CopyValues(uint8_t** out, uint32_t* outLen) const = 0;

    virtual uint32_t ValueCount() const = 0;

    std::string name;
    const char* typeName = "";
    uint16_t tagId = 0;
    uint16_t typeCode = 0;
    uint32_t count = 0;
    uint32_t valueField = 0;
    uint32_t entryPosition = kNoPosition;
    uint32_t basePosition = kNoPosition;
    uint8_t motorola = 0;
    uint8_t tiffRoute = 0;

protected:
    explicit CEXIFTagBase(const char* type) : typeName(type) {}
};

// Tags of one numeric element type.
template <typename T>
class CEXIFTagArray : public CEXIFTagBase {
public:
    void SetValuesFrom(const void* const* array, uint32_t count) override;
    uint32_t SetValues(const uint8_t* raw, uint32_t count, bool swap) override;
    std::string ValueText() const override;
    bool CopyValues(uint8_t** out, uint32_t* outLen) const override;
    uint32_t ValueCount() const override { return static_cast<uint32_t>(values.size()); }

    std::vector<T> values;

protected:
    explicit CEXIFTagArray(const char* type) : CEXIFTagBase(type) {}
    // One value as text.
    virtual void Format(const T& v, std::string* out) const = 0;
};

#define IS_EXIF_NUMERIC_TAG(Class, Type, Short)                                         \
    class Class final : public CEXIFTagArray<Type> {                                    \
    public:                                                                             \
        Class() : CEXIFTagArray<Type>(Short) {}                                         \
                                                                                        \
    protected:                                                                          \
        void Format(const Type& v, std::string* out) const override;                    \
    }

IS_EXIF_NUMERIC_TAG(CEXIFTagU8, uint8_t, "U8");
IS_EXIF_NUMERIC_TAG(CEXIFTagI8, int8_t, "I8");
IS_EXIF_NUMERIC_TAG(CEXIFTagU16, uint16_t, "U16");
IS_EXIF_NUMERIC_TAG(CEXIFTagI16, int16_t, "I16");
IS_EXIF_NUMERIC_TAG(CEXIFTagU32, uint32_t, "U32");
IS_EXIF_NUMERIC_TAG(CEXIFTagI32, int32_t, "I32");
IS_EXIF_NUMERIC_TAG(CEXIFTagURat, URational, "UR");
IS_EXIF_NUMERIC_TAG(CEXIFTagSRat, SRational, "SR");
IS_EXIF_NUMERIC_TAG(CEXIFTagR4, float, "R4");
IS_EXIF_NUMERIC_TAG(CEXIFTagR8, double, "R8");

#undef IS_EXIF_NUMERIC_TAG

// Texts: ASCII tags, and UNDEFINED ones in maker notes and on the TIFF route.
class CEXIFTagASCII final : public CEXIFTagBase {
public:
    CEXIFTagASCII() : CEXIFTagBase("A") {}
    void SetValuesFrom(const void* const* array, uint32_t count) override;
    // One text from count bytes, ending at the first zero byte.
    uint32_t SetValues(const uint8_t* raw, uint32_t count, bool swap) override;
    std::string ValueText() const override;
    bool CopyValues(uint8_t** out, uint32_t* outLen) const override;
    uint32_t ValueCount() const override { return static_cast<uint32_t>(texts.size()); }

    std::vector<std::string> texts;

private:
    // All texts, each with its terminating zero.
    std::string Packed() const;
};

using TagList = std::vector<std::unique_ptr<CEXIFTagBase>>;

// The first tag with the id, or null.
const CEXIFTagBase* FindTag(const TagList& list, uint16_t tagId);

}  // namespace CISEXIFData

// The six lists of a reader, in mask-bit order.
enum : uint32_t { kEXIFListIFD0 = 0, kEXIFListExif, kEXIFListInterop, kEXIFListIFD1, kEXIFListGPS,
                  kEXIFListMakerNote, kEXIFListCount };

// Names of the lists, for dumps.
const char* ISEXIFListName(uint32_t list);

struct CISEXIFLists {
    CISEXIFData::TagList lists[kEXIFListCount];
    CISEXIFData::TagList& operator[](uint32_t i) { return lists[i]; }
    const CISEXIFData::TagList& operator[](uint32_t i) const { return lists[i]; }
};

// Parses one EXIF block (4-byte lead, "Exif", two bytes, TIFF header at
// offset 10) into the six lists.
class CISRawEXIFParse {
public:
    static constexpr uint32_t kRejected = 56;
    static constexpr uint32_t kTiffHeader = 10;

    CISRawEXIFParse(const uint8_t* block, uint32_t length) : m_block(block), m_length(length) {}

    // False when the block is rejected (error 56); damaged sub-IFDs and
    // maker notes only lose their tags.
    bool ParseBlock(bool makerNotes);

    uint32_t Error() const { return m_error; }
    CISEXIFLists& Lists() { return m_lists; }

    // The tag of one 12-byte entry at block offset entryAt, with values
    // counted from base; null when no tag results.
    std::unique_ptr<CISEXIFData::CEXIFTagBase> CreateTag(uint32_t entryAt, uint32_t base, uint32_t kind);

private:
    bool Readable(uint64_t at, uint64_t n) const { return at + n <= m_length; }
    uint16_t Get16(uint64_t at) const;
    uint32_t Get32(uint64_t at) const;
    bool Read16(uint64_t at, uint16_t* v) const;
    bool Read32(uint64_t at, uint32_t* v) const;

    // Walks count entries starting at block offset entries into list.
    bool ParseIFD(uint64_t entries, uint32_t entryCount, CISEXIFData::TagList& list, uint32_t base, uint32_t kind,
                  uint32_t basePosition);
    // An IFD at offset (from the TIFF header) into list; false only for
    // the bad count or a failed walk, which keeps the tags read before.
    void ParseSubIFD(uint32_t offset, CISEXIFData::TagList& list, const char* badOffset, const char* badCount,
                     const char* badData);
    bool ParseMakerNote();
    bool WalkMakerNote(uint64_t start, const std::string& maker);
    void DumpTags(const CISEXIFData::TagList& list) const;
    bool TakeBudget(uint64_t bytes);

    uint32_t m_error = 0;
    CISEXIFLists m_lists;
    bool m_motorola = false;
    const uint8_t* m_block;
    uint32_t m_length;
    uint64_t m_valueBudget = 0;
};

// The reader behind the opaque handle of IS40_EXIFCreateReader.
class CISEXIFReader {
public:
    CISEXIFReader() = default;
    ~CISEXIFReader();
    CISEXIFReader(const CISEXIFReader&) = delete;
    CISEXIFReader& operator=(const CISEXIFReader&) = delete;

    // Fills the reader from the source; false when it holds no usable
    // EXIF data. LastError() tells why.
    bool Load(ISHANDLE source, uint32_t flags, uint32_t page);

    uint32_t LastError() const { return m_lastError.load(); }
    void SetLastError(uint32_t code) { m_lastError.store(code); }
    // The outcome of thumbnail extraction at creation (65 when it failed).
    uint32_t ThumbnailError() const { return m_thumbError; }

    const CISEXIFLists& Lists() const { return m_lists; }
    CISEXIFLists& Lists() { return m_lists; }

    // The first tag with tagId in the lists of mask, or null.
    const CISEXIFData::CEXIFTagBase* Find(uint32_t tagId, uint32_t mask) const;
    // The thumbnail (tag 0x0201) or the user-comment copy (tag 0x9286).
    bool GetBlock(uint32_t tagId, const uint8_t** data, uint32_t* length, uint32_t* error) const;

private:
    bool LoadJpeg(ISHANDLE source, uint32_t flags);
    bool LoadRaw(ISHANDLE source, uint32_t flags);
    bool LoadTiff(ISHANDLE source, uint32_t page);
    // Runs the parser on one block and keeps what it found.
    bool ParseAndExtract(const uint8_t* block, uint32_t length, uint32_t flags);
    bool ExtractThumbnail(const uint8_t* block, uint32_t length);
    bool CopyUserComment();
    void FreeBlocks();

    std::atomic<uint32_t> m_lastError{0};
    uint32_t m_thumbError = 0;
    CISEXIFLists m_lists;
    uint8_t* m_thumb = nullptr;
    uint32_t m_thumbLength = 0;
    uint8_t* m_comment = nullptr;
    uint32_t m_commentLength = 0;
};

// The live reader behind an opaque handle, or null for a null, freed or
// foreign pointer.
CISEXIFReader* ISEXIFReaderFrom(const void* handle);

// Leading decimal number of a value text: blanks, optional sign, digits;
// 0 without one. Saturates instead of overflowing.
int64_t ISEXIFLeadingNumber(const std::string& text);

// The TIFF route's field table.
struct CISEXIFField {
    uint16_t tagId;
    uint16_t typeCode;
    uint16_t valueCount;  // 0: the entry's own count
    const char* name;
};
extern const CISEXIFField kISEXIFFields[117];

// The reader's debug trace; off unless enabled (tests switch it on to run
// the dump paths).
void ISEXIFSetTrace(bool on);
bool ISEXIFTraceOn();
// The calling thread's trace lines since the last call.
std::string ISEXIFTakeTrace();
void ISEXIFTrace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#endif
