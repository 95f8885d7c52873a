// The viewer's window framework.
#include "app/framework.h"

#include <commctrl.h>

namespace {

const char kAppTitle[] = "Vistrel Viewer";

}  // namespace

CDialogBase::CDialogBase(UINT templateId) : templateId_(templateId) {}

CDialogBase::~CDialogBase() { Destroy(); }

void CDialogBase::Destroy() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

INT_PTR CDialogBase::DoModal(HWND owner) {
    ended_ = false;
    result_ = -1;
    if (!CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner, Proc,
                            reinterpret_cast<LPARAM>(this)))
        return -1;
    const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);
    MSG msg;
    while (!ended_ && hwnd_) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // Keep the quit for the loop outside.
            if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (PreTranslateMessage(&msg)) continue;
        if (hwnd_ && IsDialogMessageA(hwnd_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    Destroy();
    return result_;
}

bool CDialogBase::Create(HWND parent) {
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), parent, Proc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialogBase::EndDialog(INT_PTR result) {
    result_ = result;
    ended_ = true;
    // Wake the loop.
    if (hwnd_) PostMessageA(hwnd_, WM_NULL, 0, 0);
}

INT_PTR CALLBACK CDialogBase::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CDialogBase* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialogBase*>(lParam);
        SetWindowLongPtrA(wnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = wnd;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrA(wnd, DWLP_USER));
    if (!self) return FALSE;
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(wnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
        self->OnFinalDestroy();
        return FALSE;
    }
    LRESULT result = 0;
    if (!self->OnMessage(msg, wParam, lParam, &result)) return FALSE;
    switch (msg) {
    // These answer through the procedure's own result.
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM:
    case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_QUERYDRAGICON:
        return static_cast<INT_PTR>(result);
    default:
        SetWindowLongPtrA(wnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

bool CStatusBar::Create(HWND parent, UINT id) {
    hwnd_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                            nullptr);
    return hwnd_ != nullptr;
}

void CStatusBar::Destroy() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

void CStatusBar::SetPanes(const std::vector<int>& rights) {
    if (!hwnd_) return;
    SendMessageA(hwnd_, SB_SETPARTS, rights.size(), reinterpret_cast<LPARAM>(rights.data()));
}

void CStatusBar::SetText(int pane, const std::string& text) {
    if (!hwnd_) return;
    SendMessageA(hwnd_, SB_SETTEXTA, pane, reinterpret_cast<LPARAM>(text.c_str()));
}

void CStatusBar::Reposition() {
    if (hwnd_) SendMessageA(hwnd_, WM_SIZE, 0, 0);
}

uint32_t CStatusBar::Height() const {
    RECT r{};
    if (!hwnd_ || !IsWindowVisible(hwnd_) || !GetWindowRect(hwnd_, &r) || r.bottom < r.top) return 0;
    return static_cast<uint32_t>(r.bottom - r.top);
}

std::string ResourceText(UINT id) {
    char buffer[1024];
    const int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

int AppMessageBox(HWND owner, const std::string& text, UINT type) {
    return MessageBoxA(owner, text.c_str(), kAppTitle, type);
}

void WaitDispatching(HANDLE handle) {
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
        if (r != WAIT_OBJECT_0 + 1) return;  // signalled, or the handle is bad
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}
