#pragma once

#include <io/ZanExport.h>

#include <stdexcept>

namespace Zan {
namespace Exception {

// Raised by a long read that finds its abort flag set.
class ZAN_EXPORT Aborted : public std::runtime_error {
public:
    Aborted();
    ~Aborted() override;
};

} // namespace Exception
} // namespace Zan
