// The display: the render pipeline (fit once by the upright size, resample, make upright), and zooming: steps,
// clamping, the point held still, the visible part, and rendering that part alone.
#include "browse/render.h"
#include "browse/zoom.h"
#include "tests/core/testutil.h"

#include <algorithm>
#include <array>
#include <cmath>

using namespace vstest;

namespace {

using Order = std::array<int, 4>;

// Four flat quadrants (0 red, 1 green, 2 blue, 3 yellow), order giving them top left, top right, bottom left, bottom
// right, so that a turn can be told from where they land.
Bytes Quadrants(uint32_t w, uint32_t h, Order order = {0, 1, 2, 3}) {
    static const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    Bytes px;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* c = colours[order[(y >= h / 2) * 2 + (x >= w / 2)]];
            px.insert(px.end(), c, c + 3);
        }
    return px;
}

int QuadrantAt(const VSRgbImage& img, uint32_t x, uint32_t y) {
    const uint8_t* p = &img.pixels[(static_cast<size_t>(y) * img.width + x) * 3];
    return p[0] > 128 ? (p[1] > 128 ? 3 : 0) : (p[1] > 128 ? 1 : 2);
}

// How a camera stores the upright quadrants 0 1 / 2 3 under each EXIF orientation (1 to 8; 0 as 1).
const Order kStoredQuadrants[9] = {{0, 1, 2, 3}, {0, 1, 2, 3}, {1, 0, 3, 2}, {3, 2, 1, 0}, {2, 3, 0, 1},
                                   {0, 2, 1, 3}, {1, 3, 0, 2}, {3, 1, 2, 0}, {2, 0, 3, 1}};

}  // namespace

