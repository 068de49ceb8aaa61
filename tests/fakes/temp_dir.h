// TempDir: a fresh folder in the system's temporary folder for a test, removed with everything
// in it at the end.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace quillon::test {

class TempDir {
public:
    TempDir() {
        // create_directory reports whether it made the folder, so a name some other run holds
        // is never shared: draw again.
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device random;
        for (;;) {
            path_ = base / ("quillon-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(path_)) break;
        }
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
