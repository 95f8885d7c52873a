// Pictures reaching the viewer through the open dialog and drops, and the
// shown picture dragged out as a file.
#ifndef VS_BROWSE_WIN_OPENFILES_H
#define VS_BROWSE_WIN_OPENFILES_H

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

// The platform's open dialog, whose file name box empties whenever the
// user changes folder.
class CFileDialogEx {
public:
    CFileDialogEx(HWND owner, const std::string& initialFolder);
    // False on cancel (or a failure of the dialog itself).
    bool Show();
    // The selected paths and where the next dialog starts.
    std::vector<std::string> Paths() const;
    std::string NextFolder() const;

private:
    static UINT_PTR CALLBACK Hook(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND owner_;
    std::string initialFolder_;
    std::vector<char> buffer_;
};

// The paths of a WM_DROPFILES drop, which is finished here.
std::vector<std::string> DroppedFiles(HDROP drop);
// Registers the OLE drop target on the main window, which is sent
// UM_FILES_DROPPED for a drop; the result is released with
// RevokeDropTarget.
IDropTarget* RegisterDropTarget(HWND mainWindow);
void RevokeDropTarget(HWND mainWindow, IDropTarget* target);
// Drags the file out with copy and move allowed, marked as the viewer's own.
void DragOut(const std::string& path);

#endif
