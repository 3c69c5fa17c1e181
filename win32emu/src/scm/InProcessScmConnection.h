#pragma once

// The dispatcher's connection to the in-process SCM that a test plays.

#include "Win32Emu/ServiceControlManager.h"
#include "scm/ScmConnection.h"

#include <memory>

namespace Win32Emu {

class InProcessScmConnection : public ScmConnection {
public:
    // A connection to the attached in-process SCM, or null when it is detached.
    static std::unique_ptr<ScmConnection> connect();

    void open(const std::string& serviceName, ScmControlSink& sink) override;
    bool reportStatus(const SERVICE_STATUS& status, DWORD& error) override;
    void controlDone(DWORD control, DWORD result) override;
    void serviceMainReturned() override;
    std::chrono::milliseconds serviceMainReturnTimeout() const override;
    void close() override;
    bool terminatesProcessOnLoss() const override { return false; }

private:
    InProcessScmConnection() = default;
    static ServiceControlManager::State& scm();
};

}  // namespace Win32Emu
