// Settings values over a registry tree, and the window placement tracking.
#include "settings_core.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kMyPictures = "C:\\Users\\ann\\Pictures";

uint32_t Number(VSRegTree& tree, const char* name) {
    uint32_t value = 0xDEADBEEF;
    EXPECT_TRUE(tree.ReadNumber(kSettingsKey, name, &value)) << name;
    return value;
}

void ExpectFrame(const VSPlacement& p, int32_t x, int32_t y, int32_t width, int32_t height) {
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.width, width);
    EXPECT_EQ(p.height, height);
}

}  // namespace

TEST(SettingsTest, FirstStartDefaults) {
    VSMemoryRegTree tree;
    VSSettings settings(tree);
    const VSPlacement p = settings.LoadPlacement();
    ExpectFrame(p, 200, 200, 800, 600);
    EXPECT_FALSE(p.maximised);

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

    // Writes that fail are ignored and leave the defaults.
    tree.readOnly = true;
    VSPlacement moved;
    moved.x = 5;
    settings.SavePlacement(moved);
    settings.SaveFolders("a", "b");
    settings.WriteSortState(VSSortState());
    EXPECT_EQ(tree.Dump(), "");
    ExpectFrame(settings.LoadPlacement(), 200, 200, 800, 600);
}

TEST(SettingsTest, PlacementRoundTripWithStoredNumbersUsedUnchanged) {
    VSMemoryRegTree tree;
    VSSettings settings(tree);
    VSPlacement saved;
    saved.x = -1700;  // a monitor left of the primary one, gone or not
    saved.y = 40;
    saved.width = 1024;
    saved.height = 700;
    saved.maximised = true;
    settings.SavePlacement(saved);
    EXPECT_EQ(Number(tree, "PositionX"), 0xFFFFF95Cu);
    EXPECT_EQ(Number(tree, "Maximizied"), 1u);
    const VSPlacement loaded = settings.LoadPlacement();
    ExpectFrame(loaded, -1700, 40, 1024, 700);
    EXPECT_TRUE(loaded.maximised);

    // Written by another program: taken as signed 32-bit numbers.
    tree.WriteNumber(kSettingsKey, "PositionX", 0x80000000u);
    tree.WriteNumber(kSettingsKey, "PositionY", 0x7FFFFFFFu);
    tree.WriteNumber(kSettingsKey, "WndWidth", 0xFFFFFFFFu);
    tree.WriteNumber(kSettingsKey, "WndHeight", 0);
    tree.WriteNumber(kSettingsKey, "Maximizied", 2);
    const VSPlacement odd = settings.LoadPlacement();
    ExpectFrame(odd, -2147483647 - 1, 2147483647, -1, 0);
    EXPECT_TRUE(odd.maximised);

    // A value of the wrong type, or missing, keeps its default alone.
    tree.WriteText(kSettingsKey, "PositionY", "300");
    tree.DeleteValue(kSettingsKey, "WndWidth");
    tree.WriteNumber(kSettingsKey, "Maximizied", 0);
    const VSPlacement partial = settings.LoadPlacement();
    ExpectFrame(partial, -2147483647 - 1, 200, 800, 0);
    EXPECT_FALSE(partial.maximised);
}

TEST(SettingsTest, FoldersFromTheRegistryAndTheirJunk) {
    VSMemoryRegTree tree;
    VSSettings settings(tree);
    settings.SaveFolders("E:\\In", "E:\\Out");
    std::string initDir, saveAsDir;
    settings.LoadFolders(&initDir, &saveAsDir, kMyPictures);
    EXPECT_EQ(initDir, "E:\\In");
    EXPECT_EQ(saveAsDir, "E:\\Out");
    settings.LoadFolders(nullptr, nullptr, kMyPictures);  // either may be left out

    const struct {
        std::string stored;
        std::string read;
    } cases[] = {
        {"", kMyPictures},
        {std::string("D:\\Photos\0junk", 14), "D:\\Photos"},  // a text ends at a zero byte
        {"C:\\" + std::string(257, 'd'), "C:\\" + std::string(256, 'd')},  // 260 bytes: 259 read
        {"C:\\" + std::string(297, 'd'), kMyPictures},  // 300 bytes are not taken whole
    };
    for (const auto& c : cases) {
        tree.WriteText(kSettingsKey, "InitDir", c.stored);
        settings.LoadFolders(&initDir, nullptr, kMyPictures);
        EXPECT_EQ(initDir, c.read) << c.stored.size();
    }
    // A number is no folder.
    tree.WriteNumber(kSettingsKey, "SaveAsDir", 7);
    settings.LoadFolders(nullptr, &saveAsDir, kMyPictures);
    EXPECT_EQ(saveAsDir, kMyPictures);
}

