// The viewer's main window: the picture display, the keys, the window
// placement and full screen.
#ifndef VS_APP_MAINDIALOG_H
#define VS_APP_MAINDIALOG_H

#include "app/framework.h"

#include <ole2.h>
#include "app/settings_core.h"
#include "features/win/winregtree.h"
#include "app/fulldecoder.h"
#include "app/prefetcher.h"
#include "app/toolbarpanel.h"
#include "app/viewermodel.h"
#include "browse/win/winfs.h"
#include "browse/zoom.h"

#include "thumbs/win/listctrlex.h"

#include <memory>
#include <string>
#include <vector>

class MainDialog : public CDialogBase {
public:
    // argument: the picture named on the command line, or "".
    explicit MainDialog(const std::string& argument);
    ~MainDialog() override;

protected:
    BOOL OnInitDialog() override;
    bool PreTranslateMessage(MSG* msg) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    // byButton: sent by a toolbar button, which acts as the plain key.
    bool OnKeyDown(UINT key, bool byButton = false);
    bool OnCommand(UINT id);
    void OnLeftButtonDown(int x, int y);
    void OnMouseMove(int x, int y);
    // The open dialog (key O, toolbar button).
    void OpenCommand();
    // Files dropped on the window: by a plain source or by OLE.
    void OpenDropped(const std::vector<std::string>& paths, bool oleDrop);
    // Editor function index (accelerators and editor buttons).
    void EditorFunction(uint32_t index);
    void OnWheel(int delta);
    // Zooming and panning the picture on screen.
    bool Zoomable() const;
    VSSize ViewSize() const;
    // The picture's real size, upright as shown.
    VSSize ZoomPicture();
    double FitScaleNow();
    void ZoomBy(int32_t steps, VSPoint at);
    void SetZoom(const VSZoom& zoom);
    void Pan(int64_t dx, int64_t dy);
    // Back to the fitted view, the full decode dropped.
    void ResetZoom();
    bool InPictureArea(POINT client) const;
    void OnFullDecoded();
    void AfterStep();
    void OnCopyData(const COPYDATASTRUCT* data);
    void OnDestroy();
    void OnSize(UINT type, int cx, int cy);
    void OnMove();

    void ShowFile(WPARAM wParam, const std::string& path);
    void ShowAt(int32_t index, const std::string& path);
    void Rerender();
    void SortDone(bool ascending, uint32_t key);
    void SetView(bool thumbnails);
    // The thumbnail view's clicks, keys and drags (WM_NOTIFY from it).
    bool OnThumbnailNotify(const NMHDR* header, LRESULT* result);
    void FileChanged(WPARAM wParam, const std::string& path);
    // Selects the current index in the thumbnail view and scrolls to it.
    void SelectCurrentThumbnail(bool partialOk);
    bool LoadAndShow(const std::string& path);
    // Renders the shown picture for the window as it is now.
    void Render();
    // The visible part of the zoomed picture; false when the zoom ended.
    bool RenderZoomedView();
    VSRenderKey RenderKeyNow();
    // Asks for the shown picture's neighbours, the next in the direction of
    // the last step first; drops what was decoded for a list since changed.
    void Prefetch();
    void DropStalePrefetch();
    void ToggleFullScreen();
    // Maximised, with the stored frame as the one that restoring returns to.
    void ShowMaximised();
    void ReleaseDisplay();
    void InvalidatePicture(bool erase);
    void InvalidateAll(bool erase);
    void LayOutViews();
    // The caption and the name, size and file panes: of the picture on
    // screen (or none), in the thumbnail view of its current item.
    void Describe();
    void PaintPicture(HDC dc, const RECT& client);
    void PaintIcon();
    VSRect WindowFrame() const;
    HWND Picture() const;

    std::string argument_;
    VSWinRegTree store_;
    VSSettings settings_;
    VSPlacementTracker tracker_;
    VSWinFileSystem fs_;
    VSViewerModel model_;
    std::unique_ptr<ToolbarPanel> panel_;
    VSPrefetchCache prefetch_{kPrefetchPictures, kPrefetchBudgetBytes};
    std::unique_ptr<Prefetcher> prefetcher_;
    uint64_t prefetchList_ = 0;  // the list's generation the cache belongs to
    int32_t travel_ = 0;         // the last step's direction, until shown
    uintptr_t shownSerial_ = 0;  // counts the pictures shown
    uintptr_t viewSerial_ = 0;   // counts those and the zoomed views made
    uintptr_t stampedSerial_ = 0;  // the view whose first paint was stamped
    CStatusBar status_;
    HICON icon_ = nullptr;
    HDC memoryDC_ = nullptr;
    HACCEL accelerators_ = nullptr;
    IDropTarget* dropTarget_ = nullptr;
    CListCtrlEx thumbs_;
    uint32_t screenWidth_ = 0, screenHeight_ = 0;
    bool dragFullWindowsWasOn_ = false;

    bool fullScreen_ = false;
    bool maximised_ = false;
    bool minimised_ = false;
    bool inSizeMove_ = false;
    int32_t savedX_ = 0, savedY_ = 0, savedWidth_ = 0, savedHeight_ = 0;

    HBITMAP display_ = nullptr;
    uint32_t displayWidth_ = 0, displayHeight_ = 0;
    bool displayZoomed_ = false;  // placed at displayAt_, not centred
    bool displayFull_ = false;    // drawn from the picture at its real size
    VSPoint displayAt_{0, 0};

    VSZoom zoom_;
    VSSize zoomView_{0, 0};  // the view zoom_ was placed in
    VSRgbImage zoomed_;      // the visible part, kept for its buffer
    // The shown picture decoded at its real size, once a zoom wanted it:
    // the part in view first, then the whole.
    std::unique_ptr<FullDecoder> fullDecoder_;
    VSFullPicture full_;
    bool fullAsked_ = false;
    bool panning_ = false;
    POINT panFrom_{};
    RECT pictureRect_{};
};

#endif
