// The display's render pipeline: fit once by the upright size, resample,
// make upright.
#include "browse/render.h"
#include "tests/core/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace vstest;

TEST(RenderPipeline, FitsWithoutEnlargingGrowsAScreenSizedFitOrGivesNothing) {
    VSRgbImage out;
    const Bytes small = Quadrants(400, 300);
    ASSERT_TRUE(RenderPicture(small.data(), 400, 300, {1000, 600}, 1280, 1024, 0, &out));
    EXPECT_EQ(out.width * 10000 + out.height, 4000300u);
    EXPECT_EQ(out.pixels, small);  // a same-size bilinear pass keeps the pixels
    const Bytes exact = Quadrants(1024, 768);
    ASSERT_TRUE(RenderPicture(exact.data(), 1024, 768, DisplayBox(true, {}, 1024, 768), 1024, 768, 0, &out));
    EXPECT_EQ(out.width * 10000 + out.height, 10260770u);
    // Nothing to render, or nothing left once fitted upright (10 x 1000 in
    // 1000 x 10 is 0 wide): no image.
    const Bytes px = Quadrants(1000, 10);
    EXPECT_FALSE(RenderPicture(nullptr, 10, 10, {100, 100}, 1280, 1024, 0, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 0, 10, {100, 100}, 1280, 1024, 0, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 10, 10, {0, 0}, 1280, 1024, 6, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 1000, 10, {1000, 10}, 1280, 1024, 6, &out));
    EXPECT_TRUE(out.pixels.empty() && out.width == 0);
}

// Every EXIF orientation comes out upright: red, green over blue, yellow.
// Other values show the picture as stored.
TEST(RenderPipeline, EveryOrientationComesOutUpright) {
    VSRgbImage out;
    for (int32_t o = -1; o <= 9; ++o) {
        const bool turned = o >= 5 && o <= 8;
        const Bytes camera = Quadrants(3000, 2000, kStoredQuadrants[o >= 0 && o <= 8 ? o : 0]);
        ASSERT_TRUE(RenderPicture(camera.data(), 3000, 2000, {1000, 600}, 1280, 1024, o, &out));
        EXPECT_EQ(out.width * 10000 + out.height, turned ? 4000600u : 9000600u) << o;
        const uint32_t l = out.width / 4, r = out.width * 3 / 4;
        EXPECT_EQ((Order{QuadrantAt(out, l, 100), QuadrantAt(out, r, 100), QuadrantAt(out, l, 500), QuadrantAt(out, r, 500)}),
                  (Order{0, 1, 2, 3})) << o;
    }
    // Fitted once, by the upright size: stored upright-portrait but turned
    // by 6, it fills the box's height at its landscape width.
    const Bytes sideways = Quadrants(2000, 3000);
    ASSERT_TRUE(RenderPicture(sideways.data(), 2000, 3000, {1000, 600}, 1280, 1024, 6, &out));
    EXPECT_EQ(out.width * 10000 + out.height, 9000600u);
}

// Stripes finer than the display can show come out close to flat grey,
// not as beats: bilinear sampling and plain area averaging both fail this.
TEST(RenderPipeline, ShrinkingFiltersOutDetailTheDisplayCannotShow) {
    const struct { double cyclesPerPixel; int maxSpread; } cases[] = {{0.2, 70}, {0.45, 30}};
    for (const auto& c : cases) {
        Bytes stripes(3300 * 40 * 3);
        for (size_t i = 0; i < stripes.size(); ++i)
            stripes[i] = static_cast<uint8_t>(127.5 + 127.5 * std::cos(6.283185307 * c.cyclesPerPixel * (i / 3 % 3300)));
        std::vector<uint8_t> out;
        ASSERT_TRUE(ScaleForDisplay(stripes.data(), 3300, 40, 1000, 12, &out));
        const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
        EXPECT_LE(*hi - *lo, c.maxSpread) << c.cyclesPerPixel;
    }
}
