// Save As with real files: the type by extension, the byte copy, and a
// target that is replaced only by a complete new file.
#include "IS40pngtiff.h"
#include "saveas.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

using namespace vstest;

namespace {

struct QuietHost : VSLoaderHost {
    std::vector<std::string> failed;
    VSSize ScreenSize() override { return {1280, 1024}; }
    void ReadFailed(uint32_t, const std::string& path) override { failed.push_back(path); }
    void Message(const std::string& text) override { failed.push_back(text); }
};

struct PosixFiles : VSSaveFiles {
    bool failReplace = false;
    std::vector<std::string> removed;
    bool Exists(const std::string& path) override {
        struct stat st;
        return stat(path.c_str(), &st) == 0;
    }
    bool Copy(const std::string& source, const std::string& destination) override {
        FILE* in = std::fopen(source.c_str(), "rb");
        if (!in) return false;
        FILE* out = std::fopen(destination.c_str(), "wb");
        bool ok = out != nullptr;
        char buf[4096];
        size_t n;
        while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0) ok = std::fwrite(buf, 1, n, out) == n;
        std::fclose(in);
        if (out) ok = std::fclose(out) == 0 && ok;
        return ok;
    }
    bool Replace(const std::string& complete, const std::string& target) override {
        return !failReplace && std::rename(complete.c_str(), target.c_str()) == 0;
    }
    void Remove(const std::string& path) override {
        removed.push_back(path);
        std::remove(path.c_str());
    }
    bool ReadOnly(const std::string& path) override {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR);
    }
};


ImageRecord Read(const std::string& path) {
    QuietHost host;
    ImageLoader loader(host);
    ImageRecord record;
    EXPECT_TRUE(loader.ReadPicture(path, &record)) << path;
    return record;
}

TEST(FeaturesSaveAs, TypeByExtensionAndTheByteCopyRule) {
    EXPECT_EQ(SaveTypeFor("jpg", IS_FT_PNG), IS_FT_JPEG);
    EXPECT_EQ(SaveTypeFor("Pcx", IS_FT_JPEG), IS_FT_PCX);
    EXPECT_EQ(SaveTypeFor("tiff", IS_FT_PNG), IS_FT_TIFF);
    EXPECT_EQ(SaveTypeFor("JPEG", IS_FT_PNG), IS_FT_JPEG);
    EXPECT_EQ(SaveTypeFor("gif", IS_FT_PNG), IS_FT_PNG);  // names no type we write: the picture's own
    EXPECT_EQ(SaveTypeFor("", IS_FT_BMP), IS_FT_BMP);

    EXPECT_TRUE(IsByteCopy("C:\\p\\photo.jpg", "jpg"));
    EXPECT_TRUE(IsByteCopy("C:\\p\\photo.JPG", "JPG"));
    EXPECT_TRUE(IsByteCopy("C:\\p\\photo.jpeg", "jpg"));
    EXPECT_TRUE(IsByteCopy("C:\\p\\photo.JPE", "jpeg"));
    EXPECT_FALSE(IsByteCopy("C:\\p\\photo.png", "jpg"));
    EXPECT_FALSE(IsByteCopy("C:\\p\\photo.jpg", "png"));
    EXPECT_FALSE(IsByteCopy("C:\\p.jpg\\photo", "jpg"));  // a dot in the folder is no extension

    EXPECT_EQ(SaveInitialName("C:\\p\\holiday.2007.jpg"), "holiday.2007");
    EXPECT_EQ(SaveInitialName("C:\\p\\noext"), "noext");
}

TEST(FeaturesSaveAs, AJpegToJpegIsCopiedByteForByteAndOtherPicturesAreEncoded) {
    const std::string jpg = WritePatternJpeg("photo.jpg", 64, 48, 90);
    const std::string jpeg = ScratchPath("photo.jpeg");
    WriteFileBytes(jpeg, ReadFileBytes(jpg));
    QuietHost host;
    ImageLoader loader(host);
    PosixFiles files;
    for (const std::string& source : {jpg, jpeg}) {
        const std::string copy = ScratchPath("copy.jpg");
        EXPECT_TRUE(SavePicture(loader, files, source, copy, "jpg").saved);
        EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(jpg));
    }
    const std::string encoded = ScratchPath("encoded.jpg");
    EXPECT_TRUE(SavePicture(loader, files, WritePatternPng("p.png", 16, 8), encoded, "jpg").saved);
    EXPECT_EQ(Read(encoded).fileType, IS_FT_JPEG);
    EXPECT_TRUE(host.failed.empty());
}

