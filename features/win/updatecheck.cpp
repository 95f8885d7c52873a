// The update check: the update information from the maker's server over
// WinINet, read by position through MSXML, and the four result dialogs.
// MSXML's C++ declarations do not compile with this tool chain; its C
// interface does.
#define CINTERFACE
#define COBJMACROS
#include "features/win/features.h"
#include "features/win/featuresres.h"
#include "features/win/serverhost.h"

#include "app/framework.h"
#include "app/resource.h"
#include "features/updateinfo.h"

#include <objbase.h>
#include <oleauto.h>
#include <wininet.h>
// The document interfaces' identifiers are in no import library: define them here.
#include <initguid.h>
#include <msxml2.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A server that keeps sending is not sending update information.
constexpr size_t kMaxDocument = 1 << 20;
constexpr DWORD kTimeoutMs = 15000;
// The whole check, however the server trickles its answer.
constexpr DWORD kUpdateDeadlineMs = 30000;
constexpr UINT_PTR kUpdateDeadlineTimer = 1;
constexpr UINT kUpdateDone = WM_APP + 1;

class CInternetHandle {
public:
    explicit CInternetHandle(HINTERNET h) : h_(h) {}
    ~CInternetHandle() {
        if (h_) InternetCloseHandle(h_);
    }
    CInternetHandle(const CInternetHandle&) = delete;
    CInternetHandle& operator=(const CInternetHandle&) = delete;
    HINTERNET get() const { return h_; }

private:
    HINTERNET h_;
};

bool FetchText(const std::string& url, std::string* text) {
    text->clear();
    const DWORD start = GetTickCount();
    if (!InternetCheckConnectionA(url.c_str(), FLAG_ICC_FORCE_CONNECTION, 0)) return false;
    CInternetHandle internet(InternetOpenA("VSViewer", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet.get()) return false;
    DWORD timeout = kTimeoutMs;
    InternetSetOptionA(internet.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    CInternetHandle request(InternetOpenUrlA(
        internet.get(), url.c_str(), nullptr, static_cast<DWORD>(-1),
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0));
    if (!request.get()) return false;
    // A refused request (an error status) is no document either.
    DWORD status = 0, size = sizeof status;
    if (HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
        status >= 400)
        return false;
    char piece[512];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.get(), piece, sizeof piece, &got) || got == 0) break;
        text->append(piece, got);
        if (text->size() > kMaxDocument || GetTickCount() - start > kUpdateDeadlineMs) return false;
    }
    return true;
}

std::vector<WCHAR> Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<WCHAR> wide(static_cast<size_t>(n) + 1, 0);
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Narrow(BSTR text) {
    if (!text) return {};
    const int length = static_cast<int>(SysStringLen(text));
    const int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, length, &narrow[0], n, nullptr, nullptr);
    return narrow;
}

template <class T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() {
        if (p) p->lpVtbl->Release(p);
    }
    T** out() { return &p; }
};

std::string NodeText(IXMLDOMNodeList* list, LONG index) {
    ComPtr<IXMLDOMNode> node;
    if (FAILED(IXMLDOMNodeList_get_item(list, index, node.out())) || !node.p) return {};
    BSTR text = nullptr;
    if (FAILED(IXMLDOMNode_get_text(node.p, &text))) return {};
    std::string narrow = Narrow(text);
    SysFreeString(text);
    return narrow;
}

LONG ChildCount(IXMLDOMNodeList* list) {
    LONG length = -1;
    if (FAILED(IXMLDOMNodeList_get_length(list, &length))) return -1;
    return length;
}

// IXMLDOMDocument2, spelled out: MinGW's uuid library does not carry it.
const IID kIidDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// Reads the document into facts; COM is started by the caller.
void ReadDocument(const std::string& text, VSUpdateFacts* facts) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(Wide("Msxml2.DOMDocument").data(), &clsid))) return;
    ComPtr<IXMLDOMDocument2> document;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidDocument2,
                                reinterpret_cast<void**>(document.out()))) ||
        !document.p)
        return;
    std::vector<WCHAR> wide = Wide(text);
    BSTR xml = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size() - 1));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = IXMLDOMDocument2_loadXML(document.p, xml, &loaded);
    SysFreeString(xml);
    if (FAILED(hr) || loaded != VARIANT_TRUE) return;
    facts->parsed = true;
    ComPtr<IXMLDOMNodeList> top;
    if (FAILED(IXMLDOMDocument2_get_childNodes(document.p, top.out())) || !top.p) {
        facts->topLevelCount = 0;
        return;
    }
    facts->topLevelCount = static_cast<int32_t>(ChildCount(top.p));
    ComPtr<IXMLDOMNode> root;
    if (facts->topLevelCount < 2 || FAILED(IXMLDOMNodeList_get_item(top.p, 1, root.out())) || !root.p) return;
    ComPtr<IXMLDOMNodeList> children;
    if (FAILED(IXMLDOMNode_get_childNodes(root.p, children.out())) || !children.p) {
        facts->rootChildCount = 0;
        return;
    }
    facts->rootChildCount = static_cast<int32_t>(ChildCount(children.p));
    if (facts->rootChildCount < 2) return;
    facts->remoteVersion = NodeText(children.p, 0);
    facts->remoteBuild = NodeText(children.p, 1);
}

