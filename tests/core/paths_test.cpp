// Path functions, fitting and centring, and the display texts.
#include "fit.h"
#include "paths.h"
#include "texts.h"

#include <gtest/gtest.h>

#include <string>

TEST(PathsTest, FolderNameAndExtension) {
    const struct {
        const char *path, *folder, *name, *extension;
    } cases[] = {
        {"C:\\Pics\\trip\\a.b.jpg", "C:\\Pics\\trip\\", "a.b.jpg", ".jpg"},
        {"a.jpg", "", "a.jpg", ".jpg"},         // no separator: the whole text is the name
        {"C:\\", "C:\\", "", "C:\\"},            // a trailing separator: the name is empty
        {"C:/Pics/a.jpg", "", "C:/Pics/a.jpg", ".jpg"},  // "/" is no separator here
        {"C:\\trip.2007\\readme", "C:\\trip.2007\\", "readme", "C:\\trip.2007\\readme"},  // a folder's dot
        {"photo.", "", "photo.", "."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Folder(c.path), c.folder) << c.path;
        EXPECT_EQ(FileName(c.path), c.name) << c.path;
        EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
    }
}

TEST(PathsTest, SupportedPicturesAndComparisonIgnoringAsciiCase) {
    for (const char* yes : {"x.jpg", "b.JpEg", "C:\\Pics\\X.TGA", "a.dib", ".rle"})
        EXPECT_TRUE(IsSupportedPicture(yes)) << yes;
    for (const char* no : {"notes.txt", "anim.gif", "jpg", "a.jpgx", "a.jpg.txt", "C:\\trip.jpg\\readme", ""})
        EXPECT_FALSE(IsSupportedPicture(no)) << no;

    EXPECT_EQ(CompareNoCase("C:\\Pics\\B.JPG", "c:\\pics\\b.jpg"), 0);
    EXPECT_LT(CompareNoCase("a.jpg", "B.jpg"), 0);
    EXPECT_GT(CompareNoCase("C.png", "b.JPG"), 0);
    EXPECT_LT(CompareNoCase("_x", "Zx"), 0);  // folded to lower case, "_" (0x5F) comes first
    EXPECT_LT(CompareNoCase("ab", "ABC"), 0);
    EXPECT_GT(CompareNoCase("abc", "AB"), 0);
    // Bytes above 0x7F compare unsigned and are not folded.
    EXPECT_GT(CompareNoCase("\xE9", "z"), 0);
    EXPECT_EQ(AsciiLower("AbC\xC9.JPG"), "abc\xC9.jpg");
}

