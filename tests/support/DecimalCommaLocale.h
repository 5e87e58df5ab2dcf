#pragma once

// Switches LC_NUMERIC to an installed locale with a decimal comma while it lives, so that tests can
// show that number text does not follow the process locale.

#include <clocale>
#include <string>

namespace ZanTest {

class DecimalCommaLocale {
public:
    DecimalCommaLocale() {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        saved_ = current ? current : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"})
            if (std::setlocale(LC_NUMERIC, name)) {
                active_ = true;
                break;
            }
    }
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;
    ~DecimalCommaLocale() { restore(); }

    // False when no such locale is installed (then nothing was changed).
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
