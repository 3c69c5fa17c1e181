#include <Poco/Net/Net.h>

// Linked into every test executable. POCO starts Winsock by itself only in MSVC builds, so a
// mingw-built suite would fail every socket test with "Net subsystem not initialized". Elsewhere
// both calls do nothing.
namespace {

const struct NetworkStartup {
    NetworkStartup() { Poco::Net::initializeNetwork(); }
    ~NetworkStartup() { Poco::Net::uninitializeNetwork(); }
} networkStartup;

}  // namespace
