// The typed parse functions on arbitrary bodies and announced sizes.
//
// Input: one byte of flags, four bytes of size, then the body. Flag bit 0: the header carries
// no size at all; bit 1: the size is the body's length plus the first size byte as a signed
// number (the boundaries); otherwise the four bytes, big-endian, are the size.

#include "fuzz/FuzzChecks.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    OrvaneClient::Fuzzing::SilenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    qovex::protocols::pb::Header header;
    header.set_sort(1);
    header.set_type(orvane::protocols::desktop_service::LAUNCH_ELEVATED_REQUEST);
    // Exactly the body's bytes on the heap, so that reading one past them is a sanitizer report.
    const std::vector<char> contentBuffer(data + 5, data + size);
    if ((data[0] & 2) != 0) {
        const long sized =
            static_cast<long>(contentBuffer.size()) + static_cast<std::int8_t>(data[1]);
        header.set_size(static_cast<std::uint32_t>(sized < 0 ? 0 : sized));
    } else if ((data[0] & 1) == 0) {
        header.set_size((static_cast<std::uint32_t>(data[1]) << 24) |
                        (static_cast<std::uint32_t>(data[2]) << 16) |
                        (static_cast<std::uint32_t>(data[3]) << 8) | data[4]);
    }
    OrvaneClient::Fuzzing::CheckAllParsesAgree(contentBuffer, header);
    return 0;
}
