#include "CapiClient.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void record(CapiReport* report, int ok, const char* what, int line) {
    size_t used;
    ++report->checks;
    if (ok)
        return;
    ++report->failures;
    used = strlen(report->text);
    if (used + 1 < sizeof report->text)
        snprintf(report->text + used, sizeof report->text - used, "CapiClient.c:%d: %s\n", line, what);
}

#define CHECK(condition) record(report, (condition) ? 1 : 0, #condition, __LINE__)

/* True when text is a pretty-printed JSON document of the given kind: it opens with the bracket and,
 * unless empty, has its first member on the next line indented by two spaces. */
static int isDocument(const char* text, char open) {
    if (!text || text[0] != open)
        return 0;
    return text[1] == (open == '{' ? '}' : ']') || strncmp(text + 1, "\n  ", 3) == 0;
}

static void readTexts(CapiReport* report, Zan_FileHandle file, const CapiExpected* expected) {
    char* attributes = Zan_FileGetAttributes(file);
    char* metadata = Zan_FileGetMetadata(file);
    char* textInfo = Zan_FileGetTextinfo(file);
    char* experiment = Zan_FileGetExperiment(file);
    char* frameMetadata = Zan_FileGetFrameMetadata(file, expected->frames - 1);
    char widthMember[64];
    snprintf(widthMember, sizeof widthMember, "\n  \"widthPx\": %u", expected->width);
    CHECK(isDocument(attributes, '{'));
    CHECK(attributes && strstr(attributes, widthMember) != NULL);
    CHECK(isDocument(metadata, '{'));
    if (expected->allDocuments) {
        CHECK(isDocument(textInfo, '{'));
        CHECK(isDocument(experiment, '['));
        CHECK(isDocument(frameMetadata, '{'));
    } else {
        CHECK(textInfo == NULL);
        CHECK(experiment == NULL);
        CHECK(frameMetadata == NULL);
    }
    Zan_FileFreeString(attributes);
    Zan_FileFreeString(metadata);
    Zan_FileFreeString(textInfo);
    Zan_FileFreeString(experiment);
    Zan_FileFreeString(frameMetadata);
}

/* The one loop's count and type name. */
static void readLoop(CapiReport* report, Zan_FileHandle file, const CapiExpected* expected) {
    char type[32];
    char shortType[6];
    const size_t typeLength = strlen(expected->loopType);
    memset(type, 'x', sizeof type);
    CHECK(Zan_FileGetCoordInfo(file, 0, type, sizeof type) == expected->frames);
    CHECK(strcmp(type, expected->loopType) == 0);
    CHECK(type[sizeof type - 1] == '\0'); /* zero-padded to the limit */
    /* A buffer of 4 gets the first 4 characters and no terminator; the bytes after it stay. */
    memset(shortType, 'x', sizeof shortType);
    CHECK(Zan_FileGetCoordInfo(file, 0, shortType, 4) == expected->frames);
    CHECK(typeLength < 4 || (memcmp(shortType, expected->loopType, 4) == 0 && shortType[4] == 'x'));
    CHECK(Zan_FileGetCoordInfo(file, 0, NULL, 0) == expected->frames);
}

static void readCoordinates(CapiReport* report, Zan_FileHandle file, const CapiExpected* expected) {
    char type[8];
    unsigned f;

    CHECK(Zan_FileGetSeqCount(file) == expected->frames);
    CHECK(Zan_FileGetCoordSize(file) == expected->loops);
    if (expected->loops == 1)
        readLoop(report, file, expected);
    /* Beyond the last loop: no count, the buffer untouched. */
    memset(type, 'x', sizeof type);
    CHECK(Zan_FileGetCoordInfo(file, expected->loops, type, sizeof type) == 0);
    CHECK(type[0] == 'x');

    for (f = 0; f < expected->frames; ++f) {
        unsigned coords[2] = {99, 99};
        unsigned index = 99;
        CHECK(Zan_FileGetCoordsFromSeqIndex(file, f, NULL, 0) == expected->loops);
        CHECK(Zan_FileGetCoordsFromSeqIndex(file, f, coords, 2) == expected->loops);
        CHECK(coords[0] == (expected->loops ? f : 99) && coords[1] == 99);
        if (expected->loops) {
            coords[0] = 99;
            CHECK(Zan_FileGetCoordsFromSeqIndex(file, f, coords, 1) == 1 && coords[0] == f);
            CHECK(Zan_FileGetCoordsFromSeqIndex(file, f, coords, 0) == 0);
        }
        CHECK(Zan_FileGetSeqIndexFromCoords(file, expected->loops ? coords : NULL, expected->loops, &index) ==
              1);
        CHECK(index == f);
    }
}

