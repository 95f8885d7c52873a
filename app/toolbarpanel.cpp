// The toolbar panel and the folder file list it owns.
#include "app/toolbarpanel.h"

#include "app/editor.h"
#include "app/editor_core.h"
#include "app/resource.h"
#include "browse/texts.h"

#include "features/win/features.h"
#include "thumbs/win/contextmenu.h"

#include <shlobj.h>

namespace {

// The panel's face, matching the buttons' bitmaps.
const COLORREF kFaceColour = RGB(236, 239, 243);

std::string MyPictures() {
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_MYPICTURES, FALSE)) return {};
    return path;
}

}  // namespace

ToolbarPanel::ToolbarPanel(HWND mainWindow, VSSettings& settings, VSViewerModel& model)
    : CDialogBase(IDD_TOOLBAR_PANEL), main_(mainWindow), settings_(settings), model_(model) {}

ToolbarPanel::~ToolbarPanel() {
    WaitForSortWorkers();
    DestroyButtons();
    menu_.reset();
    if (face_) DeleteObject(face_);
}

BOOL ToolbarPanel::OnInitDialog() {
    settings_.LoadFolders(&model_.initDir, &model_.saveAsDir, MyPictures());
    menu_.reset(new CContextMenu(settings_, model_.sort));
    // The editor's functions decide the count (and base) before the buttons exist.
    std::vector<EditorFunctionButton> functions;
    editorPresent_ = LoadEditorFunctions(&functions);
    if (editorPresent_) {
        editorCount_ = static_cast<uint32_t>(functions.size());
        for (const EditorFunctionButton& f : functions) editorButtons_.push_back({f.name, f.bitmap});
    }
    CreateButtons();
    return FALSE;
}

bool ToolbarPanel::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (msg) {
    case WM_COMMAND:
        return MenuCommand(LOWORD(wParam));
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (!item || item->CtlType != ODT_MENU || !menu_) return false;
        menu_->Measure(item);
        *result = TRUE;
        return true;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item && item->CtlType == ODT_MENU && menu_) {
            menu_->Draw(item);
            *result = TRUE;
            return true;
        }
        CBitmapButton* button = item && item->CtlType == ODT_BUTTON ? Button(item->CtlID) : nullptr;
        if (!button) return false;
        button->Draw(item);
        *result = TRUE;
        return true;
    }
    case UM_BUTTON_HOVER:
        SetCursor(LoadCursorA(nullptr, wParam == 1 ? IDC_HAND : IDC_ARROW));
        *result = 0;
        return true;
    case WM_CTLCOLORDLG:
        if (!face_) face_ = CreateSolidBrush(kFaceColour);
        *result = reinterpret_cast<LRESULT>(face_);
        return true;
    default:
        break;
    }
    if (msg != UM_BUTTON_CLICKED) return false;
    RunCommand(static_cast<uint32_t>(wParam));
    *result = 0;
    return true;
}

bool ToolbarPanel::MenuCommand(UINT id) {
    switch (id) {
    case ID_MENU_HELP: OpenUrl(PageAddress(IDS_HELP_PAGE)); return true;
    case ID_MENU_ABOUT: ShowAbout(main_); return true;
    case ID_MENU_VISIT: OpenUrl(PageAddress(IDS_HOME_PAGE)); return true;
    case ID_MENU_UPDATE: UpdateCheckCommand(main_); return true;
    case ID_MENU_SETTINGS: SettingsCommand(main_); return true;
    case kSortName: case kSortDate: case kSortSize:
        SortCommand(id);
        if (menu_) menu_->CheckSort(id);
        return true;
    default: return false;
    }
}

void ToolbarPanel::RunCommand(uint32_t id) {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    if (id < editorCount_) {
        SendMessageA(main_, WM_COMMAND, MAKEWPARAM(ID_EDITOR_FUNCTION_0 + id, 1), 0);
    } else {
        switch (id - editorCount_) {
        case kCmdOpen: SendMessageA(main_, WM_COMMAND, MAKEWPARAM(ID_OPEN_COMMAND, 0), 0); break;
        case kCmdSaveAs: SaveAsCommand(main_, model_.list.CurrentPath(), &model_.saveAsDir); break;
        case kCmdPrevious: SynthesiseKey(VK_LEFT); break;
        case kCmdNext: SynthesiseKey(VK_RIGHT); break;
        case kCmdFullScreen: SynthesiseKey(VK_RETURN); break;
        case kCmdViewSwitch: ViewSwitch(); break;
        case kCmdContextMenu: ShowMenu(); break;
        case kCmdOpenWith: OpenWithCommand(main_, model_.list.CurrentPath()); break;
        case kCmdUpdateCheck: UpdateCheckCommand(main_); break;
        case kCmdBanner: OpenUrl(PageAddress(IDS_FAMILY_PAGE)); break;
        default: break;
        }
    }
    SetCursor(previous ? previous : LoadCursorA(nullptr, IDC_ARROW));
    UpdateWindow(main_);
}

