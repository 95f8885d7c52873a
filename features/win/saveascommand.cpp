// Save As of the shown picture under a name and format the user picks.
#include "features/win/features.h"

#include "app/framework.h"
#include "browse/win/winfs.h"
#include "browse/paths.h"
#include "features/programs.h"
#include "features/saveas.h"

#include <commdlg.h>

namespace {

class VSWinSaveFiles : public VSSaveFiles {
public:
    bool Exists(const std::string& path) override { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
    bool Copy(const std::string& source, const std::string& destination) override {
        return CopyFileA(source.c_str(), destination.c_str(), FALSE) != 0;
    }
    bool Replace(const std::string& complete, const std::string& target) override {
        return MoveFileExA(complete.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    }
    void Remove(const std::string& path) override { DeleteFileA(path.c_str()); }
    bool ReadOnly(const std::string& path) override {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    }
};

}  // namespace

void SaveAsCommand(HWND mainWindow, const std::string& current, std::string* saveAsDir) {
    if (current.empty()) return;
    char path[260] = {};
    lstrcpynA(path, SaveInitialName(current).c_str(), sizeof path);
    const std::string filter = DialogFilter(kSaveFilter);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = mainWindow;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrInitialDir = saveAsDir->empty() ? nullptr : saveAsDir->c_str();
    ofn.lpstrDefExt = "jpg";
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&ofn)) return;
    const std::string chosen = path;
    *saveAsDir = Folder(chosen);
    const std::string extension =
        ofn.nFileExtension > 0 && ofn.nFileExtension < chosen.size() ? chosen.substr(ofn.nFileExtension) : "";
    VSWinLoaderHost host(mainWindow);
    ImageLoader loader(host);
    VSWinSaveFiles files;
    const VSSaveOutcome outcome = SavePicture(loader, files, current, chosen, extension);
    // The read reports itself; a failed write must not pass in silence.
    if (!outcome.saved && !outcome.readFailed) AppMessageBox(mainWindow, outcome.errorText, MB_OK | MB_ICONERROR);
}
