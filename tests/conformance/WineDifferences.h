#pragma once

// Where Wine is known to answer a call otherwise than Windows. The checks expect Windows'
// answer; under Wine its known different answer is reported instead of failing (as Wine's own
// tests mark theirs todo_wine), so that any other difference still fails, and so does Windows'
// answer from Wine: the mark has gone stale and must go. On the emulated machine and on Windows
// only Windows' answer passes.

#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <iostream>

namespace OrvaneClient::Testing {

// True in a process that Wine runs: its ntdll exports wine_get_version. Leaves the last error
// alone, so that a check may ask before it reads the error of the call it checks.
inline bool RunningUnderWine() {
    static const bool wine = [] {
        const DWORD lastError = GetLastError();
        const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        const bool exported =
            ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
        SetLastError(lastError);
        return exported;
    }();
    return wine;
}

// `actual` is Windows' answer `windows`, or under Wine the answer `wine` it gives instead. Where
// the two are the same no difference is marked and only that answer passes.
template <typename Value>
::testing::AssertionResult WindowsAnswer(const Value& actual,
                                         const Value& windows,
                                         const Value& wine,
                                         const char* difference) {
    const ::testing::TestInfo* const check =
        ::testing::UnitTest::GetInstance()->current_test_info();
    if (RunningUnderWine() && !(windows == wine)) {
        if (actual == wine) {
            // The check goes on to read the last error: the output must not change it.
            const DWORD lastError = GetLastError();
            std::cout << "[ WINE     ] " << check->name() << ": " << difference << std::endl;
            SetLastError(lastError);
            return ::testing::AssertionSuccess();
        }
        if (actual == windows) {
            return ::testing::AssertionFailure()
                   << check->test_suite_name() << "." << check->name()
                   << ": Wine now answers as Windows does (" << actual
                   << "); drop the difference \"" << difference << "\"";
        }
    } else if (actual == windows) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got " << actual << " where Windows gives " << windows;
}

}  // namespace OrvaneClient::Testing
