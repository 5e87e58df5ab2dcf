#ifndef ZAN_EXAMPLE_SAMPLE_FILE_H
#define ZAN_EXAMPLE_SAMPLE_FILE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes a small native sample file (2 time points x 3 Z planes of 64 x 48 pixels, 12 significant bits
 * stored in 16, one channel) beside the running program, with the class library, and stores its
 * UTF-8 path into path. Returns 0, or -1 when it could not be written (path then holds the reason). */
int writeSampleFile(char* path, size_t pathSize);

#ifdef __cplusplus
}
#endif

#endif
