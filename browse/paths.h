// Path functions on "\"-separated texts, and the list of picture
// extensions that decides which files a folder list holds.
#ifndef VS_BROWSE_PATHS_H
#define VS_BROWSE_PATHS_H

#include <string>
#include <vector>

// The text up to and including the last "\"; empty when there is none.
std::string Folder(const std::string& path);
// The text after the last "\"; the whole text when there is none.
std::string FileName(const std::string& path);
// From the last "." of the file name to the end, dot included; the whole
// text when the file name has no ".". A "." in a folder part never counts.
std::string ExtensionOf(const std::string& name);

// The formats the viewer opens, each with its extensions (lower case, dot
// included), in the open dialog's order.
struct VSPictureFormat {
    const char* name;
    std::vector<std::string> extensions;
};
const std::vector<VSPictureFormat>& PictureFormats();
// Every extension of every format.
const std::vector<std::string>& SupportedExtensions();
// Whether the extension of name is one of them, ignoring ASCII case.
bool IsSupportedPicture(const std::string& name);

// ASCII-only case folding: other bytes of the ANSI code page stay as they are.
std::string AsciiLower(const std::string& text);
// Compares a and b as AsciiLower would give them, byte by byte (unsigned):
// negative, 0 or positive.
int CompareNoCase(const std::string& a, const std::string& b);

#endif
