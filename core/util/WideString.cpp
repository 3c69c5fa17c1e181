#include "core/util/WideString.h"

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

std::vector<wchar_t> WritableWide(const std::wstring& text) {
    std::vector<wchar_t> buffer(text.begin(), text.end());
    buffer.push_back(L'\0');
    return buffer;
}

}  // namespace OrvaneClient
