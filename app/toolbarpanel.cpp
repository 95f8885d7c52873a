// The toolbar panel and the folder file list it owns.
#include "toolbarpanel.h"

#include "resource.h"
#include "texts.h"

#include "features/win/features.h"

#include <shlobj.h>

#include <atomic>

namespace {

std::atomic<HANDLE> g_thumbnailEvent{nullptr};

std::string MyPictures() {
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_MYPICTURES, FALSE)) return {};
    return path;
}

}  // namespace

HANDLE ThumbnailCompletionEvent() { return g_thumbnailEvent.load(); }
void SetThumbnailCompletionEvent(HANDLE event) { g_thumbnailEvent.store(event); }

ToolbarPanel::ToolbarPanel(HWND mainWindow, VSSettings& settings)
    : CDialogBase(IDD_TOOLBAR_PANEL), main_(mainWindow), settings_(settings), list_(fs_) {}

ToolbarPanel::~ToolbarPanel() {
    WaitForSortWorkers();
}

BOOL ToolbarPanel::OnInitDialog() {
    settings_.LoadFolders(&initDir, &saveAsDir, MyPictures());
    settings_.ReadSortState(&sort_);
    return FALSE;
}

bool ToolbarPanel::OnMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT* result) {
    if (msg == WM_COMMAND) return MenuCommand(LOWORD(wParam));
    if (msg != UM_BUTTON_CLICKED) return false;
    RunCommand(static_cast<uint32_t>(wParam));
    *result = 0;
    return true;
}

bool ToolbarPanel::MenuCommand(UINT id) {
    switch (id) {
    case ID_MENU_HELP: OpenUrl(PageAddress(IDS_HELP_PAGE)); return true;
    case ID_MENU_ABOUT: ShowAbout(); return true;
    case ID_MENU_VISIT: OpenUrl(PageAddress(IDS_HOME_PAGE)); return true;
    case ID_MENU_UPDATE: {
        HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        UpdateCheckCommand(main_);
        SetCursor(previous ? previous : LoadCursorA(nullptr, IDC_ARROW));
        return true;
    }
    case ID_MENU_SETTINGS: SettingsCommand(main_, *this); return true;
    case kSortName: case kSortDate: case kSortSize: SortCommand(id); return true;
    default: return false;
    }
}

void ToolbarPanel::RunCommand(uint32_t id) {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    if (id < editorCount) {
        SendMessageA(main_, WM_COMMAND, MAKEWPARAM(ID_EDITOR_FUNCTION_0 + id, 1), 0);
    } else {
        switch (id - editorCount) {
        case kCmdOpen: SendMessageA(main_, WM_COMMAND, MAKEWPARAM(ID_OPEN_COMMAND, 0), 0); break;
        case kCmdSaveAs: SaveAsCommand(main_, *this); break;
        case kCmdPrevious: SynthesiseKey(VK_LEFT); break;
        case kCmdNext: SynthesiseKey(VK_RIGHT); break;
        case kCmdFullScreen: SynthesiseKey(VK_RETURN); break;
        case kCmdViewSwitch: ViewSwitch(); break;
        case kCmdContextMenu: SendMessageA(main_, WM_COMMAND, MAKEWPARAM(ID_CONTEXT_MENU_COMMAND, 0), 0); break;
        case kCmdOpenWith: OpenWithCommand(main_, *this); break;
        case kCmdUpdateCheck: UpdateCheckCommand(main_); break;
        case kCmdBanner: OpenUrl(PageAddress(IDS_FAMILY_PAGE)); break;
        default: break;
        }
    }
    SetCursor(previous ? previous : LoadCursorA(nullptr, IDC_ARROW));
    UpdateWindow(main_);
}

void ToolbarPanel::ViewSwitch() {
    if (list_.Empty()) return;
    thumbnailMode = !thumbnailMode;
    SendMessageA(main_, UM_SET_VIEW, thumbnailMode ? 1 : 0, 0);
}

