// Settings values over a key store, and the window placement tracking.
#include "settings_core.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kMyPictures = "C:\\Users\\ann\\Pictures";

// Returns texts of any length and records the order of the writes, to
// check what VSSettings itself enforces.
class RecordingStore : public VSMemoryKeyStore {
public:
    bool ReadText(const std::string& key, const std::string& name, std::string* value) override {
        return StoredText(key, name, value);
    }
    bool WriteNumber(const std::string& key, const std::string& name, uint32_t value) override {
        writes.push_back(name);
        return VSMemoryKeyStore::WriteNumber(key, name, value);
    }
    bool WriteText(const std::string& key, const std::string& name, const std::string& value) override {
        writes.push_back(name);
        return VSMemoryKeyStore::WriteText(key, name, value);
    }
    std::vector<std::string> writes;
};

uint32_t Number(VSMemoryKeyStore& store, const char* name) {
    uint32_t value = 0xDEADBEEF;
    EXPECT_TRUE(store.ReadNumber(kSettingsKey, name, &value)) << name;
    return value;
}

void ExpectFrame(const VSPlacement& p, int32_t x, int32_t y, int32_t width, int32_t height) {
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.width, width);
    EXPECT_EQ(p.height, height);
}

}  // namespace

TEST(SettingsTest, KeyAndValueNames) {
    EXPECT_STREQ(kSettingsKey, "Software\\Orvanta\\Vistrel Viewer\\2.0");
    EXPECT_STREQ(kVendorKey, "Software\\Orvanta\\Vistrel Viewer");
    EXPECT_STREQ(kValuePositionX, "PositionX");
    EXPECT_STREQ(kValuePositionY, "PositionY");
    EXPECT_STREQ(kValueWndWidth, "WndWidth");
    EXPECT_STREQ(kValueWndHeight, "WndHeight");
    EXPECT_STREQ(kValueMaximised, "Maximizied");
    EXPECT_STREQ(kValueInitDir, "InitDir");
    EXPECT_STREQ(kValueSaveAsDir, "SaveAsDir");
    EXPECT_STREQ(kValueAutoRotate, "AutoRotate");
    EXPECT_STREQ(kValueSortType, "SortType");
    EXPECT_STREQ(kValueSortOrder, "SortOrder");
    EXPECT_STREQ(kValueExtension, "Extension");
}

TEST(SettingsTest, FirstStartDefaults) {
    VSMemoryKeyStore store;
    VSSettings settings(store);
    const VSPlacement p = settings.LoadPlacement();
    ExpectFrame(p, 200, 200, 800, 600);
    EXPECT_FALSE(p.maximised);
    EXPECT_FALSE(p.minimised);

    std::string initDir = "stale", saveAsDir = "stale";
    settings.LoadFolders(&initDir, &saveAsDir, kMyPictures);
    EXPECT_EQ(initDir, kMyPictures);
    EXPECT_EQ(saveAsDir, kMyPictures);

    EXPECT_EQ(settings.ReadAutoRotate(), 1u);

    VSSortState state;
    state.key = 19;
    state.ascending = false;
    state.lastCommand = 18;
    settings.ReadSortState(&state);
    EXPECT_EQ(state.key, kSortName);
    EXPECT_TRUE(state.ascending);
    EXPECT_EQ(state.lastCommand, 18u);
}

TEST(SettingsTest, PlacementRoundTripWithStoredNumbersUsedUnchanged) {
    VSMemoryKeyStore store;
    VSSettings settings(store);
    VSPlacement saved;
    saved.x = -1700;  // a monitor left of the primary one, gone or not
    saved.y = 40;
    saved.width = 1024;
    saved.height = 700;
    saved.maximised = true;
    settings.SavePlacement(saved);
    EXPECT_EQ(Number(store, "PositionX"), 0xFFFFF95Cu);
    EXPECT_EQ(Number(store, "Maximizied"), 1u);
    const VSPlacement loaded = settings.LoadPlacement();
    ExpectFrame(loaded, -1700, 40, 1024, 700);
    EXPECT_TRUE(loaded.maximised);

    // Written by another program: taken as signed 32-bit numbers.
    store.WriteNumber(kSettingsKey, "PositionX", 0x80000000u);
    store.WriteNumber(kSettingsKey, "PositionY", 0x7FFFFFFFu);
    store.WriteNumber(kSettingsKey, "WndWidth", 0xFFFFFFFFu);
    store.WriteNumber(kSettingsKey, "WndHeight", 0);
    store.WriteNumber(kSettingsKey, "Maximizied", 2);
    const VSPlacement odd = settings.LoadPlacement();
    ExpectFrame(odd, -2147483647 - 1, 2147483647, -1, 0);
    EXPECT_TRUE(odd.maximised);

    // A value of the wrong type, or missing, keeps its default alone.
    store.WriteText(kSettingsKey, "PositionY", "300");
    store.Erase(kSettingsKey, "WndWidth");
    store.WriteNumber(kSettingsKey, "Maximizied", 0);
    const VSPlacement partial = settings.LoadPlacement();
    ExpectFrame(partial, -2147483647 - 1, 200, 800, 0);
    EXPECT_FALSE(partial.maximised);
}

