// Fuzzes the readers of outside text in name look-ups and address input: the origin and
// AS-name TXT strings of the IP-to-ASN service and dotted-quad addresses. Beyond not crashing,
// each result must be the piece of the input its rule names, and a parsed address must print
// back to exactly the text it came from (the strict form has one spelling per address).
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/address_text.h"
#include "discovery/name_lookups.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto asn = quillon::ParseOriginAsn(text);
    const size_t firstBar = text.find('|');
    Check(asn.has_value() == (firstBar != std::string_view::npos));
    if (asn) {
        Check(asn->size() <= firstBar && text.substr(0, asn->size()) == *asn);
        Check(asn->empty() || asn->back() != ' ');
        Check(text.substr(asn->size(), firstBar - asn->size()).find_first_not_of(' ') ==
              std::string_view::npos);
    }

    const std::string name = quillon::ParseAsName(text);
    Check(name.find('|') == std::string::npos);
    Check(name.empty() || name.front() != ' ');
    Check(name.size() <= size && text.substr(size - name.size()) == name);

    if (const auto address = quillon::Ipv4Address::Parse(text)) {
        Check(address->Text() == text);
    }
    if (size >= 4) {
        const quillon::Ipv4Address address(data[0], data[1], data[2], data[3]);
        Check(quillon::Ipv4Address::Parse(address.Text()) == address);
    }
    return 0;
}
