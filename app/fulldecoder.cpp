// The full-size decoding worker.
#include "app/fulldecoder.h"

#include "browse/imageloader.h"
#include "browse/win/winfs.h"

#include <utility>

FullDecoder::FullDecoder(HWND window, UINT message) : window_(window), message_(message) {
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake_) thread_ = CreateThread(nullptr, 0, &FullDecoder::Run, this, 0, nullptr);
}

FullDecoder::~FullDecoder() {
    Stop();
    if (wake_) CloseHandle(wake_);
}

void FullDecoder::Request(const std::string& path, uintptr_t serial) {
    if (!thread_) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        path_ = path;
        serial_ = serial;
    }
    SetEvent(wake_);
}

bool FullDecoder::Take(uintptr_t serial, VSRgbImage* out) {
    std::lock_guard<std::mutex> lock(lock_);
    const bool ours = doneSerial_ == serial && !done_.pixels.empty();
    if (ours) *out = std::move(done_);
    done_ = VSRgbImage();
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

void FullDecoder::Work() {
    QuietLoaderHost host;
    ImageLoader loader(host);
    while (WaitForSingleObject(wake_, INFINITE) == WAIT_OBJECT_0) {
        std::string path;
        uintptr_t serial = 0;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (quit_) return;
            path.swap(path_);
            serial = serial_;
        }
        if (path.empty()) continue;
        ImageRecord record;
        if (!loader.ReadPicture(path, &record, true)) continue;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (quit_) return;
            done_.pixels.swap(record.pixels);
            done_.width = record.width;
            done_.height = record.height;
            doneSerial_ = serial;
        }
        PostMessageA(window_, message_, 0, 0);
    }
}