void ToolbarPanel::SynthesiseKey(WORD vk) {
    // Handled by the main window's own key handling, so the button acts
    // exactly as the key. No input event as well: with the focus on the
    // main window it would be handled a second time.
    SendMessageA(main_, WM_KEYDOWN, vk, 0);
}

void ToolbarPanel::SaveFolders() { settings_.SaveFolders(initDir, saveAsDir); }

void ToolbarPanel::UpdateButtons() {
    // The buttons come with the toolbar; nothing to enable yet.
}

void ToolbarPanel::Build(const std::string& path) {
    list_.Build(path);
    UpdateButtons();
    SendMessageA(main_, UM_CLEAR_THUMBNAILS, 0, 0);
    StartSortWorker(true);
    const std::string current = list_.CurrentPath();
    SendMessageA(main_, UM_SHOW_FILE, 0, reinterpret_cast<LPARAM>(current.c_str()));
}

bool ToolbarPanel::BuildFromFolder(const std::string& folder) {
    if (!list_.BuildFromFolder(folder)) return false;
    UpdateButtons();
    SendMessageA(main_, UM_CLEAR_THUMBNAILS, 0, 0);
    StartSortWorker(true);
    const std::string current = list_.CurrentPath();
    SendMessageA(main_, UM_SHOW_FILE, 1, reinterpret_cast<LPARAM>(current.c_str()));
    return true;
}

int32_t ToolbarPanel::DeleteCurrent(bool thumbnailViewShown) {
    if (list_.Empty()) return -1;
    const std::string path = list_.CurrentPath();
    if (AppMessageBox(main_, DeleteQuestion(path), MB_YESNO | MB_ICONQUESTION) != IDYES) return -1;
    const int32_t removed = list_.DeleteCurrent();
    UpdateButtons();
    if (!thumbnailViewShown) {
        const std::string current = list_.CurrentPath();
        SendMessageA(main_, UM_SHOW_FILE, 0, reinterpret_cast<LPARAM>(current.c_str()));
    }
    return removed;
}

void ToolbarPanel::SortCommand(uint32_t key) {
    sort_.Command(key);
    StartSortWorker(false);
}

void ToolbarPanel::StartSortWorker(bool afterBuild) {
    ReapWorkers();
    SortJob* job = new SortJob{this, sort_.key, sort_.ascending, afterBuild, sort_.lastCommand};
    HANDLE thread = CreateThread(nullptr, 0, SortWorker, job, 0, nullptr);
    if (!thread) {
        delete job;
        return;
    }
    workers_.push_back(thread);
}

DWORD WINAPI ToolbarPanel::SortWorker(LPVOID param) {
    SortJob* job = static_cast<SortJob*>(param);
    ToolbarPanel* self = job->panel;
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    // The thumbnail worker reads the list: let it finish first.
    if (HANDLE event = ThumbnailCompletionEvent()) WaitDispatching(event);
    SetCursor(previous ? previous : LoadCursorA(nullptr, IDC_ARROW));
    self->list_.SortList(job->key, job->ascending, [self](const std::string& path, const std::string& error) {
        AppMessageBox(self->main_, UnreadableFileText(path, error), MB_OK | MB_ICONERROR);
    });
    if (job->afterBuild) {
        SendMessageA(self->main_, UM_SHOW_THUMBNAILS, 0, 0);
    } else {
        SendMessageA(self->main_, UM_SORT_DONE, job->ascending ? 1 : 0, job->lastCommand);
    }
    delete job;
    return 0;
}

void ToolbarPanel::ReapWorkers() {
    for (size_t i = 0; i < workers_.size();) {
        if (WaitForSingleObject(workers_[i], 0) == WAIT_OBJECT_0) {
            CloseHandle(workers_[i]);
            workers_.erase(workers_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

void ToolbarPanel::WaitForSortWorkers() {
    // A worker may be sending to the main window: keep dispatching.
    for (HANDLE thread : workers_) {
        WaitDispatching(thread);
        CloseHandle(thread);
    }
    workers_.clear();
}
