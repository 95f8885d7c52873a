// Picture files in and out through the codec library.
#include "browse/imageloader.h"

#include "codec/IS40.h"
#include "browse/texts.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

const char kTextCannotRead[] = "Cannot read picture file (%s). The file may be corrupted!";
const char kTextUnrecognized[] = "Unrecognized image format (%s), image is skipped";

VSLoaderHost::~VSLoaderHost() = default;

bool IsHandledType(uint32_t t) {
    return t == IS_FT_BMP || t == IS_FT_JPEG || t == IS_FT_PNG || t == IS_FT_PCX || t == IS_FT_TIFF ||
           t == IS_FT_TGA;
}

std::string FormatReadFailure(const char* format, const std::string& path) {
    // The format comes from our own resources; put the path in by hand so
    // that a "%" inside the path is never taken as a conversion. A long path
    // is shortened: a message box does not wrap it.
    std::string text = format;
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, PathForMessage(path));
    return text;
}

uint32_t JpegDivisor(uint32_t w, uint32_t h, uint32_t sw, uint32_t sh) {
    if (sw == 0 || sh == 0) return 1;
    const uint32_t a = w / sw, b = h / sh;
    if (a >= 2 && b >= 2) return a > b ? a : b;
    return 1;
}

std::string WriteErrorText(uint32_t code) {
    const char* text = "";
    if (code == IS_ERR_WRITE) text = "Cannot write to file.";
    else if (code == IS_ERR_MEMORY) text = "Out of memory.";
    else if (code == IS_ERR_PARAM) text = "Bad user parameter.";
    return text + std::to_string(code);
}

