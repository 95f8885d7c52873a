// The full-size decoding worker.
#include "app/fulldecoder.h"

#include "codec/IS40.h"

#include <utility>

void VSFullPicture::Free::operator()(uint8_t* p) const { IS40_GlobalFree(p); }

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

void FullDecoder::Work() {
    // Only JPEGs are decoded reduced for the screen.
    IS40_SetJPGDCTScaleFactors(1, 1);
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
        VSFullPicture picture;
        if (ISHANDLE source = IS40_OpenFileSource(path.c_str())) {
            if (IS40_GuessFileType(source) == IS_FT_JPEG) {
                IS40_Seek(source, 0, 0);
                picture.pixels.reset(IS40_ReadJPG(source, &picture.width, &picture.height, 24, 0));
            }
            IS40_CloseSource(source);
        }
        if (!picture.pixels) continue;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (quit_) return;
            done_ = std::move(picture);
            doneSerial_ = serial;
        }
        PostMessageA(window_, message_, 0, 0);
    }
}
