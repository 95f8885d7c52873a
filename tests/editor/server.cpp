// A stand-in for the maker's image editor: an in-process COM server with
// the editor's class and interface and five functions over whole pictures,
// read and written with the codec library.
//
// "FailingSlot" (DWORD) under HKEY_CURRENT_USER "Software\Orvanta\Vistrel
// Pro Stand-in", read at each creation, names the table slot (7, 8 or 10)
// whose operation returns E_FAIL.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#include "codec/IS40.h"
#include "browse/win/dataobject.h"
#include "codec/win/hostpaths.h"
#include "browse/imageloader.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace {

// {C7BBC0FE-7D11-4E6A-8A25-F4CED305873B}
const CLSID kClass = {0xC7BBC0FE, 0x7D11, 0x4E6A, {0x8A, 0x25, 0xF4, 0xCE, 0xD3, 0x05, 0x87, 0x3B}};
// {AE642A8B-276B-4CC2-881E-55178FA07FEF}
const IID kInterface = {0xAE642A8B, 0x276B, 0x4CC2, {0x88, 0x1E, 0x55, 0x17, 0x8F, 0xA0, 0x7F, 0xEF}};

const char kServerKey[] = "Software\\Classes\\CLSID\\{C7BBC0FE-7D11-4E6A-8A25-F4CED305873B}\\InprocServer32";
const char kVersionKey[] = "Software\\Classes\\CLSID\\{0BT342-F423-GH322-342GH-0932324723}\\misc";

enum : uint32_t {
    kFnRotate,  // quarter turn clockwise, in place
    kFnGrey,    // grey copy as PNG, which replaces the picture
    kFnMirror,  // mirrored copy, a new file
    kFnInvert,  // negative in place, no result file reported
    kFnRename,  // the file gets a new name
    kFunctionCount
};
const char* const kNames[kFunctionCount] = {"Rotate", "Greyscale", "Mirror", "Negative", "Rename"};
const uint32_t kColours[kFunctionCount] = {0xC82828, 0x5A5A5A, 0x2878C8, 0x141414, 0x28A03C};
const char* const kSuffixes[kFunctionCount] = {"", "_grey", "_mirror", "", "_renamed"};

std::atomic<long> g_objects{0};

// Failures come back as the function's status; nobody is to be asked.
class QuietHost : public VSLoaderHost {
public:
    // No decode scaling: the editor works on the whole picture.
    VSSize ScreenSize() override { return {1u << 16, 1u << 16}; }
    void ReadFailed(uint32_t, const std::string&) override {}
    void Message(const std::string&) override {}
};

// A bitmap file (24 bits) of four 40 x 38 frames side by side: normal,
// hover, pressed, disabled, each with a 20 x 20 square of the function's
// colour (grey when disabled) in the middle.
std::vector<uint8_t> FunctionBitmap(uint32_t index) {
    static const uint32_t faces[4] = {0xECEFF3, 0xD8E6F5, 0xB4C8E1, 0xECEFF3};
    const uint32_t width = 40 * 4, height = 38, stride = (width * 3 + 3) & ~3u, imageSize = stride * height;
    std::vector<uint8_t> b{'B', 'M'};
    auto put = [&b](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    for (uint32_t v : {54 + imageSize, 0u, 54u, 40u, width, height}) put(v, 4);
    put(1, 2);
    put(24, 2);
    for (uint32_t v : {0u, imageSize, 2835u, 2835u, 0u, 0u}) put(v, 4);
    for (uint32_t y = height; y-- > 0;) {  // bottom-up
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t frame = x / 40, gx = x % 40 - 10, gy = y - 9;
            put(gx >= 20 || gy >= 20 ? faces[frame] : frame == 3 ? 0xA0A0A0 : kColours[index], 3);
        }
        put(0, stride - width * 3);
    }
    return b;
}

