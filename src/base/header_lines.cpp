#include "base/header_lines.h"

namespace quillon {

namespace {

std::string_view Trim(std::string_view s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

void AddHeaderLine(std::string_view line, HeaderPairs& headers) {
    if (line.rfind("HTTP/", 0) == 0) return;
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        const std::string_view more = Trim(line);
        if (!headers.empty() && !more.empty()) {
            std::string& value = headers.back().second;
            if (!value.empty()) value += ' ';
            value.append(more);
        }
        return;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return;
    headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                         std::string(Trim(line.substr(colon + 1))));
}

HeaderPairs HeadersOfBlock(std::string_view block) {
    HeaderPairs headers;
    while (!block.empty()) {
        const size_t end = block.find('\n');
        AddHeaderLine(block.substr(0, end), headers);
        block.remove_prefix(end == std::string_view::npos ? block.size() : end + 1);
    }
    return headers;
}

}  // namespace quillon
