// Turns the UTF-8 path texts the core keeps into std::filesystem paths (and back) without
// passing through the Windows ANSI code page.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillon {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

inline std::filesystem::path FsPath(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace quillon
