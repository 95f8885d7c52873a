// Paths, fitting, display texts, what drops and open-dialog selections
// open, the update check's verdicts and the open-with command parsing.
#include "browse/fit.h"
#include "browse/opening.h"
#include "browse/paths.h"
#include "features/programs.h"
#include "browse/texts.h"
#include "features/updateinfo.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using Paths = std::vector<std::string>;

TEST(PathsTest, FolderNameExtensionSupportedPicturesAndComparisonIgnoringAsciiCase) {
    const struct { const char *path, *folder, *name, *extension; } cases[] = {
        {"C:\\Pics\\trip\\a.b.jpg", "C:\\Pics\\trip\\", "a.b.jpg", ".jpg"},
        {"a.jpg", "", "a.jpg", ".jpg"},         // no separator: the whole text is the name
        {"C:\\", "C:\\", "", "C:\\"},            // a trailing separator: the name is empty
        {"C:/Pics/a.jpg", "", "C:/Pics/a.jpg", ".jpg"},  // "/" is no separator here
        {"C:\\trip.2007\\readme", "C:\\trip.2007\\", "readme", "C:\\trip.2007\\readme"},  // a folder's dot
        {"photo.", "", "photo.", "."}};
    for (const auto& c : cases) {
        EXPECT_EQ(Folder(c.path), c.folder) << c.path;
        EXPECT_EQ(FileName(c.path), c.name) << c.path;
        EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
    }
    for (const char* yes : {"x.jpg", "b.JpEg", "C:\\Pics\\X.TGA", "a.dib", ".rle"})
        EXPECT_TRUE(IsSupportedPicture(yes)) << yes;
    for (const char* no : {"notes.txt", "anim.gif", "jpg", "a.jpgx", "a.jpg.txt", "C:\\trip.jpg\\readme", ""})
        EXPECT_FALSE(IsSupportedPicture(no)) << no;
    // Folded to lower case, so "_" (0x5F) comes first; bytes above 0x7F compare unsigned and are not folded.
    const std::tuple<const char*, const char*, int> order[] = {{"C:\\Pics\\B.JPG", "c:\\pics\\b.jpg", 0}, {"a.jpg", "B.jpg", -1},
        {"C.png", "b.JPG", 1}, {"_x", "Zx", -1}, {"ab", "ABC", -1}, {"abc", "AB", 1}, {"\xE9", "z", 1}};
    for (const auto& [a, b, sign] : order) EXPECT_EQ((CompareNoCase(a, b) > 0) - (CompareNoCase(a, b) < 0), sign) << a;
    EXPECT_EQ(AsciiLower("AbC\xC9.JPG"), "abc\xC9.jpg");
}

TEST(FitTest, WorkedExamplesTruncationDisplayBoxFullScreenAndCentring) {
    const struct { uint32_t w, h, bw, bh; VSSize want; } cases[] = {
        {400, 300, 1000, 600, {400, 300}},    // never enlarged
        {2000, 1000, 1000, 600, {1000, 500}}, {2000, 1200, 1000, 600, {1000, 600}},
        {1000, 333, 500, 500, {500, 166}},    // 166.5 truncated
        {999, 1001, 500, 500, {499, 500}},
        {500, 1000, 1000, 120, {60, 120}},    // 59 in floating point
        {400, 300, 0, 600, {0, 0}},           // empty boxes and pictures divide by nothing
        {400, 300, 1000, 0, {0, 0}}, {0, 900, 1000, 600, {0, 600}}, {5000, 0, 1000, 600, {1000, 0}}};
    for (const auto& c : cases)
        EXPECT_EQ(FitSize(c.w, c.h, c.bw, c.bh), c.want) << c.w << "x" << c.h << " in " << c.bw << "x" << c.bh;
    // Picture view: the client area less the toolbar (48) and the status bar.
    EXPECT_EQ(DisplayBox(false, PictureArea(784, 562, 20), 1024, 768), (VSSize{784, 494}));
    EXPECT_EQ(PictureArea(784, 68, 20), (VSSize{784, 0}));
    EXPECT_EQ(PictureArea(784, 562, 4294967295u), (VSSize{784, 0}));
    // Full screen: the screen plus 4 each way.
    const VSSize box = DisplayBox(true, PictureArea(784, 562, 20), 1024, 768);
    EXPECT_EQ(box, (VSSize{1028, 772}));
    EXPECT_EQ(DisplayBox(true, {}, 4294967295u, 1), (VSSize{4294967295u, 5}));
    EXPECT_EQ(FitForDisplay(2056, 1544, box, 1024, 768), (VSSize{1028, 772}));
    // Kept at its size by the fit, then grown by 2 for being the screen size.
    EXPECT_EQ(FitForDisplay(1024, 768, box, 1024, 768), (VSSize{1026, 770}));
    // Only an exact match of both sides grows.
    EXPECT_EQ(FitForDisplay(1024, 700, box, 1024, 768), (VSSize{1024, 700}));

    EXPECT_EQ(CenterIn(401, 301, 0, 0, 1000, 600), (VSPoint{299, 149}));
    EXPECT_EQ(CenterIn(400, 300, -20, 48, 1000, 600), (VSPoint{280, 198}));
    // Not smaller along an axis: offset 0 there, not the area's start.
    EXPECT_EQ(CenterIn(1000, 700, 10, 48, 1000, 600), (VSPoint{0, 0}));
    // No overflow at the extremes.
    EXPECT_EQ(CenterIn(0, 0, 2147483647, 0, 4294967295u, 2), (VSPoint{2147483647, 1}));
}

