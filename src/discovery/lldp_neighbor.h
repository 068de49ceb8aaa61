// LldpNeighbor: what the wired switch says about itself and the port the computer is plugged
// into, decoded from one LLDP advertisement. The LLDP listener's capture thread stores the
// latest one under its lock; the network state builder reads a copy on the UI thread for the
// wired link's switch and port. A plain value.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

struct LldpNeighbor {
    std::string chassisId;
    std::string portId;
    std::string systemName;       // shown as the switch
    std::string portDescription;  // preferred over portId for the port
    std::string systemDescription;
    std::string managementAddress;  // IPv4 dotted quad only
    uint16_t ttl = 0;               // seconds the advertisement stays valid
    // A shutdown advertisement (Time To Live TLV present and 0): the port's last word, sent when
    // the switch or its LLDP agent stops; whatever it said before is no longer true.
    bool shutdown = false;
    // The port's untagged VLAN from the IEEE 802.1 Port VLAN ID TLV; 0 when not announced.
    uint16_t portVlanId = 0;
};

}  // namespace quillon
