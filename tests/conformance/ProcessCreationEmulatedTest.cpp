// CreateProcessAsUserW refuses what the emulated machine does not model, rather than record it
// and start the process as if it had been done. Emulated only: Windows starts all of these.

#include "ConformanceFixture.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using OrvaneClient::Testing::ConformanceTest;

constexpr DWORD UseShowWindow = 0x00000001;  // STARTF_USESHOWWINDOW

class ProcessCreationEmulatedTest : public ConformanceTest {
protected:
    void SetUp() override {
        ConformanceTest::SetUp();
        HANDLE session = nullptr;
        ASSERT_TRUE(WTSQueryUserToken(1, &session));
        ASSERT_TRUE(DuplicateTokenEx(session,
                                     TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY,
                                     nullptr,
                                     SecurityImpersonation,
                                     TokenPrimary,
                                     &token));
        CloseHandle(session);
    }
    void TearDown() override {
        CloseHandle(token);
        ConformanceTest::TearDown();
    }

    HANDLE token = nullptr;
};

TEST_F(ProcessCreationEmulatedTest, WhatIsNotModelledIsRefused) {
    struct Launch {
        BOOL inherit = FALSE;
        DWORD flags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS;
        std::wstring desktop = L"WinSta0\\Default";
        bool noDesktop = false;
        STARTUPINFOW startup = {};
    };
    const struct {
        const char* what;
        std::function<void(Launch&)> change;
        DWORD error;  // 0: starts
    } cases[] = {
        {"as the service launches", [](Launch&) {}, 0},
        {"desktop in another case", [](Launch& l) { l.desktop = L"winsta0\\default"; }, 0},
        {"suspended", [](Launch& l) { l.flags |= CREATE_SUSPENDED; }, ERROR_CALL_NOT_IMPLEMENTED},
        {"new console",
         [](Launch& l) { l.flags |= CREATE_NEW_CONSOLE; },
         ERROR_CALL_NOT_IMPLEMENTED},
        {"high priority",
         [](Launch& l) { l.flags = CREATE_UNICODE_ENVIRONMENT | HIGH_PRIORITY_CLASS; },
         ERROR_CALL_NOT_IMPLEMENTED},
        {"handles inherited", [](Launch& l) { l.inherit = TRUE; }, ERROR_CALL_NOT_IMPLEMENTED},
        {"no desktop", [](Launch& l) { l.noDesktop = true; }, ERROR_CALL_NOT_IMPLEMENTED},
        {"another desktop",
         [](Launch& l) { l.desktop = L"WinSta0\\Winlogon"; },
         ERROR_CALL_NOT_IMPLEMENTED},
        {"window shown as asked",
         [](Launch& l) { l.startup.dwFlags = UseShowWindow; },
         ERROR_CALL_NOT_IMPLEMENTED},
        {"a title",
         [](Launch& l) { l.startup.lpTitle = &l.desktop[0]; },
         ERROR_CALL_NOT_IMPLEMENTED},
        {"a larger structure", [](Launch& l) { l.startup.cb += 8; }, ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        Launch launch;
        launch.startup.cb = sizeof(STARTUPINFOW);
        entry.change(launch);
        launch.startup.lpDesktop = launch.noDesktop ? nullptr : &launch.desktop[0];
        std::wstring commandLine = L"notepad.exe";
        PROCESS_INFORMATION information = {};
        const size_t launchesBefore = machine().launches().size();
        SetLastError(0xdeadbeef);
        const BOOL started = CreateProcessAsUserW(token,
                                                  L"C:\\Windows\\notepad.exe",
                                                  &commandLine[0],
                                                  nullptr,
                                                  nullptr,
                                                  launch.inherit,
                                                  launch.flags,
                                                  nullptr,
                                                  nullptr,
                                                  &launch.startup,
                                                  &information);
        EXPECT_EQ(entry.error == 0, started != FALSE);
        EXPECT_EQ(entry.error == 0 ? 0xdeadbeefu : entry.error, GetLastError());
        EXPECT_EQ(launchesBefore + (started ? 1 : 0), machine().launches().size());
        if (started) {
            CloseHandle(information.hThread);
            CloseHandle(information.hProcess);
        }
    }
}

}  // namespace
