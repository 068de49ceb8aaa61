// Secrets: protection of small secrets (telemetry token, gateway password) for the current
// user, so that a copied file or value is useless to anybody else. Any thread may call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

class Secrets {
public:
    virtual ~Secrets() = default;
    // Encrypts bytes for the current user; the description travels with the protected data.
    // Nothing on failure.
    virtual std::optional<std::vector<uint8_t>> Protect(const std::vector<uint8_t>& plain,
                                                        const std::string& description) = 0;
    // Decrypts what Protect produced for this user. Nothing when the data was tampered with,
    // belongs to another user or cannot be read.
    virtual std::optional<std::vector<uint8_t>> Unprotect(
        const std::vector<uint8_t>& protectedData) = 0;
};

}  // namespace quillon
