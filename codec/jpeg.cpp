// JPEG reader, dimension query and writer over libjpeg.
//
// libjpeg reports fatal errors through error_exit, which must not return.
// Ours records the message and longjmps back to the guarded call that
// entered the library (JpegCall); no C++ object with a destructor lives in
// the frames it skips. Failures are then thrown as ISException from C++
// code only, and caught at the entry point.
#include "codec/isframe.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

using ZerUvadod::ISException;

namespace {

// Output bytes per file byte beyond which a large picture is taken for a
// bomb; baseline Huffman coding needs at least a bit or two per block.
constexpr uint64_t kMaxExpansion = 4096;

// Large I/O buffers: one read or write call per 64 KiB keeps the source and
// destination out of the decode's profile.
constexpr size_t kIOBufferBytes = 64 * 1024;

// A progressive file needs a handful of scans; thousands only come from
// hostile data, each costing a pass over the whole coefficient buffer.
constexpr int kMaxScans = 1000;

// libjpeg's own work memory (whole-image coefficient buffers of
// progressive files) stays under the library's allocation limit.
constexpr long kJpegMemoryLimit = static_cast<long>(kISAllocLimit - 1);

// ---- error manager ---------------------------------------------------------

struct CISJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    const char* entry = nullptr;  // entry point name for the trace
    bool outOfMemory = false;
    bool tooManyScans = false;
    char message[JMSG_LENGTH_MAX] = {};
};

void JpegErrorExit(j_common_ptr cinfo) {
    CISJpegError* err = reinterpret_cast<CISJpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    const int code = cinfo->err->msg_code;
    err->outOfMemory = code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE;
    if (err->tooManyScans) std::snprintf(err->message, sizeof err->message, "Too many scans (more than %d)", kMaxScans);
    ISRecordError(IS_ERR_JPEG_DECODE, err->entry, err->message);
    std::longjmp(err->jump, 1);
}

// Messages never reach stderr: they go to the error trace. The call's last
// error stays as it was, since a warning never fails a call.
void JpegOutputMessage(j_common_ptr cinfo) {
    CISJpegError* err = reinterpret_cast<CISJpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    if (CISThreadState* s = ISThreadState()) {
        const uint32_t last = s->lastError;
        s->Record(IS_ERR_JPEG_DECODE, err->entry, err->message);
        s->lastError = last;
    }
}

// A damaged file can warn once per block; only the first is traced.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    if (cinfo->err->num_warnings == 0) (*cinfo->err->output_message)(cinfo);
    ++cinfo->err->num_warnings;
}

void InstallErrorManager(CISJpegError& err, const char* entry) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.output_message = JpegOutputMessage;
    err.pub.emit_message = JpegEmitMessage;
    err.entry = entry;
}

// Runs fn, which calls into libjpeg; false when libjpeg raised a fatal
// error. fn must not hold objects with destructors. Kept out of line so the
// jump target is a frame of its own.
#if defined(__GNUC__)
#define IS_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define IS_NOINLINE __declspec(noinline)
#else
#define IS_NOINLINE
#endif
template <typename Fn>
IS_NOINLINE bool JpegCall(CISJpegError& err, Fn&& fn) {
    if (setjmp(err.jump)) return false;
    fn();
    return true;
}

// ---- source manager --------------------------------------------------------

struct CISJpegSource {
    jpeg_source_mgr pub;
    CISIO* io = nullptr;
    JOCTET* buffer = nullptr;
    size_t capacity = 0;
    bool started = false;  // something was read from the source
    bool fakeEnd = false;  // the buffer holds the end marker supplied for a short file
};

