// Poco::Util::WinRegistryKey over the emulated registry: the outcomes and exceptions that code
// written against POCO on Windows relies on.

#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Exception.h>
#include <Poco/Util/WinRegistryKey.h>
#include <gtest/gtest.h>

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
}

TEST_F(WinRegistryKeyTest, MissingKeysAndValuesAreNotFound) {
    WinRegistryKey missingKey(clientKey + "\\nothing", true);
    EXPECT_FALSE(missingKey.exists());
    EXPECT_FALSE(missingKey.exists("value"));
    EXPECT_THROW(missingKey.getString("value"), Poco::NotFoundException);

    WinRegistryKey client(clientKey, true);
    EXPECT_FALSE(client.exists("loggerLevel"));
    EXPECT_THROW(client.getInt("loggerLevel"), Poco::NotFoundException);
}

TEST_F(WinRegistryKeyTest, ValueOfAnotherTypeIsNotFound) {
    machine().setRegistryDword(clientKey, "number", 3);
    machine().setRegistryString(clientKey, "text", "3");
    machine().setRegistryString(clientKey, "big", "a string longer than four bytes");
    WinRegistryKey client(clientKey, true);
    EXPECT_THROW(client.getString("number"), Poco::NotFoundException);
    EXPECT_THROW(client.getInt("text"), Poco::NotFoundException);
    EXPECT_THROW(client.getInt("big"), Poco::NotFoundException);
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

TEST_F(WinRegistryKeyTest, ExpandableStringsAreReadAsStored) {
    machine().setRegistryString(userKey, "refreshToken", "%TEMP%\\t", REG_EXPAND_SZ);
    WinRegistryKey key(userKey, true);
    EXPECT_EQ("%TEMP%\\t", key.getString("refreshToken"));
}

TEST_F(WinRegistryKeyTest, WritableKeysAreRefusedAndCreateNothing) {
    WinRegistryKey key(clientKey + "\\new");
    EXPECT_THROW(key.getString("name"), Poco::NotImplementedException);
    EXPECT_FALSE(machine().registryKeyExists(clientKey + "\\new"));
}

TEST_F(WinRegistryKeyTest, SubKeysAreListed) {
    machine().createRegistryKey(clientKey + "\\tree\\b\\deep");
    machine().createRegistryKey(clientKey + "\\tree\\a");
    WinRegistryKey tree(clientKey + "\\tree", true);
    WinRegistryKey::Keys names;
    tree.subKeys(names);
    EXPECT_EQ((WinRegistryKey::Keys{"a", "b"}), names);
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
