// The display's render pipeline: fit, resample, turn upright, refit.
#include "render.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <array>

using namespace vstest;

namespace {

// A picture whose four quadrants have distinct flat colours (0 red, 1
// green, 2 blue, 3 yellow), so that a turn can be told from where they
// land; order gives the colours top left, top right, bottom left, bottom right.
Bytes Quadrants(uint32_t w, uint32_t h, std::array<int, 4> order = {0, 1, 2, 3}) {
    static const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    Bytes px(static_cast<size_t>(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const int q = order[(y >= h / 2) * 2 + (x >= w / 2)];
            for (int c = 0; c < 3; ++c) px[(static_cast<size_t>(y) * w + x) * 3 + c] = colours[q][c];
        }
    return px;
}

// The quadrant colour index at a point of an image (by nearest colour).
int QuadrantAt(const VSRgbImage& img, uint32_t x, uint32_t y) {
    const uint8_t* p = &img.pixels[(static_cast<size_t>(y) * img.width + x) * 3];
    if (p[0] > 128 && p[1] > 128) return 3;
    if (p[0] > 128) return 0;
    if (p[1] > 128) return 1;
    return 2;
}

}  // namespace

TEST(RenderPipeline, FitsWithoutEnlarging) {
    VSRgbImage out;
    Bytes small = Quadrants(400, 300);
    ASSERT_TRUE(RenderPicture(small.data(), 400, 300, {1000, 600}, 1280, 1024, 0, &out));
    EXPECT_EQ(out.width, 400u);
    EXPECT_EQ(out.height, 300u);
    EXPECT_EQ(out.pixels, small);  // a same-size bilinear pass keeps the pixels

    Bytes wide = Quadrants(2000, 1000);
    ASSERT_TRUE(RenderPicture(wide.data(), 2000, 1000, {1000, 600}, 1280, 1024, 0, &out));
    EXPECT_EQ(out.width, 1000u);
    EXPECT_EQ(out.height, 500u);
    EXPECT_EQ(out.pixels.size(), 1000u * 500 * 3);

    // A fit to the screen's size grows by two.
    Bytes exact = Quadrants(1024, 768);
    ASSERT_TRUE(RenderPicture(exact.data(), 1024, 768, DisplayBox(true, 0, 0, 1024, 768), 1024, 768, 0, &out));
    EXPECT_EQ(out.width, 1026u);
    EXPECT_EQ(out.height, 770u);
}

// Every EXIF orientation comes out upright: red, green over blue, yellow.
// Each row is how a camera stores that picture: where the upright
// quadrants lie in the stored rows.
TEST(RenderPipeline, EveryOrientationComesOutUpright) {
    const std::array<int, 4> stored[9] = {{0, 1, 2, 3}, {0, 1, 2, 3}, {1, 0, 3, 2}, {3, 2, 1, 0}, {2, 3, 0, 1},
                                          {0, 2, 1, 3}, {1, 3, 0, 2}, {3, 1, 2, 0}, {2, 0, 3, 1}};
    VSRgbImage out;
    for (int32_t o = 0; o <= 10; ++o) {
        SCOPED_TRACE(o);
        const bool turned = o >= 5 && o <= 8;
        Bytes camera = Quadrants(3000, 2000, stored[o <= 8 ? o : 0]);
        ASSERT_TRUE(RenderPicture(camera.data(), 3000, 2000, {1000, 600}, 1280, 1024, o, &out));
        EXPECT_EQ(out.width, turned ? 400u : 900u);
        EXPECT_EQ(out.height, 600u);
        const uint32_t l = out.width / 4, r = out.width * 3 / 4;
        EXPECT_EQ((std::array<int, 4>{QuadrantAt(out, l, 100), QuadrantAt(out, r, 100), QuadrantAt(out, l, 500),
                                      QuadrantAt(out, r, 500)}),
                  (std::array<int, 4>{0, 1, 2, 3}));
    }
    // Fitted once, by the upright size: a picture stored upright-portrait
    // but turned by 6 fills the box's height at its landscape width.
    Bytes sideways = Quadrants(2000, 3000);
    ASSERT_TRUE(RenderPicture(sideways.data(), 2000, 3000, {1000, 600}, 1280, 1024, 6, &out));
    EXPECT_EQ(out.width, 900u);
    EXPECT_EQ(out.height, 600u);
}

TEST(RenderPipeline, NothingToRenderGivesNoImage) {
    VSRgbImage out;
    Bytes px = Quadrants(10, 10);
    EXPECT_FALSE(RenderPicture(nullptr, 10, 10, {100, 100}, 1280, 1024, 0, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 0, 10, {100, 100}, 1280, 1024, 0, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 10, 10, {0, 0}, 1280, 1024, 6, &out));
    EXPECT_TRUE(out.pixels.empty());
    EXPECT_EQ(out.width, 0u);
}
