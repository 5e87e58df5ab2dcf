#pragma once

#include <io/ZanExport.h>

namespace Zan {

// Image-file device of native chunked container files (extension ".qpx"). So far it names its container
// layer, QpxFileDevice::ChunkedDevice (<qpx/QpxChunkedDevice.h>), and the codes of a failed open.
class ZAN_EXPORT QpxFileDevice {
public:
    class ChunkedDevice;

    // Codes that a failed open stores through its int* argument (the chunked device's open and the native
    // image-file device's open alike); 0 when the open succeeded.
    static constexpr int OpenSucceeded = 0;
    static constexpr int OldestFormat = 100;        // the file begins with the oldest format's JPEG 2000 box
    static constexpr int UnsupportedVersion = 101;  // a format version the device does not read
    static constexpr int BadSignature = 102;        // short, damaged or foreign signature chunk
    static constexpr int SignatureNotWritten = 103; // the signature chunk of a new file was not written whole
    static constexpr int ChunkMapUnreadable = -200; // no readable chunk map at the end; the file stays open
};

} // namespace Zan
