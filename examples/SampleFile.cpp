// The example's sample file, written with the class library: the native device takes the raw-metadata
// document (the legacy layout: attributes, nested experiment levels, picture planes, text info) and then
// one frame device per frame.
#include "SampleFile.h"

#include <io/IoDevice.h>
#include <io/IoImageDataDevice.h>
#include <qpx/QpxFileDevice.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

constexpr unsigned width = 64, height = 48, timePoints = 2, zPlanes = 3;
constexpr unsigned lineBytes = width * 2;

// One experiment level of the legacy tree: its type, its parameters and the levels nested in it.
json level(unsigned type, const json& parameters, const json& nested = nullptr) {
    json dic = {{"eType_u32", type},
                {"uLoopPars_dic", {{"i0000000000_dic", parameters}}},
                {"uiNextLevelCount_u32", nested.is_null() ? 0 : 1}};
    if (!nested.is_null())
        dic["ppNextLevelEx_dic"] = {{"i0000000000_dic", nested}};
    return dic;
}

json rawMetadata() {
    const json attributes = {{"uiWidth_u32", width},
                             {"uiWidthBytes_u32", lineBytes},
                             {"uiHeight_u32", height},
                             {"uiComp_u32", 1},
                             {"uiBpcInMemory_u32", 16},
                             {"uiBpcSignificant_u32", 12},
                             {"uiSequenceCount_u32", timePoints * zPlanes},
                             {"eCompression_i32", 2},
                             {"dCompressionParam_dbl", 0.0}};
    const json time = {
        {"uiCount_u32", timePoints}, {"dStart_dbl", 0.0}, {"dPeriod_dbl", 1000.0}, {"dDuration_dbl", 0.0}};
    const json z = {{"uiCount_u32", zPlanes}, {"dZLow_dbl", 0.0},  {"dZHigh_dbl", 4.0},
                    {"dZStep_dbl", 2.0},      {"dZHome_dbl", 2.0}, {"iType_i32", 0},
                    {"bZInverted_bol", false}};
    const json planes = {
        {"uiCount_u32", 1},
        {"sPlaneNew_dic", {{"i0000000000_dic", {{"uiCompCount_u32", 1}, {"sDescription_str", "DAPI"}}}}}};
    return {{"Attributes_dic", attributes},
            {"Experiment_dic", level(1, time, level(4, z))},
            {"Metadata_dic", {{"sPicturePlanes_dic", planes}}},
            {"TextInfo_dic", {{"TextInfoItem_4_str", "read_example"}}}};
}

// A soft spot on a gradient that moves with time and dims with depth; 12-bit values.
std::vector<std::uint16_t> framePixels(unsigned t, unsigned z) {
    std::vector<std::uint16_t> pixels(width * height);
    const double cx = 20.0 + 10.0 * t, cy = 24.0;
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
            const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            const double value = 100.0 + 8.0 * x + 3000.0 / (1.0 + z) / (1.0 + d2 / 40.0);
            pixels[y * width + x] = static_cast<std::uint16_t>(value > 4095.0 ? 4095.0 : value);
        }
    return pixels;
}

std::filesystem::path besideProgram(const char* name) {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path(name) : program.parent_path() / name;
}

void write(const std::string& path) {
    Zan::QpxFileDevice file(path);
    if (!file.open(Zan::IoDevice::Write | Zan::IoDevice::Update, 3, nullptr))
        throw std::runtime_error("cannot create " + path);
    file.setRawMetadata(rawMetadata());
    for (unsigned t = 0; t < timePoints; ++t)
        for (unsigned z = 0; z < zPlanes; ++z) {
            const auto frame = file.imageData(t * zPlanes + z);
            if (!frame->open(Zan::IoImageDataDevice::Write))
                throw std::runtime_error("cannot write frame " + std::to_string(t * zPlanes + z));
            frame->writeCurrentPlane(framePixels(t, z).data(), lineBytes);
            frame->close();
        }
    file.close();
}

} // namespace

int writeSampleFile(char* path, size_t pathSize) {
    std::string name;
    int result = 0;
    try {
        name = besideProgram("sample.qpx").string();
        write(name);
    } catch (const std::exception& e) {
        name = e.what();
        result = -1;
    }
    std::snprintf(path, pathSize, "%s", name.c_str());
    return result;
}
