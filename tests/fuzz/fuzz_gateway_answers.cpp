// Fuzzes what the gateway and the saved sign-ins file may hold: the gateway's description and
// session token, and the file as a person or a damaged disk may leave it. Beyond not crashing
// or reading past the text: a CSRF token is never longer than its limit, and whatever the file
// held reads back the same once written out again.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_credentials.h"
#include "platform/files.h"
#include "platform/secrets.h"

namespace {

// Seals by reversing the bytes behind a marker, so that any password round-trips.
class ReversingSecrets final : public quillon::Secrets {
public:
    std::optional<std::vector<uint8_t>> Protect(const std::vector<uint8_t>& plain,
                                                const std::string&) override {
        std::vector<uint8_t> sealed = {'R'};
        sealed.insert(sealed.end(), plain.rbegin(), plain.rend());
        return sealed;
    }
    std::optional<std::vector<uint8_t>> Unprotect(const std::vector<uint8_t>& data) override {
        if (data.empty() || data[0] != 'R') return std::nullopt;
        return std::vector<uint8_t>(data.rbegin(), data.rend() - 1);
    }
};

class NoFiles final : public quillon::Files {
public:
    quillon::FileWriteResult ReplaceFile(const std::string&, std::string_view, bool) override {
        return {};
    }
};

bool Same(const quillon::GatewayCredentials& a, const quillon::GatewayCredentials& b) {
    return a.host == b.host && a.gatewayMac == b.gatewayMac && a.username == b.username &&
           a.password == b.password && a.token == b.token && a.csrfToken == b.csrfToken &&
           a.certificateSha256 == b.certificateSha256;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    quillon::ReadUniFiSystem(text);
    const std::string csrf = quillon::CsrfTokenFromSessionToken(text);
    Check(csrf.size() <= 255);

    NoFiles files;
    ReversingSecrets secrets;
    quillon::GatewayCredentialStore store("", files, &secrets);
    const quillon::CredentialMap map = store.Decode(text);
    const quillon::CredentialMap again = store.Decode(store.Encode(map));
    Check(again.size() == map.size());
    for (const auto& [mac, record] : map) {
        Check(!mac.empty() && mac == record.gatewayMac);
        const auto found = again.find(mac);
        Check(found != again.end() && Same(record, found->second));
    }
    return 0;
}
