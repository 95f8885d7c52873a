// Format detection, the generic reader and the PNM family.
#include "tests/core/testutil.h"

#include <cstring>
#include <string>

using namespace vstest;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Padded(Bytes head, size_t size) { head.resize(size, 0x55); return head; }

// Type guessed for data in memory, or for a file of that name when given.
uint32_t Guess(const Bytes& data, const std::string& name = "") {
    if (name.empty()) return WithMemorySource(data, [](ISHANDLE h) { return IS40_GuessFileType(h); });
    const std::string path = ScratchPath(name);
    WriteFileBytes(path, data);
    ISHANDLE h = IS40_OpenFileSource(path.c_str());
    EXPECT_NE(h, nullptr);
    const uint32_t type = IS40_GuessFileType(h), error = IS40_GetLastError();
    IS40_CloseSource(h);
    RestoreLastError(error);
    return type;
}

ReadResult ReadGeneric(const Bytes& data, uint32_t mode) {
    ReadResult r;
    r.buf = WithMemorySource(data, [&](ISHANDLE h) { return LibBuffer(IS40_ReadImage(h, &r.width, &r.height, mode, 0)); });
    r.error = IS40_GetLastError();
    return r;
}

Bytes RawPpm(uint32_t w, uint32_t h, const Bytes& rgb, uint32_t maxval = 255) {
    return Cat(Text("P6\n# made here\n" + std::to_string(w) + " " + std::to_string(h) + "\n" + std::to_string(maxval) + "\n"), rgb);
}

}  // namespace

TEST(Detect, ContentThenNameThenFooter) {
    Bytes emf = Padded({1, 0, 0, 0}, 64);
    std::memcpy(&emf[40], " EMF", 4);
    // No leading signature: a TGA is known by its name, or in memory by its footer.
    Bytes tga = Padded({1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20}, 64);
    const char footer[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    Bytes footed = Cat(tga, Bytes(footer, footer + sizeof footer));
    Bytes pcd(4096, 0xEE);
    std::memcpy(&pcd[2048], "PCD", 3);
    const Bytes zeros(64, 0);
    // Formats that other tests read through detection are left to them.
    struct Case { const char* what; Bytes data; std::string name; uint32_t type, error; } cases[] = {
        {"content before extension", Padded(Text("BM"), 64), "really.tga", IS_FT_BMP, 0},
        {"PCX version 4 has no row", Padded({0x0A, 0x04, 1, 8}, 64), "", IS_FT_UNKNOWN, 0},
        {"PSD", Padded(Text("8BPS"), 64), "", IS_FT_PSD, 0}, {"EMF at offset 40", emf, "", IS_FT_EMF, 0},
        {"TGA by name", tga, "x.TGA", IS_FT_TGA, 0}, {"TGA without name or footer", tga, "", IS_FT_UNKNOWN, 0},
        {"TGA by footer", footed, "", IS_FT_TGA, 0},
        // Two zero bytes are only a tentative WBMP; the name can overrule it.
        {"zeros", zeros, "", IS_FT_WBMP, 0}, {"zeros named TGA", zeros, "zeros.tga", IS_FT_TGA, 0},
        {"zeros named WBMP", zeros, "zeros.wbmp", IS_FT_WBMP, 0},
        {"too short for the footer", Text("hello"), "", IS_FT_UNKNOWN, IS_ERR_READ},
        {"unknown", Bytes(100, 'x'), "", IS_FT_UNKNOWN, 0}, {"Photo CD", pcd, "", IS_FT_PCD, 0},
        {"seek to 2048 works, the 3-byte read does not", Bytes(2049, 0xEE), "", IS_FT_UNKNOWN, IS_ERR_READ},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Guess(c.data, c.name), c.type) << c.what;
        EXPECT_EQ(IS40_GetLastError(), c.error) << c.what;
    }
}

