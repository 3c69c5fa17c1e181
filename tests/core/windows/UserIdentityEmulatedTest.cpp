#include "core/windows/SessionTokens.h"
#include "core/windows/UserIdentity.h"
#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace OrvaneClient {
namespace {

using Line = std::pair<int, std::string>;
constexpr int Warning = Poco::Message::PRIO_WARNING;
constexpr DWORD ExplorerId = 2412;
const std::string PlayerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const std::string OtherSid = "S-1-5-21-2254011875-3712098642-1289462413-1002";

class UserIdentityTest : public Testing::EmulatedMachineTest {
protected:
    void SetUp() override {
        EmulatedMachineTest::SetUp();
        machine().setAccount({OtherSid, "Guest2", "GAMING-PC", false, false});
        machine().setSessionUser(2, OtherSid);
    }

    Win32Emu::ProcessEntry explorer() const {
        for (const Win32Emu::ProcessEntry& process : Win32Emu::Machine::instance().processes()) {
            if (process.processId == ExplorerId) {
                return process;
            }
        }
        ADD_FAILURE() << "no explorer.exe in the profile";
        return {};
    }

    std::vector<Line> lines() const {
        std::vector<Line> result;
        for (const Testing::CapturedLine& line : log.lines()) {
            result.emplace_back(line.priority, line.text);
        }
        return result;
    }

    // The console user's SID string, or "" when GetCurrentUserHivePath failed.
    std::string consoleUserSid() {
        std::string hivePath;
        if (!GetCurrentUserHivePath(hivePath)) {
            return std::string();
        }
        EXPECT_EQ(hivePath.rfind("HKEY_USERS\\", 0), 0u) << hivePath;
        return hivePath.substr(11);
    }

    std::string notFound(size_t examined) const {
        return "Failed getting token for process explorer.exe, checked processes: " +
               std::to_string(examined) + ".";
    }

