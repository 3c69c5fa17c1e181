#pragma once

// On Windows, and under Wine, a conformance test runs against the system itself, and makes what
// it needs with the system's own calls.

#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <string>

namespace OrvaneClient::Testing {

using ConformanceTest = ::testing::Test;

// An empty file at `path` (C:\...), unless one is there.
inline bool MakeFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(
        path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

// `name` another name of the file `existing` (kept from an earlier run).
inline bool MakeHardLink(const std::wstring& name, const std::wstring& existing) {
    return CreateHardLinkW(name.c_str(), existing.c_str(), nullptr) ||
           GetLastError() == ERROR_ALREADY_EXISTS;
}

// The key HKEY_LOCAL_MACHINE\`subKey`, made if missing.
inline bool MakeMachineKey(const std::wstring& subKey) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(
            HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

}  // namespace OrvaneClient::Testing
