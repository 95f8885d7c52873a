// Path functions on "\"-separated texts.
#include "browse/paths.h"

#include <algorithm>

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string Folder(const std::string& path) {
    const std::string::size_type slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileName(const std::string& path) {
    const std::string::size_type slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(const std::string& name) {
    const std::string::size_type slash = name.rfind('\\');
    const std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name;
    return name.substr(dot);
}

const std::vector<VSPictureFormat>& PictureFormats() {
    static const std::vector<VSPictureFormat> kFormats = {
        {"BMP", {".bmp", ".dib", ".rle"}},
        {"JPEG", {".jpg", ".jpe", ".jpeg", ".jif", ".jfif"}},
        {"PNG", {".png"}},
        {"TIFF", {".tif", ".tiff"}},
        {"PCX", {".pcx"}},
        {"TGA", {".tga"}}};
    return kFormats;
}

const std::vector<std::string>& SupportedExtensions() {
    static const std::vector<std::string> kExtensions = [] {
        std::vector<std::string> all;
        for (const VSPictureFormat& f : PictureFormats()) all.insert(all.end(), f.extensions.begin(), f.extensions.end());
        return all;
    }();
    return kExtensions;
}

bool IsSupportedPicture(const std::string& name) {
    const std::string ext = AsciiLower(ExtensionOf(name));
    // Without a dot ExtensionOf gives the whole name, which never matches.
    if (ext.empty() || ext[0] != '.') return false;
    const std::vector<std::string>& all = SupportedExtensions();
    return std::find(all.begin(), all.end(), ext) != all.end();
}

std::string AsciiLower(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

int CompareNoCase(const std::string& a, const std::string& b) {
    const std::string::size_type n = std::min(a.size(), b.size());
    for (std::string::size_type i = 0; i < n; ++i) {
        const unsigned char ca = static_cast<unsigned char>(LowerAscii(a[i]));
        const unsigned char cb = static_cast<unsigned char>(LowerAscii(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

