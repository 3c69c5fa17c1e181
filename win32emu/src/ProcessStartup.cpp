// Process start-up of the emulated Windows.

#include <clocale>

namespace {

// Windows formats %ls from UTF-16 whatever the locale; glibc's vsnprintf converts wide text
// through the character type of the locale and fails on non-ASCII text under "C". A UTF-8
// character type gives the Windows behaviour: wide text renders as UTF-8.
struct Utf8CharacterType {
    Utf8CharacterType() {
        if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
            std::setlocale(LC_CTYPE, "en_US.UTF-8");
        }
    }
};

const Utf8CharacterType utf8CharacterType;

}  // namespace
