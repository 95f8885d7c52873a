// TGA reader, dimension query and writer.
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <cstring>
#include <ctime>
#include <string>

using namespace vstest;

namespace {

// Header fields, in the order Fields and Mapped give them.
struct TgaFields {
    uint16_t width = 1, height = 1;
    uint8_t imageType = 2, pixelBits = 24, descriptor = 0x20, mapType = 0;
    uint16_t mapFirst = 0, mapLength = 0;
    uint8_t mapBits = 0, idLength = 0;
};

Bytes Header(const TgaFields& s) {
    Bytes b(18, 0);
    b[0] = s.idLength, b[1] = s.mapType, b[2] = s.imageType;
    ISPut16LE(&b[3], s.mapFirst), ISPut16LE(&b[5], s.mapLength), b[7] = s.mapBits;
    ISPut16LE(&b[12], s.width), ISPut16LE(&b[14], s.height);
    b[16] = s.pixelBits, b[17] = s.descriptor;
    return b;
}

// A file from its header and everything after it.
Bytes Tga(const TgaFields& s, const Bytes& rest) { return Cat(Header(s), rest); }

// RGB(A) to B, G, R(, A) and back.
Bytes SwapRB(Bytes px, uint32_t pb) {
    for (size_t i = 0; i + 2 < px.size(); i += pb) std::swap(px[i], px[i + 2]);
    return px;
}

ReadResult ReadMem(const Bytes& file, uint32_t depth, uint32_t flags = 0, int64_t allocations = -1) {
    return ReadWith(IS40_ReadTGA, file, depth, flags, allocations);
}

TgaFields Fields(uint16_t w, uint16_t h, uint8_t type, uint8_t bits, uint8_t descriptor = 0x20) {
    return {w, h, type, bits, descriptor};
}

TgaFields Mapped(uint8_t type, uint16_t w, uint8_t bits, uint16_t first, uint16_t length, uint8_t entryBits) {
    return {w, 1, type, bits, 0x20, 1, first, length, entryBits};
}

}  // namespace

