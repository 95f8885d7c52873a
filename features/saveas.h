// Save As of the shown picture: the format by the chosen extension, the
// byte copy of a ".jpg" to a ".jpg", and a write that never leaves a
// broken or lost file behind: the new file is made beside the target and
// replaces it only once it is complete.
#ifndef VS_FEATURES_SAVEAS_H
#define VS_FEATURES_SAVEAS_H

#include "browse/imageloader.h"

#include <cstdint>
#include <string>

extern const char kSaveFilter[];  // with "|" separators, as the dialog lists them
constexpr uint32_t kSaveQuality = 75;

// The type to write for a chosen extension (without its dot, any case):
// jpg, jpeg and jpe 3, bmp 1, png 4, tif and tiff 6, pcx 5, tga 14; any
// other keeps detected.
uint32_t SaveTypeFor(const std::string& chosenExtension, uint32_t detected);
// A JPEG-named current file saved under a JPEG extension is copied
// unchanged, EXIF and all.
bool IsByteCopy(const std::string& currentPath, const std::string& chosenExtension);
// The dialog's initial name: the current file's name without its last extension.
std::string SaveInitialName(const std::string& currentPath);

// The file operations Save As needs.
class VSSaveFiles {
public:
    virtual ~VSSaveFiles();
    virtual bool Exists(const std::string& path) = 0;
    // Copies source over destination (replacing it).
    virtual bool Copy(const std::string& source, const std::string& destination) = 0;
    // Puts a complete file in place of target, replacing it.
    virtual bool Replace(const std::string& complete, const std::string& target) = 0;
    // An existing file the user has protected from writing.
    virtual bool ReadOnly(const std::string& path) = 0;
    virtual void Remove(const std::string& path) = 0;
};

// A name beside target that does not exist yet.
std::string TempPathBeside(VSSaveFiles& files, const std::string& target);

struct VSSaveOutcome {
    bool saved = false;
    // The read failed (the loader's host has told the user already).
    bool readFailed = false;
    // Set when writing failed: the text for the user.
    std::string errorText;
};

// Saves currentPath as chosenPath: the full-size picture, made upright by
// its EXIF orientation (a JPEG byte copy keeps its EXIF instead). The
// target is replaced only by a complete file; a read-only target is
// refused; on any failure it stays as it was.
VSSaveOutcome SavePicture(ImageLoader& loader, VSSaveFiles& files, const std::string& currentPath,
                          const std::string& chosenPath, const std::string& chosenExtension);

#endif
