#include <io/IoImageFileDevice.h>

namespace Zan {

// Out of line so that the interface's type information lives in one place: the library.
IoImageFileDevice::~IoImageFileDevice() = default;

} // namespace Zan