TEST(SettingsTest, FoldersAreAtMost259CharactersAndEmptyMeansMyPictures) {
    RecordingStore store;
    VSSettings settings(store);
    const std::string longDir = "C:\\" + std::string(297, 'd');
    ASSERT_EQ(longDir.size(), 300u);
    store.WriteText(kSettingsKey, "InitDir", longDir);
    store.WriteText(kSettingsKey, "SaveAsDir", "");
    std::string initDir, saveAsDir;
    settings.LoadFolders(&initDir, &saveAsDir, kMyPictures);
    EXPECT_EQ(initDir, longDir.substr(0, 259));
    EXPECT_EQ(saveAsDir, kMyPictures);

    // A text ends at a zero byte; a number is no folder.
    store.WriteText(kSettingsKey, "InitDir", std::string("D:\\Photos\0junk", 14));
    store.WriteNumber(kSettingsKey, "SaveAsDir", 7);
    settings.LoadFolders(&initDir, &saveAsDir, kMyPictures);
    EXPECT_EQ(initDir, "D:\\Photos");
    EXPECT_EQ(saveAsDir, kMyPictures);

    // The memory store keeps the limit of a registry read as well.
    VSMemoryKeyStore memory;
    memory.WriteText(kSettingsKey, "InitDir", longDir);
    std::string read;
    ASSERT_TRUE(memory.ReadText(kSettingsKey, "InitDir", &read));
    EXPECT_EQ(read.size(), 259u);

    VSSettings plain(memory);
    plain.SaveFolders("E:\\In", "E:\\Out");
    plain.LoadFolders(&initDir, &saveAsDir, kMyPictures);
    EXPECT_EQ(initDir, "E:\\In");
    EXPECT_EQ(saveAsDir, "E:\\Out");
    // Either pointer may be left out.
    plain.LoadFolders(nullptr, &saveAsDir, kMyPictures);
    plain.LoadFolders(&initDir, nullptr, kMyPictures);
}

TEST(SettingsTest, SortStateAndAutoRotate) {
    RecordingStore store;
    VSSettings settings(store);
    VSSortState state;
    state.Command(kSortDate);
    state.Command(kSortDate);
    settings.WriteSortState(state);
    EXPECT_EQ(store.writes, (std::vector<std::string>{"SortOrder", "SortType"}));
    EXPECT_EQ(Number(store, "SortOrder"), 0u);
    EXPECT_EQ(Number(store, "SortType"), 18u);

    VSSortState next;
    settings.ReadSortState(&next);
    EXPECT_EQ(next.key, kSortDate);
    EXPECT_FALSE(next.ascending);

    // Any non-zero order is ascending; a key outside 17-19 is kept as stored.
    store.WriteNumber(kSettingsKey, "SortOrder", 5);
    store.WriteNumber(kSettingsKey, "SortType", 3);
    settings.ReadSortState(&next);
    EXPECT_TRUE(next.ascending);
    EXPECT_EQ(next.key, 3u);

    settings.WriteAutoRotate(0);
    EXPECT_EQ(settings.ReadAutoRotate(), 0u);
    settings.WriteAutoRotate(1);
    EXPECT_EQ(settings.ReadAutoRotate(), 1u);
    store.WriteText(kSettingsKey, "AutoRotate", "0");
    EXPECT_EQ(settings.ReadAutoRotate(), 1u);
}

TEST(SettingsTest, WriteFailuresAreIgnored) {
    VSMemoryKeyStore store;
    VSSettings settings(store);
    store.failWrites = true;
    VSPlacement p;
    p.x = 5;
    settings.SavePlacement(p);
    settings.SaveFolders("a", "b");
    settings.WriteSortState(VSSortState());
    settings.WriteAutoRotate(0);
    EXPECT_FALSE(store.Has(kSettingsKey, "PositionX"));
    EXPECT_FALSE(store.Has(kSettingsKey, "InitDir"));
    ExpectFrame(settings.LoadPlacement(), 200, 200, 800, 600);
}

// ---------------------------------------------------------------- tracking