static void readFrames(CapiReport* report, Zan_FileHandle file, const CapiExpected* expected,
                       Zan_Picture* picture) {
    unsigned f;
    void* buffer;
    memset(picture, 0, sizeof *picture);
    CHECK(Zan_FileGetImageData(file, 0, picture) == 0);
    CHECK(picture->imageData != NULL);
    CHECK(picture->width == expected->width && picture->height == expected->height);
    CHECK(picture->bitsPerComponent == expected->bitsPerComponent);
    CHECK(picture->components == expected->components);
    CHECK(picture->widthBytes == expected->widthBytes && picture->widthBytes % 4 == 0);
    CHECK(picture->size == picture->widthBytes * expected->height);
    /* Further frames go into the same buffer. */
    buffer = picture->imageData;
    for (f = 1; f < expected->frames; ++f) {
        CHECK(Zan_FileGetImageData(file, f, picture) == 0);
        CHECK(picture->imageData == buffer);
    }
}

void capiReadFile(CapiReport* report, const char* utf8Name, const wchar_t* wideName,
                  const CapiExpected* expected, Zan_Picture* lastFrame) {
    Zan_FileHandle byWideName = Zan_FileOpenForRead(wideName);
    Zan_FileHandle file = Zan_FileOpenForReadUtf8(utf8Name);
    memset(lastFrame, 0, sizeof *lastFrame);
    CHECK(byWideName != NULL);
    CHECK(file != NULL);
    if (byWideName) {
        CHECK(Zan_FileGetSeqCount(byWideName) == expected->frames);
        Zan_FileClose(byWideName);
    }
    if (!file)
        return;
    readCoordinates(report, file, expected);
    readTexts(report, file, expected);
    readFrames(report, file, expected, lastFrame);
    /* The picture does not refer to the handle. */
    Zan_FileClose(file);
    CHECK(lastFrame->imageData != NULL);
}

void capiRefuseNames(CapiReport* report, const char* const* utf8Names, const wchar_t* const* wideNames,
                     size_t count) {
    size_t i;
    for (i = 0; i < count; ++i) {
        Zan_FileHandle narrow = Zan_FileOpenForReadUtf8(utf8Names[i]);
        Zan_FileHandle wide = Zan_FileOpenForRead(wideNames[i]);
        CHECK(narrow == NULL);
        CHECK(wide == NULL);
        if (!narrow && !wide)
            continue;
        fprintf(stderr, "opened: %s\n", utf8Names[i]);
        Zan_FileClose(narrow);
        Zan_FileClose(wide);
    }
}

void capiNullArguments(CapiReport* report) {
    char type[8] = "keep";
    unsigned coords[1] = {7};
    unsigned index = 7;
    Zan_Picture picture;
    memset(&picture, 0, sizeof picture);

    CHECK(Zan_FileOpenForRead(NULL) == NULL);
    CHECK(Zan_FileOpenForReadUtf8(NULL) == NULL);
    CHECK(Zan_FileGetCoordSize(NULL) == 0);
    CHECK(Zan_FileGetCoordInfo(NULL, 0, type, sizeof type) == 0);
    CHECK(strcmp(type, "keep") == 0);
    CHECK(Zan_FileGetSeqCount(NULL) == 0);
    CHECK(Zan_FileGetSeqIndexFromCoords(NULL, coords, 1, &index) == 0);
    CHECK(index == 7);
    CHECK(Zan_FileGetCoordsFromSeqIndex(NULL, 0, coords, 1) == 0);
    CHECK(Zan_FileGetCoordsFromSeqIndex(NULL, 0, NULL, 0) == 0);
    CHECK(coords[0] == 7);
    CHECK(Zan_FileGetAttributes(NULL) == NULL);
    CHECK(Zan_FileGetMetadata(NULL) == NULL);
    CHECK(Zan_FileGetFrameMetadata(NULL, 0) == NULL);
    CHECK(Zan_FileGetTextinfo(NULL) == NULL);
    CHECK(Zan_FileGetExperiment(NULL) == NULL);
    CHECK(Zan_FileGetImageData(NULL, 0, &picture) == -4);
    CHECK(Zan_FileGetImageData(NULL, 0, NULL) == -4);
    CHECK(picture.imageData == NULL && picture.size == 0);
    CHECK(Zan_InitPicture(NULL, 4, 4, 8, 1) == 0);
    /* These do nothing. */
    Zan_FileClose(NULL);
    Zan_FileFreeString(NULL);
    Zan_DestroyPicture(NULL);
}

