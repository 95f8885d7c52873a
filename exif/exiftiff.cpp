// The EXIF reader's TIFF route: one page's IFD and its EXIF IFD, kept
// through the 117-row field table.
//
// libtiff opens the file and selects the page; the two directories are then
// read entry by entry from the same source, so that every value arrives
// exactly as stored (rationals as numerator and denominator) and converted
// to the type of its table row.
#include "exif/isexif.h"

#include "codec/istiff.h"

#include <cstring>
#include <new>

using namespace CISEXIFData;

const CISEXIFField kISEXIFFields[117] = {
    {0x0001, kTypeLong, 1, "InteroperabilityIndex"},
    {0x0002, kTypeLong, 1, "InteroperabilityVersion"},
    {0x0004, kTypeLong, 1, "GPS Latitude"},
    {0x0006, kTypeLong, 1, "GPS Altitude"},
    {0x0008, kTypeLong, 1, "GPS Sattelites"},
    {0x0009, kTypeLong, 1, "GPS Status"},
    {0x00FE, kTypeLong, 1, "NewSubfileType"},
    {0x00FF, kTypeLong, 1, "SubfileType"},
    {0x0100, kTypeLong, 1, "ImageWidth"},
    {0x0101, kTypeLong, 1, "ImageLength"},
    {0x0106, kTypeLong, 1, "PhotometricInterpretation"},
    {0x0111, kTypeLong, 1, "StripOffsets"},
    {0x0116, kTypeLong, 1, "RowsPerStrip"},
    {0x0117, kTypeLong, 1, "StripByteConunts"},
    {0x013D, kTypeLong, 1, "Predictor"},
    {0x0142, kTypeLong, 1, "TileWidth"},
    {0x0143, kTypeLong, 1, "TileLength"},
    {0x0144, kTypeLong, 1, "TileOffsets"},
    {0x0145, kTypeLong, 1, "TileByteCounts"},
    {0x014A, kTypeLong, 1, "SubIFDs"},
    {0x015B, kTypeLong, 1, "JPEGTables"},
    {0x0201, kTypeLong, 1, "JpegIFOffset"},
    {0x0202, kTypeLong, 1, "JpegIFByteCount"},
    {0x1000, kTypeLong, 1, "RelatedImageFileFormat"},
    {0x1001, kTypeLong, 1, "RelatedImageWidth"},
    {0x1002, kTypeLong, 1, "RelatedImageLength"},
    {0x828D, kTypeLong, 1, "CFARepeatPatternDim"},
    {0x828E, kTypeLong, 1, "CFAPattern"},
    {0x828F, kTypeLong, 1, "BatteryLevel"},
    {0x83BB, kTypeLong, 1, "IPTC/NAA"},
    {0x8769, kTypeLong, 1, "EXIFOffset"},
    {0x8773, kTypeLong, 1, "InterColorProfile"},
    {0x8825, kTypeLong, 1, "GPSInfo"},
    {0x8829, kTypeLong, 1, "Interlace"},
    {0x882A, kTypeLong, 1, "TimeZoneOffset"},
    {0x882B, kTypeLong, 1, "SelfTimerMode"},
    {0x920D, kTypeLong, 1, "Noise"},
    {0x9211, kTypeLong, 1, "ImageNumber"},
    {0x9212, kTypeLong, 1, "SecurityClassification"},
    {0x9213, kTypeLong, 1, "ImageHistory"},
    {0x9214, kTypeLong, 1, "SubjectLocation"},
    {0x9215, kTypeLong, 1, "ExposureIndex"},
    {0x9216, kTypeLong, 1, "TIFF/EPStandardID"},
    {0xA002, kTypeLong, 1, "ExifImageWidth"},
    {0xA003, kTypeLong, 1, "ExifImageHeight"},
    {0xA005, kTypeLong, 1, "ExifInteroperabilityOffset"},
    {0xA20B, kTypeLong, 1, "FlashEnergy"},
    {0xA20C, kTypeLong, 0, "SpatialFrequencyResponse"},
    {0x0100, kTypeShort, 1, "ImageWidth"},
    {0x0101, kTypeShort, 1, "ImageLength"},
    {0x0103, kTypeShort, 1, "Compression"},
    {0x0111, kTypeShort, 1, "StripOffsets"},
    {0x0112, kTypeShort, 1, "Orientation"},
    {0x0115, kTypeShort, 1, "SamplesPerPixel"},
    {0x0116, kTypeShort, 1, "RowsPerStrip"},
    {0x0117, kTypeShort, 1, "StripByteConunts"},
    {0x011C, kTypeShort, 1, "PlanarConfiguration"},
    {0x0128, kTypeShort, 1, "ResolutionUnit"},
    {0x0213, kTypeShort, 1, "YCbCrPositioning"},
    {0x8822, kTypeShort, 1, "ExposureProgram"},
    {0x9207, kTypeShort, 1, "MeteringMode"},
    {0x9208, kTypeShort, 1, "LightSource"},
    {0x9209, kTypeShort, 1, "Flash"},
    {0xA001, kTypeShort, 1, "ColorSpace"},
    {0xA002, kTypeShort, 1, "ExifImageWidth"},
    {0xA003, kTypeShort, 1, "ExifImageHeight"},
    {0xA210, kTypeShort, 1, "FocalPlaneResolutionUnit"},
    {0xA214, kTypeShort, 1, "SubjectLocation"},
    {0xA217, kTypeShort, 1, "SensingMethod"},
    {0x0212, kTypeShort, 2, "YCbCrSubSampling"},
    {0x0102, kTypeShort, 3, "BitsPerSample"},
    {0x012D, kTypeShort, 768, "XferFn"},
    {0x8827, kTypeShort, 0, "ISOSpeedRatings"},
    {0x010E, kTypeAscii, 0, "ImageDescription"},
    {0x010F, kTypeAscii, 0, "Make"},
    {0x0110, kTypeAscii, 0, "Model"},
    {0x0131, kTypeAscii, 0, "Software"},
    {0x013B, kTypeAscii, 0, "Artist"},
    {0x8298, kTypeAscii, 0, "Copyright"},
    {0x8824, kTypeAscii, 0, "SpectralSensitivity"},
    {0x9290, kTypeAscii, 0, "SubsecTime"},
    {0x9291, kTypeAscii, 0, "SubsecTimeOriginal"},
    {0x9292, kTypeAscii, 0, "SubsecTimeDigitized"},
    {0xA004, kTypeAscii, 13, "RelatedSoundFile"},
    {0x0132, kTypeAscii, 20, "DateTime"},
    {0x9003, kTypeAscii, 20, "DateTimeOriginal"},
    {0x9004, kTypeAscii, 20, "DateTimeDigitized"},
    {0x011A, kTypeRational, 1, "XResolution"},
    {0x011B, kTypeRational, 1, "YResolution"},
    {0x829A, kTypeRational, 1, "ExposureTime"},
    {0x829D, kTypeRational, 1, "FNumber"},
    {0x9102, kTypeRational, 1, "CompressedBitsPerPixel"},
    {0x9202, kTypeRational, 1, "ApertureValue"},
    {0x9205, kTypeRational, 1, "MaxApertureValue"},
    {0x9206, kTypeRational, 1, "SubjectDistance"},
    {0x920A, kTypeRational, 1, "FocalLength"},
    {0x920B, kTypeRational, 1, "FlashEnergy"},
    {0xA20E, kTypeRational, 1, "FocalPlaneXResolution"},
    {0xA20F, kTypeRational, 1, "FocalPlaneYResolution"},
    {0xA215, kTypeRational, 1, "ExposureIndex"},
    {0x013E, kTypeRational, 2, "WhitePoint"},
    {0x0211, kTypeRational, 3, "YCbCrCoefficients"},
    {0x013F, kTypeRational, 6, "PrimaryChromaticities"},
    {0x0214, kTypeRational, 6, "ReferenceBlackWhite"},
    {0x9201, kTypeSRational, 1, "ShutterSpeedValue"},
    {0x9203, kTypeSRational, 1, "BrightnessValue"},
    {0x9204, kTypeSRational, 1, "ExposureBiasValue"},
    {0xA300, kTypeUndefined, 1, "FileSource"},
    {0xA301, kTypeUndefined, 1, "SceneType"},
    {0x9000, kTypeUndefined, 4, "ExifVersion"},
    {0x9101, kTypeUndefined, 4, "ComponentsConfiguration"},
    {0xA000, kTypeUndefined, 4, "FlashPixVersion"},
    {0x8828, kTypeUndefined, 0, "OECF"},
    {0x920C, kTypeUndefined, 0, "SpatialFrequencyResponse"},
    {0x927C, kTypeUndefined, 0, "MakerNote"},
    {0x9286, kTypeUndefined, 0, "UserComment"},
    {0xA302, kTypeUndefined, 0, "CFAPattern"},
};

