// Library-internal JPEG services for other parts of the codec library.
#ifndef ISJPEG_H
#define ISJPEG_H

#include "isframe.h"

#include <cstdint>
#include <vector>

// Reads the JPEG header from the source's current position, without
// decoding pixels, and returns its COM and APP0 to APP15 segments in file
// order (each payload up to 65535 bytes, as stored after the length field).
// Returns 0 on success, 5 / 38 for a null / invalid handle, 9 when the
// header cannot be read, 1 when out of memory. Records nothing as the last
// error; a libjpeg failure leaves a trace entry.
uint32_t ISReadJPGMarkers(ISHANDLE handle, std::vector<CISJpegMarker>* markers);

#endif