void SourceInit(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr cinfo) {
    CISJpegSource* src = reinterpret_cast<CISJpegSource*>(cinfo->src);
    uint32_t n = src->io->Read(src->buffer, static_cast<uint32_t>(src->capacity));
    src->fakeEnd = false;
    if (n == 0) {
        // A failing device is no cut-off file: filling in would pass it off as read.
        if (src->io->Failed()) ERREXIT(cinfo, JERR_FILE_READ);
        if (!src->started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // A cut-off file: end it here and let the decoder fill what is missing.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
        src->fakeEnd = true;
    }
    src->started = true;
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
    CISJpegSource* src = reinterpret_cast<CISJpegSource*>(cinfo->src);
    if (count <= 0) return;
    size_t left = static_cast<size_t>(count);
    while (left > src->pub.bytes_in_buffer) {
        left -= src->pub.bytes_in_buffer;
        SourceFill(cinfo);
        // Past the end: keep the supplied end marker rather than skip it.
        if (src->fakeEnd) return;
    }
    src->pub.next_input_byte += left;
    src->pub.bytes_in_buffer -= left;
}

void SourceTerm(j_decompress_ptr) {}

// ---- destination manager ---------------------------------------------------

struct CISJpegDest {
    jpeg_destination_mgr pub;
    CISIO* io = nullptr;
    JOCTET* buffer = nullptr;
    size_t capacity = 0;
};

void DestInit(j_compress_ptr cinfo) {
    CISJpegDest* dst = reinterpret_cast<CISJpegDest*>(cinfo->dest);
    dst->pub.next_output_byte = dst->buffer;
    dst->pub.free_in_buffer = dst->capacity;
}

boolean DestEmpty(j_compress_ptr cinfo) {
    CISJpegDest* dst = reinterpret_cast<CISJpegDest*>(cinfo->dest);
    if (!dst->io->Write(dst->buffer, static_cast<uint32_t>(dst->capacity))) ERREXIT(cinfo, JERR_FILE_WRITE);
    dst->pub.next_output_byte = dst->buffer;
    dst->pub.free_in_buffer = dst->capacity;
    return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
    CISJpegDest* dst = reinterpret_cast<CISJpegDest*>(cinfo->dest);
    const size_t n = dst->capacity - dst->pub.free_in_buffer;
    if (n && !dst->io->Write(dst->buffer, static_cast<uint32_t>(n))) ERREXIT(cinfo, JERR_FILE_WRITE);
    // A write the file refused on flush is a failed write, not a success.
    if (!dst->io->Flush()) ERREXIT(cinfo, JERR_FILE_WRITE);
}

void ScanLimit(j_common_ptr cinfo) {
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        reinterpret_cast<CISJpegError*>(cinfo->err)->tooManyScans = true;
        ERREXIT(cinfo, JERR_NOTIMPL);
    }
}

// ---- decoder ---------------------------------------------------------------

// One libjpeg decompression record with its managers; destroyed with the
// object, whatever state a failure left it in.
class CISJpegDecoder {
public:
    CISJpegDecoder(ISHANDLE handle, const char* entry) : m_io(handle) {
        std::memset(&m_cinfo, 0, sizeof m_cinfo);
        InstallErrorManager(m_err, entry);
        m_cinfo.err = &m_err.pub;
    }
    ~CISJpegDecoder() { jpeg_destroy_decompress(&m_cinfo); }
    CISJpegDecoder(const CISJpegDecoder&) = delete;
    CISJpegDecoder& operator=(const CISJpegDecoder&) = delete;

    j_decompress_ptr Info() { return &m_cinfo; }

    // Runs fn inside libjpeg; a fatal error there is thrown with `code`,
    // or with 1 when libjpeg ran out of memory.
    template <typename Fn>
    void Call(uint32_t code, Fn&& fn) {
        if (!JpegCall(m_err, fn)) ISFail(m_err.outOfMemory ? static_cast<uint32_t>(IS_ERR_MEMORY) : code, m_err.message);
    }

    // Creates the record and the source manager; fails with 1 or 9.
    void Create() {
        if (!m_inBuffer.Alloc(kIOBufferBytes)) ISFail(IS_ERR_MEMORY, "input buffer");
        j_decompress_ptr cinfo = &m_cinfo;
        Call(IS_ERR_JPEG_DECODE, [cinfo]() { jpeg_create_decompress(cinfo); });
        m_cinfo.mem->max_memory_to_use = kJpegMemoryLimit;
        m_src.io = &m_io;
        m_src.buffer = m_inBuffer.Get();
        m_src.capacity = kIOBufferBytes;
        m_src.pub.init_source = SourceInit;
        m_src.pub.fill_input_buffer = SourceFill;
        m_src.pub.skip_input_data = SourceSkip;
        m_src.pub.resync_to_restart = jpeg_resync_to_restart;
        m_src.pub.term_source = SourceTerm;
        m_src.pub.next_input_byte = nullptr;
        m_src.pub.bytes_in_buffer = 0;
        m_cinfo.src = &m_src.pub;
        m_progress.progress_monitor = ScanLimit;
        m_cinfo.progress = &m_progress;
    }

    void ReadHeader() {
        j_decompress_ptr cinfo = &m_cinfo;
        Call(IS_ERR_JPEG_DECODE, [cinfo]() { jpeg_read_header(cinfo, TRUE); });
    }

    void CalcOutput() {
        j_decompress_ptr cinfo = &m_cinfo;
        Call(IS_ERR_JPEG_DECODE, [cinfo]() { jpeg_calc_output_dimensions(cinfo); });
    }

