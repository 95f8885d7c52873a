// The display's render pipeline: fit, resample, turn upright, refit.
#include "render.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace vstest;

namespace {

// A picture whose four quadrants have distinct flat colours (red, green,
// blue, yellow from top left), so that a turn can be told from where they land.
Bytes Quadrants(uint32_t w, uint32_t h) {
    static const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    Bytes px;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* c = colours[(y >= h / 2) * 2 + (x >= w / 2)];
            px.insert(px.end(), c, c + 3);
        }
    return px;
}

// The quadrant colour index at a point of an image.
int QuadrantAt(const VSRgbImage& img, uint32_t x, uint32_t y) {
    const uint8_t* p = &img.pixels[(static_cast<size_t>(y) * img.width + x) * 3];
    return p[0] > 128 ? (p[1] > 128 ? 3 : 0) : (p[1] > 128 ? 1 : 2);
}

}  // namespace

TEST(RenderPipeline, FitsWithoutEnlargingAndGrowsAScreenSizedFit) {
    VSRgbImage out;
    const Bytes small = Quadrants(400, 300);
    ASSERT_TRUE(RenderPicture(small.data(), 400, 300, {1000, 600}, 1280, 1024, 0, &out));
    EXPECT_EQ(out.width * 10000 + out.height, 4000300u);
    EXPECT_EQ(out.pixels, small);  // a same-size bilinear pass keeps the pixels
    const Bytes exact = Quadrants(1024, 768);
    ASSERT_TRUE(RenderPicture(exact.data(), 1024, 768, DisplayBox(true, 0, 0, 1024, 768), 1024, 768, 0, &out));
    EXPECT_EQ(out.width * 10000 + out.height, 10260770u);
    EXPECT_EQ(out.pixels.size(), 1026u * 770 * 3);
}

TEST(RenderPipeline, OrientationsTurnTheRightWay) {
    const Bytes camera = Quadrants(3000, 2000);
    const struct {
        int32_t orientation;
        uint32_t width, height;
        int topLeft, topRight, bottomRight;
    } cases[] = {
        // 6: fitted to 900 x 600, turned clockwise to 600 x 900, fitted again to 400 x 600.
        {6, 400, 600, 2, 0, 1},
        {8, 400, 600, 1, 3, 2},  // counter-clockwise
        {3, 900, 600, 3, 2, 0},  // a half turn at the same size
        {0, 900, 600, 0, 1, 3},  // the rest: as stored
        {7, 900, 600, 0, 1, 3},
        {-1, 900, 600, 0, 1, 3},
    };
    for (const auto& c : cases) {
        VSRgbImage out;
        ASSERT_TRUE(RenderPicture(camera.data(), 3000, 2000, {1000, 600}, 1280, 1024, c.orientation, &out));
        EXPECT_EQ(out.width * 10000 + out.height, c.width * 10000 + c.height) << c.orientation;
        EXPECT_EQ(QuadrantAt(out, 100, 100), c.topLeft) << c.orientation;
        EXPECT_EQ(QuadrantAt(out, c.width - 100, 100), c.topRight) << c.orientation;
        EXPECT_EQ(QuadrantAt(out, c.width - 100, c.height - 100), c.bottomRight) << c.orientation;
    }
}

TEST(RenderPipeline, NothingToRenderGivesNoImage) {
    VSRgbImage out;
    const Bytes px = Quadrants(1000, 10);
    EXPECT_FALSE(RenderPicture(nullptr, 10, 10, {100, 100}, 1280, 1024, 0, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 0, 10, {100, 100}, 1280, 1024, 0, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 10, 10, {0, 0}, 1280, 1024, 6, &out));
    // Fitted, but turned it no longer fits: 10 x 1000 in 1000 x 10 is 0 wide.
    EXPECT_FALSE(RenderPicture(px.data(), 1000, 10, {1000, 10}, 1280, 1024, 6, &out));
    EXPECT_TRUE(out.pixels.empty());
    EXPECT_EQ(out.width, 0u);
}
