// Zoom arithmetic and the zoomed view's rendering.
#include "browse/zoom.h"

#include "browse/texts.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Floating error of repeated steps must not leave a hair above the fit.
bool AtOrBelow(double scale, double fit) { return scale <= fit * (1 + 1e-9); }

int64_t ClampAxis(int64_t left, uint32_t scaled, uint32_t view) {
    if (scaled <= view) return -static_cast<int64_t>((view - scaled) / 2);
    return std::min<int64_t>(std::max<int64_t>(left, 0), scaled - view);
}

// Along one axis: the bitmap's place in the view, and the scaled picture's
// first pixel and count it shows.
void FrameAxis(int64_t left, uint32_t scaled, uint32_t view, int32_t* at, int64_t* start, uint32_t* length) {
    *at = left < 0 ? static_cast<int32_t>(std::min<int64_t>(-left, view)) : 0;
    *start = std::max<int64_t>(left, 0);
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(scaled) - *start, static_cast<int64_t>(view) - *at);
    *length = n > 0 ? static_cast<uint32_t>(n) : 0;
}

// The stored axes reversed against the upright ones, by orientation: the
// first flag for the upright x axis, the second for y. Orientations 5 to 8
// swap the axes as well.
void Flips(int32_t orientation, bool* flipX, bool* flipY) {
    const int32_t o = OrientationTurns(orientation) ? orientation : 1;
    *flipX = o == 2 || o == 3 || o == 6 || o == 7;
    *flipY = o == 3 || o == 4 || o == 7 || o == 8;
}

// What a render reads: the RGB rows (part.width pixels long) of the
// rectangle part of a picture stored width x height at this resolution.
struct Source {
    const uint8_t* pixels;
    uint32_t width, height;
    VSStoredRect part;
};

// The span of the upright picture given, as stored: the axes swapped and
// reversed as turned.
VSStoredRect ToStored(int32_t orientation, uint32_t uw, uint32_t uh, uint32_t x0, uint32_t x1, uint32_t y0,
                      uint32_t y1) {
    bool flipX = false, flipY = false;
    Flips(orientation, &flipX, &flipY);
    const uint32_t fx0 = flipX ? uw - x1 : x0, fy0 = flipY ? uh - y1 : y0;
    VSStoredRect r;
    if (OrientationSwaps(orientation)) {
        r.x = fy0, r.y = fx0, r.width = y1 - y0, r.height = x1 - x0;
    } else {
        r.x = fx0, r.y = fy0, r.width = x1 - x0, r.height = y1 - y0;
    }
    return r;
}

// Per view pixel along one axis: the byte offsets of the two stored
// samples and the second one's weight out of 256. Samples are counted
// from `from`, where the source's part begins along the stored axis.
struct Taps {
    std::vector<size_t> first, second;
    std::vector<uint32_t> weight;
};

// The stored pixel under view pixel position v (a pixel centre) along an
// axis, clamped to the picture.
double TapAt(double v, double zoom, uint32_t length) {
    return std::min(std::max((v + 0.5) / zoom - 0.5, 0.0), length - 1.0);
}

Taps AxisTaps(int64_t start, uint32_t count, double zoom, uint32_t length, bool flip, size_t step, uint32_t from) {
    Taps t;
    t.first.resize(count);
    t.second.resize(count);
    t.weight.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        // Pixel centres to pixel centres.
        const double c = TapAt(static_cast<double>(start + i), zoom, length);
        uint32_t i0 = static_cast<uint32_t>(c);
        uint32_t w = static_cast<uint32_t>(std::lround((c - i0) * 256));
        if (w == 256) {
            ++i0;
            w = 0;
        }
        const uint32_t i1 = std::min(i0 + 1, length - 1);
        t.first[i] = ((flip ? length - 1 - i0 : i0) - from) * step;
        t.second[i] = ((flip ? length - 1 - i1 : i1) - from) * step;
        t.weight[i] = w;
    }
    return t;
}

