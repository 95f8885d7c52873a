// The decoded neighbours kept for the viewer's steps: which ones, for how long, and within what memory.
#include "browse/prefetch.h"
#include "tests/core/testutil.h"

#include <string>
#include <vector>

namespace {

VSDecodedPicture Picture(const std::string& path, size_t bytes, VSFileStatus status = {100, 7, 5}) {
    VSDecodedPicture p;
    p.path = path, p.status = status;
    p.pixels.assign(bytes, 9);
    return p;
}

}  // namespace

TEST(Prefetch, OrderIsAheadThenBehindWrappingAndNeverCurrent) {
    struct Case { int32_t current, count, direction; std::vector<int32_t> order; };
    const Case cases[] = {
        {0, 1, 1, {}},      {0, 2, 1, {1}},     {0, 2, -1, {1}},   {0, 5, 1, {1, 4}}, {0, 5, -1, {4, 1}},
        {4, 5, 1, {0, 3}},  {2, 5, 0, {3, 1}},  {-1, 5, 1, {}},    {5, 5, 1, {}},     {0, 0, 1, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.current << " of " << c.count << " going " << c.direction);
        EXPECT_EQ(PrefetchOrder(c.current, c.count, c.direction), c.order);
    }
}

TEST(Prefetch, TakesOnlyWhatTheFileStillIsAndNothingDecodedBeforeAnInvalidation) {
    VSPrefetchCache cache(2, 1000);
    const uint64_t g = cache.Generation();
    VSDecodedPicture out;
    // Same size and time: taken once, then gone.
    ASSERT_TRUE(cache.Put(Picture("a", 10), g));
    EXPECT_TRUE(cache.Take("a", {100, 7, 5}, &out));
    EXPECT_EQ(out.path, "a");
    EXPECT_EQ(out.pixels.size(), 10u);
    EXPECT_FALSE(cache.Take("a", {100, 7, 5}, &out));
    // A file written since (size, write time or creation differs) is dropped.
    for (const VSFileStatus now : {VSFileStatus{100, 8, 5}, VSFileStatus{100, 7, 6}, VSFileStatus{101, 7, 5}}) {
        ASSERT_TRUE(cache.Put(Picture("b", 10), g));
        out.Clear();
        EXPECT_FALSE(cache.Take("b", now, &out));
        EXPECT_TRUE(out.path.empty() && !cache.Holds("b"));
    }
    // An invalidation drops all and refuses decodes begun before it.
    ASSERT_TRUE(cache.Put(Picture("a", 10), g));
    const uint64_t after = cache.Invalidate();
    EXPECT_TRUE(after != g && cache.Generation() == after && !cache.Holds("a"));
    EXPECT_FALSE(cache.Put(Picture("b", 10), g));
    EXPECT_TRUE(cache.Put(Picture("b", 10), after));
}

TEST(Prefetch, BoundedByCountAndBytesOldestFirst) {
    VSPrefetchCache cache(2, 100);
    const uint64_t g = cache.Generation();
    EXPECT_FALSE(cache.Put(Picture("huge", 101), g));
    EXPECT_FALSE(cache.Put(Picture("", 1), g));
    ASSERT_TRUE(cache.Put(Picture("a", 10), g));
    ASSERT_TRUE(cache.Put(Picture("b", 10), g));
    ASSERT_TRUE(cache.Put(Picture("c", 10), g));
    EXPECT_TRUE(!cache.Holds("a") && cache.Holds("b") && cache.Holds("c"));
    // The same path again replaces it, as the newest.
    ASSERT_TRUE(cache.Put(Picture("b", 20), g));
    ASSERT_TRUE(cache.Put(Picture("d", 75), g));
    EXPECT_TRUE(!cache.Holds("c") && cache.Holds("b") && cache.Holds("d"));
    EXPECT_EQ(cache.Bytes(), 95u);
    // Over the byte budget the oldest goes even below the count.
    ASSERT_TRUE(cache.Put(Picture("e", 30), g));
    EXPECT_TRUE(!cache.Holds("b") && !cache.Holds("d") && cache.Holds("e"));
}

TEST(Prefetch, RendersOnceForEachKey) {
    VSDecodedPicture p = Picture("a", 40 * 20 * 3);
    p.width = 40, p.height = 20, p.orientation = 6;
    VSRenderKey key{{20, 20}, 1280, 1024, false};
    ASSERT_TRUE(p.RenderFor(key));
    EXPECT_EQ((VSSize{p.display.width, p.display.height}), (VSSize{20, 10}));
    // The same key keeps the rendering as it is.
    p.display.pixels[0] = 1;
    ASSERT_TRUE(p.RenderFor(key));
    EXPECT_EQ(p.display.pixels[0], 1);
    // Auto-rotation on turns it a quarter; another box renders anew.
    key.autoRotate = true;
    ASSERT_TRUE(p.RenderFor(key));
    EXPECT_EQ((VSSize{p.display.width, p.display.height}), (VSSize{10, 20}));
    key.box = {10, 10};
    ASSERT_TRUE(p.RenderFor(key));
    EXPECT_EQ(p.display.height, 10u);
    EXPECT_EQ(p.Bytes(), p.pixels.size() + p.display.pixels.size());
    VSDecodedPicture empty;
    EXPECT_FALSE(empty.RenderFor(key));
    EXPECT_TRUE(empty.display.pixels.empty());
}

TEST(Prefetch, DecodedBytesCountsAReducedJpegAndNothingForAnUnreadableFile) {
    const std::string jpeg = vstest::WritePatternJpeg("big.jpg", 2560, 2048);
    const std::string png = vstest::WritePatternPng("p.png", 7, 5);
    vstest::WriteFileBytes(vstest::ScratchPath("bad.jpg"), {0xFF, 0xD8, 0xFF});
    EXPECT_EQ(DecodedBytes(jpeg, {1280, 1024}), 1280u * 1024 * 3);
    EXPECT_EQ(DecodedBytes(jpeg, {2560, 2048}), 2560u * 2048 * 3);
    EXPECT_EQ(DecodedBytes(png, {1, 1}), 7u * 5 * 3);
    EXPECT_EQ(DecodedBytes(vstest::ScratchPath("bad.jpg"), {1280, 1024}), 0u);
    EXPECT_EQ(DecodedBytes(vstest::ScratchPath("none.png"), {1280, 1024}), 0u);
}
