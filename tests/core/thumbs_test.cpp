// Thumbnails of the thumbnail view: fitting and centring on the canvas, EXIF thumbnails laid on unscaled, shell
// thumbnails re-made, the file's own way (EXIF, then the whole picture), and the records' bookkeeping.
#include "thumbs/thumbbook.h"
#include "thumbs/thumbnail.h"

#include "codec/IS40.h"
#include "codec/IS40jpeg.h"
#include "codec/IS40pngtiff.h"
#include "browse/imageloader.h"
#include "tests/core/testutil.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vstest;

namespace {

using Rgb = std::array<uint8_t, 3>;
constexpr Rgb kKey{0x5C, 0x8B, 0xB4}, kWhiteRgb{255, 255, 255}, kRed{255, 0, 0}, kBlue{0, 0, 255}, kGreen{0, 255, 0};

// Left half (x < w / 2) in one colour, right half in another; stride w * 3 + pad.
Bytes Halves(uint32_t w, uint32_t h, Rgb left, Rgb right, uint32_t pad = 0) {
    Bytes px;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const Rgb& c = x < w / 2 ? left : right;
            px.insert(px.end(), c.begin(), c.end());
        }
        px.insert(px.end(), pad, 0xEE);
    }
    return px;
}
Bytes Solid(uint32_t w, uint32_t h, Rgb c) { return Halves(w, h, c, c); }

Rgb At(const VSThumbCanvas& c, uint32_t x, uint32_t y) {
    const size_t i = (static_cast<size_t>(y) * kThumbWidth + x) * 3;
    return {c[i], c[i + 1], c[i + 2]};
}

bool Near(Rgb a, Rgb b, int tolerance = 0) {
    return std::abs(a[0] - b[0]) <= tolerance && std::abs(a[1] - b[1]) <= tolerance && std::abs(a[2] - b[2]) <= tolerance;
}

// Every canvas pixel inside [x0, x1) x [y0, y1) is `inside`, every other one is `outside`.
void ExpectBox(const VSThumbCanvas& c, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, Rgb inside, Rgb outside,
               int tolerance = 0) {
    ASSERT_EQ(c.size(), kThumbBytes);
    int wrong = 0;
    for (uint32_t y = 0; y < kThumbHeight; ++y)
        for (uint32_t x = 0; x < kThumbWidth; ++x) {
            const bool in = x >= x0 && x < x1 && y >= y0 && y < y1;
            if (!Near(At(c, x, y), in ? inside : outside, tolerance) && wrong++ < 3)
                ADD_FAILURE() << "pixel " << x << "," << y << (in ? " inside" : " outside");
        }
    EXPECT_EQ(wrong, 0);
}

struct RecordingHost : VSLoaderHost {
    std::vector<std::pair<uint32_t, std::string>> failures;
    VSSize ScreenSize() override { return {1280, 1024}; }
    void ReadFailed(uint32_t resource, const std::string& path) override { failures.emplace_back(resource, path); }
    void Message(const std::string&) override {}
};

Bytes JpegBytes(const Bytes& px, uint32_t w, uint32_t h, const std::string& name) {
    return WriteToBytes(name, [&](ISHANDLE d) { return IS40_WriteJPG(d, px.data(), w, h, 24, w * 3, 90, nullptr, 0); });
}

std::string WriteExifJpeg(const std::string& name, const Bytes& px, uint32_t w, uint32_t h, const Bytes& thumb,
                          uint32_t orientation = 1) {
    WriteFileBytes(ScratchPath(name), WithExifSegment(JpegBytes(px, w, h, name), thumb, orientation));
    return ScratchPath(name);
}

}  // namespace

