// The editor integration's rules: the required version, the tooltips, the
// function count and what each kind of result does to the folder list.
#include "editor_core.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

// The list only ever sees assigned paths here.
class NoFileSystem : public VSFileSystem {
public:
    bool List(const std::string&, std::vector<VSDirEntry>*) override { return false; }
    bool Status(const std::string&, VSFileStatus*, std::string*) override { return false; }
    bool Remove(const std::string&) override { return false; }
};

struct EditorListTest : ::testing::Test {
    NoFileSystem fs;
    FolderList list{fs};
    VSEditorOutcome out;
    // Three pictures with the second current.
    void SetUp() override {
        ASSERT_TRUE(list.Assign({"C:\\P\\a.jpg", "C:\\P\\b.png", "C:\\P\\c.bmp"}));
        list.Next();
    }
};

}  // namespace

TEST(EditorVersionTest, RequiredVersionAndBuildAsTheViewerReadsThem) {
    const float version = EditorNumber("2.3"), build = EditorNumber("071130");
    // Exactly the required values: a double 2.3 would reject the float 2.3.
    EXPECT_TRUE(EditorVersionAccepted(version, build, "2.3", "071130"));
    EXPECT_TRUE(EditorVersionAccepted(EditorNumber("3.0"), EditorNumber("080101"), "2.3", "071130"));
    EXPECT_FALSE(EditorVersionAccepted(EditorNumber("2.29"), build, "2.3", "071130"));
    EXPECT_FALSE(EditorVersionAccepted(version, EditorNumber("071129"), "2.3", "071130"));
    // A newer version does not make up for an older build.
    EXPECT_FALSE(EditorVersionAccepted(EditorNumber("9.0"), EditorNumber("1"), "2.3", "071130"));
    // No editor installed reads as 0 and 0.
    EXPECT_FALSE(EditorVersionAccepted(0, 0, "2.3", "071130"));
    EXPECT_FLOAT_EQ(EditorNumber("  2.5beta"), 2.5f);
    EXPECT_FLOAT_EQ(EditorNumber("071130"), 71130.0f);
    EXPECT_FLOAT_EQ(EditorNumber("V2.4"), 0.0f);
    EXPECT_FLOAT_EQ(EditorNumber(""), 0.0f);
}

TEST(EditorFunctionsTest, CountAndTooltips) {
    EXPECT_EQ(EditorFunctionCount(5), 5u);
    EXPECT_EQ(EditorFunctionCount(-3), 0u);
    EXPECT_EQ(EditorFunctionCount(1 << 30), static_cast<uint32_t>(kEditorMaxFunctions));

    EXPECT_EQ(EditorTooltip(0, "Rotate"), "Rotate (Ctrl+T)");
    EXPECT_EQ(EditorTooltip(6, "Rotate"), "Rotate (Ctrl+C)");
    EXPECT_EQ(EditorTooltip(7, "Sharpen"), "Sharpen");
}

TEST(EditorFunctionsTest, RenameTakesOnlyPlainNames) {
    EXPECT_TRUE(IsPlainFileName("b_renamed.png"));
    EXPECT_TRUE(IsPlainFileName("no extension"));
    for (const char* bad : {"", ".", "..", "..\\up.png", "sub\\x.png", "a/b.png", "C:x.png", "C:\\P\\x.png"})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
}

TEST_F(EditorListTest, FailedRunChangesNothing) {
    EXPECT_FALSE(ApplyEditorResult(list, 0, 0, 0, 1, "C:\\P\\other.png", &out));
    EXPECT_FALSE(ApplyEditorResult(list, 2, 2, 1, 1, "C:\\P\\new.png", &out));
    EXPECT_FALSE(ApplyEditorResult(list, 4, -1, 0, 1, "x.png", &out));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\a.jpg", "C:\\P\\b.png", "C:\\P\\c.bmp"}));
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(list.CurrentPath(), "C:\\P\\b.png");
}

TEST_F(EditorListTest, ReplacingResultTakesTheCurrentEntrysPlace) {
    ASSERT_TRUE(ApplyEditorResult(list, 1, 1, 0, 1, "C:\\P\\b_grey.png", &out));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\a.jpg", "C:\\P\\b_grey.png", "C:\\P\\c.bmp"}));
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(out.currentPath, "C:\\P\\b_grey.png");
    EXPECT_EQ(out.changedPath, "C:\\P\\b_grey.png");
    EXPECT_EQ(out.changedParam, 1u);
}

