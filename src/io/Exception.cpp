#include <io/Exception.h>

namespace Zan {
namespace Exception {

Aborted::Aborted() : std::runtime_error("aborted") {}
Aborted::~Aborted() = default;

} // namespace Exception
} // namespace Zan