    // Seeks the source back over the bytes read ahead but not consumed, so
    // that the source stands just after what the decoder used.
    void GiveBack() {
        if (m_src.fakeEnd || m_src.pub.bytes_in_buffer == 0) return;
        m_io.Seek(-static_cast<int64_t>(m_src.pub.bytes_in_buffer), 1);
        m_src.pub.bytes_in_buffer = 0;
    }

    uint64_t SourceSize() { return m_io.Size(); }

private:
    CISIO m_io;
    jpeg_decompress_struct m_cinfo;
    CISJpegError m_err;
    CISJpegSource m_src;
    jpeg_progress_mgr m_progress = {};
    CISInternalAllocator m_inBuffer;
};

enum class SourceKind { Grey, Rgb, Cmyk, Ycck, RawYCbCr };
enum class OutKind { Grey = 1, Rgb = 2, Cmyk = 3, Ycck = 4, YCbCr = 5 };

void SwapRedBlue(uint8_t* row, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, row += 3) {
        uint8_t t = row[0];
        row[0] = row[2];
        row[2] = t;
    }
}

// DIB resolution from JFIF densities: pixels per metre when the unit is
// known, 0 (unspecified) for a bare aspect ratio.
uint32_t PelsPerMetre(uint32_t density, uint32_t unit) {
    if (unit == 1) return static_cast<uint32_t>((density * 10000u + 127u) / 254u);
    if (unit == 2) return density * 100u;
    return 0;
}

// libjpeg 6b's scales: the largest reduction the factors allow.
unsigned int ScaleDenominator(uint64_t num, uint64_t den) {
    if (num * 8 <= den) return 8;
    if (num * 4 <= den) return 4;
    if (num * 2 <= den) return 2;
    return 1;
}

// The output kind for a source kind and requested depth; throws 9 when
// the depth cannot be produced.
OutKind ChooseOutput(SourceKind source, uint32_t depth, uint32_t flags) {
    switch (source) {
        case SourceKind::Grey:
            if (depth == 32) ISFail(IS_ERR_JPEG_DECODE, "Invalid bit depth requested (can't read 8-bit to 32-bit)");
            return depth == 8 ? OutKind::Grey : OutKind::Rgb;
        case SourceKind::Rgb:
            if (depth != 24) ISFail(IS_ERR_JPEG_DECODE, "Invalid bit depth requested (can't read RGB to any other bit depth)");
            return OutKind::Rgb;
        case SourceKind::Cmyk:
        case SourceKind::Ycck:
            if (flags & IS_JPG_READ_RAW_CMYK) {
                if (depth != 32) ISFail(IS_ERR_JPEG_DECODE, "Invalid bit depth requested (can only read CMYK/YCCK to 32bpp)");
                return source == SourceKind::Cmyk ? OutKind::Cmyk : OutKind::Ycck;
            }
            if (depth != 24) ISFail(IS_ERR_JPEG_DECODE, "Invalid bit depth requested");
            return OutKind::Rgb;
        case SourceKind::RawYCbCr:
            if (depth != 24) ISFail(IS_ERR_JPEG_DECODE, "Invalid bit depth requested (can't read YCbCr to any other bit depth)");
            return OutKind::YCbCr;
    }
    ISFail(IS_ERR_JPEG_DECODE, "Invalid JPG colorspace");
}

UINT16 Density(double v) {
    if (!(v > 0)) return 0;  // also NaN
    if (v >= 65535.0) return 65535;
    return static_cast<UINT16>(v);
}

// ---- codec -----------------------------------------------------------------

class CISJpegCodec {
public:
    explicit CISJpegCodec(ISHANDLE handle) : m_handle(handle) {}

    uint32_t Error() const { return m_error; }
    void SetError(uint32_t code) { m_error = code; }

    // part: the rectangle of the (scaled) picture to give, null for all of it.
    uint8_t* Read(uint32_t depth, uint32_t flags, const ISRegion* part, uint32_t* width, uint32_t* height);
    IS_BOOL Dims(uint32_t* width, uint32_t* height, uint32_t* bitDepth, uint32_t* colourSpace,
                 uint32_t* codingFlags, ISResolution* resolution);
    uint32_t Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t depth, uint32_t stride,
                   uint32_t quality, const ISResolution* resolution, uint32_t flags);
    void Markers(std::vector<CISJpegMarker>* markers);

private:
    ISHANDLE m_handle;
    uint32_t m_error = 0;
};