namespace {

constexpr uint16_t kTypeIFD = 13;
constexpr uint16_t kTypeLong8 = 16;
constexpr uint16_t kTypeSLong8 = 17;
constexpr uint16_t kTypeIFD8 = 18;
constexpr uint64_t kMaxEntries = 65535;

const CISEXIFField* FieldFor(uint16_t tagId) {
    for (const CISEXIFField& f : kISEXIFFields) {
        if (f.tagId == tagId) return &f;
    }
    return nullptr;
}

uint32_t ElementSize(uint16_t type) {
    switch (type) {
        case kTypeIFD: return 4;
        case kTypeLong8:
        case kTypeSLong8:
        case kTypeIFD8: return 8;
        default: return TypeSize(type);
    }
}

bool IsInteger(uint16_t type) {
    switch (type) {
        case kTypeByte: case kTypeShort: case kTypeLong: case kTypeSByte: case kTypeSShort: case kTypeSLong:
        case kTypeIFD: case kTypeLong8: case kTypeSLong8: case kTypeIFD8: return true;
        default: return false;
    }
}

bool IsBytes(uint16_t type) {
    return type == kTypeByte || type == kTypeAscii || type == kTypeSByte || type == kTypeUndefined;
}

struct CISTiffEntry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint64_t count = 0;
    uint8_t field[8] = {};  // the value field as stored (4 bytes in classic TIFF)
};

