// The service's view of the console user: its tokens for launching and for permissions, and the
// refresh token in its hive.

#include "core/windows/ScopedHandle.h"
#include "service/operations/PrivilegedOperations.h"
#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace OrvaneClient {
namespace {

using Line = std::pair<int, std::string>;
constexpr int Error = Poco::Message::PRIO_ERROR;
constexpr int Warning = Poco::Message::PRIO_WARNING;
constexpr int Information = Poco::Message::PRIO_INFORMATION;
const std::string PlayerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const std::string SettingsKey = "HKEY_USERS\\" + PlayerSid + "\\SOFTWARE\\Qovex\\Orvane";

class ConsoleUserTest : public Testing::EmulatedMachineTest {
protected:
    std::vector<Line> lines() const {
        std::vector<Line> result;
        for (const Testing::CapturedLine& line : log.lines()) {
            result.emplace_back(line.priority, line.text);
        }
        return result;
    }

public:
    void makeStandardUser() {
        Win32Emu::Account player = *machine().account(PlayerSid);
        player.administrator = false;
        player.linkedToken = false;
        machine().setAccount(player);
    }

protected:
    PrivilegedOperations operations;
    ConsoleUserTokens tokens;
    Testing::LogCapture log;
};

TEST_F(ConsoleUserTest, ConsoleUserTokenOrTheReasonThereIsNone) {
    HANDLE token = nullptr;
    ASSERT_TRUE(tokens.queryConsoleUserToken(&token));
    const ScopedHandle owner(token);
    const auto info = machine().tokenInfo(token);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->userSid, PlayerSid);
    EXPECT_EQ(info->sessionId, 1u);
    EXPECT_EQ(info->type, TokenPrimary);
    EXPECT_EQ(info->elevation, TokenElevationTypeLimited);
    EXPECT_TRUE(lines().empty()) << log.dump();

    machine().setSessionUser(1, "");
    HANDLE none = nullptr;
    EXPECT_FALSE(tokens.queryConsoleUserToken(&none));
    EXPECT_EQ(lines(),
              (std::vector<Line>{{Error, "Couldnt get query user token, error code 1008"}}));
}

struct LaunchTokenCase {
    const char* name;
    bool elevated;
    std::function<void(Win32Emu::Machine&, ConsoleUserTest&)> arrange;
    std::optional<TOKEN_ELEVATION_TYPE> expected;  // none: no launch token
    std::vector<Line> lines;
};

class LaunchTokenTest : public ConsoleUserTest,
                        public ::testing::WithParamInterface<LaunchTokenCase> {};

TEST_P(LaunchTokenTest, IsTheFullTokenOnlyWhereThereIsOne) {
    GetParam().arrange(machine(), *this);
    HANDLE userToken = nullptr;
    ASSERT_TRUE(tokens.queryConsoleUserToken(&userToken));
    const ScopedHandle userOwner(userToken);

    HANDLE launchToken = nullptr;
    const bool made = tokens.getLaunchToken(userToken, GetParam().elevated, &launchToken);
    const ScopedHandle launchOwner(launchToken);

    EXPECT_EQ(made, GetParam().expected.has_value());
    if (made) {
        const auto info = machine().tokenInfo(launchToken);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->elevation, *GetParam().expected);
        EXPECT_EQ(info->userSid, PlayerSid);
        EXPECT_EQ(info->type, TokenPrimary);
        EXPECT_EQ(info->impersonationLevel, SecurityImpersonation);
        EXPECT_EQ(info->access,
                  static_cast<ACCESS_MASK>(TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY));
    }
    EXPECT_EQ(lines(), GetParam().lines) << log.dump();
}

