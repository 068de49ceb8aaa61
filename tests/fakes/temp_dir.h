// TempDir: a fresh folder under /tmp for a test, removed with everything in it at the end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <system_error>

namespace quillon::test {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/quillon-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace quillon::test
