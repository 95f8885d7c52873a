// The editor integration's rules: the required version, the tooltips, the
// function count and what each kind of result does to the folder list.
#include "app/editor_core.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The list only ever sees assigned paths here.
struct NoFileSystem : VSFileSystem {
    bool List(const std::string&, std::vector<VSDirEntry>*) override { return false; }
    bool Status(const std::string&, VSFileStatus*, std::string*) override { return false; }
    bool Remove(const std::string&) override { return false; }
};

const std::vector<std::string> kThree = {"C:\\P\\a.jpg", "C:\\P\\b.png", "C:\\P\\c.bmp"};

struct EditorListTest : ::testing::Test {
    NoFileSystem fs;
    FolderList list{fs};
    VSEditorOutcome out;
    void SetUp() override { ASSERT_TRUE(list.Assign(kThree)); list.Next(); }
    bool Apply(uint32_t index, int32_t status, int16_t newFile, int32_t kind, const std::string& result) {
        return ApplyEditorResult(list, index, status, newFile, kind, result, &out);
    }
    // "index: entries", then the outcome "current|changed|parameter".
    std::string State() const {
        std::string s = std::to_string(list.CurrentIndex()) + ":";
        for (const std::string& e : list.Entries()) s += " " + e;
        char param[16];
        std::snprintf(param, sizeof param, "%X", out.changedParam);
        return s + " = " + out.currentPath + "|" + out.changedPath + "|" + param;
    }
};

}  // namespace

TEST(EditorRulesTest, RequiredVersionCountTooltipsAndNames) {
    const float version = EditorNumber("2.3"), build = EditorNumber("071130");
    // Exactly the required values: a double 2.3 would reject the float 2.3.
    EXPECT_TRUE(EditorVersionAccepted(version, build, "2.3", "071130"));
    EXPECT_TRUE(EditorVersionAccepted(EditorNumber("3.0"), EditorNumber("080101"), "2.3", "071130"));
    EXPECT_FALSE(EditorVersionAccepted(EditorNumber("2.29"), build, "2.3", "071130"));
    // A newer version does not make up for an older build.
    EXPECT_FALSE(EditorVersionAccepted(EditorNumber("9.0"), EditorNumber("071129"), "2.3", "071130"));
    EXPECT_FLOAT_EQ(EditorNumber("  2.5beta"), 2.5f);
    EXPECT_FLOAT_EQ(EditorNumber("V2.4"), 0.0f);
    EXPECT_EQ(EditorFunctionCount(5) * 1000 + EditorFunctionCount(-3), 5000u);
    EXPECT_EQ(EditorFunctionCount(1 << 30), static_cast<uint32_t>(kEditorMaxFunctions));
    EXPECT_EQ(EditorTooltip(0, "Rotate") + EditorTooltip(6, "Rotate") + EditorTooltip(7, "Sharpen"),
              "Rotate (Ctrl+T)Rotate (Ctrl+C)Sharpen");
    EXPECT_TRUE(IsPlainFileName("no extension"));
    for (const char* bad : {"", ".", "..", "..\\up.png", "a/b.png", "C:x.png"})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}

TEST_F(EditorListTest, FailedRunsChangeNothingResultsReplaceRenameOrJoinTheList) {
    EXPECT_FALSE(Apply(0, 0, 0, 1, "C:\\P\\other.png"));
    EXPECT_FALSE(Apply(2, 2, 1, 1, "C:\\P\\new.png"));
    EXPECT_FALSE(Apply(0, 1, 0, 1, ""));  // kind 1 without a path names no file
    for (const char* bad : {"..\\b.png", "C:\\Windows\\b.png", ""}) EXPECT_FALSE(Apply(4, 1, 0, 1, bad)) << bad;
    EXPECT_EQ(State(), "1: C:\\P\\a.jpg C:\\P\\b.png C:\\P\\c.bmp = ||0");  // no outcome either
    ASSERT_TRUE(Apply(1, 1, 0, 1, "C:\\P\\b_grey.png"));
    EXPECT_EQ(State(), "1: C:\\P\\a.jpg C:\\P\\b_grey.png C:\\P\\c.bmp = C:\\P\\b_grey.png|C:\\P\\b_grey.png|1");
    // A rename keeps the folder whatever the kind; the receivers need the whole path.
    ASSERT_TRUE(Apply(4, 1, 0, 0, "b_renamed.png"));
    EXPECT_EQ(State(), "1: C:\\P\\a.jpg C:\\P\\b_renamed.png C:\\P\\c.bmp = C:\\P\\b_renamed.png|C:\\P\\b_renamed.png|4");
    // A result without a file only reshows the current picture.
    ASSERT_TRUE(Apply(3, 1, 0, 0, ""));
    EXPECT_EQ(State(), "1: C:\\P\\a.jpg C:\\P\\b_renamed.png C:\\P\\c.bmp = C:\\P\\b_renamed.png||3");
    // A new file joins the list and becomes current.
    ASSERT_TRUE(Apply(2, 1, 1, 1, "C:\\P\\b_mirror.png"));
    EXPECT_EQ(State(), "3: C:\\P\\a.jpg C:\\P\\b_renamed.png C:\\P\\c.bmp C:\\P\\b_mirror.png = "
                       "C:\\P\\b_mirror.png|C:\\P\\b_mirror.png|10002");
    // A result naming a listed file (other case) selects it, no second entry.
    ASSERT_TRUE(Apply(5, 1, -1, 1, "c:\\p\\A.JPG"));
    EXPECT_EQ(State(), "0: C:\\P\\a.jpg C:\\P\\b_renamed.png C:\\P\\c.bmp C:\\P\\b_mirror.png = "
                       "C:\\P\\a.jpg|c:\\p\\A.JPG|FFFF0005");
}

TEST_F(EditorListTest, UnlistedCurrentPathLeavesTheEntriesAlone) {
    // A picture handed over from elsewhere while the list holds another folder.
    list.SetCurrent(-1, "D:\\Elsewhere\\x.jpg");
    ASSERT_TRUE(Apply(0, 1, 0, 1, "D:\\Elsewhere\\x.jpg"));
    ASSERT_TRUE(Apply(4, 1, 0, 1, "y.jpg"));
    EXPECT_EQ(list.Entries(), kThree);
    EXPECT_EQ(out.currentPath, "D:\\Elsewhere\\y.jpg");
    // Nothing shown: a rename has no folder to go to; a new file starts the list.
    list.Clear();
    list.SetCurrent(-1, "");
    EXPECT_FALSE(Apply(4, 1, 0, 1, "x.png"));
    ASSERT_TRUE(Apply(2, 1, 1, 1, "C:\\P\\n.png"));
    EXPECT_EQ(State(), "0: C:\\P\\n.png = C:\\P\\n.png|C:\\P\\n.png|10002");
}