TEST(ThumbnailFit, FittedAndCentredOnTheFrameColourPlacedUnscaledOrRefused) {
    // pad: bytes past w x 3 in each source row; the picture lands in [x0, x1) x [y0, y1).
    const struct { uint32_t w, h, pad, frame, x0, y0, x1, y1; } cases[] = {
        {1000, 500, 0, kBackgroundColour, 0, 20, 160, 100}, {500, 1000, 0, kBackgroundColour, 50, 0, 110, 120},
        {40, 30, 0, kBackgroundColour, 60, 45, 100, 75},  // smaller: kept at its size
        {320, 240, 17, kThumbWhite, 0, 0, 160, 120}, {60, 240, 0, kThumbWhite, 65, 0, 95, 120}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const Bytes px = Halves(c.w, c.h, kRed, kRed, c.pad);
        VSThumbCanvas canvas;
        ASSERT_TRUE(FitThumbnail(px.data(), c.w, c.h, c.w * 3 + c.pad, c.frame, &canvas));
        ExpectBox(canvas, c.x0, c.y0, c.x1, c.y1, kRed, c.frame == kThumbWhite ? kWhiteRgb : kKey);
    }
    // Bad input (no pixels, an empty size, a short stride) fails cleanly.
    VSThumbCanvas c(5, 1);
    const Bytes px = Solid(10, 10, kRed);
    EXPECT_FALSE(FitThumbnail(nullptr, 10, 10, 30, kBackgroundColour, &c) || FitThumbnail(px.data(), 0, 10, 30, 0, &c) ||
                 FitThumbnail(px.data(), 10, 10, 29, 0, &c) || PlaceThumbnail(px.data(), 10, 0, 30, &c) ||
                 StretchThumbnail(nullptr, 10, 10, 30, &c) || ShellThumbnail(px.data(), 10, 10, 10, 1, &c));
    // A sliver fits to zero width: no thumbnail rather than a broken one.
    c.assign(5, 1);
    EXPECT_FALSE(FitThumbnail(Solid(1, 4000, kRed).data(), 1, 4000, 3, kBackgroundColour, &c));
    EXPECT_TRUE(c.empty());
    // An EXIF thumbnail larger than the canvas is laid on unscaled from its top-left corner, cut at the edges.
    const Bytes large = Pattern(200, 150, 3, 7);
    VSThumbArea a;
    ASSERT_TRUE(PlaceThumbnail(large.data(), 200, 150, 600, &c, &a));
    EXPECT_TRUE(a.x == 0 && a.y == 0 && a.width == 160 && a.height == 120);
    for (uint32_t y = 0; y < kThumbHeight; ++y)
        ASSERT_TRUE(std::equal(&c[y * 480], &c[y * 480 + 480], &large[y * 600])) << y;
}

TEST(ThumbnailShell, LandscapeStretchTurnsAndRefusals) {
    VSThumbCanvas c;
    // 320 x 120 is stretched to exactly 160 x 120.
    const Bytes px = Halves(320, 120, kRed, kBlue);
    ASSERT_TRUE(ShellThumbnail(px.data(), 320, 120, 960, 1, &c));
    ExpectBox(c, 0, 0, 80, 120, kRed, kBlue);
    // Smaller than 160 x 120 in either direction: not used.
    EXPECT_FALSE(ShellThumbnail(px.data(), 320, 119, 960, 1, &c) || ShellThumbnail(px.data(), 159, 120, 960, 1, &c));
    // A square one counts as landscape: stretched, not fitted onto white.
    ASSERT_TRUE(ShellThumbnail(Solid(200, 200, kGreen).data(), 200, 200, 600, 1, &c));
    ExpectBox(c, 0, 0, 160, 120, kGreen, kGreen);
    // 4:3 with orientation 6: turned, fitted to 90 x 120 and centred on white;
    // clockwise the left side is on top, 8 turns the other way.
    const Bytes four3 = Halves(200, 150, kRed, kBlue);
    const struct { int32_t orientation; Rgb top, bottom; } turns[] = {{6, kRed, kBlue}, {8, kBlue, kRed}};
    for (const auto& t : turns) {
        ASSERT_TRUE(ShellThumbnail(four3.data(), 200, 150, 600, t.orientation, &c));
        EXPECT_TRUE(Near(At(c, 34, 60), kWhiteRgb) && Near(At(c, 125, 60), kWhiteRgb)) << t.orientation;
        EXPECT_TRUE(Near(At(c, 80, 10), t.top) && Near(At(c, 80, 110), t.bottom)) << t.orientation;
    }
    // Orientation 3: a half turn, 4:3 kept, the whole canvas covered.
    ASSERT_TRUE(ShellThumbnail(four3.data(), 200, 150, 600, 3, &c));
    ExpectBox(c, 0, 0, 80, 120, kBlue, kRed);
    // Portrait: fitted onto white, 67 x 120 at (46, 0).
    ASSERT_TRUE(ShellThumbnail(Solid(90, 160, kGreen).data(), 90, 160, 270, 1, &c));
    ExpectBox(c, 46, 0, 113, 120, kGreen, kWhiteRgb);
}

