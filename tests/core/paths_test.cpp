// Path functions, fitting and centring, and the display texts.
#include "fit.h"
#include "paths.h"
#include "texts.h"

#include <gtest/gtest.h>

#include <cmath>
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
        {".jpg", "", ".jpg", ".jpg"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Folder(c.path), c.folder) << c.path;
        EXPECT_EQ(FileName(c.path), c.name) << c.path;
        EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
    }
}

TEST(PathsTest, SupportedPicturesByExtensionIgnoringCase) {
    for (const std::string& ext : SupportedExtensions()) {
        std::string upper = ext;
        for (char& c : upper) c = static_cast<char>(c - 32 * (c >= 'a' && c <= 'z'));
        EXPECT_TRUE(IsSupportedPicture("x" + ext)) << ext;
        EXPECT_TRUE(IsSupportedPicture("C:\\Pics\\X" + upper)) << upper;
    }
    EXPECT_TRUE(IsSupportedPicture("b.JpEg"));
    for (const char* no : {"notes.txt", "anim.gif", "readme", "jpg", "a.jpgx", "a.jpg.txt", "a.jp",
                           "C:\\trip.jpg\\readme", ""})
        EXPECT_FALSE(IsSupportedPicture(no)) << no;
}

TEST(PathsTest, CaseInsensitiveComparisonFoldsAsciiToLower) {
    EXPECT_EQ(CompareNoCase("C:\\Pics\\B.JPG", "c:\\pics\\b.jpg"), 0);
    EXPECT_LT(CompareNoCase("a.jpg", "B.jpg"), 0);
    EXPECT_GT(CompareNoCase("C.png", "b.JPG"), 0);
    // Folding to lower case puts "_" (0x5F) before letters of either case.
    EXPECT_LT(CompareNoCase("_x", "Zx"), 0);
    EXPECT_LT(CompareNoCase("ab", "ABC"), 0);
    // Bytes above 0x7F compare unsigned and are not folded.
    EXPECT_GT(CompareNoCase("\xE9", "z"), 0);
    EXPECT_NE(CompareNoCase("\xC9", "\xE9"), 0);
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
        {2999, 1001, 1000, 600, {1000, 333}},
        {999, 1001, 500, 500, {499, 500}},
        {400, 300, 0, 600, {0, 0}},           // empty boxes and pictures divide by nothing
        {400, 300, 1000, 0, {0, 0}},
        {0, 0, 1000, 600, {0, 0}},
        {0, 900, 1000, 600, {0, 600}},
        {5000, 0, 1000, 600, {1000, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitSize(c.w, c.h, c.bw, c.bh), c.want) << c.w << "x" << c.h << " in " << c.bw << "x" << c.bh;
}

TEST(FitTest, NeverEnlargesAndKeepsTheAspect) {
    const uint32_t boxes[][2] = {{1000, 600}, {160, 120}, {1, 1}, {7, 3000}};
    for (const auto& box : boxes) {
        for (uint32_t sw = 1; sw < 4000; sw += 173) {
            for (uint32_t sh = 1; sh < 4000; sh += 211) {
                const VSSize fit = FitSize(sw, sh, box[0], box[1]);
                ASSERT_LE(fit.width, std::min(box[0], sw));
                ASSERT_LE(fit.height, std::min(box[1], sh));
                if (sw < box[0] && sh < box[1]) continue;
                // One side reaches the box; the other is within a pixel of the ratio.
                ASSERT_TRUE(fit.width == box[0] || fit.height == box[1]);
                const double exactHeight = static_cast<double>(sh) * fit.width / sw;
                const double exactWidth = static_cast<double>(sw) * fit.height / sh;
                ASSERT_TRUE(std::fabs(exactHeight - fit.height) < 1.0 + 1e-9 ||
                            std::fabs(exactWidth - fit.width) < 1.0 + 1e-9)
                    << sw << "x" << sh << " in " << box[0] << "x" << box[1];
            }
        }
    }
}

TEST(FitTest, DisplayBoxAndFullScreen) {
    // Picture view: the client area less the toolbar (48) and status bar (18).
    EXPECT_EQ(DisplayBox(false, 784, 562, 1024, 768), (VSSize{784, 496}));
    EXPECT_EQ(DisplayBox(false, 784, 20, 1024, 768), (VSSize{784, 0}));
    // Full screen: the screen plus 4 each way.
    const VSSize box = DisplayBox(true, 784, 562, 1024, 768);
    EXPECT_EQ(box, (VSSize{1028, 772}));
    EXPECT_EQ(FitForDisplay(2056, 1544, box, 1024, 768), (VSSize{1028, 772}));
    // Kept at its size by the fit, then grown by 2 for being the screen size.
    EXPECT_EQ(FitForDisplay(1024, 768, box, 1024, 768), (VSSize{1026, 770}));
    // Only an exact match of both sides grows.
    EXPECT_EQ(FitForDisplay(1024, 700, box, 1024, 768), (VSSize{1024, 700}));
    EXPECT_EQ(FitForDisplay(1000, 768, box, 1024, 768), (VSSize{1000, 768}));
    EXPECT_EQ(FitForDisplay(1600, 1200, VSSize{800, 600}, 800, 600), (VSSize{802, 602}));
}

TEST(FitTest, CenterInHalvesTheDifference) {
    EXPECT_EQ(CenterIn(400, 300, 0, 0, 1000, 600), (VSPoint{300, 150}));
    EXPECT_EQ(CenterIn(401, 301, 0, 0, 1000, 600), (VSPoint{299, 149}));
    EXPECT_EQ(CenterIn(400, 300, -20, 48, 1000, 600), (VSPoint{280, 198}));
    // Not smaller along an axis: offset 0 there, not the area's start.
    EXPECT_EQ(CenterIn(1000, 300, 10, 48, 1000, 600), (VSPoint{0, 198}));
    EXPECT_EQ(CenterIn(400, 700, 10, 48, 1000, 600), (VSPoint{310, 0}));
    // No overflow at the extremes.
    EXPECT_EQ(CenterIn(0, 0, 2147483647, 0, 4294967295u, 2), (VSPoint{2147483647, 1}));
}

TEST(TextsTest, CaptionsAndPanes) {
    EXPECT_EQ(CaptionWithCounter("C:\\Pics\\sub\\b c.JPG", 11, 12),
              "Vistrel Viewer - v2.0 - Orvanta - b c.JPG (12/12)");
    EXPECT_EQ(CaptionPlain("C:\\Pics\\a.jpg"), "Vistrel Viewer - v2.0 - Orvanta - a.jpg");
    EXPECT_NE(CaptionPlain("x.jpg").find(kCaptionMark), std::string::npos);
    EXPECT_EQ(PaneName("C:\\Pics\\a.jpg", 1, 5), " a.jpg (2/5)");
    EXPECT_EQ(CounterText(2147483647, 1), " (2147483648/1)");
    EXPECT_EQ(PaneDimensions(3000000000u, 1), "Dimensions:  3000000000 x 1");
    EXPECT_EQ(PaneSort(18, false), "Sort by: DATE DESC");
    EXPECT_EQ(PaneSort(19, true), "Sort by: SIZE ASC");
    EXPECT_EQ(PaneSort(5, true), "Sort by: ASC");
    EXPECT_EQ(DeleteQuestion("C:\\Pics\\a.jpg"), "Are you sure want to delete a.jpg ?");
    EXPECT_EQ(UnreadableFileText("C:\\Pics\\a.jpg", "Access is denied.\r\n"), "C:\\Pics\\a.jpgAccess is denied.\r\n");
}

TEST(TextsTest, FileSizePaneSwitchesToMegabytesAtOneMebibyte) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "File size: 0 KB"},           {1024, "File size: 1 KB"},
        {1048575, "File size: 1024 KB"},  {1048576, "File size: 1.00 MB"},
        {5 * 1048576 + 524288, "File size: 5.50 MB"}, {4294967295u, "File size: 4096.00 MB"},
    };
    for (const auto& c : cases) EXPECT_EQ(PaneFileSize(c.first), c.second) << c.first;
}
