#include "platform/linux/linux_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

namespace quillon::lnx {

namespace {

bool WriteAll(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

FileWriteResult ReplaceFileDurably(const std::string& path, std::string_view bytes,
                                   bool ownerOnly) {
    static std::atomic<uint32_t> counter{0};
    const std::string temporary =
        path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, ownerOnly ? 0600 : 0644);
    if (fd < 0) return {false, errno};
    int error = 0;
    if (!WriteAll(fd, bytes) || fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        return {false, error};
    }
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return {true, 0};
}

FileWriteResult LinuxFiles::ReplaceFile(const std::string& path, std::string_view bytes,
                                        bool ownerOnly) {
    return ReplaceFileDurably(path, bytes, ownerOnly);
}

}  // namespace quillon::lnx
