// Who is calling: the TCP table with owning processes, the integrity level and AppContainer
// token classes, and the redirection trust mitigation.

#include "tests/support/EmulatedMachineTest.h"

#include <Poco/ByteOrder.h>
#include <Poco/Exception.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <gtest/gtest.h>

#include <Win32Emu/Machine.h>
#include <cstring>
#include <iphlpapi.h>
#include <optional>
#include <vector>
#include <windows.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;

const char* const playerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";

std::vector<MIB_TCPROW_OWNER_PID> tcpRows(TCP_TABLE_CLASS tableClass) {
    DWORD size = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
              GetExtendedTcpTable(nullptr, &size, TRUE, AF_INET, tableClass, 0));
    std::vector<BYTE> buffer(size + 16 * sizeof(MIB_TCPROW_OWNER_PID));
    size = static_cast<DWORD>(buffer.size());
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR),
              GetExtendedTcpTable(buffer.data(), &size, TRUE, AF_INET, tableClass, 0));
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    return std::vector<MIB_TCPROW_OWNER_PID>(table->table, table->table + table->dwNumEntries);
}

DWORD port(DWORD rowPort) {
    return Poco::ByteOrder::fromNetwork(static_cast<Poco::UInt16>(rowPort));
}

std::optional<MIB_TCPROW_OWNER_PID> rowFrom(const std::vector<MIB_TCPROW_OWNER_PID>& rows,
                                            DWORD localPort,
                                            DWORD remotePort) {
    for (const MIB_TCPROW_OWNER_PID& row : rows) {
        if (port(row.dwLocalPort) == localPort && port(row.dwRemotePort) == remotePort) {
            return row;
        }
    }
    return std::nullopt;
}

// A client socket bound before it connects, so its port can be given an owner first.
Poco::Net::StreamSocket boundClient() {
    Poco::Net::StreamSocket client;
    client.impl()->bind(Poco::Net::SocketAddress("127.0.0.1", 0));
    return client;
}

using CallersTest = EmulatedMachineTest;

TEST_F(CallersTest, TcpTableNamesTheOwnerOfEachEndOfALoopbackConnection) {
    Poco::Net::ServerSocket listener(Poco::Net::SocketAddress("127.0.0.1", 0));
    Poco::Net::StreamSocket registered = boundClient();
    machine().setConnectionOwner(registered.address().port(), 2412);
    registered.connect(listener.address());
    Poco::Net::StreamSocket unregistered;
    unregistered.connect(listener.address());
    const Poco::Net::StreamSocket accepted = listener.acceptConnection();
    const WORD server = listener.address().port();

    SetLastError(0xdeadbeef);
    const std::vector<MIB_TCPROW_OWNER_PID> rows = tcpRows(TCP_TABLE_OWNER_PID_CONNECTIONS);
    EXPECT_EQ(0xdeadbeefu, GetLastError());

    const auto client = rowFrom(rows, registered.address().port(), server);
    ASSERT_TRUE(client.has_value());
    EXPECT_EQ(2412u, client->dwOwningPid);
    EXPECT_EQ(static_cast<DWORD>(MIB_TCP_STATE_ESTAB), client->dwState);
    const unsigned char loopback[4] = {127, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(&client->dwLocalAddr, loopback, 4));
    EXPECT_EQ(0, std::memcmp(&client->dwRemoteAddr, loopback, 4));

    const auto other = rowFrom(rows, unregistered.address().port(), server);
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(machine().defaultConnectionOwner(), other->dwOwningPid);
    EXPECT_EQ(5120u, other->dwOwningPid);

    const auto serverSide = rowFrom(rows, server, accepted.peerAddress().port());
    ASSERT_TRUE(serverSide.has_value());
    EXPECT_EQ(machine().currentProcessId(), serverSide->dwOwningPid);
    EXPECT_FALSE(rowFrom(rows, server, 0).has_value()) << "the listener is no connection";
    // Accepted by the system, not yet by the program: its listener's, as on Windows.
    const Poco::UInt16 waitingPort = accepted.peerAddress().port() == registered.address().port()
                                         ? unregistered.address().port()
                                         : registered.address().port();
    const auto waiting = rowFrom(rows, server, waitingPort);
    ASSERT_TRUE(waiting.has_value());
    EXPECT_EQ(machine().currentProcessId(), waiting->dwOwningPid);

    // One connection of the server's, apart from the listener that shares its local port.
    machine().setConnectionOwner(server, accepted.peerAddress().port(), 3001);
    const auto handedOn =
        rowFrom(tcpRows(TCP_TABLE_OWNER_PID_ALL), server, accepted.peerAddress().port());
    ASSERT_TRUE(handedOn.has_value());
    EXPECT_EQ(3001u, handedOn->dwOwningPid);

    const auto listening = rowFrom(tcpRows(TCP_TABLE_OWNER_PID_LISTENER), server, 0);
    ASSERT_TRUE(listening.has_value());
    EXPECT_EQ(static_cast<DWORD>(MIB_TCP_STATE_LISTEN), listening->dwState);
    EXPECT_EQ(machine().currentProcessId(), listening->dwOwningPid);
}