void ToolbarPanel::ShowMenu() {
    POINT at{};
    GetCursorPos(&at);
    if (menu_) menu_->Show(Hwnd(), at.x, at.y);
}

void ToolbarPanel::ViewSwitch() {
    if (model_.list.Empty()) return;
    model_.thumbnailMode = !model_.thumbnailMode;
    SendMessageA(main_, UM_SET_VIEW, model_.thumbnailMode ? 1 : 0, 0);
}

void ToolbarPanel::SynthesiseKey(WORD vk) {
    // Handled by the main window's own key handling, so the button acts
    // exactly as the key. No input event as well: with the focus on the
    // main window it would be handled a second time.
    SendMessageA(main_, WM_KEYDOWN, vk, 0);
}

void ToolbarPanel::SaveFolders() { settings_.SaveFolders(model_.initDir, model_.saveAsDir); }

namespace {

struct ButtonLayout {
    uint32_t offset;  // identifier relative to the editor count
    int width;
    UINT bitmap;
    const char* tooltip;
    bool separator;
};

const ButtonLayout kLeftGroup[] = {
    {kCmdOpen, 40, IDB_OPEN, "Open (O)", false},
    {kCmdSaveAs, 40, IDB_SAVE_AS, "Save as...(S)", false},
    {kCmdPrevious, 30, IDB_PREVIOUS, "Previous", false},
    {kCmdNext, 30, IDB_NEXT, "Next", false},
    {kCmdFullScreen, 40, IDB_FULL_SCREEN, "Full screen (F)", false},
    {kCmdViewSwitch, 40, IDB_VIEW, "View image/thumbnails (V)", false},
    {6, 6, IDB_SEPARATOR, nullptr, true},
    {kCmdContextMenu, 40, IDB_SETTINGS, "Help and Settings (H)", false},
    {kCmdOpenWith, 40, IDB_OPEN_WITH, "Open with external program (E)", false},
    {9, 6, IDB_SEPARATOR, nullptr, true},
};

const int kButtonTop = 5;
const int kButtonHeight = 38;
const int kPanelHeight = 48;

HBITMAP LoadStrip(UINT id) {
    return static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

}  // namespace

void ToolbarPanel::CreateButtons() {
    const uint32_t base = editorCount_;
    int x = 0;
    auto add = [&](uint32_t id, HBITMAP strip, CBitmapButton::Look look, int width, bool fullHeight,
                   const std::string& tooltip) {
        std::unique_ptr<CBitmapButton> button(new CBitmapButton(id, strip, look));
        button->Create(Hwnd(), x, fullHeight ? 0 : kButtonTop, width, fullHeight ? kPanelHeight : kButtonHeight,
                       tooltip);
        buttons_.push_back(std::move(button));
        x += width;
    };
    for (const ButtonLayout& b : kLeftGroup) {
        CBitmapButton::Look look;
        look.staticImage = look.alwaysDisabled = b.separator;
        add(base + b.offset, LoadStrip(b.bitmap), look, b.width, b.separator, b.tooltip ? b.tooltip : "");
    }
    if (editorPresent_) {
        for (uint32_t i = 0; i < editorCount_; ++i) {
            const bool known = i < editorButtons_.size();
            add(i, known ? editorButtons_[i].bitmap : nullptr, CBitmapButton::Look(), 40, false,
                EditorTooltip(i, known ? editorButtons_[i].name : std::string()));
        }
        editorButtons_.clear();  // the buttons own the bitmaps now
    } else {
        // Without the editor: seven placeholders, static and without tooltips.
        for (uint32_t i = 0; i < 7; ++i) {
            CBitmapButton::Look look;
            look.staticImage = true;
            add(i, LoadStrip(IDB_EDITOR_PLACEHOLDER_0 + i), look, 40, false, "");
        }
    }
    CBitmapButton::Look plain, separator, banner;
    separator.staticImage = separator.alwaysDisabled = true;
    banner.staticImage = banner.banner = true;
    add(base + kCmdUpdateCheck, LoadStrip(IDB_UPDATE), plain, 79, false, "");
    add(base + 11, LoadStrip(IDB_SEPARATOR), separator, 6, true, "");
    add(base + kCmdBanner, LoadStrip(IDB_BANNER), banner, 217, false, "");
    UpdateButtons();
}

void ToolbarPanel::DestroyButtons() {
    // Buttons go before the panel.
    buttons_.clear();
}

CBitmapButton* ToolbarPanel::Button(uint32_t id) {
    for (auto& b : buttons_)
        if (b->Id() == id) return b.get();
    return nullptr;
}

void ToolbarPanel::UpdateButtons() {
    const bool current = model_.PictureCurrent();
    for (auto& b : buttons_) {
        const bool editorFunction = b->Id() < editorCount_;
        if (!editorPresent_) {
            b->SetEnabled(!editorFunction);
        } else if (b->Id() == editorCount_ + kCmdBanner) {
            b->SetEnabled(false);
            b->Show(false);
        } else {
            b->SetEnabled(!editorFunction || current);
        }
    }
}

void ToolbarPanel::Build(const std::string& path) {
    model_.list.Build(path);
    UpdateButtons();
    SendMessageA(main_, UM_CLEAR_THUMBNAILS, 0, 0);
    StartSortWorker(true);
    const std::string current = model_.list.CurrentPath();
    SendMessageA(main_, UM_SHOW_FILE, 0, reinterpret_cast<LPARAM>(current.c_str()));
}

bool ToolbarPanel::BuildFromFolder(const std::string& folder) {
    if (!model_.list.BuildFromFolder(folder)) return false;
    UpdateButtons();
    SendMessageA(main_, UM_CLEAR_THUMBNAILS, 0, 0);
    StartSortWorker(true);
    const std::string current = model_.list.CurrentPath();
    SendMessageA(main_, UM_SHOW_FILE, 1, reinterpret_cast<LPARAM>(current.c_str()));
    return true;
}

void ToolbarPanel::OpenPaths(const std::vector<std::string>& paths, bool clearThumbnails) {
    if (!model_.list.Assign(paths)) return;
    UpdateButtons();
    if (clearThumbnails) SendMessageA(main_, UM_CLEAR_THUMBNAILS, 0, 0);
    StartSortWorker(true);
    const std::string current = model_.list.CurrentPath();
    SendMessageA(main_, UM_SHOW_FILE, 1, reinterpret_cast<LPARAM>(current.c_str()));
}

void ToolbarPanel::ShowFirst() {
    const VSListSnapshot list = model_.list.Snapshot();
    if (list.entries.empty()) return;
    model_.list.SetCurrent(0, list.entries.front());
    SendMessageA(main_, UM_SHOW_FILE, 1, reinterpret_cast<LPARAM>(list.entries.front().c_str()));
}

int32_t ToolbarPanel::DeleteCurrent(bool thumbnailViewShown) {
    if (model_.list.Empty()) return -1;
    const std::string path = model_.list.CurrentPath();
    if (AppMessageBox(main_, DeleteQuestion(path), MB_YESNO | MB_ICONQUESTION) != IDYES) return -1;
    const int32_t removed = model_.list.DeleteCurrent();
    UpdateButtons();
    if (!thumbnailViewShown) {
        const std::string current = model_.list.CurrentPath();
        SendMessageA(main_, UM_SHOW_FILE, 0, reinterpret_cast<LPARAM>(current.c_str()));
    }
    return removed;
}

void ToolbarPanel::SortCommand(uint32_t key) {
    model_.sort.Command(key);
    StartSortWorker(false);
}

void ToolbarPanel::StartSortWorker(bool afterBuild) {
    ReapWorkers();
    if (afterBuild) populatePending_ = true;
    SortJob* job = new SortJob{this, model_.sort.key, model_.sort.ascending, !afterBuild, ++sortSerial_};
    HANDLE thread = CreateThread(nullptr, 0, SortWorker, job, 0, nullptr);
    if (!thread) {
        delete job;
        return;
    }
    workers_.push_back(thread);
}

DWORD WINAPI ToolbarPanel::SortWorker(LPVOID param) {
    std::unique_ptr<SortJob> job(static_cast<SortJob*>(param));
    ToolbarPanel* self = job->panel;
    // The thumbnail worker makes its own copy of the paths and finds its
    // items by key, so a sort need not wait for it. Workers sort one at a
    // time, and only the newest request sorts at all: the last command
    // wins in the list and its pane.
    std::lock_guard<std::mutex> lock(self->sortLock_);
    if (job->serial != self->sortSerial_) return 0;
    self->model_.list.SortList(job->key, job->ascending, [self](const std::string& path, const std::string& error) {
        AppMessageBox(self->main_, UnreadableFileText(path, error), MB_OK | MB_ICONERROR);
    });
    // A build whose own sort was overtaken still needs its thumbnails.
    if (self->populatePending_.exchange(false)) SendMessageA(self->main_, UM_SHOW_THUMBNAILS, 0, 0);
    if (job->command) SendMessageA(self->main_, UM_SORT_DONE, job->ascending ? 1 : 0, job->key);
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