uint8_t* CISJpegCodec::Read(uint32_t depth, uint32_t flags, const ISRegion* part, uint32_t* width, uint32_t* height) {
    if (depth != 8 && depth != 24 && depth != 32) ISFail(IS_ERR_PARAM, "bit depth");
    if (part && (part->width == 0 || part->height == 0)) ISFail(IS_ERR_PARAM, "region");
    const CISThreadState* state = ISThreadState();

    CISJpegDecoder dec(m_handle, part ? "IS40_ReadJPGRegion" : "IS40_ReadJPG");
    dec.Create();
    dec.ReadHeader();
    j_decompress_ptr cinfo = dec.Info();
    cinfo->scale_num = 1;
    cinfo->scale_denom = ScaleDenominator(state->jpgScaleNum, state->jpgScaleDen);

    // Raw Y, Cb, Cr is only there to give for a YCbCr-coded picture.
    const bool rawYCbCr = (flags & IS_JPG_READ_YCBCR) && cinfo->jpeg_color_space == JCS_YCbCr;
    if (rawYCbCr) cinfo->out_color_space = JCS_YCbCr;
    dec.CalcOutput();

    SourceKind source;
    if (cinfo->out_color_components == 1) {
        source = SourceKind::Grey;
    } else if (cinfo->out_color_components == 3) {
        source = rawYCbCr ? SourceKind::RawYCbCr : SourceKind::Rgb;
    } else if (cinfo->out_color_components == 4 && cinfo->jpeg_color_space == JCS_CMYK) {
        source = SourceKind::Cmyk;
    } else if (cinfo->out_color_components == 4 && cinfo->jpeg_color_space == JCS_YCCK) {
        source = SourceKind::Ycck;
    } else {
        ISFail(IS_ERR_JPEG_DECODE, "Invalid JPG colorspace");
    }

    const bool dib = (flags & IS_JPG_READ_DIB) != 0;
    const bool fourComponents = source == SourceKind::Cmyk || source == SourceKind::Ycck;
    if (dib && source == SourceKind::Grey) depth = 8;
    if (dib && fourComponents) depth = 24;
    const OutKind kind = ChooseOutput(source, depth, flags);

    const bool padded = dib || (flags & IS_JPG_READ_PAD_BGR);
    const bool bgr = padded && kind == OutKind::Rgb;

    // Let libjpeg produce the final layout where it can, so rows go
    // straight into the output buffer; the rest is converted per row.
    bool convertGrey = false, convertCmyk = false, swapAfter = false;
    if (kind == OutKind::Rgb) {
        if (source == SourceKind::Grey) {
#ifdef JCS_EXTENSIONS
            cinfo->out_color_space = bgr ? JCS_EXT_BGR : JCS_RGB;
#else
            convertGrey = true;
#endif
        } else if (fourComponents) {
            convertCmyk = true;
        } else if (bgr) {
#ifdef JCS_EXTENSIONS
            if (cinfo->jpeg_color_space == JCS_YCbCr || cinfo->jpeg_color_space == JCS_RGB)
                cinfo->out_color_space = JCS_EXT_BGR;
            else
                swapAfter = true;
#else
            swapAfter = true;
#endif
        }
        dec.CalcOutput();
    }

    // The whole (scaled) picture, and the part of it given: x0, y0, w x h.
    const uint32_t fullW = cinfo->output_width;
    const uint32_t fullH = cinfo->output_height;
    if (part && (part->left >= fullW || part->top >= fullH)) ISFail(IS_ERR_PARAM, "region outside the picture");
    const uint32_t x0 = part ? part->left : 0, y0 = part ? part->top : 0;
    const uint32_t w = part && part->width < fullW - x0 ? part->width : fullW - x0;
    const uint32_t h = part && part->height < fullH - y0 ? part->height : fullH - y0;
    const uint32_t bytesPerPixel = kind == OutKind::Grey ? 1 : (kind == OutKind::Cmyk || kind == OutKind::Ycck) ? 4 : 3;
    uint64_t rowBytes = static_cast<uint64_t>(w) * bytesPerPixel;
    if (padded) rowBytes = (rowBytes + 3) & ~static_cast<uint64_t>(3);
    const uint32_t tableEntries = dib && kind == OutKind::Grey ? 256 : 0;
    const uint64_t pixelStart = dib ? kISDibHeaderBytes + 4ull * tableEntries : 0;
    // Checked before libjpeg allocates anything for the picture: a header
    // may declare far more than any file holds.
    uint64_t pixelBytes, total;
    if (!ISMulSize(rowBytes, h, &pixelBytes) || !ISMulSize(pixelBytes + pixelStart, 1, &total)) {
        ISFail(IS_ERR_MEMORY, "picture too large");
    }
    // A truncated file decodes as filler, so a few header bytes could make
    // gigabytes: above the floor the file must be within a generous ratio.
    // A part is held to its whole picture: reaching it decodes the rows above.
    const uint64_t plausible = dec.SourceSize() * kMaxExpansion;
    const uint64_t wholeBytes = static_cast<uint64_t>(fullW) * fullH * bytesPerPixel;
    const uint64_t decoded = total > wholeBytes ? total : wholeBytes;
    if (decoded > kISBombFloor && decoded > plausible) ISFail(IS_ERR_MEMORY, "picture too large for its file");
    // A file of several scans keeps every coefficient of the full-size
    // picture while they arrive, whatever the scale.
    if (cinfo->progressive_mode || cinfo->comps_in_scan < cinfo->num_components) {
        uint64_t blocks = 0;
        for (int c = 0; c < cinfo->num_components; ++c) {
            const jpeg_component_info& comp = cinfo->comp_info[c];
            const uint64_t hs = static_cast<uint64_t>(comp.h_samp_factor), vs = static_cast<uint64_t>(comp.v_samp_factor);
            const uint64_t across = (comp.width_in_blocks + hs - 1) / hs * hs;
            const uint64_t down = (comp.height_in_blocks + vs - 1) / vs * vs;
            blocks += across * down;  // each factor is below 2^17
        }
        uint64_t coefficients;
        if (!ISMulSize(blocks, DCTSIZE2 * sizeof(JCOEF), &coefficients)) ISFail(IS_ERR_MEMORY, "picture too large");
        if (coefficients > kISBombFloor && coefficients > plausible) ISFail(IS_ERR_MEMORY, "picture too large for its file");
    }

    CISOutBufAllocator out;
    if (!out.Alloc(total)) ISFail(IS_ERR_MEMORY, "output");
    uint8_t* base = out.Get();

    if (dib) {
        const uint32_t unit = cinfo->density_unit;
        ISPutDibHeader(base, w, h, 8 * bytesPerPixel, static_cast<uint32_t>(pixelBytes),
                       PelsPerMetre(cinfo->X_density, unit), PelsPerMetre(cinfo->Y_density, unit), tableEntries);
        for (uint32_t i = 0; i < tableEntries; ++i) {
            uint8_t* e = base + kISDibHeaderBytes + 4 * i;
            e[0] = e[1] = e[2] = static_cast<uint8_t>(i);
            e[3] = 255;
        }
    }

    dec.Call(IS_ERR_JPEG_DECODE, [cinfo]() { jpeg_start_decompress(cinfo); });

    // Narrower than the picture: libjpeg decodes whole iMCU columns around
    // the part, asked for two more on either side. Upsampling colour, and
    // smoothing the blocks of a progressive file cut short, take their
    // neighbours, which a cut edge lacks.
    JDIMENSION cropX = 0, cropW = fullW;
    if (w < fullW) {
        const uint32_t margin = 2u * static_cast<uint32_t>(cinfo->max_h_samp_factor * cinfo->min_DCT_scaled_size);
        cropX = x0 > margin ? x0 - margin : 0;
        cropW = (fullW - x0 - w > margin ? x0 + w + margin : fullW) - cropX;
        dec.Call(IS_ERR_JPEG_DECODE, [cinfo, &cropX, &cropW]() { jpeg_crop_scanline(cinfo, &cropX, &cropW); });
    }
    uint32_t rowError = 0;
    if (y0 > 0) {
        // The rows above are entropy decoded only.
        JDIMENSION skipped = 0;
        try {
            dec.Call(IS_ERR_READ, [cinfo, y0, &skipped]() { skipped = jpeg_skip_scanlines(cinfo, y0); });
            if (skipped != y0) rowError = IS_ERR_READ;
        } catch (const ISException& e) {
            rowError = e.Code();
        }
    }

    // Rows go straight into the output unless converted or cut here; the
    // work row holds one decoded row otherwise.
    const uint32_t components = static_cast<uint32_t>(cinfo->out_color_components);
    const uint32_t skipColumns = x0 - static_cast<uint32_t>(cropX);
    const bool direct = !(convertGrey || convertCmyk) && cropW == w;
    CISInternalAllocator work;
    if (!direct && !work.Alloc(static_cast<uint64_t>(cropW) * components * 2)) ISFail(IS_ERR_MEMORY, "work row");

    auto rowAt = [&](uint32_t y) {
        const uint32_t physical = dib ? h - 1 - y : y;
        return base + pixelStart + static_cast<uint64_t>(physical) * rowBytes;
    };

    constexpr uint32_t kBatch = 16;
    JSAMPROW rows[kBatch];
    while (rowError == 0 && cinfo->output_scanline < y0 + h) {
        const uint32_t y = cinfo->output_scanline - y0;
        uint32_t want = 1;
        if (direct) {
            want = h - y < kBatch ? h - y : kBatch;
            for (uint32_t i = 0; i < want; ++i) rows[i] = rowAt(y + i);
        } else {
            rows[0] = work.Get();
        }
        JDIMENSION got = 0;
        JSAMPROW* rowList = rows;
        try {
            dec.Call(IS_ERR_READ, [cinfo, rowList, want, &got]() { got = jpeg_read_scanlines(cinfo, rowList, want); });
        } catch (const ISException& e) {
            rowError = e.Code();
            break;
        }
        if (got == 0) {
            rowError = IS_ERR_READ;  // the source never suspends; no progress means no data
            break;
        }
        for (uint32_t i = 0; i < got; ++i) {
            uint8_t* dst = rowAt(y + i);
            const uint8_t* s = direct ? dst : work.Get() + static_cast<size_t>(skipColumns) * components;
            if (convertGrey) {
                for (uint32_t x = 0; x < w; ++x, dst += 3) dst[0] = dst[1] = dst[2] = s[x];
            } else if (convertCmyk) {
                for (uint32_t x = 0; x < w; ++x, s += 4, dst += 3) {
                    const uint32_t k = s[3];
                    const uint8_t r = static_cast<uint8_t>(s[0] * k / 255);
                    const uint8_t g = static_cast<uint8_t>(s[1] * k / 255);
                    const uint8_t b = static_cast<uint8_t>(s[2] * k / 255);
                    dst[0] = bgr ? b : r;
                    dst[1] = g;
                    dst[2] = bgr ? r : b;
                }
            } else {
                if (!direct) std::memcpy(dst, s, static_cast<size_t>(w) * bytesPerPixel);
                if (swapAfter) SwapRedBlue(dst, w);
            }
        }
    }

    // A part stops where it ends: what follows in the file is never read.
    if (rowError == 0 && !part) {
        try {
            dec.Call(IS_ERR_READ, [cinfo]() { jpeg_finish_decompress(cinfo); });
        } catch (const ISException& e) {
            rowError = e.Code();
        }
    }
    if ((flags & IS_JPG_READ_GIVE_BACK) && !part) dec.GiveBack();

    // After a row failure the rows decoded so far are still handed over.
    m_error = rowError;
    *width = w;
    *height = h;
    return out.Release();
}

