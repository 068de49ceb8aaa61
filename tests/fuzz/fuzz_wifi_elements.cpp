// Fuzzes the reading of an access point's beacon elements and the display of network names.
// Beyond not crashing or reading past the bytes (each input is copied to a buffer of exactly its
// size): every figure stays within what it can mean; a vendor element appended after the last
// element changes nothing, however the walk ended; and a network name becomes valid UTF-8 with
// no control characters.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "discovery/wifi_elements.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    const quillon::BssIeSummary s = quillon::ParseBssInformationElements(bytes);
    const uint32_t w = s.channelWidth;
    Check(w == 20 || w == 40 || w == 80 || w == 160 || w == 320);
    Check(s.channelUtilization >= -1 && s.channelUtilization <= 100);
    Check(s.stationCount >= -1 && s.stationCount <= 65535);
    Check(s.spatialStreams <= 8);
    Check(s.countryCode.empty() || s.countryCode.size() == 2);
    for (char c : s.countryCode) Check(c >= 0x20 && c < 0x7F);
    Check(s.mldAddress.empty() || (s.isMlo && s.mldAddress.size() == 17));

    // Only when the walk would reach it: an input whose elements tile it exactly.
    size_t at = 0;
    while (size - at >= 2 && data[at + 1] <= size - at - 2) at += 2 + data[at + 1];
    if (at == size) {
        std::vector<uint8_t> longer = bytes;
        longer.insert(longer.end(), {221, 4, 0x00, 0x50, 0xF2, 0x02});
        const quillon::BssIeSummary t = quillon::ParseBssInformationElements(longer);
        Check(t.channelWidth == s.channelWidth && t.stationCount == s.stationCount &&
              t.channelUtilization == s.channelUtilization &&
              t.spatialStreams == s.spatialStreams && t.muMimo == s.muMimo &&
              t.countryCode == s.countryCode && t.isMlo == s.isMlo && t.mldAddress == s.mldAddress);
    }

    const std::string name = quillon::SsidText(bytes);
    Check(quillon::IsValidUtf8(name));
    Check(name.size() <= 32 * 3);
    for (unsigned char c : name) Check(c >= 0x20 && c != 0x7F);
    return 0;
}
