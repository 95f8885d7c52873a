// Drawing and pointer tracking of the toolbar's bitmap buttons.
#include "app/bitmapbutton.h"

#include "app/resource.h"

#include <commctrl.h>
#include <windowsx.h>

namespace {
const char kSelfProperty[] = "VSBitmapButton";
}

CBitmapButton::CBitmapButton(uint32_t id, HBITMAP strip, Look look) : id_(id), strip_(strip), look_(look) {}

CBitmapButton::~CBitmapButton() {
    Destroy();
    if (strip_) DeleteObject(strip_);
}

bool CBitmapButton::Create(HWND panel, int x, int y, int width, int height, const std::string& tooltip) {
    panel_ = panel;
    width_ = width;
    height_ = height;
    rect_ = {x, y, x + width, y + height};
    wnd_ = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, x, y, width, height, panel,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id_)), GetModuleHandleA(nullptr), nullptr);
    if (!wnd_) return false;
    SetPropA(wnd_, kSelfProperty, this);
    base_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(wnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CBitmapButton::Proc)));
    if (!tooltip.empty()) {
        tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, panel, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
        TOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = panel;
        tool.uId = reinterpret_cast<UINT_PTR>(wnd_);
        tool.lpszText = const_cast<char*>(tooltip.c_str());
        SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageA(tooltip_, TTM_ACTIVATE, TRUE, 0);
    }
    return true;
}

void CBitmapButton::Destroy() {
    if (tooltip_) DestroyWindow(tooltip_);
    tooltip_ = nullptr;
    if (wnd_) {
        if (GetCapture() == wnd_) ReleaseCapture();
        SetWindowLongPtrA(wnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(base_));
        RemovePropA(wnd_, kSelfProperty);
        DestroyWindow(wnd_);
    }
    wnd_ = nullptr;
}

int CBitmapButton::FrameOffset() const {
    if (look_.staticImage) return 0;
    if (state_ & kPressed) return 2 * width_;
    if (state_ & kHover) return width_;
    if (disabledLook_) return 3 * width_;
    return 0;
}

void CBitmapButton::Draw(const DRAWITEMSTRUCT* item) {
    HDC memory = CreateCompatibleDC(item->hDC);
    HGDIOBJ old = SelectObject(memory, strip_);
    BitBlt(item->hDC, 0, 0, width_, height_, memory, FrameOffset(), 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

void CBitmapButton::SetEnabled(bool enabled) {
    if (look_.alwaysDisabled) enabled = false;
    disabledLook_ = !enabled;
    if (!enabled) state_ = kNormal;
    if (wnd_) EnableWindow(wnd_, enabled);
    Redraw();
}

void CBitmapButton::Show(bool shown) {
    if (wnd_) ShowWindow(wnd_, shown ? SW_SHOW : SW_HIDE);
}

void CBitmapButton::SetPressed(bool pressed) {
    state_ = pressed ? kPressed : kNormal;
    Redraw();
    if (wnd_) UpdateWindow(wnd_);
}

void CBitmapButton::Redraw() {
    if (wnd_) InvalidateRect(wnd_, nullptr, FALSE);
}

bool CBitmapButton::Inside(LPARAM lParam) const {
    const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    RECT client{};
    GetClientRect(wnd_, &client);
    return PtInRect(&client, p) != FALSE;
}

LRESULT CBitmapButton::OnMouse(UINT msg, LPARAM lParam) {
    switch (msg) {
    case WM_MOUSEMOVE:
        if (Inside(lParam)) {
            if (GetCapture() != wnd_) SetCapture(wnd_);
            SendMessageA(panel_, UM_BUTTON_HOVER, look_.banner ? 1 : 0, 0);
            if (!(state_ & kPressed)) state_ = kHover;
        } else {
            state_ = kLeft;
            if (GetCapture() == wnd_) ReleaseCapture();
        }
        Redraw();
        return 0;
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK:
        // No focus change: the keys stay with the main window.
        SetCapture(wnd_);
        state_ = kPressed;
        Redraw();
        return 0;
    case WM_LBUTTONUP: {
        const bool inside = Inside(lParam);
        state_ = kNormal;
        Redraw();
        if (GetCapture() == wnd_) ReleaseCapture();
        if (inside) PostMessageA(panel_, UM_BUTTON_CLICKED, id_, 0);
        return 0;
    }
    default: return 0;
    }
}

LRESULT CALLBACK CBitmapButton::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CBitmapButton*>(GetPropA(wnd, kSelfProperty));
    if (!self) return DefWindowProcA(wnd, msg, wParam, lParam);
    switch (msg) {
    case WM_MOUSEMOVE: case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_LBUTTONUP:
        return self->OnMouse(msg, lParam);
    case WM_ERASEBKGND:
        return 1;
    default:
        break;
    }
    return CallWindowProcA(self->base_, wnd, msg, wParam, lParam);
}
