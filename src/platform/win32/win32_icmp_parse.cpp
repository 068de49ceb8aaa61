#include "platform/win32/win32_icmp_parse.h"

#include <cstring>

namespace quillon::win32 {

namespace {

uint32_t ReadU32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof(value));  // the machine's order, as the system wrote it
    return value;
}

uint32_t KnownStatus(uint32_t status) {
    if (status == kIcmpStatusSuccess) return status;
    if (status >= kIcmpStatusFirst && status <= kIcmpStatusGeneralFailure) return status;
    return kIcmpStatusGeneralFailure;
}

}  // namespace

EchoOutcome EchoOutcomeOf(const uint8_t* buffer, size_t size, uint32_t replies,
                          uint32_t lastError) {
    EchoOutcome outcome;
    if (replies == 0 || buffer == nullptr || size < kEchoReplyRecordSize) {
        // Nothing in the buffer: the error says why. A local refusal (no route: host
        // unreachable) is an answer, as it is final; a time-out or a failed call is not.
        const bool ipStatus =
            replies == 0 && lastError >= kIcmpStatusFirst && lastError <= kIcmpStatusGeneralFailure;
        outcome.reply.status = ipStatus ? lastError : kIcmpStatusGeneralFailure;
        outcome.answered = ipStatus && lastError != kIcmpStatusTimedOut;
        return outcome;
    }
    const uint32_t status = KnownStatus(ReadU32(buffer + 4));
    if (status == kIcmpStatusTimedOut) return outcome;
    outcome.answered = true;
    outcome.reply.status = status;
    outcome.reply.address = Ipv4Address::FromNetworkOrder(ReadU32(buffer));
    outcome.reply.rttMs = ReadU32(buffer + 8);
    return outcome;
}

}  // namespace quillon::win32