int32_t LeadingNumber(const char* text) {
    if (!text) return 0;
    while (*text == ' ' || *text == '\t') ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10 + (*text++ - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

namespace {

// A source that closes itself.
class Source {
public:
    explicit Source(const std::string& path) : handle_(IS40_OpenFileSource(path.c_str())) {}
    Source(const void* data, uint32_t size) : handle_(IS40_OpenMemorySource(data, size)) {}
    ~Source() {
        if (handle_) IS40_CloseSource(handle_);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ISHANDLE get() const { return handle_; }
    void Close() {
        if (handle_) IS40_CloseSource(handle_);
        handle_ = nullptr;
    }
    // The content's type, with the source back at its start; 0 without a source.
    uint32_t Type() {
        if (!handle_) return IS_FT_UNKNOWN;
        const uint32_t type = IS40_GuessFileType(handle_);
        IS40_Seek(handle_, 0, 0);
        return type;
    }

private:
    ISHANDLE handle_;
};

// A buffer the library returned.
struct LibBuffer {
    uint8_t* p = nullptr;
    ~LibBuffer() {
        if (p) IS40_GlobalFree(p);
    }
};

}  // namespace

ImageLoader::ImageLoader(VSLoaderHost& host) : host_(host) {}

bool ImageLoader::ReadPicture(const std::string& path, ImageRecord* record, bool fullSize) {
    Source source(path);
    const uint32_t type = source.Type();
    uint32_t width = 0, height = 0, declaredW = 0, declaredH = 0;
    uint8_t palette[1024];
    LibBuffer pixels;
    if (source.get() && IsHandledType(type)) {
        ISHANDLE h = source.get();
        switch (type) {
        case IS_FT_BMP: pixels.p = IS40_ReadBMP(h, &width, &height, 24, palette, 0); break;
        case IS_FT_JPEG: {
            uint32_t bits = 0, colourSpace = 0;
            uint32_t fullW = 0, fullH = 0;
            if (IS40_GetJPGDims(h, &fullW, &fullH, &bits, &colourSpace, nullptr, nullptr, 0)) {
                const VSSize screen = host_.ScreenSize();
                IS40_SetJPGDCTScaleFactors(1, fullSize ? 1 : JpegDivisor(fullW, fullH, screen.width, screen.height));
                IS40_Seek(h, 0, 0);
                pixels.p = IS40_ReadJPG(h, &width, &height, 24, 0);
                declaredW = fullW;
                declaredH = fullH;
            }
            break;
        }
        case IS_FT_PNG: pixels.p = IS40_ReadPNG(h, &width, &height, 24, palette, 0); break;
        case IS_FT_PCX: pixels.p = IS40_ReadPCX(h, &width, &height, 24, palette, 0); break;
        // The orientation is the viewer's to apply, once, as for JPEG.
        case IS_FT_TIFF:
            pixels.p = IS40_ReadTIFF(h, &width, &height, 24, palette, 0, IS_TIFF_IGNORE_ORIENTATION);
            break;
        case IS_FT_TGA: pixels.p = IS40_ReadTGA(h, &width, &height, 24, palette, 1); break;
        default: break;
        }
    }
    source.Close();
    uint64_t bytes = static_cast<uint64_t>(width) * height * 3;
    if (!pixels.p || bytes == 0 || bytes > UINT32_MAX) {
        host_.ReadFailed(type == IS_FT_UNKNOWN ? kMsgCannotRead : kMsgUnrecognized, path);
        return false;
    }
    record->pixels.assign(pixels.p, pixels.p + bytes);
    record->width = width;
    record->height = height;
    record->rowStride = width * 3;
    record->fileType = type;
    record->declaredWidth = type == IS_FT_JPEG ? declaredW : width;
    record->declaredHeight = type == IS_FT_JPEG ? declaredH : height;
    return true;
}

bool ImageLoader::GetDimensions(const std::string& path, uint32_t* width, uint32_t* height,
                                uint32_t* bits, uint32_t* fileType) {
    Source source(path);
    const uint32_t type = source.Type();
    *width = *height = *bits = 0;
    if (fileType) *fileType = type;
    if (!source.get() || !IsHandledType(type)) return false;
    ISHANDLE h = source.get();
    switch (type) {
    case IS_FT_BMP: {
        int32_t signedHeight = 0;
        if (!IS40_GetBMPDims(h, width, &signedHeight, bits, nullptr, 0)) return false;
        // A top-down file stores its height negated.
        *height = signedHeight < 0 ? 0u - static_cast<uint32_t>(signedHeight)
                                   : static_cast<uint32_t>(signedHeight);
        return true;
    }
    case IS_FT_JPEG: {
        uint32_t colourSpace = 0, coding = 0;
        return IS40_GetJPGDims(h, width, height, bits, &colourSpace, &coding, nullptr, 0) != 0;
    }
    case IS_FT_PNG: {
        uint32_t colourType = 0, interlace = 0;
        int32_t index = 0, r = 0, g = 0, b = 0, grey = 0;
        return IS40_GetPNGDims(h, width, height, bits, &colourType, &interlace, &index, &r, &g, &b, &grey,
                               nullptr, 0) != 0;
    }
    case IS_FT_PCX: return IS40_GetPCXDims(h, width, height, bits, nullptr, 0) != 0;
    case IS_FT_TIFF: return IS40_GetTIFFDims(h, 0, width, height, bits, nullptr, 0) != 0;
    case IS_FT_TGA: return IS40_GetTGADims(h, width, height, bits, 0) != 0;
    default: return false;
    }
}

bool ImageLoader::WritePicture(const std::string& path, ImageRecord* record) {
    const uint32_t w = record->width, h = record->height, stride = w * 3;
    const uint8_t* px = record->pixels.data();
    if (static_cast<uint64_t>(stride) * h > record->pixels.size()) {
        record->errorText = WriteErrorText(IS_ERR_PARAM);
        return false;
    }
    ISHANDLE dest = IS40_OpenFileDest(path.c_str(), 0);
    if (!dest) {
        // Nothing could be opened for writing.
        record->errorText = WriteErrorText(IS_ERR_WRITE);
        return false;
    }
    uint8_t palette[1024] = {};
    uint32_t result = 0;
    switch (record->fileType) {
    case IS_FT_BMP: result = IS40_WriteBMP(dest, px, w, h, 24, stride, 0, palette, nullptr, 0); break;
    case IS_FT_JPEG:
        result = IS40_WriteJPG(dest, px, w, h, 24, stride, record->quality, nullptr,
                               IS_JPG_WRITE_NO_JFIF);
        break;
    case IS_FT_PNG:
        result = IS40_WritePNG(dest, px, w, h, record->rowStride, 8, 0, palette, 2, 0.0, nullptr, 0);
        break;
    case IS_FT_PCX: result = IS40_WritePCX(dest, px, w, h, 24, stride, palette, nullptr, 0); break;
    case IS_FT_TIFF: result = IS40_WriteTIFF(dest, px, w, h, 24, stride, palette, 1, nullptr, 0); break;
    case IS_FT_TGA: result = IS40_WriteTGA(dest, px, w, h, 24, stride, palette, 0, 0); break;
    default: break;
    }
    const uint32_t code = IS40_GetLastError();
    IS40_CloseDest(dest);
    if (record->fileType == IS_FT_UNKNOWN) {
        host_.Message("Unhandled exception - error code - " + std::to_string(code));
        return false;
    }
    if (result > 0) return true;
    record->errorText = WriteErrorText(result == 0 && code == 0 ? static_cast<uint32_t>(IS_ERR_PARAM) : code);
    return false;
}
