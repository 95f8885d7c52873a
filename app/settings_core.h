// The per-user settings values and the window placement, over a registry
// tree (the registry in the shell, memory in tests).
#ifndef VS_APP_SETTINGS_CORE_H
#define VS_APP_SETTINGS_CORE_H

#include "browse/folderlist.h"
#include "app/regtree.h"

#include <cstdint>
#include <string>

extern const char kSettingsKey[];  // "Software\Orvanta\Vistrel Viewer\2.0"
extern const char kVendorKey[];    // "Software\Orvanta\Vistrel Viewer"

extern const char kValuePositionX[];
extern const char kValuePositionY[];
extern const char kValueWndWidth[];
extern const char kValueWndHeight[];
extern const char kValueMaximised[];  // "Maximizied", spelled so
extern const char kValueInitDir[];
extern const char kValueSaveAsDir[];
extern const char kValueAutoRotate[];
extern const char kValueSortType[];
extern const char kValueSortOrder[];
extern const char kValueExtension[];

struct VSPlacement {
    int32_t x = 200, y = 200, width = 960, height = 600;  // the whole toolbar shows
    bool maximised = false;
    bool minimised = false;
};

struct VSRect {
    int32_t left, top, right, bottom;
};

// Reads and writes the settings values of the viewer's key. A missing key
// or value leaves its default; write failures are ignored.
class VSSettings {
public:
    explicit VSSettings(VSRegTree& store);

    // The five placement values; stored numbers are taken as signed
    // unchanged, without comparing them with the screen.
    VSPlacement LoadPlacement();
    void SavePlacement(const VSPlacement& placement);

    // A missing, unreadable or empty folder becomes myPictures.
    void LoadFolders(std::string* initDir, std::string* saveAsDir, const std::string& myPictures);
    void SaveFolders(const std::string& initDir, const std::string& saveAsDir);

    // 1 when the key or the value is missing.
    uint32_t ReadAutoRotate();

    // Name and ascending unless the values say otherwise; a stored key
    // that is no sort key reads as the name.
    void ReadSortState(VSSortState* state);
    void WriteSortState(const VSSortState& state);

private:
    VSRegTree& store_;
};

// Tracks the window frame during the run so that the frame saved at exit
// is the last normal one: while maximised or minimised the frame of before
// is kept. The shell feeds it the window's events.
class VSPlacementTracker {
public:
    explicit VSPlacementTracker(const VSPlacement& loaded);

    // WM_SIZE outside full screen. Returns true when the window's restore
    // placement must first be set to Placement()'s frame (it was maximised).
    bool OnSize(bool nowMaximised, bool nowMinimised, bool fullScreen);
    // WM_MOVE: while restoring out of a maximised state, outside full
    // screen, the frame becomes the window's.
    void OnMove(bool shownMaximised, bool fullScreen, const VSRect& frame);
    // Entering full screen: a normal window's frame is kept, a maximised
    // window is remembered as maximised.
    void EnterFullScreen(bool maximised, const VSRect& frame);
    // At exit: a window neither minimised nor maximised gives its frame;
    // returns the placement to save.
    VSPlacement AtSave(bool minimised, bool maximised, const VSRect& frame);

    const VSPlacement& Placement() const { return placement_; }

private:
    void TakeFrame(const VSRect& frame);

    VSPlacement placement_;
};

#endif
