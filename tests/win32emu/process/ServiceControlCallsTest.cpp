// The controlling side of the emulated SCM (OpenSCManagerW, OpenServiceW, StartServiceW,
// QueryServiceStatusEx, CloseServiceHandle) against `orvane-sc serve`, which keeps a small
// service of our own installed; and the owner of another process's listening socket.

#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/OrvaneScSession.h"

#include <Poco/File.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <functional>
#include <iphlpapi.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <windows.h>
#include <winsvc.h>

namespace {

using namespace std::chrono_literals;
using OrvaneClient::Testing::OrvaneScSession;

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr DWORD kStartAndQuery = SERVICE_START | SERVICE_QUERY_STATUS;
const wchar_t* const kService = L"Orvane Client Service";
const char* const kPlayerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";

class ServiceControlCallsTest : public OrvaneClient::Testing::EmulatedMachineTest {
public:
    // The table's calls reach these.
    using EmulatedMachineTest::machine;

    void SetUp() override {
        EmulatedMachineTest::SetUp();
        sc = std::make_unique<OrvaneScSession>(
            FAKE_SERVICE_PATH, std::vector<std::string>{}, "", ORVANE_SC_PATH, "serve");
        ASSERT_TRUE(waitForLine("install ")) << sc->errorOutput();
        machine().setHostRoot(sc->root());
        // The console user's explorer.exe: an interactive caller.
        machine().setCurrentProcess(2412);
    }

    void TearDown() override {
        for (SC_HANDLE handle : handles) {
            CloseServiceHandle(handle);
        }
        sc.reset();
        EmulatedMachineTest::TearDown();
    }

    // The next line orvane-sc prints that starts with `prefix`.
    std::optional<std::string> waitForLine(const std::string& prefix) {
        while (std::optional<std::string> line = sc->readLine(10s)) {
            if (line->rfind(prefix, 0) == 0) {
                return line;
            }
        }
        return std::nullopt;
    }

    SC_HANDLE kept(SC_HANDLE handle) {
        if (handle != nullptr) {
            handles.push_back(handle);
        }
        return handle;
    }
    SC_HANDLE openManager() { return kept(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)); }
    SC_HANDLE openService(DWORD access) {
        return kept(OpenServiceW(openManager(), kService, access));
    }

    // Polls until the state is reached; the service's own pace decides how long that takes.
    SERVICE_STATUS_PROCESS waitForState(SC_HANDLE service, DWORD state) {
        SERVICE_STATUS_PROCESS status{};
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        DWORD needed = 0;
        while (QueryServiceStatusEx(service,
                                    SC_STATUS_PROCESS_INFO,
                                    reinterpret_cast<LPBYTE>(&status),
                                    sizeof status,
                                    &needed) &&
               status.dwCurrentState != state && std::chrono::steady_clock::now() < deadline) {
            Sleep(20);
        }
        return status;
    }

    std::unique_ptr<OrvaneScSession> sc;
    std::vector<SC_HANDLE> handles;
};

// One call that fails, with the last error it leaves.
struct RefusedCall {
    const char* name;
    std::function<BOOL(ServiceControlCallsTest&)> call;
    DWORD error;
};

class ServiceControlRefusalTest : public ServiceControlCallsTest,
                                  public ::testing::WithParamInterface<RefusedCall> {};

TEST_P(ServiceControlRefusalTest, FailsWithWindowsError) {
    SetLastError(kSentinel);
    EXPECT_FALSE(GetParam().call(*this));
    EXPECT_EQ(GetLastError(), GetParam().error);
}

BOOL succeeded(SC_HANDLE handle) {
    return handle != nullptr ? TRUE : FALSE;
}

BOOL queryWith(SC_HANDLE service, SC_STATUS_TYPE level, DWORD size, DWORD* needed = nullptr) {
    SERVICE_STATUS_PROCESS status{};
    DWORD scratch = 0;
    return QueryServiceStatusEx(
        service, level, reinterpret_cast<LPBYTE>(&status), size, needed ? needed : &scratch);
}

