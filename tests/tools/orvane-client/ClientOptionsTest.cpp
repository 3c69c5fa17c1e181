#include "tools/orvane-client/ClientOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

TEST(ClientOptions, DefaultsApplyWhenOnlyTheCommandIsGiven) {
    const ParsedClientOptions parsed = ParseClientOptions({"library-info"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.command, ClientCommand::LibraryInfo);
    EXPECT_EQ(parsed.options.host, "127.0.0.1");
    EXPECT_EQ(parsed.options.port, 9977);
    EXPECT_EQ(parsed.options.oseq, 1u);
    EXPECT_DOUBLE_EQ(parsed.options.timeoutSeconds, 5.0);
    EXPECT_FALSE(parsed.options.verbose);
    EXPECT_FALSE(parsed.options.noStart);
    EXPECT_FALSE(parsed.options.trustAnyListener);
    EXPECT_EQ(parsed.options.serviceName, "Orvane Client Service");
}

TEST(ClientOptions, WhichServiceToStartAndTrust) {
    const ParsedClientOptions parsed = ParseClientOptions(
        {"--no-start", "--service", "OrvaneService", "--trust-any-listener", "auth-info"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_TRUE(parsed.options.noStart);
    EXPECT_TRUE(parsed.options.trustAnyListener);
    EXPECT_EQ(parsed.options.serviceName, "OrvaneService");
}

TEST(ClientOptions, LaunchTakesItsPathAndOptionsInAnyOrder) {
    const ParsedClientOptions parsed = ParseClientOptions({"--port=1234",
                                                           "launch",
                                                           "--elevated",
                                                           "C:\\Games\\run.exe",
                                                           "--args",
                                                           "-windowed --fast",
                                                           "--dir=C:\\Games",
                                                           "--oseq",
                                                           "4294967295",
                                                           "--timeout",
                                                           "0.25"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const ClientOptions& options = parsed.options;
    EXPECT_EQ(options.command, ClientCommand::Launch);
    EXPECT_EQ(options.port, 1234);
    EXPECT_EQ(options.processPath, "C:\\Games\\run.exe");
    EXPECT_EQ(options.commandLineArgs, "-windowed --fast");
    EXPECT_EQ(options.workingDir, "C:\\Games");
    EXPECT_TRUE(options.elevated);
    EXPECT_EQ(options.oseq, 4294967295u);
    EXPECT_DOUBLE_EQ(options.timeoutSeconds, 0.25);
}

TEST(ClientOptions, DoubleDashLetsAnOperandStartWithADash) {
    const ParsedClientOptions parsed = ParseClientOptions({"fix-dir", "--", "--odd dir"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.command, ClientCommand::FixDirectory);
    EXPECT_EQ(parsed.options.directory, "--odd dir");
}

TEST(ClientOptions, LaunchArgumentsMayBeEmptyOrStartWithADash) {
    const ParsedClientOptions parsed =
        ParseClientOptions({"launch", "C:\\a.exe", "--args", "-x", "--dir", ""});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.commandLineArgs, "-x");
    EXPECT_EQ(parsed.options.workingDir, "");
}

TEST(ClientOptions, HelpWinsOverAMissingCommand) {
    for (const char* flag : {"--help", "-h"}) {
        SCOPED_TRACE(flag);
        const ParsedClientOptions parsed = ParseClientOptions({flag});
        ASSERT_TRUE(parsed.ok) << parsed.error;
        EXPECT_TRUE(parsed.options.help);
    }
}

TEST(ClientOptions, MalformedCommandLinesAreRefusedWithAReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command given"},
        {{"status"}, "unknown command 'status'"},
        {{"launch"}, "command launch needs exactly one operand"},
        {{"fix-dir", "a", "b"}, "command fix-dir needs exactly one operand"},
        {{"auth-info", "extra"}, "command auth-info takes no operand"},
        {{"--port", "0", "auth-info"}, "option --port: invalid port '0' (1 to 65535)"},
        {{"--port", "65536", "auth-info"}, "option --port: invalid port '65536' (1 to 65535)"},
        {{"--port", "-1", "auth-info"}, "option --port: invalid port '-1' (1 to 65535)"},
        {{"--port=99x", "auth-info"}, "option --port: invalid port '99x' (1 to 65535)"},
        {{"--oseq", "4294967296", "auth-info"},
         "option --oseq: invalid sequence number '4294967296' (0 to 4294967295)"},
        {{"--timeout", "0", "auth-info"},
         "option --timeout: invalid timeout '0' (seconds, 0.001 to 3600)"},
        {{"--timeout", "1e3", "auth-info"},
         "option --timeout: invalid timeout '1e3' (seconds, 0.001 to 3600)"},
        {{"--timeout", "3601", "auth-info"},
         "option --timeout: invalid timeout '3601' (seconds, 0.001 to 3600)"},
        {{"--timeout", ".", "auth-info"},
         "option --timeout: invalid timeout '.' (seconds, 0.001 to 3600)"},
        {{"--host=", "auth-info"}, "option --host needs a host name or address"},
        {{"auth-info", "--port"}, "option --port needs a value"},
        {{"--verbose=yes", "auth-info"}, "option --verbose takes no value"},
        {{"--no-start=1", "auth-info"}, "option --no-start takes no value"},
        {{"--service=", "auth-info"}, "option --service needs the service's name"},
        {{"--elevated", "library-info"},
         "--args, --dir and --elevated belong to the launch command"},
        {{"fix-dir", "C:\\", "--dir", "C:\\"},
         "--args, --dir and --elevated belong to the launch command"},
        {{"--hots", "x", "auth-info"}, "unknown option --hots"},
        {{"-p", "1", "auth-info"}, "unknown option -p"},
    };
    for (const auto& [arguments, error] : cases) {
        SCOPED_TRACE(error);
        const ParsedClientOptions parsed = ParseClientOptions(arguments);
        EXPECT_FALSE(parsed.ok);
        EXPECT_EQ(parsed.error, error);
    }
}

}  // namespace
}  // namespace OrvaneClient
