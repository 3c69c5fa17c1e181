#pragma once

#include "service/ServiceServer.h"
#include "tests/service/ServiceTestClient.h"
#include "tests/support/FakeOrvaneService.h"
#include "tests/support/LogCapture.h"

#include <Poco/Timespan.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace OrvaneClient::Testing {

// A ServiceServer on 127.0.0.1 (ephemeral port) over a FakeOrvaneService, with every log line
// captured. Members are destroyed server first, so the reactor thread has ended before the
// fake service and the capture go.
class ServerTestBase : public ::testing::Test {
protected:
    // Constructs and starts the server; the default timeout keeps inactivity out of the way.
    void startServer(Poco::Timespan reactorTimeout = Poco::Timespan(ServiceReactorTimeoutSeconds,
                                                                    0),
                     Poco::Timespan stallTimeout = Poco::Timespan(ServiceStallTimeoutSeconds, 0));
    std::unique_ptr<ServiceTestClient> connect();

    // Sends a library-info request with `oseq` and expects its answer as the very next packet:
    // proves the connection is open and that nothing was sent for what came before.
    void expectNextAnswerIsFor(ServiceTestClient& client, uint32_t oseq);

    // Polls the capture until a line with this priority and text is there.
    bool waitForLine(int priority, const std::string& text, long milliseconds = 5000);
    // Each line appears, with its priority, after the previous one.
    void expectLinesInOrder(const std::vector<std::pair<int, std::string>>& expected);

    LogCapture capture;
    FakeOrvaneService service;
    std::unique_ptr<ServiceServer> server;
};

}  // namespace OrvaneClient::Testing
