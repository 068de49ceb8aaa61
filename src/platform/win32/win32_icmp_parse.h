// Reading what IcmpSendEcho2 leaves in its reply buffer, kept apart from the calls so that unit
// tests reach it with recorded bytes: buffer, reply count and last error in, an outcome out.
// Pure functions; any thread.
//
// The system's IP_* status numbers are the ones the core reasons with, so they pass unchanged
// (11010 timed out, 11013 time-to-live expired in transit, 11003 host unreachable, ...); a
// status outside that range, or a Win32 error that is no IP_* status, becomes 11050 (general
// failure), which the core counts as lost like every status but 0 and 11013.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/icmp_api.h"

namespace quillon::win32 {

constexpr uint32_t kIcmpStatusFirst = 11000;  // IP_STATUS_BASE
constexpr uint32_t kIcmpStatusGeneralFailure = 11050;

// The layout of one ICMP_ECHO_REPLY in a 64-bit process: address, status, round trip (4 bytes
// each), data size and reserved (2 each), data pointer (8), option information (16).
constexpr size_t kEchoReplyRecordSize = 40;

struct EchoOutcome {
    bool answered = false;  // something came back within the time-out (maybe an error status)
    EchoReply reply;
};

// The outcome of an echo: `replies` is what IcmpSendEcho2 or IcmpParseReplies returned and
// `lastError` what GetLastError said when that was 0.
EchoOutcome EchoOutcomeOf(const uint8_t* buffer, size_t size, uint32_t replies, uint32_t lastError);

}  // namespace quillon::win32
