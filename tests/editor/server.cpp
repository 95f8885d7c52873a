// A stand-in for the maker's image editor: an in-process COM server with
// the editor's class and interface, offering the functions of pictures.h.
//
// "FailingSlot" (DWORD) under HKEY_CURRENT_USER "Software\Orvanta\Vistrel
// Pro Stand-in", read at each creation, names the table slot (7 ... 10)
// whose operation returns E_FAIL.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#include "IS40.h"
#include "codec/win/hostpaths.h"
#include "pictures.h"

#include <atomic>
#include <cstring>
#include <string>

namespace {

// {C7BBC0FE-7D11-4E6A-8A25-F4CED305873B}
const CLSID kClass = {0xC7BBC0FE, 0x7D11, 0x4E6A, {0x8A, 0x25, 0xF4, 0xCE, 0xD3, 0x05, 0x87, 0x3B}};
// {AE642A8B-276B-4CC2-881E-55178FA07FEF}
const IID kInterface = {0xAE642A8B, 0x276B, 0x4CC2, {0x88, 0x1E, 0x55, 0x17, 0x8F, 0xA0, 0x7F, 0xEF}};

const char kClassKey[] = "Software\\Classes\\CLSID\\{C7BBC0FE-7D11-4E6A-8A25-F4CED305873B}";
const char kServerKey[] = "Software\\Classes\\CLSID\\{C7BBC0FE-7D11-4E6A-8A25-F4CED305873B}\\InprocServer32";
const char kVersionKey[] = "Software\\Classes\\CLSID\\{0BT342-F423-GH322-342GH-0932324723}\\misc";
const char kSettingsKey[] = "Software\\Orvanta\\Vistrel Pro Stand-in";

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

DWORD FailingSlot() {
    DWORD value = 0, size = sizeof value;
    return RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "FailingSlot", RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                   ERROR_SUCCESS
               ? value
               : 0;
}

std::string Ansi(BSTR text) {
    const int length = static_cast<int>(SysStringLen(text));
    if (!text || !length) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
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

// Edits into a file beside the target and puts it in place only when
// complete, so a failure never costs the picture.
bool EditInto(uint32_t index, const std::string& source, const std::string& target) {
    const std::string partial = target + ".partial";
    if (EditPicture(index, source, partial) && MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileA(partial.c_str());
    return false;
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
    if (path.empty() || index >= kFunctionCount) return o;
    const std::string result = ResultPath(index, path);
    if (index == kFnRename) {
        // Only pictures are renamed, and never over another file.
        if (!IsPicture(path) || !MoveFileA(path.c_str(), result.c_str())) return o;
        o.path = result.substr(result.find_last_of('\\') + 1);
    } else {
        if (!EditInto(index, path, result)) return o;
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

class Editor : public IEditorServer {
public:
    Editor() : failing_(FailingSlot()) { ++g_objects; }
    virtual ~Editor() { --g_objects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kInterface)) {
            *out = static_cast<IEditorServer*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --refs_;
        if (!left) delete this;
        return static_cast<ULONG>(left);
    }

    // The viewer calls the table directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE Run(LONG index, VARIANT* path, LONG* status) override {
        if (failing_ == 7) return E_FAIL;
        if (!path || !status) return E_POINTER;
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
        if (!newFile || !kind) return E_POINTER;
        *newFile = last_.newFile;
        *kind = last_.kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFunctionInfo(VARIANT* bitmap, VARIANT* name, LONG index) override {
        if (failing_ == 9) return E_FAIL;
        if (!bitmap || !name) return E_POINTER;
        if (index < 0 || static_cast<uint32_t>(index) >= kFunctionCount) return E_INVALIDARG;
        const std::vector<uint8_t> file = FunctionBitmap(static_cast<uint32_t>(index));
        SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(file.size()));
        if (!bytes) return E_OUTOFMEMORY;
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(bytes, &data))) {
            SafeArrayDestroy(bytes);
            return E_FAIL;
        }
        std::memcpy(data, file.data(), file.size());
        SafeArrayUnaccessData(bytes);
        VariantClear(bitmap);
        V_VT(bitmap) = VT_ARRAY | VT_UI1;
        V_ARRAY(bitmap) = bytes;
        VariantClear(name);
        V_VT(name) = VT_BSTR;
        V_BSTR(name) = Wide(FunctionName(static_cast<uint32_t>(index)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFunctionCount(LONG* count) override {
        if (failing_ == 10) return E_FAIL;
        if (!count) return E_POINTER;
        *count = kFunctionCount;
        return S_OK;
    }

private:
    std::atomic<long> refs_{1};
    DWORD failing_;
    Outcome last_;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // One static factory for the module's life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Editor* editor = new Editor;
        const HRESULT hr = editor->QueryInterface(iid, out);
        editor->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        g_locks += lock ? 1 : -1;
        return S_OK;
    }
};

Factory g_factory;

bool SetText(HKEY root, const char* keyName, const char* valueName, const std::string& text) {
    HKEY key;
    if (RegCreateKeyExA(root, keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG r = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

std::string ModulePath() {
    HMODULE self = nullptr;
    char path[MAX_PATH * 2] = {};
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&g_factory), &self) ||
        !GetModuleFileNameA(self, path, sizeof path))
        return {};
    std::string module = path;
#ifdef __WINE__
    // A Winelib module is named without the ".so" that is on disk.
    if (GetFileAttributesA(module.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesA((module + ".so").c_str()) != INVALID_FILE_ATTRIBUTES)
        module += ".so";
#endif
    return module;
}

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID cls, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(cls, kClass)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

// Per user, as the editor's own set-up does, with its version values; in
// the classes root too, for systems (Wine) that do not merge the per-user
// classes into it.
extern "C" HRESULT WINAPI DllRegisterServer() {
    const std::string module = ModulePath();
    const char* const machineKey = kServerKey + std::strlen("Software\\Classes\\");
    const bool ok = !module.empty() && SetText(HKEY_CURRENT_USER, kClassKey, nullptr, "Vistrel Pro Editor") &&
                    SetText(HKEY_CURRENT_USER, kServerKey, nullptr, module) &&
                    SetText(HKEY_CURRENT_USER, kServerKey, "ThreadingModel", "Apartment") &&
                    SetText(HKEY_CURRENT_USER, kVersionKey, "version", "2.3") &&
                    SetText(HKEY_CURRENT_USER, kVersionKey, "build", "071130") &&
                    SetText(HKEY_CLASSES_ROOT, machineKey, nullptr, module) &&
                    SetText(HKEY_CLASSES_ROOT, machineKey, "ThreadingModel", "Apartment");
    return ok ? S_OK : SELFREG_E_CLASS;
}