TEST(SettingsPlacementTest, MaximisedCloseKeepsThePreviousNormalFrame) {
    VSMemoryKeyStore store;
    VSSettings settings(store);
    VSPlacement start;
    start.x = 100;
    start.y = 120;
    start.width = 640;
    start.height = 480;
    settings.SavePlacement(start);

    // First run: opens normal, gets maximised, is closed maximised.
    VSPlacementTracker run(settings.LoadPlacement());
    EXPECT_FALSE(run.OnSize(false, false, false));
    run.OnMove(true, false, VSRect{-8, -8, 1032, 776});
    EXPECT_FALSE(run.OnSize(true, false, false));
    settings.SavePlacement(run.AtSave(false, true, VSRect{-8, -8, 1032, 776}));
    EXPECT_EQ(Number(store, "Maximizied"), 1u);
    ExpectFrame(settings.LoadPlacement(), 100, 120, 640, 480);

    // Next run: starts maximised; restoring returns to the stored frame.
    VSPlacementTracker next(settings.LoadPlacement());
    EXPECT_TRUE(next.OnSize(true, false, false));
    ExpectFrame(next.Placement(), 100, 120, 640, 480);
    // Restoring moves the window first, while the flag is still set.
    next.OnMove(false, false, VSRect{100, 120, 740, 600});
    EXPECT_TRUE(next.OnSize(false, false, false));
    EXPECT_FALSE(next.Placement().maximised);
    // Closed normal: the frame it has then is saved.
    settings.SavePlacement(next.AtSave(false, false, VSRect{150, 160, 950, 760}));
    EXPECT_EQ(Number(store, "Maximizied"), 0u);
    ExpectFrame(settings.LoadPlacement(), 150, 160, 800, 600);
}

TEST(SettingsPlacementTest, RestoringTakesTheFrameTheWindowComesBackTo) {
    VSPlacement loaded;
    loaded.maximised = true;
    VSPlacementTracker tracker(loaded);
    EXPECT_TRUE(tracker.OnSize(true, false, false));
    // Still shown maximised: a move does not count.
    tracker.OnMove(true, false, VSRect{0, 0, 1024, 768});
    ExpectFrame(tracker.Placement(), 200, 200, 800, 600);
    tracker.OnMove(false, false, VSRect{30, 40, 530, 440});
    ExpectFrame(tracker.Placement(), 30, 40, 500, 400);
    EXPECT_TRUE(tracker.OnSize(false, false, false));
    // Once restored, further moves are taken only at the save.
    tracker.OnMove(false, false, VSRect{60, 70, 560, 470});
    ExpectFrame(tracker.Placement(), 30, 40, 500, 400);
}

TEST(SettingsPlacementTest, MinimisedCloseKeepsTheFrameOfBeforeTheMinimisation) {
    VSPlacement loaded;
    loaded.x = 10;
    loaded.y = 20;
    loaded.width = 900;
    loaded.height = 650;
    VSPlacementTracker tracker(loaded);
    tracker.OnMove(false, false, VSRect{-32000, -32000, -31840, -31969});
    EXPECT_FALSE(tracker.OnSize(false, true, false));
    EXPECT_TRUE(tracker.Placement().minimised);
    const VSPlacement saved = tracker.AtSave(true, false, VSRect{-32000, -32000, -31840, -31969});
    ExpectFrame(saved, 10, 20, 900, 650);
    EXPECT_FALSE(saved.maximised);

    // Minimised out of a maximised window: the frame of before maximising.
    VSPlacement wasMaximised = loaded;
    wasMaximised.maximised = true;
    VSPlacementTracker other(wasMaximised);
    EXPECT_TRUE(other.OnSize(true, false, false));
    EXPECT_TRUE(other.OnSize(false, true, false));
    const VSPlacement savedOther = other.AtSave(true, false, VSRect{-32000, -32000, -31840, -31969});
    ExpectFrame(savedOther, 10, 20, 900, 650);
}

TEST(SettingsPlacementTest, FullScreenKeepsTheFrameOfBefore) {
    VSPlacementTracker normal(VSPlacement{});
    normal.EnterFullScreen(false, VSRect{50, 60, 850, 660});
    ExpectFrame(normal.Placement(), 50, 60, 800, 600);
    // Full screen maximises the window; no restore placement is set then.
    EXPECT_FALSE(normal.OnSize(true, false, true));
    normal.OnMove(false, true, VSRect{0, 0, 1024, 768});
    const VSPlacement saved = normal.AtSave(false, true, VSRect{0, 0, 1024, 768});
    ExpectFrame(saved, 50, 60, 800, 600);

    VSPlacement loaded;
    loaded.x = 5;
    VSPlacementTracker maximised(loaded);
    EXPECT_FALSE(maximised.OnSize(false, false, false));
    maximised.EnterFullScreen(true, VSRect{-8, -8, 1032, 776});
    EXPECT_TRUE(maximised.Placement().maximised);
    ExpectFrame(maximised.Placement(), 5, 200, 800, 600);
}
