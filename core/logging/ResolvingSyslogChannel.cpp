#include "core/logging/ResolvingSyslogChannel.h"

#include "core/util/Constants.h"

#include <Poco/Exception.h>
#include <Poco/Net/RemoteSyslogChannel.h>

#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace OrvaneClient {
namespace {

const char LogHostProperty[] = "loghost";
const std::string DefaultSyslogPort = std::to_string(DefaultRemoteLogPort);

// "host" -> "host:514", "::1" -> "[::1]:514"; a text that names its port stays as it is.
std::string WithSyslogPort(const std::string& logHost) {
    if (!logHost.empty() && logHost.front() == '[') {
        const auto end = logHost.find(']');
        if (end != std::string::npos && end + 1 < logHost.size() && logHost[end + 1] == ':') {
            return logHost;
        }
        return logHost + ":" + DefaultSyslogPort;
    }
    const auto colon = logHost.find(':');
    if (colon == std::string::npos) {
        return logHost + ":" + DefaultSyslogPort;
    }
    if (logHost.find(':', colon + 1) != std::string::npos) {
        return "[" + logHost + "]:" + DefaultSyslogPort;  // an IPv6 address without a port
    }
    return logHost;
}

Poco::Net::SocketAddress ResolveByNameService(const std::string& hostAndPort) {
    return Poco::Net::SocketAddress(hostAndPort);
}

}  // namespace

struct ResolvingSyslogChannel::State {
    std::mutex mutex;
    Resolver resolver;
    std::string logHost = WithSyslogPort("localhost");
    // Set once, never replaced.
    Poco::AutoPtr<Poco::Net::RemoteSyslogChannel> syslog{new Poco::Net::RemoteSyslogChannel};
    Resolution resolution = Resolution::NotStarted;
    std::deque<Poco::Message> pending;
    bool channelGone = false;
};

ResolvingSyslogChannel::ResolvingSyslogChannel()
    : ResolvingSyslogChannel(Resolver(ResolveByNameService)) {}

ResolvingSyslogChannel::ResolvingSyslogChannel(Resolver resolver)
    : state(std::make_shared<State>()) {
    state->resolver = std::move(resolver);
}

ResolvingSyslogChannel::~ResolvingSyslogChannel() {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->channelGone = true;
    state->pending.clear();
}

void ResolvingSyslogChannel::setProperty(const std::string& name, const std::string& value) {
    if (name == LogHostProperty) {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->logHost = WithSyslogPort(value);
        return;
    }
    state->syslog->setProperty(name, value);
}

std::string ResolvingSyslogChannel::getProperty(const std::string& name) const {
    if (name == LogHostProperty) {
        std::lock_guard<std::mutex> lock(state->mutex);
        return state->logHost;
    }
    return state->syslog->getProperty(name);
}

ResolvingSyslogChannel::Resolution ResolvingSyslogChannel::resolution() const {
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->resolution;
}

void ResolvingSyslogChannel::log(const Poco::Message& message) {
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        switch (state->resolution) {
            case Resolution::Resolved:
                break;
            case Resolution::Failed:
                return;
            case Resolution::Pending:
                if (state->pending.size() < MaxPendingMessages) {
                    state->pending.push_back(message);
                }
                return;
            case Resolution::NotStarted:
                state->pending.push_back(message);
                state->resolution = Resolution::Pending;
                try {
                    std::thread([resolving = state] { resolve(resolving); }).detach();
                } catch (const std::system_error&) {
                    // No thread to wait on: the remote copies are given up.
                    state->resolution = Resolution::Failed;
                    state->pending.clear();
                }
                return;
        }
    }
    try {
        state->syslog->log(message);
    } catch (const Poco::Exception&) {
        // An unreachable receiver loses this copy only.
    }
}

void ResolvingSyslogChannel::resolve(const std::shared_ptr<State>& state) {
    Resolver resolver;
    std::string logHost;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->channelGone) {
            state->resolution = Resolution::Failed;
            return;
        }
        resolver = state->resolver;
        logHost = state->logHost;
    }

    // Neither the name service nor opening the socket (which asks for this machine's name)
    // holds the lock: log calls meanwhile only queue.
    bool opened = false;
    try {
        const Poco::Net::SocketAddress address = resolver(logHost);
        state->syslog->setProperty(LogHostProperty, address.toString());
        state->syslog->open();
        opened = true;
    } catch (...) {
        // Resolution failed for good: nothing is sent from now on.
    }

    std::lock_guard<std::mutex> lock(state->mutex);
    if (!opened || state->channelGone) {
        state->resolution = Resolution::Failed;
        state->pending.clear();
        return;
    }
    // Still under the lock, so that no later message overtakes the waiting ones.
    for (const Poco::Message& message : state->pending) {
        try {
            state->syslog->log(message);
        } catch (const Poco::Exception&) {
        }
    }
    state->pending.clear();
    state->resolution = Resolution::Resolved;
}

}  // namespace OrvaneClient
