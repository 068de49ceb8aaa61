// Files: durable replacement of small per-user files (service definitions, caches, saved
// credentials), so that a crash or power cut leaves either the old file or the new one, never
// a torn one. Reading, listing and deleting need no port: the core uses std::filesystem.
// Any thread may call; calls on different paths are independent.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

struct FileWriteResult {
    bool ok = false;
    int error = 0;  // system error code when !ok
};

class Files {
public:
    virtual ~Files() = default;

    // Writes bytes to a temporary file beside `path`, flushes it to the disk and renames it over
    // `path`. The folder must exist. ownerOnly makes the file readable by its owner alone.
    virtual FileWriteResult ReplaceFile(const std::string& path, std::string_view bytes,
                                        bool ownerOnly) = 0;
};

}  // namespace quillon
