#ifndef ZAN_QPXREADSDK_H
#define ZAN_QPXREADSDK_H

/* Read-only C interface of libqpxreadsdk-shared over libzanfile: open a native (.qpx) or TIFF file, ask
 * for its loop coordinates, its frame count and its JSON metadata documents, fetch frames into pictures.
 *
 * Failures are results, never messages: a null pointer, 0 or a negative code. Nothing is printed.
 * Texts are zero-terminated UTF-8 JSON (pretty-printed, indentation 2, keys sorted) owned by the caller
 * until Zan_FileFreeString; pictures are owned by the caller until Zan_DestroyPicture. Both are
 * independent of the handle, which may be closed before they are released.
 *
 * Thread safety: a handle is used by one thread at a time; different handles are independent. */

#include <stddef.h>
#include <wchar.h>

#if defined(__GNUC__)
#define ZAN_QPXREADSDK_EXPORT __attribute__((visibility("default")))
#else
#define ZAN_QPXREADSDK_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An open file. */
typedef struct Zan_File* Zan_FileHandle;

/* One frame's pixels: height rows of widthBytes bytes (a multiple of 4); within a row pixel after pixel,
 * within a pixel component after component (all planes interleaved). Clients allocate the record
 * itself, so its layout is fixed. A record whose imageData is null and whose size is 0 is empty. */
typedef struct Zan_Picture {
    unsigned width;            /* pixels per row */
    unsigned height;           /* rows */
    unsigned bitsPerComponent; /* as passed to Zan_InitPicture */
    unsigned components;       /* components per pixel, all planes together */
    size_t widthBytes;         /* bytes per row */
    size_t size;               /* widthBytes * height: the byte size of imageData */
    void* imageData;           /* from malloc, or null */
} Zan_Picture;

/* Opens a file for reading by its wide (UTF-32) or UTF-8 name; ".qpx" names open as native files,
 * ".tif", ".tiff" and ".stk" names as TIFF (in any letter case). Null for any other name, a null name,
 * or a file that cannot be opened. */
ZAN_QPXREADSDK_EXPORT Zan_FileHandle Zan_FileOpenForRead(const wchar_t* fileName);
ZAN_QPXREADSDK_EXPORT Zan_FileHandle Zan_FileOpenForReadUtf8(const char* fileName);
/* Closes the file; a null handle is ignored. */
ZAN_QPXREADSDK_EXPORT void Zan_FileClose(Zan_FileHandle file);

/* Number of loop coordinates of a frame (the experiment's loops); 0 on failure. */
ZAN_QPXREADSDK_EXPORT size_t Zan_FileGetCoordSize(Zan_FileHandle file);
/* The count of loop coord; 0 on failure. When type is not null, the loop's type name is copied into it
 * as strncpy does with the limit maxTypeSize (zero-padded; not terminated when it fills the buffer). */
ZAN_QPXREADSDK_EXPORT unsigned Zan_FileGetCoordInfo(Zan_FileHandle file, unsigned coord, char* type,
                                                    size_t maxTypeSize);
/* Number of frames; 0 on failure. */
ZAN_QPXREADSDK_EXPORT unsigned Zan_FileGetSeqCount(Zan_FileHandle file);
/* 1 with *seqIndex set when the coordCount coordinates at coords name a frame, 0 otherwise or on
 * failure. */
ZAN_QPXREADSDK_EXPORT int Zan_FileGetSeqIndexFromCoords(Zan_FileHandle file, const unsigned* coords,
                                                        size_t coordCount, unsigned* seqIndex);
/* With coords null: the number of coordinates of frame seqIndex. Otherwise stores at most maxCount of
 * them and returns how many it stored. 0 on failure. */
ZAN_QPXREADSDK_EXPORT size_t Zan_FileGetCoordsFromSeqIndex(Zan_FileHandle file, unsigned seqIndex,
                                                           unsigned* coords, size_t maxCount);

/* JSON documents as texts for Zan_FileFreeString; null on failure. */
ZAN_QPXREADSDK_EXPORT char* Zan_FileGetAttributes(Zan_FileHandle file);
ZAN_QPXREADSDK_EXPORT char* Zan_FileGetMetadata(Zan_FileHandle file);
ZAN_QPXREADSDK_EXPORT char* Zan_FileGetFrameMetadata(Zan_FileHandle file, unsigned seqIndex);
ZAN_QPXREADSDK_EXPORT char* Zan_FileGetTextinfo(Zan_FileHandle file);
ZAN_QPXREADSDK_EXPORT char* Zan_FileGetExperiment(Zan_FileHandle file);

/* Reads frame seqIndex into the picture. An empty picture is first initialised for the frame; a
 * picture that is not empty must record the frame's width, height, components, bytes per component and
 * widthBytes, and hold all of its rows. Returns 0 when every pixel of the frame was read (the row padding
 * is then zero), -4 for a null handle or picture, -9 for a frame index out of range, a picture of another
 * layout or too small, and any failure to read a pixel of the frame (a damaged strip, tile or chunk
 * included). After -9 an empty picture is still empty; what a picture that was not empty holds is
 * undefined. */
ZAN_QPXREADSDK_EXPORT int Zan_FileGetImageData(Zan_FileHandle file, unsigned seqIndex, Zan_Picture* picture);

/* Releases a text; null is ignored. */
ZAN_QPXREADSDK_EXPORT void Zan_FileFreeString(char* text);

/* Sets the picture's geometry and allocates its buffer, zeroed (a previous buffer is not released).
 * Returns the buffer's size; 0 for a null picture, for a picture without bytes (a width, height, bit
 * depth or component count of 0, more than 64 bits), for a size beyond size_t and when no buffer could be
 * allocated. When it returns 0 the record is empty: imageData null, size 0. */
ZAN_QPXREADSDK_EXPORT size_t Zan_InitPicture(Zan_Picture* picture, unsigned width, unsigned height,
                                             unsigned bitsPerComponent, unsigned components);
/* Releases the picture's buffer and leaves the record empty; null is ignored. */
ZAN_QPXREADSDK_EXPORT void Zan_DestroyPicture(Zan_Picture* picture);

#ifdef __cplusplus
} /* extern "C" */

/* Bytes of a row of width pixels of components components of bits bits each, rounded up to a multiple
 * of alignment: 1 to 8 bits take 1 byte, 9 to 16 take 2, 17 to 32 take 4, 33 to 64 take 8. 0 for
 * more than 64 bits, an alignment of 0, or a size beyond 64 bits. */
ZAN_QPXREADSDK_EXPORT size_t calcWidthBytes(unsigned width, unsigned bits, unsigned components,
                                            unsigned alignment);
#endif

#endif /* ZAN_QPXREADSDK_H */
