// Win32Icmp: the IcmpApi port over the IP Helper ICMP calls (IcmpCreateFile, IcmpSendEcho2).
// The system matches answers to requests, times the round trip and reports ICMP errors as IP_*
// statuses, so a handle is one ICMP handle and the reply buffer of its overlapped request:
// blocking echoes call IcmpSendEcho2 without an event (the system lets several threads do that
// on one handle, each with its own buffer), the overlapped echo calls it with an event that
// PollEcho checks without waiting and then reads with IcmpParseReplies. No privilege is needed,
// so Open() fails only when the system has no ICMP at all.
// The entry point creates one for the process; Open() may be called from any thread.
#pragma once

#include <memory>

#include "platform/icmp_api.h"

namespace quillon::win32 {

class Win32Icmp final : public IcmpApi {
public:
    std::unique_ptr<IcmpHandle> Open() override;
};

}  // namespace quillon::win32
