// Received HTTP header lines read into name/value pairs, the same way for every HTTP adapter:
// names and values trimmed, in the order received, a folded line continuing the previous
// value, status lines and lines without a name left out. Pure functions.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon {

using HeaderPairs = std::vector<std::pair<std::string, std::string>>;

// Adds one received header line ("Name: value\r\n") to headers.
void AddHeaderLine(std::string_view line, HeaderPairs& headers);

// The pairs of a whole raw header block (status line, header lines, blank line).
HeaderPairs HeadersOfBlock(std::string_view block);

}  // namespace quillon
