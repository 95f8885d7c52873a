// istool: the codec library from the command line.
//
//   istool info FILE        type code and name, width, height, bit depth
//   istool convert IN OUT   convert by the output's extension
#include "IS40.h"

#include <cstdio>
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
    case IS_FT_PBM:
        return 1;
    case IS_FT_PGM:
        return 8;
    default:
        return 24;
    }
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
    return 0;
}

int Convert(const char* in, const char* out) {
    const std::string ext = LowerExtension(out);
    if (ext != ".bmp" && ext != ".pcx" && ext != ".tga")
        return Fail(std::string(out) + ": no writer for \"" + ext + "\" (use .bmp, .pcx or .tga)");

    ISHANDLE src = IS40_OpenFileSource(in);
    if (!src) return Fail(CodeText(in, IS40_GetLastError()));
    uint32_t w = 0, h = 0;
    uint8_t* rgba = IS40_ReadImage(src, &w, &h, 1, 0);
    const uint32_t readCode = IS40_GetLastError();
    IS40_CloseSource(src);
    if (!rgba) return Fail(CodeText(in, readCode));

    const uint64_t pixels = static_cast<uint64_t>(w) * h;
    bool alpha = false;
    for (uint64_t i = 0; i < pixels && !alpha; ++i) alpha = rgba[4 * i + 3] != 255;
    // PCX has no alpha; otherwise keep it only when the picture uses it.
    const uint32_t bits = alpha && ext != ".pcx" ? 32 : 24;
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
    if (!dst) {
        IS40_GlobalFree(rgba);
        return Fail(CodeText(out, IS40_GetLastError()));
    }
    uint32_t written;
    if (ext == ".bmp")
        written = IS40_WriteBMP(dst, image, w, h, bits, stride, 0, nullptr, nullptr, 0);
    else if (ext == ".pcx")
        written = IS40_WritePCX(dst, image, w, h, bits, stride, nullptr, nullptr, 0);
    else
        written = IS40_WriteTGA(dst, image, w, h, bits, stride, nullptr, 0, 0);
    const uint32_t writeCode = IS40_GetLastError();
    IS40_CloseDest(dst);
    IS40_GlobalFree(rgba);
    if (!written) {
        std::remove(temp.c_str());
        return Fail(CodeText(out, writeCode));
    }
    if (std::rename(temp.c_str(), out) != 0) {
        std::remove(temp.c_str());
        return Fail(std::string(out) + ": cannot replace the file");
    }
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: istool info FILE\n"
                 "       istool convert IN OUT   (OUT ends in .bmp, .pcx or .tga)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    IS40_Initialize();
    const std::string cmd = argv[1];
    int rc;
    if (cmd == "info" && argc == 3)
        rc = Info(argv[2]);
    else if (cmd == "convert" && argc == 4)
        rc = Convert(argv[2], argv[3]);
    else
        rc = Usage();
    IS40_Shutdown();
    return rc;
}