TEST(FitTest, WorkedExamplesAndTruncation) {
    const struct {
        uint32_t w, h, bw, bh;
        VSSize want;
    } cases[] = {
        {400, 300, 1000, 600, {400, 300}},    // never enlarged
        {2000, 1000, 1000, 600, {1000, 500}},
        {1000, 300, 1000, 600, {1000, 300}},  // as wide as the box
        {3000, 2000, 1000, 600, {900, 600}},
        {2000, 1200, 1000, 600, {1000, 600}},
        {1000, 333, 500, 500, {500, 166}},    // 166.5 truncated
        {999, 1001, 500, 500, {499, 500}},
        {500, 1000, 1000, 120, {60, 120}},    // 59 in floating point
        {400, 300, 0, 600, {0, 0}},           // empty boxes and pictures divide by nothing
        {400, 300, 1000, 0, {0, 0}},
        {0, 0, 1000, 600, {0, 0}},
        {0, 900, 1000, 600, {0, 600}},
        {5000, 0, 1000, 600, {1000, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitSize(c.w, c.h, c.bw, c.bh), c.want) << c.w << "x" << c.h << " in " << c.bw << "x" << c.bh;
}

TEST(FitTest, DisplayBoxFullScreenAndCentring) {
    // Picture view: the client area less the toolbar (48) and status bar (18).
    EXPECT_EQ(DisplayBox(false, 784, 562, 1024, 768), (VSSize{784, 496}));
    EXPECT_EQ(DisplayBox(false, 784, 20, 1024, 768), (VSSize{784, 0}));
    // Full screen: the screen plus 4 each way.
    const VSSize box = DisplayBox(true, 784, 562, 1024, 768);
    EXPECT_EQ(box, (VSSize{1028, 772}));
    EXPECT_EQ(DisplayBox(true, 0, 0, 4294967295u, 1), (VSSize{4294967295u, 5}));
    EXPECT_EQ(FitForDisplay(2056, 1544, box, 1024, 768), (VSSize{1028, 772}));
    // Kept at its size by the fit, then grown by 2 for being the screen size.
    EXPECT_EQ(FitForDisplay(1024, 768, box, 1024, 768), (VSSize{1026, 770}));
    // Only an exact match of both sides grows.
    EXPECT_EQ(FitForDisplay(1024, 700, box, 1024, 768), (VSSize{1024, 700}));
    EXPECT_EQ(FitForDisplay(1000, 768, box, 1024, 768), (VSSize{1000, 768}));

    EXPECT_EQ(CenterIn(401, 301, 0, 0, 1000, 600), (VSPoint{299, 149}));
    EXPECT_EQ(CenterIn(400, 300, -20, 48, 1000, 600), (VSPoint{280, 198}));
    // Not smaller along an axis: offset 0 there, not the area's start.
    EXPECT_EQ(CenterIn(1000, 700, 10, 48, 1000, 600), (VSPoint{0, 0}));
    // No overflow at the extremes.
    EXPECT_EQ(CenterIn(0, 0, 2147483647, 0, 4294967295u, 2), (VSPoint{2147483647, 1}));
}

TEST(TextsTest, CaptionsAndPanes) {
    EXPECT_EQ(CaptionWithCounter("C:\\Pics\\sub\\b c.JPG", 11, 12),
              "Vistrel Viewer - v2.0 - Orvanta - b c.JPG (12/12)");
    EXPECT_EQ(PaneName("C:\\Pics\\a.jpg", 1, 5), " a.jpg (2/5)");
    EXPECT_EQ(CounterText(2147483647, 1), " (2147483648/1)");
    EXPECT_EQ(PaneDimensions(3000000000u, 1), "Dimensions:  3000000000 x 1");
    EXPECT_EQ(PaneSort(18, false), "Sort by: DATE DESC");
    EXPECT_EQ(PaneSort(19, true), "Sort by: SIZE ASC");
    EXPECT_EQ(PaneSort(0, true), "Sort by: NAME ASC");
    EXPECT_EQ(DeleteQuestion("C:\\Pics\\a.jpg"), "Are you sure want to delete a.jpg ?");
    const std::pair<uint32_t, const char*> sizes[] = {
        {1024, "File size: 1 KB"}, {1048575, "File size: 1024 KB"}, {1048576, "File size: 1.00 MB"},
        {5 * 1048576 + 524288, "File size: 5.50 MB"}, {4294967295u, "File size: 4096.00 MB"}};
    for (const auto& c : sizes) EXPECT_EQ(PaneFileSize(c.first), c.second) << c.first;
}

TEST(TextsTest, MessagePathOnItsOwnLineShortenedInTheMiddle) {
    EXPECT_EQ(UnreadableFileText("C:\\b.png", "File not found."), "C:\\b.png\nFile not found.");
    const std::string deep = "C:\\" + std::string(300, 'd') + "\\\xD0\xBF\xD1\x80\xD0\xB8.jpg";
    const std::string shown = PathForMessage(deep);
    EXPECT_LE(shown.size(), kMessagePathBytes);
    EXPECT_EQ(shown.substr(0, 6), "C:\\ddd");
    EXPECT_EQ(shown.substr(shown.size() - 11), "\\\xD0\xBF\xD1\x80\xD0\xB8.jpg");
    EXPECT_NE(shown.find("..."), std::string::npos);
    // Cuts fall between characters, never inside one.
    std::string letters;
    for (int i = 0; i < 100; ++i) letters += "\xD0\xB4";
    for (const std::string& p : {PathForMessage("C:\\" + letters), PathForMessage("C:\\x" + letters),
                                 PathForMessage("C:\\" + letters + "x")}) {
        const size_t gap = p.find("...");
        ASSERT_NE(gap, std::string::npos);
        EXPECT_NE(static_cast<unsigned char>(p[gap + 3]) & 0xC0, 0x80u) << p;
        EXPECT_NE(static_cast<unsigned char>(p[gap - 1]), 0xD0u) << p;
    }
}
