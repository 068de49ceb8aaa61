#include "discovery/wifi_elements.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/real_beacon.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kBssLoad = {11, 5, 0x0C, 0x01, 128, 0, 0};  // 268 stations, byte 128
const Bytes kHt2 = Cat({{45, 26, 0, 0, 0, 0xFF, 0xFF, 0, 0}, Bytes(19, 0)});
const Bytes kHtOp40 = {61, 22, 36, 0x01, 0, 0, 0, 0, 0, 0, 0, 0,
                       0,  0,  0,  0,    0, 0, 0, 0, 0, 0, 0, 0};
// VHT: MU beamformer, receive map with two streams (fields 2, 2, then 3s).
const Bytes kVht2Mu = {191, 12, 0, 0, 0x08, 0, 0xFA, 0xFF, 0, 0, 0xFA, 0xFF, 0, 0};
const Bytes kVhtOp80 = {192, 5, 1, 42, 0, 0xFC, 0xFF};
// HE: four streams in the 80 MHz map, no MU bit.
Bytes He(uint16_t map) {
    Bytes he = {255, 22, 35};
    he.resize(24, 0);
    he[20] = uint8_t(map);
    he[21] = uint8_t(map >> 8);
    return he;
}
const Bytes kEht320 = {255, 9, 106, 0x01, 0, 0, 0, 0, 0x04, 0, 0};
const Bytes kMultiLink = {255, 12, 107, 0x00, 0, 0, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0, 0};
const Bytes kVendor = {221, 7, 0x00, 0x50, 0xF2, 0x04, 0x10, 0x4A, 0x00};