bool Enlarge(const Source& s, int32_t orientation, double zx, double zy, const VSZoomFrame& frame, VSRgbImage* out) {
    const bool swaps = OrientationSwaps(orientation);
    bool flipX = false, flipY = false;
    Flips(orientation, &flipX, &flipY);
    const size_t row = static_cast<size_t>(s.part.width) * 3;
    const Taps xs = AxisTaps(frame.left, frame.size.width, zx, swaps ? s.height : s.width, flipX, swaps ? row : 3,
                             swaps ? s.part.y : s.part.x);
    const Taps ys = AxisTaps(frame.top, frame.size.height, zy, swaps ? s.width : s.height, flipY, swaps ? 3 : row,
                             swaps ? s.part.x : s.part.y);
    out->width = frame.size.width;
    out->height = frame.size.height;
    out->pixels.resize(static_cast<size_t>(out->width) * out->height * 3);
    uint8_t* d = out->pixels.data();
    for (uint32_t y = 0; y < frame.size.height; ++y) {
        const uint8_t* r0 = s.pixels + ys.first[y];
        const uint8_t* r1 = s.pixels + ys.second[y];
        const uint32_t wy = ys.weight[y];
        for (uint32_t x = 0; x < frame.size.width; ++x, d += 3) {
            const size_t a = xs.first[x], b = xs.second[x];
            const uint32_t wx = xs.weight[x];
            for (int c = 0; c < 3; ++c) {
                const uint32_t top = r0[a + c] * (256 - wx) + r0[b + c] * wx;
                const uint32_t bottom = r1[a + c] * (256 - wx) + r1[b + c] * wx;
                d[c] = static_cast<uint8_t>((top * (256 - wy) + bottom * wy + 32768) >> 16);
            }
        }
    }
    return true;
}

// Source pixels [*from, *to) along an axis that cover the frame's part,
// with a margin for the filter's reach.
void SourceSpan(int64_t start, uint32_t count, double zoom, uint32_t length, uint32_t* from, uint32_t* to) {
    const double margin = std::ceil(2 / zoom) + 1;
    *from = static_cast<uint32_t>(std::max(0.0, std::floor(start / zoom) - margin));
    *to = static_cast<uint32_t>(std::min<double>(length, std::ceil((start + count) / zoom) + margin));
}

// The upright pixels [*from, *to) along an axis that a render reads:
// Enlarge's taps (the second one past a weight rounded up to a whole
// pixel too), or Shrink's span.
void ReadSpan(bool enlarge, int64_t start, uint32_t count, double zoom, uint32_t length, uint32_t* from,
              uint32_t* to) {
    if (enlarge) {
        *from = static_cast<uint32_t>(TapAt(static_cast<double>(start), zoom, length));
        *to = std::min(length, static_cast<uint32_t>(TapAt(static_cast<double>(start + count - 1), zoom, length)) + 3);
    } else {
        SourceSpan(start, count, zoom, length, from, to);
    }
}

bool Shrink(const Source& s, int32_t orientation, double zx, double zy, const VSZoomFrame& frame, VSRgbImage* out) {
    const bool swaps = OrientationSwaps(orientation);
    const uint32_t uw = swaps ? s.height : s.width, uh = swaps ? s.width : s.height;
    uint32_t x0, x1, y0, y1;  // upright
    SourceSpan(frame.left, frame.size.width, zx, uw, &x0, &x1);
    SourceSpan(frame.top, frame.size.height, zy, uh, &y0, &y1);
    if (x1 <= x0 || y1 <= y0) return false;
    const uint32_t cw = std::max<uint32_t>(1, static_cast<uint32_t>(std::lround((x1 - x0) * zx)));
    const uint32_t ch = std::max<uint32_t>(1, static_cast<uint32_t>(std::lround((y1 - y0) * zy)));
    const VSStoredRect span = ToStored(orientation, uw, uh, x0, x1, y0, y1);
    const uint32_t dw = swaps ? ch : cw, dh = swaps ? cw : ch;
    const size_t stride = static_cast<size_t>(s.part.width) * 3;
    VSRgbImage scaled;
    if (!ScaleForDisplay(s.pixels + (span.y - s.part.y) * stride + static_cast<size_t>(span.x - s.part.x) * 3,
                         span.width, span.height, dw, dh, &scaled.pixels, static_cast<uint32_t>(stride)))
        return false;
    scaled.width = dw;
    scaled.height = dh;
    VSRgbImage upright;
    if (OrientationTurns(orientation)) {
        if (!Upright(scaled.pixels.data(), dw, dh, dw * 3, orientation, &upright)) return false;
    } else {
        upright = std::move(scaled);
    }
    // The frame cut out; a rounding short at an edge repeats the last pixel.
    const int64_t ox = frame.left - std::llround(x0 * zx), oy = frame.top - std::llround(y0 * zy);
    out->width = frame.size.width;
    out->height = frame.size.height;
    out->pixels.resize(static_cast<size_t>(out->width) * out->height * 3);
    uint8_t* d = out->pixels.data();
    for (uint32_t y = 0; y < out->height; ++y) {
        const int64_t r = std::min<int64_t>(std::max<int64_t>(oy + y, 0), upright.height - 1);
        const uint8_t* line = upright.pixels.data() + static_cast<size_t>(r) * upright.width * 3;
        for (uint32_t x = 0; x < out->width; ++x, d += 3) {
            const int64_t c = std::min<int64_t>(std::max<int64_t>(ox + x, 0), upright.width - 1);
            std::memcpy(d, line + c * 3, 3);
        }
    }
    return true;
}

