// The EXIF parts of the picture loader: thumbnail and orientation.
#include "imageloader.h"

bool ImageLoader::ReadExifThumbnail(const std::string&, std::vector<uint8_t>* rgb, uint32_t* width,
                                    uint32_t* height) {
    rgb->clear();
    *width = *height = 0;
    return false;
}

int32_t ImageLoader::ReadExifNumber(const std::string&, uint32_t) { return 0; }
