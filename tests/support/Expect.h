#pragma once

// Assertions on the exact type and message of an exception.

#include <gtest/gtest.h>

#include <string>

#define ZAN_EXPECT_THROW_MSG(statement, exception_type, message)                                             \
    do {                                                                                                     \
        try {                                                                                                \
            statement;                                                                                       \
            ADD_FAILURE() << "expected " #exception_type " \"" << (message) << "\", nothing was thrown";     \
        } catch (const exception_type& e) {                                                                  \
            EXPECT_EQ(std::string(e.what()), std::string(message));                                          \
        } catch (const std::exception& e) {                                                                  \
            ADD_FAILURE() << "expected " #exception_type ", got another exception: " << e.what();            \
        }                                                                                                    \
    } while (false)

namespace ZanTest {

// The message of the Exception that f throws, or "no error" when it throws none (other exceptions pass on),
// for checks that compare messages in a table.
template <typename Exception, typename F>
std::string messageOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "no error";
}

} // namespace ZanTest