TEST(SettingsTest, SortStateAndAutoRotate) {
    VSMemoryRegTree tree;
    VSSettings settings(tree);
    VSSortState state;
    state.Command(kSortDate);
    state.Command(kSortDate);
    settings.WriteSortState(state);
    EXPECT_EQ(Number(tree, "SortOrder"), 0u);
    EXPECT_EQ(Number(tree, "SortType"), 18u);

    VSSortState next;
    settings.ReadSortState(&next);
    EXPECT_EQ(next.key, kSortDate);
    EXPECT_FALSE(next.ascending);

    // Any non-zero order is ascending; a key outside 17-19 is kept as stored.
    tree.WriteNumber(kSettingsKey, "SortOrder", 5);
    tree.WriteNumber(kSettingsKey, "SortType", 3);
    settings.ReadSortState(&next);
    EXPECT_TRUE(next.ascending);
    EXPECT_EQ(next.key, 3u);

    tree.WriteNumber(kSettingsKey, "AutoRotate", 0);
    EXPECT_EQ(settings.ReadAutoRotate(), 0u);
    tree.WriteText(kSettingsKey, "AutoRotate", "0");
    EXPECT_EQ(settings.ReadAutoRotate(), 1u);
}

// ---------------------------------------------------------------- tracking

TEST(SettingsPlacementTest, MaximisedCloseKeepsThePreviousNormalFrame) {
    VSMemoryRegTree tree;
    VSSettings settings(tree);
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
    EXPECT_EQ(Number(tree, "Maximizied"), 1u);
    ExpectFrame(settings.LoadPlacement(), 100, 120, 640, 480);

    // Next run: starts maximised; restoring returns to the stored frame.
    VSPlacementTracker next(settings.LoadPlacement());
    EXPECT_TRUE(next.OnSize(true, false, false));
    // Still shown maximised: a move does not count.
    next.OnMove(true, false, VSRect{0, 0, 1024, 768});
    ExpectFrame(next.Placement(), 100, 120, 640, 480);
    // Restoring moves the window first, while the flag is still set.
    next.OnMove(false, false, VSRect{30, 40, 530, 440});
    ExpectFrame(next.Placement(), 30, 40, 500, 400);
    EXPECT_TRUE(next.OnSize(false, false, false));
    EXPECT_FALSE(next.Placement().maximised);
    // Once restored, further moves are taken only at the save.
    next.OnMove(false, false, VSRect{60, 70, 560, 470});
    ExpectFrame(next.Placement(), 30, 40, 500, 400);
    settings.SavePlacement(next.AtSave(false, false, VSRect{150, 160, 950, 760}));
    EXPECT_EQ(Number(tree, "Maximizied"), 0u);
    ExpectFrame(settings.LoadPlacement(), 150, 160, 800, 600);
}

TEST(SettingsPlacementTest, MinimisedCloseKeepsTheFrameOfBeforeTheMinimisation) {
    const VSRect iconic{-32000, -32000, -31840, -31969};
    VSPlacement loaded;
    loaded.x = 10;
    loaded.y = 20;
    loaded.width = 900;
    loaded.height = 650;
    VSPlacementTracker tracker(loaded);
    tracker.OnMove(false, false, iconic);
    EXPECT_FALSE(tracker.OnSize(false, true, false));
    EXPECT_TRUE(tracker.Placement().minimised);
    const VSPlacement saved = tracker.AtSave(true, false, iconic);
    ExpectFrame(saved, 10, 20, 900, 650);
    EXPECT_FALSE(saved.maximised);

    // Minimised out of a maximised window: the frame of before maximising.
    loaded.maximised = true;
    VSPlacementTracker other(loaded);
    EXPECT_TRUE(other.OnSize(true, false, false));
    EXPECT_TRUE(other.OnSize(false, true, false));
    ExpectFrame(other.AtSave(true, false, iconic), 10, 20, 900, 650);
}

TEST(SettingsPlacementTest, FullScreenKeepsTheFrameOfBefore) {
    VSPlacementTracker normal(VSPlacement{});
    normal.EnterFullScreen(false, VSRect{50, 60, 850, 660});
    ExpectFrame(normal.Placement(), 50, 60, 800, 600);
    // Full screen maximises the window; no restore placement is set then.
    EXPECT_FALSE(normal.OnSize(true, false, true));
    normal.OnMove(false, true, VSRect{0, 0, 1024, 768});
    ExpectFrame(normal.AtSave(false, true, VSRect{0, 0, 1024, 768}), 50, 60, 800, 600);

    VSPlacement loaded;
    loaded.x = 5;
    VSPlacementTracker maximised(loaded);
    EXPECT_FALSE(maximised.OnSize(false, false, false));
    maximised.EnterFullScreen(true, VSRect{-8, -8, 1032, 776});
    EXPECT_TRUE(maximised.Placement().maximised);
    ExpectFrame(maximised.Placement(), 5, 200, 800, 600);
}