TEST_F(CallersTest, TcpTableRefusesWhatItDoesNotModel) {
    struct Case {
        PDWORD size;
        ULONG family;
        TCP_TABLE_CLASS tableClass;
        DWORD expected;
    };
    DWORD any = 0;
    const Case cases[] = {
        {&any, 23 /* AF_INET6 */, TCP_TABLE_OWNER_PID_CONNECTIONS, ERROR_CALL_NOT_IMPLEMENTED},
        {&any, AF_INET, TCP_TABLE_BASIC_ALL, ERROR_CALL_NOT_IMPLEMENTED},
        {&any, AF_INET, TCP_TABLE_OWNER_MODULE_ALL, ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.expected);
        EXPECT_EQ(
            entry.expected,
            GetExtendedTcpTable(nullptr, entry.size, FALSE, entry.family, entry.tableClass, 0));
    }
}

// The integrity level's RID and AppContainer flag of a process's token, or the last error.
struct TokenClasses {
    std::optional<DWORD> integrity;
    DWORD integrityError = 0;
    std::optional<DWORD> appContainer;
    DWORD appContainerError = 0;
};

TokenClasses queryTokenClasses(DWORD processId) {
    TokenClasses result;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    EXPECT_NE(nullptr, process);
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(process, TOKEN_QUERY, &token));
    DWORD size = 0;
    SetLastError(0xdeadbeef);
    if (!GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        std::vector<BYTE> label(size);
        EXPECT_TRUE(GetTokenInformation(token, TokenIntegrityLevel, label.data(), size, &size));
        const auto* mandatory = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data());
        EXPECT_EQ(static_cast<DWORD>(SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED),
                  mandatory->Label.Attributes);
        const PSID sid = mandatory->Label.Sid;
        EXPECT_EQ(1, *GetSidSubAuthorityCount(sid));
        result.integrity = *GetSidSubAuthority(sid, 0);
    } else {
        result.integrityError = GetLastError();
    }
    DWORD flag = 0xdead;
    if (GetTokenInformation(token, TokenIsAppContainer, &flag, sizeof(flag), &size)) {
        EXPECT_EQ(sizeof(DWORD), size);
        result.appContainer = flag;
    } else {
        result.appContainerError = GetLastError();
    }
    CloseHandle(token);
    CloseHandle(process);
    return result;
}

