// JSON codecs of the attributes and text-info records.

#include <imagefile/IoImageFile.h>
#include <imagefile/detail/RecordNames.h>
#include <metadata/detail/CheckedReads.h>
#include <metadata/detail/TextInfoKeys.h>

#include <array>

namespace nlohmann {

namespace {

using Zan::IoImageFile;

// The member under key, or current when the document lacks it; integers from a file that are stored as
// floating-point numbers convert without undefined behaviour.
std::int64_t int64Of(const json& j, const char* key, std::int64_t current) {
    return Zan::JsonMetadata::detail::memberOr<std::int64_t>(j, key, current);
}

using TextField = std::string IoImageFile::TextInfo::*;

// The text-info fields in the order of their keys.
constexpr std::array<TextField, Zan::detail::kTextInfoKeys.size()> kTextFields{
    &IoImageFile::TextInfo::imageId,    &IoImageFile::TextInfo::type,
    &IoImageFile::TextInfo::group,      &IoImageFile::TextInfo::sampleId,
    &IoImageFile::TextInfo::author,     &IoImageFile::TextInfo::description,
    &IoImageFile::TextInfo::capturing,  &IoImageFile::TextInfo::sampling,
    &IoImageFile::TextInfo::location,   &IoImageFile::TextInfo::date,
    &IoImageFile::TextInfo::conclusion, &IoImageFile::TextInfo::info1,
    &IoImageFile::TextInfo::info2,      &IoImageFile::TextInfo::optics,
    &IoImageFile::TextInfo::appVersion};

} // namespace

void adl_serializer<IoImageFile::Attributes>::from_json(const json& j, IoImageFile::Attributes& r) {
    using namespace Zan::detail;
    r.bitsPerComponentInMemory = int64Of(j, "bitsPerComponentInMemory", r.bitsPerComponentInMemory);
    r.bitsPerComponentSignificant = int64Of(j, "bitsPerComponentSignificant", r.bitsPerComponentSignificant);
    r.componentCount = int64Of(j, "componentCount", r.componentCount);
    r.compressionLevel = j.value("compressionLevel", r.compressionLevel);
    r.compressionType = static_cast<IoImageFile::CompressionType>(
        compressionTypeFromName(j.value("compressionType", convertCompressionType(r.compressionType))));
    r.heightPx = int64Of(j, "heightPx", r.heightPx);
    r.pixelDataType = static_cast<IoImageFile::PixelDataFormat>(
        pixelDataFormatFromName(j.value("pixelDataType", convertPixelDataFormat(r.pixelDataType))));
    r.sequenceCount = int64Of(j, "sequenceCount", r.sequenceCount);
    r.tileHeightPx = int64Of(j, "tileHeightPx", r.tileHeightPx);
    r.tileWidthPx = int64Of(j, "tileWidthPx", r.tileWidthPx);
    r.widthBytes = int64Of(j, "widthBytes", r.widthBytes);
    r.widthPx = int64Of(j, "widthPx", r.widthPx);
}

void adl_serializer<IoImageFile::Attributes>::to_json(json& j, const IoImageFile::Attributes& r) {
    using namespace Zan::detail;
    j = json::object();
    j["bitsPerComponentInMemory"] = r.bitsPerComponentInMemory;
    j["bitsPerComponentSignificant"] = r.bitsPerComponentSignificant;
    j["componentCount"] = r.componentCount;
    j["compressionLevel"] = r.compressionLevel;
    j["compressionType"] = convertCompressionType(r.compressionType);
    j["heightPx"] = r.heightPx;
    j["pixelDataType"] = convertPixelDataFormat(r.pixelDataType);
    j["sequenceCount"] = r.sequenceCount;
    j["tileHeightPx"] = r.tileHeightPx;
    j["tileWidthPx"] = r.tileWidthPx;
    j["widthBytes"] = r.widthBytes;
    j["widthPx"] = r.widthPx;
}

void adl_serializer<IoImageFile::TextInfo>::from_json(const json& j, IoImageFile::TextInfo& r) {
    if (!j.is_object())
        return;
    for (std::size_t i = 0; i < kTextFields.size(); ++i)
        r.*kTextFields[i] = j.value(std::string(Zan::detail::kTextInfoKeys[i]), std::string());
}

void adl_serializer<IoImageFile::TextInfo>::to_json(json& j, const IoImageFile::TextInfo& r) {
    j = json::object();
    for (std::size_t i = 0; i < kTextFields.size(); ++i)
        j[std::string(Zan::detail::kTextInfoKeys[i])] = r.*kTextFields[i];
}

} // namespace nlohmann
