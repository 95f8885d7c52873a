// The toolbar's owner-drawn bitmap button: a strip of four equally wide
// frames (normal, hover, pressed, disabled), a tooltip, and the pointer
// tracking that gives hover and pressed looks.
#ifndef VS_APP_BITMAPBUTTON_H
#define VS_APP_BITMAPBUTTON_H

#include <windows.h>

#include <cstdint>
#include <string>

class CBitmapButton {
public:
    enum State : uint32_t { kNormal = 0, kHover = 1, kLeft = 2, kPressed = 4 };
    struct Look {
        bool staticImage = false;     // separators, banner, placeholders: frame 0 only
        bool alwaysDisabled = false;  // never enabled by the state update
        bool banner = false;          // the hand cursor over it
    };

    // Takes ownership of strip.
    CBitmapButton(uint32_t id, HBITMAP strip, Look look);
    ~CBitmapButton();
    CBitmapButton(const CBitmapButton&) = delete;
    CBitmapButton& operator=(const CBitmapButton&) = delete;

    bool Create(HWND panel, int x, int y, int width, int height, const std::string& tooltip);
    void Destroy();
    // WM_DRAWITEM of the panel for this button.
    void Draw(const DRAWITEMSTRUCT* item);
    // Enables or disables the window together with the disabled look.
    void SetEnabled(bool enabled);
    void Show(bool shown);
    // Shown pressed while an editor function runs.
    void SetPressed(bool pressed);

    uint32_t Id() const { return id_; }
    HWND Hwnd() const { return wnd_; }
    // The frame's offset into the strip for the present state.
    int FrameOffset() const;

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMouse(UINT msg, LPARAM lParam);
    bool Inside(LPARAM lParam) const;
    void Redraw();

    uint32_t id_;
    HBITMAP strip_;
    Look look_;
    HWND wnd_ = nullptr;
    HWND panel_ = nullptr;
    HWND tooltip_ = nullptr;
    WNDPROC base_ = nullptr;
    uint32_t state_ = kNormal;
    bool disabledLook_ = false;
    int width_ = 0, height_ = 0;
    RECT rect_{};
};

#endif
