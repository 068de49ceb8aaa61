#include "discovery/address_text.h"

#include <cstdio>

namespace quillon {

std::string FormatMac(const uint8_t* bytes) {
    char text[18];
    std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5]);
    return text;
}

std::string FormatMac(const MacAddress& mac) {
    return FormatMac(mac.data());
}

bool IsPrivateAddress(Ipv4Address address) {
    const uint8_t a = address.Octet(0);
    const uint8_t b = address.Octet(1);
    return a == 10 || (a == 172 && (b & 0xF0) == 16) || (a == 192 && b == 168) ||
           (a == 169 && b == 254) || (a == 100 && (b & 0xC0) == 64);
}

}  // namespace quillon
