// Bearer tokens: 32 random bytes from OpenSSL's generator written as 64 lower-case hex digits.
// The database keeps only their SHA-256 (hex), so tokens are compared by hash.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon::server {

// nullopt when the generator cannot give random bytes (then no token is handed out).
std::optional<std::string> NewToken();
std::string Sha256Hex(std::string_view text);

}  // namespace quillon::server
