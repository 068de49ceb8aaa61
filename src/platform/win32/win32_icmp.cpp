#include "platform/win32/win32_icmp.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <cstddef>
#include <optional>
#include <vector>

#include "base/log.h"
#include "platform/win32/win32_icmp_parse.h"

namespace quillon::win32 {

namespace {

static_assert(sizeof(ICMP_ECHO_REPLY) == kEchoReplyRecordSize);
static_assert(offsetof(ICMP_ECHO_REPLY, Status) == 4 &&
              offsetof(ICMP_ECHO_REPLY, RoundTripTime) == 8);

// Room for one reply record, the echoed payload, an ICMP error's quoted header and the status
// block the system keeps at the end of the buffer.
size_t ReplyBufferSize(size_t payloadSize) {
    return sizeof(ICMP_ECHO_REPLY) + payloadSize + 8 + 2 * sizeof(void*) + 64;
}

// The system refuses a null request even when it is empty.
constexpr uint8_t kNoPayload = 0;

struct SendArguments {
    IP_OPTION_INFORMATION options{};
    IP_OPTION_INFORMATION* optionsOrNull = nullptr;
    void* data = nullptr;
    WORD size = 0;

    explicit SendArguments(const EchoRequest& request) {
        if (request.ttl != 0) {
            options.Ttl = request.ttl;
            optionsOrNull = &options;
        }
        data = request.payload != nullptr ? const_cast<uint8_t*>(request.payload)
                                          : const_cast<uint8_t*>(&kNoPayload);
        size = request.payload != nullptr ? static_cast<WORD>(request.payloadSize) : 0;
    }
};

class Win32IcmpHandle final : public IcmpHandle {
public:
    Win32IcmpHandle(HANDLE icmp, HANDLE event) : icmp_(icmp), event_(event) {}

    ~Win32IcmpHandle() override {
        IcmpCloseHandle(icmp_);  // cancels the outstanding request
        // The system may still write the reply buffer until the request completes; wait for
        // that, and should it never come, keep the buffer rather than free memory in use.
        if (inFlight_ && WaitForSingleObject(event_, timeoutMs_ + 2000) != WAIT_OBJECT_0) {
            new std::vector<uint8_t>(std::move(buffer_));  // deliberately kept
            return;
        }
        CloseHandle(event_);
    }
    Win32IcmpHandle(const Win32IcmpHandle&) = delete;
    Win32IcmpHandle& operator=(const Win32IcmpHandle&) = delete;

    bool Echo(const EchoRequest& request, EchoReply& reply) override {
        if (request.payloadSize > 0xFFFF) return false;
        std::vector<uint8_t> buffer(ReplyBufferSize(request.payloadSize));
        SendArguments args(request);
        const DWORD replies =
            IcmpSendEcho2(icmp_, nullptr, nullptr, nullptr, request.destination.NetworkOrder(),
                          args.data, args.size, args.optionsOrNull, buffer.data(),
                          static_cast<DWORD>(buffer.size()), request.timeoutMs);
        const DWORD error = replies == 0 ? GetLastError() : 0;
        const EchoOutcome outcome = EchoOutcomeOf(buffer.data(), buffer.size(), replies, error);
        if (!outcome.answered) return false;
        reply = outcome.reply;
        return true;
    }

    EchoStart StartEcho(const EchoRequest& request) override {
        if (outstanding_ || request.payloadSize > 0xFFFF) return EchoStart::Failed;
        buffer_.assign(ReplyBufferSize(request.payloadSize), 0);
        ResetEvent(event_);
        SendArguments args(request);
        const DWORD replies =
            IcmpSendEcho2(icmp_, event_, nullptr, nullptr, request.destination.NetworkOrder(),
                          args.data, args.size, args.optionsOrNull, buffer_.data(),
                          static_cast<DWORD>(buffer_.size()), request.timeoutMs);
        const DWORD error = replies == 0 ? GetLastError() : 0;
        if (replies == 0 && error == ERROR_IO_PENDING) {
            outstanding_ = true;
            inFlight_ = true;
            timeoutMs_ = request.timeoutMs;
            return EchoStart::Pending;
        }
        // Answered at once, or refused before sending (no route: an IP_* status, final).
        const EchoOutcome outcome = EchoOutcomeOf(buffer_.data(), buffer_.size(), replies, error);
        if (!outcome.answered) return EchoStart::Failed;
        outstanding_ = true;
        known_ = outcome.reply;
        return EchoStart::Completed;
    }

    bool PollEcho(EchoReply& reply) override {
        if (!outstanding_) return false;
        if (known_) {
            reply = *known_;
            known_.reset();
            outstanding_ = false;
            return true;
        }
        if (WaitForSingleObject(event_, 0) != WAIT_OBJECT_0) return false;
        inFlight_ = false;
        const DWORD replies = IcmpParseReplies(buffer_.data(), static_cast<DWORD>(buffer_.size()));
        const DWORD error = replies == 0 ? GetLastError() : 0;
        EchoOutcome outcome = EchoOutcomeOf(buffer_.data(), buffer_.size(), replies, error);
        outstanding_ = false;
        // An unanswered request completes as timed out whatever the reason.
        reply = outcome.answered ? outcome.reply : EchoReply{};
        return true;
    }

private:
    HANDLE icmp_;
    HANDLE event_;
    std::vector<uint8_t> buffer_;     // the overlapped request's replies
    bool outstanding_ = false;        // started and not yet polled to its outcome
    bool inFlight_ = false;           // the system holds buffer_ until the event is set
    std::optional<EchoReply> known_;  // an outcome known when the request was started
    uint32_t timeoutMs_ = 0;
};

}  // namespace

std::unique_ptr<IcmpHandle> Win32Icmp::Open() {
    const HANDLE icmp = IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) {
        LogWrite(LogLevel::Error, "ICMP unavailable: IcmpCreateFile failed with error %lu",
                 static_cast<unsigned long>(GetLastError()));
        return nullptr;
    }
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        IcmpCloseHandle(icmp);
        return nullptr;
    }
    return std::make_unique<Win32IcmpHandle>(icmp, event);
}

}  // namespace quillon::win32
