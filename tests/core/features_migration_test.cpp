// Copying an older version's settings once.
#include "migration.h"
#include "settings_core.h"

#include <gtest/gtest.h>

namespace {

const char k12[] = "Software\\Orvanta\\Vistrel Viewer\\1.2";
const char k10[] = "Software\\Orvanta\\Vistrel Viewer\\1.0";

std::vector<uint8_t> Blob(size_t n, uint8_t fill) { return std::vector<uint8_t>(n, fill); }

TEST(FeaturesMigration, CopiesTheNewestOlderTreeOnceAndMarksIt) {
    VSMemoryRegTree tree;
    tree.WriteNumber(k12, "PositionX", 333);
    tree.WriteText(k12, "InitDir", "C:\\Pictures");
    tree.CreateKey(std::string(k12) + "\\Recent\\Deep");
    tree.WriteValue(std::string(k12) + "\\Recent\\Deep", "Blob", kRegBinary, Blob(16, 7));
    tree.WriteNumber(k10, "PositionY", 111);
    tree.WriteNumber(kSettingsKey, "PositionX", 5);  // overwritten by the copy

    EXPECT_DOUBLE_EQ(FindOldVersion(tree, kVendorKey), 1.2);
    EXPECT_TRUE(MigrateOldSettings(tree));

    uint32_t n = 0;
    ASSERT_TRUE(tree.ReadNumber(kSettingsKey, "PositionX", &n));
    EXPECT_EQ(n, 333u);
    std::string text;
    ASSERT_TRUE(tree.ReadText(kSettingsKey, "InitDir", &text));
    EXPECT_EQ(text, "C:\\Pictures");
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(tree.ReadValue(std::string(kSettingsKey) + "\\Recent\\Deep", "Blob", 512, &type, &data));
    EXPECT_EQ(type, static_cast<uint32_t>(kRegBinary));
    EXPECT_EQ(data, Blob(16, 7));
    // Only 1.2 was copied and marked; its values stay where they were.
    EXPECT_FALSE(tree.ReadNumber(kSettingsKey, "PositionY", &n));
    EXPECT_TRUE(IsCopied(tree, k12));
    EXPECT_FALSE(IsCopied(tree, k10));
    ASSERT_TRUE(tree.ReadNumber(k12, "PositionX", &n));
    EXPECT_EQ(n, 333u);

    // A second start finds the mark: the user's newer values survive.
    tree.WriteNumber(kSettingsKey, "PositionX", 42);
    EXPECT_FALSE(MigrateOldSettings(tree));
    ASSERT_TRUE(tree.ReadNumber(kSettingsKey, "PositionX", &n));
    EXPECT_EQ(n, 42u);
}

TEST(FeaturesMigration, FindsOneZeroWhenItIsTheOnlyOlderKey) {
    VSMemoryRegTree tree;
    EXPECT_DOUBLE_EQ(FindOldVersion(tree, kVendorKey), -1.0);
    EXPECT_FALSE(MigrateOldSettings(tree));
    EXPECT_EQ(tree.Dump(), "");
    EXPECT_FALSE(tree.KeyExists(kSettingsKey));

    tree.WriteText(k10, "SaveAsDir", "D:\\Out");
    EXPECT_DOUBLE_EQ(FindOldVersion(tree, kVendorKey), 1.0);
    EXPECT_EQ(VersionKey(kVendorKey, 1.0), k10);
    EXPECT_TRUE(MigrateOldSettings(tree));
    std::string text;
    ASSERT_TRUE(tree.ReadText(kSettingsKey, "SaveAsDir", &text));
    EXPECT_EQ(text, "D:\\Out");
    EXPECT_TRUE(IsCopied(tree, k10));
}

TEST(FeaturesMigration, AnOversizedValueEndsThatKeysValuesButNotItsSubkeys) {
    VSMemoryRegTree tree;
    tree.WriteNumber(k12, "First", 1);
    tree.CreateKey(k12);
    tree.WriteValue(k12, "Huge", kRegBinary, Blob(513, 1));
    tree.WriteNumber(k12, "AfterHuge", 3);
    tree.CreateKey(std::string(k12) + "\\Sub");
    tree.WriteValue(std::string(k12) + "\\Sub", "Edge", kRegBinary, Blob(512, 2));

    EXPECT_TRUE(Migrate(tree, k12, kSettingsKey));
    uint32_t n = 0, type = 0;
    std::vector<uint8_t> data;
    EXPECT_TRUE(tree.ReadNumber(kSettingsKey, "First", &n));
    EXPECT_FALSE(tree.ReadValue(kSettingsKey, "Huge", 4096, &type, &data));
    EXPECT_FALSE(tree.ReadNumber(kSettingsKey, "AfterHuge", &n));
    ASSERT_TRUE(tree.ReadValue(std::string(kSettingsKey) + "\\Sub", "Edge", 4096, &type, &data));
    EXPECT_EQ(data.size(), 512u);
}

TEST(FeaturesMigration, AnEnumerationErrorSkipsOnlyItsIndex) {
    VSMemoryRegTree tree;
    tree.WriteNumber(k12, "A", 1);
    tree.WriteNumber(k12, "B", 2);
    tree.WriteNumber(k12, "C", 3);
    tree.failValueIndex = 1;
    EXPECT_TRUE(Migrate(tree, k12, kSettingsKey));
    uint32_t n = 0;
    EXPECT_TRUE(tree.ReadNumber(kSettingsKey, "A", &n));
    EXPECT_FALSE(tree.ReadNumber(kSettingsKey, "B", &n));
    EXPECT_TRUE(tree.ReadNumber(kSettingsKey, "C", &n));
}

TEST(FeaturesMigration, RefusesSourcesThatCannotBeCopiedSafely) {
    VSMemoryRegTree tree;
    EXPECT_FALSE(Migrate(tree, k12, kSettingsKey));  // no source
    EXPECT_FALSE(tree.KeyExists(kSettingsKey));
    // A destination inside the source would grow while it is copied.
    tree.WriteNumber(k12, "A", 1);
    EXPECT_FALSE(Migrate(tree, k12, std::string(k12) + "\\Copy"));
    EXPECT_FALSE(tree.KeyExists(std::string(k12) + "\\Copy"));
    // A mark that is not 1 does not count.
    tree.WriteNumber(k12, "OLD Reg Copied", 0);
    EXPECT_FALSE(IsCopied(tree, k12));
    EXPECT_TRUE(MigrateOldSettings(tree));
    EXPECT_TRUE(IsCopied(tree, k12));
}

}  // namespace
