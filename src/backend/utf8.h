// UTF-8 and UTF-16 conversions used at the edges of the program: JSON text is UTF-8, the
// Windows build's system calls are UTF-16. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// The replacement character that stands for anything that cannot be converted.
constexpr char32_t kReplacementCharacter = 0xFFFD;

// Appends one code point (at most U+10FFFF) in UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view wide);
// UTF-8 to UTF-16; each maximal ill-formed subsequence (stray or missing continuation bytes,
// overlong forms, encoded surrogates, code points above U+10FFFF) becomes one U+FFFD.
std::u16string fromUtf8(std::string_view bytes);

}  // namespace quillon
