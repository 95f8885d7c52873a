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

// "x y width height", and " max" when maximised.
std::string Frame(const VSPlacement& p) {
    return std::to_string(p.x) + " " + std::to_string(p.y) + " " + std::to_string(p.width) + " " +
           std::to_string(p.height) + (p.maximised ? " max" : "");
}

VSPlacement Placed(int32_t x, int32_t y, int32_t width, int32_t height, bool maximised = false) {
    VSPlacement p;
    p.x = x, p.y = y, p.width = width, p.height = height, p.maximised = maximised;
    return p;
}

}  // namespace

TEST(SettingsTest, DefaultsSortStateAutoRotateAndIgnoredWriteFailures) {
    VSMemoryRegTree tree;
    VSSettings settings(tree);
    EXPECT_EQ(Frame(settings.LoadPlacement()), "200 200 800 600");
    std::string initDir = "stale", saveAsDir = "stale";
    settings.LoadFolders(&initDir, &saveAsDir, kMyPictures);
    EXPECT_EQ(initDir, kMyPictures);
    EXPECT_EQ(saveAsDir, kMyPictures);
    EXPECT_EQ(settings.ReadAutoRotate(), 1u);
    VSSortState state;
    state.key = 19, state.ascending = false;
    settings.ReadSortState(&state);
    EXPECT_TRUE(state.key == kSortName && state.ascending);

    // Any non-zero order is ascending; a key outside 17-19 reads as the name.
    state.Command(kSortDate);
    state.Command(kSortDate);
    settings.WriteSortState(state);
    EXPECT_EQ(Number(tree, "SortOrder"), 0u);
    settings.ReadSortState(&state);
    EXPECT_TRUE(state.key == kSortDate && !state.ascending);
    tree.WriteNumber(kSettingsKey, "SortOrder", 5);
    tree.WriteNumber(kSettingsKey, "SortType", 5);
    settings.ReadSortState(&state);
    EXPECT_TRUE(state.key == kSortName && state.ascending);
    tree.WriteNumber(kSettingsKey, "AutoRotate", 0);
    EXPECT_EQ(settings.ReadAutoRotate(), 0u);
    tree.WriteText(kSettingsKey, "AutoRotate", "0");  // of the wrong type
    EXPECT_EQ(settings.ReadAutoRotate(), 1u);

    const std::string before = tree.Dump();
    tree.readOnly = true;
    settings.SavePlacement(Placed(5, 5, 5, 5));
    settings.SaveFolders("a", "b");
    settings.WriteSortState(VSSortState());
    EXPECT_EQ(tree.Dump(), before);
}

TEST(SettingsTest, PlacementRoundTripWithStoredNumbersUsedUnchanged) {
    VSMemoryRegTree tree;
    VSSettings settings(tree);
    settings.SavePlacement(Placed(-1700, 40, 1024, 700, true));  // a monitor left of the primary one
    EXPECT_EQ(Number(tree, "PositionX"), 0xFFFFF95Cu);
    EXPECT_EQ(Frame(settings.LoadPlacement()), "-1700 40 1024 700 max");

    // Written by another program: taken as signed 32-bit numbers.
    tree.WriteNumber(kSettingsKey, "PositionX", 0x80000000u);
    tree.WriteNumber(kSettingsKey, "PositionY", 0x7FFFFFFFu);
    tree.WriteNumber(kSettingsKey, "WndWidth", 0xFFFFFFFFu);
    tree.WriteNumber(kSettingsKey, "WndHeight", 0);
    tree.WriteNumber(kSettingsKey, "Maximizied", 2);
    EXPECT_EQ(Frame(settings.LoadPlacement()), "-2147483648 2147483647 -1 0 max");

    // A value of the wrong type, or missing, keeps its default alone.
    tree.WriteText(kSettingsKey, "PositionY", "300");
    tree.DeleteValue(kSettingsKey, "WndWidth");
    tree.WriteNumber(kSettingsKey, "Maximizied", 0);
    EXPECT_EQ(Frame(settings.LoadPlacement()), "-2147483648 200 800 0");
}

