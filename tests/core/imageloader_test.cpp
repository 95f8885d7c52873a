// The picture loader: scaled JPEG decodes, recognition by content, the failure messages, writes by type and their error
// texts. Its EXIF side is checked with the thumbnails.
#include "browse/imageloader.h"
#include "tests/core/testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vstest;

namespace {

struct ImageLoaderTest : ::testing::Test, VSLoaderHost {
    VSSize screen{1280, 1024};
    std::vector<std::pair<uint32_t, std::string>> failures;
    std::vector<std::string> messages;
    VSSize ScreenSize() override { return screen; }
    void ReadFailed(uint32_t resource, const std::string& path) override { failures.emplace_back(resource, path); }
    void Message(const std::string& text) override { messages.push_back(text); }
    ImageLoader loader{*this};
    ImageRecord record;
    // record holds a w x h Pattern picture of the given type.
    void Hold(uint32_t w, uint32_t h, uint32_t type) {
        record.pixels = Pattern(w, h, 3);
        record.width = w, record.height = h, record.rowStride = w * 3, record.fileType = type;
    }
};

}  // namespace

TEST(ImageLoaderRules, JpegDivisorLeadingNumberAndTexts) {
    EXPECT_EQ(JpegDivisor(6000, 4000, 1280, 1024), 4u);
    EXPECT_EQ(JpegDivisor(3000, 1000, 1280, 1024), 1u);  // one side under twice
    EXPECT_EQ(JpegDivisor(2559, 2048, 1280, 1024), 1u);
    EXPECT_EQ(JpegDivisor(100, 100, 0, 0), 1u);          // no screen size known
    EXPECT_EQ(JpegDivisor(100, 100, 1280, 0), 1u);       // nor half of one
    const std::pair<const char*, int32_t> numbers[] = {
        {"  -3, 4", -3}, {"+12abc", 12}, {"x06", 0}, {nullptr, 0},
        {"99999999999999999999", INT32_MAX}, {"-99999999999999999999", INT32_MIN}};
    for (const auto& n : numbers) EXPECT_EQ(LeadingNumber(n.first), n.second) << (n.first ? n.first : "null");
    EXPECT_EQ(WriteErrorText(1) + "|" + WriteErrorText(17), "Out of memory.1|17");
    EXPECT_EQ(FormatReadFailure(kTextCannotRead, "C:\\a%d.jpg"),
              "Cannot read picture file (C:\\a%d.jpg). The file may be corrupted!");
}

TEST_F(ImageLoaderTest, LargeJpegScaledContentDecidesTheTypeAndFailuresKeepTheRecord) {
    const std::string path = WritePatternJpeg("big.jpg", 2560, 2048);
    ASSERT_TRUE(loader.ReadPicture(path, &record));
    EXPECT_EQ(record.width * 10000 + record.height, 12801024u);
    EXPECT_EQ(record.declaredWidth * 10000 + record.declaredHeight, 25602048u);
    EXPECT_EQ(record.rowStride, 1280u * 3);
    EXPECT_EQ(record.fileType, static_cast<uint32_t>(IS_FT_JPEG));
    // A screen twice as large decodes the same file at full size.
    screen = {2560, 2048};
    ASSERT_TRUE(loader.ReadPicture(path, &record));
    EXPECT_EQ(record.width, 2560u);
    // Content decides, not the name.
    const std::string png = WritePatternPng("really_png.jpg", 7, 5);
    ASSERT_TRUE(loader.ReadPicture(png, &record));
    EXPECT_EQ(record.fileType, static_cast<uint32_t>(IS_FT_PNG));
    EXPECT_EQ(record.pixels, Pattern(7, 5, 3));
    uint32_t w = 0, h = 0, bits = 0;
    ASSERT_TRUE(ImageLoader::GetDimensions(png, &w, &h, &bits));
    EXPECT_EQ(w * 10 + h, 75u);
    // Read failures tell the right message and keep the record.
    ASSERT_TRUE(loader.ReadPicture(WritePatternPng("keep.png", 3, 2), &record));
    const Bytes before = record.pixels;
    const std::string text = ScratchPath("notes.jpg"), missing = ScratchPath("missing.png");
    const std::string gif = ScratchPath("anim.gif"), broken = ScratchPath("broken2.png");
    WriteFileBytes(text, Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    // GIF is recognised but not handled here.
    WriteFileBytes(gif, Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'});
    // A handled format whose decoding fails.
    Bytes cut = ReadFileBytes(WritePatternPng("broken.png", 40, 40));
    cut.resize(60);
    WriteFileBytes(broken, cut);
    for (const std::string& path : {text, missing, gif, broken}) EXPECT_FALSE(loader.ReadPicture(path, &record));
    using Failure = std::pair<uint32_t, std::string>;
    EXPECT_EQ(failures, (std::vector<Failure>{{kMsgCannotRead, text}, {kMsgCannotRead, missing},
                                              {kMsgUnrecognized, gif}, {kMsgUnrecognized, broken}}));
    EXPECT_TRUE(record.pixels == before && record.width == 3u);
}

TEST_F(ImageLoaderTest, EveryTypeWritesWhatReadsBackOrSaysWhyNot) {
    Hold(9, 4, 0);
    for (uint32_t type : {IS_FT_BMP, IS_FT_JPEG, IS_FT_PNG, IS_FT_PCX, IS_FT_TIFF, IS_FT_TGA}) {
        SCOPED_TRACE(type);
        record.fileType = type;
        const std::string path = ScratchPath("out" + std::to_string(type));
        ASSERT_TRUE(loader.WritePicture(path, &record)) << record.errorText;
        ImageRecord back;
        ASSERT_TRUE(loader.ReadPicture(path, &back));
        EXPECT_EQ(back.fileType, type);
        EXPECT_EQ(back.width * 10 + back.height, 94u);
        if (type != IS_FT_JPEG) { EXPECT_EQ(back.pixels, record.pixels); }
    }
    // PNG: 8 bits per channel RGB and no gAMA chunk.
    const Bytes png = ReadFileBytes(ScratchPath("out" + std::to_string(IS_FT_PNG)));
    EXPECT_EQ(png[24] * 10 + png[25], 82);  // IHDR bit depth and colour type
    EXPECT_EQ(std::string(png.begin(), png.end()).find("gAMA"), std::string::npos);
    // Failures set the error text.
    Hold(2, 2, IS_FT_PNG);
    EXPECT_FALSE(loader.WritePicture(ScratchPath("no/such/folder/x.png"), &record));
    EXPECT_EQ(record.errorText, "Cannot write to file.4");
    // Type 0 writes nothing and tells the user.
    record.fileType = 0;
    EXPECT_FALSE(loader.WritePicture(ScratchPath("zero.bin"), &record));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("Unhandled exception"), std::string::npos);
    EXPECT_TRUE(ReadFileBytes(ScratchPath("zero.bin")).empty());
    // A GIF is recognised but not written here.
    record.fileType = IS_FT_GIF;
    EXPECT_FALSE(loader.WritePicture(ScratchPath("x.gif"), &record));
    EXPECT_FALSE(record.errorText.empty());
    // Pixels shorter than the size claims are refused, not read past.
    record.fileType = IS_FT_BMP;
    record.width = 100;
    EXPECT_FALSE(loader.WritePicture(ScratchPath("short.bmp"), &record));
    EXPECT_EQ(record.errorText, "Bad user parameter.5");
}