const RefusedCall RefusedCalls[] = {
    {"RemoteMachine",
     [](auto&) { return succeeded(OpenSCManagerW(L"GAMING-PC2", nullptr, SC_MANAGER_CONNECT)); },
     ERROR_CALL_NOT_IMPLEMENTED},
    {"UnknownDatabase",
     [](auto&) { return succeeded(OpenSCManagerW(nullptr, L"ServicesGone", SC_MANAGER_CONNECT)); },
     ERROR_INVALID_NAME},
    {"UnknownService",
     [](auto& t) {
         return succeeded(OpenServiceW(t.openManager(), L"No Such Service", SERVICE_QUERY_STATUS));
     },
     ERROR_SERVICE_DOES_NOT_EXIST},
    {"NullServiceName",
     [](auto& t) {
         return succeeded(OpenServiceW(t.openManager(), nullptr, SERVICE_QUERY_STATUS));
     },
     ERROR_INVALID_ADDRESS},
    {"ServiceHandleAsManager",
     [](auto& t) {
         return succeeded(OpenServiceW(t.openService(SERVICE_QUERY_STATUS), kService, 0));
     },
     ERROR_INVALID_HANDLE},
    {"StartWithoutTheStartRight",
     [](auto& t) { return StartServiceW(t.openService(SERVICE_QUERY_STATUS), 0, nullptr); },
     ERROR_ACCESS_DENIED},
    {"QueryWithoutTheQueryRight",
     [](auto& t) { return queryWith(t.openService(SERVICE_START), SC_STATUS_PROCESS_INFO, 36); },
     ERROR_ACCESS_DENIED},
    {"QueryAtAnotherLevel",
     [](auto& t) {
         return queryWith(t.openService(SERVICE_QUERY_STATUS), static_cast<SC_STATUS_TYPE>(1), 36);
     },
     ERROR_INVALID_LEVEL},
    {"CloseHandleOnAServiceHandle",
     [](auto& t) { return CloseHandle(t.openService(SERVICE_QUERY_STATUS)); },
     ERROR_INVALID_HANDLE},
    {"CloseServiceHandleOnAnEvent",
     [](auto&) {
         const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
         const BOOL closed = CloseServiceHandle(reinterpret_cast<SC_HANDLE>(event));
         const DWORD error = GetLastError();
         CloseHandle(event);
         SetLastError(error);
         return closed;
     },
     ERROR_INVALID_HANDLE},
    // NETWORK SERVICE in session 0 is neither interactive nor an administrator: the
    // descriptor lets it do nothing.
    {"StartByACallerTheDescriptorDoesNotAllow",
     [](auto& t) {
         t.machine().setProcess({4400, "netsvc.exe", 0, "S-1-5-20"});
         t.machine().setCurrentProcess(4400);
         return succeeded(OpenServiceW(t.openManager(), kService, kStartAndQuery));
     },
     ERROR_ACCESS_DENIED},
};

INSTANTIATE_TEST_SUITE_P(EachCall,
                         ServiceControlRefusalTest,
                         ::testing::ValuesIn(RefusedCalls),
                         [](const ::testing::TestParamInfo<RefusedCall>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ServiceControlCallsTest, ABufferTooSmallIsToldTheSizeItNeeds) {
    DWORD needed = 0;
    SetLastError(kSentinel);
    EXPECT_FALSE(queryWith(openService(SERVICE_QUERY_STATUS), SC_STATUS_PROCESS_INFO, 35, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof(SERVICE_STATUS_PROCESS));
}

TEST_F(ServiceControlCallsTest, StartsOnDemandAgainAndAgainAndReportsItsProcess) {
    const SC_HANDLE service = openService(kStartAndQuery);
    ASSERT_NE(service, nullptr) << GetLastError();
    const SERVICE_STATUS_PROCESS never = waitForState(service, SERVICE_STOPPED);
    EXPECT_EQ(never.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(never.dwProcessId, 0u);
    EXPECT_EQ(never.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_NEVER_STARTED));

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
        const SERVICE_STATUS_PROCESS running = waitForState(service, SERVICE_RUNNING);
        EXPECT_EQ(running.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(running.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        // The process orvane-sc started and named in its start line.
        const std::optional<std::string> start = waitForLine("start ");
        ASSERT_TRUE(start);
        EXPECT_NE(start->find(" pid=" + std::to_string(running.dwProcessId)), std::string::npos)
            << *start;

        SetLastError(kSentinel);
        EXPECT_FALSE(StartServiceW(service, 0, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

        EXPECT_EQ(sc->command({"stop"}).exitCode, 0);
        ASSERT_TRUE(waitForLine("exit code=0")) << sc->errorOutput();
        const SERVICE_STATUS_PROCESS stopped = waitForState(service, SERVICE_STOPPED);
        EXPECT_EQ(stopped.dwProcessId, 0u);
        EXPECT_EQ(stopped.dwWin32ExitCode, 0u);
    }
}

TEST_F(ServiceControlCallsTest, NoScmForTheHostRootIsAnUnavailableServer) {
    char pattern[] = "/tmp/orvane-no-scm-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    machine().setHostRoot(pattern);
    SetLastError(kSentinel);
    EXPECT_EQ(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    Poco::File(pattern).remove(true);
}

// Another program's listening socket is that program's, as Windows reports a listener's owner.
TEST_F(ServiceControlCallsTest, AnotherProcessListeningSocketIsOwnedByIt) {
    int listening[2];
    int release[2];
    ASSERT_EQ(pipe(listening), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Plain calls only in the forked child: it listens on a port of its choosing, says
        // which, and holds it until the parent lets go.
        close(listening[0]);
        close(release[1]);
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(socket, 1) != 0 ||
            getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            _exit(1);
        }
        const uint16_t port = ntohs(address.sin_port);
        (void)!write(listening[1], &port, sizeof port);
        char done = 0;
        (void)!read(release[0], &done, 1);
        _exit(0);
    }
    close(listening[1]);
    close(release[0]);
    uint16_t port = 0;
    const bool told = read(listening[0], &port, sizeof port) == sizeof port;
    close(listening[0]);

    DWORD size = 0;
    GetExtendedTcpTable(nullptr, &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
    std::vector<unsigned char> buffer(size + 10 * sizeof(MIB_TCPROW_OWNER_PID));
    size = static_cast<DWORD>(buffer.size());
    ASSERT_EQ(
        GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0),
        static_cast<DWORD>(NO_ERROR));
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    DWORD owner = 0;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (ntohs(static_cast<uint16_t>(table->table[i].dwLocalPort)) == port) {
            owner = table->table[i].dwOwningPid;
        }
    }
    close(release[1]);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(told);
    EXPECT_EQ(owner, static_cast<DWORD>(child));
}

}  // namespace
