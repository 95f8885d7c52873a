// The viewer's process life.
#include "app/viewerapp.h"

#include "app/maindialog.h"
#include "app/resource.h"

#include "codec/IS40.h"
#include "codec/win/hostpaths.h"
#include "browse/texts.h"

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstring>

namespace {

const char kMutexName[] = "VSViewer Mutex";
constexpr DWORD kInstancePollMs = 50;
constexpr DWORD kInstanceWaitMs = 30000;

#ifdef __WINE__

// A host path given on the command line becomes the Windows path of it.
std::string FromHostPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    WCHAR* dos = wine_get_dos_file_name(path.c_str());
    if (!dos) return path;
    char buffer[MAX_PATH * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, dos, -1, buffer, sizeof buffer, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, dos);
    return buffer;
}
#else
std::string FromHostPath(const std::string& path) { return path; }
#endif

// The first command-line argument, quotes removed; "" when there is none.
std::string FirstArgument() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string first;
    if (args && count > 1) {
        char buffer[MAX_PATH * 4] = {};
        if (WideCharToMultiByte(CP_ACP, 0, args[1], -1, buffer, sizeof buffer, nullptr, nullptr)) first = buffer;
    }
    if (args) LocalFree(args);
    return first;
}

}  // namespace

BOOL CALLBACK ViewerApp::FindViewer(HWND wnd, LPARAM param) {
    ViewerApp* self = reinterpret_cast<ViewerApp*>(param);
    char caption[260] = {};
    GetWindowTextA(wnd, caption, sizeof caption);
    if (std::strstr(caption, kCaptionMark)) {
        self->otherInstanceWindow_ = wnd;
        return FALSE;
    }
    return TRUE;
}

void ViewerApp::HandOver(const std::string& argument) {
    HWND other = otherInstanceWindow_;
    if (!other) return;
    if (IsIconic(other)) {
        ShowWindow(other, SW_RESTORE);
    } else {
        BringWindowToTop(other);
    }
    SetForegroundWindow(other);
    if (argument.empty()) return;
    handedOver_ = argument;
    COPYDATASTRUCT record{};
    record.dwData = 0;
    record.cbData = static_cast<DWORD>(handedOver_.size());
    record.lpData = &handedOver_[0];
    SendMessageA(other, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
}

bool ViewerApp::FindOrOutlive(HANDLE mutex) {
    // An instance that is starting shows its window soon; one that is
    // closing has none, and lets the mutex go when it is done.
    const DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(FindViewer, reinterpret_cast<LPARAM>(this));
        if (otherInstanceWindow_) return true;
        const DWORD waited = WaitForSingleObject(mutex, kInstancePollMs);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return false;
        // One that never lets go is no viewer to hand over to either.
        if (GetTickCount() - start >= kInstanceWaitMs) return false;
    }
}

int ViewerApp::Run(const std::string& argument) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // Owned while this instance runs, so that a later start can wait for
    // its release.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
    const bool existed = mutex && GetLastError() == ERROR_ALREADY_EXISTS;
    const bool otherInstance = existed && FindOrOutlive(mutex);
    OleInitialize(nullptr);
    if (otherInstance) {
        HandOver(argument);
        CloseHandle(mutex);
        OleUninitialize();
        return 0;
    }
    {
        MainDialog main(argument);
        main.DoModal(nullptr);
    }
    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    OleUninitialize();
    return 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    InstallHostPathMapper();
    ViewerApp app;
    return app.Run(FromHostPath(FirstArgument()));
}
