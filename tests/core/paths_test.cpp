// Path functions, fitting and centring, and the display texts.
#include "fit.h"
#include "paths.h"
#include "texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

// ---------------------------------------------------------------- paths

TEST(PathsTest, SplitsAtTheLastBackslash) {
    EXPECT_EQ(Folder("C:\\Pics\\trip\\a.b.jpg"), "C:\\Pics\\trip\\");
    EXPECT_EQ(FileName("C:\\Pics\\trip\\a.b.jpg"), "a.b.jpg");
    EXPECT_EQ(BaseName("C:\\Pics\\trip\\a.b.jpg"), "a.b");
    EXPECT_EQ(ExtensionOf("a.b.jpg"), ".jpg");

    // No separator: no folder, the whole text is the name.
    EXPECT_EQ(Folder("a.jpg"), "");
    EXPECT_EQ(FileName("a.jpg"), "a.jpg");
    // A trailing separator: the folder is everything, the name empty.
    EXPECT_EQ(Folder("C:\\"), "C:\\");
    EXPECT_EQ(FileName("C:\\"), "");
    // "/" is not a separator of these texts.
    EXPECT_EQ(Folder("C:/Pics/a.jpg"), "");
    EXPECT_EQ(FileName("C:/Pics/a.jpg"), "C:/Pics/a.jpg");
}

TEST(PathsTest, NamesWithoutADot) {
    EXPECT_EQ(ExtensionOf("readme"), "readme");
    EXPECT_EQ(BaseName("C:\\Pics\\readme"), "");
    // A dot in a folder name belongs to no file name.
    EXPECT_EQ(BaseName("C:\\trip.2007\\readme"), "");
    EXPECT_EQ(ExtensionOf("C:\\trip.2007\\readme"), "C:\\trip.2007\\readme");
    // A name that is only an extension.
    EXPECT_EQ(ExtensionOf(".jpg"), ".jpg");
    EXPECT_EQ(BaseName("C:\\.jpg"), "");
    EXPECT_EQ(ExtensionOf("photo."), ".");
    EXPECT_EQ(BaseName("photo."), "photo");
}

TEST(PathsTest, SupportedPicturesByExtensionIgnoringCase) {
    for (const char* ext : {".jpg", ".jpe", ".jpeg", ".jif", ".jfif", ".bmp", ".dib", ".rle", ".tif", ".tiff",
                            ".png", ".pcx", ".tga"}) {
        std::string upper(ext);
        for (char& c : upper) c = static_cast<char>(c - 32 * (c >= 'a' && c <= 'z'));
        EXPECT_TRUE(IsSupportedPicture(std::string("x") + ext)) << ext;
        EXPECT_TRUE(IsSupportedPicture(std::string("C:\\Pics\\X") + upper)) << upper;
    }
    EXPECT_EQ(SupportedExtensions().size(), 13u);
    EXPECT_TRUE(IsSupportedPicture("b.JpEg"));
    EXPECT_FALSE(IsSupportedPicture("notes.txt"));
    EXPECT_FALSE(IsSupportedPicture("anim.gif"));
    EXPECT_FALSE(IsSupportedPicture("readme"));
    EXPECT_FALSE(IsSupportedPicture("jpg"));
    EXPECT_FALSE(IsSupportedPicture("a.jpgx"));
    EXPECT_FALSE(IsSupportedPicture("a.jpg.txt"));
    EXPECT_FALSE(IsSupportedPicture("a.jp"));
    EXPECT_FALSE(IsSupportedPicture("C:\\trip.jpg\\readme"));
    EXPECT_FALSE(IsSupportedPicture(""));
}

TEST(PathsTest, CaseInsensitiveComparisonFoldsAsciiToLower) {
    EXPECT_EQ(CompareNoCase("C:\\Pics\\B.JPG", "c:\\pics\\b.jpg"), 0);
    EXPECT_LT(CompareNoCase("a.jpg", "B.jpg"), 0);
    EXPECT_GT(CompareNoCase("C.png", "b.JPG"), 0);
    // Folding to lower case puts "_" (0x5F) before letters of either case.
    EXPECT_LT(CompareNoCase("_x", "Zx"), 0);
    EXPECT_LT(CompareNoCase("_x", "ax"), 0);
    // A prefix comes first.
    EXPECT_LT(CompareNoCase("ab", "ABC"), 0);
    // Bytes above 0x7F compare unsigned and are not folded.
    EXPECT_GT(CompareNoCase("\xE9", "z"), 0);
    EXPECT_NE(CompareNoCase("\xC9", "\xE9"), 0);
    EXPECT_EQ(AsciiLower("AbC\xC9.JPG"), "abc\xC9.jpg");
}

