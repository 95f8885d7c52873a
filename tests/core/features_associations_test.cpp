// The settings dialog's associations and settings over a registry in memory.
#include "associations.h"
#include "settings_core.h"

#include <gtest/gtest.h>

namespace {

const char kProgram[] = "C:\\Program Files\\Vistrel\\vistrel.exe";

std::string Default(VSRegTree& tree, const std::string& key) {
    std::string text = "<missing>";
    tree.ReadText(key, "", &text);
    return text;
}

TEST(FeaturesAssociations, AssociateWritesTheFourValuesOfOneExtension) {
    VSMemoryRegTree tree;
    Associate(tree, ".tga", kProgram);
    EXPECT_EQ(Default(tree, "Software\\Classes\\.tga"), "VSViewer.tga");
    EXPECT_EQ(Default(tree, "Software\\Classes\\VSViewer.tga\\shell\\open\\command"),
              "\"C:\\Program Files\\Vistrel\\vistrel.exe\" \"%1\"");
    EXPECT_EQ(Default(tree, "Software\\Classes\\VSViewer.tga\\DefaultIcon"),
              "C:\\Program Files\\Vistrel\\vistrel.exe,0");
    std::string progid;
    ASSERT_TRUE(
        tree.ReadText("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.tga", "Progid", &progid));
    EXPECT_EQ(progid, "VSViewer.tga");
}

TEST(FeaturesAssociations, DisassociateTouchesOnlyTheViewersOwnExtensions) {
    VSMemoryRegTree tree;
    Associate(tree, ".png", kProgram);
    tree.WriteText("Software\\Classes\\.bmp", "", "Paint.Picture");
    tree.WriteText(std::string(kFileExtsKey) + ".bmp", "Progid", "Paint.Picture");

    Disassociate(tree, ".png");
    Disassociate(tree, ".bmp");
    Disassociate(tree, ".pcx");  // never associated: nothing is created

    EXPECT_EQ(Default(tree, "Software\\Classes\\.png"), "");
    std::string progid;
    // Written as "Progid", removed as "ProgID": the registry ignores case.
    EXPECT_FALSE(tree.ReadText(std::string(kFileExtsKey) + ".png", "Progid", &progid));
    // The class itself stays for a later association.
    EXPECT_TRUE(tree.KeyExists("Software\\Classes\\VSViewer.png\\shell\\open\\command"));
    EXPECT_EQ(Default(tree, "Software\\Classes\\.bmp"), "Paint.Picture");
    EXPECT_TRUE(tree.ReadText(std::string(kFileExtsKey) + ".bmp", "Progid", &progid));
    EXPECT_EQ(progid, "Paint.Picture");
    EXPECT_FALSE(tree.KeyExists("Software\\Classes\\.pcx"));
}

TEST(FeaturesAssociations, ApplyAssociatesAndDisassociatesByBitAndSaves) {
    VSMemoryRegTree tree;
    const std::vector<std::string> jpeg = {".jpg", ".jpeg", ".jpe", ".jfif", ".jif"};
    for (const auto& ext : jpeg) Associate(tree, ext, kProgram);
    tree.WriteText("Software\\Classes\\.jpe", "", "Other.jpe");  // taken over since

    VSAssociationState state;
    state.extensions = 0x40;  // TGA only
    state.autoRotate = 0;
    ApplyAssociationState(tree, state, kProgram);

    for (const auto& ext : jpeg) {
        if (ext == ".jpe") EXPECT_EQ(Default(tree, "Software\\Classes\\.jpe"), "Other.jpe");
        else EXPECT_EQ(Default(tree, "Software\\Classes\\" + ext), "") << ext;
    }
    EXPECT_EQ(Default(tree, "Software\\Classes\\.tga"), "VSViewer.tga");
    // Types that were never associated are not written at all.
    EXPECT_FALSE(tree.KeyExists("Software\\Classes\\.bmp"));
    uint32_t value = 99;
    ASSERT_TRUE(tree.ReadNumber(kSettingsKey, "Extension", &value));
    EXPECT_EQ(value, 0x40u);
    ASSERT_TRUE(tree.ReadNumber(kSettingsKey, "AutoRotate", &value));
    EXPECT_EQ(value, 0u);
}

TEST(FeaturesAssociations, LoadDetectsTypesTakenByAnotherProgram) {
    VSMemoryRegTree empty;
    VSAssociationState fresh = LoadAssociationState(empty);
    EXPECT_EQ(fresh.extensions, 0u);
    EXPECT_EQ(fresh.autoRotate, 1u);

    VSMemoryRegTree tree;
    tree.WriteNumber(kSettingsKey, "Extension", 0x01 | 0x02 | 0x20 | 0x40);
    tree.WriteNumber(kSettingsKey, "AutoRotate", 0);
    tree.WriteText("Software\\Classes\\.jpg", "", "VSViewer.jpg");
    tree.WriteText("Software\\Classes\\.bmp", "", "Paint.Picture");
    tree.WriteText("Software\\Classes\\.png", "", "");  // emptied: still ours
    tree.WriteText("Software\\Classes\\.tga", "", "vsviewer.tga");  // the comparison keeps case
    VSAssociationState state = LoadAssociationState(tree);
    EXPECT_EQ(state.extensions, 0x01u | 0x20u);
    EXPECT_EQ(state.autoRotate, 0u);

    // With nothing associated no detection runs, whoever owns the types.
    VSMemoryRegTree other;
    other.WriteText("Software\\Classes\\.jpg", "", "Other.jpg");
    EXPECT_EQ(LoadAssociationState(other).extensions, 0u);
}

TEST(FeaturesAssociations, ToggleFlipsOnlyTheTypeAtAValidPosition) {
    VSAssociationState state;
    EXPECT_TRUE(ToggleType(&state, 5));
    EXPECT_EQ(state.extensions, 0x40u);
    EXPECT_TRUE(ToggleType(&state, 2));
    EXPECT_EQ(state.extensions, 0x48u);
    EXPECT_FALSE(ToggleType(&state, 5));
    EXPECT_EQ(state.extensions, 0x08u);
    EXPECT_FALSE(ToggleType(&state, -1));
    EXPECT_FALSE(ToggleType(&state, 6));
    EXPECT_EQ(state.extensions, 0x08u);
    // Every type on: bit 0x04 belongs to none of them.
    VSAssociationState all;
    for (int32_t i = 0; i < 6; ++i) ToggleType(&all, i);
    EXPECT_EQ(all.extensions, 0x7Bu);
}

TEST(FeaturesAssociations, AReadOnlyRegistryChangesNothingAndDoesNotFail) {
    VSMemoryRegTree tree;
    Associate(tree, ".png", kProgram);
    const std::string before = tree.Dump();
    tree.readOnly = true;
    VSAssociationState state;
    state.extensions = 0x40;
    ApplyAssociationState(tree, state, kProgram);
    EXPECT_EQ(tree.Dump(), before);
}

}  // namespace
