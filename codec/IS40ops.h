// Public interface of the IS40 library: Image operations: resizing, quarter turns, fills, overlays, palette and DIB conversions.
// Included by IS40.h; fixed-width types only.
#ifndef IS40OPS_H
#define IS40OPS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
