// Typed EXIF tags: value decoding, value texts and the tag name tables.
#include "exif/isexif.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

using ZerUvadod::ISException;

namespace CISEXIFData {

namespace {

struct CISTagNameRow {
    uint16_t id;
    const char* name;
};

const CISTagNameRow kStandardNames[] = {
    {0x0000, "Tag zero"},
    {0x0001, "InteroperabilityIndex"},
    {0x0002, "InteroperabilityVersion"},
    {0x0004, "GPS Latitude"},
    {0x0006, "GPS Altitude"},
    {0x0008, "GPS Sattelites"},
    {0x0009, "GPS Status"},
    {0x00FE, "NewSubfileType"},
    {0x00FF, "SubfileType"},
    {0x0100, "ImageWidth"},
    {0x0101, "ImageLength"},
    {0x0102, "BitsPerSample"},
    {0x0103, "Compression"},
    {0x0106, "PhotometricInterpretation"},
    {0x010E, "ImageDescription"},
    {0x010F, "Make"},
    {0x0110, "Model"},
    {0x0111, "StripOffsets"},
    {0x0112, "Orientation"},
    {0x0115, "SamplesPerPixel"},
    {0x0116, "RowsPerStrip"},
    {0x0117, "StripByteConunts"},
    {0x011A, "XResolution"},
    {0x011B, "YResolution"},
    {0x011C, "PlanarConfiguration"},
    {0x0128, "ResolutionUnit"},
    {0x012D, "XferFn"},
    {0x0131, "Software"},
    {0x0132, "DateTime"},
    {0x013B, "Artist"},
    {0x013D, "Predictor"},
    {0x013E, "WhitePoint"},
    {0x013F, "PrimaryChromaticities"},
    {0x0142, "TileWidth"},
    {0x0143, "TileLength"},
    {0x0144, "TileOffsets"},
    {0x0145, "TileByteCounts"},
    {0x014A, "exifIFDs"},
    {0x015B, "JPEGTables"},
    {0x0201, "JpegIFOffset"},
    {0x0202, "JpegIFByteCount"},
    {0x0211, "YCbCrCoefficients"},
    {0x0212, "YCbCrSubSampling"},
    {0x0213, "YCbCrPositioning"},
    {0x0214, "ReferenceBlackWhite"},
    {0x1000, "RelatedImageFileFormat"},
    {0x1001, "RelatedImageWidth"},
    {0x1002, "RelatedImageLength"},
    {0x828D, "CFARepeatPatternDim"},
    {0x828E, "CFAPattern"},
    {0x828F, "BatteryLevel"},
    {0x8298, "Copyright"},
    {0x829A, "ExposureTime"},
    {0x829D, "FNumber"},
    {0x83BB, "IPTC/NAA"},
    {0x8769, "EXIFOffset"},
    {0x8773, "InterColorProfile"},
    {0x8822, "ExposureProgram"},
    {0x8824, "SpectralSensitivity"},
    {0x8825, "GPSOffset"},
    {0x8827, "ISOSpeedRatings"},
    {0x8828, "OECF"},
    {0x8829, "Interlace"},
    {0x882A, "TimeZoneOffset"},
    {0x882B, "SelfTimerMode"},
    {0x9000, "ExifVersion"},
    {0x9003, "DateTimeOriginal"},
    {0x9004, "DateTimeDigitized"},
    {0x9101, "ComponentsConfiguration"},
    {0x9102, "CompressedBitsPerPixel"},
    {0x9201, "ShutterSpeedValue"},
    {0x9202, "ApertureValue"},
    {0x9203, "BrightnessValue"},
    {0x9204, "ExposureBiasValue"},
    {0x9205, "MaxApertureValue"},
    {0x9206, "SubjectDistance"},
    {0x9207, "MeteringMode"},
    {0x9208, "LightSource"},
    {0x9209, "Flash"},
    {0x920A, "FocalLength"},
    {0x920B, "FlashEnergy"},
    {0x920C, "SpatialFrequencyResponse"},
    {0x920D, "Noise"},
    {0x9211, "ImageNumber"},
    {0x9212, "SecurityClassification"},
    {0x9213, "ImageHistory"},
    {0x9214, "SubjectLocation"},
    {0x9215, "ExposureIndex"},
    {0x9216, "TIFF/EPStandardID"},
    {0x927C, "MakerNote"},
    {0x9286, "UserComment"},
    {0x9290, "SubsecTime"},
    {0x9291, "SubsecTimeOriginal"},
    {0x9292, "SubsecTimeDigitized"},
    {0xA000, "FlashPixVersion"},
    {0xA001, "ColorSpace"},
    {0xA002, "ExifImageWidth"},
    {0xA003, "ExifImageHeight"},
    {0xA004, "RelatedSoundFile"},
    {0xA005, "ExifInteroperabilityOffset"},
    {0xA20B, "FlashEnergy"},
    {0xA20C, "SpatialFrequencyResponse"},
    {0xA20E, "FocalPlaneXResolution"},
    {0xA20F, "FocalPlaneYResolution"},
    {0xA210, "FocalPlaneResolutionUnit"},
    {0xA214, "SubjectLocation"},
    {0xA215, "ExposureIndex"},
    {0xA217, "SensingMethod"},
    {0xA300, "FileSource"},
    {0xA301, "SceneType"},
    {0xA302, "CFAPattern"},
};
static_assert(sizeof kStandardNames / sizeof kStandardNames[0] == 111, "standard table");

const CISTagNameRow kCanonNames[] = {
    {0x0006, "Image type"},
    {0x0007, "Firmware version"},
    {0x0008, "Image Number"},
    {0x0009, "Owner name"},
    {0x000A, "Camera serial number"},
    {0x000F, "Custom Functions"},
};
const CISTagNameRow kNikonHeaderNames[] = {
    {0x0003, "Quality"},
    {0x0004, "Color Mode"},
    {0x0005, "Image Adjustment"},
    {0x0006, "CCD Sensitivity"},
    {0x0007, "White balance"},
    {0x0008, "Focus"},
    {0x000A, "Digital Zoom"},
    {0x000B, "Converter"},
};
const CISTagNameRow kNikonPlainNames[] = {
    {0x0002, "ISO Setting"},
    {0x0003, "Color Mode"},
    {0x0004, "Quality"},
    {0x0005, "Whitebalance"},
    {0x0006, "Image Sharpening"},
    {0x0007, "Focus Mode"},
    {0x0008, "Flash Setting"},
    {0x000F, "ISO Selection"},
    {0x0010, "Data Dump"},
    {0x0080, "Image Adjustment"},
    {0x0082, "Adapter"},
    {0x0085, "Manual Focus Distance"},
    {0x0086, "Digital Zoom"},
    {0x0088, "AF Focus Position"},
};
const CISTagNameRow kFujifilmNames[] = {
    {0x0000, "Version"},
    {0x1000, "Quality"},
    {0x1001, "Sharpness"},
    {0x1002, "White Balance"},
    {0x1003, "Color"},
    {0x1004, "Tone"},
    {0x1010, "Flash Mode"},
    {0x1011, "Flash Strength"},
    {0x1020, "Macro"},
    {0x1021, "Focus mode"},
    {0x1030, "SlowSync"},
    {0x1031, "Picture Mode"},
    {0x1100, "ContTake/Bracket"},
    {0x1300, "Blur warning"},
    {0x1301, "Focus warning"},
    {0x1302, "AE warning"},
};
const CISTagNameRow kOlympusNames[] = {
    {0x0200, "SpecialMode"},
    {0x0201, "JpegQual"},
    {0x0202, "Macro"},
    {0x0204, "DigiZoom"},
    {0x0207, "SoftwareRelease"},
    {0x0208, "PictInfo"},
    {0x0209, "CameraID"},
    {0x0F00, "DataDump"},
    {0x1006, "Bracket Bias"},
};
const CISTagNameRow kCasioNames[] = {
    {0x0001, "RecordingMode"},
    {0x0002, "Quality"},
    {0x0003, "Focusing Mode"},
    {0x0004, "Flash Mode"},
    {0x0005, "Flash Intensity"},
    {0x0006, "Object distance"},
    {0x0007, "White Balance"},
    {0x000A, "Digital Zoom"},
    {0x000B, "Sharpness"},
    {0x000C, "Contrast"},
    {0x000D, "Saturation"},
    {0x0014, "CCD Sensitivity"},
};

struct CISNameTable {
    const CISTagNameRow* rows;
    size_t count;
    const char* fallback;  // printf format taking the id, or "" for the empty text
};

template <size_t N>
constexpr CISNameTable Table(const CISTagNameRow (&rows)[N], const char* fallback) {
    return CISNameTable{rows, N, fallback};
}

bool TableFor(uint32_t kind, CISNameTable* out) {
    switch (kind) {
        case kNoteNone: *out = Table(kStandardNames, "unknown tag (%#4x)"); return true;
        case kNoteCanon: *out = Table(kCanonNames, "Canon Unknown %d"); return true;
        case kNoteNikonHeader: *out = Table(kNikonHeaderNames, ""); return true;
        case kNoteNikonPlain: *out = Table(kNikonPlainNames, ""); return true;
        case kNoteFujifilm: *out = Table(kFujifilmNames, "Fuji Unknown %d"); return true;
        case kNoteOlympus: *out = Table(kOlympusNames, "Olympus Unknown %d"); return true;
        case kNoteCasio: *out = Table(kCasioNames, "Casio Unknown %d"); return true;
        default: return false;
    }
}

std::string Printf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Printf(const char* format, ...) {
    char text[512];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    if (n < 0) return std::string();
    return std::string(text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

// Element bytes in file order to host values. Rationals are two 32-bit
// halves, each turned on its own.
template <typename T>
constexpr size_t kHalf = std::is_same<T, URational>::value || std::is_same<T, SRational>::value ? 4 : sizeof(T);

template <typename T>
T DecodeOne(const uint8_t* raw, bool swap) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, raw, sizeof(T));
    if (swap) {
        for (size_t h = 0; h < sizeof(T); h += kHalf<T>) {
            for (size_t i = 0; i < kHalf<T> / 2; ++i) std::swap(bytes[h + i], bytes[h + kHalf<T> - 1 - i]);
        }
    }
    T v;
    std::memcpy(&v, bytes, sizeof(T));
    return v;
}

}  // namespace

uint32_t TypeSize(uint32_t typeCode) {
    static const uint8_t kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return typeCode < 13 ? kSizes[typeCode] : 0;
}

std::string TagName(uint16_t tagId, uint32_t kind) {
    CISNameTable table;
    if (!TableFor(kind, &table)) return Printf("unknown tag (%#4x)", tagId);
    for (size_t i = 0; i < table.count; ++i) {
        if (table.rows[i].id == tagId) return table.rows[i].name;
    }
    if (!table.fallback[0]) return std::string();
    return Printf(table.fallback, tagId);
}

const CEXIFTagBase* FindTag(const TagList& list, uint16_t tagId) {
    for (const auto& tag : list) {
        if (tag->tagId == tagId) return tag.get();
    }
    return nullptr;
}

// ---- numeric tags ----------------------------------------------------------

template <typename T>
void CEXIFTagArray<T>::SetValuesFrom(const void* const* array, uint32_t n) {
    if (!array || !*array || n == 0) return;
    const T* src = static_cast<const T*>(*array);
    values.insert(values.end(), src, src + n);
}

template <typename T>
uint32_t CEXIFTagArray<T>::SetValues(const uint8_t* raw, uint32_t n, bool swap) {
    if (raw && n) {
        values.reserve(values.size() + n);
        for (uint32_t i = 0; i < n; ++i) values.push_back(DecodeOne<T>(raw + static_cast<size_t>(i) * sizeof(T), swap));
    }
    return static_cast<uint32_t>(values.size());
}

template <typename T>
std::string CEXIFTagArray<T>::ValueText() const {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) text += ", ";
        Format(values[i], &text);
    }
    return text;
}

