// istool: the codec library from the command line.
//
//   istool info FILE                   type, width, height, bit depth
//   istool convert IN OUT              convert by the output's extension
//   istool resize IN OUT WxH [mode]    resample (mode 16, bilinear, by default)
//   istool rotate IN OUT 90|180|270    quarter and half turns, clockwise
//   istool exif FILE                   every EXIF tag: directory, id, name, type, value
//   istool thumb FILE OUT.jpg          the embedded EXIF thumbnail
#include "codec/IS40.h"
#include "exif/isexif.h"
#include "tools/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* TypeName(uint32_t type) {
    static const char* const kNames[] = {"unknown", "BMP",  "GIF",         "JPEG", "PNG",  "PCX",
                                         "TIFF",    "WMF",  "EMF",         "PAX",  "PSD",  "TLA",
                                         "TLAU",    "WBMP", "TGA",         "PCD overview", "PCD",
                                         "JP2",     "J2K",  "OLE compound", "PBM", "PGM",  "PPM"};
    return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "unknown";
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "istool: %s\n", message.c_str());
    return 1;
}

std::string CodeText(const char* what, uint32_t code) {
    static const char* const kTexts[] = {
        "success", "out of memory", "cannot open the file or no reader fits it", "read failure",
        "write failure", "bad parameter", "not a valid file of its format", "bad compression",
    };
    std::string text = std::string(what) + ": error " + std::to_string(code);
    if (code < sizeof kTexts / sizeof kTexts[0]) text += std::string(" (") + kTexts[code] + ")";
    return text;
}

std::string LowerExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return ext;
}

// Bit depth as stored, from the format's own dimension query where there is one.
uint32_t StoredDepth(ISHANDLE h, uint32_t type) {
    uint32_t w = 0, ht = 0, bits = 0;
    int32_t sh = 0;
    IS40_Seek(h, 0, 0);
    switch (type) {
    case IS_FT_BMP:
        return IS40_GetBMPDims(h, &w, &sh, &bits, nullptr, 0) ? bits : 0;
    case IS_FT_PCX:
        return IS40_GetPCXDims(h, &w, &ht, &bits, nullptr, 0) ? bits : 0;
    case IS_FT_TGA:
        return IS40_GetTGADims(h, &w, &ht, &bits, 0) ? bits : 0;
    case IS_FT_TIFF:
        return IS40_GetTIFFDims(h, 0, &w, &ht, &bits, nullptr, 0) ? bits : 0;
    case IS_FT_PNG: {
        uint32_t colourType = 0, interlace = 0;
        int32_t index, r, g, b, grey;
        if (!IS40_GetPNGDims(h, &w, &ht, &bits, &colourType, &interlace, &index, &r, &g, &b, &grey, nullptr, 0))
            return 0;
        static const uint32_t kSamples[] = {1, 0, 3, 1, 2, 0, 4};
        return colourType < 7 && kSamples[colourType] ? bits * kSamples[colourType] : bits;
    }
    case IS_FT_JPEG: {
        uint32_t space = 0, coding = 0;
        return IS40_GetJPGDims(h, &w, &ht, &bits, &space, &coding, nullptr, 0) ? bits : 0;
    }
    case IS_FT_PBM:
        return 1;
    case IS_FT_PGM:
        return 8;
    default:
        return 24;
    }
}

void JpegInfo(const char* path) {
    ISHANDLE h = IS40_OpenFileSource(path);
    if (!h) return;
    uint32_t w, ht, bits, space = 0, coding = 0;
    ISResolution res{0, 0, 0};
    if (IS40_GetJPGDims(h, &w, &ht, &bits, &space, &coding, &res, 0)) {
        std::printf("colour space %u\nprogressive %u\narithmetic %u\ndensity %.0f x %.0f unit %u\n", space,
                    (coding & IS_JPG_CODING_PROGRESSIVE) ? 1u : 0u, (coding & IS_JPG_CODING_ARITHMETIC) ? 1u : 0u,
                    res.xRes, res.yRes, res.unit);
    }
    IS40_CloseSource(h);
}

int Info(const char* path) {
    ISHANDLE h = IS40_OpenFileSource(path);
    if (!h) return Fail(CodeText(path, IS40_GetLastError()));
    IS40_Seek(h, 0, 0);
    const uint32_t type = IS40_GuessFileType(h);
    IS40_Seek(h, 0, 0);
    uint32_t w = 0, ht = 0;
    uint8_t* rgb = IS40_ReadImage(h, &w, &ht, 0, 0);
    const uint32_t code = IS40_GetLastError();
    uint32_t depth = rgb ? StoredDepth(h, type) : 0;
    IS40_CloseSource(h);
    if (!rgb) return Fail(CodeText(path, code));
    IS40_GlobalFree(rgb);
    if (depth == 0) depth = 24;
    std::printf("type %u %s\nwidth %u\nheight %u\nbits %u\n", type, TypeName(type), w, ht, depth);
    if (type == IS_FT_JPEG) JpegInfo(path);
    return 0;
}