// ---------------------------------------------------------------- fitting

TEST(FitTest, WorkedExamples) {
    // Smaller in both directions: never enlarged.
    EXPECT_EQ(FitSize(400, 300, 1000, 600), (VSSize{400, 300}));
    // rw 2.0 > rh 1.67.
    EXPECT_EQ(FitSize(2000, 1000, 1000, 600), (VSSize{1000, 500}));
    // As wide as the box: falls to the ratios, rw 1.0 > rh 0.5.
    EXPECT_EQ(FitSize(1000, 300, 1000, 600), (VSSize{1000, 300}));
    // The turned camera picture: fitted, then its turned size fitted again.
    EXPECT_EQ(FitSize(3000, 2000, 1000, 600), (VSSize{900, 600}));
    EXPECT_EQ(FitSize(600, 900, 1000, 600), (VSSize{400, 600}));
    // Equal ratios give the box.
    EXPECT_EQ(FitSize(2000, 1200, 1000, 600), (VSSize{1000, 600}));
    EXPECT_EQ(FitSize(1000, 600, 1000, 600), (VSSize{1000, 600}));
}

TEST(FitTest, TruncatesTheShorterSide) {
    // 333 / 2 = 166.5.
    EXPECT_EQ(FitSize(1000, 333, 500, 500), (VSSize{500, 166}));
    // 1001 / 2.999 = 333.78.
    EXPECT_EQ(FitSize(2999, 1001, 1000, 600), (VSSize{1000, 333}));
    // 999 / (1001 / 500) = 499.001.
    EXPECT_EQ(FitSize(999, 1001, 500, 500), (VSSize{499, 500}));
}

TEST(FitTest, NeverEnlargesAndKeepsTheAspect) {
    const uint32_t boxes[][2] = {{1000, 600}, {160, 120}, {1, 1}, {1028, 772}, {7, 3000}};
    for (const auto& box : boxes) {
        for (uint32_t sw = 1; sw < 4000; sw += 173) {
            for (uint32_t sh = 1; sh < 4000; sh += 211) {
                const VSSize fit = FitSize(sw, sh, box[0], box[1]);
                ASSERT_LE(fit.width, box[0]);
                ASSERT_LE(fit.height, box[1]);
                ASSERT_LE(fit.width, sw);
                ASSERT_LE(fit.height, sh);
                // One side reaches the box unless the picture is smaller.
                if (!(sw < box[0] && sh < box[1])) {
                    ASSERT_TRUE(fit.width == box[0] || fit.height == box[1]);
                    // The truncated side is within one pixel of the exact ratio.
                    const double exactHeight = static_cast<double>(sh) * fit.width / sw;
                    const double exactWidth = static_cast<double>(sw) * fit.height / sh;
                    ASSERT_TRUE(std::fabs(exactHeight - fit.height) < 1.0 + 1e-9 ||
                                std::fabs(exactWidth - fit.width) < 1.0 + 1e-9)
                        << sw << "x" << sh << " in " << box[0] << "x" << box[1];
                }
            }
        }
    }
}

TEST(FitTest, EmptyBoxOrSourceDoesNotDivideByZero) {
    EXPECT_EQ(FitSize(400, 300, 0, 600), (VSSize{0, 0}));
    EXPECT_EQ(FitSize(400, 300, 1000, 0), (VSSize{0, 0}));
    EXPECT_EQ(FitSize(0, 0, 0, 0), (VSSize{0, 0}));
    EXPECT_EQ(FitSize(0, 0, 1000, 600), (VSSize{0, 0}));
    EXPECT_EQ(FitSize(0, 900, 1000, 600), (VSSize{0, 600}));
    EXPECT_EQ(FitSize(5000, 0, 1000, 600), (VSSize{1000, 0}));
}

TEST(FitTest, DisplayBoxAndFullScreen) {
    // Picture view: the client area less the toolbar (48) and status bar (18).
    EXPECT_EQ(DisplayBox(false, 784, 562, 1024, 768), (VSSize{784, 496}));
    EXPECT_EQ(DisplayBox(false, 784, 66, 1024, 768), (VSSize{784, 0}));
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
    // A fit down to the screen size in the picture view grows too.
    EXPECT_EQ(FitForDisplay(1600, 1200, VSSize{800, 600}, 800, 600), (VSSize{802, 602}));
}

