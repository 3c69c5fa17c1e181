#pragma once

// The requesting side of the desktop service protocol: one request over a fresh connection to
// the service, and the packet that answers it. When nothing listens, the client starts the
// service through the service control manager and connects again. Before it sends any request
// but library-info it makes sure the process that accepted its connection is the service's own:
// the owner of the service's end of that very connection must be the process the SCM says runs
// the service. Anyone else may have taken the port while the service was stopped, and may have
// let it go since: whoever listens now need not be whoever accepted.

#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"
#include "core/windows/Win32Api.h"

#include <Poco/Net/StreamSocket.h>
#include <Poco/Timespan.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace OrvaneClient {

class ProtobufReader;

enum class RequestKind {
    LibraryInfo,
    AuthInfo,
    Launch,
    FixDirectory,
};

struct ServiceRequest {
    RequestKind kind = RequestKind::LibraryInfo;
    std::uint32_t oseq = 1;
    // Launch
    std::string processPath;
    std::string commandLineArgs;
    std::string workingDir;
    bool elevated = false;
    // FixDirectory
    std::string directory;
};

enum class ExchangeStatus {
    // A whole packet came back; it is in `header` and `body`, not yet checked.
    Replied,
    // No connection (and, where allowed, the service could not be started), or the request
    // could not be written.
    ConnectFailed,
    StartFailed,
    SendFailed,
    // The process that accepted the connection is not the service's: nothing was sent.
    NotTheService,
    // Nothing whole arrived within the timeout.
    TimedOut,
    // The service closed or reset the connection before a whole packet arrived.
    ConnectionClosed,
    // Reading failed for another reason.
    ReadFailed,
    // A packet arrived whose header did not parse.
    HeaderUnparsable,
};

// Whose start of the service an exchange waited for, when nothing listened at first.
enum class ServiceStart {
    // None: the service listened (or was not started).
    None,
    // This exchange's StartServiceW started it.
    ByThisRequest,
    // Another caller's start was under way or came first; this exchange waited for it.
    ByAnotherRequest,
};

// Who accepted the connection the request went over.
struct Responder {
    // The owner of the service's end of the connection, and the service's process as the SCM
    // reports it; 0 when unknown (the reason is in `problem`) or, for the service, when it is not
    // running.
    DWORD acceptorPid = 0;
    DWORD servicePid = 0;
    bool verified = false;
    ServiceStart start = ServiceStart::None;
    std::string problem;
    // The Win32 error of the service control manager call that failed, starting the service
    // or asking for its process (RPC_S_SERVER_UNAVAILABLE: no SCM answers); 0 when none did.
    DWORD scmError = 0;
};

struct ExchangeResult {
    ExchangeStatus status = ExchangeStatus::ConnectFailed;
    // For the failures: what went wrong, when there is more to say.
    std::string detail;
    Responder responder;
    qovex::protocols::pb::Header header;
    std::vector<char> body;
};

struct ServiceClientSettings {
    std::string host = "127.0.0.1";
    std::uint16_t port = 9977;
    // Bounds the connection attempt and, separately, the wait for the reply.
    Poco::Timespan timeout = Poco::Timespan(5, 0);
    // Start the service when nothing listens; how long it may take to run and listen.
    bool startService = true;
    Poco::Timespan startTimeout = Poco::Timespan(30, 0);
    std::string serviceName = "Orvane Client Service";
    // Send only to the service's own process (library-info goes to anyone).
    bool requireService = true;
    // Where the service's process id comes from; empty: the SCM's status of `serviceName`. A
    // test names the process that plays the service. Sets `problem` when it returns 0.
    std::function<DWORD(std::string& problem)> serviceProcess;
};

class ServiceClient {
public:
    explicit ServiceClient(ServiceClientSettings settings);

    // Connects (starting the service if allowed and needed), checks who accepted where the
    // request needs it, sends the request and waits for the first whole packet that comes
    // back. The connection is closed before returning. Never throws a Poco::Exception.
    ExchangeResult exchange(const ServiceRequest& request);

    // The process that owns the far end of the connected `socket` (the end that accepted it),
    // as GetExtendedTcpTable names it; 0 with `problem` set when no row, or a row with no
    // owner, does.
    static DWORD AcceptingProcess(const Poco::Net::StreamSocket& socket, std::string& problem);

private:
    void identifyResponder(const Poco::Net::StreamSocket& socket, Responder& responder) const;
    void awaitReply(Poco::Net::StreamSocket& socket,
                    ProtobufReader& reader,
                    ExchangeResult& result) const;

    // The service control manager's part (ServiceClientScm.cpp). startTheService returns true
    // once the service runs, with `result.responder.start` saying whose start that was (None:
    // it was running already); false with the status and detail set when it does not run.
    bool startTheService(ExchangeResult& result) const;
    DWORD queryServicePid(std::string& problem, DWORD& scmError) const;

    ServiceClientSettings settings;
};

}  // namespace OrvaneClient
