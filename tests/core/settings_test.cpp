// Settings values over a registry tree, the window placement tracking, the settings dialog's associations and copying
// an older version's settings once.
#include "features/associations.h"
#include "features/migration.h"
#include "app/settings_core.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kMyPictures = "C:\\Users\\ann\\Pictures";
const char kProgram[] = "C:\\Program Files\\Vistrel\\vistrel.exe";
const std::string kClasses = "Software\\Classes\\", kExts = kFileExtsKey;
const std::string k12 = "Software\\Orvanta\\Vistrel Viewer\\1.2", k10 = "Software\\Orvanta\\Vistrel Viewer\\1.0";

uint32_t Number(VSRegTree& tree, const char* name, const std::string& key = kSettingsKey) {
    uint32_t value = 0xDEAD;
    tree.ReadNumber(key, name, &value);
    return value;
}
std::string Text(VSRegTree& tree, const std::string& key, const char* name = "") {
    std::string text = "<missing>";
    tree.ReadText(key, name, &text);
    return text;
}

// "x y width height", and " max" when maximised.
std::string Frame(const VSPlacement& p) {
    return std::to_string(p.x) + " " + std::to_string(p.y) + " " + std::to_string(p.width) + " " +
           std::to_string(p.height) + (p.maximised ? " max" : "");
}

struct SettingsTest : ::testing::Test {
    VSMemoryRegTree tree;
    VSSettings settings{tree};
};

}  // namespace