bool Render(const Source& s, int32_t orientation, double zx, double zy, const VSZoomFrame& frame, VSRgbImage* out) {
    if (zx >= 1 && zy >= 1) return Enlarge(s, orientation, zx, zy, frame, out);
    return Shrink(s, orientation, zx, zy, frame, out);
}

bool Renderable(VSSize picture, double scale, const VSZoomFrame& frame) {
    return picture.width > 0 && picture.height > 0 && scale > 0 && frame.size.width > 0 &&
           frame.size.height > 0;
}

}  // namespace

double FitScale(VSSize picture, VSSize fitted) {
    if (picture.width == 0 || picture.height == 0) return 1;
    // The longer side: the least rounding.
    return picture.width >= picture.height ? static_cast<double>(fitted.width) / picture.width
                                           : static_cast<double>(fitted.height) / picture.height;
}

VSSize ScaledSize(VSSize picture, double scale) {
    const auto side = [&](uint32_t n) {
        const double s = std::round(n * scale);
        return s < 1 ? 1u : s > 4e9 ? 4000000000u : static_cast<uint32_t>(s);
    };
    return {side(picture.width), side(picture.height)};
}

double SteppedScale(double now, double fit, int32_t steps) {
    const double base = now > 0 ? now : fit;
    const double scale = std::min(base * std::pow(kZoomStep, steps), std::max(base, kZoomMax));
    return AtOrBelow(scale, fit) ? 0 : scale;
}

VSZoom ClampZoom(VSZoom zoom, VSSize picture, VSSize view) {
    if (!zoom.Zoomed()) return VSZoom();
    const VSSize scaled = ScaledSize(picture, zoom.scale);
    zoom.left = ClampAxis(zoom.left, scaled.width, view.width);
    zoom.top = ClampAxis(zoom.top, scaled.height, view.height);
    return zoom;
}

VSZoom ZoomAbout(const VSZoom& now, double fit, double scale, VSPoint at, VSSize picture, VSSize view) {
    if (AtOrBelow(scale, fit)) return VSZoom();
    VSZoom from = now.Zoomed() ? now : ClampZoom(VSZoom{fit, 0, 0}, picture, view);
    const auto held = [&](int64_t left, int32_t p) {
        const double u = (static_cast<double>(left) + p + 0.5) / from.scale;
        return std::llround(u * scale - p - 0.5);
    };
    return ClampZoom(VSZoom{scale, held(from.left, at.x), held(from.top, at.y)}, picture, view);
}

VSZoom PanBy(const VSZoom& now, int64_t dx, int64_t dy, VSSize picture, VSSize view) {
    if (!now.Zoomed()) return now;
    return ClampZoom(VSZoom{now.scale, now.left + dx, now.top + dy}, picture, view);
}

VSZoom Reframe(const VSZoom& now, double fit, VSSize picture, VSSize oldView, VSSize newView) {
    if (!now.Zoomed() || AtOrBelow(now.scale, fit)) return VSZoom();
    const int64_t dx = (static_cast<int64_t>(oldView.width) - newView.width) / 2;
    const int64_t dy = (static_cast<int64_t>(oldView.height) - newView.height) / 2;
    return ClampZoom(VSZoom{now.scale, now.left + dx, now.top + dy}, picture, newView);
}