TEST_F(CallersTest, IntegrityLevelAndAppContainerByProcessAndVersion) {
    Win32Emu::ProcessEntry sandboxed;
    sandboxed.processId = 7001;
    sandboxed.executableName = "browser.exe";
    sandboxed.sessionId = 1;
    sandboxed.userSid = playerSid;
    sandboxed.integrityLevel = SECURITY_MANDATORY_LOW_RID;
    sandboxed.appContainer = true;
    machine().setProcess(sandboxed);
    Win32Emu::ProcessEntry elevated = sandboxed;
    elevated.processId = 7002;
    elevated.integrityLevel = 0;
    elevated.appContainer = false;
    elevated.elevated = true;
    machine().setProcess(elevated);

    Win32Emu::VersionInfo windows10;
    windows10.majorVersion = 10;
    windows10.minorVersion = 0;
    windows10.buildNumber = 19045;
    Win32Emu::VersionInfo xp;
    xp.majorVersion = 5;
    const Win32Emu::VersionInfo windows7;  // the default: 6.1.7601 SP1

    struct Case {
        DWORD processId;
        Win32Emu::VersionInfo version;
        std::optional<DWORD> integrity;
        std::optional<DWORD> appContainer;
    };
    const Case cases[] = {
        {5120, windows7, SECURITY_MANDATORY_MEDIUM_RID, std::nullopt},
        {7002, windows7, SECURITY_MANDATORY_HIGH_RID, std::nullopt},
        {4, windows7, SECURITY_MANDATORY_SYSTEM_RID, std::nullopt},
        {7001, windows10, SECURITY_MANDATORY_LOW_RID, 1u},
        {5120, windows10, SECURITY_MANDATORY_MEDIUM_RID, 0u},
        {5120, xp, std::nullopt, std::nullopt},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(testing::Message() << entry.processId << " on " << entry.version.majorVersion);
        machine().setVersion(entry.version);
        const TokenClasses classes = queryTokenClasses(entry.processId);
        EXPECT_EQ(entry.integrity, classes.integrity);
        EXPECT_EQ(entry.integrity ? 0u : static_cast<DWORD>(ERROR_INVALID_PARAMETER),
                  classes.integrityError);
        EXPECT_EQ(entry.appContainer, classes.appContainer);
        EXPECT_EQ(entry.appContainer ? 0u : static_cast<DWORD>(ERROR_INVALID_PARAMETER),
                  classes.appContainerError);
    }
}

using SetPolicyFunction = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

TEST_F(CallersTest, RedirectionTrustPolicyWhereTheVersionHasIt) {
    struct Case {
        DWORD major;
        DWORD minor;
        DWORD build;
        bool exported;
        DWORD error;  // of enforcing the policy; 0: it is set
    };
    const Case cases[] = {
        {6, 1, 7601, false, 0},
        {6, 2, 9200, true, ERROR_INVALID_PARAMETER},
        {10, 0, 19044, true, ERROR_INVALID_PARAMETER},
        {10, 0, 19045, true, 0},
        {10, 0, 22631, true, 0},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(testing::Message() << entry.major << "." << entry.minor << "." << entry.build);
        Win32Emu::VersionInfo version;
        version.majorVersion = entry.major;
        version.minorVersion = entry.minor;
        version.buildNumber = entry.build;
        machine().setVersion(version);
        SetLastError(0xdeadbeef);
        const auto setPolicy = reinterpret_cast<SetPolicyFunction>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetProcessMitigationPolicy"));
        ASSERT_EQ(entry.exported, setPolicy != nullptr);
        if (!entry.exported) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
            continue;
        }
        PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
        policy.EnforceRedirectionTrust = 1;
        EXPECT_FALSE(setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy) + 1));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
        SetLastError(0xdeadbeef);
        EXPECT_EQ(entry.error == 0,
                  setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy)) != FALSE);
        EXPECT_EQ(entry.error == 0 ? 0xdeadbeefu : entry.error, GetLastError());
        EXPECT_EQ(entry.error == 0 ? 1u : 0u, machine().redirectionTrustPolicy());
    }
}

TEST_F(CallersTest, ProfileSetsTheDefaultCallerAndSandboxedProcesses) {
    machine().loadProfileJson(R"({
        "processes": { "7001": { "name": "browser.exe", "session": 1, "user": ")" +
                              std::string(playerSid) +
                              R"(", "integrity": "low", "appContainer": true } },
        "defaultCaller": 7001 })");
    EXPECT_EQ(7001u, machine().defaultConnectionOwner());
    const auto processes = machine().processes();
    ASSERT_FALSE(processes.empty());
    EXPECT_EQ(static_cast<DWORD>(SECURITY_MANDATORY_LOW_RID), processes.back().integrityLevel);
    EXPECT_TRUE(processes.back().appContainer);
    EXPECT_THROW(
        machine().loadProfileJson(R"({ "processes": { "7001": { "integrity": "max" } } })"),
        Poco::DataFormatException);
}

}  // namespace
