// Pictures decoded ahead of the user's steps: the neighbours of the shown
// picture, kept until a step takes one, the list changes or their file does.
#ifndef VS_BROWSE_PREFETCH_H
#define VS_BROWSE_PREFETCH_H

#include "browse/fit.h"
#include "browse/folderlist.h"
#include "browse/imageloader.h"
#include "browse/render.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// The window keeps at most this many decoded neighbours, within this many
// bytes of pixels, beside the picture on screen.
constexpr size_t kPrefetchPictures = 2;
constexpr size_t kPrefetchBudgetBytes = size_t{96} << 20;

// What a display rendering depends on besides the picture.
struct VSRenderKey {
    VSSize box{0, 0};
    uint32_t screenWidth = 0, screenHeight = 0;
    bool autoRotate = false;  // the EXIF orientation applied
    bool operator==(const VSRenderKey& o) const {
        return box.width == o.box.width && box.height == o.box.height && screenWidth == o.screenWidth &&
               screenHeight == o.screenHeight && autoRotate == o.autoRotate;
    }
};

// A picture as decoded for the display, with what was read of it once, and
// its display rendering when one was made.
struct VSDecodedPicture {
    std::string path;
    VSFileStatus status{};        // the file's when it was read
    std::vector<uint8_t> pixels;  // RGB rows as stored, not turned
    uint32_t width = 0, height = 0;
    int32_t orientation = 0;  // EXIF orientation, 0 when none
    uint32_t declaredWidth = 0, declaredHeight = 0;
    VSRgbImage display;  // empty until rendered
    VSRenderKey renderedFor;

    void Clear() { *this = VSDecodedPicture(); }
    size_t Bytes() const { return pixels.size() + display.pixels.size(); }
    // Renders the display image for key unless it is already there.
    bool RenderFor(const VSRenderKey& key);
};

// Reads path's status, then the picture and its orientation; false (the
// loader's host told) when it cannot be read.
bool ReadDecodedPicture(ImageLoader& loader, VSFileSystem& fs, const std::string& path, VSDecodedPicture* out);

// About the bytes of RGB that reading path for a screen gives (a large
// JPEG comes reduced); 0 when its header cannot be read.
uint64_t DecodedBytes(const std::string& path, VSSize screen);

// The list indexes worth decoding after a step (direction +1 forward, -1
// back, 0 for a picture opened): the next in the direction of travel, then
// the one behind, wrapping as the steps do; never current itself.
std::vector<int32_t> PrefetchOrder(int32_t current, int32_t count, int32_t direction);

// The decoded neighbours, shared by the window and the decoding worker.
class VSPrefetchCache {
public:
    VSPrefetchCache(size_t capacity, size_t byteBudget) : capacity_(capacity), budget_(byteBudget) {}

    // Drops everything kept; decodes begun before are refused on arrival.
    uint64_t Invalidate();
    uint64_t Generation() const;
    // Keeps a picture decoded in generation, the oldest giving way; false
    // when the generation has passed or the picture alone is over budget.
    bool Put(VSDecodedPicture picture, uint64_t generation);
    // Takes out path's picture when its file still has the status it was
    // read with; a stale one is dropped.
    bool Take(const std::string& path, const VSFileStatus& now, VSDecodedPicture* out);
    bool Holds(const std::string& path) const;
    size_t Bytes() const;

private:
    void Trim();  // caller holds the lock

    const size_t capacity_, budget_;
    mutable std::mutex mutex_;
    std::deque<VSDecodedPicture> entries_;  // oldest first
    uint64_t generation_ = 0;
};

#endif