void SetMajorVersion(Win32Emu::Machine& machine, DWORD major) {
    Win32Emu::VersionInfo version = machine.version();
    version.majorVersion = major;
    machine.setVersion(version);
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    LaunchTokenTest,
    ::testing::Values(
        LaunchTokenCase{"Elevated", true, [](auto&, auto&) {}, TokenElevationTypeFull, {}},
        LaunchTokenCase{"NotElevated", false, [](auto&, auto&) {}, TokenElevationTypeLimited, {}},
        LaunchTokenCase{"ElevatedForAStandardUser",
                        true,
                        [](auto&, auto& test) { test.makeStandardUser(); },
                        TokenElevationTypeDefault,
                        {}},
        LaunchTokenCase{
            "ElevatedOnVersion5",
            true,
            [](auto& machine, auto&) { SetMajorVersion(machine, 5); },
            TokenElevationTypeLimited,
            {{Warning,
              "Couldn't get TokenLinkedToken from user token (os == Windows XP), error code 87"}}},
        LaunchTokenCase{"InvalidParameterOnVersion6",
                        true,
                        [](auto& machine, auto&) {
                            machine.injectFault(
                                Win32Emu::Fault("GetTokenInformation", ERROR_INVALID_PARAMETER));
                        },
                        std::nullopt,
                        {{Error, "Couldn't get TokenLinkedToken from user token, error code 87"}}},
        LaunchTokenCase{"LinkedTokenOtherError",
                        true,
                        [](auto& machine, auto&) {
                            machine.injectFault(
                                Win32Emu::Fault("GetTokenInformation", ERROR_ACCESS_DENIED));
                        },
                        std::nullopt,
                        {{Error, "Couldn't get TokenLinkedToken from user token, error code 5"}}},
        LaunchTokenCase{"DuplicationFailsElevated",
                        true,
                        [](auto& machine, auto&) {
                            machine.injectFault(
                                Win32Emu::Fault("DuplicateTokenEx", ERROR_NOT_ENOUGH_MEMORY));
                        },
                        std::nullopt,
                        {{Error, "Couldn't duplicate linked token, error code 8"}}},
        LaunchTokenCase{"DuplicationFailsNotElevated",
                        false,
                        [](auto& machine, auto&) {
                            machine.injectFault(
                                Win32Emu::Fault("DuplicateTokenEx", ERROR_NOT_ENOUGH_MEMORY));
                        },
                        std::nullopt,
                        {{Error, "Couldn't duplicate linked token, error code 8"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConsoleUserTest, ShellTokenIsAnIdentificationPrimaryTokenOfTheConsoleUser) {
    const ScopedHandle token(tokens.getShellUserToken());
    ASSERT_TRUE(token.isValid());
    const auto info = machine().tokenInfo(token.get());
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->userSid, PlayerSid);
    EXPECT_EQ(info->type, TokenPrimary);
    EXPECT_EQ(info->impersonationLevel, SecurityIdentification);
    EXPECT_TRUE(lines().empty()) << log.dump();
}

TEST_F(ConsoleUserTest, NoShellTokenWithoutAConsoleSessionEvenIfExplorerRunsElsewhere) {
    machine().setConsoleSession(0xFFFFFFFF);
    EXPECT_EQ(tokens.findConsoleProcessToken("explorer.exe"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(tokens.getShellUserToken(), nullptr);
    const Line rdp{Warning,
                   "Could not obtain active console session ID, probably running via RDP."};
    EXPECT_EQ(lines(), (std::vector<Line>{rdp, rdp})) << log.dump();
}

struct RefreshTokenCase {
    const char* name;
    std::function<void(Win32Emu::Machine&)> arrange;
    std::optional<std::string> token;  // none: not found
    std::vector<Line> lines;
};

class RefreshTokenTest : public ConsoleUserTest,
                         public ::testing::WithParamInterface<RefreshTokenCase> {};

TEST_P(RefreshTokenTest, ComesFromTheConsoleUsersOwnKeyOnly) {
    machine().deleteRegistryKey(SettingsKey);
    machine().createRegistryKey(SettingsKey);
    GetParam().arrange(machine());

    std::string token = "untouched";
    const bool found = operations.getRefreshToken(token);
    EXPECT_EQ(found, GetParam().token.has_value());
    EXPECT_EQ(token, GetParam().token.value_or("untouched"));
    EXPECT_EQ(lines(), GetParam().lines) << log.dump();
}

const Line NotFoundLine{Information, "No refresh token found in key " + SettingsKey};
const std::string NotFoundMessage =
    "Exception during fetching refresh token: " + SettingsKey + "\\refreshToken";

INSTANTIATE_TEST_SUITE_P(
    Cases,
    RefreshTokenTest,
    ::testing::Values(
        // A credential: the line says how long it is, never what it is.
        RefreshTokenCase{"Stored",
                         [](auto& machine) {
                             machine.setRegistryString(SettingsKey, "refreshToken", "canary-42");
                         },
                         "canary-42",
                         {{Information, "Found refresh token [redacted, 9 characters]"}}},
        RefreshTokenCase{"NonAsciiIsCountedInCharacters",
                         [](auto& machine) {
                             machine.setRegistryString(SettingsKey, "refreshToken", "t\xC3\xA9st");
                         },
                         "t\xC3\xA9st",
                         {{Information, "Found refresh token [redacted, 4 characters]"}}},
        RefreshTokenCase{
            "Empty",
            [](auto& machine) { machine.setRegistryString(SettingsKey, "refreshToken", ""); },
            "",
            {{Information, "Found refresh token "}}},
        RefreshTokenCase{"EmbeddedZero",
                         [](auto& machine) {
                             machine.setRegistryString(
                                 SettingsKey, "refreshToken", std::string("abc\0def", 7));
                         },
                         "abc",
                         {{Information, "Found refresh token [redacted, 3 characters]"}}},
        RefreshTokenCase{"ExpandableIsNotExpanded",
                         [](auto& machine) {
                             machine.setRegistryString(
                                 SettingsKey, "refreshToken", "%USERPROFILE%\\t", REG_EXPAND_SZ);
                         },
                         "%USERPROFILE%\\t",
                         {{Information, "Found refresh token [redacted, 15 characters]"}}},
        RefreshTokenCase{
            "Dword",
            [](auto& machine) { machine.setRegistryDword(SettingsKey, "refreshToken", 7); },
            std::nullopt,
            {{Warning, NotFoundMessage}, NotFoundLine}},
        RefreshTokenCase{"NoValue", [](auto&) {}, std::nullopt, {NotFoundLine}},
        RefreshTokenCase{"NoKey",
                         [](auto& machine) { machine.deleteRegistryKey(SettingsKey); },
                         std::nullopt,
                         {NotFoundLine}},
        RefreshTokenCase{"OnlyAnotherUserHasOne",
                         [](auto& machine) {
                             machine.setRegistryString(
                                 "HKEY_USERS\\S-1-5-21-1-2-3-1002\\SOFTWARE\\"
                                 "Qovex\\Orvane",
                                 "refreshToken",
                                 "not-yours");
                         },
                         std::nullopt,
                         {NotFoundLine}},
        RefreshTokenCase{
            "NobodyAtTheConsole",
            [](auto& machine) { machine.removeProcess(2412); },
            std::nullopt,
            {{Warning, "Failed getting token for process explorer.exe, checked processes: 6."},
             {Warning, "DuplicateTokenEx failed with error 6"},
             {Warning, "GetCurrentUserSID() failed"}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace OrvaneClient
