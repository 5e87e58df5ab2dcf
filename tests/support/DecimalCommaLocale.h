#pragma once

// Switches LC_NUMERIC to a locale that writes a decimal comma while it lives, when one is installed.

#include <clocale>
#include <string>

namespace ZanTest {

class DecimalCommaLocale {
public:
    DecimalCommaLocale()
        : saved_(std::setlocale(LC_NUMERIC, nullptr) ? std::setlocale(LC_NUMERIC, nullptr) : "C") {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"})
            if (std::setlocale(LC_NUMERIC, name)) {
                active_ = true;
                break;
            }
    }
    ~DecimalCommaLocale() { restore(); }
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

    bool active() const { return active_; }
    void restore() {
        if (active_)
            std::setlocale(LC_NUMERIC, saved_.c_str());
        active_ = false;
    }

private:
    std::string saved_;
    bool active_ = false;
};

} // namespace ZanTest
