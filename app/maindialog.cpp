// The main window: display, navigation keys, placement and full screen.
#include "app/maindialog.h"

#include "app/editor.h"
#include "app/editor_core.h"
#include "app/resource.h"

#include "codec/IS40.h"
#include "codec/win/isbitmap.h"
#include "browse/fit.h"
#include "browse/imageloader.h"
#include "browse/opening.h"
#include "browse/paths.h"
#include "browse/prefetch.h"
#include "browse/render.h"
#include "browse/texts.h"
#include "browse/zoom.h"

#include "browse/win/openfiles.h"
#include "browse/win/winfs.h"
#include "features/win/features.h"

#include <windowsx.h>

#include <algorithm>

namespace {

constexpr DWORD kNormalStyle = 0x90CF0000;  // popup, visible, caption, menu, frame, boxes

uint32_t FileSizeOf(VSFileSystem& fs, const std::string& path) {
    VSFileStatus status{};
    std::string error;
    return fs.Status(path, &status, &error) ? status.size : 0;
}

}  // namespace

MainDialog::MainDialog(const std::string& argument)
    : CDialogBase(IDD_MAIN), argument_(argument), settings_(store_), tracker_(VSPlacement()), model_(fs_) {
    IS40_Initialize();
}

MainDialog::~MainDialog() {
    if (dragFullWindowsWasOn_) SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, TRUE, nullptr, 0);
    status_.Destroy();
    ReleaseDisplay();
    if (memoryDC_) DeleteDC(memoryDC_);
}

HWND MainDialog::Picture() const { return GetDlgItem(Hwnd(), IDC_PICTURE); }

VSRect MainDialog::WindowFrame() const {
    RECT r{};
    GetWindowRect(Hwnd(), &r);
    return {r.left, r.top, r.right, r.bottom};
}

BOOL MainDialog::OnInitDialog() {
    HWND wnd = Hwnd();
    // An older version's settings first, so that everything below reads them.
    MigrateSettings();
    icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP));
    SendMessageA(wnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));

    HDC pictureDC = GetDC(Picture());
    memoryDC_ = CreateCompatibleDC(pictureDC);
    ReleaseDC(Picture(), pictureDC);
    const VSSize screen = ScreenPixels();
    screenWidth_ = screen.width;
    screenHeight_ = screen.height;

    // Full-window dragging would repaint big pictures on every move.
    BOOL dragFull = FALSE;
    if (SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &dragFull, 0) && dragFull) {
        SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, FALSE, nullptr, 0);
        dragFullWindowsWasOn_ = true;
    }

    tracker_ = VSPlacementTracker(settings_.LoadPlacement());
    maximised_ = tracker_.Placement().maximised;

    RECT client{};
    GetClientRect(wnd, &client);
    panel_.reset(new ToolbarPanel(wnd, settings_, model_));
    panel_->Create(wnd);
    MoveWindow(panel_->Hwnd(), 0, 0, client.right, static_cast<int>(kToolbarHeight), TRUE);
    ShowWindow(panel_->Hwnd(), SW_SHOW);

    status_.Create(wnd, IDC_STATUS_BAR);
    status_.SetPanes({client.right / 4, client.right / 4 * 2, client.right / 4 * 3, -1});
    status_.SetText(0, kPaneNameEmpty);
    status_.SetText(1, kPaneDimensionsEmpty);
    status_.SetText(2, kPaneFileSizeEmpty);
    status_.SetText(3, kPaneSortEmpty);

    // The thumbnail view waits off-screen until it is switched to.
    thumbs_.Create(wnd);
    thumbs_.SetFolderList(&model_.list);
    MoveWindow(thumbs_.Hwnd(), -2000, -2000, 400, 800, FALSE);

    const VSPlacement& p = tracker_.Placement();
    if (!p.maximised) {
        MoveWindow(wnd, p.x, p.y, p.width, p.height, TRUE);
    } else {
        ShowMaximised();
    }
    prefetcher_.reset(new Prefetcher(prefetch_));
    fullDecoder_.reset(new FullDecoder(wnd, UM_FULL_DECODED));
    if (!argument_.empty()) panel_->Build(argument_);

    accelerators_ = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCELERATORS));
    // Files dropped by plain and by OLE sources.
    DragAcceptFiles(wnd, TRUE);
    dropTarget_ = RegisterDropTarget(wnd);
    InvalidateAll(true);
    UpdateWindow(wnd);
    return TRUE;
}

// ---- keys -----------------------------------------------------------------

bool MainDialog::PreTranslateMessage(MSG* msg) {
    HWND wnd = Hwnd();
    if (!wnd) return false;
    if (accelerators_ && TranslateAcceleratorA(wnd, accelerators_, msg)) return true;
    // Keys and the wheel count wherever the focus is inside this window: a
    // toolbar button keeps it after a click or a full-screen change.
    const bool ours = msg->hwnd == wnd || (msg->hwnd && IsChild(wnd, msg->hwnd));
    if (msg->message == WM_KEYDOWN && ours) {
        HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        const bool consumed = OnKeyDown(static_cast<UINT>(msg->wParam));
        SetCursor(previous);
        if (consumed) return true;
    }
    if (msg->message == WM_MOUSEWHEEL && ours && (!model_.thumbnailMode || fullScreen_) &&
        model_.PictureCurrent()) {
        const int delta = GET_WHEEL_DELTA_WPARAM(msg->wParam);
        if ((GET_KEYSTATE_WPARAM(msg->wParam) & MK_CONTROL) && Zoomable()) {
            POINT at{GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)};
            ScreenToClient(Picture(), &at);
            const int notches = delta / WHEEL_DELTA;
            ZoomBy(notches ? notches : delta > 0 ? 1 : -1, {at.x, at.y});
        } else {
            OnWheel(delta);
        }
        return true;
    }
    return false;
}

