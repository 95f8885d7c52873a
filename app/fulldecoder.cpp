// The full-size decoding worker.
#include "app/fulldecoder.h"

#include "codec/IS40.h"

#include <utility>

void VSFullPicture::Free::operator()(uint8_t* p) const { IS40_GlobalFree(p); }

namespace {

// The JPEG at path at its real size: part of it, or all when part is null.
VSFullPicture ReadFull(const std::string& path, const VSStoredRect* part) {
    VSFullPicture picture;
    ISHANDLE source = IS40_OpenFileSource(path.c_str());
    if (!source) return picture;
    uint32_t w = 0, h = 0;
    if (IS40_GuessFileType(source) == IS_FT_JPEG) {
        IS40_Seek(source, 0, 0);
        if (!part) {
            picture.pixels.reset(IS40_ReadJPG(source, &w, &h, 24, 0));
            picture.width = w;
            picture.height = h;
            picture.part = {0, 0, w, h};
        } else if (IS40_GetJPGDims(source, &picture.width, &picture.height, nullptr, nullptr, nullptr, nullptr, 0)) {
            IS40_Seek(source, 0, 0);
            const ISRegion region{part->x, part->y, part->width, part->height};
            picture.pixels.reset(IS40_ReadJPGRegion(source, &region, &w, &h, 24, 0));
            picture.part = {part->x, part->y, w, h};
        }
    }
    IS40_CloseSource(source);
    return picture;
}

}  // namespace

FullDecoder::FullDecoder(HWND window, UINT message) : window_(window), message_(message) {
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake_) thread_ = CreateThread(nullptr, 0, &FullDecoder::Run, this, 0, nullptr);
}

FullDecoder::~FullDecoder() {
    Stop();
    if (wake_) CloseHandle(wake_);
}

void FullDecoder::Request(const std::string& path, uintptr_t serial, const VSStoredRect& first) {
    if (!thread_) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        path_ = path;
        serial_ = serial;
        first_ = first;
    }
    SetEvent(wake_);
}

void FullDecoder::Drop() {
    std::lock_guard<std::mutex> lock(lock_);
    path_.clear();
    serial_ = 0;
}

bool FullDecoder::Take(uintptr_t serial, VSFullPicture* out) {
    std::lock_guard<std::mutex> lock(lock_);
    const bool ours = doneSerial_ == serial && done_.pixels;
    if (ours) *out = std::move(done_);
    done_ = VSFullPicture();
    return ours;
}

void FullDecoder::Stop() {
    if (!thread_) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        quit_ = true;
    }
    SetEvent(wake_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI FullDecoder::Run(LPVOID self) {
    static_cast<FullDecoder*>(self)->Work();
    return 0;
}

bool FullDecoder::Deliver(VSFullPicture picture, uintptr_t serial) {
    if (!picture.pixels) return true;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (quit_) return false;
        // The whole picture replaces its part when the window has not taken it yet.
        done_ = std::move(picture);
        doneSerial_ = serial;
    }
    PostMessageA(window_, message_, 0, 0);
    return true;
}

void FullDecoder::Work() {
    // Only JPEGs are decoded reduced for the screen.
    IS40_SetJPGDCTScaleFactors(1, 1);
    while (WaitForSingleObject(wake_, INFINITE) == WAIT_OBJECT_0) {
        std::string path;
        uintptr_t serial = 0;
        VSStoredRect first;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (quit_) return;
            path.swap(path_);
            serial = serial_;
            first = first_;
        }
        if (path.empty()) continue;
        if (first.width > 0 && first.height > 0) {
            if (!Deliver(ReadFull(path, &first), serial)) return;
            // Stepped on, or another request waiting: this whole picture
            // would be dropped.
            std::lock_guard<std::mutex> lock(lock_);
            if (serial_ != serial) continue;
        }
        if (!Deliver(ReadFull(path, nullptr), serial)) return;
    }
}
