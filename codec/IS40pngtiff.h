// Public interface of the IS40 library: PNG and TIFF reading and writing.
// Included by IS40.h; fixed-width types only.
#ifndef IS40PNGTIFF_H
#define IS40PNGTIFF_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