TEST(ThumbnailOfFile, ExifThumbnailThenWholePictureThenNoneUprightWithAutoRotation) {
    RecordingHost host;
    VSThumbCanvas c;
    // Red picture with a green 120 x 90 EXIF thumbnail: the thumbnail wins.
    const Bytes thumb = JpegBytes(Solid(120, 90, kGreen), 120, 90, "thumb.jpg");
    const std::string withExif = WriteExifJpeg("exif.jpg", Solid(640, 480, kRed), 640, 480, thumb);
    IS40_SetJPGDCTScaleFactors(1, 4);  // left by a scaled decode: thumbnails are read whole all the same
    // The area the view draws is the picture's box, whatever colours it holds.
    auto area = [](const VSThumbArea& a) { return std::to_string(a.x) + " " + std::to_string(a.y) + " " +
                                                  std::to_string(a.width) + " " + std::to_string(a.height); };
    VSThumbArea a;
    EXPECT_EQ(FileThumbnail(withExif, true, host, &c, &a), kThumbFromExif);
    ExpectBox(c, 20, 15, 140, 105, kGreen, kKey, 8);
    EXPECT_EQ(area(a), "20 15 120 90");
    // No EXIF block: the picture decoded and fitted.
    JpegBytes(Solid(640, 320, kBlue), 640, 320, "plain.jpg");
    EXPECT_EQ(FileThumbnail(ScratchPath("plain.jpg"), true, host, &c, &a), kThumbFromPicture);
    ExpectBox(c, 0, 20, 160, 100, kBlue, kKey, 8);
    EXPECT_EQ(area(a), "0 20 160 80");
    Bytes rgb{1};
    uint32_t w = 9, h = 9;
    EXPECT_FALSE(ImageLoader::ReadExifThumbnail(ScratchPath("plain.jpg"), &rgb, &w, &h));
    EXPECT_TRUE(rgb.empty() && w == 0 && h == 0);
    // Undecodable EXIF thumbnail bytes: the whole picture instead.
    const std::string badThumb = WriteExifJpeg("badthumb.jpg", Solid(320, 240, kBlue), 320, 240, Bytes(300, 0x41));
    EXPECT_EQ(FileThumbnail(badThumb, true, host, &c), kThumbFromPicture);
    // A truncated JPEG with a good EXIF thumbnail still gets its thumbnail.
    Bytes cut = ReadFileBytes(withExif);
    cut.resize(cut.size() / 2);
    WriteFileBytes(ScratchPath("cut.jpg"), cut);
    EXPECT_EQ(FileThumbnail(ScratchPath("cut.jpg"), true, host, &c), kThumbFromExif);
    // A file that is no picture, and a missing one: no thumbnail, the host told once each.
    const std::string junk = ScratchPath("junk.jpg");
    WriteFileBytes(junk, Bytes(3000, 0x37));
    EXPECT_EQ(FileThumbnail(junk, true, host, &c), kThumbNone);
    EXPECT_TRUE(c.empty());
    EXPECT_EQ(FileThumbnail(ScratchPath("missing.jpg"), true, host, &c), kThumbNone);
    ASSERT_EQ(host.failures.size(), 2u);
    EXPECT_EQ(host.failures[0], std::make_pair(uint32_t(kMsgCannotRead), junk));
    // A picture stored sideways (orientation 6): upright with auto-rotation, as stored without it, from the picture
    // and from its EXIF thumbnail alike.
    const Bytes px = Halves(320, 160, kRed, kBlue);
    Bytes tiff = WriteToBytes("turned.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, px.data(), 320, 160, 24, 960, nullptr, 1, nullptr, 0); });
    tiff[TiffValueAt(tiff, 274)] = 6;
    WriteFileBytes(ScratchPath("turned.tif"), tiff);
    const Bytes turnedThumb = JpegBytes(Halves(160, 80, kRed, kBlue), 160, 80, "turnedthumb.jpg");
    const std::string jpg = WriteExifJpeg("turned.jpg", px, 320, 160, turnedThumb, 6);
    for (const auto& way : {std::make_pair(ScratchPath("turned.tif"), kThumbFromPicture), std::make_pair(jpg, kThumbFromExif)}) {
        VSThumbCanvas c;
        // 60 x 120 in the middle: the stored left half (red) on top; unturned, on the left.
        ASSERT_EQ(FileThumbnail(way.first, true, host, &c), way.second);
        EXPECT_TRUE(Near(At(c, 80, 20), kRed, 8) && Near(At(c, 80, 100), kBlue, 8) && Near(At(c, 20, 60), kKey));
        ASSERT_EQ(FileThumbnail(way.first, false, host, &c), way.second);
        EXPECT_TRUE(Near(At(c, 20, 60), kRed, 8) && Near(At(c, 140, 60), kBlue, 8) && Near(At(c, 80, 5), kKey));
    }
}

TEST(ThumbnailRecords, KeysNeverReachReleasedRecordsAndSortComparisons) {
    VSThumbBook book;
    const uint32_t a = book.Add(10, 100, "C:\\p\\a.jpg"), b = book.Add(20, 200, "C:\\p\\b.jpg");
    EXPECT_EQ(book.Find(b)->path, "C:\\p\\b.jpg");
    EXPECT_EQ(book.Find(0), nullptr);
    book.Release();
    EXPECT_EQ(book.Count(), 0u);
    // New records in the same slots do not answer to the old keys.
    const uint32_t c = book.Add(30, 300, std::string(400, 'x'));
    EXPECT_EQ(book.Find(a), nullptr);
    ASSERT_NE(book.Find(c), nullptr);
    EXPECT_EQ(book.Find(c)->size, 300u);
    EXPECT_EQ(book.Find(c)->path.size(), kFileItemPathMax);
    // Generations wrap without ever reusing a live key or giving 0.
    for (int i = 0; i < 5000; ++i) {
        book.Release();
        const uint32_t k = book.Add(0, 0, "x");
        ASSERT_TRUE(k != 0 && book.Find(k) != nullptr) << i;
    }
    CFileItem small{5, 10, "C:\\p\\B.jpg"}, big{3, 5000, "C:\\p\\a.jpg"}, huge{4, 0x100000005ull, "C:\\p\\c.jpg"};
    EXPECT_LT(CompareFileItems(17, true, &big, &small), 0);  // "a" before "B", case ignored
    EXPECT_LT(CompareFileItems(18, true, &big, &small), 0);
    EXPECT_GT(CompareFileItems(18, false, &big, &small), 0);
    EXPECT_EQ(CompareFileItems(18, true, &small, &small), 0);
    EXPECT_LT(CompareFileItems(19, true, &small, &big), 0);
    EXPECT_GT(CompareFileItems(19, true, &small, &huge), 0);  // only the low 32 bits of the sizes count
    EXPECT_EQ(CompareFileItems(20, true, &small, &big), 0);
    EXPECT_EQ(CompareFileItems(17, true, nullptr, &big) | CompareFileItems(19, false, &big, nullptr), 0);
}

TEST(ThumbnailPass, MissingThumbnailsDoNotShiftLaterImagesAndQuitStopsBeforeTheNextFile) {
    VSThumbBook book;
    std::vector<VSThumbJob> jobs;
    for (const char* name : {"a.jpg", "broken.jpg", "c.png", "d.jpg", "e.bmp"})
        jobs.push_back({book.Add(0, 0, name), name});
    std::vector<std::string> imageList;  // what each image index shows
    bool quitPosted = false;
    VSThumbPassHooks hooks;
    hooks.quit = [&] { return quitPosted; };
    hooks.makeAndAppend = [&](const std::string& path) -> int32_t {
        if (path == "d.jpg") quitPosted = true;  // arrives while this file is made
        if (path == "broken.jpg") return -1;
        imageList.push_back(path);
        return static_cast<int32_t>(imageList.size() - 1);
    };
    hooks.attach = [&](uint32_t key, int32_t image) { if (CFileItem* item = book.Find(key)) item->image = image; };
    EXPECT_EQ(RunThumbnailPass(jobs, hooks), 4u);
    EXPECT_EQ(imageList, (std::vector<std::string>{"a.jpg", "c.png", "d.jpg"}));
    std::vector<int32_t> images;
    for (const VSThumbJob& job : jobs) images.push_back(book.Find(job.key)->image);
    EXPECT_EQ(images, (std::vector<int32_t>{0, -1, 1, 2, -1}));
    // Without a maker nothing is attached at all.
    hooks.quit = nullptr, hooks.makeAndAppend = nullptr;
    int attached = 0;
    hooks.attach = [&](uint32_t, int32_t) { ++attached; };
    EXPECT_EQ(RunThumbnailPass(jobs, hooks), 5u);
    EXPECT_EQ(attached, 0);
}
