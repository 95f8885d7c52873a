// Public interface of the IS40 library: JPEG reading and writing.
// Included by IS40.h; fixed-width types only.
#ifndef IS40JPEG_H
#define IS40JPEG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
