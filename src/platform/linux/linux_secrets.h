// LinuxSecrets: the Secrets port on Linux. Small secrets are sealed with AES-256-GCM under a
// per-user key of 32 random bytes kept in "secret.key" in the data folder, a file only its
// owner may read (mode 0600, created once with O_EXCL so that two processes agree on one key).
// A sealed value is "QSK1", the description's length (2 bytes) and text, a 12-byte nonce, the
// 16-byte tag and the ciphertext; the description is authenticated with it. Without the key
// file (another user, another machine) nothing can be unsealed.
//
// Any thread; the key is read (or made) on first use under a lock.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>

#include "platform/secrets.h"

namespace quillon::lnx {

class LinuxSecrets final : public Secrets {
public:
    // folder: where the key file lives (created if missing); empty: every call fails.
    explicit LinuxSecrets(std::string folder) : folder_(std::move(folder)) {}

    std::optional<std::vector<uint8_t>> Protect(const std::vector<uint8_t>& plain,
                                                const std::string& description) override;
    std::optional<std::vector<uint8_t>> Unprotect(
        const std::vector<uint8_t>& protectedData) override;

    static constexpr const char* kKeyFileName = "secret.key";

private:
    using Key = std::array<uint8_t, 32>;
    // The key, read from or written to the key file; nothing when neither works.
    std::optional<Key> GetKey(bool create);

    const std::string folder_;
    std::mutex mutex_;
    std::optional<Key> key_;
};

}  // namespace quillon::lnx
