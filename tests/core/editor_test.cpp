// The editor integration's rules: the required version, the tooltips, the
// function count and what each kind of result does to the folder list.
#include "editor_core.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

// The list only ever sees assigned paths here.
struct NoFileSystem : VSFileSystem {
    bool List(const std::string&, std::vector<VSDirEntry>*) override { return false; }
    bool Status(const std::string&, VSFileStatus*, std::string*) override { return false; }
    bool Remove(const std::string&) override { return false; }
};

const Paths kThree = {"C:\\P\\a.jpg", "C:\\P\\b.png", "C:\\P\\c.bmp"};

struct EditorListTest : ::testing::Test {
    NoFileSystem fs;
    FolderList list{fs};
    VSEditorOutcome out;
    // Three pictures with the second current.
    void SetUp() override {
        ASSERT_TRUE(list.Assign(kThree));
        list.Next();
    }
    bool Apply(uint32_t index, int32_t status, int16_t newFile, int32_t kind, const std::string& result) {
        return ApplyEditorResult(list, index, status, newFile, kind, result, &out);
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

    EXPECT_EQ(EditorFunctionCount(5), 5u);
    EXPECT_EQ(EditorFunctionCount(-3), 0u);
    EXPECT_EQ(EditorFunctionCount(1 << 30), static_cast<uint32_t>(kEditorMaxFunctions));
    EXPECT_EQ(EditorTooltip(0, "Rotate"), "Rotate (Ctrl+T)");
    EXPECT_EQ(EditorTooltip(6, "Rotate"), "Rotate (Ctrl+C)");
    EXPECT_EQ(EditorTooltip(7, "Sharpen"), "Sharpen");

    EXPECT_TRUE(IsPlainFileName("no extension"));
    for (const char* bad : {"", ".", "..", "..\\up.png", "a/b.png", "C:x.png"})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}

TEST_F(EditorListTest, FailedRunsChangeNothing) {
    EXPECT_FALSE(Apply(0, 0, 0, 1, "C:\\P\\other.png"));
    EXPECT_FALSE(Apply(2, 2, 1, 1, "C:\\P\\new.png"));
    EXPECT_FALSE(Apply(0, 1, 0, 1, ""));  // kind 1 without a path names no file
    for (const char* bad : {"..\\b.png", "C:\\Windows\\b.png", ""}) EXPECT_FALSE(Apply(4, 1, 0, 1, bad)) << bad;
    EXPECT_EQ(list.Entries(), kThree);
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(list.CurrentPath(), "C:\\P\\b.png");
}

TEST_F(EditorListTest, ReplacingResultAndRenameTakeTheCurrentEntrysPlace) {
    ASSERT_TRUE(Apply(1, 1, 0, 1, "C:\\P\\b_grey.png"));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\a.jpg", "C:\\P\\b_grey.png", "C:\\P\\c.bmp"}));
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(out.currentPath + "|" + out.changedPath, "C:\\P\\b_grey.png|C:\\P\\b_grey.png");
    EXPECT_EQ(out.changedParam, 1u);
    // A rename keeps the folder whatever the kind; the receivers need the whole path.
    ASSERT_TRUE(Apply(4, 1, 0, 0, "b_renamed.png"));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\a.jpg", "C:\\P\\b_renamed.png", "C:\\P\\c.bmp"}));
    EXPECT_EQ(out.currentPath + "|" + out.changedPath, "C:\\P\\b_renamed.png|C:\\P\\b_renamed.png");
    EXPECT_EQ(out.changedParam, 4u);
    // A result without a file only reshows the current picture.
    ASSERT_TRUE(Apply(3, 1, 0, 0, ""));
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(out.currentPath + "|" + out.changedPath, "C:\\P\\b_renamed.png|");
    EXPECT_EQ(out.changedParam, 3u);
}

TEST_F(EditorListTest, NewFileJoinsTheListAndBecomesCurrent) {
    ASSERT_TRUE(Apply(2, 1, 1, 1, "C:\\P\\b_mirror.png"));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\a.jpg", "C:\\P\\b.png", "C:\\P\\c.bmp", "C:\\P\\b_mirror.png"}));
    EXPECT_EQ(list.CurrentIndex(), 3);
    EXPECT_EQ(out.currentPath, "C:\\P\\b_mirror.png");
    EXPECT_EQ(out.changedParam, (1u << 16) | 2u);
    // A result naming a listed file (other case) selects it, no second entry.
    ASSERT_TRUE(Apply(5, 1, -1, 1, "c:\\p\\A.JPG"));
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(out.currentPath + "|" + out.changedPath, "C:\\P\\a.jpg|c:\\p\\A.JPG");
    EXPECT_EQ(out.changedParam, 0xFFFF0005u);
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
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\n.png"}));
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(out.currentPath, "C:\\P\\n.png");
}