bool MainDialog::OnKeyDown(UINT key, bool byButton) {
    const bool current = model_.PictureCurrent();
    const bool thumbnails = model_.thumbnailMode && !fullScreen_;
    FolderList& list = model_.list;
    // Ctrl + arrows move a zoomed picture an eighth of the view; at the
    // fitted view they step as without Ctrl.
    if (!byButton && zoom_.Zoomed() && GetKeyState(VK_CONTROL) < 0 &&
        (key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN)) {
        const VSSize view = ViewSize();
        const int64_t dx = view.width / 8, dy = view.height / 8;
        Pan(key == VK_LEFT ? -dx : key == VK_RIGHT ? dx : 0, key == VK_UP ? -dy : key == VK_DOWN ? dy : 0);
        return true;
    }
    const VSSize view = ViewSize();
    const VSPoint centre{static_cast<int32_t>(view.width / 2), static_cast<int32_t>(view.height / 2)};
    // A step through the list, with a picture shown only.
    const auto step = [&](void (FolderList::*move)(), int32_t travel) {
        if (current) {
            (list.*move)();
            travel_ = travel;
            AfterStep();
        }
        return true;
    };
    switch (key) {
    case VK_RETURN:
        if (current) ToggleFullScreen();
        return true;
    case VK_ESCAPE:
        if (fullScreen_) {
            ToggleFullScreen();
        } else {
            PostMessageA(Hwnd(), WM_CLOSE, 0, 0);
        }
        return true;
    case VK_SPACE: case VK_NEXT: case VK_RIGHT: return step(&FolderList::Next, 1);
    case VK_PRIOR: case VK_LEFT: return step(&FolderList::Previous, -1);
    case VK_HOME: return step(&FolderList::First, 0);
    case VK_END: return step(&FolderList::Last, 0);
    case VK_UP: return !thumbnails && step(&FolderList::Previous, -1);
    case VK_DOWN: return !thumbnails && step(&FolderList::Next, 1);
    case VK_DELETE:
        if (current) {
            const int32_t removed = panel_->DeleteCurrent(thumbnails);
            if (removed >= 0) {
                thumbs_.DeleteItem(removed);
                SelectCurrentThumbnail(false);
            }
        }
        return true;
    case 'E':
        OpenWithCommand(Hwnd(), model_.list.CurrentPath());
        return true;
    case 'F':
        if (current) ToggleFullScreen();
        return true;
    case 'H':
        OpenUrl(PageAddress(IDS_HELP_PAGE));
        return true;
    case 'O':
        OpenCommand();
        return true;
    case 'S':
        if (current) SaveAsCommand(Hwnd(), model_.list.CurrentPath(), &model_.saveAsDir);
        return true;
    case 'V':
        if (current) panel_->ViewSwitch();
        return true;
    case VK_F1: case VK_F12:
        return true;
    // Zoom keys reach the thumbnail view as before.
    case VK_ADD: case VK_OEM_PLUS: case VK_SUBTRACT: case VK_OEM_MINUS:
        if (!Zoomable()) return false;
        ZoomBy(key == VK_ADD || key == VK_OEM_PLUS ? 1 : -1, centre);
        return true;
    case VK_MULTIPLY: case '1':
        if (!Zoomable()) return false;
        SetZoom(ZoomAbout(zoom_, FitScaleNow(), 1, centre, ZoomPicture(), view));
        return true;
    case '0': case VK_DIVIDE: case VK_OEM_2:
        if (!Zoomable()) return false;
        SetZoom(VSZoom());
        return true;
    default:
        return false;
    }
}

bool MainDialog::OnCommand(UINT id) {
    if (id >= ID_EDITOR_FUNCTION_0 && id < ID_EDITOR_FUNCTION_0 + kEditorMaxFunctions) {
        EditorFunction(id - ID_EDITOR_FUNCTION_0);
        return true;
    }
    switch (id) {
    case ID_OPEN_COMMAND: OpenCommand(); return true;
    default: return false;
    }
}

void MainDialog::OnLeftButtonDown(int x, int y) {
    if (!model_.PictureCurrent() || (model_.thumbnailMode && !fullScreen_)) return;
    // Only a press inside the picture area drags the shown file out.
    RECT area{};
    GetClientRect(Picture(), &area);
    MapWindowPoints(Picture(), Hwnd(), reinterpret_cast<POINT*>(&area), 2);
    const POINT at{x, y};
    if (!PtInRect(&area, at)) return;
    // A zoomed picture is moved by the drag instead.
    if (zoom_.Zoomed()) {
        panning_ = true;
        panFrom_ = at;
        SetCapture(Hwnd());
        SetCursor(LoadCursorA(nullptr, IDC_HAND));
        return;
    }
    DragOut(model_.list.CurrentPath());
}

void MainDialog::OnMouseMove(int x, int y) {
    if (!panning_) return;
    const int64_t dx = panFrom_.x - x, dy = panFrom_.y - y;
    panFrom_ = POINT{x, y};
    Pan(dx, dy);
}

void MainDialog::OpenCommand() {
    CFileDialogEx dialog(Hwnd(), model_.initDir);
    if (dialog.Show()) {
        HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        // The thumbnail worker reads the list that is about to be replaced.
        thumbs_.StopWorker();
        thumbs_.WaitForWorkers();
        SetCursor(previous ? previous : LoadCursorA(nullptr, IDC_ARROW));
        const std::vector<std::string> paths = dialog.Paths();
        if (paths.size() > 1) {
            model_.list.Clear();
            panel_->OpenPaths(paths, true);
        } else if (paths.size() == 1) {
            model_.list.Clear();
            panel_->Build(paths[0]);
        }
        if (!paths.empty()) model_.initDir = dialog.NextFolder();
    }
    panel_->UpdateButtons();
    InvalidateAll(true);
    UpdateWindow(Hwnd());
}

