// Thumbnail composition on the 160 x 120 canvas.
#include "thumbs/thumbnail.h"

#include "codec/IS40.h"
#include "browse/fit.h"
#include "browse/imageloader.h"
#include "browse/render.h"

#include <algorithm>

namespace {

bool ValidInput(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride) {
    return rgb && w && h && stride >= static_cast<uint64_t>(w) * 3;
}

bool Fill(uint32_t colour, VSThumbCanvas* canvas) {
    canvas->assign(kThumbBytes, 0);
    const ISRect all{0, 0, static_cast<int32_t>(kThumbWidth), static_cast<int32_t>(kThumbHeight)};
    return IS40_FillSolidRect(canvas->data(), kThumbWidth, kThumbHeight, 3, kThumbStride, &all, colour, 0) != 0;
}

// Lays w x h on opaque at the centring offsets (clipped by the library);
// area tells where it went.
bool LayCentred(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, VSThumbCanvas* canvas,
                VSThumbArea* area) {
    const VSPoint at = CenterIn(w, h, 0, 0, kThumbWidth, kThumbHeight);
    if (area) {
        area->x = static_cast<uint32_t>(at.x);
        area->y = static_cast<uint32_t>(at.y);
        area->width = std::min(w, kThumbWidth - area->x);
        area->height = std::min(h, kThumbHeight - area->y);
    }
    return IS40_OverlayImage(canvas->data(), kThumbWidth, kThumbHeight, 3, kThumbStride, rgb, w, h, stride, at.x,
                             at.y, 1.0, 14.0, 0, 0) != 0;
}

bool Fail(VSThumbCanvas* canvas) {
    canvas->clear();
    return false;
}

}  // namespace

bool FitThumbnail(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, uint32_t frameColour,
                  VSThumbCanvas* canvas, VSThumbArea* area) {
    if (!ValidInput(rgb, w, h, stride)) return Fail(canvas);
    const VSSize fit = FitSize(w, h, kThumbWidth, kThumbHeight);
    // A sliver of a picture can fit to nothing along one side.
    if (fit.width == 0 || fit.height == 0) return Fail(canvas);
    std::vector<uint8_t> reduced(static_cast<size_t>(fit.width) * fit.height * 3);
    if (!IS40_ResizeImage(rgb, w, h, stride, reduced.data(), fit.width, fit.height, fit.width * 3, 3,
                          IS_RESIZE_BOX_REDUCE, 0))
        return Fail(canvas);
    if (!Fill(frameColour, canvas) ||
        !LayCentred(reduced.data(), fit.width, fit.height, fit.width * 3, canvas, area))
        return Fail(canvas);
    return true;
}

bool PlaceThumbnail(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, VSThumbCanvas* canvas,
                    VSThumbArea* area) {
    if (!ValidInput(rgb, w, h, stride)) return Fail(canvas);
    if (!Fill(kBackgroundColour, canvas) || !LayCentred(rgb, w, h, stride, canvas, area)) return Fail(canvas);
    return true;
}

bool StretchThumbnail(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, VSThumbCanvas* canvas) {
    if (!ValidInput(rgb, w, h, stride)) return Fail(canvas);
    canvas->assign(kThumbBytes, 0);
    if (!IS40_ResizeImage(rgb, w, h, stride, canvas->data(), kThumbWidth, kThumbHeight, kThumbStride, 3,
                          IS_RESIZE_NEAREST, 0))
        return Fail(canvas);
    return true;
}

bool ShellThumbnail(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, int32_t orientation,
                    VSThumbCanvas* canvas) {
    if (!ValidInput(rgb, w, h, stride)) return Fail(canvas);
    if (w < h) return FitThumbnail(rgb, w, h, stride, kThumbWhite, canvas);
    if (w < kThumbWidth || h < kThumbHeight) return Fail(canvas);
    if (!OrientationTurns(orientation)) return StretchThumbnail(rgb, w, h, stride, canvas);
    VSRgbImage upright;
    // A failed turn leaves the picture as it was.
    if (!Upright(rgb, w, h, stride, orientation, &upright)) return StretchThumbnail(rgb, w, h, stride, canvas);
    return FitThumbnail(upright.pixels.data(), upright.width, upright.height, upright.width * 3, kThumbWhite, canvas);
}

VSThumbWay FileThumbnail(const std::string& path, bool autoRotate, VSLoaderHost& host, VSThumbCanvas* canvas,
                         VSThumbArea* area) {
    const int32_t orientation = autoRotate ? ImageLoader::ReadExifNumber(path, kOrientationTag) : 0;
    const bool turn = OrientationTurns(orientation);
    VSRgbImage upright;
    std::vector<uint8_t> exif;
    uint32_t w = 0, h = 0;
    if (ImageLoader::ReadExifThumbnail(path, &exif, &w, &h)) {
        if (!turn && PlaceThumbnail(exif.data(), w, h, w * 3, canvas, area)) return kThumbFromExif;
        if (turn && Upright(exif.data(), w, h, w * 3, orientation, &upright) &&
            FitThumbnail(upright.pixels.data(), upright.width, upright.height, upright.width * 3, kBackgroundColour,
                         canvas, area))
            return kThumbFromExif;
    }
    ImageLoader loader(host);
    ImageRecord record;
    if (loader.ReadPicture(path, &record)) {
        const uint8_t* px = record.pixels.data();
        uint32_t pw = record.width, ph = record.height, stride = record.rowStride;
        if (turn && Upright(px, pw, ph, stride, orientation, &upright)) {
            px = upright.pixels.data();
            pw = upright.width, ph = upright.height, stride = pw * 3;
        }
        if (FitThumbnail(px, pw, ph, stride, kBackgroundColour, canvas, area)) return kThumbFromPicture;
    }
    canvas->clear();
    return kThumbNone;
}
