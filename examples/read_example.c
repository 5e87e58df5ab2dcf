/* Reads a native (.qpx) or TIFF file through the C interface and prints its attributes, its loops and
 * the statistics of its first frame.
 *
 *   read_example [file]
 *
 * Without a file it first writes a small sample file with the class library and reads that. */
#include "SampleFile.h"

#include <capi/QpxReadSdk.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Sample i of the picture as a number: 1, 2 or 4 bytes unsigned, or a 32-bit float. */
static double sampleAt(const unsigned char* row, size_t i, size_t bytes, int isFloat) {
    if (bytes == 1)
        return row[i];
    if (bytes == 2) {
        unsigned short v;
        memcpy(&v, row + 2 * i, 2);
        return v;
    }
    if (isFloat) {
        float f;
        memcpy(&f, row + 4 * i, 4);
        return f;
    }
    {
        unsigned int v;
        memcpy(&v, row + 4 * i, 4);
        return v;
    }
}

static void printStatistics(const Zan_Picture* picture, int isFloat) {
    const size_t bytes = picture->bitsPerComponent <= 8 ? 1 : picture->bitsPerComponent <= 16 ? 2 : 4;
    const size_t pixels = (size_t)picture->width * picture->height;
    unsigned c;
    if (picture->bitsPerComponent > 32) {
        printf("  (statistics of %u-bit samples are not shown)\n", picture->bitsPerComponent);
        return;
    }
    /* A damaged file may describe rows its picture does not hold: read only what is there. */
    if (!picture->imageData || (size_t)picture->width * picture->components * bytes > picture->widthBytes ||
        picture->widthBytes * picture->height > picture->size) {
        printf("  (the picture does not hold %u x %u samples)\n", picture->width, picture->height);
        return;
    }
    for (c = 0; c < picture->components; ++c) {
        double minimum = INFINITY, maximum = -INFINITY, sum = 0.0, squares = 0.0, mean;
        unsigned x, y;
        for (y = 0; y < picture->height; ++y) {
            const unsigned char* row = (const unsigned char*)picture->imageData + y * picture->widthBytes;
            for (x = 0; x < picture->width; ++x) {
                const double v = sampleAt(row, (size_t)x * picture->components + c, bytes, isFloat);
                minimum = v < minimum ? v : minimum;
                maximum = v > maximum ? v : maximum;
                sum += v;
                squares += v * v;
            }
        }
        mean = pixels ? sum / (double)pixels : 0.0;
        printf("  component %u: min %g, max %g, mean %.2f, standard deviation %.2f\n", c, minimum, maximum,
               mean, pixels ? sqrt(fmax(squares / (double)pixels - mean * mean, 0.0)) : 0.0);
    }
}

static void printLoops(Zan_FileHandle file) {
    const size_t loops = Zan_FileGetCoordSize(file);
    unsigned* coords = NULL;
    size_t i, n;
    printf("Loops: %zu\n", loops);
    for (i = 0; i < loops; ++i) {
        /* Left as it is when the loop has no type name. */
        char type[64] = "(no type)";
        const unsigned count = Zan_FileGetCoordInfo(file, (unsigned)i, type, sizeof type);
        type[sizeof type - 1] = '\0';
        printf("  %zu: %s, %u positions\n", i, type, count);
    }
    if (loops == 0)
        return;
    coords = (unsigned*)calloc(loops, sizeof *coords);
    if (!coords)
        return;
    n = Zan_FileGetCoordsFromSeqIndex(file, Zan_FileGetSeqCount(file) - 1, coords, loops);
    printf("  the last frame stands at (");
    for (i = 0; i < n; ++i)
        printf(i ? ", %u" : "%u", coords[i]);
    printf(")\n");
    free(coords);
}

int main(int argc, char** argv) {
    char sample[4096];
    const char* name = argc > 1 ? argv[1] : NULL;
    Zan_FileHandle file;
    Zan_Picture picture;
    char* attributes;
    int isFloat, result;

    if (!name) {
        if (writeSampleFile(sample, sizeof sample) != 0) {
            fprintf(stderr, "read_example: cannot write the sample file: %s\n", sample);
            return 1;
        }
        printf("Sample file written to %s\n", sample);
        name = sample;
    }
    file = Zan_FileOpenForReadUtf8(name);
    if (!file) {
        fprintf(stderr, "read_example: cannot open %s as a native or TIFF file\n", name);
        return 1;
    }
    printf("File: %s\nFrames: %u\n", name, Zan_FileGetSeqCount(file));

    attributes = Zan_FileGetAttributes(file);
    printf("Attributes:\n%s\n", attributes ? attributes : "(none)");
    isFloat = attributes && strstr(attributes, "\"pixelDataType\": \"float\"") != NULL;
    Zan_FileFreeString(attributes);

    printLoops(file);

    /* An empty picture is sized by the first fetch; further frames would reuse it. */
    memset(&picture, 0, sizeof picture);
    result = Zan_FileGetImageData(file, 0, &picture);
    if (result == 0) {
        printf("First frame: %u x %u pixels, %u component(s) of %u bits, %zu bytes per row\n", picture.width,
               picture.height, picture.components, picture.bitsPerComponent, picture.widthBytes);
        printStatistics(&picture, isFloat);
    } else {
        printf("First frame: cannot be read (%d)\n", result);
    }
    Zan_DestroyPicture(&picture);
    Zan_FileClose(file);
    return result == 0 ? 0 : 1;
}