// Raw directory reading over the source, bounded by its size.
class CISTiffDirReader {
public:
    CISTiffDirReader(ISHANDLE source, bool motorola, bool big)
        : m_io(source), m_size(m_io.Size()), m_motorola(motorola), m_big(big) {
        m_budget = 2ull * m_size + 65536;
    }

    uint64_t Size() const { return m_size; }

    bool ReadAt(uint64_t at, void* out, uint64_t n) {
        if (n == 0) return true;
        if (at > m_size || n > m_size - at || at > 0x7FFFFFFFu || n > 0xFFFFFFFFu) return false;
        return m_io.Seek(static_cast<int64_t>(at), 0) && m_io.ReadExact(out, static_cast<uint32_t>(n));
    }

    uint64_t Unsigned(const uint8_t* p, uint32_t n) const {
        uint64_t v = 0;
        for (uint32_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[m_motorola ? i : n - 1 - i]) << (8 * (n - 1 - i));
        return v;
    }

    // The entries of the directory at offset; false when it cannot be read
    // whole (the entries read are still given).
    bool ReadDirectory(uint64_t offset, std::vector<CISTiffEntry>* entries) {
        const uint32_t countBytes = m_big ? 8 : 2;
        const uint32_t entryBytes = m_big ? 20 : 12;
        uint8_t head[8];
        if (!ReadAt(offset, head, countBytes)) return false;
        const uint64_t count = Unsigned(head, countBytes);
        if (count > kMaxEntries) return false;
        // A table cut short by the end of the file gives its whole entries.
        uint64_t whole = count;
        const uint64_t first = offset + countBytes;
        const uint64_t room = first < m_size ? (m_size - first) / entryBytes : 0;
        if (whole > room) whole = room;
        std::vector<uint8_t> raw(static_cast<size_t>(whole * entryBytes));
        if (!ReadAt(first, raw.data(), raw.size())) return false;
        entries->reserve(static_cast<size_t>(whole));
        for (uint64_t i = 0; i < whole; ++i) {
            const uint8_t* e = raw.data() + i * entryBytes;
            CISTiffEntry entry;
            entry.tag = static_cast<uint16_t>(Unsigned(e, 2));
            entry.type = static_cast<uint16_t>(Unsigned(e + 2, 2));
            entry.count = m_big ? Unsigned(e + 4, 8) : Unsigned(e + 4, 4);
            std::memcpy(entry.field, m_big ? e + 12 : e + 8, m_big ? 8 : 4);
            entries->push_back(entry);
        }
        return whole == count;
    }

