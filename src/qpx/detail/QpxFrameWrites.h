#pragma once

// The sample-wise sum behind the native device's frame adds (internal): the merge of split tiles adds
// every tile into its merged frame through it.

namespace Zan {

// dst += src, sample by sample, over rows rows that lie rowBytes bytes apart in both buffers. The sample
// type follows the stored bits per component: up to 8 unsigned 8-bit, 9 to 16 unsigned 16-bit (both wrap
// around, nothing saturates), 17 to 32 32-bit float; more raises std::logic_error
// "copyComponentToplane: unsupported bitdepth for conversion" before anything is touched. Each row holds
// rowBytes / sample size whole samples; bytes of a row behind its last whole sample are left alone, as is
// everything when rows or rowBytes is below 1. The buffers need no alignment and must not overlap.
void addData(const void* src, void* dst, long bitsPerComponentStored, long rowBytes, long rows);

} // namespace Zan
