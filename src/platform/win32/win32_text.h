// UTF-8 (the ports' text) to and from UTF-16 (the Win32 calls' text), with the core's own
// conversions so that both builds treat ill-formed text alike.
#pragma once

#include <string>
#include <string_view>

#include "base/utf8.h"

namespace quillon::win32 {

inline std::wstring Wide(std::string_view utf8) {
    const std::u16string units = fromUtf8(utf8);
    return std::wstring(units.begin(), units.end());
}

inline std::string Narrow(std::wstring_view wide) {
    return toUtf8(std::u16string(wide.begin(), wide.end()));
}

// A text the system may leave out (a null pointer): empty then.
inline std::string Narrow(const wchar_t* wide) {
    return wide != nullptr ? Narrow(std::wstring_view(wide)) : std::string();
}

}  // namespace quillon::win32
