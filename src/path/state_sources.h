// The narrow views through which the network state builder reads facts that other services
// own: the WiFi link, the public address, vendor names, geolocation, the wired switch (LLDP)
// and UniFi gateway recognition. Each base class knows nothing: its answers are the empty ones
// ("no WiFi", "no address yet", "vendor unknown", ...), so that a service that is not there
// simply leaves its members out of the message. The real services derive from these.
//
// Every call is made by the builder on the UI thread, once or a few times per build. A call
// may block (the WiFi query); implementations keep their own locks where other threads write
// what they return.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "discovery/geo_location.h"
#include "discovery/lldp_neighbor.h"
#include "discovery/public_ip.h"
#include "discovery/wifi_details.h"

namespace quillon {

// What a UniFi gateway says about itself when asked, unauthenticated, for its system
// description. The gateway client fills one when it recognises the home gateway; the builder
// keeps it until the gateway's hardware address changes and shows its model (or name) as the
// gateway's name. Declared here, where it is consumed, so that the path layer needs nothing
// from the gateway layer above it.
struct UnifiSystemInfo {
    std::string name;   // the console's own name
    std::string model;  // its short model name
    std::string mac;
    bool cloudConnected = false;
    bool hasInternet = false;
};

class WifiSource {
public:
    virtual ~WifiSource() = default;
    // The wireless link as it is now; connected false when there is none.
    virtual WifiDetails QueryWifiDetails() { return {}; }
};

class PublicIpSource {
public:
    virtual ~PublicIpSource() = default;
    // The public address record; may block while the address is being learned. valid false
    // until it is known.
    virtual PublicIpInfo GetPublicIpInfo() { return {}; }
};

class VendorSource {
public:
    virtual ~VendorSource() = default;
    // Maker of the device with this hardware address ("AA:BB:CC:DD:EE:FF"); empty if unknown.
    virtual std::string GetVendor(const std::string& /*mac*/) { return {}; }
};

class GeoSource {
public:
    virtual ~GeoSource() = default;
    // Where a public address (dotted quad) is; valid false when it is not known (yet). Never
    // waits for the network: an address not known is looked up meanwhile.
    virtual GeoLocation Lookup(const std::string& /*ipText*/) { return {}; }
    // Moves when a lookup's answer arrives, so that the state is built again to show it.
    virtual uint64_t Changes() { return 0; }
};

class LldpSource {
public:
    virtual ~LldpSource() = default;
    // The switch's latest advertisement while the listener runs and the advertisement has not
    // outlived its time-to-live; nothing otherwise (an expired one is dropped by the call).
    virtual std::optional<LldpNeighbor> CurrentNeighbor() { return std::nullopt; }
};

class UnifiSource {
public:
    virtual ~UnifiSource() = default;
    // The home gateway's own description when it has been recognised as a UniFi console;
    // nothing while it is not, or not yet: a gateway whose hardware address carries one of the
    // maker's prefixes is asked meanwhile, off the caller's thread, once per hardware address.
    // Never waits.
    virtual std::optional<UnifiSystemInfo> Recognised(const std::string& /*gatewayIp*/,
                                                      const std::string& /*gatewayMac*/) {
        return std::nullopt;
    }
    // Moves when an answer lands, so that the state is built again to show it.
    virtual uint64_t Changes() { return 0; }
};

}  // namespace quillon
