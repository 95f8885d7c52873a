// The update check's verdicts and texts, and the open-with command parsing.
#include "programs.h"
#include "updateinfo.h"

#include <gtest/gtest.h>

namespace {

VSUpdateFacts Document(const std::string& version, const std::string& build) {
    VSUpdateFacts f;
    f.fetched = f.parsed = true;
    f.topLevelCount = 2;
    f.rootChildCount = 2;
    f.remoteVersion = version;
    f.remoteBuild = build;
    return f;
}

TEST(FeaturesUpdate, VersionThenBuildDecideWhetherARemoteReleaseIsNewer) {
    struct Case {
        const char* version;
        const char* build;
        VSUpdateResult want;
    } cases[] = {
        {"2.0", "071201", kUpdateNewer},   // the build decides
        {"2.1", "071130", kUpdateNewer},   // the version decides
        {"1.9", "080101", kUpdateNewer},   // the build is compared whenever the version is not greater
        {"2.0", "071130", kUpdateLatest},  // the same release
        {"2.0", "71130", kUpdateLatest},   // a leading zero does not count
        {"V2.1", "071130", kUpdateLatest}, // not a number: 0
        {"V2.1", "071131", kUpdateNewer},
        {"3.0", "000001", kUpdateNewer},
        {" 2.05xyz", "0", kUpdateNewer},   // atof's prefix
        {"nan", "nan", kUpdateLatest},     // not-a-number is never less
        {"", "", kUpdateLatest},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideUpdate(Document(c.version, c.build)), c.want) << c.version << " " << c.build;
}

TEST(FeaturesUpdate, FailedFetchesAndDocumentsWithoutTheNodesHaveTheirOwnDialogs) {
    VSUpdateFacts none;
    EXPECT_EQ(DecideUpdate(none), kUpdateFailed);
    VSUpdateFacts notXml;
    notXml.fetched = true;
    EXPECT_EQ(DecideUpdate(notXml), kUpdateBadDocument);
    VSUpdateFacts rootOnly = Document("9.0", "999999");
    rootOnly.topLevelCount = 1;  // no declaration before the root
    EXPECT_EQ(DecideUpdate(rootOnly), kUpdateBadDocument);
    VSUpdateFacts oneChild = Document("9.0", "999999");
    oneChild.rootChildCount = 1;
    EXPECT_EQ(DecideUpdate(oneChild), kUpdateBadDocument);
    // A count that cannot be read leaves both texts empty.
    VSUpdateFacts unknown = Document("9.0", "999999");
    unknown.rootChildCount = -1;
    EXPECT_EQ(DecideUpdate(unknown), kUpdateLatest);
}

TEST(FeaturesUpdate, DialogTextsAndAddresses) {
    EXPECT_EQ(NewerVersionText("2.1", "080115"),
              "Newer version of the program,\r\n2.1 (build 080115) \r\n is available for download.");
    EXPECT_EQ(RouteProblemText("www.orvanta.com"),
              "Sorry, Vistrel Viewer could not establish connection to check for the latest version. It seems "
              "there is some problem on route between your ISP and www.orvanta.com server. Please try again later.");
    EXPECT_EQ(HostAddress("www.orvanta.com", kUpdateInfoPath), "http://www.orvanta.com/swinfo/vsvinfo.xml");
    EXPECT_EQ(HostAddress("http://127.0.0.1:8080", kUpdateInfoPath), "http://127.0.0.1:8080/swinfo/vsvinfo.xml");
    EXPECT_EQ(WithHost("http://www.orvanta.com/vistrel/", "127.0.0.1:9"), "http://127.0.0.1:9/vistrel/");
    EXPECT_EQ(WithHost("http://www.orvanta.com/", "http://example.test/"), "http://example.test/");
    EXPECT_EQ(WithHost("http://www.orvanta.com", "h"), "http://h");
    EXPECT_EQ(WithHost("no scheme", "h"), "no scheme");
}

TEST(FeaturesUpdate, EditorVersionIsZeroWithoutTexts) {
    float v = -1, b = -1;
    EditorVersionFrom("", "", &v, &b);
    EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(b, 0.0f);
    EditorVersionFrom("2.3", "071130", &v, &b);
    EXPECT_FLOAT_EQ(v, 2.3f);
    EXPECT_FLOAT_EQ(b, 71130.0f);
    EditorVersionFrom("", "080000", &v, &b);
    EXPECT_EQ(v, 0.0f);
    EXPECT_FLOAT_EQ(b, 80000.0f);
}

TEST(FeaturesOpenWith, ClassKeysMatchTheExtensionInLowerOrUpperCaseOnly) {
    EXPECT_TRUE(KeyMatchesExtension("Foo.jpg", ".jpg"));
    EXPECT_TRUE(KeyMatchesExtension("Bar.JPG", ".jpg"));
    EXPECT_FALSE(KeyMatchesExtension("Bar.Jpg", ".jpg"));
    EXPECT_FALSE(KeyMatchesExtension("Bar.Jpg", ".Jpg"));  // only the lower- and upper-case copies
    EXPECT_TRUE(KeyMatchesExtension(".jpeg", ".jpe"));    // a substring search
    EXPECT_FALSE(KeyMatchesExtension("Foo.png", ".jpg"));
    EXPECT_FALSE(KeyMatchesExtension("Foo.png", ""));
}

TEST(FeaturesOpenWith, TheProgramIsCutFromTheOpenCommand) {
    EXPECT_EQ(ProgramFromCommand("\"C:\\Apps\\foo.exe\" \"%1\""), "C:\\Apps\\foo.exe");
    EXPECT_EQ(ProgramFromCommand("C:\\Windows\\mspaint.exe /p %1"), "C:\\Windows\\mspaint.exe");
    EXPECT_EQ(ProgramFromCommand("rundll32 shimgvw.dll"), "ru");
    EXPECT_EQ(ProgramFromCommand("%1exe"), "exe");
    EXPECT_EQ(ProgramFromCommand("C:\\EXE\\tool.EXE"), "C:");  // "exe" is case-sensitive
    EXPECT_EQ(ProgramFromCommand(""), "");
    EXPECT_TRUE(IsViewerProgram("C:\\VSViewer\\VSViewer.exe"));
    EXPECT_EQ(EntryNameFromKey("Foo.jpg"), "Foo");
    EXPECT_EQ(EntryNameFromKey("Paint.Picture.jpg"), "Paint");
    EXPECT_EQ(EntryNameFromKey(".jpg"), "");
    EXPECT_EQ(EntryNameFromKey("jpegfile"), "");
    EXPECT_EQ(LaunchCommandLine("C:\\Program Files\\X\\x.exe", "C:\\My Pictures\\a b.jpg"),
              "\"C:\\Program Files\\X\\x.exe\" \"C:\\My Pictures\\a b.jpg\"");
    EXPECT_EQ(DialogFilter("Programs (*.exe) |*.exe||"), std::string("Programs (*.exe) \0*.exe\0\0\0\0", 27));
}

}  // namespace
