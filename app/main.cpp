// Vistrel Viewer: the program's entry and its main window.
#include <windows.h>

#include "IS40.h"
#include "resource.h"

namespace {

INT_PTR CALLBACK MainDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dlg, 0);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        EndDialog(dlg, 0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    IS40_Initialize();
    INT_PTR rc = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    IS40_Shutdown();
    return rc == -1 ? 1 : 0;
}