// The generic reader over the PNM family and the formats it finds by their
// signature (or, for TGA in memory, by its footer).
TEST(GenericRead, EveryPnmVariantAndOtherFormats) {
    const Bytes rgb = Pattern(5, 3, 3);
    Bytes rgba;
    for (size_t i = 0; i < rgb.size(); i += 3) rgba.insert(rgba.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 255});
    const Bytes bmp = WriteToBytes("g.bmp", [&](ISHANDLE d) { return IS40_WriteBMP(d, rgb.data(), 5, 3, 24, 15, 0, nullptr, nullptr, 0); });
    const Bytes pcx = WriteToBytes("g.pcx", [&](ISHANDLE d) { return IS40_WritePCX(d, rgb.data(), 5, 3, 24, 15, nullptr, nullptr, 0); });
    const Bytes tga = WriteToBytes("g.tga", [&](ISHANDLE d) { return IS40_WriteTGA(d, rgb.data(), 5, 3, 24, 15, nullptr, 0, 0); });
    struct Case { const char* what; Bytes file; uint32_t mode; Bytes expected; } cases[] = {
        {"P6", RawPpm(5, 3, rgb), 0, rgb}, {"P6 as RGBA", RawPpm(5, 3, rgb), 1, rgba},
        {"16-bit samples", RawPpm(1, 1, {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00}, 65535), 0, {255, 128, 0}},
        {"P2", Text("P2 3 1 10\n0 5 10\n"), 0, {0, 0, 0, 128, 128, 128, 255, 255, 255}},
        {"P2 of single digits: the shortest row", Text("P2 2 1 1\n0 1\n"), 0, {0, 0, 0, 255, 255, 255}},
        {"P1", Text("P1\n3 1\n1 0 1\n"), 0, {0, 0, 0, 255, 255, 255, 0, 0, 0}},
        // 1 is black: one black pixel, eight white, then eleven black.
        {"P4", Cat(Text("P4 10 2\n"), {0x80, 0x40, 0xFF, 0xC0}), 0, Cat(Cat({0, 0, 0}, Bytes(24, 255)), Bytes(33, 0))},
        // Rows of whole bytes: no padding byte between them.
        {"P4 of 8", Cat(Text("P4 8 2\n"), {0x80, 0x01}), 0, Cat(Cat({0, 0, 0}, Bytes(42, 255)), {0, 0, 0})},
        {"BMP as RGBA", bmp, 1, rgba}, {"PCX", pcx, 0, rgb}, {"TGA by its footer, as RGBA", tga, 1, rgba},
    };
    for (const Case& c : cases) {
        ReadResult r = ReadGeneric(c.file, c.mode);
        EXPECT_EQ(r.error, 0u) << c.what;
        EXPECT_EQ(r.Data(c.expected.size()), c.expected) << c.what << ": error " << r.error;
        EXPECT_EQ(r.width * r.height * 3, c.expected.size() / (c.mode ? 4 : 3) * 3) << c.what;
    }

    // Packed DIB: bottom-up, B, G, R, rows of 12 bytes.
    ReadResult dib = ReadGeneric(RawPpm(3, 2, Pattern(3, 2, 3)), 2);
    ASSERT_TRUE(dib.buf);
    const Bytes p = dib.Data(40 + 24), src = Pattern(3, 2, 3);
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 16), (Bytes{40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0}));
    EXPECT_EQ(Bytes(p.begin() + 40, p.begin() + 43), (Bytes{src[11], src[10], src[9]}));
    EXPECT_EQ(Bytes(p.begin() + 52, p.begin() + 55), (Bytes{src[2], src[1], src[0]}));
}

TEST(GenericRead, HostileAndUnsupportedFilesAndPnmDepthRules) {
    uint32_t w, h;
    uint8_t palette[1024];
    auto pnm = [&](const Bytes& file, uint32_t depth) {
        return LibBuffer(WithMemorySource(file, [&](ISHANDLE s) { return IS40_ReadPNM(s, &w, &h, depth, palette, 0); }));
    };
    const Bytes ppm = RawPpm(3, 2, Pattern(3, 2, 3));
    EXPECT_FAILS_WITH(pnm(ppm, 8), IS_ERR_DEPTH);
    EXPECT_FAILS_WITH(pnm(ppm, 12), IS_ERR_PARAM);
    // Only the six PNM kinds: a PAM file is refused though libnetpbm would read it.
    EXPECT_FAILS_WITH(pnm(Text("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n\x01\x02\x03"), 24), IS_ERR_FORMAT);
    LibBuffer grey = pnm(Text("P5 2 1 255\n\x10\xF0"), 8);
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey.get()[1], 0xF0);
    EXPECT_EQ(palette[4 * 0xF0], 0xF0);

    struct Case { const char* what; Bytes file; uint32_t error; } cases[] = {
        {"huge", Padded(Text("P6 60000 60000 255\n"), 200), IS_ERR_MEMORY},
        {"far more than the file holds", Padded(Text("P6 20000 20000 255\n"), 200), IS_ERR_READ},
        {"tall, its first rows there", Padded(Text("P5 1 100000000 255\n"), 200), IS_ERR_READ},
        {"plain, its first rows there", Text("P1 8 100000000\n" + std::string(200, '0')), IS_ERR_READ},
        {"junk size", Padded(Text("P6 -4 x\n"), 40), IS_ERR_FORMAT}, {"unknown", Bytes(100, 'x'), IS_ERR_OPEN},
        {"GIF", Padded(Text("GIF89a"), 100), IS_ERR_OPEN}, {"TLA", Padded(Text("TLA\x01"), 100), IS_ERR_TLA},
    };
    for (const Case& c : cases) for (uint32_t mode : {0u, 1u}) {
        const ReadResult r = ReadGeneric(c.file, mode);
        EXPECT_EQ(r.buf ? 0 : r.error, c.error) << c.what << (mode ? " as RGBA" : "");
    }
    // The extension fallback only applies to file sources: named PGM, handed to the PNM reader, which refuses it.
    const std::string path = ScratchPath("noise.pgm");
    WriteFileBytes(path, Bytes(100, 'x'));
    ISHANDLE src = IS40_OpenFileSource(path.c_str());
    EXPECT_FAILS_WITH(IS40_ReadImage(src, &w, &h, 0, 0), IS_ERR_FORMAT);
    IS40_CloseSource(src);
    // Rows that arrived are kept; the rest stay zero.
    const Bytes rgb = Pattern(4, 4, 3), cut = RawPpm(4, 4, rgb);
    ReadResult part = ReadGeneric(Bytes(cut.begin(), cut.end() - 20), 0);
    ASSERT_TRUE(part.buf) << part.error;
    EXPECT_EQ(part.Data(24), Bytes(rgb.begin(), rgb.begin() + 24));
    EXPECT_EQ(part.buf.get()[47], 0);
}