// Where a function puts its result: the same path, or a name next to it.
std::string ResultPath(uint32_t index, const std::string& path) {
    if (!kSuffixes[index][0]) return path;
    const size_t slash = path.find_last_of('\\'), dot = path.find_last_of('.');
    const size_t end = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? path.size() : dot;
    return path.substr(0, end) + kSuffixes[index] + (index == kFnGrey ? std::string(".png") : path.substr(end));
}

// Reads source, applies function index (0 ... 3) and writes the picture to
// target in the format the function gives; false on any failure.
bool EditPicture(uint32_t index, const std::string& source, const std::string& target) {
    QuietHost host;
    ImageLoader loader(host);
    ImageRecord picture;
    if (!loader.ReadPicture(source, &picture)) return false;
    const size_t w = picture.width, h = picture.height;
    std::vector<uint8_t>& px = picture.pixels;
    if (index == kFnRotate) {
        // Clockwise: the new top row is the old left column, read bottom up.
        std::vector<uint8_t> turned(px.size());
        for (size_t y = 0; y < w; ++y)
            for (size_t x = 0; x < h; ++x) std::memcpy(&turned[(y * h + x) * 3], &px[((h - 1 - x) * w + y) * 3], 3);
        px.swap(turned);
        std::swap(picture.width, picture.height);
    } else if (index == kFnGrey) {
        for (size_t i = 0; i + 2 < px.size(); i += 3)
            px[i] = px[i + 1] = px[i + 2] =
                static_cast<uint8_t>((299u * px[i] + 587u * px[i + 1] + 114u * px[i + 2]) / 1000u);
        picture.fileType = IS_FT_PNG;
    } else if (index == kFnMirror) {
        for (size_t y = 0; y < h; ++y)
            for (size_t x = 0; x < w / 2; ++x)
                for (size_t c = 0; c < 3; ++c) std::swap(px[(y * w + x) * 3 + c], px[(y * w + (w - 1 - x)) * 3 + c]);
    } else {
        for (uint8_t& v : px) v = static_cast<uint8_t>(255 - v);
    }
    picture.rowStride = picture.width * 3;
    return loader.WritePicture(target, &picture);
}

DWORD FailingSlot() {
    DWORD value = 0, size = sizeof value;
    return RegGetValueA(HKEY_CURRENT_USER, "Software\\Orvanta\\Vistrel Pro Stand-in", "FailingSlot",
                        RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS
               ? value
               : 0;
}

std::string Ansi(BSTR text) {
    const int length = static_cast<int>(SysStringLen(text));
    const int n = length ? WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr) : 0;
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

BSTR Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n > 0 ? n : 0));
    if (out && n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, n);
    return out;
}

struct Outcome {
    LONG status = 0;
    SHORT newFile = 0;
    LONG kind = 0;
    std::string path;
};

