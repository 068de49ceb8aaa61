// UTF-8 and UTF-16 conversions used at the edges of the program: JSON text is UTF-8, the
// Windows build's system calls are UTF-16. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillon {

// The replacement character that stands for anything that cannot be converted.
constexpr char32_t kReplacementCharacter = 0xFFFD;

// Length (1 to 4) of the well-formed UTF-8 sequence that starts at `at`; 0 when the bytes there
// are not one (stray or missing continuation bytes, overlong forms, surrogates, beyond U+10FFFF).
size_t Utf8SequenceLength(std::string_view text, size_t at);

// Every byte belongs to a well-formed sequence.
bool IsValidUtf8(std::string_view text);

// Appends one code point (at most U+10FFFF) in UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view wide);
// UTF-8 to UTF-16; each maximal ill-formed subsequence (stray or missing continuation bytes,
// overlong forms, encoded surrogates, code points above U+10FFFF) becomes one U+FFFD.
std::u16string fromUtf8(std::string_view bytes);

}  // namespace quillon
