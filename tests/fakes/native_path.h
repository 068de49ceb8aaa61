// Test paths are written with '/'; the core joins paths with this platform's separator, so
// expected texts are turned into that form before they are compared.
#pragma once

#include <algorithm>
#include <string>

#include "base/fs_path.h"

namespace quillon::test {

inline std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '/', kPathSeparator);
    return path;
}

}  // namespace quillon::test
