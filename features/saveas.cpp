#include "features/saveas.h"

#include "browse/paths.h"
#include "browse/render.h"

const char kSaveFilter[] =
    "JPEG (*.jpg)|*.jpg|BMP (*.bmp)|*.bmp|PNG (*.png)|*.png|TIFF (*.tif)|*.tif|PCX (*.pcx)|*.pcx|TGA (*.tga)|*.tga||";

VSSaveFiles::~VSSaveFiles() = default;

uint32_t SaveTypeFor(const std::string& chosenExtension, uint32_t detected) {
    const std::string ext = AsciiLower(chosenExtension);
    if (ext == "jpg" || ext == "jpeg" || ext == "jpe") return IS_FT_JPEG;
    if (ext == "bmp") return IS_FT_BMP;
    if (ext == "png") return IS_FT_PNG;
    if (ext == "tif" || ext == "tiff") return IS_FT_TIFF;
    if (ext == "pcx") return IS_FT_PCX;
    if (ext == "tga") return IS_FT_TGA;
    return detected;
}

bool IsByteCopy(const std::string& currentPath, const std::string& chosenExtension) {
    const std::string current = AsciiLower(ExtensionOf(FileName(currentPath)));
    return SaveTypeFor(chosenExtension, 0) == IS_FT_JPEG && !current.empty() &&
           SaveTypeFor(current.substr(1), 0) == IS_FT_JPEG;
}

std::string SaveInitialName(const std::string& currentPath) {
    const std::string name = FileName(currentPath);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string TempPathBeside(VSSaveFiles& files, const std::string& target) {
    // The file system takes "/" as well as "\" between folders.
    const size_t slash = target.find_last_of("\\/");
    const size_t cut = slash == std::string::npos ? 0 : slash + 1;
    const std::string stem = target.substr(0, cut) + "~" + target.substr(cut);
    std::string candidate = stem + ".tmp";
    for (int n = 1; files.Exists(candidate) && n < 1000; ++n) candidate = stem + "." + std::to_string(n) + ".tmp";
    return candidate;
}

VSSaveOutcome SavePicture(ImageLoader& loader, VSSaveFiles& files, const std::string& currentPath,
                          const std::string& chosenPath, const std::string& chosenExtension) {
    VSSaveOutcome outcome;
    // Replacing the file would also drop its protection.
    if (files.ReadOnly(chosenPath)) {
        outcome.errorText = WriteErrorText(IS_ERR_WRITE);
        return outcome;
    }
    const std::string temp = TempPathBeside(files, chosenPath);
    if (IsByteCopy(currentPath, chosenExtension)) {
        if (!files.Copy(currentPath, temp)) {
            files.Remove(temp);
            outcome.errorText = WriteErrorText(IS_ERR_WRITE);
            return outcome;
        }
    } else {
        ImageRecord record;
        if (!loader.ReadPicture(currentPath, &record, true)) {
            outcome.readFailed = true;
            return outcome;
        }
        // Written upright: the new file carries no orientation of its own.
        VSRgbImage upright;
        const int32_t orientation = ImageLoader::ReadExifNumber(currentPath, kOrientationTag);
        if (OrientationTurns(orientation) &&
            Upright(record.pixels.data(), record.width, record.height, record.rowStride, orientation, &upright)) {
            record.pixels.swap(upright.pixels);
            record.width = upright.width;
            record.height = upright.height;
            record.rowStride = upright.width * 3;
        }
        record.fileType = SaveTypeFor(chosenExtension, record.fileType);
        record.quality = kSaveQuality;
        if (!loader.WritePicture(temp, &record)) {
            files.Remove(temp);
            outcome.errorText = record.errorText.empty() ? WriteErrorText(IS_ERR_WRITE) : record.errorText;
            return outcome;
        }
    }
    if (!files.Replace(temp, chosenPath)) {
        files.Remove(temp);
        outcome.errorText = WriteErrorText(IS_ERR_WRITE);
        return outcome;
    }
    outcome.saved = true;
    return outcome;
}
