// Copying an older version's settings once.
#include "migration.h"
#include "settings_core.h"

#include <gtest/gtest.h>

namespace {

const std::string k12 = "Software\\Orvanta\\Vistrel Viewer\\1.2";
const std::string k10 = "Software\\Orvanta\\Vistrel Viewer\\1.0";
const std::string kNew = kSettingsKey;

uint32_t Number(VSRegTree& tree, const std::string& key, const char* name) {
    uint32_t n = 0xDEAD;
    tree.ReadNumber(key, name, &n);
    return n;
}

TEST(FeaturesMigration, CopiesTheNewestOlderTreeOnceAndMarksIt) {
    VSMemoryRegTree tree;
    EXPECT_DOUBLE_EQ(FindOldVersion(tree, kVendorKey), -1.0);
    EXPECT_FALSE(MigrateOldSettings(tree));
    EXPECT_EQ(tree.Dump(), "");

    tree.WriteNumber(k12, "PositionX", 333);
    tree.WriteText(k12, "InitDir", "C:\\Pictures");
    tree.CreateKey(k12 + "\\Recent\\Deep");
    tree.WriteValue(k12 + "\\Recent\\Deep", "Blob", kRegBinary, std::vector<uint8_t>(16, 7));
    tree.WriteNumber(k10, "PositionY", 111);
    tree.WriteNumber(kNew, "PositionX", 5);  // overwritten by the copy
    EXPECT_DOUBLE_EQ(FindOldVersion(tree, kVendorKey), 1.2);
    EXPECT_TRUE(MigrateOldSettings(tree));
    EXPECT_EQ(Number(tree, kNew, "PositionX"), 333u);
    std::string text;
    EXPECT_TRUE(tree.ReadText(kNew, "InitDir", &text) && text == "C:\\Pictures");
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(tree.ReadValue(kNew + "\\Recent\\Deep", "Blob", 512, &type, &data));
    EXPECT_EQ(type, static_cast<uint32_t>(kRegBinary));
    EXPECT_EQ(data, std::vector<uint8_t>(16, 7));
    // Only 1.2 was copied and marked; its values stay where they were.
    EXPECT_EQ(Number(tree, kNew, "PositionY"), 0xDEADu);
    EXPECT_TRUE(IsCopied(tree, k12));
    EXPECT_FALSE(IsCopied(tree, k10));
    EXPECT_EQ(Number(tree, k12, "PositionX"), 333u);

    // A second start finds the mark: the user's newer values survive.
    tree.WriteNumber(kNew, "PositionX", 42);
    EXPECT_FALSE(MigrateOldSettings(tree));
    EXPECT_EQ(Number(tree, kNew, "PositionX"), 42u);
    // A mark that is not 1 does not count.
    tree.WriteNumber(k12, "OLD Reg Copied", 0);
    EXPECT_TRUE(MigrateOldSettings(tree));
    EXPECT_EQ(Number(tree, kNew, "PositionX"), 333u);
}

TEST(FeaturesMigration, FindsOneZeroWhenItIsTheOnlyOlderKey) {
    VSMemoryRegTree tree;
    tree.WriteText(k10, "SaveAsDir", "D:\\Out");
    EXPECT_DOUBLE_EQ(FindOldVersion(tree, kVendorKey), 1.0);
    EXPECT_EQ(VersionKey(kVendorKey, 1.0), k10);
    EXPECT_TRUE(MigrateOldSettings(tree));
    std::string text;
    EXPECT_TRUE(tree.ReadText(kNew, "SaveAsDir", &text) && text == "D:\\Out");
    EXPECT_TRUE(IsCopied(tree, k10));
}

TEST(FeaturesMigration, OversizedValuesAndNamesAndEnumerationErrorsAreSkipped) {
    VSMemoryRegTree tree;
    tree.WriteNumber(k12, "First", 1);
    tree.WriteValue(k12, "Huge", kRegBinary, std::vector<uint8_t>(513, 1));
    tree.WriteNumber(k12, "AfterHuge", 3);
    tree.CreateKey(k12 + "\\Sub");
    tree.WriteValue(k12 + "\\Sub", "Edge", kRegBinary, std::vector<uint8_t>(512, 2));
    tree.WriteNumber(k12 + "\\" + std::string(257, 'k'), "Long", 1);
    tree.WriteNumber(k10, "A", 1);
    tree.WriteNumber(k10, "B", 2);
    tree.WriteNumber(k10, "C", 3);
    // An oversized value ends that key's values, but not its subkeys.
    EXPECT_TRUE(Migrate(tree, k12, kNew));
    EXPECT_EQ(Number(tree, kNew, "First"), 1u);
    EXPECT_EQ(Number(tree, kNew, "AfterHuge"), 0xDEADu);
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_FALSE(tree.ReadValue(kNew, "Huge", 4096, &type, &data));
    ASSERT_TRUE(tree.ReadValue(kNew + "\\Sub", "Edge", 4096, &type, &data));
    EXPECT_EQ(data.size(), 512u);
    EXPECT_FALSE(tree.KeyExists(kNew + "\\" + std::string(257, 'k')));
    // An enumeration error skips only its index.
    tree.failValueIndex = 1;
    EXPECT_TRUE(Migrate(tree, k10, "Software\\Copy"));
    EXPECT_EQ(Number(tree, "Software\\Copy", "A") + Number(tree, "Software\\Copy", "C"), 4u);
    EXPECT_EQ(Number(tree, "Software\\Copy", "B"), 0xDEADu);
}

TEST(FeaturesMigration, RefusesSourcesThatCannotBeCopiedSafely) {
    VSMemoryRegTree tree;
    EXPECT_FALSE(Migrate(tree, k12, kNew));  // no source
    EXPECT_FALSE(tree.KeyExists(kNew));
    // A destination inside the source would grow while it is copied.
    tree.WriteNumber(k12, "A", 1);
    EXPECT_FALSE(Migrate(tree, k12, k12 + "\\Copy"));
    EXPECT_FALSE(tree.KeyExists(k12 + "\\Copy"));
}

}  // namespace
