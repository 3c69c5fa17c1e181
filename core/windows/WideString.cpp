#include "core/windows/WideString.h"

#include <Poco/UnicodeConverter.h>

namespace OrvaneClient {

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring wide;
    Poco::UnicodeConverter::convert(text, wide);
    return wide;
}

std::string WideToUtf8(const std::wstring& text) {
    std::string narrow;
    Poco::UnicodeConverter::convert(text, narrow);
    return narrow;
}

}  // namespace OrvaneClient
