#include "platform/win32/win32_secrets.h"

#include <windows.h>
// after windows.h
#include <dpapi.h>

#include "platform/win32/win32_text.h"

namespace quillon::win32 {

namespace {

DATA_BLOB BlobOf(const std::vector<uint8_t>& bytes) {
    return DATA_BLOB{static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
}

std::vector<uint8_t> TakeBlob(DATA_BLOB& blob) {
    std::vector<uint8_t> out(blob.pbData, blob.pbData + blob.cbData);
    LocalFree(blob.pbData);
    return out;
}

}  // namespace

std::optional<std::vector<uint8_t>> Win32Secrets::Protect(const std::vector<uint8_t>& plain,
                                                          const std::string& description) {
    DATA_BLOB in = BlobOf(plain);
    DATA_BLOB out{};
    const std::wstring wideDescription = Wide(description);
    if (!CryptProtectData(&in, description.empty() ? nullptr : wideDescription.c_str(), nullptr,
                          nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        return std::nullopt;
    }
    return TakeBlob(out);
}

std::optional<std::vector<uint8_t>> Win32Secrets::Unprotect(
    const std::vector<uint8_t>& protectedData) {
    DATA_BLOB in = BlobOf(protectedData);
    DATA_BLOB out{};
    if (protectedData.empty() || !CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr,
                                                     CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        return std::nullopt;
    }
    return TakeBlob(out);
}

}  // namespace quillon::win32
