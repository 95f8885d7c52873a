// The EXIF reader over a JPEG or TIFF source and over a raw block: every
// tag present is turned into its text, and the thumbnail is decoded the
// way the viewer does.
#include "tests/fuzz/fuzzcommon.h"
#include "exif/isexif.h"

#include <cstring>

namespace {

void Exercise(ISHANDLE src, uint32_t flags) {
    IS40_Seek(src, 0, 0);
    ISEXIFREADER reader = IS40_EXIFCreateReader(src, 0, flags);
    if (!reader) return;
    const CISEXIFReader* r = ISEXIFReaderFrom(reader);
    if (!r) vsfuzz::Fail("reader handle not live", flags, 0);
    for (uint32_t list = 0; list < kEXIFListCount; ++list) {
        for (const auto& tag : r->Lists()[list]) {
            char* text = nullptr;
            uint32_t length = 0;
            if (IS40_EXIFGetString(reader, tag->tagId, 1u << list, &text, &length) && text) {
                if (text[length] != '\0') vsfuzz::Fail("value text not terminated", tag->tagId, length);
                IS40_GlobalFree(text);
            } else if (IS40_GetLastError() == IS_ERR_EXIF_NOT_FOUND) {
                vsfuzz::Fail("tag present but not found", tag->tagId, list);
            }
        }
    }
    const uint8_t* thumb = nullptr;
    uint32_t thumbLength = 0;
    if (IS40_EXIFGetThumbnail(reader, &thumb, &thumbLength) && thumb && thumbLength) {
        volatile uint8_t sink = thumb[0] ^ thumb[thumbLength - 1];
        (void)sink;
        vsfuzz::Source ts(thumb, thumbLength);
        uint32_t w = 0, h = 0;
        uint8_t* out = IS40_ReadImage(ts.get(), &w, &h, 0, 0);
        vsfuzz::CheckRead(out, w, h, vsfuzz::PlainBytes(w, h, 24));
    }
    IS40_EXIFDestroyReader(reader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vsfuzz::Source src(data, size);
    if (!src.get()) return 0;
    const uint32_t all = IS_EXIF_THUMBNAIL | IS_EXIF_MAKER_NOTE | IS_EXIF_USER_COMMENT;
    Exercise(src.get(), all);
    Exercise(src.get(), all | IS_EXIF_RAW);
    return 0;
}
