#include <legacy/CVkList.h>
#include <legacy/VkDiagnostics.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <iostream>
#include <string>

using ZanLegacy::CVkDiagnosticCapture;
using ZanLegacy::CVkList;
using ZanLegacy::VkPrintDiagnostic;

TEST(VkDiagnostics, PrintsUtf8AndLeavesStandardOutputNarrow) {
    testing::internal::CaptureStdout();
    VkPrintDiagnostic(L"Error: caf\u00e9 \u20ac");
    CVkList(ZanLegacy::eVkKeyInt).Append(nullptr);
    std::printf("|printf %d\n", 1);
    std::cout << "cout" << std::endl;
    VkPrintDiagnostic(nullptr);
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error: caf\xC3\xA9 \xE2\x82\xAC"
                   "Error: Need a key for the object to append!"
                   "|printf 1\ncout\n");
    EXPECT_LE(std::fwide(stdout, 0), 0);
}

TEST(VkDiagnostics, CapturesNestAndReplacePrinting) {
    testing::internal::CaptureStdout();
    {
        CVkDiagnosticCapture outer;
        VkPrintDiagnostic(L"one");
        {
            CVkDiagnosticCapture inner;
            VkPrintDiagnostic(L"two");
            EXPECT_EQ(inner.Text(), "two");
        }
        VkPrintDiagnostic(L"three");
        EXPECT_EQ(outer.Text(), "onethree");
        outer.Clear();
        EXPECT_EQ(outer.Text(), "");
    }
    VkPrintDiagnostic(L"four");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "four");
}
