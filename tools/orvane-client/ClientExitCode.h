#pragma once

// Exit codes of orvane-client, one per way a request can end. Listed in --help.

namespace OrvaneClient::ClientExitCode {

constexpr int Success = 0;
constexpr int ErrorReply = 1;
constexpr int Usage = 2;
constexpr int ConnectionFailed = 3;
constexpr int NoReplyTimeout = 4;
constexpr int NoReplyClosed = 5;
constexpr int UnexpectedReplyType = 6;
constexpr int UnparsableReply = 7;
constexpr int NotTheService = 8;
constexpr int ServiceNotStarted = 9;

}  // namespace OrvaneClient::ClientExitCode
