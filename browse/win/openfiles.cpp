// The open dialog, the two kinds of drop, and dragging the picture out.
#include "browse/win/openfiles.h"

#include "browse/win/dataobject.h"
#include "browse/opening.h"
#include "browse/paths.h"

#include "app/framework.h"
#include "app/resource.h"

#include <commdlg.h>
#include <shellapi.h>

namespace {

const size_t kFileNameBuffer = 10000;
const int kFileNameBox = 1148;  // cmb13, the explorer dialog's name box

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
    explicit DropTarget(HWND mainWindow) : VSComObject(IID_IDropTarget), main_(mainWindow) {}

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
        FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (FAILED(data->GetData(&format, &medium))) return S_OK;
        std::vector<std::string> paths;
        if (HDROP drop = static_cast<HDROP>(GlobalLock(medium.hGlobal))) {
            paths = DroppedPaths(drop);
            GlobalUnlock(medium.hGlobal);
        }
        ReleaseStgMedium(&medium);
        SendMessageA(main_, UM_FILES_DROPPED, 1, reinterpret_cast<LPARAM>(&paths));
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

std::vector<std::string> DroppedFiles(HDROP drop) {
    std::vector<std::string> paths = DroppedPaths(drop);
    DragFinish(drop);
    return paths;
}

IDropTarget* RegisterDropTarget(HWND mainWindow) {
    DropTarget* target = new DropTarget(mainWindow);
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
