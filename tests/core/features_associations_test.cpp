// The settings dialog's associations and settings over a registry in memory.
#include "associations.h"
#include "settings_core.h"

#include <gtest/gtest.h>

namespace {

const char kProgram[] = "C:\\Program Files\\Vistrel\\vistrel.exe";
const std::string kClasses = "Software\\Classes\\";

std::string Text(VSRegTree& tree, const std::string& key, const char* name = "") {
    std::string text = "<missing>";
    tree.ReadText(key, name, &text);
    return text;
}

TEST(FeaturesAssociations, AssociateAndDisassociateTouchOnlyTheViewersOwnExtensions) {
    VSMemoryRegTree tree;
    Associate(tree, ".png", kProgram);
    EXPECT_EQ(Text(tree, kClasses + ".png"), "VSViewer.png");
    EXPECT_EQ(Text(tree, kClasses + "VSViewer.png\\shell\\open\\command"),
              "\"C:\\Program Files\\Vistrel\\vistrel.exe\" \"%1\"");
    EXPECT_EQ(Text(tree, kClasses + "VSViewer.png\\DefaultIcon"), "C:\\Program Files\\Vistrel\\vistrel.exe,0");
    EXPECT_EQ(Text(tree, std::string(kFileExtsKey) + ".png", "Progid"), "VSViewer.png");

    tree.WriteText(kClasses + ".bmp", "", "Paint.Picture");
    tree.WriteText(std::string(kFileExtsKey) + ".bmp", "Progid", "Paint.Picture");
    for (const char* ext : {".png", ".bmp", ".pcx"}) Disassociate(tree, ext);
    EXPECT_EQ(Text(tree, kClasses + ".png"), "");
    // Written as "Progid", removed as "ProgID": the registry ignores case.
    EXPECT_EQ(Text(tree, std::string(kFileExtsKey) + ".png", "Progid"), "<missing>");
    // The class itself stays for a later association.
    EXPECT_TRUE(tree.KeyExists(kClasses + "VSViewer.png\\shell\\open\\command"));
    EXPECT_EQ(Text(tree, kClasses + ".bmp"), "Paint.Picture");
    EXPECT_EQ(Text(tree, std::string(kFileExtsKey) + ".bmp", "Progid"), "Paint.Picture");
    EXPECT_FALSE(tree.KeyExists(kClasses + ".pcx"));  // never associated: nothing is created
}

TEST(FeaturesAssociations, ApplyAssociatesAndDisassociatesByBitAndSaves) {
    VSMemoryRegTree tree;
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
    EXPECT_EQ(loaded.extensions, 0x40u);
    EXPECT_EQ(loaded.autoRotate, 0u);

    // A read-only registry changes nothing and does not fail.
    const std::string before = tree.Dump();
    tree.readOnly = true;
    state.extensions = 0x02;
    ApplyAssociationState(tree, state, kProgram);
    EXPECT_EQ(tree.Dump(), before);
}

TEST(FeaturesAssociations, LoadDetectsTypesTakenByAnotherProgram) {
    VSMemoryRegTree tree;
    EXPECT_EQ(LoadAssociationState(tree).autoRotate, 1u);
    // With nothing associated no detection runs, whoever owns the types.
    tree.WriteText(kClasses + ".jpg", "", "Other.jpg");
    EXPECT_EQ(LoadAssociationState(tree).extensions, 0u);

    tree.WriteNumber(kSettingsKey, "Extension", 0x01 | 0x02 | 0x20 | 0x40);
    tree.WriteText(kClasses + ".jpg", "", "VSViewer.jpg");
    tree.WriteText(kClasses + ".bmp", "", "Paint.Picture");
    tree.WriteText(kClasses + ".png", "", "");  // emptied: still ours
    tree.WriteText(kClasses + ".tga", "", "vsviewer.tga");  // the comparison keeps case
    EXPECT_EQ(LoadAssociationState(tree).extensions, 0x01u | 0x20u);
}

TEST(FeaturesAssociations, ToggleFlipsOnlyTheTypeAtAValidPosition) {
    VSAssociationState state;
    EXPECT_TRUE(ToggleType(&state, 5));
    EXPECT_TRUE(ToggleType(&state, 2));
    EXPECT_FALSE(ToggleType(&state, 5));
    EXPECT_FALSE(ToggleType(&state, -1));
    EXPECT_FALSE(ToggleType(&state, 6));
    EXPECT_EQ(state.extensions, 0x08u);
    // Every type on: bit 0x04 belongs to none of them.
    VSAssociationState all;
    for (int32_t i = 0; i < 6; ++i) ToggleType(&all, i);
    EXPECT_EQ(all.extensions, 0x7Bu);
    EXPECT_TRUE(TypeChecked(all, 0) && !TypeChecked(all, 6) && !TypeChecked(all, -1));
}

}  // namespace
