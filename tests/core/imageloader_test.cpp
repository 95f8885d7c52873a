// The picture loader: scaled JPEG decodes, recognition by content, the
// failure messages, writes by type and their error texts.
#include "imageloader.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vstest;

namespace {

struct RecordingHost : VSLoaderHost {
    VSSize screen{1280, 1024};
    std::vector<std::pair<uint32_t, std::string>> failures;
    std::vector<std::string> messages;
    VSSize ScreenSize() override { return screen; }
    void ReadFailed(uint32_t resource, const std::string& path) override { failures.emplace_back(resource, path); }
    void Message(const std::string& text) override { messages.push_back(text); }
};

std::string WriteJpeg(const std::string& name, uint32_t w, uint32_t h) { return WritePatternJpeg(name, w, h, 75); }

}  // namespace

TEST(ImageLoaderRules, JpegDivisorLeadingNumberAndTexts) {
    EXPECT_EQ(JpegDivisor(6000, 4000, 1280, 1024), 4u);
    EXPECT_EQ(JpegDivisor(3000, 1000, 1280, 1024), 1u);  // one side under twice
    EXPECT_EQ(JpegDivisor(2560, 2048, 1280, 1024), 2u);  // exactly twice
    EXPECT_EQ(JpegDivisor(2559, 2048, 1280, 1024), 1u);
    EXPECT_EQ(JpegDivisor(100, 100, 0, 0), 1u);          // no screen size known
    const std::pair<const char*, int32_t> numbers[] = {
        {"  -3, 4", -3}, {"+12abc", 12}, {"x06", 0}, {"", 0}, {nullptr, 0},
        {"99999999999999999999", INT32_MAX}, {"-99999999999999999999", INT32_MIN}};
    for (const auto& n : numbers) EXPECT_EQ(LeadingNumber(n.first), n.second) << (n.first ? n.first : "null");
    EXPECT_EQ(WriteErrorText(1), "Out of memory.1");
    EXPECT_EQ(WriteErrorText(17), "17");
    EXPECT_EQ(FormatReadFailure(kTextCannotRead, "C:\\a%d.jpg"),
              "Cannot read picture file (C:\\a%d.jpg). The file may be corrupted!");
}

TEST(ImageLoaderRead, LargeJpegIsDecodedScaledWithItsDeclaredSize) {
    RecordingHost host;
    const std::string path = WriteJpeg("big.jpg", 2560, 2048);
    ImageLoader loader(host);
    ImageRecord record;
    ASSERT_TRUE(loader.ReadPicture(path, &record));
    EXPECT_EQ(record.width, 1280u);
    EXPECT_EQ(record.height, 1024u);
    EXPECT_EQ(record.declaredWidth, 2560u);
    EXPECT_EQ(record.declaredHeight, 2048u);
    EXPECT_EQ(record.rowStride, 1280u * 3);
    EXPECT_EQ(record.pixels.size(), 1280u * 1024 * 3);
    EXPECT_EQ(record.fileType, 3u);
    EXPECT_TRUE(host.failures.empty());

    // A screen twice as large decodes the same file at full size.
    host.screen = {2560, 2048};
    ASSERT_TRUE(loader.ReadPicture(path, &record));
    EXPECT_EQ(record.width, 2560u);
}

TEST(ImageLoaderRead, ContentDecidesNotTheName) {
    RecordingHost host;
    ImageLoader loader(host);
    ImageRecord record;
    const std::string png = WritePatternPng("really_png.jpg", 7, 5);
    ASSERT_TRUE(loader.ReadPicture(png, &record));
    EXPECT_EQ(record.fileType, 4u);
    EXPECT_EQ(record.declaredWidth, 7u);
    EXPECT_EQ(record.pixels, Pattern(7, 5, 3));
    uint32_t w = 0, h = 0, bits = 0;
    ASSERT_TRUE(ImageLoader::GetDimensions(png, &w, &h, &bits));
    EXPECT_EQ(w, 7u);
    EXPECT_EQ(h, 5u);
}

