#pragma once

// UTF-8 <-> wide text for the Win32 calls. Wide text is UTF-16 on Windows and UTF-32 where
// wchar_t is 32 bits; Poco::UnicodeConverter picks the right form from the string type.

#include <string>
#include <vector>

namespace OrvaneClient {

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// A zero-terminated copy that a call may write into (CreateProcessAsUserW's command line, the
// object name of SetNamedSecurityInfoW).
std::vector<wchar_t> WritableWide(const std::wstring& text);

}  // namespace OrvaneClient
