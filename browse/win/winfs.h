// The folder list's file system over Win32, and the picture loader's host.
#ifndef VS_BROWSE_WIN_WINFS_H
#define VS_BROWSE_WIN_WINFS_H

#include <windows.h>

#include "browse/folderlist.h"
#include "browse/imageloader.h"

class VSWinFileSystem : public VSFileSystem {
public:
    bool List(const std::string& folder, std::vector<VSDirEntry>* entries) override;
    bool Status(const std::string& path, VSFileStatus* status, std::string* errorText) override;
    bool Remove(const std::string& path) override;
};

// The system's text for an error code.
std::string SystemErrorText(DWORD code);

// Screen size from the display's device capabilities; read failures in a
// message box owned by the given window.
class VSWinLoaderHost : public VSLoaderHost {
public:
    explicit VSWinLoaderHost(HWND owner = nullptr) : owner_(owner) {}
    VSSize ScreenSize() override;
    void ReadFailed(uint32_t resource, const std::string& path) override;
    void Message(const std::string& text) override;

private:
    HWND owner_;
};

// A worker's loader host: a file it cannot read is simply skipped. A
// message box from a worker would pop up over whichever view is shown,
// hold the worker (and a closing viewer waiting for it) until answered,
// and come again when the user opens the file.
class QuietLoaderHost : public VSLoaderHost {
public:
    VSSize ScreenSize() override;
    void ReadFailed(uint32_t, const std::string&) override {}
    void Message(const std::string&) override {}
};

// HORZRES and VERTRES of the screen.
VSSize ScreenPixels();

#endif