class CUpdateResult : public CDialogBase {
public:
    CUpdateResult(UINT id, const std::string& text) : CDialogBase(id), id_(id), text_(text) {}

protected:
    BOOL OnInitDialog() override {
        if (id_ == IDD_UPDATE_NEWER) SetDlgItemTextA(Hwnd(), IDC_UPDATE_NEWER_TEXT, text_.c_str());
        if (id_ == IDD_UPDATE_BAD_DOCUMENT) SetDlgItemTextA(Hwnd(), IDC_UPDATE_ROUTE_TEXT, text_.c_str());
        return TRUE;
    }
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT*) override {
        if (msg != WM_COMMAND) return false;
        const UINT command = LOWORD(wParam);
        if (id_ == IDD_UPDATE_NEWER && command == IDC_UPDATE_DOWNLOAD) {
            OpenUrl(PageAddress(IDS_PRODUCT_PAGE));
            EndDialog(1);
            return true;
        }
        if (id_ == IDD_UPDATE_BAD_DOCUMENT && (command == IDC_UPDATE_ROUTE_CLOSE || command == IDCANCEL)) {
            EndDialog(1);
            return true;
        }
        if (command == IDC_UPDATE_CLOSE || command == IDCANCEL) {
            EndDialog(2);
            return true;
        }
        return false;
    }

private:
    UINT id_;
    std::string text_;
};

// The check runs on a worker so that the window stays live however slowly
// the server answers. A message-only window of the UI thread takes the
// worker's result and the deadline, and shows the result dialog.
struct CUpdateJob {
    std::string host;
    VSUpdateFacts facts;
};

struct CUpdateCheck {
    HWND owner = nullptr;
    HWND sink = nullptr;
    CUpdateJob* current = nullptr;  // the job whose result is awaited
};
CUpdateCheck g_check;  // UI thread only

void ShowUpdateResult(HWND owner, const VSUpdateFacts& facts, const std::string& host) {
    const VSUpdateResult result = DecideUpdate(facts, ResourceText(IDS_VERSION), ResourceText(IDS_BUILD));
    std::string dialogText;
    if (result == kUpdateNewer) dialogText = NewerVersionText(facts.remoteVersion, facts.remoteBuild);
    if (result == kUpdateBadDocument) dialogText = RouteProblemText(host);
    CUpdateResult dialog(result, dialogText);
    dialog.DoModal(owner);
}

DWORD WINAPI UpdateWorker(LPVOID param) {
    CUpdateJob* job = static_cast<CUpdateJob*>(param);
    std::string text;
    job->facts.fetched = FetchText(HostAddress(job->host, kUpdateInfoPath), &text);
    if (job->facts.fetched) {
        const HRESULT com = CoInitialize(nullptr);
        ReadDocument(text, &job->facts);
        if (SUCCEEDED(com)) CoUninitialize();
    }
    if (!PostMessageA(g_check.sink, kUpdateDone, 0, reinterpret_cast<LPARAM>(job))) delete job;
    return 0;
}

LRESULT CALLBACK UpdateSinkProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kUpdateDone) {
        std::unique_ptr<CUpdateJob> job(reinterpret_cast<CUpdateJob*>(lParam));
        // A result after the deadline was already answered: dropped.
        if (job.get() != g_check.current) return 0;
        KillTimer(wnd, kUpdateDeadlineTimer);
        g_check.current = nullptr;
        ShowUpdateResult(g_check.owner, job->facts, job->host);
        return 0;
    }
    if (msg == WM_TIMER && wParam == kUpdateDeadlineTimer) {
        KillTimer(wnd, kUpdateDeadlineTimer);
        if (!g_check.current) return 0;
        // The worker may stay blocked in the network; it ends on its own.
        const std::string host = g_check.current->host;
        g_check.current = nullptr;
        ShowUpdateResult(g_check.owner, VSUpdateFacts{}, host);
        return 0;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

HWND UpdateSink() {
    if (g_check.sink) return g_check.sink;
    WNDCLASSA wc{};
    wc.lpfnWndProc = UpdateSinkProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VSUpdateSink";
    RegisterClassA(&wc);
    g_check.sink = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    return g_check.sink;
}

}  // namespace

void UpdateCheckCommand(HWND mainWindow) {
    // One check at a time: its dialog comes when it is done.
    if (g_check.current) return;
    g_check.owner = mainWindow;
    auto job = std::make_unique<CUpdateJob>();
    job->host = ServerHost();
    HANDLE thread = nullptr;
    if (UpdateSink()) thread = CreateThread(nullptr, 0, UpdateWorker, job.get(), 0, nullptr);
    if (!thread) {
        ShowUpdateResult(mainWindow, VSUpdateFacts{}, job->host);
        return;
    }
    CloseHandle(thread);
    g_check.current = job.release();
    SetTimer(g_check.sink, kUpdateDeadlineTimer, kUpdateDeadlineMs, nullptr);
}
