// Save As with real files: the type by extension, the byte copy, and a
// target that is replaced only by a complete new file.
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
    EXPECT_EQ(SaveTypeFor("tiff", IS_FT_PNG), IS_FT_PNG);  // names no type: the picture's own
    EXPECT_EQ(SaveTypeFor("", IS_FT_BMP), IS_FT_BMP);

    EXPECT_TRUE(IsByteCopy("C:\\p\\photo.jpg", "jpg"));
    EXPECT_TRUE(IsByteCopy("C:\\p\\photo.JPG", "JPG"));
    EXPECT_FALSE(IsByteCopy("C:\\p\\photo.jpeg", "jpg"));
    EXPECT_FALSE(IsByteCopy("C:\\p\\photo.JPE", "jpg"));
    EXPECT_FALSE(IsByteCopy("C:\\p\\photo.jpg", "png"));
    EXPECT_FALSE(IsByteCopy("C:\\p.jpg\\photo", "jpg"));  // a dot in the folder is no extension

    EXPECT_EQ(SaveInitialName("C:\\p\\holiday.2007.jpg"), "holiday.2007");
    EXPECT_EQ(SaveInitialName("C:\\p\\noext"), "noext");
}

TEST(FeaturesSaveAs, AJpgToJpgIsCopiedByteForByteAndOtherJpegsAreReencoded) {
    const std::string jpg = WritePatternJpeg("photo.jpg", 64, 48, 90);
    const std::string jpeg = ScratchPath("photo.jpeg");
    WriteFileBytes(jpeg, ReadFileBytes(jpg));
    QuietHost host;
    ImageLoader loader(host);
    PosixFiles files;

    const std::string copy = ScratchPath("copy.jpg");
    EXPECT_TRUE(SavePicture(loader, files, jpg, copy, "jpg").saved);
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(jpg));

    const std::string again = ScratchPath("again.jpg");
    EXPECT_TRUE(SavePicture(loader, files, jpeg, again, "jpg").saved);
    EXPECT_NE(ReadFileBytes(again), ReadFileBytes(jpeg));
    EXPECT_EQ(Read(again).fileType, IS_FT_JPEG);
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
                 {"out.tga", "tga", IS_FT_TGA}, {"out.tiff", "tiff", IS_FT_PNG}};
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
