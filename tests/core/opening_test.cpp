// What dropped paths and open-dialog selections open.
#include "opening.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Kind = VSOpenPlan::Kind;

TEST(OpeningDrop, SeveralPathsKeepOnlySupportedPicturesInDroppedOrder) {
    const VSOpenPlan plan =
        PlanDrop({"C:\\a\\z.JPG", "C:\\a\\notes.txt", "C:\\b\\y.tga", "C:\\a\\folder", "C:\\a\\x.Png"}, true);
    EXPECT_EQ(plan.kind, VSOpenPlan::kFiles);
    EXPECT_EQ(plan.paths, (std::vector<std::string>{"C:\\a\\z.JPG", "C:\\b\\y.tga", "C:\\a\\x.Png"}));
}

TEST(OpeningDrop, SeveralUnsupportedPathsOpenNothing) {
    // The OLE drop shows nothing new; WM_DROPFILES shows the kept list's first entry.
    EXPECT_EQ(PlanDrop({"C:\\a.txt", "C:\\b.doc"}, true).kind, VSOpenPlan::kNothing);
    EXPECT_EQ(PlanDrop({"C:\\a.txt", "C:\\b.doc"}, false).kind, VSOpenPlan::kKeepFirst);
    EXPECT_EQ(PlanDrop({}, true).kind, VSOpenPlan::kNothing);
}

TEST(OpeningDrop, OneNameIsFolderFileOrUnsupported) {
    struct Case {
        std::string path;
        Kind kind;
        std::string planned;
    } cases[] = {
        {"C:\\Pics", VSOpenPlan::kFolder, "C:\\Pics\\"},
        {"C:\\Pics\\", VSOpenPlan::kFolder, "C:\\Pics\\"},
        {"", VSOpenPlan::kFolder, "\\"},
        // A dot in a parent folder does not turn a folder into a file.
        {"C:\\My.Pictures\\Holiday", VSOpenPlan::kFolder, "C:\\My.Pictures\\Holiday\\"},
        // A folder whose own name has a dot is taken as a file, and opens nothing.
        {"C:\\Pics\\2007.summer", VSOpenPlan::kUnsupported, "C:\\Pics\\2007.summer"},
        {"C:\\Pics\\cat.jpg", VSOpenPlan::kFile, "C:\\Pics\\cat.jpg"},
        {"C:\\Pics\\CAT.TIF", VSOpenPlan::kFile, "C:\\Pics\\CAT.TIF"},
        {"C:\\Pics\\cat.gif", VSOpenPlan::kUnsupported, "C:\\Pics\\cat.gif"},
        {"C:\\Pics\\archive.jpg.zip", VSOpenPlan::kUnsupported, "C:\\Pics\\archive.jpg.zip"},
    };
    for (const Case& c : cases) {
        const VSOpenPlan plan = PlanDrop({c.path}, true);
        EXPECT_EQ(plan.kind, c.kind) << c.path;
        EXPECT_EQ(plan.path, c.planned) << c.path;
        EXPECT_EQ(PlanDrop({c.path}, false).kind, c.kind) << c.path;
    }
}

TEST(OpeningDrop, OverlongPathIsCutToTheDropBuffer) {
    const std::string longName = "C:\\" + std::string(300, 'a') + ".jpg";
    const VSOpenPlan plan = PlanDrop({longName}, false);
    EXPECT_EQ(plan.path.size(), 260u);  // 259 characters and the folder mark
    EXPECT_EQ(plan.kind, VSOpenPlan::kFolder);
}

std::string Buffer(std::initializer_list<const char*> parts) {
    std::string b;
    for (const char* p : parts) {
        b += p;
        b += '\0';
    }
    b += '\0';
    return b;
}

TEST(OpeningDialog, SelectionsAndTheFolderTheNextDialogStartsIn) {
    const struct {
        std::string buffer;
        std::vector<std::string> paths;
        std::string initDir;
    } cases[] = {
        // One file: its folder.
        {Buffer({"C:\\Pics\\cat.jpg"}), {"C:\\Pics\\cat.jpg"}, "C:\\Pics\\"},
        // Several: the folder comes without its "\", so the parent.
        {Buffer({"C:\\Pics", "b.jpg", "a.png", "c.tga"}),
         {"C:\\Pics\\b.jpg", "C:\\Pics\\a.png", "C:\\Pics\\c.tga"}, "C:\\"},
        // At a drive's root the folder already ends in "\".
        {Buffer({"C:\\", "x.jpg", "y.jpg"}), {"C:\\x.jpg", "C:\\y.jpg"}, "C:\\"},
    };
    for (const auto& c : cases) {
        const VSDialogSelection s = ParseOpenSelection(c.buffer.data(), c.buffer.size());
        EXPECT_EQ(s.paths, c.paths);
        EXPECT_EQ(s.initDir, c.initDir);
    }
}

TEST(OpeningDialog, EmptyOrUnterminatedBuffersAreSafe) {
    EXPECT_TRUE(ParseOpenSelection("", 0).paths.empty());
    const char zero[2] = {0, 0};
    EXPECT_TRUE(ParseOpenSelection(zero, 2).paths.empty());
    // No closing zero inside the given size: the text ends at the size.
    const char open[5] = {'C', ':', '\\', 'a', 'b'};
    const VSDialogSelection s = ParseOpenSelection(open, sizeof open);
    EXPECT_EQ(s.paths, (std::vector<std::string>{"C:\\ab"}));
}

TEST(OpeningDialog, FilterBecomesZeroSeparatedPairs) {
    const std::string pairs = OpenDialogFilterPairs();
    ASSERT_GE(pairs.size(), 2u);
    EXPECT_EQ(pairs.substr(0, 23), std::string("All supported formats \0*", 24).substr(0, 23));
    EXPECT_EQ(pairs[pairs.size() - 1], '\0');
    EXPECT_EQ(pairs[pairs.size() - 2], '\0');
    size_t texts = 0;
    for (char c : pairs) texts += c == '\0';
    EXPECT_EQ(texts, 15u);  // seven pairs and the end
}

}  // namespace
