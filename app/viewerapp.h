// The process: single instance per logon, hand-over of a picture path to
// the running viewer, and the modal run of the main window.
#ifndef VS_APP_VIEWERAPP_H
#define VS_APP_VIEWERAPP_H

#include <windows.h>

#include <string>

class ViewerApp {
public:
    // Returns the process exit code.
    int Run(const std::string& argument);

private:
    static BOOL CALLBACK FindViewer(HWND wnd, LPARAM param);
    // True when another instance's window turns up; false when that
    // instance ends first, this one then owning the mutex.
    bool FindOrOutlive(HANDLE mutex);
    void HandOver(const std::string& argument);

    HWND otherInstanceWindow_ = nullptr;
    std::string handedOver_;
};

#endif
