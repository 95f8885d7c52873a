// The editor's COM interface as the viewer calls it.
#include "app/editor.h"

#include "app/editor_core.h"

#include <ole2.h>
#include <oleauto.h>
#include <shlobj.h>

#include <cstring>

// The editor's interface: IDispatch's table, then these four in this order
// (slots 7 to 10).
struct IVistrelEditor : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Run(LONG index, VARIANT* path, LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResult(SHORT* newFile, LONG* kind) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFunctionInfo(VARIANT* bitmap, VARIANT* name, LONG index) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFunctionCount(LONG* count) = 0;
};

namespace {

// {C7BBC0FE-7D11-4E6A-8A25-F4CED305873B}
const CLSID kEditorClass = {0xC7BBC0FE, 0x7D11, 0x4E6A, {0x8A, 0x25, 0xF4, 0xCE, 0xD3, 0x05, 0x87, 0x3B}};
// {AE642A8B-276B-4CC2-881E-55178FA07FEF}
const IID kEditorInterface = {0xAE642A8B, 0x276B, 0x4CC2, {0x88, 0x1E, 0x55, 0x17, 0x8F, 0xA0, 0x7F, 0xEF}};

// A bitmap file bigger than this is not a toolbar picture.
constexpr ULONG kMaxBitmapBytes = 16u << 20;

BSTR ToBstr(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n > 0 ? n : 0));
    if (out && n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, n);
    return out;
}

std::string FromBstr(BSTR text) {
    const int length = static_cast<int>(SysStringLen(text));
    if (!text || length == 0) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

// A text variant as ANSI; an empty variant is an empty text.
bool VariantText(const VARIANT& v, std::string* text) {
    if (V_VT(&v) == VT_EMPTY) {
        text->clear();
        return true;
    }
    if (V_VT(&v) != VT_BSTR) return false;
    *text = FromBstr(V_BSTR(&v));
    return true;
}

bool VariantBytes(const VARIANT& v, std::vector<uint8_t>* bytes) {
    if (V_VT(&v) != (VT_ARRAY | VT_UI1) || !V_ARRAY(&v)) return false;
    SAFEARRAY* array = V_ARRAY(&v);
    LONG low = 0, high = -1;
    if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &low)) ||
        FAILED(SafeArrayGetUBound(array, 1, &high)))
        return false;
    if (high < low) {
        bytes->clear();
        return true;
    }
    const ULONG count = static_cast<ULONG>(high - low) + 1;
    if (count > kMaxBitmapBytes) return false;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return false;
    bytes->assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
    SafeArrayUnaccessData(array);
    return true;
}

std::string MyPicturesFolder() {
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_MYPICTURES, FALSE)) return {};
    return path;
}

bool WriteWhole(HANDLE file, const std::vector<uint8_t>& bytes) {
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    return CloseHandle(file) && ok;
}

// Loads a bitmap file's bytes as a DIB section through "temp.bmp" in the
// folder. A file of that name that is already there belongs to the user:
// it is left alone and a fresh name of the system's choice is taken.
HBITMAP LoadBitmapBytes(std::string folder, const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return nullptr;
    if (folder.empty()) {
        char temp[MAX_PATH] = {};
        if (!GetTempPathA(sizeof temp, temp)) return nullptr;
        folder = temp;
    }
    if (folder.back() == '\\') folder.pop_back();
    std::string path = folder + "\\temp.bmp";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        char unique[MAX_PATH] = {};
        if (!GetTempFileNameA(folder.c_str(), "vsb", 0, unique)) return nullptr;
        path = unique;
        file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DeleteFileA(path.c_str());
            return nullptr;
        }
    }
    HBITMAP bitmap = nullptr;
    if (WriteWhole(file, bytes)) {
        bitmap = static_cast<HBITMAP>(
            LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    }
    DeleteFileA(path.c_str());
    return bitmap;
}

}  // namespace

EditorComponent::~EditorComponent() { Release(); }

bool EditorComponent::Create() {
    Release();
    comInitialised_ = SUCCEEDED(CoInitialize(nullptr));
    IClassFactory* factory = nullptr;
    if (FAILED(CoGetClassObject(kEditorClass, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, nullptr,
                                IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        !factory) {
        Release();
        return false;
    }
    void* object = nullptr;
    const HRESULT hr = factory->CreateInstance(nullptr, kEditorInterface, &object);
    factory->Release();
    if (FAILED(hr) || !object) {
        Release();
        return false;
    }
    editor_ = static_cast<IVistrelEditor*>(object);
    return true;
}

void EditorComponent::Release() {
    if (editor_) editor_->Release();
    editor_ = nullptr;
    if (comInitialised_) CoUninitialize();
    comInitialised_ = false;
}

bool EditorComponent::FunctionCount(uint32_t* count) {
    LONG n = 0;
    if (!editor_ || FAILED(editor_->GetFunctionCount(&n))) return false;
    *count = EditorFunctionCount(static_cast<int32_t>(n));
    return true;
}

bool EditorComponent::FunctionInfo(uint32_t index, std::vector<uint8_t>* bitmapFile, std::string* name) {
    if (!editor_) return false;
    VARIANT bitmap, text;
    VariantInit(&bitmap);
    VariantInit(&text);
    std::vector<uint8_t> bytes;
    std::string label;
    const bool ok = SUCCEEDED(editor_->GetFunctionInfo(&bitmap, &text, static_cast<LONG>(index))) &&
                    VariantBytes(bitmap, &bytes) && VariantText(text, &label);
    VariantClear(&bitmap);
    VariantClear(&text);
    if (!ok) return false;
    bitmapFile->swap(bytes);
    name->swap(label);
    return true;
}

bool EditorComponent::Run(uint32_t index, std::string* path, int32_t* status) {
    if (!editor_) return false;
    VARIANT text;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = ToBstr(*path);
    if (!V_BSTR(&text)) return false;
    LONG result = 0;
    std::string out;
    const bool ok =
        SUCCEEDED(editor_->Run(static_cast<LONG>(index), &text, &result)) && VariantText(text, &out);
    VariantClear(&text);
    if (!ok) return false;
    path->swap(out);
    *status = static_cast<int32_t>(result);
    return true;
}

bool EditorComponent::GetResult(int16_t* newFile, int32_t* kind) {
    SHORT flag = 0;
    LONG result = 0;
    if (!editor_ || FAILED(editor_->GetResult(&flag, &result))) return false;
    *newFile = static_cast<int16_t>(flag);
    *kind = static_cast<int32_t>(result);
    return true;
}

bool LoadEditorFunctions(std::vector<EditorFunctionButton>* functions) {
    functions->clear();
    EditorComponent editor;
    uint32_t count = 0;
    if (!editor.Create() || !editor.FunctionCount(&count)) return false;
    const std::string folder = MyPicturesFolder();
    for (uint32_t i = 0; i < count; ++i) {
        EditorFunctionButton button;
        std::vector<uint8_t> file;
        if (editor.FunctionInfo(i, &file, &button.name)) button.bitmap = LoadBitmapBytes(folder, file);
        functions->push_back(button);
    }
    return true;
}