    // The entry's values as stored; false when they lie outside the file
    // or exceed what the file could hold.
    bool Values(const CISTiffEntry& e, uint64_t maxCount, std::vector<uint8_t>* out, uint64_t* count) {
        const uint32_t size = ElementSize(e.type);
        if (size == 0 || e.count > m_size) return false;
        const uint64_t n = e.count < maxCount ? e.count : maxCount;
        const uint64_t bytes = n * size;
        const uint64_t stored = e.count * size;
        if (bytes > m_budget) return false;
        m_budget -= bytes;
        out->resize(static_cast<size_t>(bytes));
        *count = n;
        const uint32_t fieldBytes = m_big ? 8 : 4;
        if (stored <= fieldBytes) {
            if (bytes) std::memcpy(out->data(), e.field, static_cast<size_t>(bytes));
            return true;
        }
        return ReadAt(Unsigned(e.field, fieldBytes), out->data(), bytes);
    }

    // The first value of an integer entry (an IFD offset).
    bool FirstValue(const CISTiffEntry& e, uint64_t* v) {
        if (!IsInteger(e.type) || e.count == 0) return false;
        std::vector<uint8_t> raw;
        uint64_t n = 0;
        if (!Values(e, 1, &raw, &n) || n != 1) return false;
        *v = Unsigned(raw.data(), ElementSize(e.type));
        return true;
    }

    // Element i of raw values of the given type, as a signed integer.
    int64_t Integer(const uint8_t* raw, uint16_t type, uint64_t i) const {
        const uint32_t size = ElementSize(type);
        const uint64_t u = Unsigned(raw + i * size, size);
        switch (type) {
            case kTypeSByte: return static_cast<int8_t>(u);
            case kTypeSShort: return static_cast<int16_t>(u);
            case kTypeSLong: return static_cast<int32_t>(u);
            default: return static_cast<int64_t>(u);
        }
    }

    bool Motorola() const { return m_motorola; }

private:
    CISIO m_io;
    uint64_t m_size;
    bool m_motorola;
    bool m_big;
    uint64_t m_budget;
};

template <typename T>
void Hand(CEXIFTagBase* tag, const std::vector<T>& values) {
    const void* p = values.data();
    tag->SetValuesFrom(&p, static_cast<uint32_t>(values.size()));
}

// The tag of one kept entry, converted to the type of its table row; null
// when the entry's type cannot be converted or its values cannot be read.
std::unique_ptr<CEXIFTagBase> MakeTiffTag(CISTiffDirReader& dir, const CISTiffEntry& e, const CISEXIFField& row) {
    const uint64_t maxCount = row.valueCount ? row.valueCount : ~0ull;
    std::vector<uint8_t> raw;
    uint64_t n = 0;
    std::unique_ptr<CEXIFTagBase> tag;
    switch (row.typeCode) {
        case kTypeLong:
        case kTypeShort: {
            if (!IsInteger(e.type) || !dir.Values(e, maxCount, &raw, &n)) return nullptr;
            if (row.typeCode == kTypeLong) {
                std::vector<uint32_t> v(static_cast<size_t>(n));
                for (uint64_t i = 0; i < n; ++i) v[i] = static_cast<uint32_t>(dir.Integer(raw.data(), e.type, i));
                tag.reset(new CEXIFTagU32);
                Hand(tag.get(), v);
            } else {
                std::vector<uint16_t> v(static_cast<size_t>(n));
                for (uint64_t i = 0; i < n; ++i) v[i] = static_cast<uint16_t>(dir.Integer(raw.data(), e.type, i));
                tag.reset(new CEXIFTagU16);
                Hand(tag.get(), v);
            }
            break;
        }
        case kTypeRational:
        case kTypeSRational: {
            const bool rational = e.type == kTypeRational || e.type == kTypeSRational;
            if (!(rational || IsInteger(e.type)) || !dir.Values(e, maxCount, &raw, &n)) return nullptr;
            auto part = [&](uint64_t i, int half) -> uint32_t {
                if (!rational) return half ? 1u : static_cast<uint32_t>(dir.Integer(raw.data(), e.type, i));
                return static_cast<uint32_t>(dir.Unsigned(raw.data() + i * 8 + 4 * half, 4));
            };
            if (row.typeCode == kTypeRational) {
                std::vector<URational> v(static_cast<size_t>(n));
                for (uint64_t i = 0; i < n; ++i) v[i] = URational{part(i, 0), part(i, 1)};
                tag.reset(new CEXIFTagURat);
                Hand(tag.get(), v);
            } else {
                std::vector<SRational> v(static_cast<size_t>(n));
                for (uint64_t i = 0; i < n; ++i) {
                    v[i] = SRational{static_cast<int32_t>(part(i, 0)), static_cast<int32_t>(part(i, 1))};
                }
                tag.reset(new CEXIFTagSRat);
                Hand(tag.get(), v);
            }
            break;
        }
        default: {  // ASCII and UNDEFINED rows: one text up to the first zero byte
            if (!IsBytes(e.type) || !dir.Values(e, ~0ull, &raw, &n)) return nullptr;
            tag.reset(new CEXIFTagASCII);
            const void* p = raw.data();
            tag->SetValuesFrom(&p, static_cast<uint32_t>(n));
            break;
        }
    }
    tag->name = row.name;
    tag->tagId = row.tagId;
    tag->typeCode = row.typeCode;
    tag->count = static_cast<uint32_t>(n);
    tag->valueField = 0;
    tag->entryPosition = kNoPosition;
    tag->basePosition = kNoPosition;
    tag->motorola = dir.Motorola() ? 1 : 0;
    tag->tiffRoute = 1;
    return tag;
}

