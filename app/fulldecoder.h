// The worker that decodes the shown picture at its real size when a zoom
// goes past what its reduced decode holds: the part in view first when
// asked, then the whole picture. The window keeps answering and is told of
// each by a posted message.
#ifndef VS_APP_FULLDECODER_H
#define VS_APP_FULLDECODER_H

#include <windows.h>

#include "browse/zoom.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// The picture at its real size, or a part of it, in the codec's own
// buffer: its many megabytes are never copied.
struct VSFullPicture {
    struct Free {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, Free> pixels;  // part's RGB rows as stored, no padding
    uint32_t width = 0, height = 0;         // of the whole picture
    VSStoredRect part;
    bool Whole() const { return pixels && part.width == width && part.height == height; }
};

class FullDecoder {
public:
    // message is posted to window when a decode has finished.
    FullDecoder(HWND window, UINT message);
    ~FullDecoder();
    FullDecoder(const FullDecoder&) = delete;
    FullDecoder& operator=(const FullDecoder&) = delete;

    // Decodes the JPEG path for the picture counted serial: first (when
    // not empty) ahead of the whole picture. A request not yet begun is
    // replaced; one begun ends after its first part.
    void Request(const std::string& path, uintptr_t serial, const VSStoredRect& first);
    // No decode is wanted any more: as a request replacing the last one.
    void Drop();
    // Takes the latest finished decode when it is serial's; anything else
    // is dropped.
    bool Take(uintptr_t serial, VSFullPicture* out);
    // Ends the worker after the decode it is on.
    void Stop();

private:
    static DWORD WINAPI Run(LPVOID self);
    void Work();
    // Hands a decode over; false once the worker is to end.
    bool Deliver(VSFullPicture picture, uintptr_t serial);

    HWND window_;
    UINT message_;
    std::mutex lock_;
    std::string path_;  // waiting, "" when none
    uintptr_t serial_ = 0;
    VSStoredRect first_;
    VSFullPicture done_;
    uintptr_t doneSerial_ = 0;
    bool quit_ = false;
    HANDLE wake_ = nullptr;
    HANDLE thread_ = nullptr;
};

#endif