IS_BOOL CISJpegCodec::Dims(uint32_t* width, uint32_t* height, uint32_t* bitDepth, uint32_t* colourSpace,
                           uint32_t* codingFlags, ISResolution* resolution) {
    CISJpegDecoder dec(m_handle, "IS40_GetJPGDims");
    dec.Create();
    dec.ReadHeader();
    j_decompress_ptr cinfo = dec.Info();
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    dec.CalcOutput();
    *width = cinfo->output_width;
    *height = cinfo->output_height;
    if (bitDepth) *bitDepth = 8u * static_cast<uint32_t>(cinfo->out_color_components);
    if (colourSpace) *colourSpace = static_cast<uint32_t>(cinfo->jpeg_color_space);
    if (codingFlags) *codingFlags = (cinfo->progressive_mode ? 1u : 0u) | (cinfo->arith_code ? 2u : 0u);
    if (resolution) {
        resolution->xRes = cinfo->X_density;
        resolution->yRes = cinfo->Y_density;
        resolution->unit = cinfo->density_unit;
    }
    return 1;
}

void CISJpegCodec::Markers(std::vector<CISJpegMarker>* markers) {
    markers->clear();
    CISJpegDecoder dec(m_handle, "ISReadJPGMarkers");
    dec.Create();
    j_decompress_ptr cinfo = dec.Info();
    dec.Call(IS_ERR_JPEG_DECODE, [cinfo]() {
        jpeg_save_markers(cinfo, JPEG_COM, 0xFFFF);
        for (int m = 0; m < 16; ++m) jpeg_save_markers(cinfo, JPEG_APP0 + m, 0xFFFF);
    });
    dec.ReadHeader();
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
        CISJpegMarker kept;
        kept.marker = m->marker;
        kept.data.assign(m->data, m->data + m->data_length);
        markers->push_back(std::move(kept));
    }
}

