// Dragging a thumbnail out of the view: the file as a file-drop block, and
// the viewer's private format so that its own drop target refuses it.
#include "listctrlex.h"

#include "browse/win/dataobject.h"

#include <ole2.h>
#include <shlobj.h>

#include <cstring>

namespace {

// A file-drop block for one ANSI path; null when memory fails.
HGLOBAL FileDropBlock(const std::string& path) {
    HGLOBAL block = GlobalAlloc(GMEM_SHARE | GMEM_MOVEABLE | GMEM_ZEROINIT, path.size() + 22);
    if (!block) return nullptr;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    if (!drop) {
        GlobalFree(block);
        return nullptr;
    }
    drop->pFiles = 20;
    drop->fWide = FALSE;
    // The path, its zero, and the list's closing zero (zeroed memory).
    std::memcpy(reinterpret_cast<char*>(drop) + 20, path.c_str(), path.size() + 1);
    GlobalUnlock(block);
    return block;
}

}  // namespace

void CListCtrlEx::StartDrag(int32_t index) {
    if (!list_ || index < 0) return;
    const std::string path = list_->At(index);
    if (path.empty()) return;
    HGLOBAL files = FileDropBlock(path);
    if (!files) return;
    HGLOBAL mark = GlobalAlloc(GMEM_SHARE | GMEM_MOVEABLE | GMEM_ZEROINIT, 1);
    if (!mark) {
        GlobalFree(files);
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