TEST_F(EditorListTest, NewFileJoinsTheListAndBecomesCurrent) {
    ASSERT_TRUE(ApplyEditorResult(list, 2, 1, 1, 1, "C:\\P\\b_mirror.png", &out));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\a.jpg", "C:\\P\\b.png", "C:\\P\\c.bmp", "C:\\P\\b_mirror.png"}));
    EXPECT_EQ(list.CurrentIndex(), 3);
    EXPECT_EQ(out.currentPath, "C:\\P\\b_mirror.png");
    EXPECT_EQ(out.changedParam, (1u << 16) | 2u);

    // A result naming a listed file (other case) selects it, no second entry.
    ASSERT_TRUE(ApplyEditorResult(list, 5, 1, -1, 1, "c:\\p\\A.JPG", &out));
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(out.currentPath, "C:\\P\\a.jpg");
    EXPECT_EQ(out.changedPath, "c:\\p\\A.JPG");
    EXPECT_EQ(out.changedParam, 0xFFFF0005u);
}

TEST_F(EditorListTest, ResultWithoutFileOnlyReshowsTheCurrentPicture) {
    ASSERT_TRUE(ApplyEditorResult(list, 3, 1, 0, 0, "", &out));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\a.jpg", "C:\\P\\b.png", "C:\\P\\c.bmp"}));
    EXPECT_EQ(out.currentPath, "C:\\P\\b.png");
    EXPECT_EQ(out.changedPath, "");
    EXPECT_EQ(out.changedParam, 3u);
    // Kind 1 without a path names no file: nothing to do.
    EXPECT_FALSE(ApplyEditorResult(list, 0, 1, 0, 1, "", &out));
    EXPECT_EQ(list.CurrentPath(), "C:\\P\\b.png");
}

TEST_F(EditorListTest, RenameKeepsTheFolderWhateverTheKind) {
    ASSERT_TRUE(ApplyEditorResult(list, 4, 1, 0, 0, "b_renamed.png", &out));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\a.jpg", "C:\\P\\b_renamed.png", "C:\\P\\c.bmp"}));
    EXPECT_EQ(out.currentPath, "C:\\P\\b_renamed.png");
    // The receivers need the whole path, not the bare name.
    EXPECT_EQ(out.changedPath, "C:\\P\\b_renamed.png");
    EXPECT_EQ(out.changedParam, 4u);

    // Names leading elsewhere are refused.
    for (const char* bad : {"..\\b.png", "C:\\Windows\\b.png", ""})
        EXPECT_FALSE(ApplyEditorResult(list, 4, 1, 0, 1, bad, &out)) << bad;
    EXPECT_EQ(list.CurrentPath(), "C:\\P\\b_renamed.png");
}

TEST_F(EditorListTest, UnlistedCurrentPathLeavesTheEntriesAlone) {
    // A picture handed over from elsewhere while the list holds another folder.
    list.SetCurrent(-1, "D:\\Elsewhere\\x.jpg");
    ASSERT_TRUE(ApplyEditorResult(list, 0, 1, 0, 1, "D:\\Elsewhere\\x.jpg", &out));
    ASSERT_TRUE(ApplyEditorResult(list, 4, 1, 0, 1, "y.jpg", &out));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\a.jpg", "C:\\P\\b.png", "C:\\P\\c.bmp"}));
    EXPECT_EQ(list.CurrentPath(), "D:\\Elsewhere\\y.jpg");
    EXPECT_EQ(out.currentPath, "D:\\Elsewhere\\y.jpg");
}

TEST(EditorResultTest, EmptyListAndNoPicture) {
    NoFileSystem fs;
    FolderList list(fs);
    VSEditorOutcome out;
    // Nothing shown: a rename has no folder to go to.
    EXPECT_FALSE(ApplyEditorResult(list, 4, 1, 0, 1, "x.png", &out));
    EXPECT_EQ(list.CurrentPath(), "");
    // A new file starts the list.
    ASSERT_TRUE(ApplyEditorResult(list, 2, 1, 1, 1, "C:\\P\\n.png", &out));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\P\\n.png"}));
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(out.currentPath, "C:\\P\\n.png");
}
