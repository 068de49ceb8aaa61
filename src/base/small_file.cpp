#include "base/small_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/fs_path.h"

namespace quillon {

SmallFile ReadSmallFile(const std::string& path, std::uintmax_t maxBytes) {
    namespace fs = std::filesystem;
    SmallFile file;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(FsPath(path), ec);
    if (ec) {
        file.error = ec == std::errc::no_such_file_or_directory ? SmallFileError::Missing
                                                                : SmallFileError::Unreadable;
        return file;
    }
    if (size > maxBytes) {
        file.error = SmallFileError::TooLarge;
        return file;
    }
    std::ifstream in(FsPath(path), std::ios::binary);
    std::string text(static_cast<size_t>(size), '\0');
    if (in) in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!in && !in.eof()) {
        file.error = SmallFileError::Unreadable;
        return file;
    }
    text.resize(static_cast<size_t>(in.gcount()));
    file.text = std::move(text);
    return file;
}

}  // namespace quillon
