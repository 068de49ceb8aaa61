// Win32Secrets: the Secrets port over DPAPI. Data is protected for the current user with no
// extra entropy and never a prompt; the description travels inside the protected blob.
// Stateless; any thread may call.
#pragma once

#include "platform/secrets.h"

namespace quillon::win32 {

class Win32Secrets final : public Secrets {
public:
    std::optional<std::vector<uint8_t>> Protect(const std::vector<uint8_t>& plain,
                                                const std::string& description) override;
    std::optional<std::vector<uint8_t>> Unprotect(
        const std::vector<uint8_t>& protectedData) override;
};

}  // namespace quillon::win32
