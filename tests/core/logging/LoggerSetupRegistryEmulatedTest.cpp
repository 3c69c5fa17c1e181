#include "core/logfacade/LogFacade.h"
#include "core/util/Constants.h"
#include "tests/core/logging/LoggerSetupFixture.h"

#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <Poco/Util/WinRegistryKey.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

const std::string ChannelsKey = ClientRegistryKey + "\\loggingChannels";

std::string NotANumber(const std::string& name, const std::string& key) {
    return "Ignoring registry value " + name + " of " + key + ": not a 32-bit number";
}

// Every test starts from a client key without logging settings.
class LoggerSetupRegistryTest : public Testing::LoggerSetupFixture {
protected:
    void SetUp() override {
        LoggerSetupFixture::SetUp();
        machine().deleteRegistryKey(ClientRegistryKey);
        machine().createRegistryKey(ClientRegistryKey);
    }

    static std::vector<std::string> enabledNames() {
        std::vector<std::string> names;
        for (const LoggingChannelEntry& entry : GetLoggingState().enabledChannels) {
            names.push_back(entry.enabled ? entry.name : "(disabled) " + entry.name);
        }
        return names;
    }
};

TEST_F(LoggerSetupRegistryTest, LoggerLevelSetsTheRootLevelClampedToOneToSeven) {
    const struct {
        std::optional<DWORD> loggerLevel;
        int rootLevel;
    } cases[] = {{std::nullopt, 6}, {0u, 1}, {3u, 3}, {100u, 7}, {0xFFFFFFFFu, 1}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.loggerLevel ? std::to_string(*entry.loggerLevel) : "absent");
        resetLogging();
        if (entry.loggerLevel) {
            machine().setRegistryDword(ClientRegistryKey, "loggerLevel", *entry.loggerLevel);
        }
        setUpLogging();
        EXPECT_EQ(Poco::Logger::root().getLevel(), entry.rootLevel);
        // Loggers first asked for after the setup (the named family's) take that level; the
        // service's own logger keeps writing information lines.
        EXPECT_EQ(Poco::Logger::get("requested_later").getLevel(), entry.rootLevel);
        const std::string marker = "information with loggerLevel " +
                                   (entry.loggerLevel ? std::to_string(*entry.loggerLevel) : "");
        LogInfo("%s", marker.c_str());
        EXPECT_EQ(countLines(recentMessages(), "Information", marker), 1u);
    }
}

TEST_F(LoggerSetupRegistryTest, OnlyChannelsSetToOneAreEnabledAndNonNumbersAreSkipped) {
    machine().createRegistryKey(ChannelsKey);
    machine().setRegistryDword(ChannelsKey, "Network", 1);
    machine().setRegistryDword(ChannelsKey, "Disabled", 2);
    machine().setRegistryDword(ChannelsKey, "Zero", 0);
    machine().setRegistryString(ChannelsKey, "Text", "1");
    machine().setRegistryDword(ChannelsKey, "Launch", 1);
    machine().setRegistryString(ClientRegistryKey, "loggerLevel", "3");
    setUpLogging();

    // In the order the registry lists them, which Windows does not promise to be any other.
    Poco::Util::WinRegistryKey key(ChannelsKey, true);
    std::vector<std::string> listed;
    key.values(listed);
    std::vector<std::string> expected;
    for (const std::string& name : listed) {
        if (name == "Network" || name == "Launch") {
            expected.push_back(name);
        }
    }
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(enabledNames(), expected);
    EXPECT_EQ(Poco::Logger::root().getLevel(), Poco::Message::PRIO_INFORMATION);

    LogInfoTo("Network", "enabled channel marker");
    LogInfoTo("Disabled", "disabled channel marker");
    LogInfoTo("network", "other case marker");
    const std::string console = consoleText();
    EXPECT_EQ(countLines(console, "Information", "enabled channel marker", "Network"), 1u);
    EXPECT_EQ(console.find("disabled channel marker"), std::string::npos);
    EXPECT_EQ(console.find("other case marker"), std::string::npos);
    EXPECT_EQ(countLines(console, "Warning", NotANumber("Text", ChannelsKey)), 1u) << console;
    EXPECT_EQ(countLines(console, "Warning", NotANumber("loggerLevel", ClientRegistryKey)), 1u);
}

TEST_F(LoggerSetupRegistryTest, WithoutTheSettingsOrTheKeyTheDefaultsHoldSilently) {
    for (const bool keyExists : {true, false}) {
        SCOPED_TRACE(keyExists ? "empty key" : "no key");
        resetLogging();
        if (!keyExists) {
            machine().deleteRegistryKey(ClientRegistryKey);
        }
        setUpLogging();
        EXPECT_TRUE(GetLoggingState().enabledChannels.empty());
        EXPECT_EQ(Poco::Logger::root().getLevel(), Poco::Message::PRIO_INFORMATION);
        EXPECT_EQ(recentMessages().find("[Warning]"), std::string::npos) << recentMessages();
    }
}

}  // namespace
}  // namespace OrvaneClient
