// Open with: the programs the file-type registry links to the picture's
// extension, each with its icon, or any program the user picks.
#include "features/win/features.h"
#include "features/win/process.h"
#include "features/win/featuresres.h"

#include "app/framework.h"
#include "features/programs.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <vector>

namespace {

const char kPhotoGalleryName[] = "Windows Photo Gallery";
const char kPhotoGalleryProgram[] = "C:\\Program Files\\Windows Photo Gallery\\WindowsPhotoGallery.exe";
const char kPickerTitle[] = "Select program to open with";
const char kPickerFilter[] = "Programs (*.exe) |*.exe||";

struct CProgramEntry {
    HICON icon = nullptr;
    std::string name;
    std::string program;
    ~CProgramEntry() {
        if (icon) DestroyIcon(icon);
    }
};

HICON SmallIcon(const std::string& program) {
    HICON icon = nullptr;
    if (ExtractIconExA(program.c_str(), 0, nullptr, &icon, 1) == 0) return nullptr;
    return icon;
}

int IconHeight(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return GetSystemMetrics(SM_CYSMICON);
    BITMAP bm{};
    int height = 0;
    if (info.hbmColor && GetObjectA(info.hbmColor, sizeof bm, &bm)) height = bm.bmHeight;
    else if (info.hbmMask && GetObjectA(info.hbmMask, sizeof bm, &bm)) height = bm.bmHeight / 2;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return height > 0 ? height : GetSystemMetrics(SM_CYSMICON);
}

bool Launch(const std::string& program, const std::string& file) {
    return StartProcess(LaunchCommandLine(program, file));
}

// The owner-drawn list of programs; it reads the dialog's entries by position.
class CProgramListBox {
public:
    void Attach(HWND list, const std::vector<std::unique_ptr<CProgramEntry>>* entries) {
        list_ = list;
        entries_ = entries;
    }
    HWND Hwnd() const { return list_; }
    const CProgramEntry* At(LRESULT position) const {
        if (!entries_ || position < 0 || static_cast<size_t>(position) >= entries_->size()) return nullptr;
        return (*entries_)[static_cast<size_t>(position)].get();
    }
    void Measure(MEASUREITEMSTRUCT* mi) const {
        const CProgramEntry* e = At(static_cast<LRESULT>(mi->itemID));
        mi->itemHeight = static_cast<UINT>(IconHeight(e ? e->icon : nullptr));
    }
    void Draw(const DRAWITEMSTRUCT* di) const {
        const CProgramEntry* e = At(static_cast<LRESULT>(di->itemID));
        if (!e) return;
        const bool selected = (di->itemState & ODS_SELECTED) != 0;
        HBRUSH fill = selected ? GetSysColorBrush(COLOR_HIGHLIGHT) : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        FillRect(di->hDC, &di->rcItem, fill);
        const int size = IconHeight(e->icon);
        DrawIconEx(di->hDC, di->rcItem.left, di->rcItem.top, e->icon, 0, 0, 0, nullptr, DI_NORMAL);
        RECT text = di->rcItem;
        text.left += size + 5;
        SetBkMode(di->hDC, TRANSPARENT);
        SetTextColor(di->hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        DrawTextA(di->hDC, e->name.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
    }

private:
    HWND list_ = nullptr;
    const std::vector<std::unique_ptr<CProgramEntry>>* entries_ = nullptr;
};

class COpenWith : public CDialogBase {
public:
    explicit COpenWith(const std::string& file) : CDialogBase(IDD_OPEN_WITH), file_(file) {}

    size_t EnumeratePrograms(const std::string& extension);
    // "Other Program": true when a program was started.
    bool PickProgram(HWND owner);

protected:
    BOOL OnInitDialog() override {
        list_.Attach(GetDlgItem(Hwnd(), IDC_PROGRAM_LIST), &entries_);
        for (size_t i = 0; i < entries_.size(); ++i)
            SendMessageA(list_.Hwnd(), LB_ADDSTRING, 0, static_cast<LPARAM>(i));
        SendMessageA(list_.Hwnd(), LB_SETCURSEL, 0, 0);
        return TRUE;
    }
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        switch (msg) {
        case WM_MEASUREITEM:
            if (wParam != IDC_PROGRAM_LIST) return false;
            list_.Measure(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
            *result = TRUE;
            return true;
        case WM_DRAWITEM:
            if (wParam != IDC_PROGRAM_LIST) return false;
            list_.Draw(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            *result = TRUE;
            return true;
        case WM_COMMAND: return Command(LOWORD(wParam), HIWORD(wParam));
        default: return false;
        }
    }

private:
    bool Command(UINT id, UINT code) {
        if (id == IDC_PROGRAM_LIST && code == LBN_DBLCLK) {
            if (LaunchSelected()) EndDialog(IDOK);
            return true;
        }
        if (id == IDC_OPEN_PROGRAM) {
            LaunchSelected();
            EndDialog(IDOK);
            return true;
        }
        if (id == IDC_OTHER_PROGRAM) {
            if (PickProgram(Hwnd())) EndDialog(IDOK);
            return true;
        }
        if (id == IDCANCEL) {
            EndDialog(IDCANCEL);
            return true;
        }
        return false;
    }
    bool LaunchSelected() {
        const CProgramEntry* e = list_.At(SendMessageA(list_.Hwnd(), LB_GETCURSEL, 0, 0));
        if (!e || e->program.empty()) return false;
        Launch(e->program, file_);
        return true;
    }

    std::string file_;
    std::vector<std::unique_ptr<CProgramEntry>> entries_;
    CProgramListBox list_;
};

bool IsVersion60() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwMajorVersion == 6 && info.dwMinorVersion == 0;
}

size_t COpenWith::EnumeratePrograms(const std::string& extension) {
    if (IsVersion60()) {
        auto e = std::make_unique<CProgramEntry>();
        e->icon = SmallIcon(kPhotoGalleryProgram);
        e->name = kPhotoGalleryName;
        e->program = kPhotoGalleryProgram;
        entries_.push_back(std::move(e));
    }
    for (DWORD index = 0;; ++index) {
        char name[257] = {};
        DWORD length = sizeof name - 1;
        if (RegEnumKeyExA(HKEY_CLASSES_ROOT, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        const std::string keyName(name, length);
        if (!KeyMatchesExtension(keyName, extension)) continue;
        // The viewer's own classes, whatever its program file is called.
        if (keyName.compare(0, 8, "VSViewer") == 0) continue;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, (keyName + "\\shell\\open\\command").c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            continue;
        char command[261] = {};
        DWORD size = sizeof command - 1;
        DWORD type = 0;
        const LONG r = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(command), &size);
        RegCloseKey(key);
        if (r != ERROR_SUCCESS) continue;
        const std::string program = ProgramFromCommand(command);
        if (IsViewerProgram(program)) continue;
        HICON icon = SmallIcon(program);
        if (!icon) continue;
        auto e = std::make_unique<CProgramEntry>();
        e->icon = icon;
        e->name = EntryNameFromKey(keyName);
        e->program = program;
        entries_.push_back(std::move(e));
    }
    return entries_.size();
}

bool COpenWith::PickProgram(HWND owner) {
    char path[MAX_PATH] = {};
    char folder[MAX_PATH] = {};
    SHGetSpecialFolderPathA(owner, folder, CSIDL_PROGRAM_FILES, FALSE);
    const std::string filter = DialogFilter(kPickerFilter);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrInitialDir = folder;
    ofn.lpstrTitle = kPickerTitle;
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return false;
    Launch(path, file_);
    return true;
}

// From the file name's last dot, dot included.
std::string Extension(const std::string& path) {
    const size_t name = path.find_last_of('\\');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (name != std::string::npos && dot < name)) return {};
    return path.substr(dot);
}

}  // namespace

void OpenWithCommand(HWND mainWindow, const std::string& file) {
    if (file.empty()) return;
    COpenWith dialog(file);
    if (dialog.EnumeratePrograms(Extension(file)) == 0) {
        dialog.PickProgram(mainWindow);
        return;
    }
    dialog.DoModal(mainWindow);
}
