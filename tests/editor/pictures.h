// The picture work of the stand-in editor, free of the platform: five
// functions over whole pictures read and written with the codec library,
// their names and their toolbar bitmaps.
#ifndef VS_EDITOR_PICTURES_H
#define VS_EDITOR_PICTURES_H

#include <cstdint>
#include <string>
#include <vector>

enum : uint32_t {
    kFnRotate = 0,  // quarter turn clockwise, in place
    kFnGrey = 1,    // grey copy as PNG, which replaces the picture
    kFnMirror = 2,  // mirrored copy, a new file
    kFnInvert = 3,  // negative in place, no result file reported
    kFnRename = 4,  // the file gets a new name
    kFunctionCount = 5
};

const char* FunctionName(uint32_t index);

// A bitmap file (24 bits) of four 40 x 38 frames side by side: normal,
// hover, pressed, disabled. Every frame has the function's colour at its
// centre, grey in the disabled one.
std::vector<uint8_t> FunctionBitmap(uint32_t index);

// Where a function puts its result: the same path, or a name next to it.
std::string ResultPath(uint32_t index, const std::string& path);

// Whether the file is a picture the codec library reads.
bool IsPicture(const std::string& path);

// Reads source, applies function index (0 ... 3) and writes the picture to
// target in the format the function gives; false on any failure.
bool EditPicture(uint32_t index, const std::string& source, const std::string& target);

#endif