template <typename T>
bool CEXIFTagArray<T>::CopyValues(uint8_t** out, uint32_t* outLen) const {
    if (!out || !outLen) return false;
    *out = nullptr;
    *outLen = 0;
    uint64_t bytes;
    if (values.empty() || !ISMulSize(values.size(), sizeof(T), &bytes)) return false;
    uint8_t* block = static_cast<uint8_t*>(IS40_GlobalAlloc(kISZeroInit, bytes));
    if (!block) return false;
    std::memcpy(block, values.data(), static_cast<size_t>(bytes));
    *out = block;
    *outLen = static_cast<uint32_t>(bytes);
    return true;
}

template class CEXIFTagArray<uint8_t>;
template class CEXIFTagArray<int8_t>;
template class CEXIFTagArray<uint16_t>;
template class CEXIFTagArray<int16_t>;
template class CEXIFTagArray<uint32_t>;
template class CEXIFTagArray<int32_t>;
template class CEXIFTagArray<URational>;
template class CEXIFTagArray<SRational>;
template class CEXIFTagArray<float>;
template class CEXIFTagArray<double>;

void CEXIFTagU8::Format(const uint8_t& v, std::string* out) const { *out += Printf(v < 16 ? "x0%x" : "x%x", v); }
void CEXIFTagI8::Format(const int8_t& v, std::string* out) const { *out += Printf("%d", v); }
void CEXIFTagU16::Format(const uint16_t& v, std::string* out) const { *out += Printf("%d", v); }
void CEXIFTagI16::Format(const int16_t& v, std::string* out) const { *out += Printf("%d", v); }
void CEXIFTagU32::Format(const uint32_t& v, std::string* out) const {
    *out += Printf("%d", static_cast<int32_t>(v));
}
void CEXIFTagI32::Format(const int32_t& v, std::string* out) const { *out += Printf("%d", v); }
void CEXIFTagURat::Format(const URational& v, std::string* out) const { *out += Printf("%u/%u", v.num, v.den); }
void CEXIFTagSRat::Format(const SRational& v, std::string* out) const { *out += Printf("%d/%d", v.num, v.den); }
void CEXIFTagR4::Format(const float& v, std::string* out) const { *out += Printf("%6.4f", static_cast<double>(v)); }
void CEXIFTagR8::Format(const double& v, std::string* out) const { *out += Printf("%6.4f", v); }