TEST(ImageLoaderRead, FailuresTellTheRightMessageAndKeepTheRecord) {
    RecordingHost host;
    ImageLoader loader(host);
    ImageRecord record;
    ASSERT_TRUE(loader.ReadPicture(WritePatternPng("keep.png", 3, 2), &record));
    const Bytes before = record.pixels;

    const std::string text = ScratchPath("notes.jpg");
    WriteFileBytes(text, Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    EXPECT_FALSE(loader.ReadPicture(text, &record));
    const std::string missing = ScratchPath("missing.png");
    EXPECT_FALSE(loader.ReadPicture(missing, &record));
    // GIF is recognised but not handled here.
    const std::string gif = ScratchPath("anim.gif");
    WriteFileBytes(gif, Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'});
    EXPECT_FALSE(loader.ReadPicture(gif, &record));
    // A handled format whose decoding fails.
    Bytes broken = ReadFileBytes(WritePatternPng("broken.png", 40, 40));
    broken.resize(60);
    const std::string brokenPath = ScratchPath("broken2.png");
    WriteFileBytes(brokenPath, broken);
    EXPECT_FALSE(loader.ReadPicture(brokenPath, &record));

    ASSERT_EQ(host.failures.size(), 4u);
    EXPECT_EQ(host.failures[0], std::make_pair(uint32_t(kMsgCannotRead), text));
    EXPECT_EQ(host.failures[1], std::make_pair(uint32_t(kMsgCannotRead), missing));
    EXPECT_EQ(host.failures[2], std::make_pair(uint32_t(kMsgUnrecognized), gif));
    EXPECT_EQ(host.failures[3], std::make_pair(uint32_t(kMsgUnrecognized), brokenPath));
    EXPECT_EQ(record.pixels, before);
    EXPECT_EQ(record.width, 3u);
    uint32_t bits = 0;
    EXPECT_FALSE(ImageLoader::GetDimensions(text, &record.width, &record.height, &bits));
}

TEST(ImageLoaderWrite, EveryTypeWritesWhatReadsBack) {
    RecordingHost host;
    ImageLoader loader(host);
    ImageRecord record;
    record.pixels = Pattern(9, 4, 3);
    record.width = 9;
    record.height = 4;
    record.rowStride = 27;
    for (uint32_t type : {1u, 3u, 4u, 5u, 6u, 14u}) {
        SCOPED_TRACE(type);
        record.fileType = type;
        const std::string path = ScratchPath("out" + std::to_string(type));
        ASSERT_TRUE(loader.WritePicture(path, &record)) << record.errorText;
        ImageRecord back;
        ASSERT_TRUE(loader.ReadPicture(path, &back));
        EXPECT_EQ(back.fileType, type);
        EXPECT_EQ(back.width, 9u);
        EXPECT_EQ(back.height, 4u);
        if (type != 3) {
            EXPECT_EQ(back.pixels, record.pixels);
        }
    }
    // PNG: 8 bits per channel RGB and no gAMA chunk.
    const Bytes png = ReadFileBytes(ScratchPath("out4"));
    EXPECT_EQ(png[24], 8);  // IHDR bit depth
    EXPECT_EQ(png[25], 2);  // colour type RGB
    EXPECT_EQ(std::string(png.begin(), png.end()).find("gAMA"), std::string::npos);
    EXPECT_TRUE(host.messages.empty());
}

TEST(ImageLoaderWrite, FailuresSetTheErrorText) {
    RecordingHost host;
    ImageLoader loader(host);
    ImageRecord record;
    record.pixels = Pattern(2, 2, 3);
    record.width = record.height = 2;
    record.rowStride = 6;
    record.fileType = 4;
    EXPECT_FALSE(loader.WritePicture(ScratchPath("no/such/folder/x.png"), &record));
    EXPECT_EQ(record.errorText, "Cannot write to file.4");

    // Type 0 writes nothing and tells the user.
    record.fileType = 0;
    const std::string path = ScratchPath("zero.bin");
    EXPECT_FALSE(loader.WritePicture(path, &record));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find("Unhandled exception"), std::string::npos);
    EXPECT_NE(host.messages[0].find(" - error code - "), std::string::npos);
    EXPECT_TRUE(ReadFileBytes(path).empty());

    // A GIF is recognised but not written here.
    record.fileType = 2;
    EXPECT_FALSE(loader.WritePicture(ScratchPath("x.gif"), &record));
    EXPECT_FALSE(record.errorText.empty());

    // Pixels shorter than the size claims are refused, not read past.
    record.fileType = 1;
    record.width = 100;
    EXPECT_FALSE(loader.WritePicture(ScratchPath("short.bmp"), &record));
    EXPECT_EQ(record.errorText, "Bad user parameter.5");
}

// Orientation and thumbnail come from the file's EXIF block; files without
// one, or that are not pictures at all, give 0 and no thumbnail.
TEST(ImageLoaderExif, OrientationAndThumbnailFromExiftoolTaggedFile) {
    if (!HavePrograms("exiftool")) GTEST_SKIP() << "exiftool not installed";
    const std::string plain = WriteJpeg("plain.jpg", 64, 48);
    const std::string thumb = WriteJpeg("thumb.jpg", 40, 30);
    const std::string tagged = WriteJpeg("tagged.jpg", 64, 48);
    ASSERT_EQ(Shell("exiftool -q -overwrite_original -n -Orientation=6 '-ThumbnailImage<=" + thumb + "' '" +
                    tagged + "'"),
              0);
    EXPECT_EQ(ImageLoader::ReadExifNumber(tagged, 274), 6);
    EXPECT_EQ(ImageLoader::ReadExifNumber(plain, 274), 0);
    EXPECT_EQ(ImageLoader::ReadExifNumber(ScratchPath("missing.jpg"), 274), 0);

    std::vector<uint8_t> rgb{1, 2, 3};
    uint32_t w = 9, h = 9;
    ASSERT_TRUE(ImageLoader::ReadExifThumbnail(tagged, &rgb, &w, &h));
    EXPECT_EQ(w, 40u);
    EXPECT_EQ(h, 30u);
    EXPECT_EQ(rgb.size(), 40u * 30u * 3u);
    EXPECT_FALSE(ImageLoader::ReadExifThumbnail(plain, &rgb, &w, &h));
    EXPECT_TRUE(rgb.empty());
    EXPECT_EQ(w, 0u);
    const std::string png = WritePatternPng("picture.png", 8, 8);
    EXPECT_FALSE(ImageLoader::ReadExifThumbnail(png, &rgb, &w, &h));
    EXPECT_EQ(ImageLoader::ReadExifNumber(png, 274), 0);
}
