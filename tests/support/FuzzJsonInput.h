#pragma once

// For fuzz targets whose input is JSON text: the input read as a document and handed to the target's
// body, with the library's expected errors let through silently.
//
//   extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
//       return ZanTest::runOnJsonInput<json::exception, std::runtime_error>(data, size, run);
//   }

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>

namespace ZanTest {

// The document of the input, or a discarded value when the input is not JSON text or longer than 64 KiB.
// With maxDepth of 0 or more, values nested deeper are dropped: the JSON library copies and compares
// recursively, while documents from files are at most a few hundred levels deep.
inline nlohmann::json fuzzJsonInput(const std::uint8_t* data, std::size_t size, int maxDepth = -1) {
    using json = nlohmann::json;
    if (size > (1u << 16))
        return json(json::value_t::discarded);
    if (maxDepth < 0)
        return json::parse(data, data + size, nullptr, false);
    return json::parse(
        data, data + size, [maxDepth](int depth, json::parse_event_t, json&) { return depth <= maxDepth; },
        false);
}

// Runs f; an exception of one of the Expected types ends it silently, any other passes on.
template <typename F>
void swallowing(F&& f) {
    f();
}
template <typename Expected, typename... More, typename F>
void swallowing(F&& f) {
    try {
        swallowing<More...>(f);
    } catch (const Expected&) {
    }
}

// run(document) for an input that is a JSON document (fuzzJsonInput), its Expected exceptions swallowed.
// Returns 0, as a fuzz target does.
template <typename... Expected, typename Run>
int runOnJsonInput(const std::uint8_t* data, std::size_t size, Run run, int maxDepth = -1) {
    const nlohmann::json document = fuzzJsonInput(data, size, maxDepth);
    if (!document.is_discarded())
        swallowing<Expected...>([&] { run(document); });
    return 0;
}

} // namespace ZanTest
