/* A C program using the installed C interface as outside clients do; built as strict C99. */
#include <capi/QpxReadSdk.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    Zan_Picture picture;
    memset(&picture, 0, sizeof picture);
    if (Zan_FileOpenForReadUtf8("missing.qpx") != NULL || Zan_FileOpenForRead(L"missing.tif") != NULL)
        return 1;
    if (Zan_InitPicture(&picture, 3, 2, 8, 1) != 8 || picture.widthBytes != 4 || picture.imageData == NULL)
        return 2;
    Zan_DestroyPicture(&picture);
    if (picture.imageData != NULL || picture.size != 0)
        return 3;
    Zan_FileFreeString(NULL);
    Zan_FileClose(NULL);
    puts("C consumer ok");
    return 0;
}