bool Writable(const std::string& ext) {
    for (const char* e : {".bmp", ".pcx", ".tga", ".png", ".tif", ".tiff", ".jpg", ".jpeg"})
        if (ext == e) return true;
    return false;
}

// A picture read for conversion: RGBA, with a flag for real transparency.
struct Picture {
    uint8_t* rgba = nullptr;
    uint32_t width = 0, height = 0;
    ~Picture() { IS40_GlobalFree(rgba); }
};

int Load(const char* in, Picture* pic) {
    ISHANDLE src = IS40_OpenFileSource(in);
    if (!src) return Fail(CodeText(in, IS40_GetLastError()));
    pic->rgba = IS40_ReadImage(src, &pic->width, &pic->height, 1, 0);
    const uint32_t code = IS40_GetLastError();
    IS40_CloseSource(src);
    return pic->rgba ? 0 : Fail(CodeText(in, code));
}

// Writes RGBA pixels by the extension of out; alpha is kept where the
// format has it and the picture uses it.
int Store(const char* out, const uint8_t* rgba, uint32_t w, uint32_t h) {
    const std::string ext = LowerExtension(out);
    if (!Writable(ext))
        return Fail(std::string(out) + ": no writer for \"" + ext + "\" (use .bmp, .pcx, .tga, .png, .tif or .jpg)");
    const uint64_t pixels = static_cast<uint64_t>(w) * h;
    bool alpha = false;
    for (uint64_t i = 0; i < pixels && !alpha; ++i) alpha = rgba[4 * i + 3] != 255;
    const bool keepsAlpha = ext == ".bmp" || ext == ".tga" || ext == ".png" || ext == ".tif" || ext == ".tiff";
    const uint32_t bits = alpha && keepsAlpha ? 32 : 24;
    std::vector<uint8_t> pix;
    const uint8_t* image = rgba;
    if (bits == 24) {
        pix.resize(pixels * 3);
        for (uint64_t i = 0; i < pixels; ++i) std::memcpy(&pix[3 * i], rgba + 4 * i, 3);
        image = pix.data();
    }
    const uint32_t stride = w * (bits / 8);

    // Write to a side file first so a failed write never damages an existing OUT.
    const std::string temp = std::string(out) + ".part";
    ISHANDLE dst = IS40_OpenFileDest(temp.c_str(), 0);
    if (!dst) return Fail(CodeText(out, IS40_GetLastError()));
    uint32_t written;
    if (ext == ".bmp")
        written = IS40_WriteBMP(dst, image, w, h, bits, stride, 0, nullptr, nullptr, 0);
    else if (ext == ".pcx")
        written = IS40_WritePCX(dst, image, w, h, bits, stride, nullptr, nullptr, 0);
    else if (ext == ".tga")
        written = IS40_WriteTGA(dst, image, w, h, bits, stride, nullptr, 0, 0);
    else if (ext == ".png")
        written = IS40_WritePNG(dst, image, w, h, stride, 8, 0, nullptr, bits == 32 ? 6 : 2, 0.0, nullptr, 0);
    else if (ext == ".tif" || ext == ".tiff")
        written = IS40_WriteTIFF(dst, image, w, h, bits, stride, nullptr, 1, nullptr, 0);
    else
        written = IS40_WriteJPG(dst, image, w, h, 24, stride, 90, nullptr, 0);
    const uint32_t writeCode = IS40_GetLastError();
    IS40_CloseDest(dst);
    if (!written) {
        std::remove(temp.c_str());
        return Fail(CodeText(out, writeCode));
    }
    if (!VSReplaceFile(temp.c_str(), out)) {
        std::remove(temp.c_str());
        return Fail(std::string(out) + ": cannot replace the file");
    }
    return 0;
}

int Convert(const char* in, const char* out) {
    if (!Writable(LowerExtension(out))) return Store(out, nullptr, 0, 0);
    Picture pic;
    if (int rc = Load(in, &pic)) return rc;
    return Store(out, pic.rgba, pic.width, pic.height);
}

int Resize(const char* in, const char* out, const char* size, const char* modeText) {
    unsigned w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(size, "%ux%u%c", &w, &h, &tail) != 2 || w == 0 || h == 0 || w > 65535 || h > 65535)
        return Fail(std::string("bad size \"") + size + "\" (want WxH)");
    char* end = nullptr;
    const unsigned long mode = modeText ? std::strtoul(modeText, &end, 10) : 16;
    if (modeText && (*end || end == modeText)) return Fail(std::string("bad mode \"") + modeText + "\"");
    if (!Writable(LowerExtension(out))) return Store(out, nullptr, 0, 0);
    Picture pic;
    if (int rc = Load(in, &pic)) return rc;
    std::vector<uint8_t> dst(static_cast<size_t>(w) * h * 4);
    if (!IS40_ResizeImage(pic.rgba, pic.width, pic.height, pic.width * 4, dst.data(), w, h, w * 4, 4,
                          static_cast<uint32_t>(mode), 0))
        return Fail(CodeText("resize", IS40_GetLastError()));
    return Store(out, dst.data(), w, h);
}