/* A picture that records another layout than the frame's (a client reusing one picture for frames of
 * another size) is refused, and nothing is written into it. */
static void refuseOtherLayouts(CapiReport* report, Zan_FileHandle file, const CapiExpected* expected) {
    int change;
    for (change = 0; change < 5; ++change) {
        Zan_Picture picture;
        size_t i, untouched = 0;
        memset(&picture, 0, sizeof picture);
        if (Zan_InitPicture(&picture, expected->width, expected->height, expected->bitsPerComponent,
                            expected->components) == 0) {
            CHECK(0);
            continue;
        }
        if (change == 4) {
            /* Rows of another stride, the buffer still large enough for them. */
            void* larger;
            picture.widthBytes += 4;
            picture.size = picture.widthBytes * picture.height;
            larger = realloc(picture.imageData, picture.size);
            CHECK(larger != NULL);
            if (!larger) {
                Zan_DestroyPicture(&picture);
                continue;
            }
            picture.imageData = larger;
        }
        picture.width += change == 0;
        picture.height -= change == 1;
        picture.components += change == 2;
        picture.bitsPerComponent += change == 3 ? 8 : 0; /* another number of bytes per component */
        memset(picture.imageData, 0xA5, picture.size);
        CHECK(Zan_FileGetImageData(file, 0, &picture) == -9);
        for (i = 0; i < picture.size; ++i)
            untouched += ((unsigned char*)picture.imageData)[i] == 0xA5;
        CHECK(untouched == picture.size);
        Zan_DestroyPicture(&picture);
    }
}

void capiFailuresOnFile(CapiReport* report, const char* utf8Name, const CapiExpected* expected) {
    Zan_FileHandle file = Zan_FileOpenForReadUtf8(utf8Name);
    const unsigned beyond[1] = {expected->frames};
    unsigned coords[1] = {7};
    unsigned index = 7;
    Zan_Picture picture;
    unsigned char* small;
    CHECK(file != NULL);
    if (!file)
        return;

    /* Indexes and coordinates that name no frame. */
    CHECK(Zan_FileGetSeqIndexFromCoords(file, beyond, 1, &index) == 0);
    CHECK(Zan_FileGetSeqIndexFromCoords(file, NULL, 1, &index) == 0);
    CHECK(index == 7);
    CHECK(Zan_FileGetCoordsFromSeqIndex(file, expected->frames, coords, 1) == 0);
    CHECK(Zan_FileGetCoordsFromSeqIndex(file, expected->frames, NULL, 0) == 0);
    CHECK(coords[0] == 7);
    CHECK(Zan_FileGetFrameMetadata(file, expected->frames) == NULL);
    CHECK(Zan_FileGetFrameMetadata(file, 0xFFFFFFFFu) == NULL);

    memset(&picture, 0, sizeof picture);
    CHECK(Zan_FileGetImageData(file, 0, NULL) == -4);
    CHECK(Zan_FileGetImageData(file, expected->frames, &picture) == -9);
    CHECK(picture.imageData == NULL && picture.size == 0); /* not initialised for a missing frame */

    /* A record that claims a size but has no buffer. */
    picture.size = expected->widthBytes * expected->height;
    CHECK(Zan_FileGetImageData(file, 0, &picture) == -9);

    /* A buffer one byte short of the frame is refused, and nothing is written into it. */
    memset(&picture, 0, sizeof picture);
    CHECK(Zan_InitPicture(&picture, expected->width, expected->height, expected->bitsPerComponent,
                          expected->components) == expected->widthBytes * expected->height);
    picture.size -= 1;
    small = (unsigned char*)malloc(picture.size);
    CHECK(small != NULL);
    if (small) {
        free(picture.imageData);
        picture.imageData = small;
        memset(small, 0xA5, picture.size);
        CHECK(Zan_FileGetImageData(file, 0, &picture) == -9);
        CHECK(picture.size == 0 || (small[0] == 0xA5 && small[picture.size - 1] == 0xA5));
    }
    Zan_DestroyPicture(&picture);
    CHECK(picture.imageData == NULL && picture.size == 0);

    refuseOtherLayouts(report, file, expected);

    /* A destroyed record is empty again: the next fetch initialises it anew. */
    CHECK(Zan_FileGetImageData(file, 0, &picture) == 0);
    CHECK(picture.imageData != NULL && picture.size == expected->widthBytes * expected->height);
    Zan_DestroyPicture(&picture);
    Zan_FileClose(file);
}

