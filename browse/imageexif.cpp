// The EXIF parts of the picture loader: thumbnail and orientation.
#include "browse/imageloader.h"

#include "codec/IS40.h"
#include "exif/IS40exif.h"
#include "codec/IS40jpeg.h"

namespace {

// The EXIF reader of a picture file; the file itself is closed at once
// because the reader keeps copies of what it needs.
class ExifFile {
public:
    ExifFile(const std::string& path, uint32_t flags) {
        ISHANDLE source = IS40_OpenFileSource(path.c_str());
        if (!source) return;
        reader_ = IS40_EXIFCreateReader(source, 0, flags);
        IS40_CloseSource(source);
    }
    ~ExifFile() {
        if (reader_) IS40_EXIFDestroyReader(reader_);
    }
    ExifFile(const ExifFile&) = delete;
    ExifFile& operator=(const ExifFile&) = delete;
    ISEXIFREADER get() const { return reader_; }

private:
    ISEXIFREADER reader_ = nullptr;
};

}  // namespace

bool ImageLoader::ReadExifThumbnail(const std::string& path, std::vector<uint8_t>* rgb, uint32_t* width,
                                    uint32_t* height) {
    rgb->clear();
    *width = *height = 0;
    ExifFile exif(path, IS_EXIF_THUMBNAIL);
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (!exif.get() || !IS40_EXIFGetThumbnail(exif.get(), &data, &length) || !data || length == 0)
        return false;
    ISHANDLE source = IS40_OpenMemorySource(data, length);
    if (!source) return false;
    // Thumbnails are small: always decode them whole.
    IS40_SetJPGDCTScaleFactors(1, 1);
    uint32_t w = 0, h = 0;
    uint8_t* pixels = IS40_ReadJPG(source, &w, &h, 24, 0);
    IS40_CloseSource(source);
    const uint64_t bytes = static_cast<uint64_t>(w) * h * 3;
    const bool ok = pixels && bytes > 0 && bytes <= UINT32_MAX;
    if (ok) {
        rgb->assign(pixels, pixels + bytes);
        *width = w;
        *height = h;
    }
    if (pixels) IS40_GlobalFree(pixels);
    return ok;
}

int32_t ImageLoader::ReadExifNumber(const std::string& path, uint32_t tag) {
    ExifFile exif(path, 0);
    if (!exif.get()) return 0;
    char* text = nullptr;
    uint32_t length = 0;
    if (!IS40_EXIFGetString(exif.get(), tag, IS_EXIF_LIST_STANDARD, &text, &length) || !text) return 0;
    const int32_t value = LeadingNumber(text);
    IS40_GlobalFree(text);
    return value;
}