TEST(TgaRead, PixelFormatsOriginsAndPackets) {
    // File rows A B / C D, stored B, G, R.
    const Bytes rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const Bytes px16 = {0xFF, 0x7F, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00};  // white, red, green, blue
    const Bytes rgb16 = {0xF8, 0xF8, 0xF8, 0xF8, 0, 0, 0, 0xF8, 0, 0, 0, 0xF8};
    TgaFields grey = Fields(3, 1, 3, 8);
    grey.idLength = 3, grey.mapType = 1, grey.mapLength = 2, grey.mapBits = 16;  // both skipped
    const Bytes raw32 = Pattern(3, 2, 4, 9);
    Bytes lit32 = Cat(Cat({0x04}, Bytes(raw32.begin(), raw32.begin() + 20)), Cat({0x80}, Bytes(raw32.begin() + 20, raw32.end())));

    struct Case { const char* what; Bytes file; uint32_t depth; Bytes expected; uint32_t w, h; } cases[] = {
        {"top-left", Tga(Fields(2, 2, 2, 24, 0x20), rows), 24, {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}, 2, 2},
        {"top-right", Tga(Fields(2, 2, 2, 24, 0x30), rows), 24, {6, 5, 4, 3, 2, 1, 12, 11, 10, 9, 8, 7}, 2, 2},
        {"bottom-right", Tga(Fields(2, 2, 2, 24, 0x10), rows), 24, {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, 2, 2},
        {"24 bits as 32", Tga(Fields(2, 2, 2, 24), rows), 32, {3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}, 2, 2},
        // A repeat packet of 4 covers row 0 and the start of row 1.
        {"repeat packet across rows", Tga(Fields(3, 2, 10, 24), {0x83, 10, 20, 30, 0x01, 1, 2, 3, 4, 5, 6}), 24,
         {30, 20, 10, 30, 20, 10, 30, 20, 10, 30, 20, 10, 3, 2, 1, 6, 5, 4}, 3, 2},
        {"literal packet across rows", Tga(Fields(3, 2, 10, 32, 0x28), lit32), 32, SwapRB(raw32, 4), 3, 2},
        // A packet running past the last pixel is cut off, not written past the buffer.
        {"packet past the end", Tga(Fields(3, 2, 10, 24), {0xFF, 1, 2, 3}), 24, {3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1}, 3, 2},
        {"16 bits", Tga(Fields(4, 1, 2, 16), px16), 24, rgb16, 4, 1},
        {"15 bits", Tga(Fields(4, 1, 2, 15), px16), 24, rgb16, 4, 1},
        {"16 bits as 32", Tga(Fields(4, 1, 2, 16), px16), 32, {0xF8, 0xF8, 0xF8, 255, 0xF8, 0, 0, 255, 0, 0xF8, 0, 255, 0, 0, 0xF8, 255}, 4, 1},
        {"16-bit packets", Tga(Fields(4, 1, 10, 16), {0x81, 0xFF, 0x7F, 0x01, 0x00, 0x7C, 0x1F, 0x00}), 24,
         {0xF8, 0xF8, 0xF8, 0xF8, 0xF8, 0xF8, 0xF8, 0, 0, 0, 0, 0xF8}, 4, 1},
        {"grey with ID field and unused map", Tga(grey, {'a', 'b', 'c', 0xAA, 0xAA, 0xBB, 0xBB, 0, 128, 255}), 24,
         {0, 0, 0, 128, 128, 128, 255, 255, 255}, 3, 1},
        {"grey packets", Tga(Fields(3, 1, 11, 8), {0x82, 77}), 24, Bytes(9, 77), 3, 1},
        // 16-bit grey is grey then alpha, coded or not.
        {"grey and alpha", Tga(Fields(3, 1, 3, 16, 0x28), {10, 255, 100, 128, 200, 0}), 32, {10, 10, 10, 255, 100, 100, 100, 128, 200, 200, 200, 0}, 3, 1},
        {"grey and alpha packets", Tga(Fields(3, 1, 11, 16, 0x28), {0x00, 10, 255, 0x81, 100, 128}), 24, {10, 10, 10, 100, 100, 100, 100, 100, 100}, 3, 1},
        {"index outside the map, at 32", Tga(Mapped(1, 2, 8, 0, 1, 24), {10, 20, 30, 0, 5}), 32, {30, 20, 10, 255, 0, 0, 0, 255}, 2, 1},
        // A map of indexes 5 and 6 only: 0, 7 and 255 come out black.
        {"partial map", Tga(Mapped(9, 5, 8, 5, 2, 24), {10, 20, 30, 40, 50, 60, 0x04, 5, 6, 0, 7, 255}), 24,
         {30, 20, 10, 60, 50, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 5, 1},
        {"16-bit indexes", Tga(Mapped(1, 2, 16, 300, 2, 24), {10, 20, 30, 40, 50, 60, 0x2D, 0x01, 0xFF, 0xFF}), 24,
         {60, 50, 40, 0, 0, 0}, 2, 1},
        // Map entries of each size, indexes 1 0 1.
        {"map of 8 bits", Tga(Mapped(1, 3, 8, 0, 2, 8), {0x40, 0xC0, 1, 0, 1}), 32, {0xC0, 0xC0, 0xC0, 255, 0x40, 0x40, 0x40, 255, 0xC0, 0xC0, 0xC0, 255}, 3, 1},
        {"map of 15 bits", Tga(Mapped(1, 3, 8, 0, 2, 15), {0x1F, 0x00, 0x00, 0x7C, 1, 0, 1}), 32, {0xF8, 0, 0, 255, 0, 0, 0xF8, 255, 0xF8, 0, 0, 255}, 3, 1},
        {"map of 16 bits", Tga(Mapped(1, 3, 8, 0, 2, 16), {0xE0, 0x03, 0xFF, 0xFF, 1, 0, 1}), 32,
         {0xF8, 0xF8, 0xF8, 255, 0, 0xF8, 0, 255, 0xF8, 0xF8, 0xF8, 255}, 3, 1},
        {"map of 24 bits", Tga(Mapped(1, 3, 8, 0, 2, 24), {1, 2, 3, 4, 5, 6, 1, 0, 1}), 32, {6, 5, 4, 255, 3, 2, 1, 255, 6, 5, 4, 255}, 3, 1},
        {"map of 32 bits", Tga(Mapped(1, 3, 8, 0, 2, 32), {1, 2, 3, 4, 5, 6, 7, 8, 1, 0, 1}), 32, {7, 6, 5, 8, 3, 2, 1, 4, 7, 6, 5, 8}, 3, 1},
    };
    for (const Case& c : cases) {
        ReadResult r = ReadMem(c.file, c.depth);
        EXPECT_TRUE(r.buf && r.error == 0 && r.width == c.w && r.height == c.h) << c.what << ": error " << r.error;
        EXPECT_EQ(r.Data(c.expected.size()), c.expected) << c.what;
    }
    // The 8-bit form: indexes with their palette; grey ramps are held to ImageMagick's files.
    ReadResult r = ReadMem(cases[16].file, 8);
    EXPECT_EQ(r.Data(5), Bytes({5, 6, 0, 7, 255}));
    EXPECT_EQ(r.palette[4 * 5 + 2], 30);
    EXPECT_EQ(r.palette[4 * 6 + 0], 40);
    EXPECT_EQ(Get32(r.palette, 0) | Get32(r.palette, 4 * 7), 0u) << "entries outside the map";
    EXPECT_EQ(IS40_GlobalSize(ReadMem(cases[11].file, 8, IS_READ_PAD_BGR).buf.get()), 3u) << "indexes are never padded";
    EXPECT_EQ(ReadMem(cases[17].file, 8).error, uint32_t(IS_ERR_DEPTH));  // 16-bit indexes have no 8-bit form
    EXPECT_EQ(ReadMem(cases[13].file, 24, IS_READ_DIB).Data(16)[14], 32);  // a DIB keeps the alpha
}

TEST(TgaRead, ErrorCodesAndFooterProblemsThatKeepThePicture) {
    const Bytes one = Tga(TgaFields(), {1, 2, 3});
    TgaFields longId = Fields(4, 4, 2, 24), packets = Mapped(9, 4, 8, 0, 256, 24);
    longId.idLength = 200, packets.height = 4;
    // allocations: how many the read may make (negative: any)
    struct Case { std::string what; Bytes file; uint32_t depth, flags, error; int64_t allocations = -1; };
    std::vector<Case> cases = {
        {"width 0", Tga(Fields(0, 1, 2, 24), {1, 2, 3}), 24, 0, IS_ERR_FORMAT},
        {"height 0", Tga(Fields(1, 0, 2, 24), {1, 2, 3}), 24, 0, IS_ERR_FORMAT},
        {"colour-mapped without a map", Tga(Fields(1, 1, 1, 8), {0}), 24, 0, IS_ERR_PALETTE},
        {"map entries of 12 bits", Tga(Mapped(1, 1, 8, 0, 1, 12), {0, 0, 0}), 24, 0, IS_ERR_TGA_TYPE},
        {"24-bit indexes", Tga(Mapped(1, 1, 24, 0, 1, 24), Bytes(6, 0)), 24, 0, IS_ERR_TGA_TYPE},
        {"short ID field", Tga(longId, Bytes(100, 0)), 24, 0, IS_ERR_READ},
        {"short colour map", Tga(Mapped(1, 4, 8, 0, 256, 24), Bytes(700, 0)), 24, 0, IS_ERR_READ},
        {"packets stop early", Tga(packets, Cat(Bytes(768, 0), {0x87, 1})), 24, 0, IS_ERR_READ},
        {"packet header without pixel", Tga(packets, Cat(Bytes(768, 0), {0x87, 1, 0x87})), 24, 0, IS_ERR_READ},
        {"true colour as indexes", one, 8, 0, IS_ERR_DEPTH}, {"8-bit DIB", one, 8, IS_READ_DIB, IS_ERR_PARAM},
        {"padded DIB", one, 24, IS_READ_DIB | IS_READ_PAD_BGR, IS_ERR_PARAM},
        {"huge", Tga(Fields(60000, 60000, 2, 24), Bytes(64, 0x7F)), 32, 0, IS_ERR_MEMORY},
        // Sizes within the allocation limit that the source cannot hold are refused before the output is allocated.
        {"data cannot fill the picture", Tga(Fields(20000, 20000, 2, 24), Bytes(64, 0xFF)), 24, 0, IS_ERR_READ, 0},
        {"packets cannot fill the picture", Tga(Fields(20000, 20000, 10, 24), Bytes(64, 0xFF)), 24, 0, IS_ERR_READ, 0},
    };
    for (uint8_t type : {0, 4, 8, 12, 32, 255})
        cases.push_back({"type " + std::to_string(type), Tga(Fields(1, 1, type, 24), {1, 2, 3}), 24, 0, IS_ERR_TGA_TYPE});
    for (uint8_t bits : {0, 1, 4, 12, 33, 64})
        cases.push_back({"pixel bits " + std::to_string(bits), Tga(Fields(1, 1, 2, bits), Bytes(8, 0)), 24, 0, IS_ERR_TGA_TYPE});
    for (uint32_t depth : {0u, 1u, 4u, 16u, 48u}) cases.push_back({"depth " + std::to_string(depth), one, depth, 0, IS_ERR_PARAM});
    for (const Case& c : cases) {
        ReadResult r = ReadMem(c.file, c.depth, c.flags, c.allocations);
        EXPECT_TRUE(!r.buf && r.error == c.error) << c.what << ": " << r.error;
    }
    // Other flag bits are ignored.
    ReadResult r = ReadMem(one, 24, 1);
    EXPECT_TRUE(r.buf && r.error == 0) << r.error;
    Bytes px = Pattern(8, 1, 3);
    Bytes footer(26, 0);
    std::memcpy(&footer[8], "TRUEVISION-XFILE.", 18);
    // A footer with no extension area, then one whose extension lies outside the file.
    Bytes file = Cat(Tga(Fields(8, 1, 2, 24), px), footer);
    for (uint32_t error : {0u, uint32_t(IS_ERR_READ)}) {
        r = ReadMem(file, 24);
        EXPECT_EQ(r.error, error);
        EXPECT_EQ(r.Data(24), SwapRB(px, 3));
        file[file.size() - 26] = 0xF0, file[file.size() - 23] = 0x10;
    }
}

TEST(TgaDims, ReportsHeaderAndErrors) {
    const Bytes head = Header(Fields(300, 2, 3, 8));
    struct Case { Bytes file; uint32_t error, bits; } cases[] = {
        {Header(Fields(300, 2, 10, 32)), 0, 32},  // no pixel data needed
        {Header(Fields(300, 2, 10, 40)), IS_ERR_TGA_TYPE, 0}, {Header(Fields(300, 2, 5, 8)), IS_ERR_TGA_TYPE, 0},
        {Bytes(head.begin(), head.begin() + 10), IS_ERR_READ, 0},
    };
    for (const Case& c : cases) {
        uint32_t w = 0, h = 0, bits = 0;
        EXPECT_EQ(WithMemorySource(c.file, [&](ISHANDLE src) { return IS40_GetTGADims(src, &w, &h, &bits, 0); }), !c.error);
        EXPECT_EQ(IS40_GetLastError(), c.error);
        if (!c.error) { EXPECT_EQ(std::to_string(w) + "x" + std::to_string(h) + "@" + std::to_string(bits), "300x2@32"); }
    }
}

TEST(TgaWrite, FileLayouts) {
    const uint32_t w = 3, h = 2;
    const Bytes pal = PatternPalette(256, 0), idx = Pattern(w, h, 1), rgb = Pattern(w, h, 3), rgba = Pattern(w, h, 4);
    // The pixels, top row first, are shown in ImageMagick by the writer agreement test.
    struct Case { uint32_t bits; const Bytes* image; Bytes header; uint32_t attributes; } cases[] = {
        {8, &idx, {0, 1, 1, 0, 0, 0, 1, 24, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0x28}, 0},
        {24, &rgb, {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 24, 0x20}, 0},
        {32, &rgba, {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 32, 0x20}, 3},
    };
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        uint32_t returned = 0;
        const Bytes file = WriteToBytes("out.tga", [&](ISHANDLE d) {
            return IS40_WriteTGA(d, c.image->data(), w, h, c.bits, w * c.bits / 8, pal.data(), 0, 0);
        }, &returned);
        const uint32_t e = 18 + (c.bits == 8 ? 768 : 0) + w * h * c.bits / 8;  // extension area
        ASSERT_EQ(file.size(), e + 495 + 26);
        EXPECT_EQ(returned, file.size());
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), c.header);
        // Size, date stamp from the local clock, attribute type; the footer's offset of it, no developer area.
        EXPECT_EQ((std::vector<uint32_t>{Get16(file, e), Get16(file, e + 371), file[e + 494], Get32(file, e + 495), Get32(file, e + 499)}),
                  (std::vector<uint32_t>{495, uint32_t(local.tm_year + 1900), c.attributes, e, 0}));
        EXPECT_EQ(std::memcmp(&file[e + 503], "TRUEVISION-XFILE.", 18), 0);
    }
}
