// Poco::Util::WinRegistryKey over the emulated registry: the outcomes and exceptions that code
// written against POCO on Windows relies on.

#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Exception.h>
#include <Poco/Util/WinRegistryKey.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;
using Poco::Util::WinRegistryKey;

const std::string clientKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient";
const std::string userKey =
    "HKEY_USERS\\S-1-5-21-2254011875-3712098642-1289462413-1001\\SOFTWARE\\Qovex\\Orvane";

class WinRegistryKeyTest : public EmulatedMachineTest {};

TEST_F(WinRegistryKeyTest, ReadsTheRefreshTokenOfTheBuiltInProfile) {
    WinRegistryKey key(userKey, true);
    ASSERT_TRUE(key.exists());
    ASSERT_TRUE(key.exists("refreshToken"));
    EXPECT_EQ("rt1.Zk3pQ8vN2wLx7Ty5Rb0Hc4Md6Fs9Ja1Ge", key.getString("refreshToken"));
    EXPECT_EQ(WinRegistryKey::REGT_STRING, key.type("refreshToken"));
}

TEST_F(WinRegistryKeyTest, MissingKeysAndValuesAreNotFound) {
    WinRegistryKey missingKey(clientKey + "\\nothing", true);
    EXPECT_FALSE(missingKey.exists());
    EXPECT_FALSE(missingKey.exists("value"));
    EXPECT_THROW(missingKey.getString("value"), Poco::NotFoundException);

    WinRegistryKey client(clientKey, true);
    EXPECT_FALSE(client.exists("loggerLevel"));
    EXPECT_THROW(client.getInt("loggerLevel"), Poco::NotFoundException);
    EXPECT_THROW(client.type("loggerLevel"), Poco::NotFoundException);
    EXPECT_THROW(client.deleteValue("loggerLevel"), Poco::NotFoundException);
}

TEST_F(WinRegistryKeyTest, ValueOfAnotherTypeIsNotFound) {
    machine().setRegistryDword(clientKey, "number", 3);
    machine().setRegistryString(clientKey, "text", "3");
    machine().setRegistryString(clientKey, "big", "a string longer than four bytes");
    WinRegistryKey client(clientKey, true);
    EXPECT_THROW(client.getString("number"), Poco::NotFoundException);
    EXPECT_THROW(client.getStringExpand("number"), Poco::NotFoundException);
    EXPECT_THROW(client.getInt("text"), Poco::NotFoundException);
    EXPECT_THROW(client.getInt("big"), Poco::NotFoundException);
    EXPECT_THROW(client.getBinary("text"), Poco::NotFoundException);
    EXPECT_EQ(3, client.getInt("number"));
    EXPECT_TRUE(client.exists("number"));
}

TEST_F(WinRegistryKeyTest, StringsEndAtTheirFirstZeroAndMayBeEmpty) {
    machine().setRegistryString(userKey, "refreshToken", std::string("abc\0def", 7));
    machine().setRegistryString(userKey, "empty", "");
    WinRegistryKey key(userKey, true);
    EXPECT_EQ("abc", key.getString("refreshToken"));
    EXPECT_EQ("", key.getString("empty"));
}

TEST_F(WinRegistryKeyTest, ExpandableStringsAreReadRawOrExpanded) {
    ::setenv("ORVANE_TEST_PROFILE_DIR", "C:\\Users\\Player", 1);
    machine().setRegistryString(
        userKey, "refreshToken", "%ORVANE_TEST_PROFILE_DIR%\\t %MISSING_VAR%", REG_EXPAND_SZ);
    WinRegistryKey key(userKey, true);
    EXPECT_EQ(WinRegistryKey::REGT_STRING_EXPAND, key.type("refreshToken"));
    EXPECT_EQ("%ORVANE_TEST_PROFILE_DIR%\\t %MISSING_VAR%", key.getString("refreshToken"));
    EXPECT_EQ("C:\\Users\\Player\\t %MISSING_VAR%", key.getStringExpand("refreshToken"));
    ::unsetenv("ORVANE_TEST_PROFILE_DIR");
}

