#include "discovery/lldp_frame.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "base/utf8.h"

namespace quillon {

namespace {

constexpr size_t kTlvStart = 14;  // after destination, source and EtherType

enum TlvType : unsigned {
    kEnd = 0,
    kChassisId = 1,
    kPortId = 2,
    kTimeToLive = 3,
    kPortDescription = 4,
    kSystemName = 5,
    kSystemDescription = 6,
    kManagementAddress = 8,
    kOrganizationSpecific = 127,
};

// Switches send whatever bytes their configuration holds; the record is UTF-8 throughout, so
// anything ill-formed becomes U+FFFD instead of reaching the page as broken text.
std::string Utf8Text(const uint8_t* value, size_t length) {
    const std::string_view raw(reinterpret_cast<const char*>(value), length);
    return IsValidUtf8(raw) ? std::string(raw) : toUtf8(fromUtf8(raw));
}

std::string MacText(const uint8_t* b) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return text;
}

std::string Ipv4Text(const uint8_t* b) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}

// Chassis ID and Port ID share one shape: a subtype byte, then an address or a text. They number
// their MAC and network address subtypes differently.
std::string IdText(const uint8_t* value, size_t length, uint8_t macSubtype,
                   uint8_t networkSubtype) {
    if (length < 2) return {};
    const uint8_t subtype = value[0];
    if (subtype == macSubtype) return length >= 7 ? MacText(value + 1) : std::string();
    if (subtype == networkSubtype) {
        return length >= 6 && value[1] == 1 ? Ipv4Text(value + 2) : std::string();
    }
    return Utf8Text(value + 1, length - 1);
}

// IEEE 802.1 (OUI 00-80-C2) subtype 1: the port's VLAN identifier.
uint16_t PortVlanId(const uint8_t* value, size_t length) {
    if (length < 6 || value[0] != 0x00 || value[1] != 0x80 || value[2] != 0xC2 || value[3] != 1) {
        return 0;
    }
    return static_cast<uint16_t>(value[4] << 8 | value[5]);
}

}  // namespace

std::optional<LldpNeighbor> ParseLldpFrame(const uint8_t* data, size_t size) {
    if (data == nullptr || size < kLldpMinFrameBytes) return std::nullopt;
    // A VLAN tag (0x8100) puts another EtherType here: such frames are not read.
    if ((data[12] << 8 | data[13]) != kLldpEtherType) return std::nullopt;

    LldpNeighbor neighbor;
    bool ended = false;
    size_t at = kTlvStart;
    while (size - at >= 2) {
        const unsigned type = data[at] >> 1;
        const size_t length = static_cast<size_t>(data[at] & 1) << 8 | data[at + 1];
        const size_t valueAt = at + 2;
        if (length > size - valueAt) break;  // the frame ends inside this TLV
        const uint8_t* value = data + valueAt;
        switch (type) {
            case kEnd:
                ended = true;
                break;
            case kChassisId:
                neighbor.chassisId = IdText(value, length, 4, 5);
                break;
            case kPortId:
                neighbor.portId = IdText(value, length, 3, 4);
                break;
            case kTimeToLive:
                if (length >= 2) {
                    neighbor.ttl = static_cast<uint16_t>(value[0] << 8 | value[1]);
                    neighbor.shutdown = neighbor.ttl == 0;
                }
                break;
            case kPortDescription:
                neighbor.portDescription = Utf8Text(value, length);
                break;
            case kSystemName:
                neighbor.systemName = Utf8Text(value, length);
                break;
            case kSystemDescription:
                neighbor.systemDescription = Utf8Text(value, length);
                break;
            case kManagementAddress:
                if (length >= 6 && value[0] >= 5 && value[1] == 1) {
                    neighbor.managementAddress = Ipv4Text(value + 2);
                }
                break;
            case kOrganizationSpecific:
                if (const uint16_t vlan = PortVlanId(value, length)) neighbor.portVlanId = vlan;
                break;
            default:  // capabilities and the rest are not shown
                break;
        }
        if (ended) break;
        at = valueAt + length;
    }
    if (!ended && neighbor.chassisId.empty() && neighbor.systemName.empty()) return std::nullopt;
    return neighbor;
}

}  // namespace quillon
