// The stand-in editor's picture functions and bitmaps.
#include "pictures.h"

#include "imageloader.h"

#include <cstring>

namespace {

const char* const kNames[kFunctionCount] = {"Rotate", "Greyscale", "Mirror", "Negative", "Rename"};
const uint32_t kColours[kFunctionCount] = {0xC82828, 0x5A5A5A, 0x2878C8, 0x141414, 0x28A03C};
const char* const kSuffixes[kFunctionCount] = {"", "_grey", "_mirror", "", "_renamed"};

constexpr uint32_t kFrameWidth = 40, kFrameHeight = 38, kFrames = 4;

// Failures come back as the function's status; nobody is to be asked.
class QuietHost : public VSLoaderHost {
public:
    // No decode scaling: the editor works on the whole picture.
    VSSize ScreenSize() override { return {1u << 16, 1u << 16}; }
    void ReadFailed(uint32_t, const std::string&) override {}
    void Message(const std::string&) override {}
};

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// Pixel (x, y) of the strip as 0xRRGGBB: a 20 x 20 square of the
// function's colour (grey when disabled) in the middle of each frame.
uint32_t StripPixel(uint32_t index, uint32_t x, uint32_t y) {
    static const uint32_t faces[kFrames] = {0xECEFF3, 0xD8E6F5, 0xB4C8E1, 0xECEFF3};
    const uint32_t frame = x / kFrameWidth, gx = x % kFrameWidth - 10, gy = y - 9;
    if (gx >= 20 || gy >= 20) return faces[frame];
    return frame == 3 ? 0xA0A0A0 : kColours[index];
}

void SplitName(const std::string& path, std::string* folder, std::string* stem, std::string* extension) {
    const size_t slash = path.find_last_of('\\');
    *folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    *stem = dot == std::string::npos ? name : name.substr(0, dot);
    *extension = dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace

const char* FunctionName(uint32_t index) { return kNames[index]; }

std::vector<uint8_t> FunctionBitmap(uint32_t index) {
    const uint32_t width = kFrameWidth * kFrames, stride = (width * 3 + 3) & ~3u;
    const uint32_t imageSize = stride * kFrameHeight;
    std::vector<uint8_t> b;
    b.reserve(54 + imageSize);
    b.push_back('B');
    b.push_back('M');
    Put32(b, 54 + imageSize);
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, width);
    Put32(b, kFrameHeight);
    Put16(b, 1);
    Put16(b, 24);
    for (uint32_t v : {0u, imageSize, 2835u, 2835u, 0u, 0u}) Put32(b, v);
    for (uint32_t row = 0; row < kFrameHeight; ++row) {
        const uint32_t y = kFrameHeight - 1 - row;  // bottom-up
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t c = StripPixel(index, x, y);
            b.push_back(static_cast<uint8_t>(c));
            b.push_back(static_cast<uint8_t>(c >> 8));
            b.push_back(static_cast<uint8_t>(c >> 16));
        }
        for (uint32_t pad = width * 3; pad < stride; ++pad) b.push_back(0);
    }
    return b;
}

std::string ResultPath(uint32_t index, const std::string& path) {
    if (index >= kFunctionCount || !kSuffixes[index][0]) return path;
    std::string folder, stem, extension;
    SplitName(path, &folder, &stem, &extension);
    return folder + stem + kSuffixes[index] + (index == kFnGrey ? std::string(".png") : extension);
}

bool IsPicture(const std::string& path) {
    uint32_t w = 0, h = 0, bits = 0;
    return ImageLoader::GetDimensions(path, &w, &h, &bits) && w > 0 && h > 0;
}

bool EditPicture(uint32_t index, const std::string& source, const std::string& target) {
    QuietHost host;
    ImageLoader loader(host);
    ImageRecord picture;
    if (index > kFnInvert || !loader.ReadPicture(source, &picture)) return false;
    const uint32_t w = picture.width, h = picture.height;
    std::vector<uint8_t>& px = picture.pixels;
    switch (index) {
    case kFnRotate: {
        // Clockwise: the new top row is the old left column, read bottom up.
        std::vector<uint8_t> turned(px.size());
        for (uint32_t y = 0; y < w; ++y)
            for (uint32_t x = 0; x < h; ++x)
                std::memcpy(&turned[(static_cast<size_t>(y) * h + x) * 3],
                            &px[(static_cast<size_t>(h - 1 - x) * w + y) * 3], 3);
        px.swap(turned);
        picture.width = h;
        picture.height = w;
        break;
    }
    case kFnGrey:
        for (size_t i = 0; i + 2 < px.size(); i += 3) {
            const uint8_t g = static_cast<uint8_t>((299u * px[i] + 587u * px[i + 1] + 114u * px[i + 2]) / 1000u);
            px[i] = px[i + 1] = px[i + 2] = g;
        }
        picture.fileType = IS_FT_PNG;
        break;
    case kFnMirror:
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w / 2; ++x)
                for (uint32_t c = 0; c < 3; ++c)
                    std::swap(px[(static_cast<size_t>(y) * w + x) * 3 + c],
                              px[(static_cast<size_t>(y) * w + (w - 1 - x)) * 3 + c]);
        break;
    case kFnInvert:
        for (uint8_t& v : px) v = static_cast<uint8_t>(255 - v);
        break;
    default:
        return false;
    }
    picture.rowStride = picture.width * 3;
    return loader.WritePicture(target, &picture);
}
