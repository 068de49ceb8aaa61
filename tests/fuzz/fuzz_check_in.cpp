// Fuzzes the reader of the backend's check-in answer. Beyond not crashing: whatever it keeps is
// safe to use: a token only of bearer-token characters (it goes into a request header), the
// endpoints web addresses without blanks or line breaks, no value longer than the bound; an
// answer that is not a JSON object yields nothing at all.
#include <cstdint>
#include <string_view>

#include "backend/check_in.h"
#include "base/url.h"
#include "fuzz_check.h"

namespace {

void CheckUrl(const std::optional<std::string>& url) {
    if (!url || url->empty()) return;
    Check(url->size() <= quillon::CheckIn::kMaxValueBytes);
    Check(quillon::SplitUrl(*url).has_value());
    Check(url->find_first_of(" \r\n") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quillon::CheckInAnswer answer = quillon::ReadCheckInAnswer(text);
    if (!answer.valid) {
        Check(!answer.hasTelemetry && !answer.endpoint && !answer.token && !answer.tokenExpiresAt &&
              !answer.logUploadEndpoint);
        return 0;
    }
    Check(answer.hasTelemetry || (!answer.endpoint && !answer.token && !answer.tokenExpiresAt));
    CheckUrl(answer.endpoint);
    CheckUrl(answer.logUploadEndpoint);
    if (answer.token) {
        Check(answer.token->size() <= quillon::CheckIn::kMaxValueBytes);
        for (const char c : *answer.token) Check(c > ' ' && c < 0x7F && c != '"' && c != ',');
    }
    if (answer.tokenExpiresAt) Check(*answer.tokenExpiresAt >= 0);
    return 0;
}