TEST_F(WinRegistryKeyTest, WritesCreateTheKeyAndTheTypedValues) {
    {
        WinRegistryKey key(clientKey + "\\loggingChannels", false);
        key.setInt("network", 1);
        key.setInt("negative", -5);
        key.setString("name", "Orvane ✓");
        key.setStringExpand("path", "%TEMP%\\x");
        key.setBinary("blob", {'\x01', '\x00', '\x7f'});
        key.setInt64("big", 0x123456789LL);
        EXPECT_EQ(-5, key.getInt("negative"));
        EXPECT_EQ(0x123456789LL, key.getInt64("big"));
        EXPECT_EQ((std::vector<char>{'\x01', '\x00', '\x7f'}), key.getBinary("blob"));
        EXPECT_EQ(WinRegistryKey::REGT_BINARY, key.type("blob"));
        WinRegistryKey::Values names;
        key.values(names);
        EXPECT_EQ((WinRegistryKey::Values{"network", "negative", "name", "path", "blob", "big"}),
                  names);
    }
    EXPECT_EQ(1u, machine().registryDword(clientKey + "\\loggingChannels", "network"));
    EXPECT_EQ("Orvane ✓", machine().registryString(clientKey + "\\loggingChannels", "name"));
}

TEST_F(WinRegistryKeyTest, ReadOnlyKeyRefusesWrites) {
    WinRegistryKey key(clientKey, true);
    EXPECT_TRUE(key.isReadOnly());
    EXPECT_THROW(key.setString("name", "value"), Poco::SystemException);
    EXPECT_THROW(key.setInt("loggerLevel", 3), Poco::SystemException);
    EXPECT_FALSE(machine().registryDword(clientKey, "loggerLevel").has_value());
    // A read-only key that does not exist is not created.
    WinRegistryKey missing(clientKey + "\\new", true);
    EXPECT_THROW(missing.setString("name", "value"), Poco::NotFoundException);
    EXPECT_FALSE(machine().registryKeyExists(clientKey + "\\new"));
}

TEST_F(WinRegistryKeyTest, SubKeysAndRecursiveDelete) {
    machine().createRegistryKey(clientKey + "\\tree\\b\\deep");
    machine().createRegistryKey(clientKey + "\\tree\\a");
    machine().setRegistryDword(clientKey + "\\tree\\b\\deep", "v", 1);
    {
        WinRegistryKey tree(clientKey + "\\tree");
        WinRegistryKey::Keys names;
        tree.subKeys(names);
        EXPECT_EQ((WinRegistryKey::Keys{"a", "b"}), names);
        tree.deleteKey();
    }
    EXPECT_FALSE(machine().registryKeyExists(clientKey + "\\tree"));
    EXPECT_TRUE(machine().registryKeyExists(clientKey));
    WinRegistryKey gone(clientKey + "\\tree", true);
    EXPECT_THROW(gone.deleteKey(), Poco::NotFoundException);
}

TEST_F(WinRegistryKeyTest, ExtraAccessSelectsTheRegistryView) {
    // The 32-bit service asks for the 64-bit view: the built-in keys live in the 32-bit one.
    WinRegistryKey view64(clientKey, true, KEY_WOW64_64KEY);
    EXPECT_FALSE(view64.exists());
    WinRegistryKey view32(clientKey, true, KEY_WOW64_32KEY);
    EXPECT_TRUE(view32.exists());
}

TEST_F(WinRegistryKeyTest, KeyNamesNeedAKnownRoot) {
    EXPECT_THROW(WinRegistryKey("HKLM\\SOFTWARE"), Poco::InvalidArgumentException);
    EXPECT_THROW(WinRegistryKey("HKEY_LOCAL_MACHINE"), Poco::InvalidArgumentException);
    WinRegistryKey currentUser("HKEY_CURRENT_USER\\Software", true);
    EXPECT_FALSE(currentUser.exists());
}

TEST_F(WinRegistryKeyTest, NotFoundMessageNamesTheKeyAndValue) {
    WinRegistryKey client(clientKey, true);
    try {
        client.getString("refreshToken");
        FAIL() << "no exception";
    } catch (const Poco::NotFoundException& error) {
        EXPECT_EQ(clientKey + "\\refreshToken", error.message());
    }
}

TEST_F(WinRegistryKeyTest, InjectedOpenFailureSurfacesAsNotFound) {
    machine().failNext("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    WinRegistryKey key(userKey, true);
    EXPECT_THROW(key.getString("refreshToken"), Poco::NotFoundException);
    EXPECT_EQ("rt1.Zk3pQ8vN2wLx7Ty5Rb0Hc4Md6Fs9Ja1Ge", key.getString("refreshToken"));
}

}  // namespace
