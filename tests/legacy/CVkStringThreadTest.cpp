#include <legacy/CVkStringA.h>
#include <legacy/CVkStringW.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using ZanLegacy::CVkStringA;
using ZanLegacy::CVkStringW;

// Run under ThreadSanitizer by the test script; a lock-order fault shows as a hang or a report.
TEST(CVkStringThreads, CrossAssignmentDoesNotDeadlock) {
    CVkStringW a(L"a"), b(L"b");
    constexpr int kRounds = 20000;
    std::thread first([&] {
        for (int i = 0; i < kRounds; ++i) {
            a = b;
            if (i % 64 == 0)
                a = L"a";
        }
    });
    std::thread second([&] {
        for (int i = 0; i < kRounds; ++i) {
            b = a;
            if (i % 64 == 0)
                b += L"b";
        }
    });
    first.join();
    second.join();
    const std::wstring left(a.GetString()), right(b.GetString());
    EXPECT_FALSE(left.empty());
    EXPECT_FALSE(right.empty());
    EXPECT_EQ(left.find_first_not_of(L"ab"), std::wstring::npos);
}

TEST(CVkStringThreads, ConcurrentCopiesOfOneSharedString) {
    const CVkStringW shared(L"shared text");
    const CVkStringA sharedA("shared");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5000; ++i) {
                CVkStringW copy(shared);
                CVkStringW other;
                other = copy;
                copy += static_cast<wchar_t>(L'0' + t);
                if (!(other == L"shared text") || copy.GetLength() != 12 || copy.GetLastChar() != L'0' + t)
                    ++wrong;
                CVkStringA narrow(sharedA);
                narrow.MakeUpper();
                CVkStringA empty; // every thread counts references on the shared empty buffer too
                empty = narrow;
                if (!(empty == "SHARED"))
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(shared == L"shared text");
    EXPECT_TRUE(sharedA == "shared");
}
