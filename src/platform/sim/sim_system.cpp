#include "platform/sim/sim_system.h"

#include <filesystem>
#include <random>
#include <stdexcept>

#include "base/fs_path.h"

namespace quillon::sim {

namespace fs = std::filesystem;

SimSystem::SimSystem() {
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("quillon-sim-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            root_ = Utf8Path(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder for the simulated system");
}

SimSystem::~SimSystem() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::string SimSystem::AppFolderPath(AppFolder kind) {
    const auto it = folders_.find(kind);
    return it == folders_.end() ? root_ : it->second;
}

bool SimSystem::OpenUrl(const std::string& url) {
    openedUrls.push_back(url);
    return true;
}

MessageBoxResult SimSystem::ShowMessageBox(const std::string& text, const std::string& caption,
                                           MessageBoxKind kind, MessageBoxButtons buttons) {
    shownMessages.push_back({text, caption, kind, buttons});
    return messageBoxAnswer;
}

}  // namespace quillon::sim
