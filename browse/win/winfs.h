// The folder list's file system over Win32, and the picture loader's host.
#ifndef VS_BROWSE_WIN_WINFS_H
#define VS_BROWSE_WIN_WINFS_H

#include <windows.h>

#include "folderlist.h"
#include "imageloader.h"

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

// HORZRES and VERTRES of the screen.
VSSize ScreenPixels();

#endif
