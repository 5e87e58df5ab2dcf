// The coalesced row reads that frame devices use for positioned reads: which calls they make, how they are
// capped, and how an abort or a short read stops them.

#include <support/ImageDataTestDevices.h>

#include <io/Exception.h>

#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace ZanTest;
using Zan::IoImageDataDevice;

namespace {

// A frame device that exposes the helper, reading from a "file" of bytes 0, 1, 2, ... and logging each call.
class RowReader : public TestImageDevice {
public:
    RowReader() : TestImageDevice({"rows", 4, 4, 8, 8, 1, 1}, {}), file(1 << 16) {
        std::iota(file.begin(), file.end(), static_cast<unsigned char>(0));
    }
    using IoImageDataDevice::maxRowRunBytes;
    using IoImageDataDevice::throwIfAborted;

    void read(long start, long fileStride, char* dst, long dstStride, long rowBytes, long rows,
              long maxRun = maxRowRunBytes) {
        readRowRuns(
            [this](long offset, void* buffer, unsigned long count) -> unsigned long {
                calls.emplace_back(offset, count);
                if (afterCall)
                    afterCall();
                const unsigned long available = offset < static_cast<long>(file.size())
                                                    ? file.size() - static_cast<unsigned long>(offset)
                                                    : 0;
                const unsigned long n = std::min(count, available);
                std::copy_n(file.begin() + offset, n, static_cast<unsigned char*>(buffer));
                return n;
            },
            start, fileStride, dst, dstStride, rowBytes, rows, "short read of rows", maxRun);
    }

    std::vector<unsigned char> file;
    std::vector<std::pair<long, unsigned long>> calls;
    std::function<void()> afterCall;
};

using Calls = std::vector<std::pair<long, unsigned long>>;

TEST(RowRuns, RowsContiguousInFileAndDestinationAreReadInOneCall) {
    struct Case {
        const char* name;
        long start, fileStride, dstStride, rowBytes, rows, maxRun;
        Calls calls;
    };
    const Case cases[] = {
        {"whole frame", 8, 10, 10, 10, 5, RowReader::maxRowRunBytes, {{8, 50}}},
        {"padded file rows", 8, 12, 10, 10, 3, RowReader::maxRowRunBytes, {{8, 10}, {20, 10}, {32, 10}}},
        {"padded destination rows",
         8,
         10,
         16,
         10,
         3,
         RowReader::maxRowRunBytes,
         {{8, 10}, {18, 10}, {28, 10}}},
        {"capped runs", 0, 10, 10, 10, 7, 25, {{0, 20}, {20, 20}, {40, 20}, {60, 10}}},
        {"a row above the cap", 0, 10, 10, 10, 2, 4, {{0, 10}, {10, 10}}},
        {"no rows", 0, 10, 10, 10, 0, RowReader::maxRowRunBytes, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RowReader reader;
        std::vector<char> dst(static_cast<size_t>(c.dstStride * c.rows + 8), '\x55');
        reader.read(c.start, c.fileStride, dst.data(), c.dstStride, c.rowBytes, c.rows, c.maxRun);
        EXPECT_EQ(reader.calls, c.calls);
        for (long r = 0; r < c.rows; ++r)
            for (long b = 0; b < c.dstStride; ++b) {
                const char expected =
                    b < c.rowBytes ? static_cast<char>(c.start + r * c.fileStride + b) : '\x55';
                ASSERT_EQ(dst[r * c.dstStride + b], expected) << "row " << r << " byte " << b;
            }
    }
}

TEST(RowRuns, AbortIsCheckedBeforeEveryCall) {
    RowReader reader;
    bool abort = false;
    reader.setAbortFlag(&abort);
    reader.afterCall = [&] { abort = true; };
    std::vector<char> dst(64, '\0');
    EXPECT_THROW(reader.read(0, 10, dst.data(), 10, 10, 4, 20), Zan::Exception::Aborted);
    EXPECT_EQ(reader.calls, (Calls{{0, 20}}));
    EXPECT_EQ(dst[19], 19) << "the run read before the abort stays read";
    EXPECT_THROW(reader.throwIfAborted(), Zan::Exception::Aborted);
    abort = false;
    EXPECT_NO_THROW(reader.throwIfAborted());
}

TEST(RowRuns, ShortReadAndUnreachableOffsetsAreErrors) {
    RowReader reader;
    std::vector<char> dst(4096);
    const long end = static_cast<long>(reader.file.size());
    try {
        reader.read(end - 25, 10, dst.data(), 10, 10, 3);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "short read of rows");
    }
    EXPECT_EQ(reader.calls, (Calls{{end - 25, 30}}));
    reader.calls.clear();
    EXPECT_THROW(reader.read(std::numeric_limits<long>::max() - 5, 10, dst.data(), 10, 10, 2),
                 std::runtime_error);
    EXPECT_THROW(reader.read(-1, 10, dst.data(), 10, 10, 1), std::runtime_error);
    EXPECT_TRUE(reader.calls.empty()) << "nothing is read at offsets that cannot exist";
}

} // namespace
