// The decoded neighbours of the shown picture.
#include "browse/prefetch.h"

#include <algorithm>
#include <utility>

bool VSDecodedPicture::RenderFor(const VSRenderKey& key) {
    if (!display.pixels.empty() && renderedFor == key) return true;
    display = VSRgbImage();
    if (!RenderPicture(pixels.data(), width, height, key.box, key.screenWidth, key.screenHeight,
                       key.autoRotate ? orientation : 0, &display))
        return false;
    renderedFor = key;
    return true;
}

bool ReadDecodedPicture(ImageLoader& loader, VSFileSystem& fs, const std::string& path, VSDecodedPicture* out) {
    VSDecodedPicture picture;
    std::string error;
    // Taken first: a change while decoding shows as a stale status later.
    if (!fs.Status(path, &picture.status, &error)) picture.status = VSFileStatus{0, 0};
    ImageRecord record;
    if (!loader.ReadPicture(path, &record)) return false;
    picture.path = path;
    picture.pixels.swap(record.pixels);
    picture.width = record.width;
    picture.height = record.height;
    picture.declaredWidth = record.declaredWidth;
    picture.declaredHeight = record.declaredHeight;
    picture.orientation = ImageLoader::ReadExifNumber(path, kOrientationTag);
    *out = std::move(picture);
    return true;
}

uint64_t DecodedBytes(const std::string& path, VSSize screen) {
    uint32_t w = 0, h = 0, bits = 0, type = 0;
    if (!ImageLoader::GetDimensions(path, &w, &h, &bits, &type)) return 0;
    const uint32_t d = type == IS_FT_JPEG ? JpegDivisor(w, h, screen.width, screen.height) : 1;
    return uint64_t{(w + d - 1) / d} * ((h + d - 1) / d) * 3;
}

std::vector<int32_t> PrefetchOrder(int32_t current, int32_t count, int32_t direction) {
    std::vector<int32_t> order;
    if (count < 2 || current < 0 || current >= count) return order;
    const int32_t ahead = direction < 0 ? -1 : 1;
    for (const int32_t d : {ahead, -ahead}) {
        const int32_t i = ((current + d) % count + count) % count;
        if (i != current && std::find(order.begin(), order.end(), i) == order.end()) order.push_back(i);
    }
    return order;
}

uint64_t VSPrefetchCache::Invalidate() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    return ++generation_;
}

uint64_t VSPrefetchCache::Generation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

bool VSPrefetchCache::Put(VSDecodedPicture picture, uint64_t generation) {
    if (picture.path.empty() || picture.Bytes() > budget_) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != generation_) return false;
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const VSDecodedPicture& e) { return e.path == picture.path; }),
                   entries_.end());
    entries_.push_back(std::move(picture));
    Trim();
    return true;
}

void VSPrefetchCache::Trim() {
    size_t bytes = 0;
    for (const VSDecodedPicture& e : entries_) bytes += e.Bytes();
    while (!entries_.empty() && (entries_.size() > capacity_ || bytes > budget_)) {
        bytes -= entries_.front().Bytes();
        entries_.pop_front();
    }
}

bool VSPrefetchCache::Take(const std::string& path, const VSFileStatus& now, VSDecodedPicture* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->path != path) continue;
        const bool fresh =
            it->status.size == now.size && it->status.written == now.written && it->status.created == now.created;
        if (fresh) *out = std::move(*it);
        entries_.erase(it);
        return fresh;
    }
    return false;
}

bool VSPrefetchCache::Holds(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(entries_.begin(), entries_.end(), [&](const VSDecodedPicture& e) { return e.path == path; });
}

size_t VSPrefetchCache::Bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t bytes = 0;
    for (const VSDecodedPicture& e : entries_) bytes += e.Bytes();
    return bytes;
}
