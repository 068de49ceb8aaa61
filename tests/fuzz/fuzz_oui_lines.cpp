// Fuzzes the readers of the vendor lists: the downloaded manuf list and the IEEE registry's text
// listing. Beyond not crashing: the list reader agrees with the line reader line by line and
// counts the lines; every entry is a 24-, 28- or 36-bit block of upper-case digits with a
// vendor that is valid UTF-8 and has no trailing blanks; an entry written back as a line reads
// back the same; and the table answers each block with the vendor of its last entry.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "discovery/oui_table.h"
#include "fuzz_check.h"

namespace {

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void CheckEntry(const quillon::OuiEntry& entry) {
    const size_t digits = entry.prefix.size();
    Check(digits == 6 || digits == 7 || digits == 9);
    Check(std::all_of(entry.prefix.begin(), entry.prefix.end(), IsUpperHex));
    Check(!entry.vendor.empty() && quillon::IsValidUtf8(entry.vendor));
    const char last = entry.vendor.back();
    Check(last != ' ' && last != '\t' && last != '\r');
    Check(entry.vendor.find('\n') == std::string::npos);
}

// The entry as a manuf line: "00:55:DA:50:00:00/28<TAB>short<TAB>vendor".
std::string AsLine(const quillon::OuiEntry& entry) {
    std::string digits = entry.prefix;
    if (digits.size() > 6) digits.resize(12, '0');
    std::string line;
    for (size_t i = 0; i < digits.size(); i += 2) {
        if (i > 0) line += ':';
        line += digits.substr(i, 2);
    }
    if (entry.prefix.size() == 7) line += "/28";
    if (entry.prefix.size() == 9) line += "/36";
    return line + "\tshort\t" + entry.vendor;
}

void CheckTable(const std::vector<quillon::OuiEntry>& entries) {
    quillon::OuiTable table;
    table.Add(entries);
    std::map<std::string, std::string> last;
    for (const quillon::OuiEntry& entry : entries) last[entry.prefix] = entry.vendor;
    Check(table.Size() == last.size());
    for (const auto& [prefix, vendor] : last) {
        const std::string* found = table.LookupPrefix(prefix);
        Check(found != nullptr && *found == vendor);
        std::string address = prefix;
        address.resize(12, '0');
        Check(table.FindVendor(address) != nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    size_t lines = 0;
    const std::vector<quillon::OuiEntry> entries = quillon::ParseOuiList(text, &lines);
    const auto newlines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    Check(lines == newlines + (!text.empty() && text.back() != '\n' ? 1 : 0));
    size_t next = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        if (const auto entry = quillon::ParseOuiLine(text.substr(start, end - start))) {
            Check(next < entries.size() && entries[next] == *entry);
            ++next;
        }
        start = end + 1;
    }
    Check(next == entries.size());
    for (const quillon::OuiEntry& entry : entries) {
        CheckEntry(entry);
        Check(quillon::ParseOuiLine(AsLine(entry)) == entry);
    }
    CheckTable(entries);

    const std::vector<quillon::OuiEntry> registry = quillon::ParseIeeeRegistryText(text);
    size_t blocks = 0;
    for (size_t at = text.find("(base 16)"); at != std::string_view::npos;
         at = text.find("(base 16)", at + 1)) {
        ++blocks;
    }
    Check(registry.size() <= blocks);
    for (const quillon::OuiEntry& entry : registry) CheckEntry(entry);
    CheckTable(registry);

    const std::string hex = quillon::NormalizeMac(text);
    Check(std::all_of(hex.begin(), hex.end(), IsUpperHex));
    Check(hex.size() == static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
              return IsUpperHex(c) || (c >= 'a' && c <= 'f');
          })));
    return 0;
}
