// PBM, PGM and PPM (plain and raw) through libnetpbm's pam interface.
#include "codec/isframe.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include <pam.h>

namespace {

// libnetpbm keeps its error jump buffer and message hooks in globals.
std::mutex g_pnmLock;

void Quiet(const char*) {}

void InitNetpbmOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        pm_init("vistrel", 0);
        pm_setusererrormsgfn(Quiet);
        pm_setusermessagefn(Quiet);
    });
}

// libnetpbm reports errors by longjmp; these wrappers hold no C++ objects
// with destructors so the jump skips nothing.
bool ReadHeaderGuarded(std::FILE* f, struct pam* pam) {
    jmp_buf jb;
    jmp_buf* saved = nullptr;
    if (setjmp(jb) != 0) {
        pm_setjmpbuf(saved);
        return false;
    }
    pm_setjmpbufsave(&jb, &saved);
    // PAM_STRUCT_SIZE goes through a null pointer; offsetof says the same soundly.
    pnm_readpaminit(f, pam, static_cast<int>(offsetof(struct pam, tuple_type) + sizeof pam->tuple_type));
    pm_setjmpbuf(saved);
    return true;
}

struct PnmRows {
    uint8_t* out;
    uint32_t depth;  // 1, 8, 24 or 32
    uint32_t stride;
    volatile uint32_t rowsDone;
};

inline uint8_t Scale(sample v, sample maxval) {
    if (v >= maxval) return 255;
    return static_cast<uint8_t>((v * 255 + maxval / 2) / maxval);
}

void StoreRow(const struct pam* pam, tuple* row, PnmRows* job, uint32_t y) {
    uint8_t* d = job->out + static_cast<uint64_t>(y) * job->stride;
    const uint32_t w = static_cast<uint32_t>(pam->width);
    const bool colour = pam->depth >= 3;
    for (uint32_t x = 0; x < w; ++x) {
        const tuple t = row[x];
        const uint8_t r = Scale(t[0], pam->maxval);
        const uint8_t g = colour ? Scale(t[1], pam->maxval) : r;
        const uint8_t b = colour ? Scale(t[2], pam->maxval) : r;
        switch (job->depth) {
        case 1:
            if (r) d[x >> 3] = static_cast<uint8_t>(d[x >> 3] | (0x80 >> (x & 7)));
            break;
        case 8:
            d[x] = r;
            break;
        case 24:
            d[3 * x] = r;
            d[3 * x + 1] = g;
            d[3 * x + 2] = b;
            break;
        default: {
            const bool alpha = pam->depth == 2 || pam->depth >= 4;
            d[4 * x] = r;
            d[4 * x + 1] = g;
            d[4 * x + 2] = b;
            d[4 * x + 3] = alpha ? Scale(t[pam->depth - 1], pam->maxval) : 255;
        }
        }
    }
}

void ReadRowsGuarded(const struct pam* pam, PnmRows* job) {
    jmp_buf jb;
    jmp_buf* saved = nullptr;
    tuple* volatile row = nullptr;
    if (setjmp(jb) != 0) {
        pm_setjmpbuf(saved);
        if (row) pnm_freepamrow(row);
        return;
    }
    pm_setjmpbufsave(&jb, &saved);
    row = pnm_allocpamrow(pam);
    for (uint32_t y = 0; y < static_cast<uint32_t>(pam->height); ++y) {
        pnm_readpamrow(pam, row);
        StoreRow(pam, row, job, y);
        job->rowsDone = y + 1;
    }
    pm_setjmpbuf(saved);
    pnm_freepamrow(row);
}

// Least number of bytes a row can take in the file.
uint64_t LeastRowBytes(const struct pam& pam) {
    const uint64_t w = static_cast<uint64_t>(pam.width);
    switch (pam.format) {
    case PBM_FORMAT:
        return w;
    case RPBM_FORMAT:
        return (w + 7) / 8;
    case PGM_FORMAT:
    case PPM_FORMAT:
        return w * pam.depth * 2 - 1;
    default:
        return w * pam.depth * pam.bytes_per_sample;
    }
}

// A stdio stream over the rest of the source.
std::FILE* OpenStream(ISHandleBlock* block, bool* owned) {
    *owned = false;
    if (block->kind == kISKindFile) return block->stream;
    *owned = true;
    const uint32_t pos = block->position <= block->memorySize ? block->position : block->memorySize;
    const uint32_t left = block->memorySize - pos;
#ifdef _WIN32
    std::FILE* f = std::tmpfile();
    if (!f) return nullptr;
    if (std::fwrite(block->memoryBase + pos, 1, left, f) != left || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return nullptr;
    }
    return f;
#else
    // fmemopen refuses an empty buffer; a one-byte view of nothing reads as EOF anyway.
    static const char empty = 0;
    if (left == 0) return fmemopen(const_cast<char*>(&empty), 1, "r");
    return fmemopen(const_cast<uint8_t*>(block->memoryBase + pos), left, "rb");
#endif
}

