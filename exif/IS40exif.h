// Public interface of the IS40 library: EXIF metadata reader.
// Included by IS40.h; fixed-width types only.
#ifndef IS40EXIF_H
#define IS40EXIF_H

#include <stdint.h>

#include "codec/IS40.h"

#ifdef __cplusplus
extern "C" {
#endif

// Error codes of the EXIF entry points (besides those of IS40.h).
enum {
    IS_ERR_EXIF_NOT_FOUND = 57,  // the requested tag or block is not in the reader
    IS_ERR_EXIF_PART = 65        // the thumbnail or user-comment copy could not be made
};

// IS40_EXIFCreateReader flags.
enum {
    IS_EXIF_THUMBNAIL = 1,     // extract the embedded JPEG thumbnail
    IS_EXIF_MAKER_NOTE = 2,    // read the maker note into its own list
    IS_EXIF_USER_COMMENT = 4,  // keep a copy of the UserComment bytes
    IS_EXIF_RAW = 8            // the whole source is one EXIF block
};

// IS40_EXIFGetString list mask bits.
enum {
    IS_EXIF_LIST_IFD0 = 1,
    IS_EXIF_LIST_EXIF = 2,
    IS_EXIF_LIST_INTEROP = 4,
    IS_EXIF_LIST_IFD1 = 8,
    IS_EXIF_LIST_GPS = 16,
    IS_EXIF_LIST_MAKER_NOTE = 32,
    IS_EXIF_LIST_STANDARD = 31  // every list but the maker note
};

typedef void* ISEXIFREADER;  // opaque

// Reads the EXIF metadata of a JPEG or TIFF source (page selects the TIFF
// directory; ignored otherwise). Everything needed is copied: the source
// may be closed as soon as this returns. Null when the source holds no
// usable EXIF block; the last error is then 0 or the failure's code.
ISEXIFREADER IS40_EXIFCreateReader(ISHANDLE source, uint32_t page, uint32_t flags);
// Frees the reader with its tags and blocks; a null reader is accepted.
IS_BOOL IS40_EXIFDestroyReader(ISEXIFREADER reader);
// The value text of the first tag with tagId in the lists of listMask, in
// a new zero-terminated block (release with IS40_GlobalFree). Nonzero
// when the lookup ran; a missing tag gives text null, length 0, error 57.
IS_BOOL IS40_EXIFGetString(ISEXIFREADER reader, uint32_t tagId, uint32_t listMask, char** text, uint32_t* length);
// The embedded JPEG thumbnail. The block belongs to the reader: neither
// free it nor use it after IS40_EXIFDestroyReader.
IS_BOOL IS40_EXIFGetThumbnail(ISEXIFREADER reader, const uint8_t** data, uint32_t* length);

#ifdef __cplusplus
}
#endif

#endif