// ---- encoder ---------------------------------------------------------------

// One libjpeg compression record with its destination manager.
class CISJpegEncoder {
public:
    explicit CISJpegEncoder(ISHANDLE handle) : m_io(handle) {
        std::memset(&m_cinfo, 0, sizeof m_cinfo);
        InstallErrorManager(m_err, "IS40_WriteJPG");
        m_cinfo.err = &m_err.pub;
    }
    ~CISJpegEncoder() { jpeg_destroy_compress(&m_cinfo); }
    CISJpegEncoder(const CISJpegEncoder&) = delete;
    CISJpegEncoder& operator=(const CISJpegEncoder&) = delete;

    j_compress_ptr Info() { return &m_cinfo; }

    // Every libjpeg failure while encoding is a write failure (1 when
    // libjpeg ran out of memory).
    template <typename Fn>
    void Call(Fn&& fn) {
        if (!JpegCall(m_err, fn)) ISFail(m_err.outOfMemory ? IS_ERR_MEMORY : IS_ERR_WRITE, m_err.message);
    }

    void Create() {
        if (!m_outBuffer.Alloc(kIOBufferBytes)) ISFail(IS_ERR_MEMORY, "output buffer");
        j_compress_ptr cinfo = &m_cinfo;
        Call([cinfo]() { jpeg_create_compress(cinfo); });
        m_dest.io = &m_io;
        m_dest.buffer = m_outBuffer.Get();
        m_dest.capacity = kIOBufferBytes;
        m_dest.pub.init_destination = DestInit;
        m_dest.pub.empty_output_buffer = DestEmpty;
        m_dest.pub.term_destination = DestTerm;
        m_cinfo.dest = &m_dest.pub;
    }

