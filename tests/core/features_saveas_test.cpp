// Save As with real files: the type by extension, the byte copy, and a
// target that is replaced only by a complete new file.
#include "codec/IS40pngtiff.h"
#include "features/saveas.h"
#include "tests/core/testutil.h"

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

using namespace vstest;

namespace {

struct PosixFiles : VSSaveFiles {
    bool failReplace = false;
    std::vector<std::string> removed;
    bool Exists(const std::string& path) override { struct stat st; return stat(path.c_str(), &st) == 0; }
    bool Copy(const std::string& source, const std::string& destination) override {
        std::ifstream in(source, std::ios::binary);
        std::ofstream out(destination, std::ios::binary);
        return in && out << in.rdbuf() && out.flush();
    }
    bool Replace(const std::string& complete, const std::string& target) override {
        return !failReplace && std::rename(complete.c_str(), target.c_str()) == 0;
    }
    void Remove(const std::string& path) override { removed.push_back(path), std::remove(path.c_str()); }
    bool ReadOnly(const std::string& path) override {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR);
    }
};

struct FeaturesSaveAs : ::testing::Test, VSLoaderHost {
    std::vector<std::string> failed;
    ImageLoader loader{*this};
    PosixFiles files;
    VSSize ScreenSize() override { return {1280, 1024}; }
    void ReadFailed(uint32_t, const std::string& path) override { failed.push_back(path); }
    void Message(const std::string& text) override { failed.push_back(text); }

    VSSaveOutcome Save(const std::string& from, const std::string& to, const char* ext) {
        return SavePicture(loader, files, from, to, ext);
    }
    ImageRecord Read(const std::string& path) {
        ImageRecord record;
        EXPECT_TRUE(loader.ReadPicture(path, &record)) << path;
        return record;
    }
};

TEST(FeaturesSaveAsRules, TypeByExtensionAndTheByteCopyRule) {
    const std::pair<const char*, uint32_t> types[] = {{"jpg", IS_FT_JPEG}, {"Pcx", IS_FT_PCX}, {"tiff", IS_FT_TIFF},
                                                      {"JPEG", IS_FT_JPEG}, {"tga", IS_FT_TGA}, {"bmp", IS_FT_BMP},
                                                      {"gif", IS_FT_PNG}};  // no type we write: the picture's own
    for (const auto& t : types) EXPECT_EQ(SaveTypeFor(t.first, IS_FT_PNG), t.second) << t.first;
    EXPECT_TRUE(IsByteCopy("C:\\p\\photo.JPG", "JPG") && IsByteCopy("C:\\p\\photo.jpeg", "jpg") &&
                IsByteCopy("C:\\p\\photo.JPE", "jpeg"));
    for (const auto& no : {std::make_pair("C:\\p\\photo.png", "jpg"), std::make_pair("C:\\p\\photo.jpg", "png"),
                           std::make_pair("C:\\p.jpg\\photo", "jpg")})  // a dot in the folder is no extension
        EXPECT_FALSE(IsByteCopy(no.first, no.second)) << no.first;
    EXPECT_EQ(SaveInitialName("C:\\p\\holiday.2007.jpg") + "|" + SaveInitialName("C:\\p\\noext"), "holiday.2007|noext");
}