TEST(SettingsTest, FoldersFromTheRegistryAndTheirJunk) {
    VSMemoryRegTree tree;
    VSSettings settings(tree);
    settings.SaveFolders("E:\\In", "E:\\Out");
    std::string initDir, saveAsDir;
    settings.LoadFolders(&initDir, &saveAsDir, kMyPictures);
    EXPECT_EQ(initDir + saveAsDir, "E:\\InE:\\Out");
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
    tree.WriteNumber(kSettingsKey, "SaveAsDir", 7);  // a number is no folder
    settings.LoadFolders(nullptr, &saveAsDir, kMyPictures);
    EXPECT_EQ(saveAsDir, kMyPictures);
}

TEST(SettingsPlacementTest, MaximisedCloseKeepsThePreviousNormalFrame) {
    VSMemoryRegTree tree;
    VSSettings settings(tree);
    settings.SavePlacement(Placed(100, 120, 640, 480));

    // First run: opens normal, gets maximised, is closed maximised.
    VSPlacementTracker run(settings.LoadPlacement());
    EXPECT_FALSE(run.OnSize(false, false, false));
    run.OnMove(true, false, VSRect{-8, -8, 1032, 776});
    EXPECT_FALSE(run.OnSize(true, false, false));
    settings.SavePlacement(run.AtSave(false, true, VSRect{-8, -8, 1032, 776}));
    EXPECT_EQ(Frame(settings.LoadPlacement()), "100 120 640 480 max");

    // Next run: starts maximised; restoring returns to the stored frame.
    VSPlacementTracker next(settings.LoadPlacement());
    EXPECT_TRUE(next.OnSize(true, false, false));
    next.OnMove(true, false, VSRect{0, 0, 1024, 768});  // still shown maximised: not counted
    EXPECT_EQ(Frame(next.Placement()), "100 120 640 480 max");
    // Restoring moves the window first, while the flag is still set.
    next.OnMove(false, false, VSRect{30, 40, 530, 440});
    EXPECT_TRUE(next.OnSize(false, false, false));
    EXPECT_EQ(Frame(next.Placement()), "30 40 500 400");
    // Once restored, further moves are taken only at the save.
    next.OnMove(false, false, VSRect{60, 70, 560, 470});
    EXPECT_EQ(Frame(next.Placement()), "30 40 500 400");
    settings.SavePlacement(next.AtSave(false, false, VSRect{150, 160, 950, 760}));
    EXPECT_EQ(Frame(settings.LoadPlacement()), "150 160 800 600");
}

TEST(SettingsPlacementTest, MinimisedOrFullScreenCloseKeepsTheFrameOfBefore) {
    const VSRect iconic{-32000, -32000, -31840, -31969};
    VSPlacementTracker tracker(Placed(10, 20, 900, 650));
    tracker.OnMove(false, false, iconic);
    EXPECT_FALSE(tracker.OnSize(false, true, false));
    EXPECT_TRUE(tracker.Placement().minimised);
    EXPECT_EQ(Frame(tracker.AtSave(true, false, iconic)), "10 20 900 650");
    // Minimised out of a maximised window: the frame of before maximising.
    VSPlacementTracker other(Placed(10, 20, 900, 650, true));
    EXPECT_TRUE(other.OnSize(true, false, false));
    EXPECT_TRUE(other.OnSize(false, true, false));
    EXPECT_EQ(Frame(other.AtSave(true, false, iconic)), "10 20 900 650");

    // Full screen keeps the frame of before.
    VSPlacementTracker normal(VSPlacement{});
    normal.EnterFullScreen(false, VSRect{50, 60, 850, 660});
    // Full screen maximises the window; no restore placement is set then.
    EXPECT_FALSE(normal.OnSize(true, false, true));
    normal.OnMove(false, true, VSRect{0, 0, 1024, 768});
    EXPECT_EQ(Frame(normal.AtSave(false, true, VSRect{0, 0, 1024, 768})), "50 60 800 600 max");

    VSPlacementTracker maximised(Placed(5, 200, 800, 600));
    EXPECT_FALSE(maximised.OnSize(false, false, false));
    maximised.EnterFullScreen(true, VSRect{-8, -8, 1032, 776});
    EXPECT_EQ(Frame(maximised.Placement()), "5 200 800 600 max");
}
