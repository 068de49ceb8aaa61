// Reads a small per-user file (a cache, a list, a definition) whole, refusing one larger than
// the caller's bound instead of reading it into memory. Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillon {

enum class SmallFileError { None, Missing, TooLarge, Unreadable };

struct SmallFile {
    std::optional<std::string> text;  // the bytes; nothing on error
    SmallFileError error = SmallFileError::None;
};

// path is UTF-8.
SmallFile ReadSmallFile(const std::string& path, std::uintmax_t maxBytes);

}  // namespace quillon
