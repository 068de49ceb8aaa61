// Ipv4Address: an IPv4 address as the program passes it around, from the ports through the core
// to the messages the page receives. It keeps the four octets in network byte order (the first
// octet in the lowest byte of NetworkOrder(), 1.2.3.4 == 0x04030201), the form the system's
// socket and ICMP calls take, so adapters convert it without arithmetic. The default value is
// 0.0.0.0, which the ports use for "no address". Pure value type; any thread.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

class Ipv4Address {
public:
    constexpr Ipv4Address() = default;
    // 192.168.1.1 written as Ipv4Address(192, 168, 1, 1).
    constexpr Ipv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
        : value_(static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) |
                 (static_cast<uint32_t>(c) << 16) | (static_cast<uint32_t>(d) << 24)) {}

    // The 32-bit value of a sockaddr_in, an ICMP header or a netlink attribute, both ways.
    static constexpr Ipv4Address FromNetworkOrder(uint32_t value) {
        Ipv4Address address;
        address.value_ = value;
        return address;
    }
    constexpr uint32_t NetworkOrder() const { return value_; }

    // Octet(0) is the first octet of the dotted quad; index 0..3.
    constexpr uint8_t Octet(int index) const {
        return static_cast<uint8_t>((value_ >> (8 * index)) & 0xFF);
    }
    constexpr bool IsZero() const { return value_ == 0; }

    // "a.b.c.d" in decimal, first octet first; at most 15 characters.
    std::string Text() const;

    // The strict dotted-quad form only: four decimal parts of one to three digits, each 0..255,
    // no leading zero except a lone "0", nothing before, between or after. Host names, short
    // forms ("1.2.3"), octal or hex forms and blanks are refused.
    static std::optional<Ipv4Address> Parse(std::string_view text);

    // The address with the bits a mask leaves out cleared: 192.0.2.77 & 255.255.255.0.
    friend constexpr Ipv4Address operator&(Ipv4Address address, Ipv4Address mask) {
        return FromNetworkOrder(address.value_ & mask.value_);
    }

    friend constexpr bool operator==(Ipv4Address, Ipv4Address) = default;
    // Dotted-quad order (10.0.0.2 before 10.0.1.1), so sorted lists read naturally.
    friend constexpr std::strong_ordering operator<=>(Ipv4Address left, Ipv4Address right) {
        return left.Numeric() <=> right.Numeric();
    }

private:
    constexpr uint32_t Numeric() const {
        return (static_cast<uint32_t>(Octet(0)) << 24) | (static_cast<uint32_t>(Octet(1)) << 16) |
               (static_cast<uint32_t>(Octet(2)) << 8) | Octet(3);
    }

    uint32_t value_ = 0;
};

}  // namespace quillon

template <>
struct std::hash<quillon::Ipv4Address> {
    size_t operator()(quillon::Ipv4Address address) const noexcept {
        return std::hash<uint32_t>{}(address.NetworkOrder());
    }
};