VSZoomFrame ZoomFrame(const VSZoom& zoom, VSSize picture, VSSize view) {
    VSZoomFrame f;
    if (!zoom.Zoomed()) return f;
    const VSSize scaled = ScaledSize(picture, zoom.scale);
    FrameAxis(zoom.left, scaled.width, view.width, &f.at.x, &f.left, &f.size.width);
    FrameAxis(zoom.top, scaled.height, view.height, &f.at.y, &f.top, &f.size.height);
    return f;
}

bool WantsFullDecode(VSSize decoded, VSSize picture, double scale) {
    if (decoded.width == 0 || picture.width <= decoded.width) return false;
    return scale * picture.width > decoded.width * (1 + 1e-9) &&
           uint64_t{picture.width} * picture.height * 3 <= kFullDecodeBudgetBytes;
}

std::string PaneDimensionsZoomed(uint32_t w, uint32_t h, double scale) {
    return PaneDimensions(w, h) + "  (" + std::to_string(std::llround(scale * 100)) + "%)";
}

bool RenderZoomed(const uint8_t* kept, uint32_t kw, uint32_t kh, int32_t orientation, VSSize picture, double scale,
                  const VSZoomFrame& frame, VSRgbImage* out) {
    out->pixels.clear();
    out->width = out->height = 0;
    if (!kept || kw == 0 || kh == 0 || !Renderable(picture, scale, frame)) return false;
    const bool swaps = OrientationSwaps(orientation);
    // View pixels per kept pixel, upright.
    const double zx = scale * picture.width / (swaps ? kh : kw);
    const double zy = scale * picture.height / (swaps ? kw : kh);
    VSStoredRect all;
    all.width = kw;
    all.height = kh;
    return Render({kept, kw, kh, all}, orientation, zx, zy, frame, out);
}

VSStoredRect FramePart(VSSize picture, int32_t orientation, double scale, const VSZoomFrame& frame) {
    if (!Renderable(picture, scale, frame)) return VSStoredRect();
    uint32_t x0, x1, y0, y1;  // upright
    ReadSpan(scale >= 1, frame.left, frame.size.width, scale, picture.width, &x0, &x1);
    ReadSpan(scale >= 1, frame.top, frame.size.height, scale, picture.height, &y0, &y1);
    if (x1 <= x0 || y1 <= y0) return VSStoredRect();
    return ToStored(orientation, picture.width, picture.height, x0, x1, y0, y1);
}

VSStoredRect PartFirst(VSSize picture, int32_t orientation, double scale, const VSZoomFrame& frame) {
    const VSStoredRect part = FramePart(picture, orientation, scale, frame);
    if (uint64_t{part.width} * part.height * 2 > uint64_t{picture.width} * picture.height) return VSStoredRect();
    return part;
}

bool RenderZoomedPart(const uint8_t* pixels, const VSStoredRect& part, int32_t orientation, VSSize picture,
                      double scale, const VSZoomFrame& frame, VSRgbImage* out) {
    out->pixels.clear();
    out->width = out->height = 0;
    if (!pixels || !Renderable(picture, scale, frame)) return false;
    const bool swaps = OrientationSwaps(orientation);
    const uint32_t sw = swaps ? picture.height : picture.width, sh = swaps ? picture.width : picture.height;
    const VSStoredRect need = FramePart(picture, orientation, scale, frame);
    const auto holds = [](uint32_t from, uint32_t length, uint32_t needFrom, uint32_t needLength) {
        return from <= needFrom && uint64_t{needFrom} + needLength <= uint64_t{from} + length;
    };
    if (uint64_t{part.x} + part.width > sw || uint64_t{part.y} + part.height > sh || need.width == 0 ||
        need.height == 0 || !holds(part.x, part.width, need.x, need.width) ||
        !holds(part.y, part.height, need.y, need.height))
        return false;
    // The picture is at its real size: one view pixel per picture pixel at scale 1.
    return Render({pixels, sw, sh, part}, orientation, scale, scale, frame, out);
}
