// Writes a TIFF into a memory buffer from arbitrary attributes and metadata documents, as the JSON image set
// does for each frame file: {"attributes": {...}, "metadata": {...}}. Documents the writer refuses are
// expected; a document it accepts must give a file that reads back with the same geometry and every pixel as
// written, or the run aborts. Frames are kept small so that every run stays fast.

#include <support/FuzzJsonInput.h>

#include <io/IoImageDataDevice.h>
#include <io/IoMemoryBuffer.h>
#include <tiff/TifFileDevice.h>
#include <tiff/detail/TifFileDeviceImpl.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using json = nlohmann::json;

constexpr long maxSide = 2048;
constexpr long maxFrameBytes = 1L << 20;

void check(bool condition) {
    if (!condition)
        std::abort();
}

void run(const json& document) {
    auto buffer = std::make_unique<Zan::IoMemoryBuffer>();
    Zan::IoMemoryBuffer* bytes = buffer.get();
    Zan::TifFileDevice writer(std::make_unique<Zan::TifFileDevice::Impl>(std::move(buffer)));
    check(writer.open(Zan::IoDevice::Write, 0, nullptr));
    // What the writer refuses ends the run here; what it accepts must be written and read back.
    writer.setAttributes(document.at("attributes"));
    if (document.contains("metadata"))
        writer.setMetadata(document["metadata"]);
    auto frame = writer.imageData(0);
    check(frame->open(Zan::IoImageDataDevice::Write));
    const long width = frame->width(), height = frame->height();
    const long stride = frame->packedLineSize(1);
    if (width > maxSide || height > maxSide || stride > maxFrameBytes || stride * height > maxFrameBytes)
        return;
    std::vector<char> pixels(static_cast<std::size_t>(stride * height));
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<char>(i * 131 + 7);
    frame->setPackedImage(pixels.data(), stride);
    const long components = frame->channels(), bits = frame->bitsPerComponentStored();
    const auto format = frame->dataFormat();
    frame.reset();
    writer.close();

    Zan::TifFileDevice reader(static_cast<unsigned long>(bytes->size()), bytes->data());
    check(reader.open(Zan::IoDevice::Read, 0, nullptr));
    const json attributes = reader.attributes();
    check(attributes.at("widthPx") == width && attributes.at("heightPx") == height);
    check(attributes.at("componentCount") == components && attributes.at("bitsPerComponentInMemory") == bits);
    auto back = reader.imageData(0);
    check(back->open(Zan::IoImageDataDevice::Read));
    check(back->dataFormat() == format && back->packedLineSize(1) == stride);
    back->setPropertyInt(Zan::IoImageDataDevice::StopOnError, 1);
    std::vector<char> read(pixels.size());
    back->packedImage(read.data(), stride);
    check(read == pixels);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Refusals: documents that are no records (json), or attributes a TIFF cannot hold (invalid_argument).
    return ZanTest::runOnJsonInput<json::exception, std::invalid_argument>(data, size, run, 16);
}