TEST_F(FeaturesSaveAs, CopiesAJpegByteForByteEncodesOthersFullSizeUprightAndNeverOverAProtectedFile) {
    const std::string jpg = WritePatternJpeg("photo.jpg", 64, 48, 90);
    EXPECT_TRUE(Save(jpg, ScratchPath("copy.jpeg"), "jpeg").saved);
    EXPECT_EQ(ReadFileBytes(ScratchPath("copy.jpeg")), ReadFileBytes(jpg));
    EXPECT_TRUE(Save(WritePatternPng("p.png", 16, 8), ScratchPath("encoded.jpg"), "jpg").saved);
    EXPECT_EQ(Read(ScratchPath("encoded.jpg")).fileType, IS_FT_JPEG);
    // The picture saved is the user's: full size, upright, and never over a file the user protected.
    // Larger than twice the screen: the display decodes it scaled down.
    const std::string large = WritePatternJpeg("large.jpg", 3000, 2100, 75);
    ASSERT_TRUE(Save(large, ScratchPath("large.png"), "png").saved);
    const ImageRecord full = Read(ScratchPath("large.png"));
    EXPECT_EQ(full.width * 10000 + full.height, 30002100u);
    // Stored sideways (orientations 6 and 8): saved turned, as it is shown;
    // its top left is the stored bottom-left or top-right pixel.
    const Bytes px = Pattern(30, 20, 3);
    Bytes tiff = WriteToBytes("side.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, px.data(), 30, 20, 24, 90, nullptr, 1, nullptr, 0); });
    const std::string side = ScratchPath("side.tif");
    for (const auto& turn : {std::make_pair(6, 19 * 90), std::make_pair(8, 29 * 3)}) {
        tiff[TiffValueAt(tiff, 274)] = uint8_t(turn.first);
        WriteFileBytes(side, tiff);
        ASSERT_TRUE(Save(side, ScratchPath("side.bmp"), "bmp").saved);
        const ImageRecord upright = Read(ScratchPath("side.bmp"));
        EXPECT_EQ(upright.width * 100 + upright.height, 2030u);
        EXPECT_EQ(Bytes(upright.pixels.begin(), upright.pixels.begin() + 3),
                  Bytes(px.begin() + turn.second, px.begin() + turn.second + 3)) << turn.first;
    }

    const std::string target = ScratchPath("protected.bmp");
    WriteFileBytes(target, Bytes{1, 2, 3});
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    EXPECT_EQ(Save(side, target, "bmp").errorText, "Cannot write to file.4");
    EXPECT_EQ(ReadFileBytes(target), (Bytes{1, 2, 3}));
    chmod(target.c_str(), 0644);
    EXPECT_TRUE(failed.empty());
}

TEST_F(FeaturesSaveAs, AFailedWriteOrReadKeepsTheTargetAndSaysSoAndTemporaryNamesAvoidFiles) {
    const std::string png = WritePatternPng("self.png", 20, 10);
    const Bytes before = ReadFileBytes(png);
    // Onto the picture itself, with the final replacement failing.
    files.failReplace = true;
    VSSaveOutcome out = Save(png, png, "bmp");
    EXPECT_FALSE(out.saved || out.readFailed);
    EXPECT_EQ(out.errorText, "Cannot write to file.4");
    EXPECT_EQ(ReadFileBytes(png), before);
    ASSERT_EQ(files.removed.size(), 1u);
    EXPECT_FALSE(files.Exists(files.removed[0]));
    files.failReplace = false;
    // Into a folder that does not exist, written or copied.
    EXPECT_EQ(Save(png, ScratchPath("missing/x.png"), "png").errorText, "Cannot write to file.4");
    const std::string cam = WritePatternJpeg("cam.jpg", 8, 8, 90);
    EXPECT_EQ(Save(cam, ScratchPath("missing/y.jpg"), "jpg").errorText, "Cannot write to file.4");
    // Onto itself when everything works: replaced by the new format.
    EXPECT_TRUE(Save(png, png, "bmp").saved);
    EXPECT_EQ(Read(png).fileType, IS_FT_BMP);
    // An unreadable picture leaves an existing target alone.
    const std::string broken = ScratchPath("broken.png"), target = ScratchPath("keep.bmp");
    WriteFileBytes(broken, Bytes(100, 0x5A));
    WriteFileBytes(target, Bytes{1, 2, 3});
    out = Save(broken, target, "bmp");
    EXPECT_TRUE(!out.saved && out.readFailed);
    EXPECT_EQ(failed, std::vector<std::string>{broken});
    EXPECT_EQ(ReadFileBytes(target), (Bytes{1, 2, 3}));
    // The temporary name avoids existing files.
    WriteFileBytes(ScratchPath("~t.png.tmp"), Bytes{1});
    EXPECT_EQ(TempPathBeside(files, ScratchPath("t.png")), ScratchPath("~t.png.1.tmp"));
    EXPECT_EQ(TempPathBeside(files, "C:\\a\\b.jpg"), "C:\\a\\~b.jpg.tmp");
}

}  // namespace
