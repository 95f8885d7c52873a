// Settings values, defaults and window placement.
#include "app/settings_core.h"

const char kSettingsKey[] = "Software\\Orvanta\\Vistrel Viewer\\2.0";
const char kVendorKey[] = "Software\\Orvanta\\Vistrel Viewer";

const char kValuePositionX[] = "PositionX";
const char kValuePositionY[] = "PositionY";
const char kValueWndWidth[] = "WndWidth";
const char kValueWndHeight[] = "WndHeight";
const char kValueMaximised[] = "Maximizied";
const char kValueInitDir[] = "InitDir";
const char kValueSaveAsDir[] = "SaveAsDir";
const char kValueAutoRotate[] = "AutoRotate";
const char kValueSortType[] = "SortType";
const char kValueSortOrder[] = "SortOrder";
const char kValueExtension[] = "Extension";

namespace {

// REG_DWORD values are reinterpreted as signed, as the window position
// needs; a position left of or above the primary screen is negative.
void ReadSigned(VSRegTree& store, const char* name, int32_t* field) {
    uint32_t value = 0;
    if (store.ReadNumber(kSettingsKey, name, &value)) *field = static_cast<int32_t>(value);
}

}  // namespace

VSSettings::VSSettings(VSRegTree& store) : store_(store) {}

VSPlacement VSSettings::LoadPlacement() {
    VSPlacement placement;
    ReadSigned(store_, kValuePositionX, &placement.x);
    ReadSigned(store_, kValuePositionY, &placement.y);
    ReadSigned(store_, kValueWndWidth, &placement.width);
    ReadSigned(store_, kValueWndHeight, &placement.height);
    uint32_t maximised = 0;
    if (store_.ReadNumber(kSettingsKey, kValueMaximised, &maximised)) placement.maximised = maximised != 0;
    return placement;
}

void VSSettings::SavePlacement(const VSPlacement& placement) {
    store_.WriteNumber(kSettingsKey, kValuePositionX, static_cast<uint32_t>(placement.x));
    store_.WriteNumber(kSettingsKey, kValuePositionY, static_cast<uint32_t>(placement.y));
    store_.WriteNumber(kSettingsKey, kValueWndWidth, static_cast<uint32_t>(placement.width));
    store_.WriteNumber(kSettingsKey, kValueWndHeight, static_cast<uint32_t>(placement.height));
    store_.WriteNumber(kSettingsKey, kValueMaximised, placement.maximised ? 1u : 0u);
}

void VSSettings::LoadFolders(std::string* initDir, std::string* saveAsDir, const std::string& myPictures) {
    std::string text;
    if (initDir) {
        if (!store_.ReadText(kSettingsKey, kValueInitDir, &text)) text.clear();
        *initDir = text.empty() ? myPictures : text;
    }
    if (saveAsDir) {
        if (!store_.ReadText(kSettingsKey, kValueSaveAsDir, &text)) text.clear();
        *saveAsDir = text.empty() ? myPictures : text;
    }
}

void VSSettings::SaveFolders(const std::string& initDir, const std::string& saveAsDir) {
    store_.WriteText(kSettingsKey, kValueInitDir, initDir);
    store_.WriteText(kSettingsKey, kValueSaveAsDir, saveAsDir);
}

uint32_t VSSettings::ReadAutoRotate() {
    uint32_t value = 1;
    if (!store_.ReadNumber(kSettingsKey, kValueAutoRotate, &value)) value = 1;
    return value;
}

void VSSettings::ReadSortState(VSSortState* state) {
    if (!state) return;
    state->ascending = true;
    state->key = kSortName;
    uint32_t value = 0;
    if (store_.ReadNumber(kSettingsKey, kValueSortOrder, &value)) state->ascending = value != 0;
    if (store_.ReadNumber(kSettingsKey, kValueSortType, &value) && IsSortKey(value)) state->key = value;
}

void VSSettings::WriteSortState(const VSSortState& state) {
    store_.WriteNumber(kSettingsKey, kValueSortOrder, state.ascending ? 1u : 0u);
    store_.WriteNumber(kSettingsKey, kValueSortType, state.key);
}

// ---------------------------------------------------------------- placement tracking

VSPlacementTracker::VSPlacementTracker(const VSPlacement& loaded) : placement_(loaded) {}

void VSPlacementTracker::TakeFrame(const VSRect& frame) {
    placement_.x = frame.left;
    placement_.y = frame.top;
    // Widened: a frame cannot be wider than int32, but a bad rect must not overflow.
    placement_.width = static_cast<int32_t>(static_cast<int64_t>(frame.right) - frame.left);
    placement_.height = static_cast<int32_t>(static_cast<int64_t>(frame.bottom) - frame.top);
}

bool VSPlacementTracker::OnSize(bool nowMaximised, bool nowMinimised, bool fullScreen) {
    // Full screen maximises the window: the state from before it stays.
    if (fullScreen) return false;
    const bool restoreToStored = placement_.maximised;
    placement_.maximised = nowMaximised;
    placement_.minimised = nowMinimised;
    return restoreToStored;
}

void VSPlacementTracker::OnMove(bool shownMaximised, bool fullScreen, const VSRect& frame) {
    if (placement_.maximised && !shownMaximised && !fullScreen) TakeFrame(frame);
}

void VSPlacementTracker::EnterFullScreen(bool maximised, const VSRect& frame) {
    if (maximised) {
        placement_.maximised = true;
    } else {
        TakeFrame(frame);
    }
}

VSPlacement VSPlacementTracker::AtSave(bool minimised, bool maximised, const VSRect& frame) {
    if (!minimised && !maximised) TakeFrame(frame);
    return placement_;
}
