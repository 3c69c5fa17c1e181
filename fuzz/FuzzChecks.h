#pragma once

// Checks shared by the fuzz targets. A failed check aborts, which libFuzzer reports as a crash
// and keeps the input that caused it.

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"
#include "core/messaging/ProtobufReader.h"

#include <Poco/AutoPtr.h>
#include <Poco/Logger.h>
#include <Poco/NullChannel.h>
#include <google/protobuf/stubs/logging.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace OrvaneClient::Fuzzing {

// Every rejected input logs (our warnings, the protobuf library's parse errors); nobody reads
// them here, and writing them would slow each run down.
inline void SilenceLogs() {
    Poco::Logger::setChannel("", Poco::AutoPtr<Poco::Channel>(new Poco::NullChannel));
    google::protobuf::SetLogHandler(nullptr);
}

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Check(bool condition, const char* what) {
    if (!condition) {
        Fail(what);
    }
}

// What a typed parse function must return: false for a header that announces no body or more
// bytes than there are, otherwise what a direct parse of the announced bytes gives, with the
// same message.
template <typename Message>
void CheckParseAgrees(bool (*parse)(const std::vector<char>&,
                                    const qovex::protocols::pb::Header&,
                                    Message&),
                      const std::vector<char>& contentBuffer,
                      const qovex::protocols::pb::Header& header) {
    Message parsed;
    const bool ok = parse(contentBuffer, header, parsed);
    if (header.size() == 0 || contentBuffer.size() < header.size()) {
        Check(!ok, "a parse function accepted a body shorter than the header announces");
        return;
    }
    Message direct;
    const bool directOk =
        direct.ParseFromArray(contentBuffer.data(), static_cast<int>(header.size()));
    Check(ok == directOk, "a parse function disagrees with a direct parse");
    if (ok) {
        Check(parsed.SerializeAsString() == direct.SerializeAsString(),
              "a parse function filled another message than a direct parse");
    }
}

inline void CheckAllParsesAgree(const std::vector<char>& contentBuffer,
                                const qovex::protocols::pb::Header& header) {
    CheckParseAgrees(&ProtobufReader::parseFixDirectoryPrivilegesRequest, contentBuffer, header);
    CheckParseAgrees(&ProtobufReader::parseLaunchElevatedRequest, contentBuffer, header);
    CheckParseAgrees(&ProtobufReader::parseLaunchElevatedResponse, contentBuffer, header);
    CheckParseAgrees(&ProtobufReader::parseLibraryInfoResponse, contentBuffer, header);
}

}  // namespace OrvaneClient::Fuzzing