void MainDialog::OpenDropped(const std::vector<std::string>& paths, bool oleDrop) {
    // The thumbnails are cleared for the OLE drop only.
    if (oleDrop) thumbs_.StopWorker();
    const VSOpenPlan plan = PlanDrop(paths, oleDrop);
    switch (plan.kind) {
    case VSOpenPlan::kFiles: panel_->OpenPaths(plan.paths, oleDrop); break;
    case VSOpenPlan::kKeepFirst: panel_->ShowFirst(); break;
    case VSOpenPlan::kFolder:
        model_.list.Clear();
        panel_->BuildFromFolder(plan.path);
        break;
    case VSOpenPlan::kFile:
        model_.list.Clear();
        panel_->Build(plan.path);
        break;
    case VSOpenPlan::kUnsupported: model_.list.Clear(); break;
    case VSOpenPlan::kNothing: break;
    }
    panel_->UpdateButtons();
    SetForegroundWindow(Hwnd());
    if (oleDrop) {
        ShowFile(1, model_.list.CurrentPath());
    } else {
        SetFocus(Hwnd());
    }
    InvalidateAll(true);
}

void MainDialog::EditorFunction(uint32_t index) {
    // Without an editor (as the toolbar found it), or without a picture for
    // it, the command does nothing.
    if (!panel_->EditorPresent() || index >= panel_->EditorCount() || !model_.PictureCurrent()) return;
    CBitmapButton* button = panel_->Button(index);
    if (button) button->SetPressed(true);
    EditorComponent editor;
    if (!editor.Create()) {
        if (button) button->SetPressed(false);
        return;
    }
    float version = 0, build = 0;
    ReadEditorVersion(&version, &build);
    if (!EditorVersionAccepted(version, build, ResourceText(IDS_EDITOR_VERSION), ResourceText(IDS_EDITOR_BUILD))) {
        editor.Release();
        ShowEditorUpdateDialog(Hwnd());
        if (button) button->SetPressed(false);
        return;
    }
    std::string result = model_.list.CurrentPath();
    int32_t status = 0, kind = 0;
    int16_t newFile = 0;
    // Any error of the editor's: the list and the shown picture stay.
    const bool ran = editor.Run(index, &result, &status) && editor.GetResult(&newFile, &kind);
    if (button) button->SetPressed(false);
    editor.Release();
    if (!ran) return;
    // No wait for the thumbnail worker: it works on its own copy of the
    // paths, and the changed file's item is made again below.
    VSEditorOutcome outcome;
    if (!ApplyEditorResult(model_.list, index, status, newFile, kind, result, &outcome)) return;
    if (!model_.thumbnailMode || fullScreen_) ShowFile(0, outcome.currentPath);
    FileChanged(outcome.changedParam, outcome.changedPath);
}

void MainDialog::AfterStep() {
    if (model_.thumbnailMode && !fullScreen_) {
        // Nothing is shown; the view marks the new current picture.
        SelectCurrentThumbnail(false);
        return;
    }
    ShowFile(0, model_.list.CurrentPath());
}

void MainDialog::OnWheel(int delta) {
    if (delta > 0) {
        model_.list.Previous();
    } else {
        model_.list.Next();
    }
    travel_ = delta > 0 ? -1 : 1;
    AfterStep();
}

// ---- messages -------------------------------------------------------------

bool MainDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (msg) {
    case WM_COPYDATA:
        OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        *result = TRUE;
        return true;
    case UM_SHOW_FILE:
        ShowFile(wParam, lParam ? reinterpret_cast<const char*>(lParam) : "");
        return true;
    case UM_SHOW_AT:
        ShowAt(static_cast<int32_t>(wParam), lParam ? reinterpret_cast<const char*>(lParam) : "");
        return true;
    case UM_RERENDER:
        Rerender();
        return true;
    case UM_SORT_DONE:
        SortDone(wParam != 0, static_cast<uint32_t>(lParam));
        return true;
    case UM_SET_VIEW:
        SetView(wParam == 1);
        return true;
    case WM_KEYDOWN:
        // Sent by the toolbar's Previous, Next and Full screen buttons.
        *result = 0;
        return OnKeyDown(static_cast<UINT>(wParam), true);

    case UM_THUMBNAIL_ACTIVATED:
        ToggleFullScreen();
        return true;
    case UM_SHOW_THUMBNAILS:
        // The sort after a build moved the current entry: show its new counter.
        if (panel_ && model_.PictureCurrent()) {
            Describe();
            Prefetch();
        }
        if (panel_) {
            thumbs_.Populate(settings_.ReadAutoRotate() != 0);
            thumbs_.SortByKey(model_.sort.key, model_.sort.ascending ? 1 : 0);
            if (model_.thumbnailMode && !fullScreen_) SelectCurrentThumbnail(false);
            InvalidateAll(true);
        }
        return true;
    case UM_CLEAR_THUMBNAILS:
        thumbs_.DeleteAllItems();
        return true;
    case UM_STOP_THUMBNAILS:
        thumbs_.StopWorker();
        return true;
    case UM_FILE_CHANGED:
        FileChanged(wParam, lParam ? reinterpret_cast<const char*>(lParam) : "");
        return true;
    case WM_NOTIFY:
        return OnThumbnailNotify(reinterpret_cast<const NMHDR*>(lParam), result);
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        return true;
    case WM_MOVE:
        OnMove();
        return false;
    case WM_ENTERSIZEMOVE:
        inSizeMove_ = true;
        return false;
    case WM_EXITSIZEMOVE:
        inSizeMove_ = false;
        return false;
    case WM_GETMINMAXINFO:
        // The toolbar's width bounds what the user may drag the frame to;
        // a stored or default frame is taken as it is.
        if (inSizeMove_) {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = static_cast<LONG>(36 * (panel_ ? panel_->EditorCount() : 7) + 684);
            info->ptMinTrackSize.y = GetSystemMetrics(SM_CYCAPTION) + 245;
            return true;
        }
        return false;
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlID != IDC_PICTURE) return false;
        if (!panel_ || !model_.thumbnailMode || fullScreen_) PaintPicture(item->hDC, item->rcItem);
        *result = TRUE;
        return true;
    }
    case WM_PAINT:
        if (minimised_) {
            PaintIcon();
            return true;
        }
        return false;
    case WM_ERASEBKGND:
        *result = 1;
        return true;
    case WM_QUERYDRAGICON:
        *result = reinterpret_cast<LRESULT>(icon_);
        return true;
    case WM_DROPFILES:
        OpenDropped(DroppedFiles(reinterpret_cast<HDROP>(wParam)), false);
        return true;
    case UM_FILES_DROPPED:
        OpenDropped(*reinterpret_cast<const std::vector<std::string>*>(lParam), wParam == 1);
        return true;
    case WM_LBUTTONDOWN:
        OnLeftButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return true;
    case WM_LBUTTONUP:
        if (panning_) ReleaseCapture();
        return panning_;
    case WM_CAPTURECHANGED:
        panning_ = false;
        return false;
    case WM_SETCURSOR: {
        // The hand over a zoomed picture: a drag moves it.
        POINT at{};
        GetCursorPos(&at);
        ScreenToClient(Hwnd(), &at);
        if (!zoom_.Zoomed() || LOWORD(lParam) != HTCLIENT || !InPictureArea(at)) return false;
        SetCursor(LoadCursorA(nullptr, IDC_HAND));
        *result = TRUE;
        return true;
    }
    case UM_FULL_DECODED:
        OnFullDecoded();
        return true;
    case WM_LBUTTONDBLCLK:
        if (model_.PictureCurrent()) ToggleFullScreen();
        return true;
    case WM_MOUSEMOVE:
        OnMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        if (fullScreen_) {
            const int y = GET_Y_LPARAM(lParam);
            SetWindowPos(panel_->Hwnd(), HWND_TOP, 0, y == 0 ? 0 : -static_cast<int>(kToolbarHeight), 0, 0,
                         SWP_NOSIZE);
        }
        return false;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            // Esc that reached the dialog keys, or the frame's close.
            if (fullScreen_) {
                ToggleFullScreen();
            } else {
                EndDialog(IDCANCEL);
            }
            return true;
        case IDOK:
            return true;
        default:
            return OnCommand(LOWORD(wParam));
        }
    case WM_CLOSE:
        EndDialog(IDCANCEL);
        return true;
    case WM_DESTROY:
        OnDestroy();
        return true;
    default:
        return false;
    }
}

