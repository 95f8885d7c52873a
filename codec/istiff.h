// libtiff over the library's source and destination handles. Used by the
// TIFF codec and by the EXIF reader's TIFF route.
#ifndef ISTIFF_H
#define ISTIFF_H

#include "codec/isframe.h"

#include <tiffio.h>

#include <cstdint>
#include <memory>

// One TIFF opened over a handle through libtiff's client interface. The
// handle stays open and usable after Close (the file's offset 0 is the
// handle's offset 0). libtiff's errors and warnings never reach the
// console: the last error text is kept for the error trace.
class CISTiffFile {
public:
    CISTiffFile();
    ~CISTiffFile();
    CISTiffFile(const CISTiffFile&) = delete;
    CISTiffFile& operator=(const CISTiffFile&) = delete;

    // Reading opens the first directory. False on failure, with Error()
    // 3 (the source ended early) or 6 (not a TIFF libtiff can open).
    bool OpenRead(ISHANDLE handle);
    bool OpenWrite(ISHANDLE handle);
    // Writes pending data when writing; false when that or any earlier
    // write failed.
    bool Close();

    TIFF* Get() const { return m_tif; }
    uint32_t Error() const { return m_error; }
    // True once a read came back short (truncated source).
    bool ReadShort() const;
    bool WriteFailed() const;
    uint32_t ErrorCount() const;
    // Last libtiff error text, or null.
    const char* Message() const;
    // Replaces the kept error text.
    void Note(const char* text);
    // Error for a failed libtiff read: 3 when the source ran out, else 6.
    uint32_t ReadFailureCode() const { return ReadShort() ? IS_ERR_READ : IS_ERR_FORMAT; }

    struct Client;

private:
    bool Open(ISHANDLE handle, bool write);

    std::unique_ptr<Client> m_client;
    TIFF* m_tif = nullptr;
    uint32_t m_error = 0;
};

#endif
