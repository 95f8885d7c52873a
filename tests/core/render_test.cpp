// The display's render pipeline: fit, resample, turn upright, refit.
#include "render.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace vstest;

namespace {

// A picture whose four quadrants have distinct flat colours, so that a
// turn can be told from where they land.
Bytes Quadrants(uint32_t w, uint32_t h) {
    static const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    Bytes px(static_cast<size_t>(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const int q = (y >= h / 2) * 2 + (x >= w / 2);
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

TEST(RenderPipeline, OrientationsTurnTheRightWay) {
    Bytes camera = Quadrants(3000, 2000);
    VSRgbImage out;
    // 6: fitted to 900 x 600, turned to 600 x 900, fitted again to 400 x 600.
    ASSERT_TRUE(RenderPicture(camera.data(), 3000, 2000, {1000, 600}, 1280, 1024, 6, &out));
    EXPECT_EQ(out.width, 400u);
    EXPECT_EQ(out.height, 600u);
    // A clockwise quarter turn brings the top-left (red) quadrant to the
    // top right and the bottom-left (blue) one to the top left.
    EXPECT_EQ(QuadrantAt(out, 300, 100), 0);
    EXPECT_EQ(QuadrantAt(out, 100, 100), 2);
    EXPECT_EQ(QuadrantAt(out, 300, 500), 1);

    // 8: counter-clockwise: the top-right (green) quadrant goes top left.
    ASSERT_TRUE(RenderPicture(camera.data(), 3000, 2000, {1000, 600}, 1280, 1024, 8, &out));
    EXPECT_EQ(out.width, 400u);
    EXPECT_EQ(QuadrantAt(out, 100, 100), 1);
    EXPECT_EQ(QuadrantAt(out, 300, 100), 3);

    // 3: half turn at the same size.
    ASSERT_TRUE(RenderPicture(camera.data(), 3000, 2000, {1000, 600}, 1280, 1024, 3, &out));
    EXPECT_EQ(out.width, 900u);
    EXPECT_EQ(out.height, 600u);
    EXPECT_EQ(QuadrantAt(out, 100, 100), 3);

    // 7 and the rest: as stored.
    for (int32_t o : {0, 1, 2, 4, 5, 7, 9, -1}) {
        ASSERT_TRUE(RenderPicture(camera.data(), 3000, 2000, {1000, 600}, 1280, 1024, o, &out));
        EXPECT_EQ(out.width, 900u);
        EXPECT_EQ(QuadrantAt(out, 100, 100), 0) << o;
    }
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
