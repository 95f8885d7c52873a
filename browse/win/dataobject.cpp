// The data object and drop source of dragging files out.
#include "browse/win/dataobject.h"

#include "browse/win/dragformat.h"

#include <shlobj.h>

#include <cstring>

HGLOBAL MakeDropFiles(const std::vector<std::string>& paths) {
    size_t bytes = sizeof(DROPFILES) + 1;
    for (const std::string& p : paths) bytes += p.size() + 1;
    // Moveable, zeroed and shareable, as a drop's receiver expects.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, bytes);
    if (!block) return nullptr;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    if (!drop) {
        GlobalFree(block);
        return nullptr;
    }
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    char* names = reinterpret_cast<char*>(drop) + sizeof(DROPFILES);
    for (const std::string& p : paths) {
        std::memcpy(names, p.c_str(), p.size() + 1);
        names += p.size() + 1;
    }
    GlobalUnlock(block);
    return block;
}

CLIPFORMAT ViewerDragFormat() {
    static const CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormatA(VS_DRAG_FORMAT_NAME));
    return format;
}

namespace {

HGLOBAL CopyBlock(HGLOBAL block) {
    const SIZE_T size = GlobalSize(block);
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, size ? size : 1);
    if (!copy) return nullptr;
    void* to = GlobalLock(copy);
    const void* from = GlobalLock(block);
    if (to && from) std::memcpy(to, from, size);
    GlobalUnlock(block);
    GlobalUnlock(copy);
    return copy;
}

}  // namespace

VSDataObject::VSDataObject() : VSComObject(IID_IDataObject) {}

VSDataObject::~VSDataObject() {
    for (Entry& e : entries_) GlobalFree(e.block);
}

void VSDataObject::Add(CLIPFORMAT format, HGLOBAL block) {
    Entry e{};
    e.format.cfFormat = format;
    e.format.dwAspect = DVASPECT_CONTENT;
    e.format.lindex = -1;
    e.format.tymed = TYMED_HGLOBAL;
    e.block = block;
    entries_.push_back(e);
}

int VSDataObject::Find(const FORMATETC* format) const {
    if (!format) return -1;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].format.cfFormat == format->cfFormat && (format->tymed & TYMED_HGLOBAL) &&
            format->dwAspect == DVASPECT_CONTENT)
            return static_cast<int>(i);
    }
    return -1;
}

HRESULT VSDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (!medium) return E_POINTER;
    const int i = Find(format);
    if (i < 0) return DV_E_FORMATETC;
    HGLOBAL copy = CopyBlock(entries_[static_cast<size_t>(i)].block);
    if (!copy) return E_OUTOFMEMORY;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = copy;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}

HRESULT VSDataObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

HRESULT VSDataObject::QueryGetData(FORMATETC* format) { return Find(format) >= 0 ? S_OK : DV_E_FORMATETC; }

HRESULT VSDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
    if (out) out->ptd = nullptr;
    return E_NOTIMPL;
}

HRESULT VSDataObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }

HRESULT VSDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (direction != DATADIR_GET) return E_NOTIMPL;
    std::vector<FORMATETC> formats;
    for (const Entry& e : entries_) formats.push_back(e.format);
    return SHCreateStdEnumFmtEtc(static_cast<UINT>(formats.size()), formats.data(), out);
}

HRESULT VSDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) { return OLE_E_ADVISENOTSUPPORTED; }
HRESULT VSDataObject::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }
HRESULT VSDataObject::EnumDAdvise(IEnumSTATDATA**) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT VSDropSource::QueryContinueDrag(BOOL escape, DWORD keyState) {
    if (escape) return DRAGDROP_S_CANCEL;
    if (!(keyState & MK_LBUTTON)) return DRAGDROP_S_DROP;
    return S_OK;
}

HRESULT VSDropSource::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }
