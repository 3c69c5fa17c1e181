#pragma once

// Where Wine is known to answer a call otherwise than Windows. The checks expect Windows'
// answer; under Wine its known different answer is reported instead of failing (as Wine's own
// tests mark theirs todo_wine), so that any other difference still fails. On the emulated
// machine and on Windows only Windows' answer passes.

#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <iostream>

namespace OrvaneClient::Testing {

// True in a process that Wine runs: its ntdll exports wine_get_version.
inline bool RunningUnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

// `actual` is Windows' answer `windows`, or under Wine the answer `wine` it gives instead.
template <typename Value>
::testing::AssertionResult WindowsAnswer(const Value& actual,
                                         const Value& windows,
                                         const Value& wine,
                                         const char* difference) {
    if (actual == windows) {
        return ::testing::AssertionSuccess();
    }
    if (RunningUnderWine() && actual == wine) {
        std::cout << "[ WINE     ] "
                  << ::testing::UnitTest::GetInstance()->current_test_info()->name() << ": "
                  << difference << std::endl;
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got " << actual << " where Windows gives " << windows;
}

}  // namespace OrvaneClient::Testing