TEST(FitTest, CenterInHalvesTheDifference) {
    EXPECT_EQ(CenterIn(400, 300, 0, 0, 1000, 600), (VSPoint{300, 150}));
    // Integer halving of an odd difference.
    EXPECT_EQ(CenterIn(401, 301, 0, 0, 1000, 600), (VSPoint{299, 149}));
    // The area's start is added.
    EXPECT_EQ(CenterIn(400, 300, 10, 48, 1000, 600), (VSPoint{310, 198}));
    EXPECT_EQ(CenterIn(400, 300, -20, -10, 1000, 600), (VSPoint{280, 140}));
    // Not smaller along an axis: offset 0 there, not the area's start.
    EXPECT_EQ(CenterIn(1000, 300, 10, 48, 1000, 600), (VSPoint{0, 198}));
    EXPECT_EQ(CenterIn(400, 700, 10, 48, 1000, 600), (VSPoint{310, 0}));
    EXPECT_EQ(CenterIn(1026, 770, -1, -1, 1025, 769), (VSPoint{0, 0}));
    EXPECT_EQ(CenterIn(0, 0, 0, 0, 0, 0), (VSPoint{0, 0}));
    // No overflow at the extremes.
    EXPECT_EQ(CenterIn(0, 0, 2147483647, 0, 4294967295u, 2), (VSPoint{2147483647, 1}));
}

// ---------------------------------------------------------------- texts

TEST(TextsTest, CaptionsAndNamePane) {
    EXPECT_EQ(CaptionWithCounter("C:\\Pics\\a.jpg", 0, 3), "Vistrel Viewer - v2.0 - Orvanta - a.jpg (1/3)");
    EXPECT_EQ(CaptionWithCounter("C:\\Pics\\sub\\b c.JPG", 11, 12),
              "Vistrel Viewer - v2.0 - Orvanta - b c.JPG (12/12)");
    EXPECT_EQ(CaptionPlain("C:\\Pics\\a.jpg"), "Vistrel Viewer - v2.0 - Orvanta - a.jpg");
    EXPECT_NE(CaptionPlain("x.jpg").find(kCaptionMark), std::string::npos);
    EXPECT_EQ(PaneName("C:\\Pics\\a.jpg", 1, 5), " a.jpg (2/5)");
    EXPECT_EQ(CounterText(2147483647, 1), " (2147483648/1)");
}

TEST(TextsTest, DimensionsPane) {
    EXPECT_EQ(PaneDimensions(640, 480), "Dimensions:  640 x 480");
    EXPECT_EQ(PaneDimensions(0, 0), "Dimensions:  0 x 0");
    EXPECT_EQ(PaneDimensions(3000000000u, 1), "Dimensions:  3000000000 x 1");
}

TEST(TextsTest, FileSizePaneSwitchesToMegabytesAtOneMebibyte) {
    EXPECT_EQ(PaneFileSize(1048575), "File size: 1024 KB");
    EXPECT_EQ(PaneFileSize(1048576), "File size: 1.00 MB");
    EXPECT_EQ(PaneFileSize(500), "File size: 0 KB");
    EXPECT_EQ(PaneFileSize(0), "File size: 0 KB");
    EXPECT_EQ(PaneFileSize(1024), "File size: 1 KB");
    EXPECT_EQ(PaneFileSize(5 * 1048576 + 524288), "File size: 5.50 MB");
    EXPECT_EQ(PaneFileSize(4294967295u), "File size: 4096.00 MB");
}

TEST(TextsTest, SortPaneAndEmptyPanes) {
    EXPECT_EQ(PaneSort(17, true), "Sort by: NAME ASC");
    EXPECT_EQ(PaneSort(18, false), "Sort by: DATE DESC");
    EXPECT_EQ(PaneSort(19, true), "Sort by: SIZE ASC");
    EXPECT_EQ(PaneSort(19, false), "Sort by: SIZE DESC");
    EXPECT_EQ(PaneSort(5, true), "Sort by: ASC");
    EXPECT_EQ(std::string(kPaneNameEmpty), " ");
    EXPECT_EQ(std::string(kPaneDimensionsEmpty), "Dimensions:  ");
    EXPECT_EQ(std::string(kPaneFileSizeEmpty), "File size: ");
    EXPECT_EQ(std::string(kPaneSortEmpty), "Sort by: ");
}

TEST(TextsTest, MessageTexts) {
    EXPECT_EQ(DeleteQuestion("C:\\Pics\\a.jpg"), "Are you sure want to delete a.jpg ?");
    EXPECT_EQ(UnreadableFileText("C:\\Pics\\a.jpg", "Access is denied.\r\n"), "C:\\Pics\\a.jpgAccess is denied.\r\n");
}
