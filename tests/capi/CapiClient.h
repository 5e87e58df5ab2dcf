#ifndef ZAN_TEST_CAPI_CLIENT_H
#define ZAN_TEST_CAPI_CLIENT_H

/* A C client of the C interface, compiled as C99: each scenario calls the interface as a C program
 * would and records every check that fails. The C++ tests write the files, run the scenarios and
 * compare what they read with the class library. */

#include <capi/QpxReadSdk.h>

#include <stddef.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CapiReport {
    int checks;
    int failures;
    char text[8192]; /* the failed checks, one a line */
} CapiReport;

/* What a file holds, as the test that wrote it knows. */
typedef struct CapiExpected {
    unsigned width;
    unsigned height;
    unsigned bitsPerComponent; /* of a picture the interface sizes for a frame */
    unsigned components;       /* all planes together */
    size_t widthBytes;         /* of such a picture */
    unsigned frames;
    unsigned loops;       /* 0, or 1 loop over the frames */
    const char* loopType; /* of that loop */
    int allDocuments;     /* 0: the file has no experiment, text info or frame metadata documents */
} CapiExpected;

/* Opens the file by both names and runs every query and a frame fetch into one reused picture, then
 * closes; the picture is handed back (the caller destroys it) with the last frame's pixels. */
void capiReadFile(CapiReport* report, const char* utf8Name, const wchar_t* wideName,
                  const CapiExpected* expected, Zan_Picture* lastFrame);

/* Names that open nothing: the interface gives null for each. */
void capiRefuseNames(CapiReport* report, const char* const* utf8Names, const wchar_t* const* wideNames,
                     size_t count);

/* Every function with a null handle, a null picture and null texts. */
void capiNullArguments(CapiReport* report);

/* Failure results on an open file of more than one frame: indexes out of range, coordinates that name no
 * frame, pictures without a buffer or too small for the frame, a destroyed picture used again. */
void capiFailuresOnFile(CapiReport* report, const char* utf8Name, const CapiExpected* expected);

/* Picture geometry of Zan_InitPicture: bytes per component by bits, alignment, failures. */
void capiInitPictures(CapiReport* report);

#ifdef __cplusplus
}
#endif

#endif
