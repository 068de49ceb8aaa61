// Base64 (standard alphabet, with padding) for protected secrets stored in text files and
// settings, and the URL-safe form of web tokens. Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

std::string Base64Encode(const std::vector<uint8_t>& bytes);
// Standard alphabet with padding; nullopt on anything else.
std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text);
// The URL-safe alphabet ("-" and "_"), padding optional, as in the parts of a web token.
std::optional<std::vector<uint8_t>> Base64UrlDecode(std::string_view text);

}  // namespace quillon