Outcome RunFunction(uint32_t index, const std::string& path) {
    Outcome o;
    o.path = path;
    const std::string result = ResultPath(index, path);
    if (index == kFnRename) {
        // Never over another file.
        if (!MoveFileA(path.c_str(), result.c_str())) return o;
        o.path = result.substr(result.find_last_of('\\') + 1);
    } else {
        // Edited into a file beside the target and put in place only when
        // complete, so a failure never costs the picture.
        const std::string partial = result + ".partial";
        if (!EditPicture(index, path, partial) ||
            !MoveFileExA(partial.c_str(), result.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DeleteFileA(partial.c_str());
            return o;
        }
        o.newFile = index == kFnMirror;
        // The negative is changed in place with no result file to report.
        o.path = index == kFnInvert ? std::string() : result;
    }
    o.kind = index != kFnInvert;
    o.status = 1;
    return o;
}

// The editor's interface: IDispatch's table, then slots 7 to 10.
struct IEditorServer : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Run(LONG index, VARIANT* path, LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResult(SHORT* newFile, LONG* kind) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFunctionInfo(VARIANT* bitmap, VARIANT* name, LONG index) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFunctionCount(LONG* count) = 0;
};

class Editor : public VSComObject<IEditorServer> {
public:
    Editor() : VSComObject(kInterface), failing_(FailingSlot()) { ++g_objects; }
    ~Editor() override { --g_objects; }

    // The viewer calls the table directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE Run(LONG index, VARIANT* path, LONG* status) override {
        if (failing_ == 7) return E_FAIL;
        if (index < 0 || static_cast<uint32_t>(index) >= kFunctionCount || V_VT(path) != VT_BSTR) return E_INVALIDARG;
        InstallHostPathMapper();
        IS40_Initialize();
        last_ = RunFunction(static_cast<uint32_t>(index), Ansi(V_BSTR(path)));
        BSTR text = Wide(last_.path);
        if (!text) return E_OUTOFMEMORY;
        VariantClear(path);
        V_VT(path) = VT_BSTR;
        V_BSTR(path) = text;
        *status = last_.status;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetResult(SHORT* newFile, LONG* kind) override {
        if (failing_ == 8) return E_FAIL;
        *newFile = last_.newFile;
        *kind = last_.kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFunctionInfo(VARIANT* bitmap, VARIANT* name, LONG index) override {
        if (index < 0 || static_cast<uint32_t>(index) >= kFunctionCount) return E_INVALIDARG;
        const std::vector<uint8_t> file = FunctionBitmap(static_cast<uint32_t>(index));
        SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(file.size()));
        if (!bytes) return E_OUTOFMEMORY;
        std::memcpy(bytes->pvData, file.data(), file.size());
        VariantClear(bitmap);
        V_VT(bitmap) = VT_ARRAY | VT_UI1;
        V_ARRAY(bitmap) = bytes;
        VariantClear(name);
        V_VT(name) = VT_BSTR;
        V_BSTR(name) = Wide(kNames[index]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFunctionCount(LONG* count) override {
        if (failing_ == 10) return E_FAIL;
        *count = kFunctionCount;
        return S_OK;
    }

private:
    DWORD failing_;
    Outcome last_;
};

class Factory : public VSComObject<IClassFactory> {
public:
    Factory() : VSComObject(IID_IClassFactory) { ++g_objects; }
    ~Factory() override { --g_objects; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Editor* editor = new Editor;
        const HRESULT hr = editor->QueryInterface(iid, out);
        editor->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

bool SetText(HKEY root, const char* keyName, const char* valueName, const std::string& text) {
    return RegSetKeyValueA(root, keyName, valueName, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1)) ==
           ERROR_SUCCESS;
}

std::string ModulePath() {
    HMODULE self = nullptr;
    char path[MAX_PATH * 2] = {};
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&FailingSlot), &self) ||
        !GetModuleFileNameA(self, path, sizeof path))
        return {};
    std::string module = path;
    // A Winelib module is named without the ".so" that is on disk.
    if (GetFileAttributesA(module.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesA((module + ".so").c_str()) != INVALID_FILE_ATTRIBUTES)
        module += ".so";
    return module;
}

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID cls, REFIID iid, void** out) {
    *out = nullptr;
    if (!IsEqualCLSID(cls, kClass)) return CLASS_E_CLASSNOTAVAILABLE;
    Factory* factory = new Factory;
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

// Per user, as the editor's own set-up does, with its version values; in
// the classes root too, for systems (Wine) that do not merge the per-user
// classes into it.
extern "C" HRESULT WINAPI DllRegisterServer() {
    const std::string module = ModulePath();
    const char* const machineKey = kServerKey + std::strlen("Software\\Classes\\");
    const bool ok = !module.empty() && SetText(HKEY_CURRENT_USER, kServerKey, nullptr, module) &&
                    SetText(HKEY_CURRENT_USER, kServerKey, "ThreadingModel", "Apartment") &&
                    SetText(HKEY_CURRENT_USER, kVersionKey, "version", "2.3") &&
                    SetText(HKEY_CURRENT_USER, kVersionKey, "build", "071130") &&
                    SetText(HKEY_CLASSES_ROOT, machineKey, nullptr, module) &&
                    SetText(HKEY_CLASSES_ROOT, machineKey, "ThreadingModel", "Apartment");
    return ok ? S_OK : SELFREG_E_CLASS;
}