TEST(TextsTest, CaptionsPanesAndMessagePathsShortenedInTheMiddle) {
    EXPECT_EQ(CounterText(2147483647, 1), " (2147483648/1)");
    EXPECT_EQ(PaneDimensions(3000000000u, 1), "Dimensions:  3000000000 x 1");
    EXPECT_EQ(PaneSort(18, false) + "|" + PaneSort(0, true), "Sort by: DATE DESC|Sort by: NAME ASC");
    const std::pair<uint32_t, const char*> sizes[] = {
        {1024, "File size: 1 KB"}, {1048575, "File size: 1024 KB"}, {1048576, "File size: 1.00 MB"},
        {5 * 1048576 + 524288, "File size: 5.50 MB"}, {4294967295u, "File size: 4096.00 MB"}};
    for (const auto& c : sizes) EXPECT_EQ(PaneFileSize(c.first), c.second) << c.first;
    // A picture listed, one no longer listed, none.
    const struct { const char* path; int32_t index; const char* want; } shown[] = {
        {"C:\\P\\a.png", 2, "Vistrel Viewer - v2.0 - Orvanta - a.png (3/4)| a.png (3/4)|Dimensions:  7 x 5|File size: 2 KB"},
        {"C:\\P\\a.png", -1, "Vistrel Viewer - v2.0 - Orvanta - a.png| a.png|Dimensions:  7 x 5|File size: 2 KB"},
        {"", 2, "Vistrel Viewer - v2.0 - Orvanta| |Dimensions:  |File size: "}};
    for (const auto& c : shown) {
        const VSPictureTexts t = PictureTexts(c.path, c.index, 4, 7, 5, 2048);
        EXPECT_EQ(t.caption + "|" + t.name + "|" + t.dimensions + "|" + t.fileSize, c.want);
    }
    // A message puts the path on its own line, shortened in the middle.
    EXPECT_EQ(UnreadableFileText("C:\\b.png", "File not found."), "C:\\b.png\nFile not found.");
    const std::string name = "\\\xD0\xBF\xD1\x80\xD0\xB8.jpg";  // 80 bytes: a third before the cut, the rest after
    EXPECT_EQ(PathForMessage("C:\\" + std::string(300, 'd') + name),
              "C:\\" + std::string(22, 'd') + "..." + std::string(41, 'd') + name);
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

TEST(OpeningDrop, SeveralPathsOrOneNameThatIsFolderFileOrUnsupported) {
    const VSOpenPlan plan =
        PlanDrop({"C:\\a\\z.JPG", "C:\\a\\notes.txt", "C:\\b\\y.tga", "C:\\a\\folder", "C:\\a\\x.Png"}, true);
    EXPECT_EQ(plan.kind, VSOpenPlan::kFiles);
    EXPECT_EQ(plan.paths, (Paths{"C:\\a\\z.JPG", "C:\\b\\y.tga", "C:\\a\\x.Png"}));
    // None supported: the OLE drop shows nothing new, WM_DROPFILES the kept list's first entry.
    EXPECT_EQ(PlanDrop({"C:\\a.txt", "C:\\b.doc"}, true).kind, VSOpenPlan::kNothing);
    EXPECT_EQ(PlanDrop({"C:\\a.txt", "C:\\b.doc"}, false).kind, VSOpenPlan::kKeepFirst);
    EXPECT_EQ(PlanDrop({}, true).kind, VSOpenPlan::kNothing);

    const std::string longName = "C:\\" + std::string(300, 'a') + ".jpg";
    const struct { std::string path; VSOpenPlan::Kind kind; std::string planned; } cases[] = {
        {"C:\\Pics", VSOpenPlan::kFolder, "C:\\Pics\\"}, {"C:\\Pics\\", VSOpenPlan::kFolder, "C:\\Pics\\"},
        {"", VSOpenPlan::kFolder, "\\"},
        // Only a dot in the last name makes a file of it, and opens nothing unless supported.
        {"C:\\My.Pictures\\Holiday", VSOpenPlan::kFolder, "C:\\My.Pictures\\Holiday\\"},
        {"C:\\Pics\\2007.summer", VSOpenPlan::kUnsupported, "C:\\Pics\\2007.summer"},
        {"C:\\Pics\\CAT.TIF", VSOpenPlan::kFile, "C:\\Pics\\CAT.TIF"},
        // Cut to the drop buffer's 259 characters, then taken as a folder.
        {longName, VSOpenPlan::kFolder, longName.substr(0, 259) + "\\"}};
    for (const auto& c : cases) {
        const VSOpenPlan one = PlanDrop({c.path}, true);
        EXPECT_TRUE(one.kind == c.kind && one.path == c.planned && PlanDrop({c.path}, false).kind == c.kind) << c.path;
    }
}

TEST(OpeningDialog, SelectionsTheFolderTheNextDialogStartsInAndAFilterOfEveryExtension) {
    using namespace std::string_literals;
    const struct { std::string buffer; Paths paths; std::string initDir; } cases[] = {
        {"C:\\Pics\\cat.jpg\0\0"s, {"C:\\Pics\\cat.jpg"}, "C:\\Pics\\"},  // one file: its folder
        // Several: the folder comes without its "\", so the parent.
        {"C:\\Pics\0b.jpg\0a.png\0\0"s, {"C:\\Pics\\b.jpg", "C:\\Pics\\a.png"}, "C:\\"},
        // At a drive's root the folder already ends in "\".
        {"C:\\\0x.jpg\0y.jpg\0\0"s, {"C:\\x.jpg", "C:\\y.jpg"}, "C:\\"}, {"\0\0"s, {}, ""},
        {"C:\\ab"s, {"C:\\ab"}, "C:\\"},  // no closing zero: the text ends at the size
    };
    for (const auto& c : cases) {
        const VSDialogSelection s = ParseOpenSelection(c.buffer.data(), c.buffer.size());
        EXPECT_TRUE(s.paths == c.paths && s.initDir == c.initDir) << c.buffer;
    }
    // The filter lists every extension the folder list accepts.
    const std::string pairs = OpenDialogFilterPairs();
    ASSERT_EQ(pairs.substr(pairs.size() - 2), std::string(2, '\0'));
    std::vector<std::string> texts;
    for (size_t at = 0; at + 1 < pairs.size(); at = pairs.find('\0', at) + 1) texts.push_back(pairs.c_str() + at);
    ASSERT_EQ(texts.size(), 14u);  // all formats, then six of their own
    EXPECT_EQ(texts[0] + "|" + texts[4], "All supported formats |JPEG (*.jpg;*.jpe;*.jpeg;*.jif;*.jfif)");
    for (const std::string& ext : SupportedExtensions())
        EXPECT_NE((";" + texts[1] + ";").find(";*" + ext + ";"), std::string::npos) << ext;
}

TEST(FeaturesUpdate, VersionThenBuildDecideWhetherARemoteReleaseIsNewerAddressesAndTheEditorVersion) {
    auto document = [](const std::string& version, const std::string& build, int32_t top = 2, int32_t children = 2) {
        VSUpdateFacts f;
        f.fetched = f.parsed = true;
        f.topLevelCount = top, f.rootChildCount = children, f.remoteVersion = version, f.remoteBuild = build;
        return f;
    };
    VSUpdateFacts notXml;
    notXml.fetched = true;
    const struct { VSUpdateFacts facts; VSUpdateResult want; } cases[] = {
        {document("2.1", "071130"), kUpdateNewer},   // the version decides
        {document("1.9", "080101"), kUpdateNewer},   // the build is compared whenever the version is not greater
        {document("2.0", "071130"), kUpdateLatest},  // the same release
        {document("2.0", "71130"), kUpdateLatest},   // a leading zero does not count
        {document("V2.1", "071130"), kUpdateLatest}, // not a number: 0
        {document(" 2.05xyz", "0"), kUpdateNewer},   // atof's prefix
        {document("nan", "nan"), kUpdateLatest},     // not-a-number is never less
        {VSUpdateFacts(), kUpdateFailed}, {notXml, kUpdateBadDocument},
        {document("9.0", "999999", 0), kUpdateBadDocument},  // fewer than two top-level nodes
        {document("9.0", "999999", 2, 1), kUpdateBadDocument},
        {document("9.0", "999999", -1, 2), kUpdateNewer},    // counts that cannot be read pass
        {document("9.0", "999999", 2, -1), kUpdateLatest},   // and leave both texts empty
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideUpdate(c.facts), c.want) << c.facts.remoteVersion << " " << c.facts.remoteBuild << " "
                                                 << c.facts.topLevelCount << " " << c.facts.rootChildCount;
    EXPECT_EQ(HostAddress("www.orvanta.com", kUpdateInfoPath), "http://www.orvanta.com/swinfo/vsvinfo.xml");
    EXPECT_EQ(HostAddress("http://127.0.0.1:8080", kUpdateInfoPath), "http://127.0.0.1:8080/swinfo/vsvinfo.xml");
    EXPECT_EQ(WithHost("http://www.orvanta.com/vistrel/", "127.0.0.1:9") + WithHost("http://www.orvanta.com/", "http://e.test/") +
                  WithHost("http://www.orvanta.com", "h") + WithHost("no scheme", "h"),
              "http://127.0.0.1:9/vistrel/http://e.test/http://hno scheme");
    const std::tuple<const char*, const char*, float, float> editor[] = {
        {"", "", 0, 0}, {"", "080000", 0, 80000}, {"2.3", "", 2.3f, 0}};
    for (const auto& [version, build, wantVersion, wantBuild] : editor) {
        float v = -1, b = -1;
        EditorVersionFrom(version, build, &v, &b);
        EXPECT_TRUE(v == wantVersion && b == wantBuild) << version << build;
    }
}

TEST(FeaturesOpenWith, ClassKeysAndTheProgramOfTheOpenCommand) {
    EXPECT_TRUE(KeyMatchesExtension("Bar.JPG", ".jpg"));
    EXPECT_TRUE(KeyMatchesExtension(".jpeg", ".jpe"));  // a substring search
    EXPECT_FALSE(KeyMatchesExtension("Bar.Jpg", ".Jpg"));  // only the lower- and upper-case copies
    EXPECT_FALSE(KeyMatchesExtension("Foo.png", ""));
    const std::pair<const char*, const char*> commands[] = {
        {"\"C:\\Apps\\foo.exe\" \"%1\"", "C:\\Apps\\foo.exe"}, {"rundll32 shimgvw.dll", "ru"}, {"%1exe", "exe"},
        {"C:\\Windows\\mspaint.exe /p %1", "C:\\Windows\\mspaint.exe"}, {"%2exe", "%2exe"}, {"%%1exe", "%exe"},
        {"", ""}, {"C:\\EXE\\tool.EXE", "C:"},  // "exe" is case-sensitive
    };
    for (const auto& c : commands) EXPECT_EQ(ProgramFromCommand(c.first), c.second) << c.first;
    EXPECT_EQ(EntryNameFromKey("Paint.Picture.jpg") + "|" + EntryNameFromKey("jpegfile"), "Paint|");
    EXPECT_EQ(LaunchCommandLine("C:\\Program Files\\X\\x.exe", "C:\\My Pictures\\a b.jpg"),
              "\"C:\\Program Files\\X\\x.exe\" \"C:\\My Pictures\\a b.jpg\"");
    EXPECT_EQ(DialogFilter("Programs (*.exe) |*.exe||"), std::string("Programs (*.exe) \0*.exe\0\0\0\0", 27));
}
