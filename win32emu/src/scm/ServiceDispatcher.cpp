// The emulated control dispatcher: the calling thread waits for controls and runs the handler;
// the service runs on a thread of its own.

#include "scm/ServiceDispatcher.h"

#include "scm/InProcessScmConnection.h"
#include "scm/PipeScmConnection.h"

#include <Poco/String.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace Win32Emu {

// One run of the dispatcher: what its threads and the SCM share. Held by shared_ptr, so a
// report from a late thread, or a service thread left running, never outlives it.
class ServiceDispatcher::Session : public ScmControlSink {
public:
    Session(std::string name,
            LPSERVICE_MAIN_FUNCTIONA main,
            std::unique_ptr<ScmConnection> scm,
            SERVICE_STATUS_HANDLE statusHandle)
        : serviceName(std::move(name)),
          serviceMain(main),
          connection(std::move(scm)),
          handle(statusHandle) {}

    void postControl(DWORD control) override {
        const std::lock_guard<std::mutex> lock(mutex);
        controls.push_back(control);
        changed.notify_all();
    }

    void postScmLost() override {
        const std::lock_guard<std::mutex> lock(mutex);
        scmLost = true;
        changed.notify_all();
    }

    void setHandler(LPHANDLER_FUNCTION function) {
        const std::lock_guard<std::mutex> lock(mutex);
        handler = function;
    }

    bool hasHandler() {
        const std::lock_guard<std::mutex> lock(mutex);
        return handler != nullptr;
    }

    void markStopReported() {
        const std::lock_guard<std::mutex> lock(mutex);
        stopReported = true;
        changed.notify_all();
    }

    void markMainReturned() {
        const std::lock_guard<std::mutex> lock(mutex);
        mainReturned = true;
        changed.notify_all();
    }

    // The service thread's body: ServiceMain gets argc 1 and argv[0] the service name.
    void runServiceMain() {
        std::vector<char> name(serviceName.begin(), serviceName.end());
        name.push_back('\0');
        LPSTR argv[] = {name.data(), nullptr};
        serviceMain(1, argv);
        connection->serviceMainReturned();
        markMainReturned();
    }

    // The dispatcher loop: runs each control's handler on this thread until the service has
    // reported SERVICE_STOPPED or the SCM has gone. True for the former.
    bool dispatchControls() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            if (stopReported) {
                return true;
            }
            if (scmLost) {
                return false;
            }
            if (controls.empty()) {
                changed.wait(lock);
                continue;
            }
            const DWORD control = controls.front();
            controls.pop_front();
            const LPHANDLER_FUNCTION function = handler;
            lock.unlock();
            // Without a handler the control cannot be delivered; Windows' SCM refuses controls
            // to a service in that state the same way.
            DWORD result = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
            if (function != nullptr) {
                function(control);
                result = ERROR_SUCCESS;
            }
            connection->controlDone(control, result);
            lock.lock();
        }
    }

    bool waitForMainReturn(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [this] { return mainReturned; });
    }

    const std::string serviceName;
    const LPSERVICE_MAIN_FUNCTIONA serviceMain;
    const std::unique_ptr<ScmConnection> connection;
    const SERVICE_STATUS_HANDLE handle;

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<DWORD> controls;
    LPHANDLER_FUNCTION handler = nullptr;
    bool scmLost = false;
    bool stopReported = false;
    bool mainReturned = false;
};

ServiceDispatcher& ServiceDispatcher::instance() {
    static ServiceDispatcher dispatcher;
    return dispatcher;
}

DWORD ServiceDispatcher::run(const SERVICE_TABLE_ENTRYA* table) {
    if (table == nullptr || table[0].lpServiceName == nullptr ||
        table[0].lpServiceProc == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::shared_ptr<Session> session;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (current) {
            return ERROR_SERVICE_ALREADY_RUNNING;
        }
        // A test's SCM comes first; then the channel orvane-sc gave this process.
        std::unique_ptr<ScmConnection> connection = InProcessScmConnection::connect();
        if (!connection) {
            connection = PipeScmConnection::claimInherited();
        }
        if (!connection) {
            return ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
        }
        // Status handles are opaque and never dereferenced; a new value per run makes a stale
        // handle from an earlier run fail as invalid.
        ++generation;
        const auto handle = reinterpret_cast<SERVICE_STATUS_HANDLE>(
            static_cast<std::uintptr_t>(0x5C000000u + generation * 16u));
        session = std::make_shared<Session>(
            table[0].lpServiceName, table[0].lpServiceProc, std::move(connection), handle);
        current = session;
    }

    session->connection->open(session->serviceName, *session);
    std::thread serviceThread([session] { session->runServiceMain(); });
    const bool stopped = session->dispatchControls();
    const bool terminate = !stopped && session->connection->terminatesProcessOnLoss();
    if (terminate) {
        // The SCM that started this process has gone: a service must not outlive it.
        std::fprintf(stderr,
                     "win32emu: lost the service control manager; ending the service process\n");
        std::fflush(stderr);
        std::_Exit(ERROR_BROKEN_PIPE);
    }

    const bool returned =
        session->waitForMainReturn(session->connection->serviceMainReturnTimeout());
    session->connection->close();
    if (returned) {
        serviceThread.join();
    } else {
        std::fprintf(stderr,
                     "win32emu: ServiceMain of \"%s\" has not returned; leaving its thread\n",
                     session->serviceName.c_str());
        serviceThread.detach();
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        current.reset();
    }
    return stopped ? ERROR_SUCCESS : ERROR_BROKEN_PIPE;
}

SERVICE_STATUS_HANDLE ServiceDispatcher::registerHandler(LPCSTR serviceName,
                                                         LPHANDLER_FUNCTION handler,
                                                         DWORD& error) {
    if (serviceName == nullptr) {
        error = ERROR_INVALID_NAME;
        return nullptr;
    }
    if (handler == nullptr) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    // Service names are case-insensitive to the SCM.
    if (!current || Poco::icompare(std::string(serviceName), current->serviceName) != 0) {
        error = ERROR_SERVICE_DOES_NOT_EXIST;
        return nullptr;
    }
    current->setHandler(handler);
    return current->handle;
}

DWORD ServiceDispatcher::setStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) {
    std::shared_ptr<Session> session;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        session = current;
    }
    if (!session || handle == nullptr || session->handle != handle || !session->hasHandler()) {
        return ERROR_INVALID_HANDLE;
    }
    if (status == nullptr || status->dwCurrentState < SERVICE_STOPPED ||
        status->dwCurrentState > SERVICE_PAUSED) {
        return ERROR_INVALID_DATA;
    }
    DWORD error = ERROR_SUCCESS;
    if (!session->connection->reportStatus(*status, error)) {
        return error;
    }
    // Only a report that reached the SCM ends the dispatcher: a failed one leaves the SCM
    // believing the service still runs.
    if (status->dwCurrentState == SERVICE_STOPPED) {
        session->markStopReported();
    }
    return ERROR_SUCCESS;
}

void ServiceDispatcher::reportEvent(const ScmMessage& event) {
    std::shared_ptr<Session> session;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        session = current;
    }
    if (session) {
        session->connection->reportEvent(event);
    }
}

}  // namespace Win32Emu
