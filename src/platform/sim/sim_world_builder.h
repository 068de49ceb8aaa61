// WorldBuilder: writes a WorldConfig in a few lines of test code. Calls chain; hop settings apply
// to the hop added last, path settings to the path started last:
//
//   WorldConfig config = WorldBuilder().Seed(7).Home()
//       .Path(Ipv4Address(1, 1, 1, 1))
//           .Hop(kHomeGateway, 2).Named("router.home")
//           .Hop(Ipv4Address(203, 0, 113, 1), 9, 2).As(64500, "EXAMPLE-NET, ZZ").Loss(5)
//           .NoAnswerHop()
//           .Hop(Ipv4Address(1, 1, 1, 1), 14)
//       .At(30'000, HopLoss({kHomeGateway}, 20))
//       .Build();
//
// Misuse that has no sensible meaning (a hop setting before any hop) throws std::logic_error:
// the builder only serves tests. Single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim_address.h"
#include "platform/sim/sim_world_config.h"

namespace quillon::sim {

// The home network Home() adds: a WiFi adapter with one address and a gateway.
constexpr uint32_t kHomeIfIndex = 12;
constexpr Ipv4Address kHomeAddress(192, 168, 1, 23);
constexpr Ipv4Address kHomeGateway(192, 168, 1, 1);
constexpr MacAddress kHomeAdapterMac{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr MacAddress kHomeGatewayMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

// Timeline changes, to hand to WorldBuilder::At or SimWorld::Apply.
TimelineEvent HopLoss(HopRef hop, double percent);
TimelineEvent HopLatency(HopRef hop, double extraMs);
TimelineEvent HopSilent(HopRef hop);
TimelineEvent HopAnswers(HopRef hop);
TimelineEvent GatewayMac(MacAddress mac, Ipv4Address gateway = {});  // 0.0.0.0: the default route's
TimelineEvent DefaultRouteGone(uint32_t ifIndex = 0);                // 0: every adapter's
TimelineEvent DefaultRouteBack(uint32_t ifIndex = 0);
TimelineEvent AdapterDown(uint32_t ifIndex);
TimelineEvent AdapterUp(uint32_t ifIndex);
TimelineEvent HostDown(Ipv4Address address);
TimelineEvent HostRefuses(Ipv4Address address);
TimelineEvent HostUp(Ipv4Address address);
TimelineEvent HostLatency(Ipv4Address address, double extraMs);
TimelineEvent WebStatus(Ipv4Address address, int status, std::string path = "");  // "": every path
TimelineEvent PublicAddress(
    Ipv4Address address);  // what the STUN server reports (0.0.0.0: no answers)
TimelineEvent ConsoleSessionsExpire();
TimelineEvent ConsoleCertificate();  // a new certificate
TimelineEvent ConsoleGone();
TimelineEvent ConsoleBack();
// A hop named by its place on one path rather than by its address.
inline HopRef HopOnPath(Ipv4Address destination, int ttl) {
    return HopRef{Ipv4Address(), destination, ttl};
}

class WorldBuilder {
public:
    WorldBuilder& Name(std::string name);
    WorldBuilder& Seed(uint64_t seed);
    WorldBuilder& IcmpUnavailable();

    // The computer: kHomeIfIndex "Wi-Fi" (type 71, up, MTU 1500, 866.7 Mbit/s) at kHomeAddress,
    // a default route through kHomeGateway, the on-link /24 and the gateway as a neighbour in
    // the ARP table that answers resolution with kHomeGatewayMac.
    WorldBuilder& Home();
    WorldBuilder& Adapter(NetAdapter adapter);
    WorldBuilder& Route(Ipv4Address destination, int prefixLength, Ipv4Address nextHop,
                        uint32_t ifIndex, uint32_t metric = 0);
    WorldBuilder& Neighbor(NeighborConfig neighbor);

    // Starts a path; the hops that follow belong to it.
    WorldBuilder& Path(Ipv4Address destination);
    WorldBuilder& Hop(Ipv4Address address, double rttMs, double jitterMs = 0);
    WorldBuilder& NoAnswerHop();  // a hop with address 0.0.0.0
    // Copies the first count hops of an earlier path (shared routers keep the same settings).
    WorldBuilder& SameHopsAs(Ipv4Address destination, size_t count);
    // Reverse name and AS of the current path's destination when no hop carries it.
    WorldBuilder& DestinationInfo(std::string name, uint32_t asn, std::string asName);

    // Settings of the hop added last.
    WorldBuilder& Named(std::string ptrName);
    WorldBuilder& As(uint32_t asn, std::string asName, std::string prefix = "");
    WorldBuilder& Loss(double percent);
    WorldBuilder& AnswerLoss(double percent);  // the hop drops this share of its own answers
    WorldBuilder& NoTtlExpired();
    WorldBuilder& NoEcho();

    // A service host (empty name: reached by address only; rttMs < 0: the default); the
    // settings below apply to the host added last, config() reaches the rest.
    WorldBuilder& ServiceHost(std::string name, Ipv4Address address, double rttMs = -1,
                              double dnsMs = 0);
    WorldBuilder& TcpPort(uint16_t port, double connectMs = -1);
    // A web answer for a path ("": any other path).
    WorldBuilder& Web(std::string path, int status = 200, uint64_t bodyBytes = 0,
                      double firstByteMs = -1, double transferMs = 0);
    WorldBuilder& Redirect(std::string path, std::string location, int status = 302);
    WorldBuilder& Tls(std::string protocol = "TLS 1.3",
                      std::string cipher = "TLS_AES_128_GCM_SHA256");
    // Settings of the TLS certificate (after Tls()).
    WorldBuilder& CertificateDays(double notBeforeDays, double notAfterDays);
    WorldBuilder& SelfSigned();

    // The STUN server reports this public address (see StunConfig for the rest).
    WorldBuilder& Stun(Ipv4Address publicAddress, uint16_t mappedPort = 40000);

    WorldBuilder& Zones(std::string originZone, std::string asNameZone);
    WorldBuilder& Answer(std::string name, DnsType type, DnsAnswer answer);
    // A TXT answer with the given character strings (none: an empty TXT record).
    WorldBuilder& TxtAnswer(std::string name, std::vector<std::string> strings);

    WorldBuilder& At(uint64_t atMs, TimelineEvent change);

    // Anything the calls above do not reach.
    WorldConfig& config() { return config_; }
    WorldConfig Build() const { return config_; }

private:
    PathConfig& CurrentPath();
    HopConfig& CurrentHop();
    ServiceHostConfig& CurrentHost();

    WorldConfig config_;
};

}  // namespace quillon::sim
