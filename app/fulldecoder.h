// The worker that decodes the shown picture at its real size when a zoom
// goes past what its reduced decode holds; the window keeps answering and
// is told by a posted message.
#ifndef VS_APP_FULLDECODER_H
#define VS_APP_FULLDECODER_H

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// The picture at its real size in the codec's own buffer: its many
// megabytes are never copied.
struct VSFullPicture {
    struct Free {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, Free> pixels;  // RGB rows as stored, no padding
    uint32_t width = 0, height = 0;
};

class FullDecoder {
public:
    // message is posted to window when a decode has finished.
    FullDecoder(HWND window, UINT message);
    ~FullDecoder();
    FullDecoder(const FullDecoder&) = delete;
    FullDecoder& operator=(const FullDecoder&) = delete;

    // Decodes the JPEG path for the picture counted serial; a request not
    // yet begun is replaced.
    void Request(const std::string& path, uintptr_t serial);
    // Takes the finished decode when it is serial's; anything else is dropped.
    bool Take(uintptr_t serial, VSFullPicture* out);
    // Ends the worker after the decode it is on.
    void Stop();

private:
    static DWORD WINAPI Run(LPVOID self);
    void Work();

    HWND window_;
    UINT message_;
    std::mutex lock_;
    std::string path_;  // waiting, "" when none
    uintptr_t serial_ = 0;
    VSFullPicture done_;
    uintptr_t doneSerial_ = 0;
    bool quit_ = false;
    HANDLE wake_ = nullptr;
    HANDLE thread_ = nullptr;
};

#endif
