// Reader codes of the generic reader and the type-to-reader mapping.
#ifndef ISDETECT_H
#define ISDETECT_H

#include "IS40.h"

enum : uint32_t {
    kISReaderJPEG = 0, kISReaderBMP = 1, kISReaderGIF = 2, kISReaderPCX = 3, kISReaderPNG = 4,
    kISReaderTIFF = 5, kISReaderTGA = 6, kISReaderWMF = 7, kISReaderEMF = 8, kISReaderPSD = 9,
    kISReaderWBMP = 10, kISReaderTLAU = 11, kISReaderTLA = 12, kISReaderPCD = 13, kISReaderPBM = 14,
    kISReaderPGM = 15, kISReaderPPM = 16, kISReaderNone = 17
};

// The reader for a file type code; types without one fall back to the
// extension of a file source's path.
uint32_t ISReaderCodeFor(uint32_t fileType, ISHANDLE handle);

#endif
