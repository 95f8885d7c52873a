// The open dialog, the two kinds of drop, and dragging the picture out.
#include "openfiles.h"

#include "dataobject.h"
#include "opening.h"
#include "paths.h"

#include "app/framework.h"
#include "app/resource.h"
#include "app/toolbarpanel.h"

#include <commdlg.h>
#include <shellapi.h>

namespace {

const size_t kFileNameBuffer = 10000;
const int kFileNameBox = 1148;  // cmb13, the explorer dialog's name box

// The thumbnail worker reads the list that is about to be replaced.
void StopThumbnails(HWND mainWindow, bool wait) {
    SendMessageA(mainWindow, UM_STOP_THUMBNAILS, 0, 0);
    if (!wait) return;
    WaitForThumbnails();
}

void ShowCurrent(HWND mainWindow, ToolbarPanel& panel) {
    const std::string current = panel.List().CurrentPath();
    SendMessageA(mainWindow, UM_SHOW_FILE, 1, reinterpret_cast<LPARAM>(current.c_str()));
}

// Carries out a drop's plan; the thumbnails are cleared for the OLE drop only.
void OpenPlanned(HWND mainWindow, ToolbarPanel& panel, const VSOpenPlan& plan, bool oleDrop) {
    switch (plan.kind) {
    case VSOpenPlan::kFiles: panel.OpenPaths(plan.paths, oleDrop); break;
    case VSOpenPlan::kKeepFirst: panel.ShowFirst(); break;
    case VSOpenPlan::kFolder:
        panel.List().Clear();
        panel.BuildFromFolder(plan.path);
        break;
    case VSOpenPlan::kFile:
        panel.List().Clear();
        panel.Build(plan.path);
        break;
    case VSOpenPlan::kUnsupported: panel.List().Clear(); break;
    case VSOpenPlan::kNothing: break;
    }
    (void)mainWindow;
}

std::vector<std::string> DroppedPaths(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char path[MAX_PATH] = {};
        DragQueryFileA(drop, i, path, sizeof path);
        paths.emplace_back(path);
    }
    return paths;
}

class DropTarget : public VSComObject<IDropTarget> {
public:
    DropTarget(HWND mainWindow, ToolbarPanel& panel)
        : VSComObject(IID_IDropTarget), main_(mainWindow), panel_(panel) {}

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        accept_ = Acceptable(data);
        *effect = accept_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override {
        *effect = accept_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override {
        accept_ = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        *effect = DROPEFFECT_NONE;
        if (!accept_ || !Acceptable(data)) return S_OK;
        accept_ = false;
        StopThumbnails(main_, false);
        FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (FAILED(data->GetData(&format, &medium))) return S_OK;
        std::vector<std::string> paths;
        if (HDROP drop = static_cast<HDROP>(GlobalLock(medium.hGlobal))) {
            paths = DroppedPaths(drop);
            GlobalUnlock(medium.hGlobal);
        }
        ReleaseStgMedium(&medium);
        OpenPlanned(main_, panel_, PlanDrop(paths, true), true);
        panel_.UpdateButtons();
        SetForegroundWindow(main_);
        ShowCurrent(main_, panel_);
        *effect = DROPEFFECT_COPY;
        return S_OK;
    }

private:
    // Files, and not the viewer's own drag.
    static bool Acceptable(IDataObject* data) {
        if (!data) return false;
        FORMATETC files{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        FORMATETC own{ViewerDragFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return data->QueryGetData(&files) == S_OK && data->QueryGetData(&own) != S_OK;
    }

    HWND main_;
    ToolbarPanel& panel_;
    bool accept_ = false;
};

}  // namespace

CFileDialogEx::CFileDialogEx(HWND owner, const std::string& initialFolder)
    : owner_(owner), initialFolder_(initialFolder) {}

UINT_PTR CALLBACK CFileDialogEx::Hook(HWND dialog, UINT msg, WPARAM, LPARAM lParam) {
    if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == CDN_FOLDERCHANGE) {
        // The hook's dialog is a child of the file dialog proper.
        SetDlgItemTextA(GetParent(dialog), kFileNameBox, "");
    }
    return 0;
}

bool CFileDialogEx::Show() {
    buffer_.assign(kFileNameBuffer, '\0');
    const std::string filter = OpenDialogFilterPairs();
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner_;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer_.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer_.size());
    ofn.lpstrInitialDir = initialFolder_.empty() ? nullptr : initialFolder_.c_str();
    ofn.lpstrTitle = kOpenDialogTitle;
    ofn.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLEHOOK;
    ofn.lpfnHook = Hook;
    return GetOpenFileNameA(&ofn) != FALSE;
}

std::vector<std::string> CFileDialogEx::Paths() const {
    return ParseOpenSelection(buffer_.data(), buffer_.size()).paths;
}

std::string CFileDialogEx::NextFolder() const {
    return ParseOpenSelection(buffer_.data(), buffer_.size()).initDir;
}

void OpenDialog(HWND mainWindow, ToolbarPanel& panel) {
    CFileDialogEx dialog(mainWindow, panel.initDir);
    if (dialog.Show()) {
        HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        StopThumbnails(mainWindow, true);
        SetCursor(previous ? previous : LoadCursorA(nullptr, IDC_ARROW));
        const std::vector<std::string> paths = dialog.Paths();
        if (paths.size() > 1) {
            panel.List().Clear();
            panel.OpenPaths(paths, true);
        } else if (paths.size() == 1) {
            panel.List().Clear();
            SendMessageA(mainWindow, UM_CLEAR_THUMBNAILS, 0, 0);
            panel.Build(paths[0]);
        }
        if (!paths.empty()) panel.initDir = dialog.NextFolder();
    }
    panel.UpdateButtons();
    InvalidateRect(mainWindow, nullptr, TRUE);
    UpdateWindow(mainWindow);
}

void DropFiles(HWND mainWindow, ToolbarPanel& panel, HDROP drop) {
    const std::vector<std::string> paths = DroppedPaths(drop);
    DragFinish(drop);
    OpenPlanned(mainWindow, panel, PlanDrop(paths, false), false);
    panel.UpdateButtons();
    SetForegroundWindow(mainWindow);
    SetFocus(mainWindow);
    InvalidateRect(mainWindow, nullptr, TRUE);
}

IDropTarget* RegisterDropTarget(HWND mainWindow, ToolbarPanel& panel) {
    DropTarget* target = new DropTarget(mainWindow, panel);
    if (FAILED(RegisterDragDrop(mainWindow, target))) {
        target->Release();
        return nullptr;
    }
    return target;
}

void RevokeDropTarget(HWND mainWindow, IDropTarget* target) {
    if (!target) return;
    RevokeDragDrop(mainWindow);
    target->Release();
}

void DragOut(const std::string& path) {
    if (path.empty()) return;
    HGLOBAL files = MakeDropFiles({path});
    HGLOBAL mark = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, 1);
    if (!files || !mark) {
        if (files) GlobalFree(files);
        if (mark) GlobalFree(mark);
        return;
    }
    VSDataObject* data = new VSDataObject;
    data->Add(CF_HDROP, files);
    data->Add(ViewerDragFormat(), mark);
    VSDropSource* source = new VSDropSource;
    DWORD effect = DROPEFFECT_NONE;
    DoDragDrop(data, source, DROPEFFECT_COPY | DROPEFFECT_MOVE, &effect);
    source->Release();
    data->Release();
}