// The picture saved is the user's: full size, upright, and never over a
// file the user protected.
TEST(FeaturesSaveAs, FullSizeUprightAndNeverOverAProtectedFile) {
    QuietHost host;
    ImageLoader loader(host);
    PosixFiles files;
    // Larger than twice the screen: the display decodes it scaled down.
    const std::string large = WritePatternJpeg("large.jpg", 3000, 2100, 75);
    const std::string png = ScratchPath("large.png");
    ASSERT_TRUE(SavePicture(loader, files, large, png, "png").saved);
    EXPECT_EQ(Read(png).width, 3000u);
    EXPECT_EQ(Read(png).height, 2100u);

    // Stored sideways (orientation 6): saved turned, as it is shown.
    const Bytes px = Pattern(30, 20, 3);
    Bytes tiff = WriteToBytes("side.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, px.data(), 30, 20, 24, 90, nullptr, 1, nullptr, 0); });
    tiff[TiffValueAt(tiff, 274)] = 6;
    const std::string side = ScratchPath("side.tif");
    WriteFileBytes(side, tiff);
    const std::string bmp = ScratchPath("side.bmp");
    ASSERT_TRUE(SavePicture(loader, files, side, bmp, "bmp").saved);
    const ImageRecord upright = Read(bmp);
    ASSERT_EQ(upright.width, 20u);
    ASSERT_EQ(upright.height, 30u);
    // Top left of the upright picture: the stored bottom-left pixel.
    EXPECT_EQ(Bytes(upright.pixels.begin(), upright.pixels.begin() + 3), Bytes(px.begin() + 19 * 90, px.begin() + 19 * 90 + 3));

    const std::string target = ScratchPath("protected.bmp");
    WriteFileBytes(target, Bytes{1, 2, 3});
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    const VSSaveOutcome out = SavePicture(loader, files, side, target, "bmp");
    EXPECT_FALSE(out.saved);
    EXPECT_EQ(out.errorText, "Cannot write to file.4");
    EXPECT_EQ(ReadFileBytes(target), (Bytes{1, 2, 3}));
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    chmod(target.c_str(), 0644);
    EXPECT_TRUE(host.failed.empty());
}

TEST(FeaturesSaveAs, OtherFormatsAreWrittenByExtensionAndReadBackEqual) {
    const std::string png = WritePatternPng("source.png", 33, 17);
    const ImageRecord original = Read(png);
    QuietHost host;
    ImageLoader loader(host);
    PosixFiles files;
    const struct {
        const char* name;
        const char* ext;
        uint32_t type;
    } cases[] = {{"out.bmp", "bmp", IS_FT_BMP}, {"out.tif", "tif", IS_FT_TIFF}, {"out.pcx", "pcx", IS_FT_PCX},
                 {"out.tga", "tga", IS_FT_TGA}, {"out.tiff", "tiff", IS_FT_TIFF}};
    for (const auto& c : cases) {
        const std::string target = ScratchPath(c.name);
        ASSERT_TRUE(SavePicture(loader, files, png, target, c.ext).saved) << c.name;
        const ImageRecord back = Read(target);
        EXPECT_EQ(back.fileType, c.type) << c.name;
        EXPECT_EQ(back.width, 33u);
        EXPECT_EQ(back.height, 17u);
        EXPECT_EQ(back.pixels, original.pixels) << c.name;
    }
    // No temporary file is left beside the targets.
    EXPECT_FALSE(files.Exists(ScratchPath("~out.bmp.tmp")));
}

TEST(FeaturesSaveAs, AFailedWriteKeepsTheTargetAndSaysSo) {
    const std::string png = WritePatternPng("self.png", 20, 10);
    const Bytes before = ReadFileBytes(png);
    QuietHost host;
    ImageLoader loader(host);

    // Onto the picture itself, with the final replacement failing.
    PosixFiles failing;
    failing.failReplace = true;
    VSSaveOutcome out = SavePicture(loader, failing, png, png, "bmp");
    EXPECT_FALSE(out.saved);
    EXPECT_FALSE(out.readFailed);
    EXPECT_EQ(out.errorText, "Cannot write to file.4");
    EXPECT_EQ(ReadFileBytes(png), before);
    ASSERT_EQ(failing.removed.size(), 1u);
    EXPECT_FALSE(failing.Exists(failing.removed[0]));

    // Into a folder that does not exist: the library's write error.
    PosixFiles files;
    out = SavePicture(loader, files, png, ScratchPath("missing/x.png"), "png");
    EXPECT_FALSE(out.saved);
    EXPECT_EQ(out.errorText, "Cannot write to file.4");
    out = SavePicture(loader, files, WritePatternJpeg("cam.jpg", 8, 8, 90), ScratchPath("missing/y.jpg"), "jpg");
    EXPECT_EQ(out.errorText, "Cannot write to file.4");

    // Onto itself when everything works: replaced by the new format.
    out = SavePicture(loader, files, png, png, "bmp");
    EXPECT_TRUE(out.saved);
    EXPECT_EQ(Read(png).fileType, IS_FT_BMP);
    EXPECT_TRUE(host.failed.empty());
}

TEST(FeaturesSaveAs, AnUnreadablePictureLeavesAnExistingTargetAlone) {
    const std::string broken = ScratchPath("broken.png");
    WriteFileBytes(broken, Bytes(100, 0x5A));
    const std::string target = ScratchPath("keep.bmp");
    WriteFileBytes(target, Bytes{1, 2, 3});
    QuietHost host;
    ImageLoader loader(host);
    PosixFiles files;
    const VSSaveOutcome out = SavePicture(loader, files, broken, target, "bmp");
    EXPECT_FALSE(out.saved);
    EXPECT_TRUE(out.readFailed);
    EXPECT_EQ(host.failed.size(), 1u);
    EXPECT_EQ(ReadFileBytes(target), (Bytes{1, 2, 3}));
}

TEST(FeaturesSaveAs, TheTemporaryNameAvoidsExistingFiles) {
    PosixFiles files;
    const std::string target = ScratchPath("t.png");
    for (const char* old : {"~t.png.tmp", "~t.png.1.tmp", "~t.png.2.tmp"}) files.Remove(ScratchPath(old));
    const std::string first = TempPathBeside(files, target);
    EXPECT_EQ(first, ScratchPath("~t.png.tmp"));
    WriteFileBytes(first, Bytes{1});
    const std::string second = TempPathBeside(files, target);
    EXPECT_NE(second, first);
    EXPECT_FALSE(files.Exists(second));
    EXPECT_EQ(TempPathBeside(files, "C:\\a\\b.jpg").substr(0, 7), "C:\\a\\~b");
}

}  // namespace
