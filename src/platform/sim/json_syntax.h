// Strict JSON syntax check for scenario files. The application's JSON parser is deliberately
// lenient (it keeps what it could read), which would let a truncated or mistyped scenario load
// as a smaller world; scenario files are checked with this first so that the author learns
// where the text went wrong. A pure function over the text; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon::sim {

// Nothing when text is exactly one JSON value (surrounded by whitespace at most) with no
// member repeated within an object; otherwise "line L, column C: what was wrong".
std::optional<std::string> FindJsonSyntaxError(std::string_view text);

}  // namespace quillon::sim
