// A minimal OLE data object over a few global-memory formats, and a drop
// source that follows the left mouse button: what dragging files out needs.
#ifndef VS_BROWSE_WIN_DATAOBJECT_H
#define VS_BROWSE_WIN_DATAOBJECT_H

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

// A CF_HDROP block (DROPFILES header, 8-bit names) for the given paths.
HGLOBAL MakeDropFiles(const std::vector<std::string>& paths);
// The registered private format that marks the viewer's own drags.
CLIPFORMAT ViewerDragFormat();

// The IUnknown of a heap object that offers one interface; the last
// Release deletes it.
template <typename Interface>
class VSComObject : public Interface {
public:
    explicit VSComObject(const IID& id) : id_(id) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, id_)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    virtual ~VSComObject() = default;

private:
    const IID& id_;
    LONG refs_ = 1;
};

class VSDataObject : public VSComObject<IDataObject> {
public:
    VSDataObject();
    // Takes the block; each GetData hands out a copy.
    void Add(CLIPFORMAT format, HGLOBAL block);

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override;

private:
    virtual ~VSDataObject();
    struct Entry {
        FORMATETC format;
        HGLOBAL block;
    };
    int Find(const FORMATETC* format) const;
    std::vector<Entry> entries_;
};

// Drops when the left button is released, cancels on Esc.
class VSDropSource : public VSComObject<IDropSource> {
public:
    VSDropSource() : VSComObject(IID_IDropSource) {}
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keyState) override;
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override;
};

#endif
