// Thumbnails from the Windows shell: its thumbnail cache, or on older
// systems the image extractor of the item's folder. Where the platform
// has neither, no bitmap.
#include "thumbs/win/listctrlex.h"

#include "codec/win/isbitmap.h"
#include "browse/imageloader.h"
#include "browse/render.h"
#include "thumbs/thumbnail.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <thumbcache.h>

namespace {

constexpr UINT kShellThumbSize = 100;

// Not in every import library.
const IID kIidThumbnailCache = {0xF676C15D, 0x596A, 0x4CE2, {0x82, 0x34, 0x33, 0x99, 0x6F, 0x44, 0x5D, 0xB1}};
const CLSID kClsidLocalThumbnailCache = {0x50EF4544, 0xAC9F, 0x4A8E, {0xB2, 0x1B, 0x8A, 0x26, 0x18, 0x0D, 0xB1, 0x3F}};

// The extractor interface of older shells, declared here because not every
// header set has it.
const IID kIidExtractImage = {0xBB2E617C, 0x0920, 0x11d1, {0x9A, 0x0B, 0x00, 0xC0, 0x4F, 0xC2, 0xD6, 0xC1}};
struct IExtractImageOld : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLocation(LPWSTR path, DWORD size, DWORD* priority, const SIZE* wanted,
                                                  DWORD depth, DWORD* flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Extract(HBITMAP* bitmap) = 0;
};
constexpr DWORD kExtractQualityRefresh = 0x600;

typedef HRESULT(WINAPI* ItemFromPath)(PCWSTR, IBindCtx*, REFIID, void**);

template <typename T>
void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

// The cache's bitmap re-made for the view, or null.
HBITMAP FromCache(ItemFromPath itemFromPath, const std::string& path, HDC dc) {
    const std::wstring wide = Wide(path);
    IShellItem* item = nullptr;
    IThumbnailCache* cache = nullptr;
    ISharedBitmap* shared = nullptr;
    HBITMAP result = nullptr;
    if (SUCCEEDED(itemFromPath(wide.c_str(), nullptr, IID_IShellItem, reinterpret_cast<void**>(&item))) && item &&
        SUCCEEDED(CoCreateInstance(kClsidLocalThumbnailCache, nullptr, CLSCTX_ALL, kIidThumbnailCache,
                                   reinterpret_cast<void**>(&cache))) &&
        cache) {
        WTS_CACHEFLAGS flags = WTS_DEFAULT;
        cache->GetThumbnail(item, kShellThumbSize, WTS_INCACHEONLY, nullptr, &flags, nullptr);
        // Cached at full quality: take it; else have it extracted.
        const WTS_FLAGS how = flags != 0 && !(flags & WTS_LOWQUALITY) ? WTS_INCACHEONLY : WTS_FORCEEXTRACTION;
        HBITMAP bitmap = nullptr;
        SIZE size{};
        if (SUCCEEDED(cache->GetThumbnail(item, kShellThumbSize, how, &shared, nullptr, nullptr)) && shared &&
            SUCCEEDED(shared->GetSize(&size)) && SUCCEEDED(shared->Detach(&bitmap)) && bitmap && size.cx > 0 &&
            size.cy > 0) {
            const uint32_t w = static_cast<uint32_t>(size.cx), h = static_cast<uint32_t>(size.cy);
            std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
            VSThumbCanvas canvas;
            // Landscape below 160 x 120 is refused inside: the view's own ways follow.
            const int32_t orientation = w >= h ? ImageLoader::ReadExifNumber(path, kOrientationTag) : 0;
            if (IS40_HBITMAPToRGB(bitmap, dc, nullptr, rgb.data()) &&
                ShellThumbnail(rgb.data(), w, h, w * 3, orientation, &canvas))
                result = IS40_RGBToHBITMAP(canvas.data(), kThumbWidth, kThumbHeight, kThumbStride, nullptr, dc);
        }
        if (bitmap) DeleteObject(bitmap);
    }
    Release(shared);
    Release(cache);
    Release(item);
    return result;
}

// The folder's image extractor, bitmap as delivered, or null.
HBITMAP FromExtractor(const std::string& path) {
    const size_t cut = path.find_last_of('\\');
    if (cut == std::string::npos) return nullptr;
    std::wstring folderText = Wide(path.substr(0, cut + 1));
    std::wstring nameText = Wide(path.substr(cut + 1));
    IShellFolder* desktop = nullptr;
    IShellFolder* folder = nullptr;
    IExtractImageOld* extract = nullptr;
    LPITEMIDLIST folderId = nullptr, itemId = nullptr;
    HBITMAP bitmap = nullptr;
    if (SUCCEEDED(SHGetDesktopFolder(&desktop)) && desktop &&
        SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, &folderText[0], nullptr, &folderId, nullptr)) &&
        SUCCEEDED(desktop->BindToObject(folderId, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder))) &&
        folder && SUCCEEDED(folder->ParseDisplayName(nullptr, nullptr, &nameText[0], nullptr, &itemId, nullptr))) {
        LPCITEMIDLIST items[1] = {itemId};
        if (SUCCEEDED(folder->GetUIObjectOf(nullptr, 1, items, kIidExtractImage, nullptr,
                                            reinterpret_cast<void**>(&extract))) &&
            extract) {
            WCHAR location[MAX_PATH] = {};
            DWORD priority = 0, flags = kExtractQualityRefresh;
            const SIZE wanted{static_cast<LONG>(kThumbWidth), static_cast<LONG>(kThumbHeight)};
            if (extract->GetLocation(location, MAX_PATH, &priority, &wanted, 3, &flags) == S_OK)
                extract->Extract(&bitmap);
        }
    }
    Release(extract);
    if (itemId) CoTaskMemFree(itemId);
    if (folderId) CoTaskMemFree(folderId);
    Release(folder);
    Release(desktop);
    return bitmap;
}

}  // namespace

HBITMAP GetShellThumbnail(const std::string& path, HDC dc) {
    const HRESULT com = CoInitialize(nullptr);
    HMODULE shell = LoadLibraryA("Shell32.dll");
    HBITMAP bitmap = nullptr;
    if (shell) {
        auto itemFromPath =
            reinterpret_cast<ItemFromPath>(reinterpret_cast<void*>(GetProcAddress(shell, "SHCreateItemFromParsingName")));
        bitmap = itemFromPath ? FromCache(itemFromPath, path, dc) : FromExtractor(path);
        FreeLibrary(shell);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return bitmap;
}