int Rotate(const char* in, const char* out, const char* angle) {
    const std::string a = angle;
    const uint32_t rotation = a == "90" ? IS_ROTATE_90 : a == "180" ? IS_ROTATE_180 : a == "270" ? IS_ROTATE_270 : 99;
    if (rotation == 99) return Fail("bad angle \"" + a + "\" (use 90, 180 or 270)");
    if (!Writable(LowerExtension(out))) return Store(out, nullptr, 0, 0);
    Picture pic;
    if (int rc = Load(in, &pic)) return rc;
    const bool half = rotation == IS_ROTATE_180;
    const uint32_t w = half ? pic.width : pic.height, h = half ? pic.height : pic.width;
    std::vector<uint8_t> dst(static_cast<size_t>(w) * h * 4);
    if (!IS40_QuickRotateImage(pic.rgba, pic.width, pic.height, pic.width * 4, dst.data(), w * 4, rotation, 4, 0))
        return Fail(CodeText("rotate", IS40_GetLastError()));
    return Store(out, dst.data(), w, h);
}

// One line per tag: control characters in texts are escaped.
std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The reader of a file, or null after the message.
ISEXIFREADER OpenExif(const char* path, uint32_t flags, int* rc) {
    ISHANDLE h = IS40_OpenFileSource(path);
    if (!h) {
        *rc = Fail(CodeText(path, IS40_GetLastError()));
        return nullptr;
    }
    ISEXIFREADER reader = IS40_EXIFCreateReader(h, 0, flags);
    const uint32_t code = IS40_GetLastError();
    IS40_CloseSource(h);
    if (!reader) {
        *rc = Fail(code ? CodeText(path, code) + ", no EXIF data" : std::string(path) + ": no EXIF data");
    }
    return reader;
}

int Exif(const char* path) {
    int rc = 0;
    ISEXIFREADER handle = OpenExif(path, IS_EXIF_MAKER_NOTE, &rc);
    if (!handle) return rc;
    const CISEXIFReader* reader = ISEXIFReaderFrom(handle);
    size_t tags = 0;
    for (uint32_t list = 0; reader && list < kEXIFListCount; ++list) {
        for (const auto& tag : reader->Lists()[list]) {
            std::printf("%s\t0x%04x\t%s\t%s\t%s\n", ISEXIFListName(list), tag->tagId, Escaped(tag->name).c_str(),
                        tag->typeName, Escaped(tag->ValueText()).c_str());
            ++tags;
        }
    }
    IS40_EXIFDestroyReader(handle);
    return tags ? 0 : Fail(std::string(path) + ": no EXIF data");
}

int Thumb(const char* path, const char* out) {
    int rc = 0;
    ISEXIFREADER reader = OpenExif(path, IS_EXIF_THUMBNAIL, &rc);
    if (!reader) return rc;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (!IS40_EXIFGetThumbnail(reader, &data, &length)) {
        IS40_EXIFDestroyReader(reader);
        return Fail(std::string(path) + ": no EXIF thumbnail");
    }
    // Written beside OUT first so a failure never leaves half a file.
    const std::string temp = std::string(out) + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    bool ok = f && std::fwrite(data, 1, length, f) == length;
    if (f && std::fclose(f) != 0) ok = false;
    IS40_EXIFDestroyReader(reader);
    if (!ok || !VSReplaceFile(temp.c_str(), out)) {
        std::remove(temp.c_str());
        return Fail(std::string(out) + ": cannot write the thumbnail");
    }
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: istool info FILE\n"
                 "       istool convert IN OUT              (OUT: .bmp .pcx .tga .png .tif .jpg)\n"
                 "       istool resize IN OUT WxH [mode]    (mode 0-18, default 16)\n"
                 "       istool rotate IN OUT 90|180|270\n"
                 "       istool exif FILE                   (directory, id, name, type, value; tab-separated)\n"
                 "       istool thumb FILE OUT.jpg          (the embedded EXIF thumbnail)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    VSUnixLineEnds();
    if (argc < 2) return Usage();
    IS40_Initialize();
    const std::string cmd = argv[1];
    int rc;
    if (cmd == "info" && argc == 3)
        rc = Info(argv[2]);
    else if (cmd == "convert" && argc == 4)
        rc = Convert(argv[2], argv[3]);
    else if (cmd == "resize" && (argc == 5 || argc == 6))
        rc = Resize(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
    else if (cmd == "rotate" && argc == 5)
        rc = Rotate(argv[2], argv[3], argv[4]);
    else if (cmd == "exif" && argc == 3)
        rc = Exif(argv[2]);
    else if (cmd == "thumb" && argc == 4)
        rc = Thumb(argv[2], argv[3]);
    else
        rc = Usage();
    IS40_Shutdown();
    return rc;
}