// Keeps the entries of the field table; an entry that cannot be made is
// skipped, like one outside the table.
void WalkDirectory(CISTiffDirReader& dir, const std::vector<CISTiffEntry>& entries, TagList& list) {
    for (const CISTiffEntry& e : entries) {
        const CISEXIFField* row = FieldFor(e.tag);
        if (!row) continue;
        std::unique_ptr<CEXIFTagBase> tag;
        try {
            tag = MakeTiffTag(dir, e, *row);
        } catch (const std::bad_alloc&) {
            continue;
        }
        if (!tag) continue;
        if (ISEXIFTraceOn()) {
            const std::string value = tag->ValueText();
            ISEXIFTrace("AddEXIFTag %#4x %s (items: %d) = %s\n", tag->tagId, tag->name.c_str(),
                        static_cast<int>(tag->count), value.c_str());
        }
        list.push_back(std::move(tag));
    }
}

}  // namespace

bool CISEXIFReader::LoadTiff(ISHANDLE source, uint32_t page) {
    CISIO io(source);
    if (!io.Seek(0, 0)) {
        SetLastError(IS_ERR_READ);
        return false;
    }
    uint64_t dirOffset = 0;
    bool motorola = false, big = false;
    {
        CISTiffFile file;
        if (!file.OpenRead(source)) {
            SetLastError(file.Error() ? file.Error() : static_cast<uint32_t>(IS_ERR_FORMAT));
            return false;
        }
        TIFF* tif = file.Get();
        if (page > 0 && (page > 0xFFFFu || !TIFFSetDirectory(tif, static_cast<tdir_t>(page)))) {
            SetLastError(IS_ERR_PARAM);
            return false;
        }
        dirOffset = TIFFCurrentDirOffset(tif);
        motorola = TIFFIsBigEndian(tif) != 0;
        big = TIFFIsBigTIFF(tif) != 0;
        file.Close();
    }

    CISTiffDirReader dir(source, motorola, big);
    std::vector<CISTiffEntry> page0;
    dir.ReadDirectory(dirOffset, &page0);
    const CISTiffEntry* pointer = nullptr;
    for (const CISTiffEntry& e : page0) {
        if (e.tag == kTagExifIFD) {
            pointer = &e;
            break;
        }
    }
    // The page's own directory counts even without an EXIF IFD: many
    // scanners and editors store the orientation only there.
    WalkDirectory(dir, page0, m_lists[kEXIFListIFD0]);
    uint64_t exifOffset = 0;
    if (pointer && dir.FirstValue(*pointer, &exifOffset)) {
        std::vector<CISTiffEntry> exif;
        dir.ReadDirectory(exifOffset, &exif);
        WalkDirectory(dir, exif, m_lists[kEXIFListExif]);
    }
    return true;
}
