#pragma once

#include <io/ZanExport.h>

namespace Zan {

// Image-file device of native chunked container files (extension ".qpx"). So far it only names its
// container layer, QpxFileDevice::ChunkedDevice (<qpx/QpxChunkedDevice.h>).
class ZAN_EXPORT QpxFileDevice {
public:
    class ChunkedDevice;
};

} // namespace Zan
