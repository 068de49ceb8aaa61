// The vendor table behind hardware-address look-ups, and the readers of the two list formats it
// is built from: the tab-separated "manuf" list that is downloaded and cached (one block per
// line: "00:00:0C<TAB>Cisco<TAB>Cisco Systems, Inc", "00:55:DA:50:00:00/28<TAB>..."), and the
// IEEE registry's own text listing that Linux distributions ship ("00-22-72   (hex)<TAB><TAB>Name"
// followed by "002272  (base 16)..." or a range "900000-9FFFFF  (base 16)..."), used until the
// first download arrives.
//
// Everything here is pure: text in, entries or answers out. An OuiTable is built once and then
// only read, so any number of threads may look up in it at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillon {

// One address block: 6, 7 or 9 upper-case hexadecimal digits (a 24-, 28- or 36-bit prefix)
// and the name of its owner (valid UTF-8, never empty, no trailing blanks).
struct OuiEntry {
    std::string prefix;
    std::string vendor;
    bool operator==(const OuiEntry&) const = default;
};

// One line of the manuf list; nothing for blank lines, comments ('#') and lines that do not
// name a block and a vendor. A trailing "\r" is allowed.
std::optional<OuiEntry> ParseOuiLine(std::string_view line);

// Every entry of a manuf list, in file order. *linesRead, when given, counts the lines read.
std::vector<OuiEntry> ParseOuiList(std::string_view text, size_t* linesRead = nullptr);

// Every block of an IEEE registry text listing (MA-L, MA-M, MA-S or IAB), in file order.
std::vector<OuiEntry> ParseIeeeRegistryText(std::string_view text);

// The hexadecimal digits of an address in any common notation, upper-cased; everything else
// is dropped ("aa-bb-cc-dd-ee-ff", "AABB.CCDD.EEFF" and "aabbccddeeff" give the same text).
std::string NormalizeMac(std::string_view text);

class OuiTable {
public:
    // Stores an entry; a later entry for the same block replaces the earlier vendor. Entries
    // whose prefix is not 6, 7 or 9 hexadecimal digits are ignored.
    void Add(const OuiEntry& entry);
    void Add(const std::vector<OuiEntry>& entries);
    size_t Size() const { return vendors_.size(); }

    // The vendor of the longest listed block (36, then 28, then 24 bits) that the normalised
    // digits start with; null when none is listed or there are fewer than 6 digits.
    const std::string* LookupPrefix(std::string_view hex) const;

    // The maker of a hardware address given in any notation: the longest listed block, then,
    // for group or locally administered addresses, the universally administered first octet,
    // then its neighbours in the same nibble (randomised addresses of some makers keep the
    // rest of their prefix), then the third octet with its low bit cleared. Null when unknown.
    const std::string* FindVendor(std::string_view mac) const;

private:
    // Block key: the prefix's value shifted left by 4, its digit count in the low nibble.
    static std::optional<uint64_t> KeyOf(std::string_view hex, size_t digits);
    const std::string* Find(std::string_view hex, size_t digits) const;

    std::unordered_map<uint64_t, std::string> vendors_;
};

}  // namespace quillon
