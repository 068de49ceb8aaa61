#include "discovery/oui_table.h"

#include "base/standard_numbers.h"
#include "base/utf8.h"

namespace quillon {

namespace {

char UpperHex(char c) {
    return (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view Trim(std::string_view text) {
    text = TrimRight(text);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return text;
}

// Names are shown on the page, whose JSON must be valid UTF-8: a broken byte sequence becomes
// the replacement character, as decoding the list into wide text would make it.
std::string CleanVendor(std::string_view vendor) {
    if (IsValidUtf8(vendor)) return std::string(vendor);
    return toUtf8(fromUtf8(vendor));
}

// Calls `each` with every line of `text` (without its "\n"); a last line without one counts.
template <typename Each>
size_t ForEachLine(std::string_view text, Each each) {
    size_t lines = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        each(text.substr(0, end));
        ++lines;
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The six upper-case digits of a registry prefix written "00-22-72" (or "002272"); nothing
// when the token holds anything else.
std::optional<std::string> RegistryHex(std::string_view token) {
    std::string hex;
    for (const char c : token) {
        if (c == '-') continue;
        if (HexDigitValue(c) < 0) return std::nullopt;
        hex += UpperHex(c);
    }
    if (hex.size() != 6) return std::nullopt;
    return hex;
}

// The digits a registry range "900000-9FFFFF" adds to its 24-bit prefix: those that start and
// end share, when the rest runs from all zeros to all Fs. Nothing for any other range.
std::optional<std::string> RangeDigits(std::string_view range) {
    const size_t dash = range.find('-');
    const auto start = RegistryHex(range.substr(0, dash));
    const auto end = RegistryHex(range.substr(dash + 1));
    if (!start || !end) return std::nullopt;
    size_t shared = 0;
    while (shared < 6 && (*start)[shared] == (*end)[shared]) ++shared;
    for (size_t i = shared; i < 6; ++i) {
        if ((*start)[i] != '0' || (*end)[i] != 'F') return std::nullopt;
    }
    if (shared != 0 && shared != 1 && shared != 3) return std::nullopt;
    return start->substr(0, shared);
}

}  // namespace

std::optional<OuiEntry> ParseOuiLine(std::string_view line) {
    if (line.empty() || line.front() == '#') return std::nullopt;
    const size_t firstTab = line.find('\t');
    if (firstTab == std::string_view::npos) return std::nullopt;
    const std::string_view field = line.substr(0, firstTab);

    // The long name when there is one, else the short one.
    const size_t secondTab = line.find('\t', firstTab + 1);
    std::string_view vendor;
    if (secondTab != std::string_view::npos && secondTab + 1 < line.size()) {
        vendor = line.substr(secondTab + 1);
    } else {
        vendor = line.substr(firstTab + 1, secondTab == std::string_view::npos
                                               ? std::string_view::npos
                                               : secondTab - firstTab - 1);
    }
    vendor = TrimRight(vendor);
    if (vendor.empty()) return std::nullopt;

    std::string key;
    const size_t slash = field.find('/');
    for (const char c : field.substr(0, slash)) {
        if (HexDigitValue(c) >= 0) key += UpperHex(c);
    }
    size_t allowed = 6;
    if (slash != std::string_view::npos) {
        const std::string_view mask = field.substr(slash + 1);
        if (mask == "28") allowed = 7;
        if (mask == "36") allowed = 9;
    }
    if (key.size() > allowed) {
        key.resize(allowed);
    } else if (key.size() < 6) {
        return std::nullopt;
    }
    // A short 36-bit block can leave 8 digits, a length no look-up asks for.
    if (key.size() == 8) return std::nullopt;
    return OuiEntry{std::move(key), CleanVendor(vendor)};
}

std::vector<OuiEntry> ParseOuiList(std::string_view text, size_t* linesRead) {
    std::vector<OuiEntry> entries;
    const size_t lines = ForEachLine(text, [&](std::string_view line) {
        if (auto entry = ParseOuiLine(line)) entries.push_back(std::move(*entry));
    });
    if (linesRead) *linesRead = lines;
    return entries;
}

std::vector<OuiEntry> ParseIeeeRegistryText(std::string_view text) {
    // Each block takes two lines: "00-22-72   (hex)<TAB><TAB>Name" gives the 24-bit prefix,
    // the "(base 16)" line after it the range within it (or the prefix again).
    std::vector<OuiEntry> entries;
    std::optional<std::string> prefix;
    std::string_view prefixName;
    ForEachLine(text, [&](std::string_view line) {
        if (const size_t at = line.find("(hex)"); at != std::string_view::npos) {
            prefix = RegistryHex(Trim(line.substr(0, at)));
            prefixName = Trim(line.substr(at + 5));
            return;
        }
        const size_t at = line.find("(base 16)");
        if (at == std::string_view::npos || !prefix) return;
        const std::string_view token = Trim(line.substr(0, at));
        std::string key = *prefix;
        prefix.reset();
        if (token.find('-') != std::string_view::npos) {
            const auto digits = RangeDigits(token);
            if (!digits) return;
            key += *digits;
        }
        std::string_view name = Trim(line.substr(at + 9));
        if (name.empty()) name = prefixName;
        if (name.empty()) return;
        entries.push_back(OuiEntry{std::move(key), CleanVendor(name)});
    });
    return entries;
}

std::string NormalizeMac(std::string_view text) {
    std::string hex;
    hex.reserve(12);
    for (const char c : text) {
        if (HexDigitValue(c) >= 0) hex += UpperHex(c);
    }
    return hex;
}

std::optional<uint64_t> OuiTable::KeyOf(std::string_view hex, size_t digits) {
    if (hex.size() < digits) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 0; i < digits; ++i) {
        const int digit = HexDigitValue(hex[i]);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    return value << 4 | digits;
}

void OuiTable::Add(const OuiEntry& entry) {
    const size_t digits = entry.prefix.size();
    if (digits != 6 && digits != 7 && digits != 9) return;
    if (const auto key = KeyOf(entry.prefix, digits)) vendors_.insert_or_assign(*key, entry.vendor);
}

void OuiTable::Add(const std::vector<OuiEntry>& entries) {
    vendors_.reserve(vendors_.size() + entries.size());
    for (const OuiEntry& entry : entries) Add(entry);
}

const std::string* OuiTable::Find(std::string_view hex, size_t digits) const {
    const auto key = KeyOf(hex, digits);
    if (!key) return nullptr;
    const auto it = vendors_.find(*key);
    return it == vendors_.end() ? nullptr : &it->second;
}

const std::string* OuiTable::LookupPrefix(std::string_view hex) const {
    for (const size_t digits : {9, 7, 6}) {
        if (hex.size() < digits) continue;
        if (const std::string* vendor = Find(hex, digits)) return vendor;
    }
    return nullptr;
}

const std::string* OuiTable::FindVendor(std::string_view mac) const {
    std::string hex = NormalizeMac(mac);
    if (hex.size() < 6) return nullptr;
    if (const std::string* vendor = LookupPrefix(hex)) return vendor;

    const auto first = static_cast<unsigned>(HexDigitValue(hex[0]) << 4 | HexDigitValue(hex[1]));
    const auto withFirst = [&](unsigned octet) {
        std::string changed = hex;
        changed[0] = kHexDigits[octet >> 4];
        changed[1] = kHexDigits[octet & 0xF];
        return LookupPrefix(changed);
    };
    // Group and locally administered addresses: the maker's own prefix has both bits clear.
    if (first & 0x03) {
        if (const std::string* vendor = withFirst(first & 0xFC)) return vendor;
    }
    if (first & 0x02) {
        for (const unsigned low : {0x0u, 0x4u, 0x8u, 0xCu}) {
            const unsigned candidate = (first & 0xF0) | low;
            if (candidate == first) continue;
            if (const std::string* vendor = withFirst(candidate)) return vendor;
        }
    }
    const auto third = static_cast<unsigned>(HexDigitValue(hex[4]) << 4 | HexDigitValue(hex[5]));
    if (third & 0x01) {
        std::string changed = hex;
        changed[5] = kHexDigits[(third & 0xFE) & 0xF];
        return LookupPrefix(changed);
    }
    return nullptr;
}

}  // namespace quillon