    Testing::LogCapture log;
};

TEST_F(UserIdentityTest, HiveAndSettingsKeyOfTheConsoleUser) {
    std::string hivePath;
    ASSERT_TRUE(GetCurrentUserHivePath(hivePath));
    EXPECT_EQ(hivePath, "HKEY_USERS\\" + PlayerSid);
    std::string settingsKey;
    ASSERT_TRUE(GetCurrentUserSettingsKeyPath(settingsKey));
    EXPECT_EQ(settingsKey, "HKEY_USERS\\" + PlayerSid + "\\SOFTWARE\\Qovex\\Orvane");
    EXPECT_TRUE(lines().empty()) << log.dump();
}

struct WalkCase {
    const char* name;
    std::function<void(Win32Emu::Machine&, Win32Emu::ProcessEntry explorer)> arrange;
    std::string expectedSid;  // empty: none found
    std::vector<std::string> walkWarnings;
};

class ShellProcessWalkTest : public UserIdentityTest,
                             public ::testing::WithParamInterface<WalkCase> {};

TEST_P(ShellProcessWalkTest, FindsTheFirstExplorerOfTheConsoleSession) {
    GetParam().arrange(machine(), explorer());
    const size_t processCount = machine().processes().size();

    EXPECT_EQ(consoleUserSid(), GetParam().expectedSid);

    std::vector<Line> expected;
    for (const std::string& warning : GetParam().walkWarnings) {
        expected.emplace_back(Warning, warning);
    }
    if (GetParam().expectedSid.empty()) {
        expected.emplace_back(Warning, notFound(processCount));
        expected.emplace_back(Warning, "DuplicateTokenEx failed with error 6");
        expected.emplace_back(Warning, "GetCurrentUserSID() failed");
    }
    EXPECT_EQ(lines(), expected) << log.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    ShellProcessWalkTest,
    ::testing::Values(
        WalkCase{"ConsoleUser", [](auto&, auto) {}, PlayerSid, {}},
        WalkCase{"NoConsoleSessionWhileExplorerRunsElsewhere",
                 [](auto& machine, auto) { machine.setConsoleSession(0xFFFFFFFF); },
                 "",
                 {}},
        WalkCase{"ExplorerOnlyInAnotherSession",
                 [](auto& machine, auto entry) {
                     entry.sessionId = 2;
                     entry.userSid = OtherSid;
                     machine.setProcess(entry);
                 },
                 "",
                 {}},
        // Listed later but with a lower process id: snapshot order decides, not the id.
        WalkCase{"TwoExplorersTheFirstListedWins",
                 [](auto& machine, auto) {
                     machine.setProcess({100, "explorer.exe", 1, OtherSid});
                 },
                 PlayerSid,
                 {}},
        WalkCase{"SecondExplorerListedFirstWins",
                 [](auto& machine, auto entry) {
                     machine.removeProcess(ExplorerId);
                     machine.setProcess({5000, "explorer.exe", 1, OtherSid});
                     machine.setProcess(entry);
                 },
                 OtherSid,
                 {}},
        WalkCase{"NameInCapitals",
                 [](auto& machine, auto entry) {
                     entry.executableName = "EXPLORER.EXE";
                     machine.setProcess(entry);
                 },
                 PlayerSid,
                 {}},
        WalkCase{
            "NoExplorer", [](auto& machine, auto) { machine.removeProcess(ExplorerId); }, "", {}},
        WalkCase{"SessionQueryFails",
                 [](auto& machine, auto entry) {
                     entry.sessionIdError = ERROR_ACCESS_DENIED;
                     machine.setProcess(entry);
                 },
                 "",
                 {"ProcessIdToSessionId failed while getting process token from process "
                  "explorer.exe, error code= 5"}},
        WalkCase{"OpenProcessFails",
                 [](auto& machine, auto entry) {
                     entry.openProcessError = ERROR_ACCESS_DENIED;
                     machine.setProcess(entry);
                 },
                 "",
                 {"OpenProcess failed while getting process token from process explorer.exe, "
                  "error code= 5"}},
        WalkCase{"OpenProcessTokenFails",
                 [](auto& machine, auto entry) {
                     entry.openProcessTokenError = ERROR_ACCESS_DENIED;
                     machine.setProcess(entry);
                 },
                 "",
                 {"OpenProcessToken failed while getting process token from process "
                  "explorer.exe, error code= 5"}},
        // A process that cannot be opened is skipped: the next explorer.exe is taken.
        WalkCase{"UnopenableFirstExplorerIsSkipped",
                 [](auto& machine, auto entry) {
                     entry.openProcessError = ERROR_ACCESS_DENIED;
                     machine.setProcess(entry);
                     machine.setProcess({5000, "explorer.exe", 1, OtherSid});
                 },
                 OtherSid,
                 {"OpenProcess failed while getting process token from process explorer.exe, "
                  "error code= 5"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct TokenCallCase {
    const char* name;
    Win32Emu::Fault fault;
    std::vector<std::string> warnings;
};

class TokenCallFailureTest : public UserIdentityTest,
                             public ::testing::WithParamInterface<TokenCallCase> {};

TEST_P(TokenCallFailureTest, IsLoggedAndGivesNoHivePath) {
    machine().injectFault(GetParam().fault);
    EXPECT_EQ(consoleUserSid(), "");
    std::vector<Line> expected;
    for (const std::string& warning : GetParam().warnings) {
        expected.emplace_back(Warning, warning);
    }
    EXPECT_EQ(lines(), expected) << log.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    TokenCallFailureTest,
    ::testing::Values(
        TokenCallCase{"DuplicateTokenEx",
                      Win32Emu::Fault("DuplicateTokenEx", ERROR_NOT_ENOUGH_MEMORY),
                      {"DuplicateTokenEx failed with error 8", "GetCurrentUserSID() failed"}},
        TokenCallCase{"TokenUserRead",
                      Win32Emu::Fault("GetTokenInformation", ERROR_ACCESS_DENIED).onOccurrence(2),
                      {"GetTokenInformation failed with error 5", "GetCurrentUserSID() failed"}},
        // A size probe that fails for another reason tells no size: the read is then too small.
        TokenCallCase{"SizeProbeFailsOtherwise",
                      Win32Emu::Fault("GetTokenInformation", ERROR_ACCESS_DENIED),
                      {"GetTokenInformation failed with error 122", "GetCurrentUserSID() failed"}},
        TokenCallCase{"SidString",
                      Win32Emu::Fault("ConvertSidToStringSidA", ERROR_NOT_ENOUGH_MEMORY),
                      {"ConvertSidToStringSidA failed with error 8"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserIdentityTest, AccountOfATokenAndItsFailures) {
    HANDLE token = nullptr;
    ASSERT_TRUE(WTSQueryUserToken(1, &token));
    struct Case {
        const char* name;
        std::optional<Win32Emu::Fault> fault;
        std::string expectedWarning;  // empty: found
    };
    const Case cases[] = {
        {"Found", std::nullopt, ""},
        {"Lookup",
         Win32Emu::Fault("LookupAccountSidA", ERROR_NONE_MAPPED),
         "LookupAccountSid failed: 1332"},
        {"Read",
         Win32Emu::Fault("GetTokenInformation", ERROR_ACCESS_DENIED).onOccurrence(2),
         "GetTokenInformation failed: 5"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        log.clear();
        if (testCase.fault) {
            machine().injectFault(*testCase.fault);
        }
        std::string name;
        std::string domain;
        const bool found = GetTokenAccountName(token, name, domain);
        EXPECT_EQ(found, testCase.expectedWarning.empty());
        if (found) {
            EXPECT_EQ(name, "Player");
            EXPECT_EQ(domain, "GAMING-PC");
            EXPECT_TRUE(lines().empty()) << log.dump();
        } else {
            EXPECT_EQ(lines(), (std::vector<Line>{{Warning, testCase.expectedWarning}}));
        }
    }
    EXPECT_TRUE(CloseHandle(token));
}

TEST_F(UserIdentityTest, VistaOrLaterByMajorVersion) {
    for (const DWORD major : {5u, 6u, 10u}) {
        Win32Emu::VersionInfo version = machine().version();
        version.majorVersion = major;
        machine().setVersion(version);
        EXPECT_EQ(IsVistaOrLater(), major >= 6) << major;
    }
    machine().failNext("GetVersionExA", ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(IsVistaOrLater());
}

}  // namespace
}  // namespace OrvaneClient
