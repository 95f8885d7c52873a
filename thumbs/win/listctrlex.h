// The thumbnail view: a list view in icon mode over the folder file list,
// with a worker thread that makes the 160 x 120 thumbnails one file after
// another, and a drag source for its items.
#ifndef VS_THUMBS_WIN_LISTCTRLEX_H
#define VS_THUMBS_WIN_LISTCTRLEX_H

#include <windows.h>
#include <commctrl.h>

#include "browse/folderlist.h"
#include "browse/imageloader.h"
#include "thumbs/thumbbook.h"
#include "thumbs/thumbnail.h"

#include <atomic>
#include <string>
#include <vector>

constexpr UINT kThumbnailViewId = 122;

class CListCtrlEx {
public:
    CListCtrlEx() = default;
    ~CListCtrlEx();
    CListCtrlEx(const CListCtrlEx&) = delete;
    CListCtrlEx& operator=(const CListCtrlEx&) = delete;

    // A visible child with border and tab stop, icon view, single selection.
    bool Create(HWND parent);
    HWND Hwnd() const { return hwnd_; }
    // The folder list the view reads (not owned); set before each use.
    void SetFolderList(FolderList* list) { list_ = list; }

    // Refills the view from the folder list and starts the worker; with
    // autoRotate the view's own thumbnails are made upright.
    void Populate(bool autoRotate);
    // A new picture file in the folder: its item index, -1 without a thumbnail.
    int32_t AddFile(const std::string& path);
    void RefreshThumbnail(int32_t index, const std::string& path);
    void UpdateItem(int32_t index, const std::string& path);
    void SortByKey(uint32_t key, uint16_t ascending);
    // Selected (focus mark cleared) and scrolled fully into view.
    void SelectItem(int32_t index);
    void ScrollIntoView(int32_t index, bool partialOk);
    void DeleteAllItems();
    void DeleteItem(int32_t index);
    int32_t ItemCount() const;
    // The full path of an item's record; "" when it has none.
    std::string PathAt(int32_t index) const;
    // Items per row: the client width over the icons' horizontal spacing.
    int32_t ItemsPerRow(int32_t index) const;

    // Asks the worker to end before its next file (the stop of the main
    // window: a quit message, then 100 ms).
    void StopWorker();
    // Waits, dispatching messages, until every worker has ended.
    void WaitForWorkers();

    // The parent's WM_NOTIFY for the view: the begin-drag. True when handled.
    bool OnNotify(const NMHDR* header, LRESULT* result);

    // The thumbnail of a file (shell, EXIF, whole picture) as a bitmap for
    // dc, or null, and where its picture lies; a picture that cannot be read
    // is reported to host. Runs on any thread.
    static HBITMAP MakeThumbnail(const std::string& path, bool autoRotate, HDC dc, VSLoaderHost& host,
                                 VSThumbArea* area);

private:
    struct Worker;
    static LRESULT CALLBACK SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI GenerateThumbnails(LPVOID param);
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void DestroyImageList();
    void CreateImageList(int32_t count);
    int32_t FindItem(uint32_t key) const;
    uint32_t KeyOf(int32_t index) const;
    void InsertItem(int32_t at, const std::string& path, int32_t image, uint32_t key);
    void RedrawItem(int32_t index);
    void SetItemImage(int32_t index, int32_t image);
    void SetLabel(int32_t index, const std::string& path);
    bool ReadStatus(const std::string& path, VSFileStatus* status);
    // The record's date and size read again; false, the record unchanged,
    // when they cannot be read.
    bool RereadStatus(CFileItem* record, const std::string& path);
    void StartDrag(int32_t index);

    HWND hwnd_ = nullptr;
    WNDPROC defaultProc_ = nullptr;
    FolderList* list_ = nullptr;
    HIMAGELIST images_ = nullptr;
    VSThumbBook book_;
    bool autoRotate_ = true;
    Worker* worker_ = nullptr;
    bool populating_ = false;
    // Stopped workers that may still be finishing a file.
    std::vector<Worker*> stopped_;
};

// The shell's thumbnail of a file where the platform offers one, else null.
HBITMAP GetShellThumbnail(const std::string& path, HDC dc);

#endif
