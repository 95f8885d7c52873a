// Format detection, the generic reader and the PNM family.
#include "testutil.h"

#include <cstring>
#include <string>

using namespace vstest;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint32_t GuessMemory(const Bytes& data) {
    return WithMemorySource(data, [](ISHANDLE h) { return IS40_GuessFileType(h); });
}

uint32_t GuessFile(const std::string& name, const Bytes& data) {
    const std::string path = ScratchPath(name);
    WriteFileBytes(path, data);
    ISHANDLE h = IS40_OpenFileSource(path.c_str());
    EXPECT_NE(h, nullptr);
    const uint32_t type = IS40_GuessFileType(h);
    IS40_CloseSource(h);
    return type;
}

Bytes Padded(Bytes head, size_t size) {
    head.resize(size, 0x55);
    return head;
}

struct Decoded {
    LibBuffer pixels;
    uint32_t width = 0, height = 0, error = 0;
};

Decoded ReadGeneric(const Bytes& data, uint32_t mode) {
    Decoded d;
    d.pixels = WithMemorySource(data, [&](ISHANDLE h) {
        return LibBuffer(IS40_ReadImage(h, &d.width, &d.height, mode, 0));
    });
    d.error = IS40_GetLastError();
    return d;
}

Bytes RawPpm(uint32_t w, uint32_t h, const Bytes& rgb, uint32_t maxval = 255) {
    Bytes out = Text("P6\n# made here\n" + std::to_string(w) + " " + std::to_string(h) + "\n" +
                     std::to_string(maxval) + "\n");
    out.insert(out.end(), rgb.begin(), rgb.end());
    return out;
}

}  // namespace

