// The small window framework of the viewer: a dialog base class with its
// own modal loop and pre-translation of messages, a status bar wrapper,
// and resource texts.
#ifndef VS_APP_FRAMEWORK_H
#define VS_APP_FRAMEWORK_H

#include <windows.h>

#include <string>
#include <vector>

// A dialog made from a template, modal (with a loop of its own that gives
// every message to PreTranslateMessage first) or as a modeless child.
class CDialogBase {
public:
    explicit CDialogBase(UINT templateId);
    virtual ~CDialogBase();
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    HWND Hwnd() const { return hwnd_; }
    // Runs the dialog until EndDialog; the window is destroyed before it returns.
    INT_PTR DoModal(HWND owner);
    // Creates the dialog as a child (or owned) window without a loop.
    bool Create(HWND parent);
    void Destroy();
    void EndDialog(INT_PTR result);

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // True when the message was consumed.
    virtual bool PreTranslateMessage(MSG*) { return false; }
    // True when handled, with the message's result in *result.
    virtual bool OnMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }
    // After the window is gone (WM_NCDESTROY).
    virtual void OnFinalDestroy() {}

private:
    static INT_PTR CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND hwnd_ = nullptr;
    bool ended_ = false;
    INT_PTR result_ = 0;
};

// The four-pane status bar at the bottom of a window.
class CStatusBar {
public:
    bool Create(HWND parent, UINT id);
    void Destroy();
    HWND Hwnd() const { return hwnd_; }
    // Right edges of the panes in client coordinates; -1 stretches.
    void SetPanes(const std::vector<int>& rights);
    void SetText(int pane, const std::string& text);
    // Lets the bar place itself at the bottom after the parent resized.
    void Reposition();
    // Its height on screen; 0 while hidden.
    uint32_t Height() const;

private:
    HWND hwnd_ = nullptr;
};

// A string resource of the program, "" when missing.
std::string ResourceText(UINT id);
// The program's message box with its name as title.
int AppMessageBox(HWND owner, const std::string& text, UINT type);
// Waits for handle while dispatching every message that arrives.
void WaitDispatching(HANDLE handle);

#endif