    uint32_t DestSize() { return m_io.Size(); }

private:
    CISIO m_io;
    jpeg_compress_struct m_cinfo;
    CISJpegError m_err;
    CISJpegDest m_dest;
    CISInternalAllocator m_outBuffer;
};

uint32_t CISJpegCodec::Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t depth,
                             uint32_t stride, uint32_t quality, const ISResolution* resolution,
                             uint32_t flags) {
    if (!image) ISFail(IS_ERR_PARAM, "image");
    if (depth != 8 && depth != 24 && depth != 32) ISFail(IS_ERR_PARAM, "bit depth");
    if (width == 0 || height == 0) ISFail(IS_ERR_PARAM, "size");
    const uint32_t components = depth / 8;
    const uint64_t rowBytes = static_cast<uint64_t>(width) * components;
    // A shorter stride makes rows overlap: a caller's mistake, not a picture.
    if (stride < rowBytes) ISFail(IS_ERR_PARAM, "row stride");

    const bool swap = depth == 24 && (flags & IS_JPG_WRITE_BGR);
    CISInternalAllocator work;
    if (swap && !work.Alloc(rowBytes)) ISFail(IS_ERR_MEMORY, "work row");

    CISJpegEncoder enc(m_handle);
    enc.Create();
    j_compress_ptr cinfo = enc.Info();
    cinfo->image_width = width;
    cinfo->image_height = height;
    cinfo->input_components = static_cast<int>(components);
    if (depth == 8) cinfo->in_color_space = JCS_GRAYSCALE;
    else if (depth == 24) cinfo->in_color_space = (flags & IS_JPG_WRITE_YCBCR) ? JCS_YCbCr : JCS_RGB;
    else cinfo->in_color_space = (flags & IS_JPG_WRITE_YCCK) ? JCS_YCCK : JCS_CMYK;
    enc.Call([cinfo]() { jpeg_set_defaults(cinfo); });

    if (flags & IS_JPG_WRITE_NO_JFIF) cinfo->write_JFIF_header = FALSE;
    const int q = static_cast<int>(quality > 100 ? 100 : quality);
    enc.Call([cinfo, q]() { jpeg_set_quality(cinfo, q, TRUE); });

    if (flags & IS_JPG_WRITE_PROGRESSIVE) enc.Call([cinfo]() { jpeg_simple_progression(cinfo); });

    if (resolution) {
        cinfo->density_unit = static_cast<UINT8>(resolution->unit <= 2 ? resolution->unit : 0);
        cinfo->X_density = Density(resolution->xRes);
        cinfo->Y_density = Density(resolution->yRes);
    } else {
        cinfo->density_unit = 0;
        cinfo->X_density = 1;
        cinfo->Y_density = 1;
    }

    enc.Call([cinfo]() { jpeg_start_compress(cinfo, TRUE); });

    uint8_t* workRow = work.Get();
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t sourceRow = (flags & IS_JPG_WRITE_BOTTOM_UP) ? height - 1 - y : y;
        JSAMPROW row = const_cast<JSAMPROW>(image + static_cast<uint64_t>(sourceRow) * stride);
        if (swap) {
            std::memcpy(workRow, row, static_cast<size_t>(rowBytes));
            SwapRedBlue(workRow, width);
            row = workRow;
        }
        JDIMENSION written = 0;
        enc.Call([cinfo, &row, &written]() { written = jpeg_write_scanlines(cinfo, &row, 1); });
        if (written != 1) ISFail(IS_ERR_WRITE, "row not taken");
    }
    enc.Call([cinfo]() { jpeg_finish_compress(cinfo); });
    return enc.DestSize();
}