void capiInitPictures(CapiReport* report) {
    static const struct {
        unsigned width, height, bits, components;
        size_t widthBytes;
    } cases[] = {
        {3, 5, 8, 1, 4},                      /* rows aligned to 4 bytes */
        {4, 2, 8, 1, 4},   {3, 2, 12, 1, 8},  /* 12 bits take 2 bytes */
        {3, 2, 16, 3, 20}, {3, 2, 24, 1, 12}, /* 24 bits take 4 bytes */
        {2, 2, 32, 2, 16}, {3, 1, 33, 1, 24}, /* 33 to 64 bits take 8 bytes */
        {1, 1, 1, 1, 4},                      /* refusals, each leaving the record empty: */
        {5, 3, 0, 1, 0},                      /* 0 bits take no bytes */
        {5, 3, 65, 1, 0},                     /* nor do more than 64 */
        {0, 3, 8, 1, 0},   {3, 0, 8, 1, 4},   {3, 2, 8, 0, 0},
    };
    size_t i;
    Zan_Picture picture;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const size_t size = cases[i].widthBytes * cases[i].height;
        memset(&picture, 0, sizeof picture);
        CHECK(Zan_InitPicture(&picture, cases[i].width, cases[i].height, cases[i].bits,
                              cases[i].components) == size);
        CHECK(picture.width == cases[i].width && picture.height == cases[i].height);
        CHECK(picture.bitsPerComponent == cases[i].bits && picture.components == cases[i].components);
        CHECK(picture.widthBytes == cases[i].widthBytes);
        CHECK(picture.size == size);
        CHECK(size == 0 ? picture.imageData == NULL : picture.imageData != NULL);
        if (picture.imageData)
            memset(picture.imageData, 0, picture.size);
        Zan_DestroyPicture(&picture);
        CHECK(picture.imageData == NULL && picture.size == 0);
    }
    /* A size beyond 64 bits is no picture: nothing allocated, the record empty. */
    memset(&picture, 0, sizeof picture);
    CHECK(Zan_InitPicture(&picture, 0x80000000u, 0x80000000u, 64, 1) == 0);
    CHECK(picture.imageData == NULL && picture.size == 0);
    CHECK(Zan_InitPicture(&picture, 0xFFFFFFFFu, 0xFFFFFFFFu, 64, 0xFFFFFFFFu) == 0);
    CHECK(picture.imageData == NULL && picture.size == 0);
    /* A record that held a picture is empty after a refusal too (its old buffer stays the caller's). */
    CHECK(Zan_InitPicture(&picture, 4, 4, 8, 1) == 16);
    {
        void* held = picture.imageData;
        CHECK(Zan_InitPicture(&picture, 0, 4, 8, 1) == 0);
        CHECK(picture.imageData == NULL && picture.size == 0);
        free(held);
    }
}
