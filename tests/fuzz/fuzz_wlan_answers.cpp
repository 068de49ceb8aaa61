// Fuzzes the reading of nl80211 answers of the Linux WLAN adapter: a datagram of generic-netlink
// messages (the answer's sequence number is the first message's), each read as an interface, a
// scan entry, a station and a family answer and turned into the port's records; the whole input
// is also read as information elements for the security. Beyond not crashing or reading past
// the input: names stay within 32 bytes, qualities within 0..100, PHY types, authentications
// and ciphers are values of the Windows numbering, and a cut-off datagram yields a leading part
// of the whole one's messages.
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "fuzz_check.h"
#include "platform/linux/linux_wlan_parse.h"

namespace {

using namespace quillon;
using namespace quillon::lnx;

const std::set<uint32_t> kPhyTypes = {0, 4, 5, 6, 7, 8, 10, 11};
const std::set<uint32_t> kAuths = {0, 1, 3, 4, 6, 7, 8, 9, 10, 11};
const std::set<uint32_t> kCiphers = {0, 1, 2, 4, 5, 8, 9, 10, 0x101};

void CheckSecurity(const WifiSecurity& security) {
    Check(kAuths.count(security.authAlgorithm) == 1);
    Check(kCiphers.count(security.cipherAlgorithm) == 1);
}

void ReadMessage(const GenlMessage& message) {
    FamilyIdFromAnswer(message);
    std::vector<WifiBss> scan;
    std::vector<WifiStation> stations;
    if (auto bss = ParseBss(message)) {
        Check(bss->ssid.size() <= 32);
        const WlanBssEntry entry = BssEntryOf(*bss);
        Check(entry.linkQuality <= 100);
        CheckSecurity(SecurityOfElements(bss->elements.data(), bss->elements.size(), 0x0011));
        scan.push_back(std::move(*bss));
    }
    if (auto station = ParseStation(message)) {
        Check(kPhyTypes.count(PhyTypeOfLink(station->rx, station->tx, 2437)) == 1);
        stations.push_back(*station);
    }
    if (const auto interface = ParseInterface(message)) {
        Check(!interface->ssid || interface->ssid->size() <= 32);
        if (const auto quality = RealtimeQualityOf(*interface, stations)) {
            Check(quality->links.size() ==
                  (quality->isMultiLink ? interface->links.size() : size_t(1)));
        }
        if (const auto connection = ConnectionOf(*interface, scan, stations)) {
            Check(connection->ssid.size() <= 32);
            Check(connection->signalQuality <= 100);
            Check(kPhyTypes.count(connection->phyType) == 1);
            CheckSecurity({connection->authAlgorithm, connection->cipherAlgorithm});
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Heap copy of exactly `size` bytes, so that AddressSanitizer sees any read past it.
    const std::vector<uint8_t> datagram(data, data + size);
    uint32_t sequence = 0;
    if (size >= 12) std::memcpy(&sequence, datagram.data() + 8, sizeof(sequence));

    NetlinkReply whole;
    CollectReply(datagram.data(), datagram.size(), sequence, whole);
    Check(whole.messages.size() <= size / 20);  // a header and a generic header each
    for (const GenlMessage& message : whole.messages) ReadMessage(message);
    CheckSecurity(SecurityOfElements(datagram.data(), datagram.size(), uint16_t(size)));

    const size_t cut = size > 0 ? datagram[size - 1] * size / 256 : 0;
    const std::vector<uint8_t> front(datagram.begin(), datagram.begin() + std::ptrdiff_t(cut));
    NetlinkReply part;
    CollectReply(front.data(), front.size(), sequence, part);
    Check(part.messages.size() <= whole.messages.size());
    for (size_t i = 0; i < part.messages.size(); ++i) {
        Check(part.messages[i].command == whole.messages[i].command &&
              part.messages[i].attributes == whole.messages[i].attributes);
    }
    Check(!part.finished || (whole.finished && part.error == whole.error));
    return 0;
}