// Changes the calling thread's JPEG settings: a rejected argument records
// 5, an allocation failure 1.
template <typename Fn>
IS_BOOL ChangeSettings(const char* name, bool valid, Fn change) {
    CISThreadState* s = ISThreadState();
    if (!s) return 0;
    uint32_t code = IS_ERR_PARAM;
    if (valid) {
        try {
            change(*s);
            code = 0;
        } catch (const std::bad_alloc&) {
            code = IS_ERR_MEMORY;
        }
    }
    s->Record(code, name);
    return code == 0;
}

}  // namespace

uint32_t ISReadJPGMarkers(ISHANDLE handle, std::vector<CISJpegMarker>* markers) {
    CISThreadState* state = ISThreadState();
    if (!state) return IS_ERR_MEMORY;
    if (!handle || !markers) return IS_ERR_PARAM;
    if (!ISHandleValid(handle)) return IS_ERR_HANDLE;
    const uint32_t lastError = state->lastError;
    CISJpegCodec codec(handle);
    ISGuarded(codec, [&]() { codec.Markers(markers); });
    state->lastError = lastError;
    return codec.Error();
}

extern "C" {

uint8_t* IS40_ReadJPG(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth, uint32_t flags) {
    static const char kName[] = "IS40_ReadJPG";
    if (!ISEnter(kName, !width || !height, handle)) return nullptr;
    CISJpegCodec codec(handle);
    uint8_t* out = ISGuarded(codec, [&]() { return codec.Read(bitDepth, flags, nullptr, width, height); });
    ISRecordError(codec.Error(), kName);
    return out;
}

uint8_t* IS40_ReadJPGRegion(ISHANDLE handle, const ISRegion* region, uint32_t* width, uint32_t* height,
                            uint32_t bitDepth, uint32_t flags) {
    static const char kName[] = "IS40_ReadJPGRegion";
    if (!ISEnter(kName, !region || !width || !height, handle)) return nullptr;
    CISJpegCodec codec(handle);
    uint8_t* out = ISGuarded(codec, [&]() { return codec.Read(bitDepth, flags, region, width, height); });
    ISRecordError(codec.Error(), kName);
    return out;
}

IS_BOOL IS40_GetJPGDims(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t* bitDepth,
                        uint32_t* colourSpace, uint32_t* codingFlags, ISResolution* resolution,
                        uint32_t /*flags*/) {
    static const char kName[] = "IS40_GetJPGDims";
    if (!ISThreadState()) return 0;
    if (!width || !height) {
        ISRecordError(IS_ERR_PARAM, kName);
        return 0;
    }
    *width = *height = 0;
    if (bitDepth) *bitDepth = 0;
    if (colourSpace) *colourSpace = 0;
    if (codingFlags) *codingFlags = 0;
    if (resolution) *resolution = ISResolution{0, 0, 0};
    if (!ISCheckHandle(handle, kName)) return 0;
    CISJpegCodec codec(handle);
    IS_BOOL ok = ISGuarded(codec, [&]() {
        return codec.Dims(width, height, bitDepth, colourSpace, codingFlags, resolution);
    });
    if (!ok) *width = *height = 0;
    ISRecordError(codec.Error(), kName);
    return ok;
}

uint32_t IS40_WriteJPG(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitDepth,
                       uint32_t rowStride, uint32_t quality, const ISResolution* resolution, uint32_t flags) {
    static const char kName[] = "IS40_WriteJPG";
    if (!ISEnter(kName, false, handle)) return 0;
    CISJpegCodec codec(handle);
    uint32_t size = ISGuarded(codec, [&]() {
        return codec.Write(image, width, height, bitDepth, rowStride, quality, resolution, flags);
    });
    ISRecordError(codec.Error(), kName);
    return size;
}

IS_BOOL IS40_SetJPGDCTScaleFactors(uint32_t numerator, uint32_t denominator) {
    return ChangeSettings("IS40_SetJPGDCTScaleFactors", true, [=](CISThreadState& s) {
        s.jpgScaleNum = numerator;
        s.jpgScaleDen = denominator;
    });
}

IS_BOOL IS40_ClearJPGOutputMarkers(void) {
    // Nothing adds output markers, so there is never one to clear.
    return ChangeSettings("IS40_ClearJPGOutputMarkers", true, [](CISThreadState&) {});
}

}  // extern "C"
