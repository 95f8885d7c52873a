// Folders, file status and the loader's messages under Win32.
#include "browse/win/winfs.h"

#include "app/framework.h"

bool VSWinFileSystem::List(const std::string& folder, std::vector<VSDirEntry>* entries) {
    entries->clear();
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        entries->push_back({name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return true;
}

std::string SystemErrorText(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    return result;
}

bool VSWinFileSystem::Status(const std::string& path, VSFileStatus* status, std::string* errorText) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *errorText = SystemErrorText(GetLastError());
        return false;
    }
    FILETIME created{}, accessed{}, written{};
    GetFileTime(file, &created, &accessed, &written);
    status->size = GetFileSize(file, nullptr);
    CloseHandle(file);
    // No creation time on this file system: the last write stands in.
    const FILETIME& utc = (created.dwLowDateTime || created.dwHighDateTime) ? created : written;
    FILETIME local{};
    FileTimeToLocalFileTime(&utc, &local);
    const uint64_t ticks = (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    status->created = static_cast<int64_t>(ticks / 10000000u);
    status->written = static_cast<int64_t>((static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    return true;
}

bool VSWinFileSystem::Remove(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

VSSize ScreenPixels() {
    HDC screen = GetDC(nullptr);
    VSSize size{static_cast<uint32_t>(GetDeviceCaps(screen, HORZRES)),
                static_cast<uint32_t>(GetDeviceCaps(screen, VERTRES))};
    ReleaseDC(nullptr, screen);
    return size;
}

VSSize VSWinLoaderHost::ScreenSize() { return ScreenPixels(); }
VSSize QuietLoaderHost::ScreenSize() { return ScreenPixels(); }

void VSWinLoaderHost::ReadFailed(uint32_t resource, const std::string& path) {
    std::string format = ResourceText(resource);
    if (format.empty()) format = resource == kMsgCannotRead ? kTextCannotRead : kTextUnrecognized;
    AppMessageBox(owner_, FormatReadFailure(format.c_str(), path), MB_OK);
}

void VSWinLoaderHost::Message(const std::string& text) { AppMessageBox(owner_, text, MB_OK); }
