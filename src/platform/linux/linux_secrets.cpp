#include "platform/linux/linux_secrets.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "base/log.h"

namespace quillon::lnx {

namespace {

constexpr char kMagic[4] = {'Q', 'S', 'K', '1'};
constexpr size_t kNonceBytes = 12;
constexpr size_t kTagBytes = 16;

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

bool ReadExactly(int fd, uint8_t* into, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, into + got, size - got);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    uint8_t extra = 0;
    return read(fd, &extra, 1) == 0;  // exactly the key, nothing after it
}

}  // namespace

std::optional<LinuxSecrets::Key> LinuxSecrets::GetKey(bool create) {
    std::lock_guard lock(mutex_);
    if (key_) return key_;
    if (folder_.empty()) return std::nullopt;
    const std::string path = folder_ + "/" + kKeyFileName;
    Key key{};
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0) {
            struct stat st {};
            const bool ours = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                              st.st_uid == geteuid() && (st.st_mode & 077) == 0;
            const bool read = ours && ReadExactly(fd, key.data(), key.size());
            close(fd);
            if (!ours) {
                LogWrite(Error, "Secret key file %s is not private to this user - not used",
                         path.c_str());
                return std::nullopt;
            }
            if (!read) {
                LogWrite(Error, "Secret key file %s is damaged - not used", path.c_str());
                return std::nullopt;
            }
            key_ = key;
            return key_;
        }
        if (errno != ENOENT || !create) return std::nullopt;
        CreateDirectoryTree(folder_);
        if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) return std::nullopt;
        const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out < 0) {
            if (errno == EEXIST) continue;  // another process made it first: use theirs
            LogWrite(Error, "Cannot create secret key file %s (errno %d)", path.c_str(), errno);
            return std::nullopt;
        }
        const bool written =
            write(out, key.data(), key.size()) == static_cast<ssize_t>(key.size()) &&
            fsync(out) == 0;
        close(out);
        if (!written) {
            unlink(path.c_str());
            return std::nullopt;
        }
        key_ = key;
        return key_;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> LinuxSecrets::Protect(const std::vector<uint8_t>& plain,
                                                          const std::string& description) {
    const std::optional<Key> key = GetKey(true);
    if (!key || description.size() > 0xFFFF) return std::nullopt;
    // Byte by byte: GCC 12 at -O3 takes range copies into a fresh vector for overflows.
    std::vector<uint8_t> out;
    out.reserve(6 + description.size() + kNonceBytes + kTagBytes + plain.size());
    for (const char c : kMagic) out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(description.size() >> 8));
    out.push_back(static_cast<uint8_t>(description.size() & 0xFF));
    for (const char c : description) out.push_back(static_cast<uint8_t>(c));
    const size_t nonceAt = out.size();
    out.resize(nonceAt + kNonceBytes + kTagBytes + plain.size());
    uint8_t* nonce = out.data() + nonceAt;
    uint8_t* tag = nonce + kNonceBytes;
    uint8_t* cipher = tag + kTagBytes;
    if (RAND_bytes(nonce, kNonceBytes) != 1) return std::nullopt;

    CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int len = 0;
    const auto* aad = reinterpret_cast<const uint8_t*>(description.data());
    if (!ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key->data(), nonce) != 1 ||
        EVP_EncryptUpdate(ctx.get(), nullptr, &len, aad, static_cast<int>(description.size())) !=
            1 ||
        EVP_EncryptUpdate(ctx.get(), cipher, &len, plain.data(), static_cast<int>(plain.size())) !=
            1 ||
        EVP_EncryptFinal_ex(ctx.get(), cipher + len, &len) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, tag) != 1) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::vector<uint8_t>> LinuxSecrets::Unprotect(const std::vector<uint8_t>& data) {
    if (data.size() < 6 || std::memcmp(data.data(), kMagic, 4) != 0) return std::nullopt;
    const size_t descriptionBytes = (size_t{data[4]} << 8) | data[5];
    const size_t nonceAt = 6 + descriptionBytes;
    if (data.size() < nonceAt + kNonceBytes + kTagBytes) return std::nullopt;
    const std::optional<Key> key = GetKey(false);
    if (!key) return std::nullopt;
    const uint8_t* nonce = data.data() + nonceAt;
    std::array<uint8_t, kTagBytes> tag{};
    std::memcpy(tag.data(), nonce + kNonceBytes, kTagBytes);
    const uint8_t* cipher = nonce + kNonceBytes + kTagBytes;
    const auto cipherBytes = static_cast<int>(data.size() - nonceAt - kNonceBytes - kTagBytes);
    std::vector<uint8_t> plain(static_cast<size_t>(cipherBytes));

    CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    int len = 0;
    if (!ctx ||
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key->data(), nonce) != 1 ||
        EVP_DecryptUpdate(ctx.get(), nullptr, &len, data.data() + 6,
                          static_cast<int>(descriptionBytes)) != 1 ||
        EVP_DecryptUpdate(ctx.get(), plain.data(), &len, cipher, cipherBytes) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes, tag.data()) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), plain.data() + len, &len) != 1) {
        return std::nullopt;  // tampered with, or sealed under another key
    }
    return plain;
}

}  // namespace quillon::lnx