void MainDialog::OnCopyData(const COPYDATASTRUCT* data) {
    if (!data || !data->lpData) return;
    // At most 259 bytes of path; a longer payload is cut there.
    char path[260] = {};
    const DWORD n = data->cbData < 259 ? data->cbData : 259;
    memcpy(path, data->lpData, n);
    // A picture of the folder already listed, unchanged: the list, its
    // thumbnails and the pictures decoded ahead stay; only a date or size
    // order is read again, on the sort worker.
    if (model_.list.SelectListed(path)) {
        if (model_.sort.key != kSortName) panel_->Resort();
        ShowFile(0, model_.list.CurrentPath());
        if (model_.thumbnailMode) SelectCurrentThumbnail(false);
        return;
    }
    thumbs_.StopWorker();
    // The build shows the file as listed (also when handed over in another
    // case); a file it did not list is tried on its own.
    panel_->Build(path);
    if (CompareNoCase(model_.list.CurrentPath(), path) != 0) ShowFile(0, path);
}

void MainDialog::OnDestroy() {
    RemovePropA(Hwnd(), VS_PROP_PAINTED);
    RemovePropA(Hwnd(), VS_PROP_PAINT_TIME);
    RemovePropA(Hwnd(), VS_PROP_PAINT_FULL);
    // Closed in full screen: the frame and state from before it.
    const VSPlacement saved =
        fullScreen_ ? tracker_.Placement() : tracker_.AtSave(minimised_, maximised_, WindowFrame());
    settings_.SavePlacement(saved);
    RevokeDropTarget(Hwnd(), dropTarget_);
    dropTarget_ = nullptr;
    // The worker may still be finishing a file: the codec goes down after it.
    thumbs_.StopWorker();
    thumbs_.WaitForWorkers();
    if (panel_) panel_->WaitForSortWorkers();
    if (prefetcher_) prefetcher_->Stop();
    if (fullDecoder_) fullDecoder_->Stop();
    IS40_Shutdown();
    if (panel_) {
        panel_->SaveFolders();
        panel_->Destroy();
        panel_.reset();
    }
    model_.shown.Clear();
}

// ---- placement and layout -------------------------------------------------

void MainDialog::OnSize(UINT type, int cx, int cy) {
    if (tracker_.OnSize(type == SIZE_MAXIMIZED, type == SIZE_MINIMIZED, fullScreen_)) {
        // Restoring a maximised window returns to the stored frame.
        const VSPlacement& p = tracker_.Placement();
        WINDOWPLACEMENT wp{};
        wp.length = sizeof wp;
        GetWindowPlacement(Hwnd(), &wp);
        wp.rcNormalPosition = {p.x, p.y, p.x + p.width, p.y + p.height};
        SetWindowPlacement(Hwnd(), &wp);
    }
    maximised_ = type == SIZE_MAXIMIZED;
    minimised_ = type == SIZE_MINIMIZED;
    if (!panel_) return;
    if (!fullScreen_) LayOutViews();
    status_.Reposition();
    status_.SetPanes({cx / 4, cx / 4 * 2, cx / 4 * 3, -1});
    status_.SetText(3, PaneSort(model_.sort.key, model_.sort.ascending));
    RECT pic{};
    GetClientRect(Picture(), &pic);
    if (!IsRectEmpty(&pic)) pictureRect_ = pic;
    if (!fullScreen_) MoveWindow(panel_->Hwnd(), 0, 0, cx, static_cast<int>(kToolbarHeight), TRUE);
    (void)cy;
    if (model_.PictureCurrent() && !minimised_) {
        Render();
        InvalidateAll(true);
        SetFocus(Hwnd());
    }
}