uint8_t* ReadPnm(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                 uint8_t* palette, uint32_t flags, uint32_t* error) {
    const bool dib = (flags & IS_READ_DIB) != 0;
    const uint32_t depth = dib ? 24 : bitDepth;
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32) {
        *error = IS_ERR_PARAM;
        return nullptr;
    }
    CISIO io(handle);
    const uint64_t total = io.Size();
    const uint64_t start = io.Tell();
    ISHandleBlock* block = static_cast<ISHandleBlock*>(handle);
    if (block->kind == kISKindFile && std::fseek(block->stream, static_cast<long>(start), SEEK_SET) != 0) {
        *error = IS_ERR_READ;
        return nullptr;
    }

    // Only the six PNM kinds; libnetpbm's other readers are not for us.
    uint8_t magic[2] = {};
    if (!io.ReadExact(magic, 2) || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6' || !io.Seek(start, 0)) {
        *error = IS_ERR_FORMAT;
        return nullptr;
    }

    std::lock_guard<std::mutex> lock(g_pnmLock);
    InitNetpbmOnce();
    bool owned = false;
    std::FILE* f = OpenStream(block, &owned);
    if (!f) {
        *error = IS_ERR_READ;
        return nullptr;
    }
    struct FileCloser {
        std::FILE* f;
        bool owned;
        ~FileCloser() {
            if (owned) std::fclose(f);
        }
    } closer{f, owned};

    struct pam pam;
    std::memset(&pam, 0, sizeof pam);
    if (!ReadHeaderGuarded(f, &pam) || pam.width <= 0 || pam.height <= 0 || pam.depth == 0 ||
        pam.maxval == 0) {
        *error = IS_ERR_FORMAT;
        return nullptr;
    }
    const bool bilevel = PNM_FORMAT_TYPE(pam.format) == PBM_TYPE;
    const bool colour = pam.depth >= 3;
    if ((depth == 8 && colour) || (depth == 1 && !bilevel)) {
        *error = IS_ERR_DEPTH;
        return nullptr;
    }
    const uint32_t w = static_cast<uint32_t>(pam.width);
    const uint32_t h = static_cast<uint32_t>(pam.height);
    uint64_t stride = depth == 1 ? (w + 7u) / 8u : static_cast<uint64_t>(w) * (depth / 8);
    uint64_t bytes;
    if (!ISMulSize(stride, h, &bytes)) {
        *error = IS_ERR_MEMORY;
        return nullptr;
    }
    const long headerEnd = std::ftell(f);
    const uint64_t consumed = owned ? static_cast<uint64_t>(headerEnd) : static_cast<uint64_t>(headerEnd) - start;
    if (headerEnd < 0 || total < start + consumed) {
        *error = IS_ERR_READ;
        return nullptr;
    }
    // A cut-off file keeps the rows that arrived, but a large picture with
    // most of its data missing is taken for a bomb, not allocated. Counted
    // in RGB bytes: a 1-bit read is widened by the generic reader.
    const uint64_t left = total - start - consumed;
    const uint64_t rowBytes = LeastRowBytes(pam);
    const uint64_t rgbBytes = static_cast<uint64_t>(w) * h * 3;
    if (left < rowBytes || (rgbBytes > kISBombFloor && left < rowBytes * h / 2)) {
        *error = IS_ERR_READ;
        return nullptr;
    }

    CISOutBufAllocator out;
    if (!out.Alloc(bytes)) {
        *error = IS_ERR_MEMORY;
        return nullptr;
    }
    PnmRows job{out.Get(), depth, static_cast<uint32_t>(stride), 0};
    ReadRowsGuarded(&pam, &job);
    // A cut-off file keeps the rows that arrived; the rest stay zero.
    if (job.rowsDone == 0) {
        *error = IS_ERR_READ;
        return nullptr;
    }
    if (palette && (depth == 1 || depth == 8)) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint8_t v = depth == 1 ? (i ? 255 : 0) : static_cast<uint8_t>(i);
            palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = v;
            palette[4 * i + 3] = 0;
        }
    }
    *width = w;
    *height = h;
    *error = 0;
    if (!dib) return out.Release();
    return ISRGBToPackedDIB(out.Get(), w, h, w * 3, 24, nullptr, nullptr);
}

}  // namespace

extern "C" uint8_t* IS40_ReadPNM(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                                 uint8_t* palette, uint32_t flags) {
    if (!ISEnter("IS40_ReadPNM", !width || !height, handle)) return nullptr;
    uint32_t error = 0;
    uint8_t* result = nullptr;
    try {
        result = ReadPnm(handle, width, height, bitDepth, palette, flags, &error);
    } catch (const std::bad_alloc&) {
        error = IS_ERR_MEMORY;
    } catch (const ZerUvadod::ISException& e) {
        error = e.Code();
    }
    ISRecordError(error, "IS40_ReadPNM");
    return result;
}