TEST(DetectSignatures, ContentDecidesBeforeExtension) {
    EXPECT_EQ(GuessFile("really.tga", Padded(Text("BM"), 64)), 1u);
    EXPECT_EQ(GuessMemory(Padded({0xFF, 0xD8, 0xFF, 0xE1}, 64)), 3u);
    EXPECT_EQ(GuessMemory(Padded({0xFF, 0xD8, 0xFF, 0xE0}, 64)), 3u);
    EXPECT_EQ(GuessMemory(Padded(Text("GIF87a"), 64)), 2u);
    EXPECT_EQ(GuessMemory(Padded({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, 64)), 4u);
    EXPECT_EQ(GuessMemory(Padded({'I', 'I', 42, 0}, 64)), 6u);
    EXPECT_EQ(GuessMemory(Padded({0x0A, 0x05, 1, 8}, 64)), 5u);
    EXPECT_EQ(GuessMemory(Padded({0x0A, 0x04, 1, 8}, 64)), 0u) << "PCX version 4 has no row";
    EXPECT_EQ(GuessMemory(Padded(Text("8BPS"), 64)), 10u);
    EXPECT_EQ(GuessMemory(Padded(Text("P6"), 64)), 22u);
    EXPECT_EQ(GuessMemory(Padded(Text("P2"), 64)), 21u);
    EXPECT_EQ(GuessMemory(Padded(Text("P4"), 64)), 20u);
    Bytes emf = Padded({1, 0, 0, 0}, 64);
    std::memcpy(&emf[40], " EMF", 4);
    EXPECT_EQ(GuessMemory(emf), 8u);
    EXPECT_EQ(IS40_GetLastError(), 0u);
}

TEST(DetectFallbacks, ExtensionFooterAndPhotoCd) {
    // No leading signature: a TGA is known by its name, or in memory by its footer.
    Bytes tga = Padded({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20}, 64);
    tga[0] = 1;  // not the two zero bytes of a WBMP
    EXPECT_EQ(GuessFile("x.TGA", tga), 14u);
    EXPECT_EQ(GuessMemory(tga), 0u);
    Bytes footed = tga;
    const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    footed.insert(footed.end(), footer, footer + sizeof footer);
    EXPECT_EQ(GuessMemory(footed), 14u);

    // Two zero bytes are only a tentative WBMP; the name can overrule it.
    Bytes zeros(64, 0);
    EXPECT_EQ(GuessMemory(zeros), 13u);
    EXPECT_EQ(GuessFile("zeros.tga", zeros), 14u);
    EXPECT_EQ(GuessFile("zeros.wbmp", zeros), 13u);

    // Too short for the footer read: error 3.
    EXPECT_EQ(GuessMemory(Text("hello")), 0u);
    EXPECT_EQ(IS40_GetLastError(), 3u);
    // Unknown but long enough: 0 without error.
    EXPECT_EQ(GuessMemory(Bytes(100, 'x')), 0u);
    EXPECT_EQ(IS40_GetLastError(), 0u);

    Bytes pcd(4096, 0xEE);
    std::memcpy(&pcd[2048], "PCD", 3);
    EXPECT_EQ(GuessMemory(pcd), 16u);
    Bytes shortPcd(2049, 0xEE);
    EXPECT_EQ(GuessMemory(shortPcd), 0u);
    EXPECT_EQ(IS40_GetLastError(), 3u) << "seek to 2048 works, the 3-byte read does not";
}

TEST(GenericRead, UnknownAndUnsupportedFormats) {
    Decoded unknown = ReadGeneric(Bytes(100, 'x'), 0);
    EXPECT_FALSE(unknown.pixels);
    EXPECT_EQ(unknown.error, 2u);

    Decoded gif = ReadGeneric(Padded(Text("GIF89a"), 100), 0);
    EXPECT_FALSE(gif.pixels);
    EXPECT_EQ(gif.error, 2u);

    Decoded tla = ReadGeneric(Padded(Text("TLA\x01"), 100), 0);
    EXPECT_FALSE(tla.pixels);
    EXPECT_EQ(tla.error, 52u);

    // The extension fallback only applies to file sources.
    const std::string path = ScratchPath("noise.pgm");
    WriteFileBytes(path, Bytes(100, 'x'));
    ISHANDLE h = IS40_OpenFileSource(path.c_str());
    uint32_t w, ht;
    EXPECT_EQ(IS40_ReadImage(h, &w, &ht, 0, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 6u) << "named PGM, handed to the PNM reader, which refuses it";
    IS40_CloseSource(h);
}

TEST(PnmRead, ColourGreyAndBilevelThroughGenericReader) {
    const Bytes rgb = Pattern(5, 3, 3);
    Decoded ppm = ReadGeneric(RawPpm(5, 3, rgb), 0);
    ASSERT_TRUE(ppm.pixels) << ppm.error;
    EXPECT_EQ(ppm.width, 5u);
    EXPECT_EQ(ppm.height, 3u);
    EXPECT_EQ(Bytes(ppm.pixels.get(), ppm.pixels.get() + rgb.size()), rgb);

    Decoded rgba = ReadGeneric(RawPpm(5, 3, rgb), 1);
    ASSERT_TRUE(rgba.pixels);
    for (uint32_t i = 0; i < 15; ++i) {
        ASSERT_EQ(std::memcmp(rgba.pixels.get() + 4 * i, &rgb[3 * i], 3), 0);
        ASSERT_EQ(rgba.pixels.get()[4 * i + 3], 255);
    }

    // 16-bit samples scale to 8 bits.
    Bytes wide = RawPpm(1, 1, {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00}, 65535);
    Decoded w16 = ReadGeneric(wide, 0);
    ASSERT_TRUE(w16.pixels);
    EXPECT_EQ(w16.pixels.get()[0], 255);
    EXPECT_EQ(w16.pixels.get()[1], 128);
    EXPECT_EQ(w16.pixels.get()[2], 0);

    Decoded pgm = ReadGeneric(Text("P2 3 1 10\n0 5 10\n"), 0);
    ASSERT_TRUE(pgm.pixels) << pgm.error;
    const uint8_t greyExpect[] = {0, 0, 0, 128, 128, 128, 255, 255, 255};
    EXPECT_EQ(std::memcmp(pgm.pixels.get(), greyExpect, 9), 0);

    // PBM: 1 is black.
    Decoded pbm = ReadGeneric(Text("P1\n3 1\n1 0 1\n"), 0);
    ASSERT_TRUE(pbm.pixels) << pbm.error;
    const uint8_t bwExpect[] = {0, 0, 0, 255, 255, 255, 0, 0, 0};
    EXPECT_EQ(std::memcmp(pbm.pixels.get(), bwExpect, 9), 0);
    Bytes rawPbm = Text("P4 10 2\n");
    rawPbm.insert(rawPbm.end(), {0x80, 0x40, 0xFF, 0xC0});
    Decoded pbm4 = ReadGeneric(rawPbm, 0);
    ASSERT_TRUE(pbm4.pixels);
    EXPECT_EQ(pbm4.pixels.get()[0], 0);
    EXPECT_EQ(pbm4.pixels.get()[3], 255);
    EXPECT_EQ(pbm4.pixels.get()[9 * 3], 0) << "second byte, second bit of row 0";
    EXPECT_EQ(pbm4.pixels.get()[30 + 9 * 3], 0);
}

TEST(PnmRead, PackedDibAndDepthRules) {
    const Bytes rgb = Pattern(3, 2, 3);
    Decoded dib = ReadGeneric(RawPpm(3, 2, rgb), 2);
    ASSERT_TRUE(dib.pixels);
    const uint8_t* p = dib.pixels.get();
    EXPECT_EQ(p[0], 40);
    EXPECT_EQ(p[4], 3);
    EXPECT_EQ(p[8], 2);
    EXPECT_EQ(p[14], 24);
    // Bottom-up, B, G, R, rows of 12 bytes: the first DIB row is picture row 1.
    EXPECT_EQ(p[40], rgb[9 + 2]);
    EXPECT_EQ(p[42], rgb[9]);
    EXPECT_EQ(p[40 + 12], rgb[2]);

    uint32_t w, h;
    uint8_t palette[1024];
    const Bytes ppm = RawPpm(3, 2, rgb);
    EXPECT_EQ(WithMemorySource(ppm, [&](ISHANDLE s) { return IS40_ReadPNM(s, &w, &h, 8, palette, 0); }), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 28u);
    EXPECT_EQ(WithMemorySource(ppm, [&](ISHANDLE s) { return IS40_ReadPNM(s, &w, &h, 12, palette, 0); }), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    LibBuffer grey(WithMemorySource(Text("P5 2 1 255\n\x10\xF0"),
                                    [&](ISHANDLE s) { return IS40_ReadPNM(s, &w, &h, 8, palette, 0); }));
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey.get()[1], 0xF0);
    EXPECT_EQ(palette[4 * 0xF0], 0xF0);
}

TEST(PnmRead, HostileAndTruncatedFiles) {
    Decoded huge = ReadGeneric(Padded(Text("P6 60000 60000 255\n"), 200), 0);
    EXPECT_FALSE(huge.pixels);
    EXPECT_EQ(huge.error, 1u);

    // Header promises far more than the file holds: no allocation, error 3.
    Decoded tall = ReadGeneric(Padded(Text("P6 20000 20000 255\n"), 200), 0);
    EXPECT_FALSE(tall.pixels);
    EXPECT_EQ(tall.error, 3u);

    // Rows that arrived are kept; the rest stay zero.
    Bytes rgb = Pattern(4, 4, 3);
    Bytes cut = RawPpm(4, 4, rgb);
    cut.resize(cut.size() - 20);
    Decoded part = ReadGeneric(cut, 0);
    ASSERT_TRUE(part.pixels) << part.error;
    EXPECT_EQ(std::memcmp(part.pixels.get(), rgb.data(), 24), 0);
    EXPECT_EQ(part.pixels.get()[47], 0);

    Decoded junk = ReadGeneric(Padded(Text("P6 -4 x\n"), 40), 0);
    EXPECT_FALSE(junk.pixels);
    EXPECT_EQ(junk.error, 6u);

    CorruptionSweep(RawPpm(4, 3, Pattern(4, 3, 3)), [](ISHANDLE h) {
        uint32_t w, ht;
        return IS40_ReadPNM(h, &w, &ht, 24, nullptr, 0);
    });
    CorruptionSweep(Text("P2\n4 2\n255\n1 2 3 4 5 6 7 8\n"), [](ISHANDLE h) {
        uint32_t w, ht;
        return IS40_ReadPNM(h, &w, &ht, 24, nullptr, 0);
    });
}