void MainDialog::OnMove() {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    GetWindowPlacement(Hwnd(), &wp);
    tracker_.OnMove(wp.showCmd == SW_SHOWMAXIMIZED, fullScreen_, WindowFrame());
}

void MainDialog::LayOutViews() {
    RECT client{};
    GetClientRect(Hwnd(), &client);
    const int top = static_cast<int>(kToolbarHeight);
    const VSSize area =
        PictureArea(static_cast<uint32_t>(client.right), static_cast<uint32_t>(client.bottom), status_.Height());
    const int h = static_cast<int>(area.height);
    if (panel_ && model_.PictureCurrent() && model_.thumbnailMode) {
        MoveWindow(thumbs_.Hwnd(), 0, top, client.right, h, TRUE);
        MoveWindow(Picture(), -2000, -2000, client.right, h, TRUE);
        SelectCurrentThumbnail(false);
        SetFocus(thumbs_.Hwnd());
    } else {
        MoveWindow(Picture(), 0, top, client.right, h, TRUE);
        MoveWindow(thumbs_.Hwnd(), -2000, -2000, client.right, h, TRUE);
        if (thumbs_.Hwnd() && GetFocus() == thumbs_.Hwnd()) SetFocus(Hwnd());
    }
}

void MainDialog::SelectCurrentThumbnail(bool partialOk) {
    const int32_t index = model_.list.CurrentIndex();
    thumbs_.SelectItem(index);
    if (partialOk) thumbs_.ScrollIntoView(index, true);
}

