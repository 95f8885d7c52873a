// Zooming the picture display: the scale steps, where the scaled picture
// lies in the view, and rendering only its visible part. Sizes are of the
// upright picture at its real size; a scale is view pixels per picture
// pixel.
#ifndef VS_BROWSE_ZOOM_H
#define VS_BROWSE_ZOOM_H

#include "browse/fit.h"
#include "browse/render.h"

#include <cstdint>
#include <string>

// One zoom step in or out.
constexpr double kZoomStep = 1.25;
constexpr double kZoomMax = 32.0;
// A full decode larger than this is not made: zooming enlarges the reduced one.
constexpr uint64_t kFullDecodeBudgetBytes = uint64_t{512} << 20;

struct VSZoom {
    double scale = 0;  // 0: the fitted view
    // The scaled picture's point at the view's top-left corner; negative
    // along an axis where the picture is smaller than the view.
    int64_t left = 0, top = 0;
    bool Zoomed() const { return scale > 0; }
};

// A rectangle of a picture as stored, not turned upright.
struct VSStoredRect {
    uint32_t x = 0, y = 0, width = 0, height = 0;
};

// Where the display bitmap of a zoomed view goes and what it shows.
struct VSZoomFrame {
    VSPoint at{0, 0};           // its top-left corner in the view
    VSSize size{0, 0};          // the visible part of the scaled picture
    int64_t left = 0, top = 0;  // the scaled picture's point at that corner
};

// The fitted view's scale, from the size the fit gave.
double FitScale(VSSize picture, VSSize fitted);
// The picture's size at scale, at least 1 x 1.
VSSize ScaledSize(VSSize picture, double scale);

// The scale n steps (negative: out) from now (0: the fitted view, at fit);
// 0 once it comes to fit or below, never above kZoomMax.
double SteppedScale(double now, double fit, int32_t steps);

// Centred along an axis the scaled picture does not fill; elsewhere kept
// from opening an empty band at either side.
VSZoom ClampZoom(VSZoom zoom, VSSize picture, VSSize view);
// To scale, the picture point under the view point at held still; a scale
// not above fit gives the fitted view.
VSZoom ZoomAbout(const VSZoom& now, double fit, double scale, VSPoint at, VSSize picture, VSSize view);
VSZoom PanBy(const VSZoom& now, int64_t dx, int64_t dy, VSSize picture, VSSize view);
// After the view changed size: its centre kept, the fitted view once the
// new fit reaches the scale.
VSZoom Reframe(const VSZoom& now, double fit, VSSize picture, VSSize oldView, VSSize newView);
VSZoomFrame ZoomFrame(const VSZoom& zoom, VSSize picture, VSSize view);

// Whether decoded pixels (a reduced decode of the picture) fall short of
// scale, and the full picture stays within kFullDecodeBudgetBytes.
bool WantsFullDecode(VSSize decoded, VSSize picture, double scale);

// Status pane 1 while zoomed: "Dimensions:  W x H  (P%)".
std::string PaneDimensionsZoomed(uint32_t w, uint32_t h, double scale);

// The frame's part of the picture at scale, from kept (kw x kh RGB as
// stored, any reduction of the picture, turned by orientation to be
// upright): bilinear where it enlarges, ScaleForDisplay where it shrinks.
bool RenderZoomed(const uint8_t* kept, uint32_t kw, uint32_t kh, int32_t orientation, VSSize picture, double scale,
                  const VSZoomFrame& frame, VSRgbImage* out);

// The stored pixels of the picture at its real size that RenderZoomedPart
// reads for the frame.
VSStoredRect FramePart(VSSize picture, int32_t orientation, double scale, const VSZoomFrame& frame);
// What to decode at the real size ahead of the whole picture, so that the
// frame is painted from it at once: the part the frame reads, or none
// (width 0) when that is more than half the picture, which the whole
// decode then gives in not much longer.
VSStoredRect PartFirst(VSSize picture, int32_t orientation, double scale, const VSZoomFrame& frame);
// RenderZoomed from part of the picture at its real size: pixels holds
// part's RGB rows as stored. The same pixels as from the whole picture;
// false when the frame reads outside part.
bool RenderZoomedPart(const uint8_t* pixels, const VSStoredRect& part, int32_t orientation, VSSize picture,
                      double scale, const VSZoomFrame& frame, VSRgbImage* out);

#endif
