#include "discovery/wifi_elements.h"

#include <string_view>

#include "base/utf8.h"
#include "discovery/address_text.h"

namespace quillon {

namespace {

constexpr uint8_t kCountry = 7;
constexpr uint8_t kBssLoad = 11;
constexpr uint8_t kHtCapabilities = 45;
constexpr uint8_t kHtOperation = 61;
constexpr uint8_t kVhtCapabilities = 191;
constexpr uint8_t kVhtOperation = 192;
constexpr uint8_t kExtension = 255;
constexpr uint8_t kExtHeCapabilities = 35;
constexpr uint8_t kExtHeOperation = 36;
constexpr uint8_t kExtEhtOperation = 106;
constexpr uint8_t kExtMultiLink = 107;

// Of the eight 2-bit fields of a receive MCS map, those that are not "not supported" (3).
uint32_t StreamsInMcsMap(uint16_t map) {
    uint32_t streams = 0;
    for (int i = 0; i < 8; ++i) {
        if (((map >> (2 * i)) & 0x3) != 3) ++streams;
    }
    return streams;
}

// The country string is two letters on air; anything else is shown as '?'.
char CountryChar(uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F ? char(byte) : '?';
}

// One element: `e` points at its id byte, and offsets count from there as in the standard's
// figures; `length` is the body length, already checked to lie inside the buffer.
struct Element {
    const uint8_t* e;
    size_t length;
    uint8_t At(size_t offset) const { return e[offset]; }
    uint16_t Le16(size_t offset) const { return uint16_t(e[offset] | (e[offset + 1] << 8)); }
};

struct Streams {
    uint32_t ht = 0, vht = 0, he = 0;
};

void ReadExtension(const Element& el, BssIeSummary& out, Streams& streams) {
    if (el.length < 1) return;
    const uint8_t ext = el.At(2);
    if (ext == kExtHeCapabilities && el.length >= 20) {
        if (el.At(12) & 0x01) out.muMimo = true;
        streams.he = StreamsInMcsMap(el.Le16(20));
    } else if (ext == kExtHeOperation && el.length >= 7 && (el.At(5) & 0x02)) {
        size_t index = (el.At(4) & 0x40) ? 10 : 7;
        if (el.At(4) & 0x80) index += 1;
        if (index + 2 <= el.length) {
            switch (el.At(index + 3) & 0x03) {
                case 1:
                    out.channelWidth = 40;
                    break;
                case 2:
                    out.channelWidth = 80;
                    break;
                case 3:
                    out.channelWidth = 160;
                    break;
                default:
                    break;
            }
        }
    } else if (ext == kExtEhtOperation && el.length >= 9 && (el.At(3) & 0x01)) {
        switch (el.At(8) & 0x07) {
            case 1:
                out.channelWidth = 40;
                break;
            case 2:
                out.channelWidth = 80;
                break;
            case 3:
                out.channelWidth = 160;
                break;
            case 4:
                out.channelWidth = 320;
                break;
            default:
                break;
        }
    } else if (ext == kExtMultiLink && el.length >= 3 && (el.At(3) & 0x07) == 0) {
        out.isMlo = true;
        if (el.length >= 10) out.mldAddress = FormatMac(el.e + 6);
    }
}

}  // namespace

BssIeSummary ParseBssInformationElements(const uint8_t* data, size_t length) {
    BssIeSummary out;
    Streams streams;
    size_t at = 0;
    while (data != nullptr && length - at >= 2) {
        const Element el{data + at, data[at + 1]};
        if (el.length > length - at - 2) break;  // declared past the end: stop, keep the rest
        switch (el.At(0)) {
            case kCountry:
                if (el.length >= 2) {
                    out.countryCode = {CountryChar(el.At(2)), CountryChar(el.At(3))};
                }
                break;
            case kBssLoad:
                if (el.length >= 3) {
                    out.stationCount = el.Le16(2);
                    out.channelUtilization = el.At(4) * 100 / 255;
                }
                break;
            case kHtCapabilities:
                if (el.length >= 7) {
                    streams.ht = 0;
                    for (size_t i = 5; i <= 8; ++i) streams.ht += el.At(i) != 0 ? 1 : 0;
                }
                break;
            case kHtOperation:
                if (el.length >= 2) {
                    const uint8_t offset = el.At(3) & 0x03;
                    if (offset == 1 || offset == 3) out.channelWidth = 40;
                }
                break;
            case kVhtCapabilities:
                if (el.length >= 6) {
                    out.muMimo = (el.At(4) & 0x08) != 0;
                    streams.vht = StreamsInMcsMap(el.Le16(6));
                }
                break;
            case kVhtOperation:
                if (el.length >= 1) {
                    const uint8_t width = el.At(2);
                    if (width == 1) out.channelWidth = 80;
                    if (width == 2 || width == 3) out.channelWidth = 160;
                }
                break;
            case kExtension:
                ReadExtension(el, out, streams);
                break;
            default:
                break;
        }
        at += 2 + el.length;
    }
    out.spatialStreams = streams.he >= 1 ? streams.he : streams.vht >= 1 ? streams.vht : streams.ht;
    return out;
}

int32_t ChannelFromFrequency(uint32_t mhz) {
    if (mhz >= 2412 && mhz <= 2484) return mhz == 2484 ? 14 : int32_t(mhz - 2407) / 5;
    if (mhz >= 5170 && mhz <= 5825) return int32_t(mhz - 5000) / 5;
    if (mhz >= 5955 && mhz <= 7115) return int32_t(mhz - 5950) / 5;
    return 0;
}

std::string BandFromFrequency(uint32_t mhz) {
    if (mhz >= 2400 && mhz <= 2499) return "2.4 GHz";
    if (mhz >= 5150 && mhz <= 5899) return "5 GHz";
    if (mhz >= 5925 && mhz <= 7199) return "6 GHz";
    return "Unknown";
}

std::string PhyTypeName(uint32_t value) {
    switch (value) {
        case 1:
            return "FHSS";
        case 2:
            return "DSSS";
        case 3:
            return "IR";
        case 4:
            return "802.11a";
        case 5:
            return "802.11b";
        case 6:
            return "802.11g";
        case 7:
            return "802.11n";
        case 8:
            return "802.11ac";
        case 10:
            return "802.11ax";
        case 11:
            return "802.11be";
        default:
            return "Unknown";
    }
}

std::string AuthenticationName(uint32_t value) {
    switch (value) {
        case 1:
            return "Open";
        case 2:
            return "WEP-Shared";
        case 3:
            return "WPA-Enterprise";
        case 4:
            return "WPA-Personal";
        case 5:
            return "WPA-None";
        case 6:
            return "WPA2-Enterprise";
        case 7:
            return "WPA2-Personal";
        case 8:
            return "WPA3-Enterprise";
        case 9:
            return "WPA3-Personal";
        case 10:
            return "OWE";
        case 11:  // 802.1X with SHA-256, as the system reports WPA3 outside its 192-bit mode
            return "WPA3-Enterprise";
        default:
            return "Unknown";
    }
}

std::string CipherName(uint32_t value) {
    switch (value) {
        case 0:
            return "None";
        case 1:
            return "WEP40";
        case 2:
            return "TKIP";
        case 4:
            return "CCMP";
        case 5:
            return "WEP104";
        case 8:
            return "GCMP";
        case 9:
            return "GCMP-256";
        case 0x101:
            return "WEP";
        default:
            return "Unknown";
    }
}

int32_t SignalStrengthFromQuality(uint32_t quality) {
    // Integer tenths keep the truncation exact (77 * -0.7 is -53.9, which truncates to -53).
    return -100 - (int32_t(quality) * -7) / 10;
}

std::string SsidText(const std::vector<uint8_t>& ssid) {
    size_t n = 0;
    while (n < ssid.size() && n < 32 && ssid[n] != 0) ++n;
    const std::string_view bytes(reinterpret_cast<const char*>(ssid.data()), n);
    std::string out;
    for (size_t i = 0; i < bytes.size();) {
        const size_t len = Utf8SequenceLength(bytes, i);
        if (len == 0) {
            AppendUtf8(out, kReplacementCharacter);
            ++i;
            continue;
        }
        const auto b = static_cast<unsigned char>(bytes[i]);
        // C0 controls, DEL and the C1 controls (U+0080..U+009F, two bytes starting C2 80..9F).
        const bool control =
            (len == 1 && (b < 0x20 || b == 0x7F)) ||
            (len == 2 && b == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0);
        if (control) {
            AppendUtf8(out, kReplacementCharacter);
        } else {
            out.append(bytes.substr(i, len));
        }
        i += len;
    }
    return out;
}

}  // namespace quillon