bool MainDialog::OnThumbnailNotify(const NMHDR* header, LRESULT* result) {
    if (!header || header->hwndFrom != thumbs_.Hwnd() || !panel_) return false;
    FolderList& list = model_.list;
    switch (header->code) {
    case NM_CLICK: {
        LVHITTESTINFO hit{};
        GetCursorPos(&hit.pt);
        ScreenToClient(thumbs_.Hwnd(), &hit.pt);
        const int32_t item =
            static_cast<int32_t>(SendMessageA(thumbs_.Hwnd(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        if (item >= 0 && item != list.CurrentIndex()) {
            const std::string path = thumbs_.PathAt(item);
            list.SetCurrent(item, path);
            Describe();
        } else {
            SelectCurrentThumbnail(false);
        }
        *result = 0;
        return true;
    }
    case LVN_KEYDOWN: {
        const WORD key = reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey;
        const int32_t current = list.CurrentIndex();
        const int32_t perRow = thumbs_.ItemsPerRow(current);
        int32_t next = -1;
        if (key == VK_UP) next = current - perRow;
        if (key == VK_DOWN) next = current + perRow;
        if (next >= 0 && next < list.Count()) list.SetCurrent(next, list.At(next));
        SelectCurrentThumbnail(false);
        if (model_.PictureCurrent()) Describe();
        *result = 1;
        return true;
    }
    default:
        return thumbs_.OnNotify(header, result);
    }
}

void MainDialog::FileChanged(WPARAM wParam, const std::string& path) {
    const bool newFile = HIWORD(wParam) != 0;
    const uint32_t kind = LOWORD(wParam);
    FolderList& list = model_.list;
    const int32_t current = list.CurrentIndex();
    if (!newFile && kind != kEditorRenameIndex && kind != kEditorRelabelIndex) {
        thumbs_.RefreshThumbnail(current, list.CurrentPath());
        if (model_.thumbnailMode && !fullScreen_) Describe();
        return;
    }
    if (newFile) {
        thumbs_.AddFile(path);
    } else if (kind == kEditorRenameIndex) {
        thumbs_.UpdateItem(current, path);
    } else {
        thumbs_.UpdateItem(current, FileName(list.CurrentPath()));
    }
    panel_->Resort();
    thumbs_.SortByKey(model_.sort.key, model_.sort.ascending ? 1 : 0);
    SelectCurrentThumbnail(true);
}

void MainDialog::ShowMaximised() {
    const VSPlacement& p = tracker_.Placement();
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    GetWindowPlacement(Hwnd(), &wp);
    wp.rcNormalPosition = {p.x, p.y, p.x + p.width, p.y + p.height};
    wp.showCmd = SW_SHOWMAXIMIZED;
    SetWindowPlacement(Hwnd(), &wp);
}

void MainDialog::ToggleFullScreen() {
    HWND wnd = Hwnd();
    if (!fullScreen_) {
        fullScreen_ = true;
        const VSRect frame = WindowFrame();
        WINDOWPLACEMENT wp{};
        wp.length = sizeof wp;
        GetWindowPlacement(wnd, &wp);
        const bool wasMaximised = wp.showCmd == SW_SHOWMAXIMIZED || IsZoomed(wnd);
        if (wasMaximised) {
            maximised_ = true;
            savedX_ = savedY_ = savedWidth_ = savedHeight_ = 0;
        } else {
            savedX_ = frame.left;
            savedY_ = frame.top;
            savedWidth_ = frame.right - frame.left;
            savedHeight_ = frame.bottom - frame.top;
        }
        tracker_.EnterFullScreen(wasMaximised, frame);
        SetWindowLongA(wnd, GWL_STYLE, WS_POPUP);
        const VSSize screen = ScreenPixels();
        screenWidth_ = screen.width;
        screenHeight_ = screen.height;
        SetWindowPos(wnd, HWND_TOP, 0, 0, static_cast<int>(screenWidth_), static_cast<int>(screenHeight_),
                     SWP_SHOWWINDOW | SWP_FRAMECHANGED);
        displayWidth_ = screenWidth_;
        displayHeight_ = screenHeight_;
        ShowWindow(wnd, SW_MAXIMIZE);
        MoveWindow(panel_->Hwnd(), 0, -static_cast<int>(kToolbarHeight), static_cast<int>(screenWidth_),
                   static_cast<int>(kToolbarHeight), TRUE);
        MoveWindow(Picture(), -1, -1, static_cast<int>(screenWidth_) + 1, static_cast<int>(screenHeight_) + 1,
                   TRUE);
        MoveWindow(thumbs_.Hwnd(), -2000, -2000, 400, 800, FALSE);
        ShowWindow(status_.Hwnd(), SW_HIDE);
        const std::string path = model_.list.CurrentPath();
        // From the thumbnail view the picture may not be decoded yet.
        if (path == model_.shown.path) {
            Render();
            InvalidateAll(true);
        } else {
            ShowFile(0, path);
        }
        return;
    }
    // Full screen stays set until the window is back: the moves and sizes
    // on the way must not become the stored frame.
    SetWindowLongA(wnd, GWL_STYLE, static_cast<LONG>(kNormalStyle));
    ShowWindow(status_.Hwnd(), SW_SHOW);
    const bool framed = !maximised_ || savedX_ || savedY_ || savedWidth_ || savedHeight_;
    if (framed && (savedWidth_ || savedHeight_)) {
        ShowWindow(wnd, SW_RESTORE);
        SetWindowPos(wnd, nullptr, savedX_, savedY_, savedWidth_, savedHeight_,
                     SWP_SHOWWINDOW | SWP_NOZORDER | SWP_FRAMECHANGED);
    } else {
        SetWindowPos(wnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
        ShowMaximised();
    }
    fullScreen_ = false;
    RECT client{};
    GetClientRect(wnd, &client);
    MoveWindow(panel_->Hwnd(), 0, 0, client.right, static_cast<int>(kToolbarHeight), TRUE);
    InvalidateRect(panel_->Hwnd(), nullptr, TRUE);
    UpdateWindow(wnd);
    ShowWindow(wnd, SW_SHOW);
    LayOutViews();
    status_.Reposition();
    if (model_.PictureCurrent()) Render();
    InvalidateAll(true);
    UpdateWindow(wnd);
    SetFocus(model_.PictureCurrent() && model_.thumbnailMode ? thumbs_.Hwnd() : wnd);
}

// ---- display --------------------------------------------------------------

void MainDialog::ReleaseDisplay() {
    if (display_) DeleteObject(display_);
    display_ = nullptr;
    displayWidth_ = displayHeight_ = 0;
}

void MainDialog::InvalidatePicture(bool erase) {
    InvalidateRect(Hwnd(), &pictureRect_, erase);
    InvalidateRect(Picture(), nullptr, FALSE);
}

void MainDialog::InvalidateAll(bool erase) {
    InvalidateRect(Hwnd(), nullptr, erase);
    if (Picture()) InvalidateRect(Picture(), nullptr, FALSE);
}

VSRenderKey MainDialog::RenderKeyNow() {
    RECT client{};
    GetClientRect(Hwnd(), &client);
    const VSSize area =
        PictureArea(static_cast<uint32_t>(client.right), static_cast<uint32_t>(client.bottom), status_.Height());
    return {DisplayBox(fullScreen_, area, screenWidth_, screenHeight_), screenWidth_, screenHeight_,
            settings_.ReadAutoRotate() != 0};
}

void MainDialog::Render() {
    ReleaseDisplay();
    if (zoom_.Zoomed() && RenderZoomedView()) return;
    VSDecodedPicture& shown = model_.shown;
    if (!shown.RenderFor(RenderKeyNow())) return;
    const VSRgbImage& image = shown.display;
    HDC dc = GetDC(Hwnd());
    display_ = IS40_RGBToHBITMAP(image.pixels.data(), image.width, image.height, image.width * 3, nullptr, dc);
    ReleaseDC(Hwnd(), dc);
    if (display_) {
        displayWidth_ = image.width;
        displayHeight_ = image.height;
        displayZoomed_ = false;
        displayFull_ = shown.width >= shown.declaredWidth && shown.height >= shown.declaredHeight;
    }
}

bool MainDialog::RenderZoomedView() {
    const VSSize view = ViewSize();
    // Off screen, as behind the thumbnail view: nothing to show, zoom kept.
    if (view.width == 0 || view.height == 0) return true;
    const VSSize picture = ZoomPicture();
    const bool wasZoomed = zoom_.Zoomed();
    zoom_ = Reframe(zoom_, FitScaleNow(), picture, zoomView_, view);
    zoomView_ = view;
    if (!zoom_.Zoomed()) {
        if (wasZoomed) Describe();
        return false;
    }
    const VSDecodedPicture& shown = model_.shown;
    const int32_t orientation = settings_.ReadAutoRotate() != 0 ? shown.orientation : 0;
    const VSZoomFrame frame = ZoomFrame(zoom_, picture, view);
    // Past what the reduced decode holds: the worker decodes the part in
    // view at the real size first, then the whole picture; the enlarged
    // reduced one shows meanwhile, and wherever a part does not reach.
    if (!full_.pixels && !fullAsked_ && fullDecoder_ &&
        WantsFullDecode({shown.width, shown.height}, {shown.declaredWidth, shown.declaredHeight}, zoom_.scale)) {
        fullAsked_ = true;
        fullDecoder_->Request(shown.path, shownSerial_, PartFirst(picture, orientation, zoom_.scale, frame));
    }
    const bool sharp = full_.pixels && RenderZoomedPart(full_.pixels.get(), full_.part, orientation, picture,
                                                        zoom_.scale, frame, &zoomed_);
    if (sharp || RenderZoomed(shown.pixels.data(), shown.width, shown.height, orientation, picture, zoom_.scale,
                              frame, &zoomed_)) {
        HDC dc = GetDC(Hwnd());
        display_ = IS40_RGBToHBITMAP(zoomed_.pixels.data(), zoomed_.width, zoomed_.height, zoomed_.width * 3,
                                     nullptr, dc);
        ReleaseDC(Hwnd(), dc);
    }
    if (display_) {
        displayWidth_ = zoomed_.width;
        displayHeight_ = zoomed_.height;
        displayZoomed_ = true;
        displayAt_ = frame.at;
        displayFull_ = sharp || (shown.width >= shown.declaredWidth && shown.height >= shown.declaredHeight);
    }
    return true;
}

// ---- zoom -----------------------------------------------------------------

bool MainDialog::Zoomable() const {
    return (!model_.thumbnailMode || fullScreen_) && !model_.shown.pixels.empty();
}

VSSize MainDialog::ViewSize() const {
    RECT r{};
    GetClientRect(Picture(), &r);
    return {static_cast<uint32_t>(std::max<LONG>(r.right, 0)), static_cast<uint32_t>(std::max<LONG>(r.bottom, 0))};
}

VSSize MainDialog::ZoomPicture() {
    const VSDecodedPicture& s = model_.shown;
    const uint32_t w = std::max(s.declaredWidth, s.width), h = std::max(s.declaredHeight, s.height);
    const bool swaps = settings_.ReadAutoRotate() != 0 && OrientationSwaps(s.orientation);
    return swaps ? VSSize{h, w} : VSSize{w, h};
}

double MainDialog::FitScaleNow() {
    const VSRenderKey key = RenderKeyNow();
    const VSDecodedPicture& s = model_.shown;
    const bool swaps = key.autoRotate && OrientationSwaps(s.orientation);
    return FitScale(ZoomPicture(), FitForDisplay(swaps ? s.height : s.width, swaps ? s.width : s.height, key.box,
                                                 key.screenWidth, key.screenHeight));
}

void MainDialog::ZoomBy(int32_t steps, VSPoint at) {
    const double fit = FitScaleNow();
    SetZoom(ZoomAbout(zoom_, fit, SteppedScale(zoom_.scale, fit, steps), at, ZoomPicture(), ViewSize()));
}

void MainDialog::SetZoom(const VSZoom& zoom) {
    if (zoom.scale == zoom_.scale && zoom.left == zoom_.left && zoom.top == zoom_.top) return;
    const bool rescaled = zoom.scale != zoom_.scale;
    zoom_ = zoom;
    zoomView_ = ViewSize();
    ++viewSerial_;
    Render();
    if (rescaled) Describe();
    InvalidateRect(Picture(), nullptr, FALSE);
    UpdateWindow(Picture());
}

void MainDialog::ResetZoom() {
    zoom_ = VSZoom();
    full_ = VSFullPicture();
    fullAsked_ = false;
    if (fullDecoder_) fullDecoder_->Drop();
    if (panning_) ReleaseCapture();
}

void MainDialog::Pan(int64_t dx, int64_t dy) { SetZoom(PanBy(zoom_, dx, dy, ZoomPicture(), ViewSize())); }

bool MainDialog::InPictureArea(POINT client) const {
    RECT area{};
    GetClientRect(Picture(), &area);
    MapWindowPoints(Picture(), Hwnd(), reinterpret_cast<POINT*>(&area), 2);
    return PtInRect(&area, client) != FALSE;
}

void MainDialog::OnFullDecoded() {
    VSFullPicture image;
    if (!fullDecoder_ || !fullDecoder_->Take(shownSerial_, &image)) return;
    // A file changed since it was shown is not swapped in.
    const VSDecodedPicture& shown = model_.shown;
    if (image.width != shown.declaredWidth || image.height != shown.declaredHeight || full_.Whole()) return;
    full_ = std::move(image);
    // A view drawn from its part already stays: the whole picture serves
    // the next one.
    if (!zoom_.Zoomed() || (display_ && displayZoomed_ && displayFull_)) return;
    ++viewSerial_;
    Render();
    // Painted now: this is what the key was waiting for.
    InvalidateRect(Picture(), nullptr, FALSE);
    UpdateWindow(Picture());
}

void MainDialog::DropStalePrefetch() {
    const uint64_t list = model_.list.Generation();
    if (list == prefetchList_) return;
    prefetch_.Invalidate();
    prefetchList_ = list;
}

void MainDialog::Prefetch() {
    const int32_t travel = travel_;
    travel_ = 0;
    DropStalePrefetch();
    if (!prefetcher_ || model_.shown.path.empty()) return;
    std::vector<std::string> paths;
    if (!model_.thumbnailMode || fullScreen_) {
        const VSListSnapshot now = model_.list.Snapshot();
        for (const int32_t i : PrefetchOrder(now.index, static_cast<int32_t>(now.entries.size()), travel))
            if (!prefetch_.Holds(now.entries[i])) paths.push_back(now.entries[i]);
    }
    // Also cancels what an earlier request still had to do.
    prefetcher_->Request(std::move(paths), RenderKeyNow(), prefetch_.Generation());
}

void MainDialog::Describe() {
    FolderList& list = model_.list;
    const VSListSnapshot now = list.Snapshot();
    std::string path = model_.shown.path;
    uint32_t w = model_.shown.declaredWidth, h = model_.shown.declaredHeight;
    int32_t index = -1;
    const bool picture = !model_.thumbnailMode || fullScreen_;
    if (!picture) {
        path = now.path;
        index = now.index;
        uint32_t bits = 0;
        // Read again: the file may have changed since it was shown.
        if (!ImageLoader::GetDimensions(path, &w, &h, &bits)) w = h = 0;
    } else if (!path.empty()) {
        index = path == now.path ? now.index : list.IndexOf(path, false);
    }
    VSPictureTexts texts = PictureTexts(path, index, static_cast<int32_t>(now.entries.size()), w, h,
                                        path.empty() ? 0 : FileSizeOf(fs_, path));
    if (picture && !path.empty() && zoom_.Zoomed()) texts.dimensions = PaneDimensionsZoomed(w, h, zoom_.scale);
    SetWindowTextA(Hwnd(), texts.caption.c_str());
    status_.SetText(0, texts.name);
    status_.SetText(1, texts.dimensions);
    status_.SetText(2, texts.fileSize);
    UpdateWindow(status_.Hwnd());
}

bool MainDialog::LoadAndShow(const std::string& path) {
    DropStalePrefetch();
    VSDecodedPicture next;
    VSFileStatus now{};
    std::string error;
    if (!fs_.Status(path, &now, &error) || !prefetch_.Take(path, now, &next)) {
        VSWinLoaderHost host(Hwnd());
        ImageLoader loader(host);
        if (!ReadDecodedPicture(loader, fs_, path, &next)) return false;
    }
    // The picture stepped away from stays at hand for a step back.
    VSDecodedPicture& shown = model_.shown;
    if (!shown.path.empty() && shown.path != path && model_.list.IndexOf(shown.path, false) >= 0)
        prefetch_.Put(std::move(shown), prefetch_.Generation());
    shown = std::move(next);
    ++shownSerial_;
    ++viewSerial_;
    // Every picture comes in at the fitted view.
    ResetZoom();
    Render();
    return true;
}

void MainDialog::ShowFile(WPARAM wParam, const std::string& path) {
    if (path.empty()) {
        // Nothing left to show: the display and its texts say so.
        ReleaseDisplay();
        model_.shown.Clear();
        ResetZoom();
        Describe();
        InvalidatePicture(false);
        return;
    }
    // A picture that cannot be read leaves the one shown, and its texts.
    if (!LoadAndShow(path)) {
        Describe();
        return;
    }
    if (IsRectEmpty(&pictureRect_)) {
        GetClientRect(Picture(), &pictureRect_);
        if (wParam == 1 || fullScreen_) {
            InvalidateAll(false);
        } else {
            InvalidatePicture(true);
        }
    } else if (fullScreen_) {
        InvalidateAll(true);
    } else {
        InvalidatePicture(true);
    }
    // Painted now: its texts, the work a new list brings (its sort, the
    // thumbnail view's refill) and the decoding ahead come after the
    // picture the user asked for.
    if (!model_.thumbnailMode || fullScreen_) UpdateWindow(Picture());
    Describe();
    Prefetch();
}

void MainDialog::ShowAt(int32_t index, const std::string& path) {
    model_.list.SetCurrent(index, path);
    if (path.empty()) {
        ShowFile(0, path);
        return;
    }
    const bool shown = LoadAndShow(path);
    Describe();
    if (!shown) return;
    Prefetch();
    SetWindowTextA(Hwnd(), CaptionPlain(path).c_str());
    InvalidatePicture(true);
}

void MainDialog::Rerender() {
    if (model_.shown.path.empty()) return;
    Render();
    InvalidateAll(true);
}

void MainDialog::SortDone(bool ascending, uint32_t key) {
    status_.SetText(3, PaneSort(key, ascending));
    Describe();
    // The view follows the list's new order. Done here rather than on a
    // thread of its own: every step is a message to the view anyway.
    thumbs_.SetFolderList(&model_.list);
    thumbs_.SortByKey(key, ascending ? 1 : 0);
    SelectCurrentThumbnail(true);
}

void MainDialog::SetView(bool thumbnails) {
    if (fullScreen_) ToggleFullScreen();
    LayOutViews();
    if (!thumbnails) ShowFile(0, model_.list.CurrentPath());
    InvalidateAll(true);
}

void MainDialog::PaintPicture(HDC dc, const RECT& client) {
    HBRUSH background = CreateSolidBrush(kBackgroundColour);
    if (display_) {
        const VSPoint at = displayZoomed_ ? VSPoint{client.left + displayAt_.x, client.top + displayAt_.y}
                                          : CenterIn(displayWidth_, displayHeight_, client.left, client.top,
                                                     static_cast<uint32_t>(client.right - client.left),
                                                     static_cast<uint32_t>(client.bottom - client.top));
        HGDIOBJ old = SelectObject(memoryDC_, display_);
        BitBlt(dc, at.x, at.y, static_cast<int>(displayWidth_), static_cast<int>(displayHeight_), memoryDC_, 0, 0,
               SRCCOPY);
        SelectObject(memoryDC_, old);
        // Only the area around the picture gets the background: no flicker.
        HRGN rest = CreateRectRgn(client.left, client.top, client.right, client.bottom);
        HRGN picture = CreateRectRgn(at.x, at.y, at.x + static_cast<int>(displayWidth_),
                                     at.y + static_cast<int>(displayHeight_));
        CombineRgn(rest, rest, picture, RGN_DIFF);
        FillRgn(dc, rest, background);
        DeleteObject(picture);
        DeleteObject(rest);
        // Stamped at a view's first paint only: a repaint must not move
        // its time on.
        if (stampedSerial_ != viewSerial_) {
            stampedSerial_ = viewSerial_;
            GdiFlush();
            LARGE_INTEGER now{};
            QueryPerformanceCounter(&now);
            // The time first: a reader that sees the new serial finds its time.
            SetPropA(Hwnd(), VS_PROP_PAINT_TIME, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(now.QuadPart)));
            SetPropA(Hwnd(), VS_PROP_PAINT_FULL, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(displayFull_)));
            SetPropA(Hwnd(), VS_PROP_PAINTED, reinterpret_cast<HANDLE>(viewSerial_));
        }
    } else {
        HGDIOBJ oldBrush = SelectObject(dc, background);
        Rectangle(dc, client.left, client.top, client.right, client.bottom);
        SelectObject(dc, oldBrush);
    }
    DeleteObject(background);
}

void MainDialog::PaintIcon() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Hwnd(), &ps);
    SendMessageA(Hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(Hwnd(), &client);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(Hwnd(), &ps);
}
