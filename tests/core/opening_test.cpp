// What dropped paths and open-dialog selections open.
#include "opening.h"

#include "paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

TEST(OpeningDrop, SeveralPathsKeepOnlySupportedPicturesInDroppedOrder) {
    const VSOpenPlan plan =
        PlanDrop({"C:\\a\\z.JPG", "C:\\a\\notes.txt", "C:\\b\\y.tga", "C:\\a\\folder", "C:\\a\\x.Png"}, true);
    EXPECT_EQ(plan.kind, VSOpenPlan::kFiles);
    EXPECT_EQ(plan.paths, (Paths{"C:\\a\\z.JPG", "C:\\b\\y.tga", "C:\\a\\x.Png"}));
    // None supported: the OLE drop shows nothing new, WM_DROPFILES the kept list's first entry.
    EXPECT_EQ(PlanDrop({"C:\\a.txt", "C:\\b.doc"}, true).kind, VSOpenPlan::kNothing);
    EXPECT_EQ(PlanDrop({"C:\\a.txt", "C:\\b.doc"}, false).kind, VSOpenPlan::kKeepFirst);
    EXPECT_EQ(PlanDrop({}, true).kind, VSOpenPlan::kNothing);
}

TEST(OpeningDrop, OneNameIsFolderFileOrUnsupported) {
    const std::string longName = "C:\\" + std::string(300, 'a') + ".jpg";
    const struct {
        std::string path;
        VSOpenPlan::Kind kind;
        std::string planned;
    } cases[] = {
        {"C:\\Pics", VSOpenPlan::kFolder, "C:\\Pics\\"},
        {"C:\\Pics\\", VSOpenPlan::kFolder, "C:\\Pics\\"},
        {"", VSOpenPlan::kFolder, "\\"},
        // A dot in a parent folder does not turn a folder into a file.
        {"C:\\My.Pictures\\Holiday", VSOpenPlan::kFolder, "C:\\My.Pictures\\Holiday\\"},
        // A folder whose own name has a dot is taken as a file, and opens nothing.
        {"C:\\Pics\\2007.summer", VSOpenPlan::kUnsupported, "C:\\Pics\\2007.summer"},
        {"C:\\Pics\\CAT.TIF", VSOpenPlan::kFile, "C:\\Pics\\CAT.TIF"},
        {"C:\\Pics\\archive.jpg.zip", VSOpenPlan::kUnsupported, "C:\\Pics\\archive.jpg.zip"},
        // Cut to the drop buffer's 259 characters, then taken as a folder.
        {longName, VSOpenPlan::kFolder, longName.substr(0, 259) + "\\"},
    };
    for (const auto& c : cases) {
        const VSOpenPlan plan = PlanDrop({c.path}, true);
        EXPECT_EQ(plan.kind, c.kind) << c.path;
        EXPECT_EQ(plan.path, c.planned) << c.path;
        EXPECT_EQ(PlanDrop({c.path}, false).kind, c.kind) << c.path;
    }
}

TEST(OpeningDialog, SelectionsAndTheFolderTheNextDialogStartsIn) {
    using namespace std::string_literals;
    const struct {
        std::string buffer;
        Paths paths;
        std::string initDir;
    } cases[] = {
        {"C:\\Pics\\cat.jpg\0\0"s, {"C:\\Pics\\cat.jpg"}, "C:\\Pics\\"},  // one file: its folder
        // Several: the folder comes without its "\", so the parent.
        {"C:\\Pics\0b.jpg\0a.png\0\0"s, {"C:\\Pics\\b.jpg", "C:\\Pics\\a.png"}, "C:\\"},
        // At a drive's root the folder already ends in "\".
        {"C:\\\0x.jpg\0y.jpg\0\0"s, {"C:\\x.jpg", "C:\\y.jpg"}, "C:\\"},
        {"\0\0"s, {}, ""},
        {""s, {}, ""},
        {"C:\\ab"s, {"C:\\ab"}, "C:\\"},  // no closing zero: the text ends at the size
    };
    for (const auto& c : cases) {
        const VSDialogSelection s = ParseOpenSelection(c.buffer.data(), c.buffer.size());
        EXPECT_EQ(s.paths, c.paths) << c.buffer;
        EXPECT_EQ(s.initDir, c.initDir) << c.buffer;
    }
}

TEST(OpeningDialog, FilterListsEveryExtensionTheFolderListAccepts) {
    const std::string pairs = OpenDialogFilterPairs();
    ASSERT_EQ(pairs.substr(pairs.size() - 2), std::string(2, '\0'));
    std::vector<std::string> texts;
    for (size_t at = 0; at + 1 < pairs.size(); at = pairs.find('\0', at) + 1) texts.push_back(pairs.c_str() + at);
    ASSERT_EQ(texts.size(), 14u);  // all formats, then six of their own
    EXPECT_EQ(texts[0], "All supported formats ");
    EXPECT_EQ(texts[4], "JPEG (*.jpg;*.jpe;*.jpeg;*.jif;*.jfif)");
    for (const char* name : {"a.jpg", "a.jpe", "a.jpeg", "a.jif", "a.jfif", "a.bmp", "a.dib", "a.rle", "a.tif",
                             "a.tiff", "a.png", "a.pcx", "a.tga"}) {
        ASSERT_TRUE(IsSupportedPicture(name)) << name;
        const std::string pattern = std::string("*") + std::strchr(name, '.');
        EXPECT_NE((";" + texts[1] + ";").find(";" + pattern + ";"), std::string::npos) << name;
    }
}

}  // namespace
