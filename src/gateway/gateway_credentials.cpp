#include "gateway/gateway_credentials.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/base64.h"
#include "base/fs_path.h"
#include "base/small_file.h"
#include "platform/files.h"
#include "platform/secrets.h"

namespace quillon {

namespace {

constexpr const char* kHeader =
    "# UniFi credentials (do not commit to source control)\n"
    "# Indexed by gateway MAC address\n"
    "# Passwords are encrypted using Windows DPAPI\n"
    "\n";
constexpr const char* kPasswordDescription = "UniFiPassword";
// A file of saved sign-ins is a few hundred bytes per gateway.
constexpr std::uintmax_t kMaxFileBytes = 1024 * 1024;

// A line break in a value would start a line of its own (a forged key or section).
bool FitsOnALine(const std::string& text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool FitsTheFile(const GatewayCredentials& r) {
    return !r.gatewayMac.empty() && r.gatewayMac.find(']') == std::string::npos &&
           FitsOnALine(r.gatewayMac) && FitsOnALine(r.host) && FitsOnALine(r.username) &&
           FitsOnALine(r.token) && FitsOnALine(r.csrfToken) && FitsOnALine(r.certificateSha256);
}

}  // namespace

std::string TrimWhitespace(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string GatewayCredentialStore::Encode(const CredentialMap& map) const {
    std::string out = kHeader;
    for (const auto& [mac, r] : map) {
        out += "[" + mac + "]\n";
        out += "host=" + r.host + "\n";
        out += "username=" + r.username + "\n";
        if (!r.password.empty()) {
            std::optional<std::vector<uint8_t>> sealed;
            if (secrets_ != nullptr) {
                sealed =
                    secrets_->Protect({r.password.begin(), r.password.end()}, kPasswordDescription);
            }
            out += sealed ? "password=" + Base64Encode(*sealed) + "\n"
                          : "# Warning: Password encryption failed\n";
        }
        if (!r.token.empty()) out += "token=" + r.token + "\n";
        if (!r.csrfToken.empty()) out += "csrf=" + r.csrfToken + "\n";
        if (!r.certificateSha256.empty()) out += "cert=" + r.certificateSha256 + "\n";
        out += "\n";
    }
    return out;
}

CredentialMap GatewayCredentialStore::Decode(const std::string& text) const {
    CredentialMap map;
    GatewayCredentials record;
    bool collecting = false;
    const auto keep = [&] {
        if (collecting && !record.gatewayMac.empty()) map[record.gatewayMac] = record;
    };
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = TrimWhitespace(text.substr(at, end - at));
        at = end + 1;
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            keep();
            record = {};
            record.gatewayMac = line.substr(1, line.size() - 2);
            collecting = true;
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = TrimWhitespace(line.substr(0, equals));
        const std::string value = TrimWhitespace(line.substr(equals + 1));
        if (key == "host") {
            record.host = value;
        } else if (key == "username") {
            record.username = value;
        } else if (key == "password") {
            record.password.clear();
            const auto sealed = Base64Decode(value);
            const auto plain =
                sealed && secrets_ != nullptr ? secrets_->Unprotect(*sealed) : std::nullopt;
            if (plain) record.password.assign(plain->begin(), plain->end());
        } else if (key == "token") {
            record.token = value;
        } else if (key == "csrf") {
            record.csrfToken = value;
        } else if (key == "cert") {
            record.certificateSha256 = value;
        }
    }
    keep();
    return map;
}

CredentialMap GatewayCredentialStore::Load() const {
    if (path_.empty()) return {};
    const SmallFile file = ReadSmallFile(path_, kMaxFileBytes);
    return file.text ? Decode(*file.text) : CredentialMap{};
}

bool GatewayCredentialStore::Save(const GatewayCredentials& record) {
    if (path_.empty() || !FitsTheFile(record)) return false;
    CredentialMap map = Load();
    map[record.gatewayMac] = record;
    return Write(map);
}

bool GatewayCredentialStore::ForgetAll() {
    if (path_.empty()) return false;
    std::error_code ec;
    std::filesystem::remove(FsPath(path_), ec);
    return !ec;
}

bool GatewayCredentialStore::Write(const CredentialMap& map) {
    std::error_code ec;
    std::filesystem::create_directories(FsPath(path_).parent_path(), ec);
    return files_.ReplaceFile(path_, Encode(map), /*ownerOnly=*/true).ok;
}

}  // namespace quillon