TEST_F(SettingsTest, DefaultsSortStateAutoRotateAndFoldersWithTheirJunk) {
    EXPECT_EQ(Frame(settings.LoadPlacement()), "200 200 960 600");
    std::string initDir = "stale", saveAsDir = "stale";
    settings.LoadFolders(&initDir, &saveAsDir, kMyPictures);
    EXPECT_EQ(initDir + saveAsDir, kMyPictures + kMyPictures);
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
    tree.WriteNumber(kSettingsKey, "SortOrder", 5), tree.WriteNumber(kSettingsKey, "SortType", 5);
    settings.ReadSortState(&state);
    EXPECT_TRUE(state.key == kSortName && state.ascending);
    tree.WriteNumber(kSettingsKey, "AutoRotate", 0);
    EXPECT_EQ(settings.ReadAutoRotate(), 0u);
    tree.WriteText(kSettingsKey, "AutoRotate", "0");  // of the wrong type
    EXPECT_EQ(settings.ReadAutoRotate(), 1u);
    // Folders saved, and what of a stored one is taken.
    settings.SaveFolders("E:\\In", "E:\\Out");
    settings.LoadFolders(&initDir, &saveAsDir, kMyPictures);
    EXPECT_EQ(initDir + saveAsDir, "E:\\InE:\\Out");
    settings.LoadFolders(nullptr, nullptr, kMyPictures);  // either may be left out
    const struct { std::string stored; std::string read; } cases[] = {
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
}

TEST_F(SettingsTest, PlacementRoundTripWithStoredNumbersUsedUnchanged) {
    settings.SavePlacement(VSPlacement{-1700, 40, 1024, 700, true});  // a monitor left of the primary one
    EXPECT_EQ(Number(tree, "PositionX"), 0xFFFFF95Cu);
    EXPECT_EQ(Frame(settings.LoadPlacement()), "-1700 40 1024 700 max");
    // Written by another program: taken as signed 32-bit numbers.
    for (const auto& [name, value] : {std::pair<const char*, uint32_t>{"PositionX", 0x80000000u}, {"PositionY", 0x7FFFFFFFu},
                                      {"WndWidth", 0xFFFFFFFFu}, {"WndHeight", 0}, {"Maximizied", 2}})
        tree.WriteNumber(kSettingsKey, name, value);
    EXPECT_EQ(Frame(settings.LoadPlacement()), "-2147483648 2147483647 -1 0 max");
    // A value of the wrong type, or missing, keeps its default alone.
    tree.WriteText(kSettingsKey, "PositionY", "300");
    tree.DeleteValue(kSettingsKey, "WndWidth");
    tree.WriteNumber(kSettingsKey, "Maximizied", 0);
    EXPECT_EQ(Frame(settings.LoadPlacement()), "-2147483648 200 960 0");
}

TEST_F(SettingsTest, MaximisedMinimisedOrFullScreenCloseKeepsThePreviousNormalFrame) {
    settings.SavePlacement(VSPlacement{100, 120, 640, 480});
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
    // A minimised close keeps the frame of before.
    const VSRect iconic{-32000, -32000, -31840, -31969};
    VSPlacementTracker tracker(VSPlacement{10, 20, 900, 650});
    tracker.OnMove(false, false, iconic);
    EXPECT_FALSE(tracker.OnSize(false, true, false));
    EXPECT_TRUE(tracker.Placement().minimised);
    EXPECT_EQ(Frame(tracker.AtSave(true, false, iconic)), "10 20 900 650");
    VSPlacementTracker normal(VSPlacement{});
    normal.EnterFullScreen(false, VSRect{50, 60, 850, 660});
    // Full screen maximises the window; that is not the state to keep.
    EXPECT_FALSE(normal.OnSize(true, false, true));
    normal.OnMove(false, true, VSRect{0, 0, 1024, 768});
    EXPECT_EQ(Frame(normal.Placement()), "50 60 800 600");
    VSPlacementTracker maximised(VSPlacement{5, 200, 800, 600});
    EXPECT_FALSE(maximised.OnSize(false, false, false));
    maximised.EnterFullScreen(true, VSRect{-8, -8, 1032, 776});
    EXPECT_EQ(Frame(maximised.Placement()), "5 200 800 600 max");
}

TEST(FeaturesAssociations, AssociateAndDisassociateTouchOnlyTheViewersOwnExtensions) {
    VSMemoryRegTree tree;
    Associate(tree, ".png", kProgram);
    EXPECT_EQ(Text(tree, kClasses + "VSViewer.png\\shell\\open\\command"),
              "\"C:\\Program Files\\Vistrel\\vistrel.exe\" \"%1\"");
    EXPECT_EQ(Text(tree, kClasses + "VSViewer.png\\DefaultIcon"), "C:\\Program Files\\Vistrel\\vistrel.exe,0");
    EXPECT_EQ(Text(tree, kExts + ".png", "Progid"), "VSViewer.png");
    // Types owned by others or never associated are left alone (see below).
    Disassociate(tree, ".png");
    // Written as "Progid", removed as "ProgID": the registry ignores case.
    EXPECT_EQ(Text(tree, kExts + ".png", "Progid"), "<missing>");
    // The class itself stays for a later association.
    EXPECT_TRUE(tree.KeyExists(kClasses + "VSViewer.png\\shell\\open\\command"));
}

TEST(FeaturesAssociations, ApplyByBitSavesLoadDetectsTypesTakenSinceAndToggleFlipsOnlyAValidPosition) {
    VSMemoryRegTree tree;
    EXPECT_EQ(LoadAssociationState(tree).autoRotate, 1u);
    const std::vector<std::string> jpeg = {".jpg", ".jpeg", ".jpe", ".jfif", ".jif"};
    for (const auto& ext : jpeg) Associate(tree, ext, kProgram);
    tree.WriteText(kClasses + ".jpe", "", "Other.jpe");  // taken over since
    VSAssociationState state;
    state.extensions = 0x40;  // TGA only
    state.autoRotate = 0;
    ApplyAssociationState(tree, state, kProgram);
    for (const auto& ext : jpeg) EXPECT_EQ(Text(tree, kClasses + ext), ext == ".jpe" ? "Other.jpe" : "") << ext;
    EXPECT_EQ(Text(tree, kClasses + ".tga"), "VSViewer.tga");
    EXPECT_FALSE(tree.KeyExists(kClasses + ".bmp"));  // never associated: not written
    const VSAssociationState loaded = LoadAssociationState(tree);
    EXPECT_TRUE(loaded.extensions == 0x40u && loaded.autoRotate == 0u);
    // With nothing associated no detection runs, whoever owns the types.
    VSMemoryRegTree other;
    other.WriteText(kClasses + ".jpg", "", "Other.jpg");
    EXPECT_EQ(LoadAssociationState(other).extensions, 0u);
    other.WriteNumber(kSettingsKey, "Extension", 0x01 | 0x02 | 0x20 | 0x40);
    other.WriteText(kClasses + ".jpg", "", "VSViewer.jpg");
    other.WriteText(kClasses + ".bmp", "", "Paint.Picture");
    other.WriteText(kClasses + ".png", "", "");  // emptied: still ours
    other.WriteText(kClasses + ".tga", "", "vsviewer.tga");  // the comparison keeps case
    EXPECT_EQ(LoadAssociationState(other).extensions, 0x01u | 0x20u);
    // Toggling flips only the type at a valid position.
    VSAssociationState toggled;
    EXPECT_TRUE(ToggleType(&toggled, 5));
    EXPECT_TRUE(ToggleType(&toggled, 2));
    EXPECT_FALSE(ToggleType(&toggled, 5));
    EXPECT_FALSE(ToggleType(&toggled, -1) || ToggleType(&toggled, 6));
    EXPECT_EQ(toggled.extensions, 0x08u);
    // Every type on: bit 0x04 belongs to none of them.
    VSAssociationState all;
    for (int32_t i = 0; i < 6; ++i) ToggleType(&all, i);
    EXPECT_EQ(all.extensions, 0x7Bu);
    EXPECT_TRUE(TypeChecked(all, 0) && !TypeChecked(all, 6) && !TypeChecked(all, -1));
}

TEST(FeaturesMigration, CopiesTheNewestOlderTreeOnceMarksItAndSkipsWhatCannotBeCopiedSafely) {
    VSMemoryRegTree tree;
    EXPECT_DOUBLE_EQ(FindOldVersion(tree, kVendorKey), -1.0);
    EXPECT_FALSE(MigrateOldSettings(tree));
    EXPECT_EQ(tree.Dump(), "");

    tree.WriteNumber(k12, "PositionX", 333);
    tree.CreateKey(k12 + "\\Recent\\Deep");
    tree.WriteValue(k12 + "\\Recent\\Deep", "Blob", kRegBinary, std::vector<uint8_t>(16, 7));
    tree.WriteNumber(k10, "PositionY", 111);
    tree.WriteNumber(kSettingsKey, "PositionX", 5);  // overwritten by the copy
    EXPECT_DOUBLE_EQ(FindOldVersion(tree, kVendorKey), 1.2);
    EXPECT_TRUE(MigrateOldSettings(tree));
    EXPECT_EQ(Number(tree, "PositionX"), 333u);
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(tree.ReadValue(std::string(kSettingsKey) + "\\Recent\\Deep", "Blob", 512, &type, &data));
    EXPECT_EQ(type, static_cast<uint32_t>(kRegBinary));
    EXPECT_EQ(data, std::vector<uint8_t>(16, 7));
    // Only 1.2 was copied and marked.
    EXPECT_EQ(Number(tree, "PositionY"), 0xDEADu);
    EXPECT_TRUE(IsCopied(tree, k12) && !IsCopied(tree, k10));
    // A second start finds the mark: the user's newer values survive.
    tree.WriteNumber(kSettingsKey, "PositionX", 42);
    EXPECT_FALSE(MigrateOldSettings(tree));
    EXPECT_EQ(Number(tree, "PositionX"), 42u);
    // A mark that is not 1 does not count.
    tree.WriteNumber(k12, "OLD Reg Copied", 0);
    EXPECT_TRUE(MigrateOldSettings(tree));
    EXPECT_EQ(Number(tree, "PositionX"), 333u);
    // 1.0 when it is the only older key.
    VSMemoryRegTree old;
    old.WriteText(k10, "SaveAsDir", "D:\\Out");
    EXPECT_TRUE(MigrateOldSettings(old));
    EXPECT_EQ(Text(old, kSettingsKey, "SaveAsDir"), "D:\\Out");
    // What cannot be copied safely is skipped.
    VSMemoryRegTree source;
    EXPECT_FALSE(Migrate(source, k12, kSettingsKey));  // no source
    EXPECT_FALSE(source.KeyExists(kSettingsKey));
    source.WriteNumber(k12, "First", 1);
    source.WriteValue(k12, "Huge", kRegBinary, std::vector<uint8_t>(513, 1));
    source.WriteNumber(k12, "AfterHuge", 3);
    source.CreateKey(k12 + "\\Sub");
    source.WriteValue(k12 + "\\Sub", "Edge", kRegBinary, std::vector<uint8_t>(512, 2));
    source.WriteNumber(k12 + "\\" + std::string(257, 'k'), "Long", 1);
    for (uint32_t i = 0; i < 3; ++i) source.WriteNumber(k10, std::string(1, char('A' + i)), i + 1);
    // A destination inside the source would grow while it is copied.
    EXPECT_FALSE(Migrate(source, k12, k12 + "\\Copy"));
    EXPECT_FALSE(source.KeyExists(k12 + "\\Copy"));
    // An oversized value ends that key's values, but not its subkeys.
    EXPECT_TRUE(Migrate(source, k12, kSettingsKey));
    EXPECT_EQ(Number(source, "First") * 100000 + Number(source, "AfterHuge"), 100000u + 0xDEADu);
    EXPECT_FALSE(source.ReadValue(kSettingsKey, "Huge", 4096, &type, &data));
    ASSERT_TRUE(source.ReadValue(std::string(kSettingsKey) + "\\Sub", "Edge", 4096, &type, &data));
    EXPECT_EQ(data.size(), 512u);
    EXPECT_FALSE(source.KeyExists(std::string(kSettingsKey) + "\\" + std::string(257, 'k')));
    // An enumeration error skips only its index.
    source.failValueIndex = 1;
    EXPECT_TRUE(Migrate(source, k10, "Software\\Copy"));
    EXPECT_EQ(Number(source, "A", "Software\\Copy") + Number(source, "C", "Software\\Copy"), 4u);
    EXPECT_EQ(Number(source, "B", "Software\\Copy"), 0xDEADu);
}