// ---- texts -------------------------------------------------------------------

void CEXIFTagASCII::SetValuesFrom(const void* const* array, uint32_t n) {
    if (!array || !*array) return;
    SetValues(static_cast<const uint8_t*>(*array), n, false);
}

uint32_t CEXIFTagASCII::SetValues(const uint8_t* raw, uint32_t n, bool /*swap*/) {
    if (!raw) n = 0;
    const void* zero = n ? std::memchr(raw, 0, n) : nullptr;
    const size_t len = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - raw) : n;
    texts.emplace_back(reinterpret_cast<const char*>(raw ? raw : reinterpret_cast<const uint8_t*>("")), len);
    return static_cast<uint32_t>(texts.size());
}

std::string CEXIFTagASCII::Packed() const {
    std::string packed;
    for (const std::string& t : texts) {
        packed += t;
        packed.push_back('\0');
    }
    return packed;
}

std::string CEXIFTagASCII::ValueText() const {
    std::string text;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i) text += ", ";
        text += texts[i];
    }
    return text;
}

bool CEXIFTagASCII::CopyValues(uint8_t** out, uint32_t* outLen) const {
    if (!out || !outLen) return false;
    *out = nullptr;
    *outLen = 0;
    if (texts.empty()) return false;
    const std::string packed = Packed();
    uint8_t* block = static_cast<uint8_t*>(IS40_GlobalAlloc(kISZeroInit, packed.size()));
    if (!block) return false;
    std::memcpy(block, packed.data(), packed.size());
    *out = block;
    *outLen = static_cast<uint32_t>(packed.size());
    return true;
}

}  // namespace CISEXIFData
