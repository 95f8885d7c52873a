// The viewer's one road to the codec library for whole pictures: read a
// picture file as 24-bit RGB (large JPEGs scaled down while decoding), its
// dimensions, its EXIF thumbnail and orientation, and write RGB pictures.
// Formats are recognised by content, never by file name.
#ifndef VS_BROWSE_IMAGELOADER_H
#define VS_BROWSE_IMAGELOADER_H

#include "codec/IS40.h"
#include "browse/fit.h"

#include <cstdint>
#include <string>
#include <vector>

// Whether the viewer reads and writes this IS40_GuessFileType code.
bool IsHandledType(uint32_t fileType);

// String resources of the two read failure messages ("%s" is the path).
enum : uint32_t { kMsgCannotRead = 8, kMsgUnrecognized = 9 };
extern const char kTextCannotRead[];    // resource 8
extern const char kTextUnrecognized[];  // resource 9
// The text of resource 8 or 9 with the path put in.
std::string FormatReadFailure(const char* format, const std::string& path);

// A picture as read, or to be written.
struct ImageRecord {
    std::vector<uint8_t> pixels;  // rows top first, R, G, B, no padding
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rowStride = 0;
    uint32_t fileType = 0;
    uint32_t quality = 75;
    std::string errorText;
    uint32_t declaredWidth = 0;
    uint32_t declaredHeight = 0;
};

// What the loader needs from its surroundings.
class VSLoaderHost {
public:
    virtual ~VSLoaderHost();
    // The screen's size in pixels.
    virtual VSSize ScreenSize() = 0;
    // A read failure: resource is kMsgCannotRead or kMsgUnrecognized.
    virtual void ReadFailed(uint32_t resource, const std::string& path) = 0;
    // Any other message for the user.
    virtual void Message(const std::string& text) = 0;
};

// The JPEG decode divisor for a picture of w x h on a screen of sw x sh:
// the larger of w / sw and h / sh when both are at least 2, else 1.
uint32_t JpegDivisor(uint32_t w, uint32_t h, uint32_t sw, uint32_t sh);

// The write failure text for a library error code.
std::string WriteErrorText(uint32_t code);

// The leading decimal number of a text (blanks skipped, optional sign);
// 0 when it does not start with one. Clamped to the 32-bit range.
int32_t LeadingNumber(const char* text);

class ImageLoader {
public:
    explicit ImageLoader(VSLoaderHost& host);

    // Reads the whole picture as 24-bit RGB, as stored (not turned by any
    // orientation); a large JPEG is scaled down for the screen unless
    // fullSize. On failure the host is told (resource 8 or 9), false is
    // returned and the record is unchanged.
    bool ReadPicture(const std::string& path, ImageRecord* record, bool fullSize = false);
    // Writes the record's pixels in the format of its file type; on failure
    // the record's error text is set. Type 0 also tells the host.
    bool WritePicture(const std::string& path, ImageRecord* record);

    static bool GetDimensions(const std::string& path, uint32_t* width, uint32_t* height,
                              uint32_t* bitsPerPixel, uint32_t* fileType = nullptr);
    // The EXIF thumbnail as RGB; empty when there is none or it cannot be decoded.
    static bool ReadExifThumbnail(const std::string& path, std::vector<uint8_t>* rgb, uint32_t* width,
                                  uint32_t* height);
    // One EXIF tag of the standard directories as a number; 0 when absent.
    static int32_t ReadExifNumber(const std::string& path, uint32_t tag);

private:
    VSLoaderHost& host_;
};

#endif
