#include "discovery/stun.h"

#include <charconv>

namespace quillon {

namespace {

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t Read32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v >> 16));
    Put16(out, static_cast<uint16_t>(v));
}

void PutHeader(std::vector<uint8_t>& out, uint16_t type, uint16_t length,
               const StunTransactionId& id) {
    Put16(out, type);
    Put16(out, length);
    Put32(out, kStunMagicCookie);
    out.insert(out.end(), id.begin(), id.end());
}

// The wire's big-endian value holds the first octet highest; the cookie is XORed onto it whole.
Ipv4Address AddressOf(uint32_t bigEndianValue) {
    return Ipv4Address(
        static_cast<uint8_t>(bigEndianValue >> 24), static_cast<uint8_t>(bigEndianValue >> 16),
        static_cast<uint8_t>(bigEndianValue >> 8), static_cast<uint8_t>(bigEndianValue));
}

uint32_t BigEndianValueOf(Ipv4Address address) {
    return (uint32_t{address.Octet(0)} << 24) | (uint32_t{address.Octet(1)} << 16) |
           (uint32_t{address.Octet(2)} << 8) | address.Octet(3);
}

}  // namespace

std::vector<uint8_t> BuildBindingRequest(const StunTransactionId& id) {
    std::vector<uint8_t> out;
    out.reserve(kStunHeaderSize);
    PutHeader(out, kStunBindingRequest, 0, id);
    return out;
}

StunAnswer ParseBindingAnswer(const uint8_t* data, size_t size, const StunTransactionId& id) {
    StunAnswer answer;
    if (data == nullptr || size < kStunHeaderSize) return answer;
    auto refuse = [&answer](StunStatus status) {
        answer.status = status;
        return answer;
    };
    if (Read16(data) != kStunBindingSuccess) return refuse(StunStatus::NotSuccess);
    if (Read32(data + 4) != kStunMagicCookie) return refuse(StunStatus::BadCookie);
    for (size_t i = 0; i < id.size(); ++i) {
        if (data[8 + i] != id[i]) return refuse(StunStatus::OtherTransaction);
    }
    const size_t end = kStunHeaderSize + Read16(data + 2);
    if (end > size) return refuse(StunStatus::Truncated);

    size_t p = kStunHeaderSize;
    while (p < end) {
        if (end - p < 4) return refuse(StunStatus::Truncated);
        const uint16_t type = Read16(data + p);
        const size_t length = Read16(data + p + 2);
        if (end - p - 4 < length) return refuse(StunStatus::Truncated);
        const uint8_t* value = data + p + 4;
        if ((type == kStunXorMappedAddress || type == kStunMappedAddress) && length >= 8) {
            if (value[1] != 0x01) return refuse(StunStatus::NotIpv4);
            uint16_t port = Read16(value + 2);
            uint32_t address = Read32(value + 4);
            if (type == kStunXorMappedAddress) {
                port ^= static_cast<uint16_t>(kStunMagicCookie >> 16);
                address ^= kStunMagicCookie;
            }
            answer.status = StunStatus::Mapped;
            answer.address = AddressOf(address);
            answer.port = port;
            return answer;
        }
        p += 4 + ((length + 3) & ~size_t{3});  // values are padded to four bytes
    }
    return refuse(StunStatus::NoAddress);
}

std::vector<uint8_t> BuildBindingSuccess(const StunTransactionId& id, Ipv4Address address,
                                         uint16_t port, bool xored) {
    std::vector<uint8_t> out;
    PutHeader(out, kStunBindingSuccess, 12, id);
    Put16(out, xored ? kStunXorMappedAddress : kStunMappedAddress);
    Put16(out, 8);
    Put16(out, 0x0001);  // reserved byte, then family IPv4
    const uint32_t value = BigEndianValueOf(address);
    Put16(out, xored ? static_cast<uint16_t>(port ^ (kStunMagicCookie >> 16)) : port);
    Put32(out, xored ? value ^ kStunMagicCookie : value);
    return out;
}

std::optional<StunServer> ParseStunServer(std::string_view text) {
    StunServer server;
    const size_t colon = text.find(':');
    server.host = std::string(text.substr(0, colon));
    if (server.host.empty() || server.host.find_first_of(" \t\r\n") != std::string::npos) {
        return std::nullopt;
    }
    if (colon == std::string_view::npos) return server;
    const std::string_view port = text.substr(colon + 1);
    unsigned value = 0;
    const auto [next, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || error != std::errc() || next != port.data() + port.size() || value == 0 ||
        value > 65535) {
        return std::nullopt;
    }
    server.port = static_cast<uint16_t>(value);
    return server;
}

}  // namespace quillon
