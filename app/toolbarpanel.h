// The panel across the top of the main window: the buttons, the context
// menu, and the folder list's rebuilds and sort worker, working on the
// main window's model.
#ifndef VS_APP_TOOLBARPANEL_H
#define VS_APP_TOOLBARPANEL_H

#include "app/bitmapbutton.h"
#include "app/framework.h"
#include "app/settings_core.h"
#include "app/viewermodel.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CContextMenu;

// The viewer's own toolbar commands, relative to the editor function count.
enum ToolbarCommand : uint32_t {
    kCmdOpen = 0, kCmdSaveAs = 1, kCmdPrevious = 2, kCmdNext = 3, kCmdFullScreen = 4, kCmdViewSwitch = 5,
    kCmdContextMenu = 7, kCmdOpenWith = 8, kCmdUpdateCheck = 10, kCmdBanner = 12
};

class ToolbarPanel : public CDialogBase {
public:
    ToolbarPanel(HWND mainWindow, VSSettings& settings, VSViewerModel& model);
    ~ToolbarPanel() override;

    // Rebuilds the list from a picture path; shows it.
    void Build(const std::string& path);
    // Rebuilds the list from a folder; false when it holds no picture.
    bool BuildFromFolder(const std::string& folder);
    // Replaces the list by exactly these paths (sorted afterwards) and shows
    // the first; the thumbnails are cleared first when asked.
    void OpenPaths(const std::vector<std::string>& paths, bool clearThumbnails);
    // Makes the list's first entry current and shows it (when there is one).
    void ShowFirst();
    // Asks, then deletes the current file. Returns the removed index or -1.
    int32_t DeleteCurrent(bool thumbnailViewShown);
    // The sort commands 17, 18 and 19.
    void SortCommand(uint32_t key);
    // Re-sorts the list with the present key and order (reported by UM_SORT_DONE).
    void Resort() { StartSortWorker(false); }
    // Waits, dispatching messages, until every sort worker has ended.
    void WaitForSortWorkers();

    // Editor function count, also the identifier of the first own button.
    uint32_t EditorCount() const { return editorCount_; }
    bool EditorPresent() const { return editorPresent_; }

    // The button with this identifier, or null.
    CBitmapButton* Button(uint32_t id);

    // Runs a toolbar command: below the editor count an editor function,
    // else the editor count + a ToolbarCommand.
    void RunCommand(uint32_t id);
    // The context menu at the pointer.
    void ShowMenu();
    // Flips the thumbnail mode when the list holds pictures.
    void ViewSwitch();

    void SaveFolders();
    // Enables the buttons for the list's state.
    void UpdateButtons();

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    // The context menu's commands.
    bool MenuCommand(UINT id);

private:
    struct SortJob {
        ToolbarPanel* panel;
        uint32_t key;
        bool ascending;
        bool command;     // a sort command, not the sort after a build
        uint32_t serial;  // the newest request has sortSerial_
    };
    void StartSortWorker(bool afterBuild);
    static DWORD WINAPI SortWorker(LPVOID param);
    void ReapWorkers();
    void CreateButtons();
    void DestroyButtons();
    // The key as the main window's key handling sees it.
    void SynthesiseKey(WORD vk);

    HWND main_;
    VSSettings& settings_;
    VSViewerModel& model_;
    uint32_t editorCount_ = 7;
    bool editorPresent_ = false;
    // Found before the buttons are made, when the editor component exists:
    // one entry per function (its name and bitmap, owned by the button).
    struct EditorButton {
        std::string name;
        HBITMAP bitmap;
    };
    std::vector<EditorButton> editorButtons_;
    std::vector<HANDLE> workers_;
    std::mutex sortLock_;
    std::atomic<uint32_t> sortSerial_{0};
    std::atomic<bool> populatePending_{false};
    std::vector<std::unique_ptr<CBitmapButton>> buttons_;
    std::unique_ptr<CContextMenu> menu_;
    HBRUSH face_ = nullptr;
};

#endif