TEST(WifiElements, BeaconsAndBadElementsAreReadAsFarAsTheyGo) {
    struct Case {
        const char* name;
        Bytes bytes;
        uint32_t width;
        int32_t stations, utilization;
        uint32_t streams;
        bool mu;
        std::string country;
        bool mlo;
        std::string mld;
    };
    const std::vector<Case> cases = {
        {"real beacon", test::kFreebsdBeacon, 20, -1, -1, 0, false, "US", false, ""},
        {"nothing", {}, 20, -1, -1, 0, false, "", false, ""},
        {"one stray byte", {7}, 20, -1, -1, 0, false, "", false, ""},
        {"load 128 of 255", kBssLoad, 20, 268, 50, 0, false, "", false, ""},
        {"load 255", {11, 3, 1, 0, 255}, 20, 1, 100, 0, false, "", false, ""},
        {"short load", {11, 2, 1, 0}, 20, -1, -1, 0, false, "", false, ""},
        {"HT only, FF FF 00 00", kHt2, 20, -1, -1, 2, false, "", false, ""},
        {"HT 40 then VHT 80", Cat({kHtOp40, kVhtOp80}), 80, -1, -1, 0, false, "", false, ""},
        {"VHT beats HT", Cat({kHt2, kVht2Mu}), 20, -1, -1, 2, true, "", false, ""},
        {"HE beats VHT", Cat({kVht2Mu, He(0xFFAA)}), 20, -1, -1, 4, true, "", false, ""},
        {"EHT 320", kEht320, 320, -1, -1, 0, false, "", false, ""},
        {"multi-link", kMultiLink, 20, -1, -1, 0, false, "", true, "02:AA:BB:CC:DD:EE"},
        {"vendor skipped", Cat({kVendor, kBssLoad}), 20, 268, 50, 0, false, "", false, ""},
        // The last element claims more than is left: the walk ends there, keeping the load.
        {"length past the end", Cat({kBssLoad, {7, 40, 'D', 'E'}}), 20, 268, 50, 0, false, "",
         false, ""},
        {"truncated HT after load", Cat({kBssLoad, Bytes(kHt2.begin(), kHt2.end() - 1)}), 20, 268,
         50, 0, false, "", false, ""},
        {"control bytes in country", {7, 3, 0x01, 'Z', ' '}, 20, -1, -1, 0, false, "?Z", false, ""},
        // Too short for its condition: ignored, the walk goes on.
        {"short EHT then load", Cat({{255, 3, 106, 1, 0}, kBssLoad}), 20, 268, 50, 0, false, "",
         false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BssIeSummary s = ParseBssInformationElements(c.bytes);
        EXPECT_EQ(s.channelWidth, c.width);
        EXPECT_EQ(s.stationCount, c.stations);
        EXPECT_EQ(s.channelUtilization, c.utilization);
        EXPECT_EQ(s.spatialStreams, c.streams);
        EXPECT_EQ(s.muMimo, c.mu);
        EXPECT_EQ(s.countryCode, c.country);
        EXPECT_EQ(s.isMlo, c.mlo);
        EXPECT_EQ(s.mldAddress, c.mld);
    }
}

TEST(WifiElements, SixGigahertzWidthComesFromTheHeOperation) {
    // Parameters: 6 GHz info present (bit 1 of the third octet); the info follows the basic
    // MCS set, or three octets later when VHT info is present, one more with a co-hosted BSS.
    const Bytes plain = {255, 12, 36, 0, 0, 0x02, 0, 0xFC, 0xFF, 37, 0x03, 0, 0, 0};
    EXPECT_EQ(ParseBssInformationElements(plain).channelWidth, 160u);
    const Bytes withVht = {255, 15, 36, 0, 0x40, 0x02, 0, 0xFC, 0xFF, 0, 0, 0, 37, 0x02, 0, 0, 0};
    EXPECT_EQ(ParseBssInformationElements(withVht).channelWidth, 80u);
    // The control byte would lie past the element: the width stays.
    const Bytes cut = {255, 9, 36, 0, 0xC0, 0x02, 0, 0xFC, 0xFF, 0, 0};
    EXPECT_EQ(ParseBssInformationElements(cut).channelWidth, 20u);
}

TEST(WifiElements, FrequenciesNamesAndSignal) {
    EXPECT_EQ(ChannelFromFrequency(2484), 14);
    EXPECT_EQ(ChannelFromFrequency(2467), 12);
    EXPECT_EQ(ChannelFromFrequency(5180), 36);
    EXPECT_EQ(ChannelFromFrequency(5955), 1);
    EXPECT_EQ(ChannelFromFrequency(7120), 0);
    EXPECT_EQ(BandFromFrequency(7120), "6 GHz");
    EXPECT_EQ(BandFromFrequency(2412), "2.4 GHz");
    EXPECT_EQ(BandFromFrequency(5900), "Unknown");
    EXPECT_EQ(SignalStrengthFromQuality(77), -47);
    EXPECT_EQ(SignalStrengthFromQuality(100), -30);
    EXPECT_EQ(SignalStrengthFromQuality(50), -65);
    EXPECT_EQ(SignalStrengthFromQuality(0), -100);
    EXPECT_EQ(CipherName(257), "WEP");
    EXPECT_EQ(CipherName(6), "Unknown");
    EXPECT_EQ(PhyTypeName(9), "Unknown");
    EXPECT_EQ(PhyTypeName(11), "802.11be");
    EXPECT_EQ(AuthenticationName(9), "WPA3-Personal");
    EXPECT_EQ(AuthenticationName(11), "WPA3-Enterprise");
    EXPECT_EQ(AuthenticationName(12), "Unknown");
}

TEST(WifiElements, NetworkNamesAreShownSafely) {
    const auto text = [](std::string s) { return SsidText(Bytes(s.begin(), s.end())); };
    EXPECT_EQ(text("Caf\xC3\xA9 Wi-Fi"), "Caf\xC3\xA9 Wi-Fi");
    EXPECT_EQ(text("a\x1b[31mb"), "a\xEF\xBF\xBD[31mb");      // ESC replaced
    EXPECT_EQ(text("x\xC2\x85y"), "x\xEF\xBF\xBDy");          // C1 control replaced
    EXPECT_EQ(text("\xFF\xC3"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // invalid and cut sequences
    EXPECT_EQ(text(std::string("ab\0cd", 5)), "ab");          // a zero ends the name
    EXPECT_EQ(text(std::string(40, 'n')), std::string(32, 'n'));
}

}  // namespace
}  // namespace quillon