TEST(RenderPipeline, FitsWithoutEnlargingGrowsAScreenSizedFitTurnsEveryOrientationUprightOrGivesNothing) {
    VSRgbImage out;
    const Bytes small = Quadrants(400, 300);
    ASSERT_TRUE(RenderPicture(small.data(), 400, 300, {1000, 600}, 1280, 1024, 0, &out));
    EXPECT_EQ(out.width * 10000 + out.height, 4000300u);
    EXPECT_EQ(out.pixels, small);  // a same-size bilinear pass keeps the pixels
    const Bytes exact = Quadrants(1024, 768);
    ASSERT_TRUE(RenderPicture(exact.data(), 1024, 768, DisplayBox(true, {}, 1024, 768), 1024, 768, 0, &out));
    EXPECT_EQ(out.width * 10000 + out.height, 10260770u);
    // Nothing to render, or nothing left once fitted upright (10 x 1000 in 1000 x 10 is 0 wide): no image.
    const Bytes px = Quadrants(1000, 10);
    EXPECT_FALSE(RenderPicture(nullptr, 10, 10, {100, 100}, 1280, 1024, 0, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 0, 10, {100, 100}, 1280, 1024, 0, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 10, 10, {0, 0}, 1280, 1024, 6, &out));
    EXPECT_FALSE(RenderPicture(px.data(), 1000, 10, {1000, 10}, 1280, 1024, 6, &out));
    EXPECT_TRUE(out.pixels.empty() && out.width == 0);
    // Every EXIF orientation comes out upright: red, green over blue, yellow. Other values show the picture as stored.
    for (int32_t o = -1; o <= 9; ++o) {
        const bool turned = o >= 5 && o <= 8;
        const Bytes camera = Quadrants(3000, 2000, kStoredQuadrants[o >= 0 && o <= 8 ? o : 0]);
        ASSERT_TRUE(RenderPicture(camera.data(), 3000, 2000, {1000, 600}, 1280, 1024, o, &out));
        EXPECT_EQ(out.width * 10000 + out.height, turned ? 4000600u : 9000600u) << o;
        const uint32_t l = out.width / 4, r = out.width * 3 / 4;
        EXPECT_EQ((Order{QuadrantAt(out, l, 100), QuadrantAt(out, r, 100), QuadrantAt(out, l, 500), QuadrantAt(out, r, 500)}),
                  (Order{0, 1, 2, 3})) << o;
    }
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

TEST(Zoom, StepsStopAtTheFitAndTheMaximum) {
    const struct { double now, fit; int32_t steps; double expected; } cases[] = {
        {0, 0.2, 1, 0.25},      // in from the fitted view
        {0, 0.2, -1, 0},        // out at the fitted view stays there
        {0.25, 0.2, -1, 0},     // back down to the fit
        {0.3, 0.2, -1, 0.24},   // above the fit
        {0, 0.2, 2, 0.3125},    // a wheel's two notches
        {kZoomMax, 0.2, 1, kZoomMax},  // capped
        {0, 1, 1, 1.25},        // a picture smaller than the view
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(SteppedScale(c.now, c.fit, c.steps), c.expected) << c.now << " " << c.steps;
    // Steps in and as many out come back to the fitted view.
    double s = 0;
    for (int i = 0; i < 7; ++i) s = SteppedScale(s, 0.213, 1);
    for (int i = 0; i < 7; ++i) s = SteppedScale(s, 0.213, -1);
    EXPECT_EQ(s, 0);
    // The pane gives the zoom of the real size.
    EXPECT_EQ(PaneDimensionsZoomed(6000, 4000, 0.2134), "Dimensions:  6000 x 4000  (21%)");
    EXPECT_EQ(PaneDimensionsZoomed(320, 240, 0.125), "Dimensions:  320 x 240  (13%)");
    EXPECT_EQ(PaneDimensionsZoomed(16, 16, kZoomMax), "Dimensions:  16 x 16  (3200%)");
}

TEST(Zoom, ClampingCentresWhatDoesNotFillTheViewOpensNoBandElsewhereAndPansWithinThePicture) {
    const VSSize view{1000, 800};
    // left, top as asked; the clamped ones wanted, and the frame.
    const struct { VSSize picture; double scale; int64_t left, top, wantLeft, wantTop; VSZoomFrame frame; } cases[] = {
        {{6000, 4000}, 1, -50, 10, 0, 10, {{0, 0}, {1000, 800}, 0, 10}},
        {{6000, 4000}, 1, 5500, 3500, 5000, 3200, {{0, 0}, {1000, 800}, 5000, 3200}},
        {{100, 50}, 2, 30, 30, -400, -350, {{400, 350}, {200, 100}, 0, 0}},
        {{6000, 100}, 1, 70, -9, 70, -350, {{0, 350}, {1000, 100}, 70, 0}},
        {{201, 100}, 1, 0, 0, -399, -350, {{399, 350}, {201, 100}, 0, 0}},
        {{1000, 800}, 1, 5, 5, 0, 0, {{0, 0}, {1000, 800}, 0, 0}}};
    for (const auto& c : cases) {
        const VSZoom z = ClampZoom(VSZoom{c.scale, c.left, c.top}, c.picture, view);
        EXPECT_EQ(std::make_pair(z.left, z.top), std::make_pair(c.wantLeft, c.wantTop)) << c.picture.width;
        const VSZoomFrame f = ZoomFrame(z, c.picture, view);
        EXPECT_EQ(f.at, c.frame.at) << c.picture.width;
        EXPECT_EQ(f.size, c.frame.size) << c.picture.width;
        EXPECT_EQ(f.left * 100000 + f.top, c.frame.left * 100000 + c.frame.top) << c.picture.width;
    }
    // Unzoomed stays unzoomed; panning and resizing stay within the picture.
    const VSSize picture{6000, 4000};
    EXPECT_FALSE(ClampZoom(VSZoom{}, picture, view).Zoomed());
    const VSZoom z{1, 100, 100};
    const struct { int64_t dx, dy, left, top; } pans[] = {
        {125, 100, 225, 200}, {-125, -100, 0, 0}, {9000, 9000, 5000, 3200}};
    for (const auto& p : pans) {
        const VSZoom moved = PanBy(z, p.dx, p.dy, picture, view);
        EXPECT_EQ(moved.left * 10000 + moved.top, p.left * 10000 + p.top) << p.dx;
    }
    // Full screen after the window: the centre stays; a fit that grew to the scale gives the fitted view.
    const VSZoom wider = Reframe(VSZoom{1, 2500, 1600}, 0.16, picture, view, {1280, 1024});
    EXPECT_EQ(wider.left * 10000 + wider.top, 2360 * 10000 + 1488);
    EXPECT_FALSE(Reframe(VSZoom{0.2, 0, 0}, 0.21, picture, view, {1280, 1024}).Zoomed());
}

TEST(Zoom, TheZoomHoldsThePointUnderThePointerUnlessAnEdgeWouldShowABand) {
    const VSSize picture{6000, 4000}, view{1000, 800};
    const double fit = 0.16;  // 960 x 640 fitted
    EXPECT_DOUBLE_EQ(FitScale(picture, {960, 640}), fit);
    const struct { double from, to; VSPoint at; } cases[] = {
        {0, 0.2, {500, 400}}, {0, 1, {300, 200}}, {1, 4, {900, 700}},
        {4, 1, {10, 20}},     {2, 1.6, {500, 400}}, {0.5, 32, {123, 456}}};
    for (const auto& c : cases) {
        const VSZoom now = c.from > 0 ? ClampZoom(VSZoom{c.from, 2500, 1600}, picture, view) : VSZoom();
        const double before = c.from > 0 ? c.from : fit;
        const VSZoom start = c.from > 0 ? now : ClampZoom(VSZoom{fit, 0, 0}, picture, view);
        const VSZoom z = ZoomAbout(now, fit, c.to, c.at, picture, view);
        ASSERT_DOUBLE_EQ(z.scale, c.to);
        // The picture point under the pointer, before and after, within a view pixel.
        for (int axis = 0; axis < 2; ++axis) {
            const double p = axis ? c.at.y : c.at.x;
            const double u0 = ((axis ? start.top : start.left) + p + 0.5) / before;
            const double u1 = ((axis ? z.top : z.left) + p + 0.5) / c.to;
            EXPECT_NEAR(u0, u1, 1 / c.to) << c.from << " " << c.to << " axis " << axis;
        }
    }
    // Near the top-left corner the corner stays in the corner, and down to the fit is the fitted view again.
    const VSZoom corner = ZoomAbout(VSZoom{}, fit, 1, {15, 85}, picture, view);
    EXPECT_EQ(corner.left * 10000 + corner.top, 0);
    EXPECT_FALSE(ZoomAbout(VSZoom{0.5, 10, 10}, fit, fit, {0, 0}, picture, view).Zoomed());
}

// At one view pixel per kept pixel the whole frame is the picture made upright, for every orientation.
TEST(ZoomRender, OneToOneIsTheUprightPicture) {
    const Bytes kept = Pattern(7, 5, 3, 3);
    for (int32_t o = 0; o <= 8; ++o) {
        VSRgbImage upright, zoomed;
        ASSERT_TRUE(Upright(kept.data(), 7, 5, 21, o, &upright));
        const VSSize picture{upright.width, upright.height};
        ASSERT_TRUE(RenderZoomed(kept.data(), 7, 5, o, picture, 1, {{0, 0}, picture, 0, 0}, &zoomed));
        EXPECT_EQ(zoomed.pixels, upright.pixels) << o;
        EXPECT_EQ(zoomed.width * 100 + zoomed.height, upright.width * 100 + upright.height) << o;
    }
}

// A part of the picture, enlarged from a reduced decode and shrunk from a
// full one: the quadrants meet where the scale puts them, upright.
TEST(ZoomRender, APartLandsUprightWhereTheScalePutsItAndAWholeShrunkFrameIsTheDisplayResample) {
    // kw x kh: kept, upright, of a 400 x 300 picture; meet: the quadrants' corner in the frame.
    const struct { uint32_t kw, kh; double scale; VSZoomFrame frame; VSPoint meet; } cases[] = {
        {40, 30, 1, {{0, 0}, {100, 100}, 150, 100}, {50, 50}},      // enlarges 10 times
        {400, 300, 4, {{0, 0}, {120, 80}, 740, 560}, {60, 40}},     // enlarges the full one
        {400, 300, 0.25, {{0, 0}, {60, 50}, 20, 10}, {30, 27}},     // shrinks
        {200, 150, 0.2, {{0, 0}, {50, 40}, 10, 10}, {30, 20}},      // shrinks a reduced one
    };
    for (const auto& c : cases)
        for (int32_t o = 1; o <= 8; ++o) {
            const bool swaps = o >= 5;
            const uint32_t sw = swaps ? c.kh : c.kw, sh = swaps ? c.kw : c.kh;
            const Bytes kept = Quadrants(sw, sh, kStoredQuadrants[o]);
            VSRgbImage out;
            ASSERT_TRUE(RenderZoomed(kept.data(), sw, sh, o, {400, 300}, c.scale, c.frame, &out));
            ASSERT_EQ(out.width * 1000 + out.height, c.frame.size.width * 1000 + c.frame.size.height);
            const uint32_t l = c.meet.x - 4, r = c.meet.x + 4, t = c.meet.y - 4, b = c.meet.y + 4;
            EXPECT_EQ((Order{QuadrantAt(out, l, t), QuadrantAt(out, r, t), QuadrantAt(out, l, b), QuadrantAt(out, r, b)}),
                      (Order{0, 1, 2, 3})) << c.scale << " orientation " << o;
        }
    // Shrunk, a whole frame is what the display shows.
    const Bytes kept = Pattern(400, 300, 3, 9);
    std::vector<uint8_t> expected;
    ASSERT_TRUE(ScaleForDisplay(kept.data(), 400, 300, 100, 75, &expected));
    VSRgbImage out;
    ASSERT_TRUE(RenderZoomed(kept.data(), 400, 300, 1, {400, 300}, 0.25, {{0, 0}, {100, 75}, 0, 0}, &out));
    EXPECT_EQ(out.pixels, expected);
    EXPECT_FALSE(RenderZoomed(nullptr, 400, 300, 1, {400, 300}, 1, {{0, 0}, {10, 10}, 0, 0}, &out));
    EXPECT_FALSE(RenderZoomed(kept.data(), 400, 300, 1, {400, 300}, 1, {{0, 0}, {0, 10}, 0, 0}, &out));
    EXPECT_TRUE(out.pixels.empty());
}

// Rendered from the part FramePart names, cut out of the picture at its real size, a frame is the same pixels as from
// the whole: every orientation, enlarged and shrunk, at the corners, inside, and a picture smaller than the view.
TEST(ZoomRender, APartGivesTheSamePixelsAsTheWholePicture) {
    const uint32_t sw = 97, sh = 61;  // stored
    const Bytes stored = Pattern(sw, sh, 3, 41);
    const VSSize view{40, 30};
    const double scales[] = {1, 1.5625, 3.7, 0.8, 0.33, 0.2};
    const struct { int64_t left, top; } places[] = {{0, 0}, {1 << 20, 1 << 20}, {33, 17}, {0, 1 << 20}};
    for (int32_t o = 0; o <= 8; ++o) {
        const VSSize picture = OrientationSwaps(o) ? VSSize{sh, sw} : VSSize{sw, sh};
        for (double scale : scales)
            for (const auto& p : places) {
                SCOPED_TRACE("orientation " + std::to_string(o) + " scale " + std::to_string(scale) + " at " +
                             std::to_string(p.left) + "," + std::to_string(p.top));
                const VSZoomFrame frame = ZoomFrame(ClampZoom(VSZoom{scale, p.left, p.top}, picture, view), picture, view);
                VSRgbImage whole, fromPart;
                ASSERT_TRUE(RenderZoomed(stored.data(), sw, sh, o, picture, scale, frame, &whole));
                const VSStoredRect r = FramePart(picture, o, scale, frame);
                ASSERT_LE(r.x + r.width, sw);
                ASSERT_LE(r.y + r.height, sh);
                Bytes part;
                for (uint32_t y = r.y; y < r.y + r.height; ++y)
                    part.insert(part.end(), stored.begin() + (y * sw + r.x) * 3, stored.begin() + (y * sw + r.x + r.width) * 3);
                ASSERT_TRUE(RenderZoomedPart(part.data(), r, o, picture, scale, frame, &fromPart));
                ASSERT_EQ(fromPart.pixels, whole.pixels);
                // A pixel short on any side, or reaching past the picture: not enough.
                const VSStoredRect shorter[] = {{r.x + 1, r.y, r.width - 1, r.height}, {r.x, r.y, r.width - 1, r.height},
                                                {r.x, r.y + 1, r.width, r.height - 1}, {r.x, r.y, r.width, r.height - 1},
                                                {r.x, r.y, sw + 1 - r.x, r.height}};
                for (const VSStoredRect& s : shorter)
                    EXPECT_FALSE(RenderZoomedPart(part.data(), s, o, picture, scale, frame, &fromPart)) << s.x << "," << s.y;
            }
    }
}

// What the window asks the codec for: the view's top-left corner under orientation 6 (stored turned a quarter left) is
// the stored bottom-left.
TEST(ZoomRender, ThePartOfAFrameIsNamedAsStoredAndDecodedFirstOrWholeWhenWorthIt) {
    const VSSize picture{6000, 4000};
    const VSZoomFrame corner{{0, 0}, {1000, 800}, 0, 0};
    const struct { int32_t orientation; VSStoredRect want; } cases[] = {
        {1, {0, 0, 1002, 802}}, {3, {4998, 3198, 1002, 802}}, {6, {0, 4998, 802, 1002}}, {8, {3198, 0, 802, 1002}}};
    for (const auto& c : cases) {
        const VSStoredRect r = FramePart(picture, c.orientation, 1, corner);
        EXPECT_EQ((std::array<uint32_t, 4>{r.x, r.y, r.width, r.height}),
                  (std::array<uint32_t, 4>{c.want.x, c.want.y, c.want.width, c.want.height})) << c.orientation;
    }
    // Decoded first when well short of the whole picture only.
    const VSSize view{1000, 800};
    const struct { double scale; bool first; } firsts[] = {{1, true}, {0.2, false}, {0.25, false}, {0.3, true}};
    for (const auto& f : firsts) {
        const VSZoomFrame frame = ZoomFrame(ClampZoom(VSZoom{f.scale, 0, 0}, picture, view), picture, view);
        EXPECT_EQ(PartFirst(picture, 1, f.scale, frame).width > 0, f.first) << f.scale;
    }
    // The whole picture is decoded past what the reduced decode holds, within the budget.
    const struct { VSSize decoded, picture; double scale; bool wanted; } fulls[] = {
        {{1500, 1000}, {6000, 4000}, 0.25, false}, {{1500, 1000}, {6000, 4000}, 0.26, true},
        {{6000, 4000}, {6000, 4000}, 4, false},    {{1250, 938}, {40000, 30000}, 1, false},
        {{1500, 1000}, {6000, 4000}, 1, true},     {{4474, 2500}, {17895, 10000}, 1, true}};  // the most, at 3 bytes a pixel
    for (const auto& c : fulls)
        EXPECT_EQ(WantsFullDecode(c.decoded, c.picture, c.scale), c.wanted) << c.picture.width << " " << c.scale;
}
