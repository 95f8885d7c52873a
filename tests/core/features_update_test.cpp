// The update check's verdicts and texts, and the open-with command parsing.
#include "programs.h"
#include "updateinfo.h"

#include <gtest/gtest.h>

namespace {

VSUpdateFacts Document(const std::string& version, const std::string& build, int32_t top = 2, int32_t children = 2) {
    VSUpdateFacts f;
    f.fetched = f.parsed = true;
    f.topLevelCount = top;
    f.rootChildCount = children;
    f.remoteVersion = version;
    f.remoteBuild = build;
    return f;
}

TEST(FeaturesUpdate, VersionThenBuildDecideWhetherARemoteReleaseIsNewer) {
    VSUpdateFacts notXml;
    notXml.fetched = true;
    const struct {
        VSUpdateFacts facts;
        VSUpdateResult want;
    } cases[] = {
        {Document("2.0", "071201"), kUpdateNewer},   // the build decides
        {Document("2.1", "071130"), kUpdateNewer},   // the version decides
        {Document("1.9", "080101"), kUpdateNewer},   // the build is compared whenever the version is not greater
        {Document("2.0", "071130"), kUpdateLatest},  // the same release
        {Document("2.0", "71130"), kUpdateLatest},   // a leading zero does not count
        {Document("V2.1", "071130"), kUpdateLatest}, // not a number: 0
        {Document("V2.1", "071131"), kUpdateNewer},
        {Document(" 2.05xyz", "0"), kUpdateNewer},   // atof's prefix
        {Document("nan", "nan"), kUpdateLatest},     // not-a-number is never less
        {Document("", ""), kUpdateLatest},
        {VSUpdateFacts(), kUpdateFailed},
        {notXml, kUpdateBadDocument},
        {Document("9.0", "999999", 1), kUpdateBadDocument},  // no declaration before the root
        {Document("9.0", "999999", 2, 1), kUpdateBadDocument},
        {Document("9.0", "999999", -1, 2), kUpdateNewer},    // counts that cannot be read pass
        {Document("9.0", "999999", 2, -1), kUpdateLatest},   // and leave both texts empty
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideUpdate(c.facts), c.want) << c.facts.remoteVersion << " " << c.facts.remoteBuild << " "
                                                 << c.facts.topLevelCount << " " << c.facts.rootChildCount;
}

TEST(FeaturesUpdate, DialogTextsAddressesAndTheEditorVersion) {
    EXPECT_EQ(NewerVersionText("2.1", "080115"),
              "Newer version of the program,\r\n2.1 (build 080115) \r\n is available for download.");
    EXPECT_NE(RouteProblemText("www.orvanta.com").find("between your ISP and www.orvanta.com server. Please"),
              std::string::npos);
    EXPECT_EQ(HostAddress("www.orvanta.com", kUpdateInfoPath), "http://www.orvanta.com/swinfo/vsvinfo.xml");
    EXPECT_EQ(HostAddress("http://127.0.0.1:8080", kUpdateInfoPath), "http://127.0.0.1:8080/swinfo/vsvinfo.xml");
    EXPECT_EQ(WithHost("http://www.orvanta.com/vistrel/", "127.0.0.1:9"), "http://127.0.0.1:9/vistrel/");
    EXPECT_EQ(WithHost("http://www.orvanta.com/", "http://example.test/"), "http://example.test/");
    EXPECT_EQ(WithHost("http://www.orvanta.com", "h"), "http://h");
    EXPECT_EQ(WithHost("no scheme", "h"), "no scheme");

    float v = -1, b = -1;
    EditorVersionFrom("", "", &v, &b);
    EXPECT_TRUE(v == 0 && b == 0);
    EditorVersionFrom("", "080000", &v, &b);
    EXPECT_TRUE(v == 0 && b == 80000);
    EditorVersionFrom("2.3", "", &v, &b);
    EXPECT_TRUE(v == 2.3f && b == 0);
}

TEST(FeaturesOpenWith, ClassKeysAndTheProgramOfTheOpenCommand) {
    EXPECT_TRUE(KeyMatchesExtension("Bar.JPG", ".jpg"));
    EXPECT_TRUE(KeyMatchesExtension(".jpeg", ".jpe"));  // a substring search
    EXPECT_FALSE(KeyMatchesExtension("Bar.Jpg", ".Jpg"));  // only the lower- and upper-case copies
    EXPECT_FALSE(KeyMatchesExtension("Foo.png", ""));
    const std::pair<const char*, const char*> commands[] = {
        {"\"C:\\Apps\\foo.exe\" \"%1\"", "C:\\Apps\\foo.exe"},
        {"C:\\Windows\\mspaint.exe /p %1", "C:\\Windows\\mspaint.exe"},
        {"rundll32 shimgvw.dll", "ru"},
        {"%1exe", "exe"},
        {"%2exe", "%2exe"},
        {"%%1exe", "%exe"},
        {"C:\\EXE\\tool.EXE", "C:"},  // "exe" is case-sensitive
        {"", ""},
    };
    for (const auto& c : commands) EXPECT_EQ(ProgramFromCommand(c.first), c.second) << c.first;
    EXPECT_EQ(EntryNameFromKey("Paint.Picture.jpg"), "Paint");
    EXPECT_EQ(EntryNameFromKey("jpegfile"), "");
    EXPECT_EQ(LaunchCommandLine("C:\\Program Files\\X\\x.exe", "C:\\My Pictures\\a b.jpg"),
              "\"C:\\Program Files\\X\\x.exe\" \"C:\\My Pictures\\a b.jpg\"");
    EXPECT_EQ(DialogFilter("Programs (*.exe) |*.exe||"), std::string("Programs (*.exe) \0*.exe\0\0\0\0", 27));
}

}  // namespace
