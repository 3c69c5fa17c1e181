#pragma once

// The dispatcher's connection to orvane-sc, the emulated SCM of a process that it started: a
// Unix stream socket inherited by the process, named by the environment (Win32Emu/ScmMessage.h
// gives the variable and the line format).

#include "scm/ScmConnection.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace Win32Emu {

class PipeScmConnection : public ScmConnection {
public:
    // The channel this process inherited, or null when it has none (started by hand). A process
    // claims its channel once: a later call finds none, as the descriptor is closed by then.
    static std::unique_ptr<ScmConnection> claimInherited();

    explicit PipeScmConnection(int socket);
    ~PipeScmConnection() override;

    // Sends `connect` and starts the thread that reads controls.
    void open(const std::string& serviceName, ScmControlSink& sink) override;
    bool reportStatus(const SERVICE_STATUS& status, DWORD& error) override;
    void controlDone(DWORD control, DWORD result) override;
    void reportEvent(const ScmMessage& event) override;
    void close() override;
    bool terminatesProcessOnLoss() const override { return true; }

private:
    bool writeLine(const std::string& line);
    void readControls(ScmControlSink& sink);

    const int socket;
    std::mutex writeMutex;
    std::thread reader;
    std::atomic<bool> closing{false};
    bool closed = false;
};

}  // namespace Win32Emu
